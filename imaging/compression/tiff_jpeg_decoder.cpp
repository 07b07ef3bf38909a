#include "imaging/compression/tiff_jpeg_decoder.h"

#include "imaging/compression/jpeg_support.h"
#include "imaging/raster_graphic.h"
#include "imaging/strings/messages.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t MarkerDQT = 0xDB;
constexpr uint8_t MarkerDHT = 0xC4;
constexpr uint8_t MarkerSOS = 0xDA;

// Whether data hold a byte 0xFF followed by one of the markers. Entropy-coded
// data stuff every 0xFF, so a marker there is a marker; inside a segment the
// pair may be data, which only errs towards finding one.
bool HoldsMarker(const uint8_t* data, size_t size, std::initializer_list<uint8_t> markers)
{
    const uint8_t* end = data + size;
    for (const uint8_t* p = data; p + 1 < end; ++p) {
        p = static_cast<const uint8_t*>(std::memchr(p, 0xFF, static_cast<size_t>(end - p - 1)));
        if (!p)
            return false;
        if (std::find(markers.begin(), markers.end(), p[1]) != markers.end())
            return true;
    }
    return false;
}

// Ends an unfinished decompression when Expand leaves early, so that the
// next strip starts clean and the first error is the one reported.
class TAbortGuard {
public:
    explicit TAbortGuard(jpeg_decompress_struct& info) : FInfo(info) {}
    ~TAbortGuard()
    {
        if (FArmed)
            jpeg_abort_decompress(&FInfo);
    }
    TAbortGuard(const TAbortGuard&) = delete;
    TAbortGuard& operator=(const TAbortGuard&) = delete;
    void Release() { FArmed = false; }

private:
    jpeg_decompress_struct& FInfo;
    bool FArmed = true;
};

// TIFF's default planar configuration is 1 (chunky); only 2 means planes.
bool Interleaved(const TImageProperties& p)
{
    return p.PlanarConfiguration != 2;
}

void CheckStripHeader(const jpeg_decompress_struct& d, const TImageProperties& p, uint16_t horizontal,
                      uint16_t vertical)
{
    const uint32_t rowsLeft = p.Height > p.RowIndex ? p.Height - p.RowIndex : 0;
    const uint32_t rowsPerStrip = p.RowsPerStrip.empty() ? p.Height : p.RowsPerStrip[0];
    if (d.image_width != p.Width || d.image_height != std::min(rowsPerStrip, rowsLeft))
        CompressionError(msg::JPEGStripSize);
    const bool interleaved = Interleaved(p);
    if (d.num_components != (interleaved ? p.SamplesPerPixel : 1))
        CompressionError(msg::JPEGComponentCount);
    if (d.data_precision != p.BitsPerSample)
        CompressionError(msg::JPEGDataPrecision);
    const jpeg_component_info* components = d.comp_info;
    bool sampling;
    if (interleaved) {
        sampling = components[0].h_samp_factor == horizontal && components[0].v_samp_factor == vertical;
        for (int i = 1; i < d.num_components; ++i)
            sampling = sampling && components[i].h_samp_factor == 1 && components[i].v_samp_factor == 1;
    } else {
        sampling = components[0].h_samp_factor == 1 && components[0].v_samp_factor == 1;
    }
    if (!sampling)
        CompressionError(msg::JPEGSamplingFactors);
}

} // namespace

TTIFFJPEGDecoder::TTIFFJPEGDecoder(const TImageProperties* Properties) : FProperties(Properties) {}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() = default;

void TTIFFJPEGDecoder::ExpandStart()
{
    FJPEG = std::make_unique<TJPEGDecompressor>();
    const TImageProperties& p = *FProperties;
    FHorizontalSampling = 1;
    FVerticalSampling = 1;
    if (p.YCbCrSubSampling.size() >= 2) {
        FHorizontalSampling = p.YCbCrSubSampling[0];
        FVerticalSampling = p.YCbCrSubSampling[1];
    }
    if (!p.JPEGTables.empty()) {
        jpeg_decompress_struct& d = FJPEG->Info();
        FJPEG->UseMemorySource(p.JPEGTables.data(), p.JPEGTables.size(), msg::JPEGUnexpectedEnd);
        const int result = FJPEG->Call([&] { return jpeg_read_header(&d, FALSE); });
        if (result != JPEG_HEADER_TABLES_ONLY)
            CompressionError(msg::JPEGBogusTables);
    }
}

void TTIFFJPEGDecoder::ExpandFinish()
{
    FJPEG.reset();
}

TExpandResult TTIFFJPEGDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                       size_t TargetSize, size_t PackedSize, size_t UnpackedSize)
{
    if (!FJPEG)
        ExpandStart();
    const TImageProperties& p = *FProperties;
    jpeg_decompress_struct& d = FJPEG->Info();
    jpeg_abort_decompress(&d);
    FJPEG->UseMemorySource(Source, std::min(PackedSize, SourceSize), msg::JPEGUnexpectedEnd);
    TAbortGuard guard(d);
    FJPEG->Call([&] { jpeg_read_header(&d, TRUE); });
    CheckStripHeader(d, p, FHorizontalSampling, FVerticalSampling);

    // The reader describes these rows as blue-green-red.
    if (d.num_components == 3) {
        d.jpeg_color_space = p.PixelScheme == psYCbCr ? JCS_YCbCr : JCS_RGB;
        d.out_color_space = JCS_EXT_BGR;
    } else {
        d.jpeg_color_space = JCS_UNKNOWN;
        d.out_color_space = JCS_UNKNOWN;
    }
    d.raw_data_out = FALSE;
    FJPEG->Call([&] { jpeg_start_decompress(&d); });

    const size_t rowBytes = p.RowBytes;
    if (rowBytes == 0 || UnpackedSize % rowBytes != 0)
        CompressionError(msg::JPEGFractionalScanline);
    // The checks above make a decoded row exactly RowBytes long; a row that
    // would still not fit is never written.
    if (static_cast<size_t>(d.output_width) * static_cast<size_t>(d.output_components) > rowBytes)
        CompressionError(msg::JPEGComponentCount);

    const size_t rows = std::min(UnpackedSize, TargetSize) / rowBytes;
    size_t done = 0;
    while (done < rows) {
        JSAMPROW row = Target + done * rowBytes;
        if (FJPEG->Call([&] { return jpeg_read_scanlines(&d, &row, 1); }) == 0)
            break;
        ++done;
    }
    if (d.output_scanline == d.output_height) {
        FJPEG->Call([&] { jpeg_finish_decompress(&d); });
        guard.Release();
    }
    return {FJPEG->SourceBytesConsumed(), done * rowBytes};
}

void TTIFFJPEGDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}

TJPEGTableUse JPEGTableUse(const uint8_t* data, size_t size)
{
    if (!HoldsMarker(data, size, {MarkerDQT, MarkerDHT}))
        return TJPEGTableUse::None;
    // Walks the segments before the first scan: tables defined, tables the
    // frame and the scan use.
    bool quantDefined[4] = {}, quantUsed[4] = {}, dcDefined[4] = {}, acDefined[4] = {};
    bool frame = false;
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8)
        return TJPEGTableUse::Other;
    size_t pos = 2;
    for (;;) {
        if (pos >= size || data[pos] != 0xFF)
            return TJPEGTableUse::Other;
        while (pos < size && data[pos] == 0xFF)
            ++pos;
        if (pos + 3 > size)
            return TJPEGTableUse::Other;
        const uint8_t marker = data[pos];
        const size_t length = size_t(data[pos + 1]) << 8 | data[pos + 2];
        // Markers without a length (SOI, EOI, RSTn, TEM) do not belong here.
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9) || length < 2 || length > size - pos - 1)
            return TJPEGTableUse::Other;
        const uint8_t* segment = data + pos + 3;
        const size_t n = length - 2;
        pos += 1 + length;
        if (marker == MarkerDQT) {
            for (size_t i = 0; i < n;) {
                const uint8_t precision = segment[i] >> 4, table = segment[i] & 15;
                if (precision > 1 || table > 3)
                    return TJPEGTableUse::Other;
                quantDefined[table] = true;
                i += 1 + (precision ? 128 : 64);
                if (i > n)
                    return TJPEGTableUse::Other;
            }
        } else if (marker == MarkerDHT) {
            for (size_t i = 0; i < n;) {
                if (n - i < 17)
                    return TJPEGTableUse::Other;
                const uint8_t kind = segment[i] >> 4, table = segment[i] & 15;
                if (kind > 1 || table > 3)
                    return TJPEGTableUse::Other;
                (kind ? acDefined : dcDefined)[table] = true;
                size_t codes = 0;
                for (size_t k = 1; k <= 16; ++k)
                    codes += segment[i + k];
                i += 17 + codes;
                if (i > n)
                    return TJPEGTableUse::Other;
            }
        } else if (marker == 0xC0 || marker == 0xC1) {
            // Sequential Huffman frames; their components name quant tables.
            if (frame || n < 6 || n < 6 + size_t(3) * segment[5])
                return TJPEGTableUse::Other;
            frame = true;
            for (size_t c = 0; c < segment[5]; ++c) {
                const uint8_t table = segment[6 + 3 * c + 2];
                if (table > 3)
                    return TJPEGTableUse::Other;
                quantUsed[table] = true;
            }
        } else if (marker == MarkerSOS) {
            if (!frame || n < 1 || n < 1 + size_t(2) * segment[0] + 3)
                return TJPEGTableUse::Other;
            for (size_t c = 0; c < segment[0]; ++c) {
                const uint8_t dc = segment[2 + 2 * c] >> 4, ac = segment[2 + 2 * c] & 15;
                if (dc > 3 || ac > 3 || !dcDefined[dc] || !acDefined[ac])
                    return TJPEGTableUse::Other;
            }
            for (int table = 0; table < 4; ++table)
                if (quantUsed[table] && !quantDefined[table])
                    return TJPEGTableUse::Other;
            // One scan, and no table defined after it.
            const bool more = HoldsMarker(data + pos, size - pos, {MarkerDQT, MarkerDHT, MarkerSOS});
            return more ? TJPEGTableUse::Other : TJPEGTableUse::Own;
        } else if (marker >= 0xC2 && marker <= 0xCF) {
            // Progressive, lossless, arithmetic and hierarchical frames.
            return TJPEGTableUse::Other;
        }
    }
}
