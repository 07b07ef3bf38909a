#pragma once
// A picture loaded or decoded on a thread of its own while the GUI thread
// goes on painting: what the reader reports (progress, JPEG warnings) is
// handed to the GUI thread, and so is what may be painted of the bitmap being
// filled, the rows it has finished.
#include "platform/bitmap.h"
#include "platform/graphic.h"

#include <QRgb>
#include <QVector>

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TBackgroundLoad {
public:
    // The picture being loaded: its size once the reader knows it, then the
    // bitmap being filled, as its first finished row found it (its
    // description does not change after that): rows below Rows are final.
    struct TPreview {
        const TBitmap* Bitmap = nullptr;
        const uint8_t* Bits = nullptr;
        int64_t Stride = 0;
        int Width = 0;
        int Height = 0;
        TBitmapFormat Format = bfDevice;
        bool Alpha = false;
        QVector<QRgb> Colors; // the palette, for indexed formats
        int Rows = 0;
        bool Sized() const { return Width > 0 && Height > 0; }
        bool Started() const { return Bitmap != nullptr; }
        // Row y from column x on, count pixels, as 0xAARRGGBB values.
        void RowToARGB(int y, int x, int count, uint32_t* out) const;
    };

    // Whether the picture's class reads and decodes without the GUI's help,
    // so that it may on another thread (the TIFF, PNG and JPEG readers).
    static bool Suits(const TGraphic& graphic);

    // Starts job on a thread of its own; job gives the picture it loads or
    // decodes the progress handler it is passed.
    explicit TBackgroundLoad(std::function<void(const TProgressEvent& progress)> job);
    ~TBackgroundLoad();
    TBackgroundLoad(const TBackgroundLoad&) = delete;
    TBackgroundLoad& operator=(const TBackgroundLoad&) = delete;

    // On the GUI thread until the job has ended: hands the reports to
    // progress and the JPEG warnings to their hook in the order they came,
    // calls arrived whenever more rows are final, and processes the GUI's
    // events (but not user input) in between. Raises what the job raised.
    void Run(const TProgressEvent& progress, const std::function<void(const TPreview&)>& arrived);

private:
    struct TReport {
        TGraphic* Sender;
        TProgressStage Stage;
        uint8_t Percent;
        TRect Rect;
        std::string Text; // the warning's when Warning
        bool Warning;
    };
    void Note(TGraphic* sender, TProgressStage stage, uint8_t percent, const TRect& r, const std::string& msg);

    std::mutex FMutex;
    std::condition_variable FNews;
    std::vector<TReport> FReports;
    TPreview FPreview;
    bool FPreviewChanged = false;
    bool FWakeNow = false; // the preview's size is known or it started
    bool FEnded = false;
    std::exception_ptr FError;
    std::thread FThread;
};
