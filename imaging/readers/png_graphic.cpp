#include "imaging/readers/png_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/compression/lz77_decoder.h"
#include "imaging/compression/png_filters.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/large_memory.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <zlib.h>

PW_DEFINE_GRAPHIC_CLASS(TPNGGraphic, TRasterGraphic)

namespace {

constexpr uint8_t Signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr const char* Name = "PNG";
constexpr uint32_t HeaderChunkLength = 13;
constexpr uint8_t DeflateMethod = 0;     // IHDR compression method
constexpr uint8_t AdaptiveFiltering = 0; // IHDR filter method: a filter type per row
// The format's own bound on a chunk length.
constexpr uint32_t MaxChunkLength = 0x7FFFFFFF;
constexpr int PartialFlush = Z_PARTIAL_FLUSH;

// Reads 8 bytes; true when they are the signature.
bool ReadSignature(TStream& stream)
{
    uint8_t bytes[sizeof Signature];
    return stream.Read(bytes, sizeof bytes) == sizeof bytes && std::memcmp(bytes, Signature, sizeof bytes) == 0;
}

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

struct TDecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// Holds the gathered image data: mapped when large, uninitialised; null
// when the memory cannot be had. Its pages are made present beside the
// gathering, which fills them.
std::unique_ptr<uint8_t, void (*)(void*)> AllocateBlock(size_t size)
{
    if (size >= pwmemory::MappedFrom) {
        if (uint8_t* p = pwmemory::MapLargeBlock(size, true))
            return {p, &pwmemory::UnmapLargeBlock};
    }
    return {static_cast<uint8_t*>(std::malloc(std::max<size_t>(size, 1))), &std::free};
}

} // namespace

TPNGGraphic::TPNGGraphic() = default;
TPNGGraphic::~TPNGGraphic() = default;

bool TPNGGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    const bool result = stream.Remaining() > 8 && ReadSignature(stream);
    stream.SetPosition(position);
    return result;
}

TPNGGraphic::THeaderFault TPNGGraphic::CheckHeader(const THeader& h)
{
    if (h.Width == 0 || h.Height == 0 || h.Filter != AdaptiveFiltering ||
        (h.Interlace != ilNone && h.Interlace != ilAdam7))
        return THeaderFault::Format;
    if (h.Compression != DeflateMethod)
        return THeaderFault::Compression;
    const uint8_t depth = h.BitDepth;
    const bool wide = depth == 8 || depth == 16;
    bool valid = false;
    switch (h.ColorType) {
    case ctGray:
        valid = depth == 1 || depth == 2 || depth == 4 || wide;
        break;
    case ctIndexed:
        valid = depth == 1 || depth == 2 || depth == 4 || depth == 8;
        break;
    case ctRGB:
    case ctGrayAlpha:
    case ctRGBA:
        valid = wide;
        break;
    default:
        break;
    }
    return valid ? THeaderFault::None : THeaderFault::ColorFormat;
}

// ---- Chunk primitives -------------------------------------------------------

void TPNGGraphic::ReadChunkHeader()
{
    uint8_t header[8];
    SourceStream->ReadBuffer(header, sizeof header);
    State.ChunkLength = LoadU32BE(header);
    std::memcpy(State.ChunkType, header + 4, 4);
    State.ChunkCRC = static_cast<uint32_t>(crc32(0, State.ChunkType, 4));
}

void TPNGGraphic::LoadChunk()
{
    // A length beyond the format's bound or beyond the stream is refused
    // before anything is allocated for it.
    if (State.ChunkLength > MaxChunkLength)
        RaiseInvalidFormat();
    const int64_t rest = State.StreamSize - SourceStream->Position();
    CheckDeclaredSize(Name, uint64_t(State.ChunkLength) + 4, rest > 0 ? static_cast<uint64_t>(rest) : 0);
    State.ChunkData.resize(State.ChunkLength);
    SourceStream->ReadBuffer(State.ChunkData.data(), State.ChunkLength);
    uint8_t stored[4];
    SourceStream->ReadBuffer(stored, sizeof stored);
    State.ChunkCRC = static_cast<uint32_t>(crc32(State.ChunkCRC, State.ChunkData.data(), State.ChunkLength));
    if (State.ChunkCRC != LoadU32BE(stored))
        RaiseImageErrorFmt(msg::CRCError, Name);
}

int64_t TPNGGraphic::SkipChunk()
{
    return SourceStream->Seek(int64_t(State.ChunkLength) + 4, soCurrent);
}

bool TPNGGraphic::IsChunk(const char* name) const
{
    for (int i = 0; i < 4; ++i)
        if ((State.ChunkType[i] & 0xDF) != (static_cast<uint8_t>(name[i]) & 0xDF))
            return false;
    return true;
}

TPNGGraphic::THeader TPNGGraphic::HeaderFromChunk() const
{
    const uint8_t* d = State.ChunkData.data();
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
    State.StreamSize = stream.Size();
    if (!ReadSignature(stream))
        return false;
    int64_t position = stream.Position();
    if (State.StreamSize - position < 8)
        return false;
    ReadChunkHeader();
    if (!IsChunk("IHDR") || State.ChunkLength != HeaderChunkLength)
        return false;
    ImageProperties.Flags |= ifBigEndian;
    LoadChunk();
    const THeader header = HeaderFromChunk();
    if (CheckHeader(header) == THeaderFault::Format)
        return false;

    TImageProperties& p = ImageProperties;
    p.Width = header.Width;
    p.Height = header.Height;
    p.CompressionKind = header.Compression == DeflateMethod ? ckDeflate : ckUnknown;
    p.BitsPerSample = header.BitDepth;
    p.SamplesPerPixel = 1;
    switch (header.ColorType) {
    case ctGray:
        p.PixelScheme = psGray;
        break;
    case ctRGB:
        p.PixelScheme = psRGB;
        p.SamplesPerPixel = 3;
        break;
    case ctIndexed:
        p.PixelScheme = psIndexed;
        break;
    case ctGrayAlpha:
        p.PixelScheme = psGrayAlpha;
        p.SamplesPerPixel = 2;
        break;
    case ctRGBA:
        p.PixelScheme = psRGBA;
        p.SamplesPerPixel = 4;
        break;
    default:
        p.PixelScheme = psUnknown;
        break;
    }
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    p.PNGFilterMethod = header.Filter;
    p.IsInterlaced = header.Interlace == ilAdam7;
    p.AlphaPresent = p.PixelScheme == psGrayAlpha || p.PixelScheme == psRGBA || p.PixelScheme == psBGRA;

    // The gamma of the first gAMA chunk; a stream that ends before IEND still
    // has the properties read so far (the loader reports the damage).
    for (position = stream.Position(); State.StreamSize - position >= 8;) {
        ReadChunkHeader();
        if (IsChunk("gAMA")) {
            LoadChunk();
            if (State.ChunkLength == 4)
                p.Gamma = static_cast<float>(LoadU32BE(State.ChunkData.data())) / 100000.0f;
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
    State = TLoadState();
    BeginLoad(stream, msg::Preparing);
    stream.SetPosition(int64_t(BasePosition) + 8);

    // 16-bit samples are big-endian; no gamma unless this file asks for it
    // (the colour manager outlives a load).
    ColorManager().SetSourceFlags(sfSwapBytes);
    ColorManager().SetTargetFlags(0);

    try {
        ReadChunkHeader();
        LoadChunk();
        State.Header = HeaderFromChunk();
        switch (CheckHeader(State.Header)) {
        case THeaderFault::None:
            break;
        case THeaderFault::Format:
            RaiseInvalidFormat();
        case THeaderFault::Compression:
            RaiseImageErrorFmt(msg::NotSupported, msg::CompressionScheme, Name);
        case THeaderFault::ColorFormat:
            RaiseImageErrorFmt(msg::InvalidColorFormat, Name);
        }
        auto decoder = std::make_unique<TLZ77Decoder>(PartialFlush, false);
        decoder->ExpandStart();
        State.DeflateDecoder = std::move(decoder);
        RunChunkLoop();
    } catch (...) {
        // Rows of a plain image that were never delivered show the
        // background, as if the bitmap had been filled before decoding.
        try {
            const THeader& h = State.Header;
            if (State.ImageDataSeen && h.Interlace != ilAdam7 && State.RowsFilled < h.Height && !Empty() &&
                BackgroundAffordable())
                FillRows(State.RowsFilled, h.Height);
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
    std::unique_ptr<TLZ77Decoder> decoder = std::move(State.DeflateDecoder);
    State = TLoadState();
    EndProgress();
    if (decoder)
        decoder->ExpandFinish();
}

void TPNGGraphic::RunChunkLoop()
{
    for (;;) {
        ReadChunkHeader();
        if (IsChunk("IDAT") && !State.ImageDataSeen) {
            EndProgress();
            // Leaves the chunk after the image data current; it goes through
            // the skip below.
            DecodeImageData();
        } else if (IsChunk("PLTE")) {
            if (State.ChunkLength % 3 != 0)
                RaiseImageErrorFmt(msg::InvalidPalette, Name);
            LoadChunk();
            if (State.Header.ColorType == ctIndexed) {
                State.PixelBytes = SetupColorManager(ctIndexed, State.Header.BitDepth);
                State.PendingPalette = ColorManager().MakeColorPalette({State.ChunkData.data()}, plInterleaved8x3,
                                                                       State.ChunkLength / 3, false);
            }
            continue;
        } else if (IsChunk("gAMA")) {
            LoadChunk();
            if (State.ChunkLength == 4)
                ApplyGamma(State.ChunkData.data());
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
        const bool critical = (State.ChunkType[0] & 0x20) == 0;
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

// The pair of colour type and bit depth has passed the header check.
uint32_t TPNGGraphic::SetupColorManager(uint8_t colorType, uint8_t bitDepth)
{
    TColorManager& cm = ColorManager();
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
    uint32_t pixelBytes = 0;
    switch (colorType) {
    case ctGray:
        source(psGray, 1);
        target(psGray, 1, bitDepth == 2 ? 4 : bitDepth == 16 ? 8 : bitDepth);
        SetPixelFormat(cm.BitmapFormatOf(1));
        State.PendingPalette = cm.MakeGrayPalette(false);
        pixelBytes = (bitDepth + 7) / 8;
        break;
    case ctRGB:
        source(psRGB, 3);
        target(psBGR, 3, 8);
        SetPixelFormat(bf24Bit);
        pixelBytes = bitDepth * 3 / 8;
        break;
    case ctIndexed:
        source(psIndexed, 1);
        target(psIndexed, 1, bitDepth == 2 ? 4 : bitDepth);
        SetPixelFormat(cm.BitmapFormatOf(1));
        pixelBytes = 1;
        break;
    case ctGrayAlpha:
        source(psGrayAlpha, 2);
        target(psIndexed, 1, 8);
        SetPixelFormat(bf8Bit);
        State.PendingPalette = cm.MakeGrayPalette(false);
        pixelBytes = bitDepth * 2 / 8;
        break;
    case ctRGBA:
        source(psRGBA, 4);
        target(psBGRA, 4, 8);
        SetPixelFormat(bf32Bit);
        SetAlphaPresent(true);
        pixelBytes = bitDepth * 4 / 8;
        break;
    default:
        RaiseImageErrorFmt(msg::InvalidColorFormat, Name);
    }
    State.ColorManagerReady = true;
    return pixelBytes;
}

// ---- Image data -------------------------------------------------------------

void TPNGGraphic::DecodeImageData()
{
    State.ImageDataSeen = true;
    Progress(this, psStarting, 0, false, ProgressRect, msg::Transfering);
    const THeader& h = State.Header;
    if (!State.ColorManagerReady)
        State.PixelBytes = SetupColorManager(h.ColorType, h.BitDepth);
    const uint32_t stride = h.BitDepth == 16 ? State.PixelBytes / 2 : State.PixelBytes;

    const uint32_t width = h.Width;
    const uint32_t height = h.Height;
    CheckImageSize(Name, width, height, static_cast<uint32_t>(BitsPerPixelOf(PixelFormat())));
    if (State.PendingPalette)
        SetPalette(State.PendingPalette);
    SetSize(static_cast<int>(width), static_cast<int>(height));
    ResolveGrayKey();
    if (State.KeyColor != clNone) {
        SetTransparentColor(State.KeyColor);
        SetTransparent(true);
    }

    // Both sides are at most 2^20 after the size check, so nothing overflows.
    const auto rowSizeOf = [&](uint64_t pixels) {
        return static_cast<uint32_t>((pixels * h.BitDepth + 7) / 8 * stride + 1);
    };
    const uint32_t rowSize = rowSizeOf(width);
    CheckBufferSize(Name, uint64_t(rowSize) * 2, 1);
    std::vector<uint8_t> buffers(size_t(rowSize) * 2, 0);
    uint8_t* previous = buffers.data();
    uint8_t* current = buffers.data() + rowSize;

    // Every row of a plain image is overwritten, so only an interlaced one
    // is filled first; a plain load cut short fills the rows it did not reach.
    if (h.Interlace == ilAdam7) {
        if (BackgroundAffordable())
            FillRows(0, height);
        for (int pass = 0; pass < 7 && !State.DataEnded; ++pass) {
            const TPass& p = Adam7[pass];
            if (width <= p.FirstColumn)
                continue;
            const uint32_t passSize = rowSizeOf((width + p.ColumnStep - p.FirstColumn - 1) / p.ColumnStep);
            std::memset(previous, 0, passSize);
            DecodeRows(current, previous, p.FirstRow, p.RowStep, passSize, p.Mask, pass == 6);
        }
    } else if (!DecodeWhole(current, previous, rowSize)) {
        DecodeRows(current, previous, 0, 1, rowSize, 0xFF, true);
    }

    while (IsChunk("IDAT")) {
        LoadChunk();
        ReadChunkHeader();
    }
}

bool TPNGGraphic::GatherImageData(TPackedData& packed)
{
    TStream& stream = *SourceStream;
    const auto* memory = dynamic_cast<const TMemoryStream*>(&stream);
    const int64_t first = stream.Position();
    // Each chunk, its checksum and the header after it lie within the stream.
    const auto fits = [&] {
        return State.ChunkLength <= MaxChunkLength &&
               int64_t(State.ChunkLength) + 12 <= State.StreamSize - stream.Position();
    };
    // Room for the data: the rest of a file, of which only the pages written
    // are ever taken; in a memory stream, where walking the headers costs
    // nothing, the sum of the lengths, and none for a single chunk, whose
    // data are used where they lie.
    uint64_t room = static_cast<uint64_t>(std::max<int64_t>(State.StreamSize - first, 0));
    bool inPlace = false;
    if (memory) {
        room = 0;
        uint32_t chunks = 0;
        do {
            if (!fits())
                return false;
            room += State.ChunkLength;
            ++chunks;
            SkipChunk();
            ReadChunkHeader();
        } while (IsChunk("IDAT"));
        stream.SetPosition(first - 8);
        ReadChunkHeader();
        inPlace = chunks == 1;
    }
    if (!inPlace) {
        packed.Owned = AllocateBlock(static_cast<size_t>(room));
        if (!packed.Owned)
            return false;
    }
    uint8_t* const target = packed.Owned.get();
    size_t total = 0;
    do {
        if (!fits())
            return false;
        const uint32_t length = State.ChunkLength;
        const uint8_t* data = target + total;
        if (memory) {
            data = memory->Memory() + stream.Position();
            stream.Seek(length, soCurrent);
            if (target)
                std::memcpy(target + total, data, length);
        } else {
            stream.ReadBuffer(target + total, length);
        }
        uint8_t stored[4];
        stream.ReadBuffer(stored, sizeof stored);
        if (libdeflate_crc32(State.ChunkCRC, data, length) != LoadU32BE(stored))
            return false;
        packed.Data = target ? target : data;
        total += length;
        ReadChunkHeader();
    } while (IsChunk("IDAT"));
    packed.Size = total;
    return true;
}

bool TPNGGraphic::DecodeWhole(uint8_t* current, uint8_t* previous, uint32_t rowSize)
{
    const uint32_t width = State.Header.Width;
    const uint32_t height = State.Header.Height;
    const uint64_t stride = static_cast<uint64_t>(RowStride());
    if (rowSize - 1 > stride)
        return false;
    // The stored rows (filter byte and data) are inflated into the end of
    // the block. Converting row y writes up to (y + 1) * stride, before stored
    // row y + 1 as long as the block holds the stored rows and, where a
    // bitmap row is wider than a stored row, the bitmap: slack is needed only
    // where a stored row is a bitmap row plus its filter byte.
    const uint64_t packedRows = uint64_t(rowSize) * height;
    const uint64_t imageBytes = stride * height;
    const uint64_t slack = packedRows > imageBytes ? packedRows - imageBytes : 0;

    const int64_t first = SourceStream->Position();
    const uint32_t firstLength = State.ChunkLength;
    const uint32_t firstCRC = State.ChunkCRC;
    uint8_t firstType[4];
    std::memcpy(firstType, State.ChunkType, 4);
    const auto readRows = [&] {
        SourceStream->SetPosition(first);
        State.ChunkLength = firstLength;
        State.ChunkCRC = firstCRC;
        std::memcpy(State.ChunkType, firstType, 4);
        return false;
    };

    TPackedData packed;
    if (!GatherImageData(packed))
        return readRows();
    // zlib refuses distances beyond the window a stream declares, libdeflate
    // does not: a window under 32 KB goes the row-by-row way, which treats
    // such a stream as before.
    if (packed.Size < 2 || (packed.Data[0] >> 4) != 7)
        return readRows();
    std::unique_ptr<libdeflate_decompressor, TDecompressorFree> decompressor(libdeflate_alloc_decompressor());
    if (!decompressor)
        return readRows();
    SetTailSlack(static_cast<size_t>(slack));
    // Data that can fill the block (Deflate expands 1032-fold at most) have
    // its pages made present beside the inflate; a header that only claims a
    // large image costs nothing.
    SetPrefault(packed.Size >= packedRows / 1032);
    uint8_t* const stored = ScanLine(0) + (imageBytes + slack - packedRows);
    SetPrefault(false);
    size_t consumed = 0;
    if (libdeflate_zlib_decompress_ex(decompressor.get(), packed.Data, packed.Size, stored,
                                      static_cast<size_t>(packedRows), &consumed,
                                      nullptr) != LIBDEFLATE_SUCCESS) {
        // Damaged, short or overlong data are read again row by row, into
        // fresh zeroed pixels, and end where and as they always did.
        SetSize(0, 0);
        SetSize(static_cast<int>(width), static_cast<int>(height));
        return readRows();
    }
    packed = TPackedData();

    if (DeliverInStripes(stored, rowSize))
        return true;
    TColorManager& cm = ColorManager();
    const uint32_t dataSize = rowSize - 1;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = stored + uint64_t(y) * rowSize;
        std::memcpy(current, row, rowSize);
        pwpng::simd::UnfilterRow(current[0], current + 1, previous + 1, dataSize, State.PixelBytes);
        cm.ConvertLine({static_cast<const void*>(current + 1)}, ScanLine(static_cast<int>(y)), width, 0xFF);
        std::swap(current, previous);
        State.RowsFilled = y + 1;
        RowDone(y, height);
    }
    return true;
}

void TPNGGraphic::DecodeRows(uint8_t*& current, uint8_t*& previous, uint32_t firstRow, uint32_t rowStep,
                             uint32_t rowSize, uint8_t mask, bool lastPass)
{
    TColorManager& cm = ColorManager();
    const uint32_t width = State.Header.Width;
    const uint32_t height = State.Header.Height;
    const bool plain = mask == 0xFF && rowStep == 1;
    for (uint32_t y = firstRow; y < height; y += rowStep) {
        // Image data that end early end the image: the rows they do not
        // reach are not written, so a short file costs no more than its data.
        if (!ReadRowBytes(current, rowSize)) {
            State.DataEnded = true;
            NoteEarlyEnd(y);
            return;
        }
        pwpng::simd::UnfilterRow(current[0], current + 1, previous + 1, rowSize - 1, State.PixelBytes);
        cm.ConvertLine({static_cast<const void*>(current + 1)}, ScanLine(static_cast<int>(y)), width, mask);
        std::swap(current, previous);
        if (plain) {
            State.RowsFilled = y + 1;
            RowDone(y, height);
        } else if (lastPass) {
            RowDone(std::min(y + rowStep, height), height);
        }
    }
}

bool TPNGGraphic::BackgroundAffordable() const
{
    return uint64_t(RowStride()) * uint64_t(Height()) <= 1032 * uint64_t(std::max<int64_t>(State.StreamSize, 0));
}

bool TPNGGraphic::ReadRowBytes(uint8_t* buffer, uint32_t count)
{
    uint8_t* target = buffer;
    size_t wanted = count;
    while (wanted > 0) {
        if (State.DeflateDecoder->LastResult() == Z_STREAM_END)
            RaiseImageErrorFmt(msg::ExtraCompressedData, Name);
        // Whole IDAT chunks feed the decoder; zero-length ones are passed over.
        bool dataEnded = false;
        while (State.IDATLeft == 0) {
            if (!IsChunk("IDAT")) {
                dataEnded = true;
                break;
            }
            LoadChunk();
            State.IDATCursor = State.ChunkData.data();
            State.IDATLeft = State.ChunkLength;
            ReadChunkHeader();
        }
        // After the last chunk the decoder may still hold output for which it
        // needs no more input; ask once, with nothing to read.
        const TExpandResult r =
            State.DeflateDecoder->Expand(State.IDATCursor, State.IDATLeft, target, wanted, State.IDATLeft, wanted);
        State.IDATLeft -= static_cast<uint32_t>(r.Consumed);
        wanted -= r.Produced;
        const int result = State.DeflateDecoder->LastResult();
        if (result == Z_STREAM_END) {
            // Bytes after the end of the stream in its last chunk are left
            // unread, as other decoders do; a stream that ends before the
            // image is an error.
            if (wanted > 0)
                RaiseImageErrorFmt(msg::ExtraCompressedData, Name);
            return true;
        }
        if (dataEnded) {
            if (r.Produced == 0 && (result == Z_OK || result == Z_BUF_ERROR))
                return false;
        } else if (r.Consumed == 0 && r.Produced == 0) {
            // Input and room but no progress: refuse rather than loop.
            RaiseImageErrorFmt(msg::CompressionError, Name);
        }
        if (result != Z_OK && result != Z_BUF_ERROR)
            RaiseImageErrorFmt(msg::CompressionError, Name);
    }
    return true;
}

// ---- Background and transparency --------------------------------------------

void TPNGGraphic::ReadBackground()
{
    const THeader& h = State.Header;
    LoadChunk();
    const uint8_t* d = State.ChunkData.data();
    switch (h.ColorType) {
    case ctGray:
    case ctGrayAlpha:
        if (State.ChunkLength >= 2) {
            const uint32_t v = LoadU16BE(d);
            State.FillColor = h.BitDepth == 2 ? v * 15 / 3 : h.BitDepth == 16 ? Scale16To8(v) : v & 0xFF;
        }
        break;
    case ctRGB:
    case ctRGBA:
        if (State.ChunkLength >= 6) {
            uint32_t rgb[3];
            for (int i = 0; i < 3; ++i) {
                const uint32_t v = LoadU16BE(d + 2 * i);
                rgb[i] = h.BitDepth == 16 ? Scale16To8(v) : v & 0xFF;
            }
            State.FillColor = RGB(rgb[0], rgb[1], rgb[2]);
        }
        break;
    default:
        // A palette index, spread like the pixels of a 2-bit image.
        if (State.ChunkLength >= 1)
            State.FillColor = h.BitDepth == 2 ? d[0] * 15u / 3 : d[0];
        break;
    }
}

void TPNGGraphic::ReadTransparency()
{
    const THeader& h = State.Header;
    LoadChunk();
    const uint8_t* d = State.ChunkData.data();
    if (h.ColorType == ctGray && State.ChunkLength >= 2) {
        const uint32_t v = LoadU16BE(d);
        if (h.BitDepth == 16) {
            const uint32_t g = Scale16To8(v);
            State.KeyColor = RGB(g, g, g);
        } else if (h.BitDepth == 8) {
            State.KeyColor = RGB(v & 0xFF, v & 0xFF, v & 0xFF);
        } else {
            State.GrayKeySample = static_cast<int32_t>(v);
        }
    } else if (h.ColorType == ctRGB && State.ChunkLength >= 6) {
        uint32_t rgb[3];
        for (int i = 0; i < 3; ++i) {
            const uint32_t v = LoadU16BE(d + 2 * i);
            rgb[i] = h.BitDepth == 16 ? Scale16To8(v) : v & 0xFF;
        }
        State.KeyColor = RGB(rgb[0], rgb[1], rgb[2]);
    }
}

// A 1, 2 or 4-bit grey key becomes the colour the bitmap shows for that
// sample: the grey palette entry it is converted to. A sample outside the
// depth's range matches no pixel and gives no key.
void TPNGGraphic::ResolveGrayKey()
{
    const THeader& h = State.Header;
    if (State.GrayKeySample < 0)
        return;
    const int32_t top = (1 << h.BitDepth) - 1;
    if (State.GrayKeySample > top)
        return;
    const int index = h.BitDepth == 2 ? State.GrayKeySample * 15 / 3 : State.GrayKeySample;
    const TPaletteEntry e = PaletteColor(index);
    State.KeyColor = RGB(e.peRed, e.peGreen, e.peBlue);
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
        pattern[0] = (State.FillColor & 1) ? 0xFF : 0x00;
        break;
    case bf4Bit:
        pattern[0] = static_cast<uint8_t>((State.FillColor & 0x0F) * 0x11);
        break;
    case bf8Bit:
        pattern[0] = static_cast<uint8_t>(State.FillColor);
        break;
    default:
        pattern[0] = static_cast<uint8_t>(State.FillColor >> 16);
        pattern[1] = static_cast<uint8_t>(State.FillColor >> 8);
        pattern[2] = static_cast<uint8_t>(State.FillColor);
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
