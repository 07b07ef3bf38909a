#include "imaging/readers/tiff_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/compression/ccitt_decoders.h"
#include "imaging/compression/lz77_decoder.h"
#include "imaging/compression/lzma_decoder.h"
#include "imaging/compression/lzw_decoder.h"
#include "imaging/compression/run_length_decoders.h"
#include "imaging/compression/thunder_decoder.h"
#include "imaging/compression/tiff_jpeg_decoder.h"
#include "imaging/compression/webp_decoder.h"
#include "imaging/compression/zstd_decoder.h"
#include "imaging/image_limits.h"
#include "imaging/readers/tiff_layout.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

PW_DEFINE_GRAPHIC_CLASS(TTIFFGraphic, TRasterGraphic)

namespace {

// Uncompressed strips are read this many bytes at a time at most, so that a
// file stored as one huge strip needs no strip-sized buffer.
constexpr uint64_t DirectChunkBytes = 4u << 20;
// Tiles up to this side are taken whatever the image size.
constexpr uint64_t MaxTileSide = 4096;
// PackBits RGB rows are decoded into the bitmap and reordered this many
// pixels at a time (6 KB, which stays in the first-level cache).
constexpr uint32_t kInPlacePiece = 2048;

TCompressionKind CompressionKindOf(uint32_t value)
{
    switch (value) {
    case 1: return ckNone;
    case 2: return ckCCITTHuffman;
    case 3: return ckCCITTGroup3;
    case 4: return ckCCITTGroup4;
    case 5: return ckLZW;
    case 6: return ckOldJPEG;
    case 7: return ckJPEG;
    case 8: return ckDeflate;
    case 32766: return ckNeXT;
    case 32771: return ckCCITTHuffmanW;
    case 32773: return ckPackBits;
    case 32809: return ckThunderScan;
    case 32895: return ckIT8CTPad;
    case 32896: return ckIT8Linework;
    case 32897: return ckIT8Monochrome;
    case 32898: return ckIT8BinaryLineArt;
    case 32908: return ckPixarFilm;
    case 32909: return ckPixarLog;
    case 32946: return ckDeflate;
    case 32947: return ckKodakDCS;
    case 34661: return ckJBIG;
    case 34925: return ckLZMA;
    case 50000: return ckZstd;
    case 50001: return ckWebP;
    default: return ckUnknown;
    }
}

TPixelScheme PixelSchemeOf(uint32_t photometric, uint32_t samplesPerPixel)
{
    switch (photometric) {
    case 0:
    case 1: return psGray;
    case 2: return samplesPerPixel < 4 ? psRGB : psRGBA;
    case 3: return psIndexed;
    case 5: return psCMYK;
    case 6: return psYCbCr;
    case 8: return psCIELab;
    default: return psUnknown;
    }
}

[[noreturn]] void RaiseInvalidColorFormat()
{
    RaiseImageErrorFmt(msg::InvalidColorFormat, TIFFDisplayName);
}

// Fill order 2 stores the first bit of a byte in its lowest position.
void ReverseBits(uint8_t* data, size_t count)
{
    static const auto table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i)
            for (int bit = 0; bit < 8; ++bit)
                if (i & (1 << bit))
                    t[size_t(i)] |= static_cast<uint8_t>(0x80 >> bit);
        return t;
    }();
    for (size_t i = 0; i < count; ++i)
        data[i] = table[data[i]];
}

// 12-bit grey samples lie two in three bytes, the first sample's high bits
// first whatever the file's byte order; they are scaled to bytes by the
// colour manager's rule for every depth, v * 255 div 4095, so that only full
// white becomes 255, as 16-bit samples do.
void Grey12To8(const uint8_t* row, uint8_t* out, uint32_t pixels)
{
    static const auto scale = [] {
        std::array<uint8_t, 4096> t{};
        for (uint32_t v = 0; v < t.size(); ++v)
            t[v] = static_cast<uint8_t>(v * 255 / 4095);
        return t;
    }();
    uint32_t i = 0;
    for (; i + 1 < pixels; i += 2, row += 3) {
        out[i] = scale[(uint32_t(row[0]) << 4) | (row[1] >> 4)];
        out[i + 1] = scale[(uint32_t(row[1] & 0x0F) << 8) | row[2]];
    }
    if (i < pixels)
        out[i] = scale[(uint32_t(row[0]) << 4) | (row[1] >> 4)];
}

void Grow(std::vector<uint8_t>& buffer, uint64_t size)
{
    if (buffer.size() < size)
        buffer.resize(size);
}

} // namespace

bool TTIFFGraphic::CanLoadStream(TStream& stream)
{
    const int64_t start = stream.Position();
    const int64_t remaining = stream.Size() - start;
    bool result = false;
    uint8_t header[8];
    if (remaining > 8 && stream.Read(header, 8) == 8) {
        const bool big = header[0] == 'M' && header[1] == 'M';
        const bool little = header[0] == 'I' && header[1] == 'I';
        if (big || little) {
            const uint16_t version = big ? LoadU16BE(header + 2) : LoadU16LE(header + 2);
            if (version == 42) {
                const auto first = static_cast<int32_t>(big ? LoadU32BE(header + 4) : LoadU32LE(header + 4));
                result = first < remaining;
            } else if (version == 43 && remaining > 16) {
                // BigTIFF: offsets of 8 bytes, then the first directory's.
                uint8_t offset[8];
                const uint16_t offsetBytes = big ? LoadU16BE(header + 4) : LoadU16LE(header + 4);
                if (offsetBytes == 8 && stream.Read(offset, 8) == 8) {
                    const uint64_t first = big ? LoadU64BE(offset) : LoadU64LE(offset);
                    result = first < uint64_t(remaining);
                }
            }
        }
    }
    stream.SetPosition(start);
    return result;
}

bool TTIFFGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    TImageProperties& p = ImageProperties;

    TByteReader reader(stream);
    reader.Seek(BasePosition);
    uint8_t header[8];
    reader.Bytes(header, 8);
    const bool big = header[0] == 'M' && header[1] == 'M';
    if (big)
        p.Flags |= ifBigEndian;
    p.FormatVersion = big ? LoadU16BE(header + 2) : LoadU16LE(header + 2);
    const bool bigTIFF = p.FormatVersion == 43;
    if (bigTIFF) {
        uint8_t first[8];
        reader.Bytes(first, 8);
        if ((big ? LoadU16BE(header + 4) : LoadU16LE(header + 4)) != 8)
            return false;
        p.FirstIFDOffset = big ? LoadU64BE(first) : LoadU64LE(first);
    } else {
        p.FirstIFDOffset = big ? LoadU32BE(header + 4) : LoadU32LE(header + 4);
    }
    if (p.FormatVersion != 42 && !bigTIFF)
        return false;

    Directory.BigEndian = big;
    Directory.BigTIFF = bigTIFF;
    Directory.BasePosition = BasePosition;
    uint64_t offset = p.FirstIFDOffset;
    for (; imageIndex > 0; --imageIndex) {
        offset = Directory.Read(stream, offset);
        if (offset == 0)
            return false;
    }
    Directory.Read(stream, offset);

    p.Width = Directory.GetTagValue(tiff::ImageWidth, 0);
    p.Height = Directory.GetTagValue(tiff::ImageLength, 0);
    if (p.Width == 0 || p.Height == 0)
        return false;

    p.RowsPerStrip = Directory.ReadTagIntegers(stream, tiff::RowsPerStrip);
    if (p.RowsPerStrip.empty() || p.RowsPerStrip[0] == 0xFFFFFFFFu)
        p.RowsPerStrip = {p.Height};

    p.SamplesPerPixel = static_cast<uint8_t>(std::min<uint32_t>(Directory.GetTagValue(tiff::SamplesPerPixel, 1), 255));
    const TCardinalArray bits = Directory.ReadTagIntegers(stream, tiff::BitsPerSample);
    p.BitsPerSample = bits.empty() ? 1 : static_cast<uint8_t>(std::min<uint32_t>(bits[0], 255));
    p.TileWidth = Directory.GetTagValue(tiff::TileWidth, 0);
    p.TileLength = Directory.GetTagValue(tiff::TileLength, 0);
    if (p.TileWidth != 0 && p.TileLength != 0)
        p.Flags |= ifTiled;

    const uint32_t photometric = Directory.GetTagValue(tiff::PhotometricInterpretation, 0) & 0xFF;
    const TCardinalArray extra = Directory.ReadTagIntegers(stream, tiff::ExtraSamples);
    p.AlphaPresent = !extra.empty() && std::all_of(extra.begin(), extra.end(), [](uint32_t v) { return v <= 2; });
    p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);

    // Without a Compression tag the data are stored uncompressed.
    p.CompressionKind = CompressionKindOf(Directory.GetTagValue(tiff::Compression, 1));
    p.PixelScheme = PixelSchemeOf(photometric, p.SamplesPerPixel);
    if (photometric == 0)
        p.Flags |= ifMinIsWhite;
    if (photometric == 6) {
        p.YCbCrSubSampling = Directory.ReadTagBytes(stream, tiff::YCbCrSubSampling);
        if (p.YCbCrSubSampling.empty())
            p.YCbCrSubSampling = {2, 2};
        YCbCrPositioning = Directory.GetTagValue(tiff::YCbCrPositioning, 1);
        YCbCrCoefficients = Directory.ReadTagFloats(stream, tiff::YCbCrCoefficients);
        if (YCbCrCoefficients.empty())
            YCbCrCoefficients = {0.299f, 0.587f, 0.114f};
    }

    p.JPEGColorMode = Directory.GetTagValue(tiff::JPEGColorMode, 0);
    p.JPEGTablesMode = Directory.GetTagValue(tiff::JPEGTablesMode, 3);
    // Absent means chunky, the TIFF default; the JPEG decoder tells the two
    // configurations apart by this value.
    p.PlanarConfiguration = Directory.GetTagValue(tiff::PlanarConfiguration, 1);
    p.XResolution = Directory.GetTagFloat(stream, tiff::XResolution, 0);
    p.YResolution = Directory.GetTagFloat(stream, tiff::YResolution, 0);
    if (Directory.GetTagValue(tiff::ResolutionUnit, 2) == 3) {
        p.XResolution = static_cast<float>(static_cast<long double>(p.XResolution) * 2.54L);
        p.YResolution = static_cast<float>(static_cast<long double>(p.YResolution) * 2.54L);
    }
    p.Predictor = Directory.GetTagValue(tiff::Predictor, 0);
    if (Directory.GetTagValue(tiff::FillOrder, 1) == 2)
        p.Flags |= ifReversedBitOrder;
    return true;
}

void TTIFFGraphic::CheckLayout(const TLayout& layout) const
{
    const TImageProperties& p = ImageProperties;
    const uint32_t bps = p.BitsPerSample;
    const uint32_t spp = p.SamplesPerPixel;
    const bool grey12 = bps == 12 && p.PixelScheme == psGray && spp == 1;
    if (bps != 1 && bps != 2 && bps != 4 && bps != 8 && bps != 16 && !grey12)
        RaiseInvalidColorFormat();
    switch (p.PixelScheme) {
    case psGray:
    case psIndexed:
        // A second sample (alpha or other extra) is dropped; it needs whole bytes.
        if (spp == 0 || spp > 2 || (spp == 2 && bps < 8))
            RaiseInvalidColorFormat();
        break;
    case psRGB:
    case psRGBA:
    case psCIELab:
    case psYCbCr:
        if (spp < 3 || spp > 4 || bps < 8)
            RaiseInvalidColorFormat();
        break;
    case psCMYK:
        if (spp != 4 || bps < 8)
            RaiseInvalidColorFormat();
        break;
    default:
        break;
    }
    // The conversion of L*a*b* samples is defined for bytes only.
    if ((p.CompressionKind == ckJPEG && (bps != 8 || p.PixelScheme == psIndexed)) ||
        (p.PixelScheme == psCIELab && bps != 8))
        RaiseInvalidColorFormat();
    // A WebP picture holds 8-bit red, green, blue (and alpha) side by side.
    if (p.CompressionKind == ckWebP &&
        (bps != 8 || (p.PixelScheme != psRGB && p.PixelScheme != psRGBA) || layout.Planes != 1))
        RaiseInvalidColorFormat();
    // Subsampled chroma arrives in blocks of several rows, which only the
    // JPEG decoder undoes.
    if (p.PixelScheme == psYCbCr && p.CompressionKind != ckJPEG && p.YCbCrSubSampling.size() >= 2 &&
        (p.YCbCrSubSampling[0] != 1 || p.YCbCrSubSampling[1] != 1))
        RaiseImageErrorFmt(msg::NotSupported, msg::TIFFSubsampledYCbCr, TIFFDisplayName);
    if (layout.Planes > 4)
        RaiseInvalidColorFormat();
    if (layout.Tiled) {
        if ((uint64_t(p.TileWidth) * layout.BitmapBits) % 8 != 0)
            RaiseInvalidTIFF();
        // Tiles may reach past the image, but not by absurd amounts: their
        // buffer is allocated whole.
        const auto limit = [](uint32_t side) { return std::max<uint64_t>(CeilDiv(side, 16) * 16, MaxTileSide); };
        if (p.TileWidth > limit(p.Width) || p.TileLength > limit(p.Height))
            RaiseInvalidTIFF();
    }
}

void TTIFFGraphic::ConfigureColorManager(TLayout& layout)
{
    const TImageProperties& p = ImageProperties;
    TColorManager& cm = ColorManager();
    const bool fileBigEndian = (p.Flags & ifBigEndian) != 0;
    TSampleFlags sourceFlags = fileBigEndian != (std::endian::native == std::endian::big) ? sfSwapBytes : 0;
    const uint8_t sourceBits = p.BitsPerSample;
    // 16-bit and 12-bit samples are reduced to 8 bits; 2-bit samples go to a
    // 4-bit bitmap, the smallest that holds them.
    const uint8_t targetBits = sourceBits == 16 || sourceBits == 12 ? 8 : sourceBits == 2 ? 4 : sourceBits;

    TPixelScheme source = p.PixelScheme;
    uint8_t sourceSamples = p.SamplesPerPixel;
    // The JPEG decoder delivers three-component data as blue, green, red.
    if ((p.CompressionKind == ckJPEG || p.CompressionKind == ckOldJPEG) && p.SamplesPerPixel == 3)
        source = psBGR;
    if ((source == psGray || source == psIndexed) && sourceSamples == 2) {
        if (layout.Planes == 1 && p.PlanarConfiguration == 2) {
            sourceSamples = 1; // only the first plane is read
        } else {
            source = psGrayAlpha;
        }
    }

    TPixelScheme target;
    uint8_t targetSamples = sourceSamples;
    switch (source) {
    case psIndexed:
        target = psIndexed;
        break;
    case psGrayAlpha:
        target = p.PixelScheme == psIndexed ? psIndexed : psGray;
        targetSamples = 1;
        break;
    case psRGB:
        target = psBGR;
        break;
    case psRGBA:
        target = psBGRA;
        break;
    case psCMY:
    case psCMYK:
    case psCIELab:
    case psYCbCr:
        target = psBGR;
        targetSamples = 3;
        break;
    default:
        target = source;
        break;
    }
    if (source == psCIELab)
        sourceFlags |= sfLabByteL;

    cm.SetSourceFlags(sourceFlags);
    cm.SetSourceBits(sourceBits);
    cm.SetTargetBits(targetBits);
    cm.SetSourceScheme(source);
    cm.SetTargetScheme(target);
    cm.SetSourceSamples(sourceSamples);
    cm.SetTargetSamples(targetSamples);
    SetPixelFormat(source == psGrayAlpha ? bf8Bit : cm.BitmapFormatOf(1));
    layout.BitmapBits = static_cast<uint32_t>(BitsPerPixel());
    SetAlphaPresent(target == psBGRA && p.AlphaPresent);
}

void TTIFFGraphic::SetPaletteFor(TStream& stream)
{
    const TImageProperties& p = ImageProperties;
    TColorManager& cm = ColorManager();
    switch (cm.TargetScheme()) {
    case psIndexed: {
        uint32_t count = 0;
        Directory.GetTagValueAndCount(tiff::ColorMap, count, 0);
        if (count < 3)
            break;
        const TTagEntry* entry = Directory.Find(tiff::ColorMap);
        if (count > ColorMapData.size() || TypeSize(entry->FieldType) != 2)
            RaiseInvalidTIFF();
        const std::vector<uint8_t> raw = Directory.ReadRawValues(stream, *entry);
        // The values stay in file byte order; sfSwapBytes tells the palette builder.
        std::memcpy(ColorMapData.data(), raw.data(), raw.size());
        const uint32_t colors = count / 3;
        SetPalette(cm.MakeColorPalette({&ColorMapData[0], &ColorMapData[colors], &ColorMapData[2 * colors]},
                                       plPlanar16x3, colors, false));
        break;
    }
    case psGray:
        SetPalette(cm.MakeGrayPalette((p.Flags & ifMinIsWhite) != 0));
        break;
    default:
        if (cm.SourceScheme() == psYCbCr) {
            const TByteArray& sub = p.YCbCrSubSampling;
            cm.SetChromaParameters(YCbCrCoefficients, sub.size() > 0 ? sub[0] : 2, sub.size() > 1 ? sub[1] : 2);
        }
        break;
    }
}

std::unique_ptr<TDecoder> TTIFFGraphic::CreateDecoder(TImageProperties& decoderProperties)
{
    const TImageProperties& p = ImageProperties;
    const bool swapBits = (p.Flags & ifReversedBitOrder) != 0;
    const uint32_t options = Directory.GetTagValue(tiff::T4Options, 0);
    // The row decoders code rows of a tile as wide as the tile.
    const uint32_t width = (p.Flags & ifTiled) ? p.TileWidth : p.Width;
    switch (p.CompressionKind) {
    case ckNone:
        return nullptr;
    case ckPackBits:
        return std::make_unique<TPackbitsRLEDecoder>();
    case ckCCITTGroup3:
        if (options & 1)
            return std::make_unique<TCCITTFax3Decoder2D>(static_cast<int>(options), swapBits, width);
        return std::make_unique<TCCITTFax3Decoder>(static_cast<int>(options), swapBits, false, width);
    case ckCCITTGroup4:
        return std::make_unique<TCCITTFax4Decoder>(static_cast<int>(Directory.GetTagValue(tiff::T6Options, 0)),
                                                   swapBits, width);
    case ckLZW:
        return std::make_unique<TLZWDecoder>();
    case ckCCITTHuffman:
        return std::make_unique<TCCITTMHDecoder>(static_cast<int>(options), swapBits, false, width);
    case ckCCITTHuffmanW:
        return std::make_unique<TCCITTMHDecoder>(static_cast<int>(options), swapBits, true, width);
    case ckDeflate:
        return std::make_unique<TLZ77Decoder>(1, true);
    case ckJPEG:
        return std::make_unique<TTIFFJPEGDecoder>(&decoderProperties);
    case ckThunderScan:
        return std::make_unique<TThunderDecoder>(static_cast<int>(width));
    case ckZstd:
        return std::make_unique<TZstdDecoder>();
    case ckLZMA:
        return std::make_unique<TLZMADecoder>();
    case ckWebP:
        return std::make_unique<TWebPDecoder>(p.SamplesPerPixel, width);
    default:
        break;
    }
    RaiseImageErrorFmt(msg::NotSupported, msg::CompressionScheme, TIFFDisplayName);
}

void TTIFFGraphic::LoadFromStream(TStream& stream)
{
    FreeImage();
    BasePosition = static_cast<int32_t>(stream.Position());
    if (!LoadProperties(stream, 0))
        RaiseInvalidTIFF();
    TImageProperties& p = ImageProperties;

    ProgressRect = TRect{0, 0, 0, 1};
    StartProgress(msg::Preparing);
    std::unique_ptr<TDecoder> decoder;
    try {
        TLayout layout;
        layout.Tiled = (p.Flags & ifTiled) != 0;
        const bool planar = p.PlanarConfiguration == 2 && p.SamplesPerPixel > 1;
        const bool greyOrIndexed = p.PixelScheme == psGray || p.PixelScheme == psIndexed;
        layout.Planes = planar && !greyOrIndexed ? p.SamplesPerPixel : 1;
        layout.PlaneSamples = planar ? 1 : p.SamplesPerPixel;
        layout.PlaneBits = uint32_t(p.BitsPerSample) * layout.PlaneSamples;
        layout.BlockWidth = layout.Tiled ? p.TileWidth : p.Width;
        layout.TileLength = p.TileLength;
        layout.BlockRowBytes = CeilDiv(uint64_t(layout.BlockWidth) * layout.PlaneBits, 8);
        layout.StreamSize = stream.Size();

        // An unsupported compression is refused before anything is allocated.
        if (p.CompressionKind == ckJPEG)
            p.JPEGTables = Directory.ReadTagBytes(stream, tiff::JPEGTables);
        FDecoderProperties = p;
        decoder = CreateDecoder(FDecoderProperties);
        ConfigureColorManager(layout);
        CheckLayout(layout);
        layout.Grey12 = p.BitsPerSample == 12;
        CheckImageSize(TIFFDisplayName, p.Width, p.Height, layout.BitmapBits);
        SetSize(static_cast<int>(p.Width), static_cast<int>(p.Height));
        ProgressRect.Right = static_cast<int32_t>(p.Width);
        SetPaletteFor(stream);
        p.RowBytes = static_cast<uint32_t>(CeilDiv(uint64_t(p.BitsPerPixel) * p.Width, 8));

        // Differencing goes with the Deflate, LZW, ZSTD and LZMA codings;
        // other schemes do not use it. The floating-point predictor (3) is
        // not undone here, so such a file is refused rather than shown wrong.
        const TCompressionKind kind = p.CompressionKind;
        if (p.Predictor >= 2 && (kind == ckDeflate || kind == ckLZW || kind == ckZstd || kind == ckLZMA)) {
            if (p.Predictor != 2 || (p.BitsPerSample != 8 && p.BitsPerSample != 16))
                RaiseInvalidTIFF();
            layout.PredictorBytes = p.BitsPerSample / 8;
        }

        if (layout.Tiled) {
            const bool hasTileTags = Directory.Find(tiff::TileOffsets) != nullptr;
            layout.Offsets = Directory.ReadTagIntegers64(stream, hasTileTags ? tiff::TileOffsets : tiff::StripOffsets);
            layout.ByteCounts =
                Directory.ReadTagIntegers64(stream, hasTileTags ? tiff::TileByteCounts : tiff::StripByteCounts);
            layout.BlocksPerPlane = CeilDiv(p.Width, p.TileWidth) * CeilDiv(p.Height, p.TileLength);
            layout.BlocksAcross = CeilDiv(p.Width, p.TileWidth);
        } else {
            layout.Offsets = Directory.ReadTagIntegers64(stream, tiff::StripOffsets);
            layout.ByteCounts = Directory.ReadTagIntegers64(stream, tiff::StripByteCounts);
            layout.BlocksPerPlane =
                layout.Planes > 1 ? CeilDiv(p.Height, p.RowsPerStrip[0] ? p.RowsPerStrip[0] : p.Height)
                                  : layout.Offsets.size();
        }
        // Compressed blocks are read by their byte counts, so each needs one.
        if (decoder && layout.ByteCounts.size() < layout.Offsets.size())
            RaiseInvalidTIFF();
        layout.ReverseBits = (p.Flags & ifReversedBitOrder) && kind != ckCCITTGroup3 && kind != ckCCITTHuffman &&
                             kind != ckCCITTHuffmanW && kind != ckCCITTGroup4 && kind != ckJPEG;
        TColorManager& cm = ColorManager();
        // JPEG strips come out of the decoder as blue, green, red (or grey)
        // bytes, the bitmap's own layout.
        const bool sameLayout =
            (layout.PlaneSamples == 1 && (cm.SourceScheme() == psGray || cm.SourceScheme() == psIndexed) &&
             cm.SourceBits() == cm.TargetBits()) ||
            (kind == ckJPEG && cm.ConvertsInPlace() && cm.SourceScheme() == cm.TargetScheme());
        layout.Direct = (!decoder || kind == ckPackBits || kind == ckJPEG) && !layout.Tiled && layout.Planes == 1 &&
                        sameLayout && RowStride() == int64_t(layout.BlockRowBytes);
        layout.PackBitsRows =
            !layout.Direct && kind == ckPackBits && !layout.Tiled && layout.Planes == 1 && !layout.Grey12;
        layout.InPlace = layout.PackBitsRows && cm.ConvertsInPlace() && layout.BlockRowBytes == uint64_t(p.Width) * 3 &&
                         RowStride() >= int64_t(layout.BlockRowBytes);

        if (decoder)
            decoder->ExpandStart();
        EndProgress();
        StartProgress(msg::Transfering);
        p.RowIndex = 0;
        p.StripIndex = 0;
        p.StripCount = static_cast<uint32_t>(layout.Offsets.size());
        DecodeBlocks(stream, layout, decoder.get());
        if (decoder)
            decoder->ExpandFinish();
    } catch (...) {
        try {
            EndProgress();
        } catch (...) {
        }
        throw;
    }
    EndProgress();
}

void TTIFFGraphic::DecodeUnit(TLayout& layout, TWorkspace& work, const TBlock& block, TPieceLog* log)
{
    if (layout.Direct)
        DecodeStripDirect(layout, work, block, log);
    else if (layout.PackBitsRows)
        DecodePackBitsStrip(layout, work, block, log);
    else
        DecodeBlock(layout, work, block, log);
}

void TTIFFGraphic::DecodeStripDirect(TLayout& layout, TWorkspace& work, const TBlock& block, TPieceLog* log)
{
    const uint64_t rowBytes = layout.BlockRowBytes;
    const uint32_t rows = block.Rows;
    const size_t index = static_cast<size_t>(block.Band);
    const int64_t start = BlockStart(layout, index, 0);
    const int64_t available = std::max<int64_t>(0, layout.StreamSize - start);
    // The bitmap's rows are contiguous and as long as the stored ones:
    // the strip is read or decoded straight into them.
    const uint64_t bytes = std::min<uint64_t>(uint64_t(rows) * rowBytes, uint64_t(available));
    uint8_t* target = ScanLine(static_cast<int>(block.FirstRow));
    uint64_t got = 0;
    if (work.Decoder) {
        size_t packedSize = 0;
        const uint8_t* packed = PackedBlock(layout, work, index, packedSize);
        DescribeBlock(*work.DecoderProperties, layout, rows);
        const size_t targetSize = static_cast<size_t>(uint64_t(rows) * rowBytes);
        got = work.Decoder->Expand(packed, packedSize, target, targetSize, packedSize, targetSize).Produced;
    } else if (bytes > 0) {
        got = layout.Source->ReadAt(start, target, static_cast<size_t>(bytes));
        if (layout.ReverseBits)
            ReverseBits(target, static_cast<size_t>(got));
    }
    if (got < uint64_t(rows) * rowBytes)
        Ended(log, block.FirstRow + got / std::max<uint64_t>(rowBytes, 1));
    RowsDone(log, rows);
    BandDone(log, block.Band);
}

void TTIFFGraphic::DecodePackBitsStrip(TLayout& layout, TWorkspace& work, const TBlock& block, TPieceLog* log)
{
    const TImageProperties& p = ImageProperties;
    TColorManager& cm = ColorManager();
    const size_t rowBytes = static_cast<size_t>(layout.BlockRowBytes);
    Grow(work.Rows, std::max<size_t>(rowBytes, 1));
    uint8_t* row = work.Rows.data();
    const void* sources[1] = {row};
    size_t packedSize = 0;
    const uint8_t* packed = PackedBlock(layout, work, static_cast<size_t>(block.Band), packedSize);
    // Each row is converted while it is in the cache; a packet that crosses
    // a row's end goes on in the next row.
    TPackBitsReader reader(packed, packedSize);
    bool ended = false;
    for (uint32_t r = 0; r < block.Rows; ++r) {
        const uint32_t y = block.FirstRow + r;
        if (!ended && layout.InPlace) {
            // Decoded straight into the bitmap's row and reordered there a
            // piece at a time, while the piece is in the cache.
            uint8_t* target = ScanLine(static_cast<int>(y));
            for (uint32_t x = 0; x < p.Width && !ended; x += kInPlacePiece) {
                const uint32_t pixels = std::min(kInPlacePiece, p.Width - x);
                uint8_t* piece = target + size_t(x) * 3;
                const size_t want = size_t(pixels) * 3;
                const size_t got = reader.Read(piece, want);
                if (got < want) {
                    ended = true;
                    Ended(log, y);
                    std::memset(piece + got, 0, want - got);
                }
                cm.ConvertInPlace(piece, pixels);
            }
        } else if (!ended) {
            const size_t got = reader.Read(row, rowBytes);
            if (got < rowBytes) {
                ended = true;
                Ended(log, y);
                std::memset(row + got, 0, rowBytes - got);
            }
            // A row the data do not reach is left as the fresh bitmap has it.
            if (got > 0)
                cm.ConvertLine(sources, 1, ScanLine(static_cast<int>(y)), p.Width, 0xFF);
        }
        RowsDone(log, 1, true);
    }
    BandDone(log, block.Band);
}

void TTIFFGraphic::DescribeBlock(TImageProperties& decoderProperties, const TLayout& layout, uint32_t rows)
{
    decoderProperties.Width = layout.BlockWidth;
    decoderProperties.Height = rows;
    decoderProperties.RowsPerStrip.assign(1, rows);
    decoderProperties.RowIndex = 0;
    decoderProperties.RowBytes = static_cast<uint32_t>(layout.BlockRowBytes);
}

int64_t TTIFFGraphic::BlockStart(const TLayout& layout, size_t index, uint64_t skip) const
{
    // Offsets beyond the stream (64-bit ones of a BigTIFF file included)
    // read as its end, where nothing is available.
    const uint64_t room = uint64_t(std::max<int64_t>(0, layout.StreamSize - BasePosition));
    const uint64_t offset = layout.Offsets[index];
    if (offset > room || skip > room - offset)
        return layout.StreamSize;
    return BasePosition + int64_t(offset + skip);
}

const uint8_t* TTIFFGraphic::PackedBlock(TLayout& layout, TWorkspace& work, size_t index, size_t& size)
{
    const int64_t start = BlockStart(layout, index, 0);
    const uint64_t available = uint64_t(std::max<int64_t>(0, layout.StreamSize - start));
    const uint64_t packedSize = std::min<uint64_t>(layout.ByteCounts[index], available);
    // PackBits data in a memory stream are decoded where they lie.
    const uint8_t* memory = layout.Source->Memory();
    if (memory && ImageProperties.CompressionKind == ckPackBits && !layout.ReverseBits) {
        size = static_cast<size_t>(packedSize);
        return memory + start;
    }
    Grow(work.Packed, std::max<uint64_t>(packedSize, 1));
    size = 0;
    if (packedSize > 0) {
        size = layout.Source->ReadAt(start, work.Packed.data(), static_cast<size_t>(packedSize));
        if (layout.ReverseBits)
            ReverseBits(work.Packed.data(), size);
    }
    return work.Packed.data();
}

const uint8_t* TTIFFGraphic::ReadBlock(TLayout& layout, TWorkspace& work, size_t index, uint64_t skip,
                                       size_t rowsOffset, size_t rowsSize, size_t blockBytes, uint32_t decoderRows,
                                       size_t& filled)
{
    const auto target = [&] {
        Grow(work.Rows, rowsSize);
        return work.Rows.data() + rowsOffset;
    };
    filled = 0;
    if (index < layout.Offsets.size()) {
        const int64_t start = BlockStart(layout, index, skip);
        const uint64_t available = uint64_t(std::max<int64_t>(0, layout.StreamSize - start));
        if (!work.Decoder) {
            // Uncompressed data are read by the size the image gives them.
            const uint64_t bytes = std::min<uint64_t>(blockBytes, available);
            // Rows that are all in memory are converted from there: the
            // colour manager's reordering is then the only pass over them.
            const uint8_t* memory = layout.Source->Memory();
            if (memory && bytes == blockBytes && bytes > 0 && !layout.ReverseBits) {
                filled = blockBytes;
                return memory + start;
            }
            if (bytes > 0) {
                filled = layout.Source->ReadAt(start, target(), static_cast<size_t>(bytes));
                if (layout.ReverseBits)
                    ReverseBits(target(), filled);
            }
        } else {
            size_t got = 0;
            const uint8_t* packed = PackedBlock(layout, work, index, got);
            DescribeBlock(*work.DecoderProperties, layout, decoderRows);
            if (ImageProperties.CompressionKind == ckDeflate) {
                // The whole strip or tile is in memory: one libdeflate call,
                // zlib for damaged data. A tile at the bottom edge holds more
                // rows than are shown; it is inflated whole all the same.
                auto* lz77 = static_cast<TLZ77Decoder*>(work.Decoder);
                const uint64_t wholeBytes =
                    layout.Tiled ? std::max<uint64_t>(uint64_t(layout.TileLength) * layout.BlockRowBytes, blockBytes)
                                 : blockBytes;
                filled = std::min(
                    lz77->ExpandWhole(packed, got, target(), blockBytes, static_cast<size_t>(wholeBytes)),
                    blockBytes);
            } else {
                const uint8_t* source = packed;
                uint8_t* output = target();
                const TExpandResult result = work.Decoder->Expand(source, got, output, blockBytes, got, blockBytes);
                filled = std::min(result.Produced, blockBytes);
            }
        }
    }
    if (filled < blockBytes)
        std::memset(target() + filled, 0, blockBytes - filled);
    return target();
}

void TTIFFGraphic::UndoPredictor(const TLayout& layout, uint8_t* row, uint32_t pixels) const
{
    if (pixels < 2)
        return;
    const uint32_t stride = layout.PlaneSamples;
    if (layout.PredictorBytes == 1) {
        switch (stride) {
        case 1: UndoDifferencing1(row, pixels - 1); return;
        case 3: UndoDifferencing3(row, pixels - 1); return;
        case 4: UndoDifferencing4(row, pixels - 1); return;
        default: break;
        }
        const size_t end = size_t(pixels) * stride;
        for (size_t i = stride; i < end; ++i)
            row[i] = static_cast<uint8_t>(row[i] + row[i - stride]);
        return;
    }
    // 16-bit samples: the differences are 16-bit values in the file's byte order.
    const bool big = (ImageProperties.Flags & ifBigEndian) != 0;
    const size_t end = size_t(pixels) * stride;
    for (size_t i = stride; i < end; ++i) {
        uint8_t* v = row + 2 * i;
        const uint8_t* prev = row + 2 * (i - stride);
        if (big) {
            const auto sum = static_cast<uint16_t>(LoadU16BE(v) + LoadU16BE(prev));
            v[0] = static_cast<uint8_t>(sum >> 8);
            v[1] = static_cast<uint8_t>(sum);
        } else {
            const auto sum = static_cast<uint16_t>(LoadU16LE(v) + LoadU16LE(prev));
            v[0] = static_cast<uint8_t>(sum);
            v[1] = static_cast<uint8_t>(sum >> 8);
        }
    }
}

void TTIFFGraphic::DecodeBlock(TLayout& layout, TWorkspace& work, const TBlock& block, TPieceLog* log)
{
    const TImageProperties& p = ImageProperties;
    TColorManager& cm = ColorManager();
    const uint64_t rowBytes = layout.BlockRowBytes;
    const uint32_t blockWidth = layout.BlockWidth;
    const size_t bitmapBytesPerBlock = layout.Tiled ? size_t(uint64_t(blockWidth) * layout.BitmapBits / 8) : 0;
    // Uncompressed strips are read a bounded number of rows at a time;
    // compressed strips and tiles are decoded whole.
    const bool whole = work.Decoder || layout.Tiled;
    const uint32_t chunkRows =
        whole ? 0xFFFFFFFFu
              : static_cast<uint32_t>(std::clamp<uint64_t>(DirectChunkBytes / std::max<uint64_t>(rowBytes, 1), 1,
                                                           0xFFFFFFFFu));
    const uint32_t bandRows = block.Rows;
    // Tiles are stored whole, also at the edges; the JPEG and WebP decoders
    // want all of a tile, the others stop after the rows shown.
    const uint32_t decoderRows =
        layout.Tiled && (p.CompressionKind == ckJPEG || p.CompressionKind == ckWebP) ? p.TileLength : bandRows;
    const uint32_t firstRow = block.FirstRow;
    const uint64_t unit = block.Band * layout.BlocksAcross + block.Across;
    const uint32_t x = static_cast<uint32_t>(block.Across * (layout.Tiled ? blockWidth : 0));
    const uint32_t pixels = std::min(blockWidth, p.Width - x);
    const void* sources[4] = {};
    const uint8_t* planeData[4] = {};

    for (uint32_t chunk = 0; chunk < bandRows;) {
        const uint32_t rows = whole ? decoderRows : std::min(chunkRows, bandRows - chunk);
        const size_t planeBytes = static_cast<size_t>(CheckBufferSize(TIFFDisplayName, rows, rowBytes));
        const size_t rowsSize = static_cast<size_t>(CheckBufferSize(TIFFDisplayName, planeBytes, layout.Planes));
        size_t filled = 0;
        for (uint32_t plane = 0; plane < layout.Planes; ++plane) {
            const uint64_t index = plane * layout.BlocksPerPlane + unit;
            size_t planeFilled = 0;
            planeData[plane] = ReadBlock(layout, work, static_cast<size_t>(std::min<uint64_t>(index, SIZE_MAX)),
                                         uint64_t(chunk) * rowBytes, size_t(plane) * planeBytes, rowsSize, planeBytes,
                                         rows, planeFilled);
            filled = std::max(filled, planeFilled);
        }
        const uint32_t visible = std::min(rows, bandRows - chunk);
        // Rows the data do not reach are left as the fresh bitmap has them.
        const uint64_t held = (filled + rowBytes - 1) / std::max<uint64_t>(rowBytes, 1);
        if (filled < visible * rowBytes)
            Ended(log, firstRow + chunk + filled / std::max<uint64_t>(rowBytes, 1));
        for (uint32_t r = 0; r < visible; ++r) {
            if (r >= held) {
                if (!layout.Tiled)
                    RowsDone(log, 1, true);
                continue;
            }
            for (uint32_t plane = 0; plane < layout.Planes; ++plane) {
                const uint8_t* row = planeData[plane] + size_t(r) * rowBytes;
                if (layout.PredictorBytes) {
                    // Only decoded blocks have a predictor; they are in Rows.
                    uint8_t* own = work.Rows.data() + size_t(plane) * planeBytes + size_t(r) * rowBytes;
                    UndoPredictor(layout, own, pixels);
                    row = own;
                }
                sources[plane] = row;
            }
            uint8_t* line = ScanLine(static_cast<int>(firstRow + chunk + r)) + size_t(block.Across) * bitmapBytesPerBlock;
            if (layout.Grey12)
                Grey12To8(static_cast<const uint8_t*>(sources[0]), line, pixels);
            else
                cm.ConvertLine(sources, static_cast<int>(layout.Planes), line, pixels, 0xFF);
            if (!layout.Tiled)
                RowsDone(log, 1, true);
        }
        chunk += visible;
    }
    // A row of tiles is delivered once its last tile is in.
    if (block.Across + 1 == layout.BlocksAcross) {
        if (layout.Tiled)
            RowsDone(log, bandRows);
        BandDone(log, block.Band);
    }
}
