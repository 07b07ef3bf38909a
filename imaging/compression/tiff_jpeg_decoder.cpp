#include "imaging/compression/tiff_jpeg_decoder.h"

#include "imaging/compression/jpeg_support.h"
#include "imaging/raster_graphic.h"
#include "imaging/strings/messages.h"

#include <algorithm>

namespace {

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
