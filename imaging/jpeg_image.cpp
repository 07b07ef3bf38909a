#include "imaging/jpeg_image.h"

#include "imaging/compression/jpeg_support.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/picture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

TJPEGDefaults JPEGDefaults;

PW_DEFINE_GRAPHIC_CLASS(TJPEGImage, TGraphic)

namespace {

constexpr int QuantizedColors = 236;
constexpr JDIMENSION RowsPerCall = 16;
constexpr auto ProgressInterval = std::chrono::milliseconds(500);

// A decompressor over a picture's data, which it reads in place (pictures
// share the data) and keeps alive while it runs. As from a file, empty data
// are the library's empty-input error and data that end early decode as far
// as they reach, without a warning.
class TDataDecompressor : public TJPEGDecompressor {
public:
    explicit TDataDecompressor(std::shared_ptr<TJPEGData> data) : FData(std::move(data))
    {
        UseMemorySource(static_cast<const uint8_t*>(FData->Data.Memory()), static_cast<size_t>(FData->Data.Size()),
                        nullptr, true);
    }
    void ReadHeader()
    {
        Call([&] { jpeg_read_header(&Info(), TRUE); });
    }

private:
    std::shared_ptr<TJPEGData> FData;
};

uint8_t InkToLight(unsigned ink, unsigned black)
{
    return static_cast<uint8_t>(((255 - ink) * (255 - black) + 127) / 255);
}

// CMYK pixels to the bitmap's blue-green-red. Files with an Adobe marker
// store the inks inverted (0 = full ink), as Photoshop writes them.
void CMYKToBGR(const uint8_t* source, uint8_t* target, JDIMENSION count, bool inverted)
{
    const unsigned flip = inverted ? 255 : 0;
    for (JDIMENSION i = 0; i < count; ++i, source += 4, target += 3) {
        const unsigned k = source[3] ^ flip;
        target[0] = InkToLight(source[2] ^ flip, k);
        target[1] = InkToLight(source[1] ^ flip, k);
        target[2] = InkToLight(source[0] ^ flip, k);
    }
}

} // namespace

// One decoding run: the decompressor, the chosen settings and the progress
// state, all released when the run ends however it ends.
class TJPEGImage::TDecoding {
public:
    TDecoding(TJPEGImage& image, TBitmap& bitmap) : FImage(image), FBitmap(bitmap), FJPEG(image.FData) {}

    void Run();
    bool PaletteModified() const { return FPaletteModified; }
    int64_t PrematureEndRow() { return FJPEG.PrematureEndRow(); }

private:
    void Configure();
    void UseAssignedPalette();
    void ReportProgress(const jpeg_progress_mgr& progress);
    void MakePalette();
    void ReadRows();
    void RunBuffered();

    TJPEGImage& FImage;
    TBitmap& FBitmap;
    TDataDecompressor FJPEG;
    bool FCMYK = false;
    bool FQuantize = false;
    bool FExternalColormap = false;
    J_DCT_METHOD FDCTMethod = JDCT_FLOAT;
    boolean FTwoPass = TRUE;
    J_DITHER_MODE FDither = JDITHER_FS;
    bool FPaletteModified = false;
    std::vector<uint8_t> FCMYKRow;
    std::chrono::steady_clock::time_point FLastProgress;
    int FLastPercent = -1;
};

void TJPEGImage::TDecoding::Configure()
{
    jpeg_decompress_struct& d = FJPEG.Info();
    d.scale_num = 1;
    d.scale_denom = 1u << FImage.FScale;
    d.do_block_smoothing = FImage.FSmoothing ? TRUE : FALSE;

    // A 24-bit bitmap takes blue-green-red; libjpeg cannot turn CMYK into
    // that, so CMYK rows go through one row buffer.
    FCMYK = d.jpeg_color_space == JCS_CMYK || d.jpeg_color_space == JCS_YCCK;
    const bool gray = !FCMYK && (FImage.FGrayscale || d.out_color_space == JCS_GRAYSCALE);
    FQuantize = !FCMYK && (FImage.FPixelFormat == jf8Bit || gray);
    if (FCMYK)
        d.out_color_space = JCS_CMYK;
    else if (gray)
        d.out_color_space = JCS_GRAYSCALE;
    else
        d.out_color_space = FQuantize ? JCS_RGB : JCS_EXT_BGR;

    if (FQuantize) {
        d.quantize_colors = TRUE;
        d.desired_number_of_colors = QuantizedColors;
    }
    FTwoPass = d.two_pass_quantize;
    FDither = d.dither_mode;
    FDCTMethod = JDCT_FLOAT;
    if (FImage.FPerformance == jpBestSpeed) {
        FDCTMethod = JDCT_IFAST;
        FTwoPass = FALSE;
        FDither = JDITHER_ORDERED;
    }
    d.dct_method = FDCTMethod;
    d.two_pass_quantize = FTwoPass;
    d.dither_mode = FDither;
    if (FQuantize && !gray)
        UseAssignedPalette();
}

// An assigned palette becomes libjpeg's colour map: the picture then uses
// exactly those colours. libjpeg takes such a map only for colour output.
void TJPEGImage::TDecoding::UseAssignedPalette()
{
    const HPALETTE& palette = FImage.FTempPal;
    if (!palette || palette->Count() == 0)
        return;
    jpeg_decompress_struct& d = FJPEG.Info();
    const int count = std::min(palette->Count(), TPalette::MaxEntries);
    JSAMPARRAY map = FJPEG.Call([&] {
        return (*d.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&d), JPOOL_IMAGE,
                                      static_cast<JDIMENSION>(count), 3);
    });
    for (int i = 0; i < count; ++i) {
        const TPaletteEntry& entry = (*palette)[i];
        map[0][i] = entry.peRed;
        map[1][i] = entry.peGreen;
        map[2][i] = entry.peBlue;
    }
    d.colormap = map;
    d.actual_number_of_colors = count;
    FExternalColormap = true;
}

void TJPEGImage::TDecoding::ReportProgress(const jpeg_progress_mgr& progress)
{
    if (progress.pass_limit <= 0 || progress.total_passes <= 0)
        return;
    const double done =
        (static_cast<double>(progress.pass_counter) / static_cast<double>(progress.pass_limit) +
         progress.completed_passes) *
        100.0 / progress.total_passes;
    const int percent = std::clamp(static_cast<int>(std::nearbyint(done)), 0, 100);
    const auto now = std::chrono::steady_clock::now();
    if (percent == FLastPercent || now - FLastProgress < ProgressInterval)
        return;
    FLastPercent = percent;
    FLastProgress = now;
    const jpeg_decompress_struct& d = FJPEG.Info();
    const TRect done_rows{0, 0, static_cast<int32_t>(d.output_width), static_cast<int32_t>(d.output_scanline)};
    FImage.Progress(&FImage, psRunning, static_cast<uint8_t>(percent), true, done_rows, "");
}

void TJPEGImage::TDecoding::MakePalette()
{
    if (!FQuantize)
        return;
    const jpeg_decompress_struct& d = FJPEG.Info();
    std::vector<TPaletteEntry> entries(static_cast<size_t>(std::clamp(d.actual_number_of_colors, 0, 256)));
    for (size_t i = 0; i < entries.size(); ++i) {
        if (d.out_color_components == 1) {
            const uint8_t v = d.colormap[0][i];
            entries[i] = {v, v, v, 0};
        } else {
            entries[i] = {d.colormap[0][i], d.colormap[1][i], d.colormap[2][i], 0};
        }
    }
    FBitmap.SetPalette(CreatePalette(entries));
    FPaletteModified = true;
}

void TJPEGImage::TDecoding::ReadRows()
{
    jpeg_decompress_struct& d = FJPEG.Info();
    const bool inverted = d.saw_Adobe_marker;
    while (d.output_scanline < d.output_height) {
        const JDIMENSION first = d.output_scanline;
        JSAMPROW rows[RowsPerCall];
        JDIMENSION count = 1;
        if (FCMYK) {
            rows[0] = FCMYKRow.data();
        } else {
            count = std::min(RowsPerCall, d.output_height - first);
            for (JDIMENSION i = 0; i < count; ++i)
                rows[i] = FBitmap.ScanLine(static_cast<int>(first + i));
        }
        const JDIMENSION got = FJPEG.Call([&] { return jpeg_read_scanlines(&d, rows, count); });
        if (got == 0)
            break;
        if (FCMYK)
            CMYKToBGR(FCMYKRow.data(), FBitmap.ScanLine(static_cast<int>(first)), d.output_width, inverted);
    }
}

// Progressive display: one output pass per scan as it completes, with the
// fast settings, then the last scan once more with the chosen ones.
void TJPEGImage::TDecoding::RunBuffered()
{
    jpeg_decompress_struct& d = FJPEG.Info();
    for (;;) {
        const int status = FJPEG.Call([&] {
            int s;
            do
                s = jpeg_consume_input(&d);
            while (s != JPEG_SCAN_COMPLETED && s != JPEG_REACHED_EOI && s != JPEG_SUSPENDED);
            // Look past the scan: the next marker tells whether it was the last.
            if (s == JPEG_SCAN_COMPLETED)
                do
                    s = jpeg_consume_input(&d);
                while (s != JPEG_REACHED_SOS && s != JPEG_REACHED_EOI && s != JPEG_SUSPENDED);
            return s;
        });
        const bool last = jpeg_input_complete(&d) || status == JPEG_SUSPENDED;
        int scan = d.input_scan_number;
        if (status == JPEG_REACHED_SOS && scan > 1)
            --scan;
        if (last) {
            d.dct_method = FDCTMethod;
            if (FQuantize && !FExternalColormap) {
                d.dither_mode = FDither;
                if (FTwoPass && !d.two_pass_quantize) {
                    d.two_pass_quantize = TRUE;
                    d.colormap = nullptr;
                }
            }
        }
        FJPEG.Call([&] { jpeg_start_output(&d, scan); });
        MakePalette();
        ReadRows();
        FJPEG.Call([&] { jpeg_finish_output(&d); });
        if (last)
            break;
    }
}

void TJPEGImage::TDecoding::Run()
{
    jpeg_decompress_struct& d = FJPEG.Info();
    FJPEG.ReadHeader();
    Configure();

    const bool buffered = FImage.FProgressiveDisplay && jpeg_has_multiple_scans(&d);
    if (buffered) {
        d.buffered_image = TRUE;
        if (FQuantize && !FExternalColormap) {
            d.enable_1pass_quant = TRUE;
            d.enable_2pass_quant = FTwoPass;
            d.two_pass_quantize = FALSE;
            d.dither_mode = JDITHER_ORDERED;
        }
        d.dct_method = JDCT_IFAST;
    }

    FJPEG.Call([&] { jpeg_calc_output_dimensions(&d); });
    CheckImageSize("JPEG", d.output_width, d.output_height, FQuantize ? 8 : 24);
    FBitmap.SetPixelFormat(FQuantize ? bf8Bit : bf24Bit);
    FBitmap.SetSize(static_cast<int>(d.output_width), static_cast<int>(d.output_height));
    if (FCMYK)
        FCMYKRow.resize(static_cast<size_t>(d.output_width) * 4);

    if (FImage.OnProgress) {
        // The first change is reported at once, later ones 500 ms apart.
        FLastProgress = std::chrono::steady_clock::now() - ProgressInterval;
        FJPEG.SetProgress([this](const jpeg_progress_mgr& progress) { ReportProgress(progress); });
    }

    FJPEG.Call([&] { jpeg_start_decompress(&d); });
    if (buffered) {
        RunBuffered();
    } else {
        MakePalette();
        ReadRows();
    }
    if (d.output_scanline < d.output_height && !buffered)
        return; // the destructor releases what finishing would have
    FJPEG.Call([&] { jpeg_finish_decompress(&d); });
}

TJPEGImage::TJPEGImage()
    : FData(std::make_shared<TJPEGData>()),
      FCompressionQuality(JPEGDefaults.CompressionQuality),
      FGrayscale(JPEGDefaults.Grayscale),
      FPerformance(JPEGDefaults.Performance),
      FPixelFormat(JPEGDefaults.PixelFormat),
      FProgressiveDisplay(JPEGDefaults.ProgressiveDisplay),
      FProgressiveEncoding(JPEGDefaults.ProgressiveEncoding),
      FScale(JPEGDefaults.Scale),
      FSmoothing(JPEGDefaults.Smoothing)
{
}

TJPEGImage::~TJPEGImage() = default;

int TJPEGImage::Width() const
{
    if (FBitmap)
        return FBitmap->Width();
    if (FScale == jsFullSize)
        return FData->Width;
    ComputeScaledSize();
    return FScaledWidth;
}

int TJPEGImage::Height() const
{
    if (FBitmap)
        return FBitmap->Height();
    if (FScale == jsFullSize)
        return FData->Height;
    ComputeScaledSize();
    return FScaledHeight;
}

void TJPEGImage::ComputeScaledSize() const
{
    if (FScaledWidth >= 0)
        return;
    if (FData->Data.Size() == 0) {
        FScaledWidth = FScaledHeight = 0;
        return;
    }
    TDataDecompressor jpeg(FData);
    jpeg.ReadHeader();
    jpeg->scale_num = 1;
    jpeg->scale_denom = 1u << FScale;
    jpeg.Call([&] { jpeg_calc_output_dimensions(&jpeg.Info()); });
    FScaledWidth = static_cast<int>(jpeg->output_width);
    FScaledHeight = static_cast<int>(jpeg->output_height);
}

void TJPEGImage::SetWidth(int)
{
    throw EInvalidGraphicOperation(msg::JPEGChangeSize);
}

void TJPEGImage::SetHeight(int)
{
    throw EInvalidGraphicOperation(msg::JPEGChangeSize);
}

void TJPEGImage::LoadFromStream(TStream& stream)
{
    FData = std::make_shared<TJPEGData>();
    FreeBitmap();
    const int64_t count = stream.Remaining();
    // From memory the bytes are copied once, with no buffer between.
    const auto* memory = dynamic_cast<const TMemoryStream*>(&stream);
    if (count > 0 && memory && memory->Memory()) {
        FData->Data.Write(memory->Memory() + stream.Position(), count);
        stream.Seek(count, soCurrent);
    } else if (count > 0) {
        FData->Data.CopyFrom(stream, count);
    }
    if (FData->Data.Size() > 0) {
        TDataDecompressor jpeg(FData);
        jpeg.ReadHeader();
        FData->Width = static_cast<int>(jpeg->image_width);
        FData->Height = static_cast<int>(jpeg->image_height);
        FData->Grayscale = jpeg->jpeg_color_space == JCS_GRAYSCALE;
        FProgressiveEncoding = jpeg_has_multiple_scans(&jpeg.Info());
    }
    Changed();
}

bool TJPEGImage::CanLoadStream(TStream& stream)
{
    const int64_t start = stream.Position();
    uint8_t head[3] = {};
    const int64_t got = stream.Read(head, sizeof head);
    stream.SetPosition(start);
    return got == sizeof head && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

TBitmap& TJPEGImage::ViewBitmap()
{
    if (!FBitmap)
        Decode();
    return *FBitmap;
}

void TJPEGImage::Decode()
{
    // The bitmap exists while it is filled, so that a progress handler may
    // draw the rows done.
    FBitmap = std::make_unique<TBitmap>();
    ClearEarlyEnd();
    bool aborted = false;
    bool paletteModified = false;
    try {
        Progress(this, psStarting, 0, false, TRect{}, "");
        TDecoding decoding(*this, *FBitmap);
        try {
            decoding.Run();
        } catch (const EAbort&) {
            aborted = true;
        }
        paletteModified = decoding.PaletteModified();
        // libjpeg fills the rows after a premature end itself; the picture
        // still says where its data ended.
        if (decoding.PrematureEndRow() >= 0)
            NoteEarlyEnd(static_cast<uint64_t>(decoding.PrematureEndRow()));
    } catch (const EAbort&) {
        aborted = true;
    } catch (...) {
        FBitmap.reset();
        Progress(this, psEnding, 0, false, TRect{}, "");
        throw;
    }
    const TRect all{0, 0, FBitmap->Width(), FBitmap->Height()};
    Progress(this, psEnding, aborted ? 0 : 100, false, all, "");
    if (paletteModified)
        Changed();
}

void TJPEGImage::FreeBitmap()
{
    FBitmap.reset();
    FScaledWidth = FScaledHeight = -1;
}

void TJPEGImage::Assign(const TJPEGImage& source)
{
    if (&source == this)
        return;
    FData = source.FData;
    FTempPal = source.FTempPal;
    FCompressionQuality = source.FCompressionQuality;
    FGrayscale = source.FGrayscale;
    FPerformance = source.FPerformance;
    FPixelFormat = source.FPixelFormat;
    FProgressiveDisplay = source.FProgressiveDisplay;
    FProgressiveEncoding = source.FProgressiveEncoding;
    FScale = source.FScale;
    FSmoothing = source.FSmoothing;
    FreeBitmap();
    Changed();
}

HPALETTE TJPEGImage::Palette() const
{
    if (FBitmap && FBitmap->Palette())
        return FBitmap->Palette();
    return FTempPal;
}

void TJPEGImage::SetPalette(HPALETTE palette)
{
    FTempPal = std::move(palette);
    if (FPixelFormat == jf8Bit)
        FreeBitmap();
    Changed();
}

void TJPEGImage::SetCompressionQuality(int quality)
{
    FCompressionQuality = std::clamp(quality, 1, 100);
}

namespace {
template <class T>
bool Change(T& field, T value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}
} // namespace

void TJPEGImage::SetGrayscale(bool grayscale)
{
    if (Change(FGrayscale, grayscale)) {
        FreeBitmap();
        Changed();
    }
}

void TJPEGImage::SetPerformance(TJPEGPerformance performance)
{
    if (Change(FPerformance, performance)) {
        FreeBitmap();
        Changed();
    }
}

void TJPEGImage::SetPixelFormat(TJPEGPixelFormat format)
{
    if (Change(FPixelFormat, format)) {
        FreeBitmap();
        Changed();
    }
}

void TJPEGImage::SetScale(TJPEGScale scale)
{
    if (Change(FScale, scale)) {
        FreeBitmap();
        Changed();
    }
}

void TJPEGImage::SetSmoothing(bool smoothing)
{
    if (Change(FSmoothing, smoothing)) {
        FreeBitmap();
        Changed();
    }
}

void RegisterJPEGImage()
{
    RegisterPictureFormat("jpeg", msg::JPEGImageFile, TJPEGImage::ClassType());
    RegisterPictureFormat("jpg", msg::JPEGImageFile, TJPEGImage::ClassType());
}

void UnregisterJPEGImage()
{
    UnregisterPictureClass(TJPEGImage::ClassType());
}
