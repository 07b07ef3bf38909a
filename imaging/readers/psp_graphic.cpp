#include "imaging/readers/psp_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/compression/lz77_decoder.h"
#include "imaging/compression/run_length_decoders.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/streams.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cfloat>
#include <cmath>

PW_DEFINE_GRAPHIC_CLASS(TPSPGraphic, TRasterGraphic)

namespace {

constexpr int FileHeaderSize = 36;
constexpr char Signature[] = "Paint Shop Pro Image File";
constexpr size_t SignatureLength = sizeof(Signature) - 1;
// Bytes of the layer information block; its first byte is the layer type.
constexpr int LayerInfoSize = 115;
constexpr uint16_t PaletteBlock = 2;
constexpr uint16_t LayerBankBlock = 3;
constexpr uint16_t LayerBlock = 4;

TCompressionKind CompressionOf(uint16_t code)
{
    switch (code) {
    case 0: return ckNone;
    case 1: return ckRunLength;
    case 2: return ckDeflate;
    case 3: return ckJPEG;
    default: return ckUnknown;
    }
}

uint8_t ClampByte(uint32_t value)
{
    return static_cast<uint8_t>(std::min<uint32_t>(value, 255));
}

// A resolution that no float holds counts as unknown.
float ResolutionOf(double value)
{
    return std::isfinite(value) && std::fabs(value) <= FLT_MAX ? static_cast<float>(value) : 0.0f;
}

} // namespace

bool TPSPGraphic::HasSignature(TByteReader& in, uint16_t& majorVersion)
{
    char text[32];
    in.Bytes(text, sizeof(text));
    majorVersion = in.U16LE();
    in.U16LE(); // minor version
    bool same = true;
    for (size_t i = 0; i < SignatureLength; ++i)
        same = same && std::tolower(static_cast<unsigned char>(text[i])) ==
                           std::tolower(static_cast<unsigned char>(Signature[i]));
    return same && majorVersion >= 3;
}

bool TPSPGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    bool result = false;
    if (stream.Remaining() > FileHeaderSize) {
        TByteReader in(stream);
        uint16_t major = 0;
        result = HasSignature(in, major);
    }
    stream.SetPosition(position);
    return result;
}

bool TPSPGraphic::ReadBlockHeader(TByteReader& in, TBlockHeader& header) const
{
    if (in.Remaining() == 0)
        return false;
    in.Bytes(header.Identifier, 4);
    header.Type = in.U16LE();
    if (ImageProperties.FormatVersion == 3)
        in.U32LE(); // initial length
    header.Length = in.U32LE();
    return true;
}

void TPSPGraphic::ReadAttributes(TByteReader& in)
{
    TBlockHeader block;
    if (!ReadBlockHeader(in, block))
        in.Fail();
    const int64_t start = in.Position();
    if (ImageProperties.FormatVersion > 3)
        in.Skip(4); // chunk length
    TImageProperties& p = ImageProperties;
    p.Width = in.U32LE();
    p.Height = in.U32LE();
    const uint64_t low = in.U32LE();
    const double resolution = std::bit_cast<double>(low | (uint64_t(in.U32LE()) << 32));
    const uint8_t unit = in.U8();
    p.CompressionKind = CompressionOf(in.U16LE());
    const uint16_t depth = in.U16LE();
    in.U16LE(); // plane count
    in.U32LE(); // colour count
    const bool grey = in.U8() != 0;
    in.Skip(4 + 4 + 2 + 4); // total image size, active layer, layer count, further fields
    if (depth == 24) {
        p.BitsPerSample = 8;
        p.SamplesPerPixel = 3;
        p.PixelScheme = psRGB;
    } else {
        p.BitsPerSample = ClampByte(depth);
        p.SamplesPerPixel = 1;
        p.PixelScheme = grey ? psGray : psIndexed;
    }
    p.BitsPerPixel = ClampByte(uint32_t(p.BitsPerSample) * p.SamplesPerPixel);
    p.XResolution = ResolutionOf(unit == 2 ? resolution * 2.54 : resolution); // unit 2: per centimetre
    p.YResolution = p.XResolution;
    in.Stream().SetPosition(start + block.Length);
}

bool TPSPGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    TByteReader in(stream);
    uint16_t major = 0;
    if (!HasSignature(in, major))
        return false;
    ImageProperties.FormatVersion = major;
    ReadAttributes(in);
    return true;
}

uint32_t TPSPGraphic::ChannelStride() const
{
    const uint32_t width = ImageProperties.Width;
    switch (ImageProperties.BitsPerSample) {
    case 1: return (width + 7) / 8;
    case 4: return width / 2 + 1; // one byte more than the samples need when the width is even
    default: return width;
    }
}

void TPSPGraphic::LoadFromStream(TStream& stream)
{
    // LoadProperties leaves the stream after the attributes block.
    BeginLoad(stream, msg::Preparing);
    const TImageProperties& p = ImageProperties;

    // Depths 1, 4, 8 and 24 (stored as three 8-bit channels).
    const bool single = p.SamplesPerPixel == 1 &&
                        (p.BitsPerSample == 1 || p.BitsPerSample == 4 || p.BitsPerSample == 8);
    if (!single && p.PixelScheme != psRGB)
        RaiseImageErrorFmt(msg::InvalidColorFormat, DisplayName());
    TColorManager& cm = ColorManager();
    cm.SetSourceFlags(0);
    cm.SetSourceBits(p.BitsPerSample);
    cm.SetTargetBits(p.BitsPerSample);
    cm.SetSourceSamples(p.SamplesPerPixel);
    cm.SetTargetSamples(p.SamplesPerPixel);
    cm.SetSourceScheme(p.PixelScheme);
    cm.SetTargetScheme(p.PixelScheme == psRGB ? psBGR : p.PixelScheme);
    const TBitmapFormat format = cm.BitmapFormatOf(1);
    CheckImageSize(DisplayName(), p.Width, p.Height, static_cast<uint32_t>(BitsPerPixelOf(format)));
    SetPixelFormat(format);
    SetSize(static_cast<int>(p.Width), static_cast<int>(p.Height));
    EndProgress();

    TByteReader in(stream);
    TBlockHeader block;
    while (ReadBlockHeader(in, block)) {
        const int64_t blockEnd = in.Position() + block.Length;
        if (block.Identifier[0] != '~')
            break;
        if (block.Type == PaletteBlock)
            ReadPalette(in);
        else if (block.Type == LayerBankBlock)
            ReadLayerBank(in);
        // A block end past the end of the file ends the loop at the next header.
        stream.SetPosition(blockEnd);
    }
}

void TPSPGraphic::ReadPalette(TByteReader& in)
{
    if (ImageProperties.FormatVersion > 3)
        in.Skip(4); // chunk length
    // Blue, green, red and a spare byte per entry; indices reach 256 entries
    // at most, so entries past them are left in the block.
    const uint32_t count = std::min<uint32_t>(in.U32LE(), 256);
    uint8_t entries[256 * 4];
    in.Bytes(entries, 4 * int64_t(count));
    if (count > 0)
        SetPalette(ColorManager().MakeColorPalette({entries}, plInterleaved8x4, count, true));
}

void TPSPGraphic::ReadLayerBank(TByteReader& in)
{
    TBlockHeader block;
    while (ReadBlockHeader(in, block)) {
        StartProgress(msg::LoadingData);
        const int64_t layerEnd = in.Position() + block.Length;
        if (block.Type != LayerBlock || ReadLayer(in))
            return;
        in.Stream().SetPosition(layerEnd);
    }
}

bool TPSPGraphic::ReadLayer(TByteReader& in)
{
    const bool version3 = ImageProperties.FormatVersion == 3;
    uint8_t layerType;
    if (version3) {
        in.Skip(256); // name
        layerType = in.U8();
        in.Skip(LayerInfoSize - 1);
    } else {
        const int64_t chunkStart = in.Position();
        const uint32_t chunkLength = in.U32LE();
        in.Skip(in.U16LE()); // name
        layerType = in.U8();
        in.Skip(LayerInfoSize - 1);
        if (layerType < 2)
            in.Seek(chunkStart + chunkLength);
    }
    // Version 3 draws layers of type 0; later versions types 0 (undefined)
    // and 1 (raster).
    if (version3 ? layerType != 0 : layerType >= 2)
        return false;

    int64_t bitmapChunk = 0;
    uint32_t bitmapChunkLength = 0;
    if (!version3) {
        bitmapChunk = in.Position();
        bitmapChunkLength = in.U32LE();
    }
    in.U16LE(); // bitmap count
    const uint16_t channelCount = in.U16LE();
    if (channelCount > 3) {
        ColorManager().SetTargetScheme(psBGRA);
        CheckImageSize(DisplayName(), ImageProperties.Width, ImageProperties.Height, 32);
        SetPixelFormat(bf32Bit);
    }
    if (!version3)
        in.Seek(bitmapChunk + bitmapChunkLength);

    TChannels channels;
    for (uint16_t i = 0; i < channelCount; ++i)
        ReadChannel(in, channels);
    EndProgress();
    TransferRows(channels);
    return true;
}

void TPSPGraphic::ReadChannel(TByteReader& in, TChannels& channels)
{
    TBlockHeader block;
    if (!ReadBlockHeader(in, block))
        in.Fail();
    const int64_t channelEnd = in.Position() + block.Length;
    if (ImageProperties.FormatVersion > 3)
        in.Skip(4); // chunk length
    const uint32_t packedLength = in.U32LE();
    const uint32_t unpackedLength = in.U32LE();
    in.U16LE(); // bitmap type
    const uint16_t channelType = in.U16LE();
    if (channelType > 3) {
        // A channel this reader does not draw is passed over whole, so that
        // the next channel is read from its own header.
        in.Seek(channelEnd);
        return;
    }
    const TCompressionKind kind = ImageProperties.CompressionKind;
    if (kind != ckNone && kind != ckRunLength && kind != ckDeflate)
        RaiseImageErrorFmt(msg::NotSupported, msg::CompressionScheme, DisplayName());

    // Longer data are cut at the declared rows. The buffer holds the rows the channel's bytes can fill, not the rows
    // the header declares: a run gives at most 127 bytes from 2, a Deflate
    // byte at most 1032.
    const uint64_t stride = ChannelStride();
    const uint64_t size = CheckBufferSize(DisplayName(), stride, ImageProperties.Height);
    if (packedLength > in.Remaining())
        in.Fail();
    const uint64_t reach = kind == ckNone ? packedLength : kind == ckRunLength ? 64 * uint64_t(packedLength) + 127
                                                                               : 1032 * uint64_t(packedLength) + 1032;
    const uint64_t held = stride == 0 ? 0 : std::min<uint64_t>(size, (reach + stride - 1) / stride * stride);
    std::vector<uint8_t>& buffer = channels[channelType];
    buffer.assign(held, 0);
    uint64_t produced = 0;
    if (kind == ckNone || held == 0) {
        produced = std::min<uint64_t>(packedLength, held);
        in.Bytes(buffer.data(), static_cast<int64_t>(produced));
        in.Skip(packedLength - static_cast<int64_t>(produced));
    } else {
        std::vector<uint8_t> packed(packedLength);
        in.Bytes(packed.data(), packedLength);
        const uint8_t* source = packed.data();
        uint8_t* target = buffer.data();
        if (kind == ckRunLength) {
            TPSPRLEDecoder decoder;
            decoder.ExpandStart();
            produced = decoder.Expand(source, packedLength, target, held, packedLength, unpackedLength).Produced;
            decoder.ExpandFinish();
        } else {
            TLZ77Decoder decoder(Z_FINISH, false);
            decoder.ExpandStart();
            produced = decoder.Expand(source, packedLength, target, held, packedLength, unpackedLength).Produced;
            decoder.ExpandFinish();
        }
    }
    if (stride > 0 && produced < size)
        NoteEarlyEnd(produced / stride);
    // Rows begun count as held; their missing end stays 0.
    buffer.resize(std::min<uint64_t>(held, (produced + stride - 1) / std::max<uint64_t>(stride, 1) * stride));
}

void TPSPGraphic::TransferRows(TChannels& channels)
{
    StartProgress(msg::Transfering);
    if (!Empty()) {
        TColorManager& cm = ColorManager();
        const bool color = cm.TargetScheme() != psIndexed && cm.TargetScheme() != psGray;
        const uint32_t stride = ChannelStride();
        const uint32_t height = ImageProperties.Height;
        // Only the rows some channel holds are written; a channel that ends
        // sooner, or is missing, reads as 0 there.
        size_t rows = 0;
        for (const auto& channel : channels)
            rows = std::max<size_t>(rows, stride ? channel.size() / stride : 0);
        const std::vector<uint8_t> zero(stride, 0);
        const auto row = [&](int type, uint32_t y) -> const void* {
            const std::vector<uint8_t>& channel = channels[type];
            const size_t offset = size_t(y) * stride;
            return offset < channel.size() ? channel.data() + offset : zero.data();
        };
        const void* planes[4] = {};
        const int planeCount = color ? (channels[0].empty() ? 3 : 4) : 1;
        for (uint32_t y = 0; y < rows; ++y) {
            if (color) {
                for (int k = 0; k < 3; ++k)
                    planes[k] = row(k + 1, y);
                if (planeCount == 4)
                    planes[3] = row(0, y);
            } else {
                planes[0] = row(0, y);
            }
            cm.ConvertLine(planes, planeCount, ScanLine(static_cast<int>(y)), ImageProperties.Width);
            RowDone(y, height);
        }
    }
    EndProgress();
}
