#include "app/background_load.h"

#include "imaging/compression/jpeg_support.h"
#include "imaging/jpeg_image.h"
#include "imaging/readers/jpeg2000_graphic.h"
#include "imaging/readers/png_graphic.h"
#include "imaging/readers/tiff_graphic.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace {

// The GUI thread takes the news this often, or at once when the picture's
// size is known, its first rows are there or the job ends: rows that come
// meanwhile are shown together, and the reader's threads seldom wake it.
constexpr auto kFrame = std::chrono::milliseconds(15);

// The bitmaps whose rows may be shown while they are filled: readers that
// fill them top row first, report each row once it is final with a progress
// rectangle whose bottom counts the rows done, and change nothing else
// about the bitmap after their first row.
const TBitmap* FilledTopDown(TGraphic* sender)
{
    if (dynamic_cast<TTIFFGraphic*>(sender) || dynamic_cast<TPNGGraphic*>(sender) ||
        dynamic_cast<TJPEG2000Graphic*>(sender))
        return static_cast<const TBitmap*>(dynamic_cast<TRasterGraphic*>(sender));
    return nullptr;
}

bool Previewable(TBitmapFormat format)
{
    return format == bf1Bit || format == bf4Bit || format == bf8Bit || format == bf24Bit || format == bf32Bit;
}

} // namespace

bool TBackgroundLoad::Suits(const TGraphic& graphic)
{
    return dynamic_cast<const TTIFFGraphic*>(&graphic) || dynamic_cast<const TPNGGraphic*>(&graphic) ||
           dynamic_cast<const TJPEGImage*>(&graphic) || dynamic_cast<const TJPEG2000Graphic*>(&graphic);
}

void TBackgroundLoad::TPreview::RowToARGB(int y, int x, int count, uint32_t* out) const
{
    const uint8_t* row = Bits + Stride * y;
    switch (Format) {
    case bf1Bit:
        for (int i = 0, c = x; i < count; ++i, ++c)
            out[i] = Colors[(row[c >> 3] >> (7 - (c & 7))) & 1];
        break;
    case bf4Bit:
        for (int i = 0, c = x; i < count; ++i, ++c)
            out[i] = Colors[(row[c >> 1] >> (c & 1 ? 0 : 4)) & 15];
        break;
    case bf8Bit: {
        const QRgb* colors = Colors.constData();
        for (int i = 0; i < count; ++i)
            out[i] = colors[row[x + i]];
        break;
    }
    case bf24Bit:
        for (int i = 0, c = x; i < count; ++i, ++c)
            out[i] = qRgb(row[3 * c + 2], row[3 * c + 1], row[3 * c]);
        break;
    default:
        for (int i = 0, c = x; i < count; ++i, ++c)
            out[i] = qRgba(row[4 * c + 2], row[4 * c + 1], row[4 * c], Alpha ? row[4 * c + 3] : 255);
        break;
    }
}

TBackgroundLoad::TBackgroundLoad(std::function<void(const TProgressEvent& progress)> job)
{
    FThread = std::thread([this, job = std::move(job)] {
        std::exception_ptr error;
        try {
            // Warnings are shown on the GUI thread, in their place among the reports.
            const TJPEGWarningCapture capture([this](const std::string& text) {
                std::lock_guard lock(FMutex);
                FReports.push_back({nullptr, psRunning, 0, TRect{}, text, true});
            });
            job([this](TGraphic* sender, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) { Note(sender, stage, percent, r, msg); });
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(FMutex);
        FError = error;
        FEnded = true;
        FNews.notify_one();
    });
}

TBackgroundLoad::~TBackgroundLoad()
{
    if (FThread.joinable())
        FThread.join();
}

void TBackgroundLoad::Note(TGraphic* sender, TProgressStage stage, uint8_t percent, const TRect& r,
                           const std::string& msg)
{
    std::lock_guard lock(FMutex);
    const TBitmap* bitmap = FilledTopDown(sender);
    // The size comes with the reader's first report, long before its rows.
    if (bitmap && !FPreview.Sized()) {
        const TImageProperties& p = static_cast<const TRasterGraphic*>(bitmap)->ImageProperties;
        if (p.Width > 0 && p.Height > 0 && p.Width <= INT32_MAX && p.Height <= INT32_MAX) {
            FPreview.Width = static_cast<int>(p.Width);
            FPreview.Height = static_cast<int>(p.Height);
            FPreviewChanged = true;
            FWakeNow = true;
        }
    }
    if (stage == psRunning && r.Bottom > 0) {
        if (!FPreview.Started() && bitmap && !bitmap->Empty() && Previewable(bitmap->PixelFormat()) &&
            bitmap->Width() == FPreview.Width && bitmap->Height() == FPreview.Height) {
            FPreview.Bitmap = bitmap;
            FPreview.Bits = bitmap->ScanLine(0);
            FPreview.Stride = bitmap->RowStride();
            FPreview.Format = bitmap->PixelFormat();
            FPreview.Alpha = bitmap->AlphaPresent();
            const int bits = bitmap->BitsPerPixel();
            for (int i = 0; bits <= 8 && i < (1 << bits); ++i) {
                const TPaletteEntry e = bitmap->PaletteColor(i);
                FPreview.Colors.push_back(qRgb(e.peRed, e.peGreen, e.peBlue));
            }
            FWakeNow = true;
        }
        if (FPreview.Started() && bitmap == FPreview.Bitmap && r.Bottom > FPreview.Rows) {
            FPreview.Rows = std::min(r.Bottom, FPreview.Height);
            FPreviewChanged = true;
        }
    }
    // A run of row reports is one report for the GUI, the last.
    if (stage == psRunning && !FReports.empty() && !FReports.back().Warning && FReports.back().Stage == psRunning &&
        FReports.back().Sender == sender)
        FReports.back() = {sender, stage, percent, r, msg, false};
    else
        FReports.push_back({sender, stage, percent, r, msg, false});
    if (FWakeNow)
        FNews.notify_one();
}

void TBackgroundLoad::Run(const TProgressEvent& progress, const std::function<void(const TPreview&)>& arrived)
{
    for (;;) {
        std::vector<TReport> reports;
        TPreview preview;
        bool changed = false;
        bool ended = false;
        {
            std::unique_lock lock(FMutex);
            FNews.wait_for(lock, kFrame, [this] { return FEnded || FWakeNow; });
            FWakeNow = false;
            reports.swap(FReports);
            changed = std::exchange(FPreviewChanged, false);
            preview = FPreview;
            ended = FEnded;
        }
        for (const TReport& report : reports) {
            if (report.Warning)
                ShowJPEGWarning(report.Text);
            else if (progress)
                progress(report.Sender, report.Stage, report.Percent, report.Stage == psRunning, report.Rect,
                         report.Text);
        }
        if (changed && arrived)
            arrived(preview);
        if (ended)
            break;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    FThread.join();
    if (FError)
        std::rethrow_exception(FError);
}
