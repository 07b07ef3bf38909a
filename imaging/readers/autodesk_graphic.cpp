#include "imaging/readers/autodesk_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/streams.h"

#include <vector>

PW_DEFINE_GRAPHIC_CLASS(TAutodeskGraphic, TRasterGraphic)

namespace {

constexpr const char* Name = "Autodesk";
constexpr uint16_t Magic = 0x9119;
constexpr int64_t HeaderSize = 32;
constexpr int PaletteEntries = 256;

// The header fields this reader uses; x and y position and the last 20
// bytes mean nothing here.
struct THeader {
    uint16_t Magic = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint8_t BitsPerPixel = 0;
    uint8_t Compression = 0;
};

// Reads the magic and, when it matches, the rest of the 32-byte header.
THeader ReadHeader(TStream& stream)
{
    TByteReader in(stream);
    THeader h;
    h.Magic = in.U16LE();
    if (h.Magic != Magic)
        return h;
    h.Width = in.U16LE();
    h.Height = in.U16LE();
    in.Skip(4);
    h.BitsPerPixel = in.U8();
    h.Compression = in.U8();
    in.Skip(20);
    return h;
}

} // namespace

bool TAutodeskGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    bool result = false;
    if (stream.Remaining() > HeaderSize) {
        const THeader h = ReadHeader(stream);
        result = h.Magic == Magic && h.BitsPerPixel == 8 && h.Compression == 0;
    }
    stream.SetPosition(position);
    return result;
}

bool TAutodeskGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    const THeader h = ReadHeader(stream);
    if (h.Magic != Magic)
        return false;
    TImageProperties& p = ImageProperties;
    p.PixelScheme = psIndexed;
    p.Width = h.Width;
    p.Height = h.Height;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.BitsPerPixel = 8;
    p.CompressionKind = ckNone;
    return true;
}

void TAutodeskGraphic::LoadFromStream(TStream& stream)
{
    FreeImage();
    BasePosition = static_cast<int32_t>(stream.Position());
    if (!LoadProperties(stream, 0))
        RaiseInvalidFormat();
    stream.SetPosition(BasePosition);
    StartProgress(msg::Transfering);

    TByteReader in(stream);
    in.Skip(HeaderSize);
    uint8_t colors[PaletteEntries * 3];
    in.Bytes(colors, sizeof colors);
    std::vector<TPaletteEntry> entries(PaletteEntries);
    for (int i = 0; i < PaletteEntries; ++i)
        // 6-bit components: 63 becomes 252.
        entries[size_t(i)] = TPaletteEntry{static_cast<uint8_t>(colors[3 * i] << 2),
                                           static_cast<uint8_t>(colors[3 * i + 1] << 2),
                                           static_cast<uint8_t>(colors[3 * i + 2] << 2), 0};

    const uint32_t width = ImageProperties.Width;
    const uint32_t height = ImageProperties.Height;
    CheckImageSize(Name, width, height, 8);
    SetPixelFormat(bf8Bit);
    SetPalette(CreatePalette(entries));
    SetSize(static_cast<int>(width), static_cast<int>(height));
    for (uint32_t y = 0; y < height && width > 0; ++y) {
        // A short file ends the image in that row; the rows below stay 0.
        if (stream.Read(ScanLine(static_cast<int>(y)), width) < int64_t(width)) {
            NoteEarlyEnd(y);
            break;
        }
        RowDone(y, height);
    }
    EndProgress();
}
