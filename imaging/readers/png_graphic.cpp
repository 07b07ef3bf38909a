#include "imaging/readers/png_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/compression/lz77_decoder.h"
#include "imaging/compression/png_filters.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <zlib.h>

PW_DEFINE_GRAPHIC_CLASS(TPNGGraphic, TRasterGraphic)

namespace {

constexpr uint8_t Signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr const char* Name = "PNG";
// The format's own bound on a chunk length.
constexpr uint32_t MaxChunkLength = 0x7FFFFFFF;
constexpr int PartialFlush = Z_PARTIAL_FLUSH;

constexpr TColor RGB(uint32_t red, uint32_t green, uint32_t blue)
{
    return red | (green << 8) | (blue << 16);
}

// 16-bit sample to 8 bits, truncating like the colour manager.
constexpr uint32_t Scale16To8(uint32_t v)
{
    return v * 255 / 65535;
}

struct TPass {
    uint32_t FirstRow, FirstColumn, RowStep, ColumnStep;
    uint8_t Mask;
};

constexpr TPass Adam7[7] = {
    {0, 0, 8, 8, 0x80}, {0, 4, 8, 8, 0x08}, {4, 0, 8, 4, 0x88}, {0, 2, 4, 4, 0x22},
    {2, 0, 4, 2, 0xAA}, {0, 1, 2, 2, 0x55}, {1, 0, 2, 1, 0xFF},
};

} // namespace

TPNGGraphic::TPNGGraphic() = default;
TPNGGraphic::~TPNGGraphic() = default;

bool TPNGGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    uint8_t bytes[8];
    const bool result = stream.Remaining() > 8 && stream.Read(bytes, 8) == 8 &&
                        std::memcmp(bytes, Signature, sizeof Signature) == 0;
    stream.SetPosition(position);
    return result;
}

// ---- Chunk primitives -------------------------------------------------------

void TPNGGraphic::ReadChunkHeader()
{
    uint8_t header[8];
    SourceStream->ReadBuffer(header, sizeof header);
    ChunkLength = LoadU32BE(header);
    std::memcpy(ChunkType, header + 4, 4);
    ChunkCRC = static_cast<uint32_t>(crc32(0, ChunkType, 4));
}

void TPNGGraphic::LoadChunk()
{
    // A length beyond the format's bound or beyond the stream is refused
    // before anything is allocated for it.
    if (ChunkLength > MaxChunkLength)
        RaiseInvalidFormat();
    const int64_t rest = StreamSize - SourceStream->Position();
    CheckDeclaredSize(Name, uint64_t(ChunkLength) + 4, rest > 0 ? static_cast<uint64_t>(rest) : 0);
    ChunkData.resize(ChunkLength);
    SourceStream->ReadBuffer(ChunkData.data(), ChunkLength);
    uint8_t stored[4];
    SourceStream->ReadBuffer(stored, sizeof stored);
    ChunkCRC = static_cast<uint32_t>(crc32(ChunkCRC, ChunkData.data(), ChunkLength));
    if (ChunkCRC != LoadU32BE(stored))
        RaiseImageErrorFmt(msg::CRCError, Name);
}

int64_t TPNGGraphic::SkipChunk()
{
    return SourceStream->Seek(int64_t(ChunkLength) + 4, soCurrent);
}

bool TPNGGraphic::IsChunk(const char* name) const
{
    for (int i = 0; i < 4; ++i)
        if ((ChunkType[i] & 0xDF) != (static_cast<uint8_t>(name[i]) & 0xDF))
            return false;
    return true;
}

TPNGGraphic::THeader TPNGGraphic::HeaderFromChunk() const
{
    const uint8_t* d = ChunkData.data();
    THeader header;
    header.Width = LoadU32BE(d);
    header.Height = LoadU32BE(d + 4);
    header.BitDepth = d[8];
    header.ColorType = d[9];
    header.Compression = d[10];
    header.Filter = d[11];
    header.Interlace = d[12];
    return header;
}

// ---- Properties -------------------------------------------------------------

bool TPNGGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    SourceStream = &stream;
    StreamSize = stream.Size();
    uint8_t signature[8];
    if (stream.Read(signature, sizeof signature) != sizeof signature ||
        std::memcmp(signature, Signature, sizeof Signature) != 0)
        return false;
    int64_t position = stream.Position();
    if (StreamSize - position < 8)
        return false;
    ReadChunkHeader();
    if (!IsChunk("IHDR") || ChunkLength != 13)
        return false;
    ImageProperties.Flags |= ifBigEndian;
    LoadChunk();
    const THeader header = HeaderFromChunk();
    if (header.Width == 0 || header.Height == 0)
        return false;

    TImageProperties& p = ImageProperties;
    p.Width = header.Width;
    p.Height = header.Height;
    p.CompressionKind = header.Compression == 0 ? ckDeflate : ckUnknown;
    p.BitsPerSample = header.BitDepth;
    p.SamplesPerPixel = 1;
    switch (header.ColorType) {
    case 0:
        p.PixelScheme = psGray;
        break;
    case 2:
        p.PixelScheme = psRGB;
        p.SamplesPerPixel = 3;
        break;
    case 3:
        p.PixelScheme = psIndexed;
        break;
    case 4:
        p.PixelScheme = psGrayAlpha;
        p.SamplesPerPixel = 2;
        break;
    case 6:
        p.PixelScheme = psRGBA;
        p.SamplesPerPixel = 4;
        break;
    default:
        p.PixelScheme = psUnknown;
        break;
    }
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    p.PNGFilterMethod = header.Filter;
    p.IsInterlaced = header.Interlace != 0;
    p.AlphaPresent = p.PixelScheme == psGrayAlpha || p.PixelScheme == psRGBA || p.PixelScheme == psBGRA;

    // The gamma of the first gAMA chunk; a stream that ends before IEND still
    // has the properties read so far (the loader reports the damage).
    for (position = stream.Position(); StreamSize - position >= 8;) {
        ReadChunkHeader();
        if (IsChunk("gAMA")) {
            LoadChunk();
            if (ChunkLength == 4)
                p.Gamma = static_cast<float>(LoadU32BE(ChunkData.data())) / 100000.0f;
            return true;
        }
        const bool end = IsChunk("IEND");
        position = SkipChunk();
        if (end)
            break;
    }
    return true;
}

// ---- Loader -----------------------------------------------------------------

void TPNGGraphic::LoadFromStream(TStream& stream)
{
    FreeImage();
    BasePosition = static_cast<int32_t>(stream.Position());
    SourceStream = &stream;
    DeflateDecoder.reset();
    if (!LoadProperties(stream, 0))
        RaiseInvalidFormat();

    stream.SetPosition(int64_t(BasePosition) + 8);
    ProgressRect = TRect{0, 0, static_cast<int32_t>(ImageProperties.Width), 1};
    Progress(this, psStarting, 0, false, ProgressRect, msg::Preparing);

    PendingPalette.reset();
    FillColor = 0xFFFFFF;
    KeyColor = clNone;
    GrayKeySample = -1;
    ColorManagerReady = false;
    ImageDataSeen = false;
    RowsFilled = 0;
    IDATLeft = 0;
    IDATCursor = nullptr;
    ChunkData.clear();
    // 16-bit samples are big-endian; no gamma unless this file asks for it
    // (the colour manager outlives a load).
    ColorManager().SetSourceFlags(sfSwapBytes);
    ColorManager().SetTargetFlags(0);

    try {
        ReadChunkHeader();
        LoadChunk();
        Header = HeaderFromChunk();
        if (ImageProperties.CompressionKind != ckDeflate)
            RaiseImageErrorFmt(msg::NotSupported, msg::CompressionScheme, Name);
        auto decoder = std::make_unique<TLZ77Decoder>(PartialFlush, false);
        decoder->ExpandStart();
        DeflateDecoder = std::move(decoder);
        RunChunkLoop();
    } catch (...) {
        // Rows of a plain image that were never delivered show the
        // background, as if the bitmap had been filled before decoding.
        try {
            if (ImageDataSeen && Header.Interlace != 1 && RowsFilled < Header.Height && !Empty())
                FillRows(RowsFilled, Header.Height);
        } catch (...) {
        }
        try {
            FinishLoad();
        } catch (...) {
        }
        throw;
    }
    FinishLoad();
}

void TPNGGraphic::FinishLoad()
{
    ChunkData = std::vector<uint8_t>();
    IDATCursor = nullptr;
    IDATLeft = 0;
    std::unique_ptr<TLZ77Decoder> decoder = std::move(DeflateDecoder);
    EndProgress();
    if (decoder)
        decoder->ExpandFinish();
}

void TPNGGraphic::RunChunkLoop()
{
    for (;;) {
        ReadChunkHeader();
        if (IsChunk("IDAT") && !ImageDataSeen) {
            EndProgress();
            // Leaves the chunk after the image data current; it goes through
            // the skip below.
            DecodeImageData();
        } else if (IsChunk("PLTE")) {
            if (ChunkLength % 3 != 0)
                RaiseImageErrorFmt(msg::InvalidPalette, Name);
            LoadChunk();
            if (Header.ColorType == 3) {
                PixelBytes = SetupColorManager(3, Header.BitDepth);
                PendingPalette = ColorManager().MakeColorPalette({ChunkData.data()}, plInterleaved8x3,
                                                                 ChunkLength / 3, false);
            }
            continue;
        } else if (IsChunk("gAMA")) {
            LoadChunk();
            if (ChunkLength == 4)
                ApplyGamma(ChunkData.data());
            continue;
        } else if (IsChunk("bKGD")) {
            ReadBackground();
            continue;
        } else if (IsChunk("tRNS")) {
            ReadTransparency();
            continue;
        }
        // Everything else, including a second run of image data (which would
        // decode the whole image again), is skipped or refused here.
        const bool end = IsChunk("IEND");
        const bool critical = (ChunkType[0] & 0x20) == 0;
        SkipChunk();
        if (end)
            return;
        if (critical)
            RaiseImageError(msg::PNGCriticalChunk);
    }
}

void TPNGGraphic::ApplyGamma(const uint8_t* data)
{
    TColorManager& cm = ColorManager();
    // The table is looked up with 8-bit values (palette entries and 8-bit
    // targets), whatever depths the manager holds at this moment.
    const uint8_t sourceBits = cm.SourceBits();
    const uint8_t targetBits = cm.TargetBits();
    cm.SetSourceBits(8);
    cm.SetTargetBits(8);
    cm.SetGammaValues(static_cast<float>(LoadU32BE(data)) / 100000.0f, 2.2f);
    cm.SetSourceBits(sourceBits);
    cm.SetTargetBits(targetBits);
    cm.SetTargetFlags(cm.TargetFlags() | sfGamma);
    ImageProperties.Flags |= ifGammaApplied;
}

uint32_t TPNGGraphic::SetupColorManager(uint8_t colorType, uint8_t bitDepth)
{
    TColorManager& cm = ColorManager();
    const auto invalid = [] { RaiseImageErrorFmt(msg::InvalidColorFormat, Name); };
    const auto source = [&cm, bitDepth](TPixelScheme scheme, uint8_t samples) {
        cm.SetSourceScheme(scheme);
        cm.SetSourceSamples(samples);
        cm.SetSourceBits(bitDepth);
    };
    const auto target = [&cm](TPixelScheme scheme, uint8_t samples, uint8_t bits) {
        cm.SetTargetScheme(scheme);
        cm.SetTargetSamples(samples);
        cm.SetTargetBits(bits);
    };
    const bool wide = bitDepth == 8 || bitDepth == 16;
    uint32_t pixelBytes = 0;
    switch (colorType) {
    case 0:
        if (bitDepth != 1 && bitDepth != 2 && bitDepth != 4 && !wide)
            invalid();
        source(psGray, 1);
        target(psGray, 1, bitDepth == 2 ? 4 : bitDepth == 16 ? 8 : bitDepth);
        SetPixelFormat(cm.BitmapFormatOf(1));
        PendingPalette = cm.MakeGrayPalette(false);
        pixelBytes = (bitDepth + 7) / 8;
        break;
    case 2:
        if (!wide)
            invalid();
        source(psRGB, 3);
        target(psBGR, 3, 8);
        SetPixelFormat(bf24Bit);
        pixelBytes = bitDepth * 3 / 8;
        break;
    case 3:
        if (bitDepth != 1 && bitDepth != 2 && bitDepth != 4 && bitDepth != 8)
            invalid();
        source(psIndexed, 1);
        target(psIndexed, 1, bitDepth == 2 ? 4 : bitDepth);
        SetPixelFormat(cm.BitmapFormatOf(1));
        pixelBytes = 1;
        break;
    case 4:
        if (!wide)
            invalid();
        source(psGrayAlpha, 2);
        target(psIndexed, 1, 8);
        SetPixelFormat(bf8Bit);
        PendingPalette = cm.MakeGrayPalette(false);
        pixelBytes = bitDepth * 2 / 8;
        break;
    case 6:
        if (!wide)
            invalid();
        source(psRGBA, 4);
        target(psBGRA, 4, 8);
        SetPixelFormat(bf32Bit);
        SetAlphaPresent(true);
        pixelBytes = bitDepth * 4 / 8;
        break;
    default:
        invalid();
    }
    ColorManagerReady = true;
    return pixelBytes;
}

// ---- Image data -------------------------------------------------------------

void TPNGGraphic::DecodeImageData()
{
    ImageDataSeen = true;
    Progress(this, psStarting, 0, false, ProgressRect, msg::Transfering);
    if (!ColorManagerReady)
        PixelBytes = SetupColorManager(Header.ColorType, Header.BitDepth);
    const uint32_t stride = Header.BitDepth == 16 ? PixelBytes / 2 : PixelBytes;

    const uint32_t width = Header.Width;
    const uint32_t height = Header.Height;
    CheckImageSize(Name, width, height, static_cast<uint32_t>(BitsPerPixelOf(PixelFormat())));
    if (PendingPalette)
        SetPalette(PendingPalette);
    SetSize(static_cast<int>(width), static_cast<int>(height));
    ResolveGrayKey();
    if (KeyColor != clNone) {
        SetTransparentColor(KeyColor);
        SetTransparent(true);
    }

    // Both sides are at most 2^20 after the size check, so nothing overflows.
    const auto rowSizeOf = [&](uint64_t pixels) {
        return static_cast<uint32_t>((pixels * Header.BitDepth + 7) / 8 * stride + 1);
    };
    const uint32_t rowSize = rowSizeOf(width);
    CheckBufferSize(Name, uint64_t(rowSize) * 2, 1);
    std::vector<uint8_t> buffers(size_t(rowSize) * 2, 0);
    uint8_t* previous = buffers.data();
    uint8_t* current = buffers.data() + rowSize;

    // Every row of a plain image is overwritten, so only an interlaced one
    // is filled first; a plain load cut short fills the rows it did not reach.
    if (Header.Interlace == 1) {
        FillRows(0, height);
        for (int pass = 0; pass < 7; ++pass) {
            const TPass& p = Adam7[pass];
            if (width <= p.FirstColumn)
                continue;
            const uint32_t passSize = rowSizeOf((width + p.ColumnStep - p.FirstColumn - 1) / p.ColumnStep);
            std::memset(previous, 0, passSize);
            DecodeRows(current, previous, p.FirstRow, p.RowStep, passSize, p.Mask, pass == 6);
        }
    } else {
        DecodeRows(current, previous, 0, 1, rowSize, 0xFF, true);
    }

    while (IsChunk("IDAT")) {
        LoadChunk();
        ReadChunkHeader();
    }
}

void TPNGGraphic::DecodeRows(uint8_t*& current, uint8_t*& previous, uint32_t firstRow, uint32_t rowStep,
                             uint32_t rowSize, uint8_t mask, bool lastPass)
{
    TColorManager& cm = ColorManager();
    const uint32_t width = Header.Width;
    const uint32_t height = Header.Height;
    const bool plain = mask == 0xFF && rowStep == 1;
    for (uint32_t y = firstRow; y < height; y += rowStep) {
        ReadRowBytes(current, rowSize);
        pwpng::simd::UnfilterRow(current[0], current + 1, previous + 1, rowSize - 1, PixelBytes);
        cm.ConvertLine({static_cast<const void*>(current + 1)}, ScanLine(static_cast<int>(y)), width, mask);
        std::swap(current, previous);
        if (plain) {
            RowsFilled = y + 1;
            RowDone(y, height);
        } else if (lastPass) {
            RowDone(std::min(y + rowStep, height), height);
        }
    }
}

void TPNGGraphic::ReadRowBytes(uint8_t* buffer, uint32_t count)
{
    uint8_t* target = buffer;
    size_t wanted = count;
    while (wanted > 0) {
        if (DeflateDecoder->LastResult() == Z_STREAM_END)
            RaiseImageErrorFmt(msg::ExtraCompressedData, Name);
        // Whole IDAT chunks feed the decoder; zero-length ones are passed over.
        bool dataEnded = false;
        while (IDATLeft == 0) {
            if (!IsChunk("IDAT")) {
                dataEnded = true;
                break;
            }
            LoadChunk();
            IDATCursor = ChunkData.data();
            IDATLeft = ChunkLength;
            ReadChunkHeader();
        }
        // After the last chunk the decoder may still hold output for which it
        // needs no more input; ask once, with nothing to read.
        const TExpandResult r = DeflateDecoder->Expand(IDATCursor, IDATLeft, target, wanted, IDATLeft, wanted);
        IDATLeft -= static_cast<uint32_t>(r.Consumed);
        wanted -= r.Produced;
        const int result = DeflateDecoder->LastResult();
        if (result == Z_STREAM_END) {
            if (wanted > 0 || IDATLeft > 0)
                RaiseImageErrorFmt(msg::ExtraCompressedData, Name);
            return;
        }
        if (dataEnded) {
            // The image data stop short: the rest of the row keeps what the
            // buffer held.
            if (r.Produced == 0 && (result == Z_OK || result == Z_BUF_ERROR))
                return;
        } else if (r.Consumed == 0 && r.Produced == 0) {
            // Input and room but no progress: refuse rather than loop.
            RaiseImageErrorFmt(msg::CompressionError, Name);
        }
        if (result != Z_OK && result != Z_BUF_ERROR)
            RaiseImageErrorFmt(msg::CompressionError, Name);
    }
}

// ---- Background and transparency --------------------------------------------

void TPNGGraphic::ReadBackground()
{
    LoadChunk();
    const uint8_t* d = ChunkData.data();
    switch (Header.ColorType) {
    case 0:
    case 4:
        if (ChunkLength >= 2) {
            const uint32_t v = LoadU16BE(d);
            FillColor = Header.BitDepth == 2 ? v * 15 / 3 : Header.BitDepth == 16 ? Scale16To8(v) : v & 0xFF;
        }
        break;
    case 2:
    case 6:
        if (ChunkLength >= 6) {
            uint32_t rgb[3];
            for (int i = 0; i < 3; ++i) {
                const uint32_t v = LoadU16BE(d + 2 * i);
                rgb[i] = Header.BitDepth == 16 ? Scale16To8(v) : v & 0xFF;
            }
            FillColor = RGB(rgb[0], rgb[1], rgb[2]);
        }
        break;
    default:
        // A palette index, spread like the pixels of a 2-bit image.
        if (ChunkLength >= 1)
            FillColor = Header.BitDepth == 2 ? d[0] * 15u / 3 : d[0];
        break;
    }
}

void TPNGGraphic::ReadTransparency()
{
    LoadChunk();
    const uint8_t* d = ChunkData.data();
    if (Header.ColorType == 0 && ChunkLength >= 2) {
        const uint32_t v = LoadU16BE(d);
        if (Header.BitDepth == 16) {
            const uint32_t g = Scale16To8(v);
            KeyColor = RGB(g, g, g);
        } else if (Header.BitDepth == 8) {
            KeyColor = RGB(v & 0xFF, v & 0xFF, v & 0xFF);
        } else {
            GrayKeySample = static_cast<int32_t>(v);
        }
    } else if (Header.ColorType == 2 && ChunkLength >= 6) {
        uint32_t rgb[3];
        for (int i = 0; i < 3; ++i) {
            const uint32_t v = LoadU16BE(d + 2 * i);
            rgb[i] = Header.BitDepth == 16 ? Scale16To8(v) : v & 0xFF;
        }
        KeyColor = RGB(rgb[0], rgb[1], rgb[2]);
    }
}

// A 1, 2 or 4-bit grey key becomes the colour the bitmap shows for that
// sample: the grey palette entry it is converted to. A sample outside the
// depth's range matches no pixel and gives no key.
void TPNGGraphic::ResolveGrayKey()
{
    if (GrayKeySample < 0)
        return;
    const int32_t top = (1 << Header.BitDepth) - 1;
    if (GrayKeySample > top)
        return;
    const int index = Header.BitDepth == 2 ? GrayKeySample * 15 / 3 : GrayKeySample;
    const TPaletteEntry e = PaletteColor(index);
    KeyColor = RGB(e.peRed, e.peGreen, e.peBlue);
}

// Rows [firstRow, lastRow) take FillColor: an index for indexed and grey
// bitmaps, a colour for the others.
void TPNGGraphic::FillRows(uint32_t firstRow, uint32_t lastRow)
{
    const int bits = BitsPerPixel();
    const size_t rowBytes = static_cast<size_t>(RowStride());
    uint8_t pattern[4] = {};
    size_t patternSize = 1;
    switch (PixelFormat()) {
    case bf1Bit:
        pattern[0] = (FillColor & 1) ? 0xFF : 0x00;
        break;
    case bf4Bit:
        pattern[0] = static_cast<uint8_t>((FillColor & 0x0F) * 0x11);
        break;
    case bf8Bit:
        pattern[0] = static_cast<uint8_t>(FillColor);
        break;
    default:
        pattern[0] = static_cast<uint8_t>(FillColor >> 16);
        pattern[1] = static_cast<uint8_t>(FillColor >> 8);
        pattern[2] = static_cast<uint8_t>(FillColor);
        pattern[3] = 0xFF;
        patternSize = bits == 32 ? 4 : 3;
        break;
    }
    for (uint32_t y = firstRow; y < lastRow; ++y) {
        uint8_t* row = ScanLine(static_cast<int>(y));
        if (patternSize == 1) {
            std::memset(row, pattern[0], rowBytes);
        } else {
            const size_t pixels = static_cast<size_t>(Width());
            for (size_t x = 0; x < pixels; ++x)
                std::memcpy(row + x * patternSize, pattern, patternSize);
        }
    }
}
