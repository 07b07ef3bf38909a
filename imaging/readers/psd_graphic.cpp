#include "imaging/readers/psd_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/compression/run_length_decoders.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/streams.h"

#include <algorithm>
#include <cctype>
#include <cstring>

PW_DEFINE_GRAPHIC_CLASS(TPSDGraphic, TRasterGraphic)

namespace {

constexpr int HeaderSize = 26;
// The colour-format and compression messages name the format by its short name.
constexpr const char* ShortName = "PSD";

uint8_t ClampByte(uint32_t value)
{
    return static_cast<uint8_t>(std::min<uint32_t>(value, 255));
}

TPixelScheme SchemeOfMode(uint16_t mode, uint16_t channels)
{
    switch (mode) {
    case 0: // bitmap
    case 1: // greyscale
    case 8: // duotone: the ink description in the colour mode data is not used
        return psGray;
    case 2:
        return psIndexed;
    case 3: // RGB
    case 7: // multichannel
        return channels == 3 ? psRGB : psRGBA;
    case 4:
        return psCMYK;
    case 9:
        return psCIELab;
    default:
        return psUnknown;
    }
}

TCompressionKind CompressionOf(uint16_t code)
{
    switch (code) {
    case 0: return ckNone;
    case 1: return ckPackBits;
    case 2: // zip
    case 3: // zip with prediction
        return ckDeflate;
    default: return ckUnknown;
    }
}

// Sum of count values from first on, for the bytes a PackBits run of rows takes.
uint64_t SumOf(const std::vector<uint16_t>& counts, size_t first, size_t count)
{
    uint64_t sum = 0;
    for (size_t i = first; i < first + count; ++i)
        sum += counts[i];
    return sum;
}

} // namespace

TPSDGraphic::THeader TPSDGraphic::ReadHeader(TByteReader& in)
{
    THeader h;
    in.Bytes(h.Signature, 4);
    h.Version = in.U16BE();
    in.Skip(6);
    h.Channels = in.U16BE();
    h.Height = in.U32BE();
    h.Width = in.U32BE();
    h.Depth = in.U16BE();
    h.Mode = in.U16BE();
    return h;
}

bool TPSDGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    bool result = false;
    if (stream.Remaining() > HeaderSize) {
        TByteReader in(stream);
        const THeader h = ReadHeader(in);
        const char* expected = "8bps";
        result = h.Version == 1;
        for (int i = 0; i < 4; ++i)
            result = result && std::tolower(static_cast<unsigned char>(h.Signature[i])) == expected[i];
    }
    stream.SetPosition(position);
    return result;
}

bool TPSDGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    TByteReader in(stream);
    const THeader h = ReadHeader(in);
    // Version 2 files (large documents) widen several fields and cannot be
    // read with this layout.
    if (std::memcmp(h.Signature, "8BPS", 4) != 0 || h.Version != 1)
        return false;
    TImageProperties& p = ImageProperties;
    p.Flags = ifBigEndian;
    // Values beyond a byte are kept at 255, which no depth check accepts.
    p.BitsPerSample = ClampByte(h.Depth);
    p.ChannelCount = ClampByte(h.Channels);
    p.SamplesPerPixel = static_cast<uint8_t>(std::min<uint16_t>(h.Channels, 4));
    p.BitsPerPixel = ClampByte(uint32_t(p.SamplesPerPixel) * p.BitsPerSample);
    p.PixelScheme = SchemeOfMode(h.Mode, h.Channels);
    if (h.Mode == 0)
        p.Flags |= ifMinIsWhite;
    p.Width = h.Width;
    p.Height = h.Height;
    // Colour mode data, image resources, layer and mask information.
    for (int section = 0; section < 3; ++section)
        in.Skip(in.U32BE());
    p.CompressionKind = CompressionOf(in.U16BE());
    return true;
}

void TPSDGraphic::CheckLayout(const THeader& h) const
{
    const TImageProperties& p = ImageProperties;
    uint16_t planesNeeded = 0;
    bool depthOk = false;
    switch (p.PixelScheme) {
    case psGray:
        planesNeeded = 1;
        depthOk = h.Depth == 1 || h.Depth == 8 || h.Depth == 16;
        break;
    case psIndexed:
        planesNeeded = 1;
        depthOk = h.Depth == 8;
        break;
    case psRGB:
    case psRGBA:
    case psCIELab:
        planesNeeded = 3;
        depthOk = h.Depth == 8 || h.Depth == 16;
        break;
    case psCMYK:
        planesNeeded = 4;
        depthOk = h.Depth == 8 || h.Depth == 16;
        break;
    default: // no pixel data is read
        return;
    }
    // The planes handed to the colour manager must all lie in the data read.
    if (!depthOk || h.Channels < planesNeeded)
        RaiseImageErrorFmt(msg::InvalidColorFormat, ShortName);
    if (p.CompressionKind != ckNone && p.CompressionKind != ckPackBits)
        RaiseImageErrorFmt(msg::NotSupported, msg::CompressionScheme, ShortName);
}

void TPSDGraphic::SetupColorManager()
{
    const TImageProperties& p = ImageProperties;
    TColorManager& cm = ColorManager();
    TSampleFlags flags = sfSwapBytes;
    cm.SetSourceBits(p.BitsPerSample);
    cm.SetTargetBits(p.BitsPerSample == 16 ? 8 : p.BitsPerSample);
    cm.SetSourceSamples(p.SamplesPerPixel);
    cm.SetTargetSamples(p.SamplesPerPixel);
    cm.SetSourceScheme(p.PixelScheme);
    switch (p.PixelScheme) {
    case psIndexed:
    case psGray:
        // Only the first channel is shown (a second one is usually alpha):
        // one sample, or the bitmap would get a format for several.
        cm.SetSourceSamples(1);
        cm.SetTargetSamples(1);
        cm.SetTargetScheme(p.PixelScheme);
        break;
    case psRGB:
        cm.SetTargetScheme(psBGR);
        break;
    case psRGBA:
        cm.SetTargetScheme(psBGRA);
        break;
    case psCMYK:
        cm.SetTargetScheme(psBGR);
        cm.SetTargetSamples(3);
        break;
    case psCIELab:
        // Channels past L*, a* and b* are not shown.
        cm.SetSourceSamples(3);
        cm.SetTargetSamples(3);
        cm.SetTargetScheme(psBGR);
        flags |= sfLabByteL | sfLabOffsetAB;
        break;
    default:
        break;
    }
    cm.SetSourceFlags(flags);
}

void TPSDGraphic::ReadColorModeData(TByteReader& in)
{
    const uint32_t length = in.U32BE();
    if (length > in.Remaining())
        in.Fail();
    TColorManager& cm = ColorManager();
    if (ImageProperties.PixelScheme == psIndexed) {
        // Red, green and blue planes of k entries each. An 8-bit index reaches
        // 256 entries only: longer data keep their first 768 bytes.
        const uint32_t entries = std::min<uint32_t>(length / 3, 256);
        uint8_t planes[768];
        in.Bytes(planes, 3 * entries);
        in.Skip(length - 3 * entries);
        if (entries > 0)
            SetPalette(cm.MakeColorPalette({planes, planes + entries, planes + 2 * entries}, plPlanar8x3, entries,
                                           false));
        return;
    }
    in.Skip(length);
    if (ImageProperties.PixelScheme == psGray)
        SetPalette(cm.MakeGrayPalette((ImageProperties.Flags & ifMinIsWhite) != 0));
}

std::vector<uint16_t> TPSDGraphic::ReadRowCounts(TByteReader& in, uint16_t channels)
{
    const uint64_t count = uint64_t(ImageProperties.Height) * channels;
    if (2 * count > uint64_t(in.Remaining()))
        in.Fail();
    std::vector<uint16_t> counts(count);
    in.Bytes(counts.data(), static_cast<int64_t>(2 * count));
    for (uint16_t& value : counts)
        value = LoadU16BE(reinterpret_cast<const uint8_t*>(&value));
    return counts;
}

void TPSDGraphic::ReadSinglePlane(TByteReader& in, const std::vector<uint16_t>& counts)
{
    StartProgress(msg::Transfering);
    const uint32_t width = ImageProperties.Width;
    const uint32_t height = ImageProperties.Height;
    const size_t rowBytes = (size_t(width) * ImageProperties.BitsPerSample + 7) / 8;
    // 1- and 8-bit rows have the bitmap's layout and go straight into it;
    // 16-bit rows are brought to 8 bits by the colour manager.
    const bool convert = ImageProperties.BitsPerSample == 16;
    std::vector<uint8_t> row(convert ? rowBytes : 0);
    TColorManager& cm = ColorManager();

    if (ImageProperties.CompressionKind == ckPackBits) {
        // Only the first channel is shown: its counts are the first Height ones.
        const uint64_t total = SumOf(counts, 0, height);
        if (total > uint64_t(in.Remaining()))
            in.Fail();
        std::vector<uint8_t> packed(total);
        in.Bytes(packed.data(), static_cast<int64_t>(total));
        TPackbitsRLEDecoder decoder;
        decoder.ExpandStart();
        size_t offset = 0;
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* source = packed.data() + offset;
            uint8_t* target = convert ? row.data() : ScanLine(static_cast<int>(y));
            const size_t produced = decoder.Expand(source, total - offset, target, rowBytes, counts[y], rowBytes).Produced;
            offset += counts[y];
            if (produced < rowBytes)
                NoteEarlyEnd(y);
            if (convert && produced > 0) {
                std::memset(row.data() + produced, 0, rowBytes - produced);
                cm.ConvertLine({row.data()}, ScanLine(static_cast<int>(y)), width);
            }
            RowDone(y, height);
        }
        decoder.ExpandFinish();
        return;
    }
    for (uint32_t y = 0; y < height; ++y) {
        // A short stream raises here; the rows read so far stay in the bitmap.
        if (convert) {
            in.Bytes(row.data(), static_cast<int64_t>(rowBytes));
            cm.ConvertLine({row.data()}, ScanLine(static_cast<int>(y)), width);
        } else {
            in.Bytes(ScanLine(static_cast<int>(y)), static_cast<int64_t>(rowBytes));
        }
        RowDone(y, height);
    }
}

void TPSDGraphic::ReadColorPlanes(TByteReader& in, const std::vector<uint16_t>& counts, uint16_t channels)
{
    StartProgress(msg::LoadingData);
    const TImageProperties& p = ImageProperties;
    const uint32_t width = p.Width;
    const uint32_t height = p.Height;
    const TPixelScheme scheme = p.PixelScheme;
    const int planeCount = scheme == psRGBA || scheme == psCMYK ? 4 : 3;
    const size_t rowBytes = size_t(width) * (p.BitsPerSample / 8);
    // Channels past the ones shown are not kept: raw data are read only that far.
    const uint64_t planeSize = CheckBufferSize(DisplayName(), rowBytes, height);
    const uint64_t dataSize = CheckBufferSize(DisplayName(), planeSize, static_cast<uint64_t>(planeCount));
    // PackBits rows are expanded one image row at a time straight from the
    // packed data, so the work takes no more memory than the file holds.
    std::vector<uint8_t> data;
    std::vector<uint64_t> starts;
    if (p.CompressionKind == ckPackBits) {
        const uint64_t total = SumOf(counts, 0, size_t(height) * channels);
        if (total > uint64_t(in.Remaining()))
            in.Fail();
        data.resize(total);
        in.Bytes(data.data(), static_cast<int64_t>(total));
        starts.resize(size_t(height) * planeCount);
        uint64_t offset = 0;
        for (size_t i = 0; i < starts.size(); ++i) {
            starts[i] = offset;
            offset += counts[i];
        }
    } else {
        if (dataSize > uint64_t(in.Remaining()))
            in.Fail();
        data.resize(dataSize);
        in.Bytes(data.data(), static_cast<int64_t>(dataSize));
    }
    EndProgress();

    StartProgress(msg::Transfering);
    TColorManager& cm = ColorManager();
    std::vector<uint8_t> rows(starts.empty() ? 0 : rowBytes * planeCount);
    TPackbitsRLEDecoder decoder;
    decoder.ExpandStart();
    const void* planes[4] = {};
    for (uint32_t y = 0; y < height; ++y) {
        bool held = starts.empty();
        for (int k = 0; k < planeCount; ++k) {
            uint8_t* row = starts.empty() ? data.data() + size_t(k) * planeSize + size_t(y) * rowBytes
                                          : rows.data() + size_t(k) * rowBytes;
            if (!starts.empty()) {
                const size_t index = size_t(k) * height + y;
                const uint8_t* source = data.data() + starts[index];
                uint8_t* target = row;
                const size_t produced =
                    decoder.Expand(source, counts[index], target, rowBytes, counts[index], rowBytes).Produced;
                std::memset(row + produced, 0, rowBytes - produced);
                if (produced < rowBytes)
                    NoteEarlyEnd(y);
                held = held || produced > 0;
            }
            // The file stores CMYK ink amounts inverted (0 = full ink).
            // Inverting each byte inverts 16-bit samples as well, whatever
            // their byte order.
            if (scheme == psCMYK)
                for (size_t i = 0; i < rowBytes; ++i)
                    row[i] = static_cast<uint8_t>(255 - row[i]);
            planes[k] = row;
        }
        // A row the data hold nothing of stays as the fresh bitmap has it.
        if (held)
            cm.ConvertLine(planes, planeCount, ScanLine(static_cast<int>(y)), width);
        RowDone(y, height);
    }
    decoder.ExpandFinish();
}

void TPSDGraphic::LoadFromStream(TStream& stream)
{
    BeginLoad(stream, msg::Preparing);
    stream.SetPosition(BasePosition);
    const TImageProperties& p = ImageProperties;

    TByteReader in(stream);
    const THeader h = ReadHeader(in);
    CheckLayout(h);
    // A colour mode this reader does not know gives no pixels: the picture
    // stays empty whatever size the header declares, and the callers that
    // need pixels say so.
    if (p.PixelScheme == psUnknown) {
        EndProgress();
        return;
    }
    SetupColorManager();
    const TBitmapFormat format = ColorManager().BitmapFormatOf(1);
    CheckImageSize(DisplayName(), p.Width, p.Height, static_cast<uint32_t>(BitsPerPixelOf(format)));
    SetPixelFormat(format);
    SetAlphaPresent(p.PixelScheme == psRGBA);
    SetSize(static_cast<int>(p.Width), static_cast<int>(p.Height));

    ReadColorModeData(in);
    in.Skip(in.U32BE()); // image resources
    in.Skip(in.U32BE()); // layer and mask information
    in.Skip(2);          // compression, known from the properties
    std::vector<uint16_t> counts;
    if (p.CompressionKind == ckPackBits)
        counts = ReadRowCounts(in, h.Channels);
    EndProgress();

    // An image without rows or columns has no scan lines to fill.
    const TPixelScheme scheme = Empty() ? psUnknown : p.PixelScheme;
    switch (scheme) {
    case psIndexed:
    case psGray:
        ReadSinglePlane(in, counts);
        break;
    case psRGB:
    case psRGBA:
    case psCMYK:
    case psCIELab:
        ReadColorPlanes(in, counts, h.Channels);
        break;
    default:
        break;
    }
    EndProgress();
}
