#include "imaging/readers/targa_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/compression/run_length_decoders.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstring>
#include <vector>

PW_DEFINE_GRAPHIC_CLASS(TTargaGraphic, TRasterGraphic)

namespace {

constexpr const char* Name = "TGA";
constexpr int HeaderSize = 18;

// 15-bit pixels and map entries take two bytes like 16-bit ones.
uint32_t BytesOf(uint32_t bits)
{
    return (bits + 7) / 8;
}

} // namespace

TTargaGraphic::THeader TTargaGraphic::ReadHeader(TStream& stream)
{
    TByteReader in(stream);
    THeader h;
    h.IDLength = in.U8();
    h.ColorMapType = in.U8();
    h.ImageType = in.U8();
    h.ColorMapStart = in.U16LE();
    h.ColorMapLength = in.U16LE();
    h.ColorMapEntrySize = in.U8();
    h.XOrigin = in.U16LE();
    h.YOrigin = in.U16LE();
    h.Width = in.U16LE();
    h.Height = in.U16LE();
    h.PixelDepth = in.U8();
    h.Descriptor = in.U8();
    return h;
}

unsigned TTargaGraphic::HeaderFaults(const THeader& h)
{
    unsigned faults = 0;
    switch (h.ImageType) {
    case itNoImage:
    case itColorMapped:
    case itTrueColor:
    case itGray:
    case itColorMappedRLE:
    case itTrueColorRLE:
    case itGrayRLE:
        break;
    default:
        faults |= hfImageType;
    }
    if (h.ColorMapType != mtNone && h.ColorMapType != mtPresent)
        faults |= hfColorMapType;
    // The entry size means something only when a map is present: writers
    // leave it 0 in true-colour and grey files.
    const uint8_t entry = h.ColorMapEntrySize;
    if (h.ColorMapType != mtNone && entry != 15 && entry != 16 && entry != 24 && entry != 32)
        faults |= hfColorMapEntrySize;
    const uint8_t depth = h.PixelDepth;
    if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        faults |= hfPixelDepth;
    return faults;
}

bool TTargaGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    const bool result = stream.Remaining() > HeaderSize && HeaderFaults(ReadHeader(stream)) == 0;
    stream.SetPosition(position);
    return result;
}

bool TTargaGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    const THeader h = ReadHeader(stream);
    TImageProperties& p = ImageProperties;
    p.Width = h.Width;
    p.Height = h.Height;
    p.BitsPerSample = 8;
    switch (h.PixelDepth) {
    case 8:
        p.PixelScheme = h.IsGray() ? psGray : psIndexed;
        p.SamplesPerPixel = 1;
        break;
    case 16:
        if (h.IsGray()) {
            // Grey plus alpha; the alpha is not shown.
            p.PixelScheme = psGrayAlpha;
            p.SamplesPerPixel = 2;
            break;
        }
        [[fallthrough]];
    case 15:
        p.PixelScheme = psRGB;
        p.BitsPerSample = 5;
        p.SamplesPerPixel = 3;
        break;
    case 24:
        p.PixelScheme = psRGB;
        p.SamplesPerPixel = 3;
        break;
    case 32:
        p.PixelScheme = psRGBA;
        p.SamplesPerPixel = 4;
        break;
    default:
        break;
    }
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    p.CompressionKind = h.IsRunLength() ? ckRunLength : ckNone;
    return true;
}

void TTargaGraphic::LoadFromStream(TStream& stream)
{
    FreeImage();
    BasePosition = static_cast<int32_t>(stream.Position());
    LoadProperties(stream, 0);

    stream.SetPosition(BasePosition);
    ProgressRect = TRect{0, 0, static_cast<int32_t>(ImageProperties.Width), 1};
    Progress(this, psStarting, 0, false, ProgressRect, msg::Preparing);

    const THeader h = ReadHeader(stream);
    // Type 0 says the file holds no pixels, and an unknown type gives none we
    // could read: the picture stays empty, whatever size the header declares,
    // and the callers that need pixels say so.
    if (!h.HasPixelData()) {
        EndProgress();
        return;
    }
    // The loader takes what it can of the other faults: an unknown map type
    // or entry size as no palette.
    if (HeaderFaults(h) & hfPixelDepth)
        throw EColorConversionError(msg::InvalidPixelScheme);
    // An identification field cut short leaves nothing to read after it.
    stream.Seek(std::min<int64_t>(h.IDLength, stream.Remaining()), soCurrent);

    TColorManager& cm = ColorManager();
    const bool greyAlpha = h.IsGrayAlpha();
    cm.SetSourceSamples(greyAlpha ? 1 : ImageProperties.SamplesPerPixel);
    cm.SetTargetSamples(greyAlpha ? 1 : ImageProperties.SamplesPerPixel);
    cm.SetSourceScheme(greyAlpha ? psGray : ImageProperties.PixelScheme);
    cm.SetSourceFlags(0);
    cm.SetTargetScheme(psBGR);
    cm.SetSourceBits(ImageProperties.BitsPerSample);
    cm.SetTargetBits(ImageProperties.BitsPerSample);
    const TBitmapFormat format = cm.BitmapFormatOf(1);
    CheckImageSize(Name, h.Width, h.Height, static_cast<uint32_t>(BitsPerPixelOf(format)));
    SetPixelFormat(format);

    if (h.ColorMapType == mtPresent || h.IsGray())
        ReadColorMap(stream, h);

    SetSize(h.Width, h.Height);
    const uint32_t rowBytes = uint32_t(h.Width) * BytesOf(h.PixelDepth);

    EndProgress();
    StartProgress(msg::Transfering);
    if (!Empty()) {
        if (h.IsRunLength())
            ReadRunLengthRows(stream, h, rowBytes);
        else
            ReadPlainRows(stream, h, rowBytes);
    }
    EndProgress();
}

void TTargaGraphic::ReadColorMap(TStream& stream, const THeader& h)
{
    TByteReader in(stream);
    const uint32_t entryBytes = BytesOf(h.ColorMapEntrySize);
    const uint32_t mapBytes = uint32_t(h.ColorMapLength) * entryBytes;
    if (h.IsGray()) {
        // A grey image shows its samples through a ramp; a map it declares
        // anyway is passed over so that it is not taken for pixels.
        if (h.ColorMapType == mtPresent)
            in.Skip(mapBytes);
        SetPalette(ColorManager().MakeGrayPalette(false));
        return;
    }
    std::vector<uint8_t> map(mapBytes);
    in.Bytes(map.data(), mapBytes);

    // Pixel value ColorMapStart + j shows map entry j; values below the
    // start stay black and values past 255 cannot occur in 8-bit pixels.
    const uint32_t start = std::min<uint32_t>(h.ColorMapStart, 256);
    const uint32_t count = std::min<uint32_t>(h.ColorMapLength, 256 - start);
    switch (h.ColorMapEntrySize) {
    case 24:
    case 32: {
        std::vector<uint8_t> entries(size_t(256) * entryBytes);
        if (count > 0) // an empty map has no data to copy from
            std::memcpy(entries.data() + size_t(start) * entryBytes, map.data(), size_t(count) * entryBytes);
        SetPalette(ColorManager().MakeColorPalette({entries.data()},
                                                   entryBytes == 3 ? plInterleaved8x3 : plInterleaved8x4,
                                                   start + count, true));
        break;
    }
    case 15:
    case 16: {
        std::vector<TPaletteEntry> entries(start + count);
        for (uint32_t j = 0; j < count; ++j) {
            const uint16_t w = LoadU16LE(map.data() + 2 * j);
            TPaletteEntry& e = entries[start + j];
            e.peBlue = static_cast<uint8_t>((w & 0x1F) << 3);
            e.peGreen = static_cast<uint8_t>((w & 0x3E0) >> 2);
            e.peRed = static_cast<uint8_t>((w & 0x7C00) >> 7);
        }
        SetPalette(CreatePalette(entries));
        break;
    }
    default: // an entry size no writer uses: the map is passed over
        break;
    }
}

void TTargaGraphic::ReadPlainRows(TStream& stream, const THeader& h, uint32_t rowBytes)
{
    const uint32_t height = static_cast<uint32_t>(Height());
    const bool direct = !h.IsGrayAlpha();
    std::vector<uint8_t> buffer(direct ? 0 : rowBytes);
    for (uint32_t i = 0; i < height; ++i) {
        const int row = static_cast<int>(h.TopDown() ? i : height - 1 - i);
        uint8_t* target = direct ? ScanLine(row) : buffer.data();
        // A short stream raises here; the rows read so far stay in the bitmap.
        stream.ReadBuffer(target, rowBytes);
        StoreRow(h, i, target);
        RowDone(i, height);
    }
}

void TTargaGraphic::ReadRunLengthRows(TStream& stream, const THeader& h, uint32_t rowBytes)
{
    const uint32_t height = static_cast<uint32_t>(Height());
    const uint32_t width = static_cast<uint32_t>(Width());
    const bool direct = !h.IsGrayAlpha();
    // A row never takes more than twice its size coded: one control byte per
    // pixel at worst, and a packet crossing the row end is only read up to it.
    std::vector<uint8_t> packed(CheckBufferSize(Name, rowBytes, 2));
    std::vector<uint8_t> buffer(direct ? 0 : rowBytes);
    TTargaRLEDecoder decoder(h.PixelDepth);
    decoder.ExpandStart();
    for (uint32_t i = 0; i < height; ++i) {
        const int row = static_cast<int>(h.TopDown() ? i : height - 1 - i);
        const int64_t read = stream.Read(packed.data(), static_cast<int64_t>(packed.size()));
        const uint8_t* source = packed.data();
        uint8_t* target = direct ? ScanLine(row) : buffer.data();
        // Only the bytes really read are decoded. A packet that reaches past
        // the row end carries over into the next row.
        const TExpandResult done = decoder.Expand(source, static_cast<size_t>(std::max<int64_t>(read, 0)), target,
                                                  rowBytes, static_cast<size_t>(std::max<int64_t>(read, 0)), width);
        stream.Seek(static_cast<int64_t>(done.Consumed) - read, soCurrent);
        if (done.Produced > 0)
            StoreRow(h, i, target);
        // Data cut short end the image in this row; the rows after it stay
        // as the bitmap starts and cost nothing.
        if (done.Produced < rowBytes) {
            NoteEarlyEnd(i);
            break;
        }
        RowDone(i, height);
    }
    decoder.ExpandFinish();
}

void TTargaGraphic::StoreRow(const THeader& h, uint32_t i, uint8_t* row)
{
    const uint32_t width = static_cast<uint32_t>(Width());
    const uint32_t height = static_cast<uint32_t>(Height());
    uint8_t* line = ScanLine(static_cast<int>(h.TopDown() ? i : height - 1 - i));
    uint32_t pixelBytes = BytesOf(h.PixelDepth);
    if (h.IsGrayAlpha()) {
        for (uint32_t x = 0; x < width; ++x)
            line[x] = row[2 * size_t(x)];
        pixelBytes = 1;
    }
    if (!h.RightToLeft())
        return;
    for (uint32_t left = 0, right = width - 1; left < right; ++left, --right)
        std::swap_ranges(line + size_t(left) * pixelBytes, line + size_t(left + 1) * pixelBytes,
                         line + size_t(right) * pixelBytes);
}
