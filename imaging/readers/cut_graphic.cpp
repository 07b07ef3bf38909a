#include "imaging/readers/cut_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/compression/run_length_decoders.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

PW_DEFINE_GRAPHIC_CLASS(TCUTGraphic, TRasterGraphic)

namespace {

constexpr const char* Name = "CUT";
// Width, height and a reserved word.
constexpr int64_t HeaderSize = 6;
// Each stored row starts with its 2-byte byte count.
constexpr uint64_t RowCountSize = 2;

// The palette file is read in blocks of 512 bytes. The first holds the
// highest palette index at offset 12 and the first entries from offset 40;
// an entry of three 16-bit words never straddles two blocks.
constexpr size_t PaletteBlock = 512;
constexpr size_t PaletteCountOffset = 12;
constexpr size_t PaletteFirstEntry = 40;
constexpr size_t PaletteEntrySize = 6;
constexpr size_t PaletteLastEntryStart = PaletteBlock - PaletteEntrySize;
// 256 entries never need more than four blocks.
constexpr size_t PaletteMaxBytes = 4 * PaletteBlock;

[[noreturn]] void RaiseReadError()
{
    throw EReadError(msg::StreamReadError);
}

bool IsFile(const std::string& fileName)
{
    std::error_code error;
    return !fileName.empty() && std::filesystem::is_regular_file(fileName, error);
}

std::string WithExtension(const std::string& fileName, const std::string& extension)
{
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? fileName.substr(0, dot) : fileName) + extension;
}

} // namespace

void TCUTGraphic::LoadImageFile(const std::string& fileName)
{
    PaletteFileName = WithExtension(fileName, ".pal");
    // Names from DOS disks are often upper case throughout.
    if (!IsFile(PaletteFileName) && IsFile(WithExtension(fileName, ".PAL")))
        PaletteFileName = WithExtension(fileName, ".PAL");
    TRasterGraphic::LoadFromFile(fileName);
}

bool TCUTGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    SetPixelFormat(bf8Bit);
    TByteReader in(stream);
    TImageProperties& p = ImageProperties;
    p.Width = in.U16LE();
    p.Height = in.U16LE();
    p.PixelScheme = psIndexed;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.BitsPerPixel = 8;
    p.CompressionKind = ckRunLength;
    return true;
}

void TCUTGraphic::LoadFromStream(TStream& stream)
{
    FreeImage();
    BasePosition = static_cast<int32_t>(stream.Position());
    LoadProperties(stream, 0);
    TByteReader in(stream);
    in.Seek(BasePosition + HeaderSize);
    const uint32_t width = ImageProperties.Width;
    const uint32_t height = ImageProperties.Height;

    ProgressRect = TRect{0, 0, static_cast<int32_t>(width), 0};
    Progress(this, psStarting, 0, false, ProgressRect, msg::Transfering);

    // Every row needs at least its byte count: a file that cannot hold its
    // rows is short, and is refused before the bitmap is made.
    const uint64_t available = static_cast<uint64_t>(in.Remaining());
    if (available < uint64_t(height) * RowCountSize)
        RaiseReadError();
    CheckImageSize(Name, width, height, 8);
    SetPixelFormat(bf8Bit);
    SetSize(static_cast<int>(width), static_cast<int>(height));
    LoadCUTPalette();

    std::vector<uint8_t> data(CheckBufferSize(Name, available, 1));
    stream.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    const uint8_t* cursor = data.data();
    const uint8_t* const end = data.data() + data.size();

    TCUTRLEDecoder decoder;
    decoder.ExpandStart();
    for (uint32_t y = 0; y < height && width > 0; ++y) {
        if (uint64_t(end - cursor) < RowCountSize)
            RaiseReadError();
        uint8_t* target = ScanLine(static_cast<int>(y));
        // The target size cuts a row that codes more than width pixels at the
        // row's end; the cursor still moves past the whole row. A row that
        // codes fewer leaves the rest of the scan line 0.
        decoder.Expand(cursor, static_cast<size_t>(end - cursor), target, width, 0, width);
        RowDone(y, height);
    }
    decoder.ExpandFinish();
    EndProgress();
}

void TCUTGraphic::LoadCUTPalette()
{
    std::vector<TPaletteEntry> entries;
    if (IsFile(PaletteFileName)) {
        TFileStream file(PaletteFileName, fmOpenRead);
        std::vector<uint8_t> bytes(static_cast<size_t>(std::min<int64_t>(file.Size(), PaletteMaxBytes)));
        file.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        if (bytes.size() < PaletteCountOffset + 2)
            RaiseReadError();
        const size_t count = std::min<size_t>(size_t(LoadU16LE(bytes.data() + PaletteCountOffset)) + 1,
                                              TPalette::MaxEntries);
        entries.resize(count);
        size_t offset = PaletteFirstEntry;
        for (TPaletteEntry& entry : entries) {
            if (offset % PaletteBlock > PaletteLastEntryStart)
                offset += PaletteBlock - offset % PaletteBlock;
            if (offset + PaletteEntrySize > bytes.size())
                RaiseReadError();
            // Words of which only the low byte counts; 0..63 values are not scaled.
            entry.peRed = bytes[offset];
            entry.peGreen = bytes[offset + 2];
            entry.peBlue = bytes[offset + 4];
            offset += PaletteEntrySize;
        }
    } else {
        entries.resize(TPalette::MaxEntries);
        for (size_t i = 0; i < entries.size(); ++i) {
            const auto v = static_cast<uint8_t>(i);
            entries[i] = TPaletteEntry{v, v, v, 0};
        }
    }
    SetPalette(CreatePalette(entries));
}
