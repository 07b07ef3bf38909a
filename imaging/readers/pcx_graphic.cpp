#include "imaging/readers/pcx_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/compression/run_length_decoders.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>

PW_DEFINE_GRAPHIC_CLASS(TPCXGraphic, TRasterGraphic)

namespace {

constexpr const char* Name = "PCX";
constexpr int HeaderSize = 128;
// The 256-colour block at the end of an 8-bit image: a marker byte, then 256
// red-green-blue triples.
constexpr int PaletteBlockSize = 769;
constexpr uint8_t PaletteMarker = 12;

bool IsManufacturer(uint8_t value)
{
    return value == 10 || value == 205;
}

// The plane and bit layouts this reader decodes: one indexed plane, four
// 1-bit planes of 16 colours, three 8-bit planes of true colour.
bool IsKnownLayout(uint8_t planes, uint8_t bits)
{
    return (planes == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8)) || (planes == 4 && bits == 1) ||
           (planes == 3 && bits == 8);
}

int32_t Extent(uint16_t min, uint16_t max)
{
    return int32_t(max) - int32_t(min) + 1;
}

} // namespace

TPCXGraphic::THeader TPCXGraphic::ReadHeader(TStream& stream)
{
    TByteReader in(stream);
    THeader h;
    h.Manufacturer = in.U8();
    h.Version = in.U8();
    h.Encoding = in.U8();
    h.BitsPerPixel = in.U8();
    h.XMin = in.U16LE();
    h.YMin = in.U16LE();
    h.XMax = in.U16LE();
    h.YMax = in.U16LE();
    h.HRes = in.U16LE();
    h.VRes = in.U16LE();
    in.Bytes(h.ColorMap, sizeof h.ColorMap);
    h.Reserved = in.U8();
    h.Planes = in.U8();
    h.BytesPerLine = in.U16LE();
    h.PaletteInfo = in.U16LE();
    in.Skip(58);
    return h;
}

bool TPCXGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    bool result = false;
    if (stream.Remaining() > HeaderSize) {
        const THeader h = ReadHeader(stream);
        result = IsManufacturer(h.Manufacturer) &&
                 (h.Version == 0 || h.Version == 2 || h.Version == 3 || h.Version == 5) && h.Encoding <= 1;
    }
    stream.SetPosition(position);
    return result;
}

bool TPCXGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    const THeader h = ReadHeader(stream);
    if (!IsManufacturer(h.Manufacturer))
        return false;
    TImageProperties& p = ImageProperties;
    // Reversed extents leave a side of 0, which the loader refuses.
    p.Width = static_cast<uint32_t>(std::max(Extent(h.XMin, h.XMax), 0));
    p.Height = static_cast<uint32_t>(std::max(Extent(h.YMin, h.YMax), 0));
    p.SamplesPerPixel = h.Planes;
    p.BitsPerSample = h.BitsPerPixel;
    p.BitsPerPixel = static_cast<uint8_t>(h.Planes * h.BitsPerPixel);
    p.PixelScheme = p.BitsPerPixel > 8 ? psRGB : psIndexed;
    p.CompressionKind = h.Encoding == 1 ? ckRunLength : ckNone;
    p.XResolution = h.HRes;
    p.YResolution = h.VRes;
    return true;
}

void TPCXGraphic::LoadFromStream(TStream& stream)
{
    FreeImage();
    BasePosition = static_cast<int32_t>(stream.Position());
    if (!LoadProperties(stream, 0))
        return;

    stream.SetPosition(BasePosition);
    StartProgress(msg::Preparing);
    const THeader h = ReadHeader(stream);
    int64_t available = stream.Remaining();
    if (!IsManufacturer(h.Manufacturer))
        RaiseInvalidFormat();
    const TImageProperties& p = ImageProperties;
    if (!IsKnownLayout(h.Planes, h.BitsPerPixel))
        RaiseImageErrorFmt(msg::InvalidColorFormat, Name);
    // A plane row must hold the pixels of a row; a shorter one would make
    // the rows overlap.
    if (p.Width == 0 || p.Height == 0 || h.BytesPerLine < (uint64_t(p.Width) * h.BitsPerPixel + 7) / 8)
        RaiseInvalidFormat();

    TColorManager& cm = ColorManager();
    cm.SetSourceScheme(p.PixelScheme);
    cm.SetSourceBits(p.BitsPerSample);
    cm.SetSourceSamples(p.SamplesPerPixel);
    cm.SetTargetScheme(p.PixelScheme == psIndexed ? psIndexed : psBGR);
    cm.SetTargetBits(p.BitsPerPixel == 2 ? 4 : p.BitsPerSample);
    cm.SetTargetSamples(p.SamplesPerPixel);
    TBitmapFormat format = cm.BitmapFormatOf(1);
    if (format == bfCustom)
        format = bf4Bit; // four 1-bit planes, merged below
    CheckImageSize(Name, p.Width, p.Height, static_cast<uint32_t>(BitsPerPixelOf(format)));
    SetPixelFormat(format);

    if (SetupPalette(stream, h, format))
        available -= PaletteBlockSize;

    SetSize(static_cast<int>(p.Width), static_cast<int>(p.Height));
    const uint32_t rowBytes = uint32_t(h.Planes) * h.BytesPerLine;
    std::vector<uint8_t> data;
    const uint64_t rowsHeld = ReadPixelData(stream, available, rowBytes, data);

    EndProgress();
    StartProgress(msg::Transfering);
    for (uint32_t y = 0; y < rowsHeld; ++y) {
        const uint8_t* row = data.data() + size_t(y) * rowBytes;
        uint8_t* target = ScanLine(static_cast<int>(y));
        if (h.Planes == 4)
            MergePlanes(row, h.BytesPerLine, target);
        else if (h.Planes == 3)
            cm.ConvertLine({row, row + h.BytesPerLine, row + 2 * h.BytesPerLine}, target, p.Width, 0xFF);
        else
            cm.ConvertLine({row}, target, p.Width, 0xFF);
        RowDone(y, p.Height);
    }
    EndProgress();
}

bool TPCXGraphic::SetupPalette(TStream& stream, const THeader& h, TBitmapFormat format)
{
    TColorManager& cm = ColorManager();
    // The block at the end counts as a palette only when it starts with its
    // marker: an 8-bit image without one keeps all of its data.
    bool block = false;
    uint8_t colors[PaletteBlockSize - 1];
    if (format == bf8Bit && stream.Remaining() >= PaletteBlockSize) {
        const int64_t position = stream.Position();
        stream.SetPosition(stream.Size() - PaletteBlockSize);
        TByteReader in(stream);
        if (in.U8() == PaletteMarker) {
            in.Bytes(colors, sizeof colors);
            block = true;
        }
        stream.SetPosition(position);
    }

    if (format == bf24Bit)
        return block;
    if (h.Version == 3 && format != bf1Bit)
        SetPalette(CreatePalette(DefaultPalette16().Entries()));
    else if (format == bf1Bit)
        SetPalette(cm.MakeGrayPalette(false));
    else if (format == bf4Bit)
        SetPalette(h.PaletteInfo == 2 ? cm.MakeGrayPalette(false)
                                      : cm.MakeColorPalette({h.ColorMap}, plInterleaved8x3, 16, false));
    else if (block)
        SetPalette(cm.MakeColorPalette({colors}, plInterleaved8x3, 256, false));
    else if (h.PaletteInfo == 2)
        SetPalette(cm.MakeGrayPalette(false));
    return block;
}

uint64_t TPCXGraphic::ReadPixelData(TStream& stream, int64_t available, uint32_t rowBytes,
                                    std::vector<uint8_t>& data)
{
    // Room for the rows the data can fill, not for the rows the header
    // declares: a two-byte run gives at most 63 bytes, so a short file that
    // declares a huge image takes no more memory than its data can expand to.
    const uint64_t held = static_cast<uint64_t>(std::max<int64_t>(available, 0));
    const uint64_t reach = ImageProperties.CompressionKind == ckRunLength ? held * 32 : held;
    const uint64_t rows = std::min<uint64_t>(ImageProperties.Height, reach / rowBytes + 1);
    const uint64_t size = CheckBufferSize(Name, rows, rowBytes);
    data.assign(size, 0);
    uint64_t produced;
    if (ImageProperties.CompressionKind == ckRunLength) {
        std::vector<uint8_t> packed(CheckBufferSize(Name, held, 1));
        stream.ReadBuffer(packed.data(), static_cast<int64_t>(packed.size()));
        const uint8_t* source = packed.data();
        uint8_t* target = data.data();
        TPCXRLEDecoder decoder;
        decoder.ExpandStart();
        produced = decoder.Expand(source, packed.size(), target, data.size(), packed.size(), data.size()).Produced;
        decoder.ExpandFinish();
    } else {
        produced = std::min<uint64_t>(size, held);
        stream.ReadBuffer(data.data(), static_cast<int64_t>(produced));
    }
    if (produced < uint64_t(ImageProperties.Height) * rowBytes)
        NoteEarlyEnd(produced / rowBytes);
    // A row begun counts as held; its missing end stays 0 like a fresh bitmap.
    return (produced + rowBytes - 1) / rowBytes;
}

void TPCXGraphic::MergePlanes(const uint8_t* row, uint32_t planeBytes, uint8_t* target) const
{
    // Bit 7 - (x mod 8) of byte x div 8 of plane k is bit k of pixel x; two
    // pixels per target byte, the first in the high nibble.
    const uint8_t* planes[4] = {row, row + planeBytes, row + 2 * size_t(planeBytes), row + 3 * size_t(planeBytes)};
    const uint32_t width = ImageProperties.Width;
    for (uint32_t x = 0; x < width; ++x) {
        const uint32_t byte = x >> 3;
        const unsigned shift = 7 - (x & 7);
        const unsigned value = ((planes[0][byte] >> shift) & 1) | (((planes[1][byte] >> shift) & 1) << 1) |
                               (((planes[2][byte] >> shift) & 1) << 2) | (((planes[3][byte] >> shift) & 1) << 3);
        uint8_t& out = target[x >> 1];
        out = (x & 1) ? static_cast<uint8_t>((out & 0xF0) | value) : static_cast<uint8_t>(value << 4);
    }
}
