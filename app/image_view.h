#pragma once
// Image1: the picture at its natural size or reduced, painted only where it
// is exposed: at 1:1 row by row from the bitmap's own memory, reduced from
// the overview, which a background thread builds as the bitmap's rows come.
// A picture is loaded, and one that is not a bitmap decoded, on a thread of
// its own; meanwhile the view shows the rows that have arrived. A press
// reports the image's pixel column and row under the cursor, and so does
// every move. The control points are marked over the picture (not drawn
// into it), where they lie at every scale.
#include "app/background_load.h"
#include "app/first_look.h"
#include "app/zoom_window.h"
#include "platform/picture.h"

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class TOverviewPyramid;
class TRowsArrived;
struct TOverviewSource;

class TBitmap;
class QPainter;

struct TPointMarker {
    int Number = 0;
    QPointF Pixel;
    bool Check = false;     // a check point, drawn apart from the fitted ones
    bool Selected = false;  // the point the next click places
    bool operator==(const TPointMarker&) const = default;
};

class TImageView;

// Something drawn over the picture where it lies at every scale, after the
// markers (residual vectors, a grid's lines): the view paints every item
// added, each asked for the part exposed.
class TCanvasItem {
public:
    virtual ~TCanvasItem() = default;
    virtual void Paint(QPainter& painter, const TImageView& view) const = 0;
};

class TImageView : public QWidget, public TZoomPicture {
    Q_OBJECT
public:
    explicit TImageView(QWidget* parent = nullptr);
    ~TImageView() override;

    TPicture& Picture() { return FPicture; }
    // Loads the file into a new picture on a thread of its own, showing its
    // rows as they come, lets check refuse it (by raising), and puts it in
    // place. progress gets the load's reports on this thread. When anything
    // raises, the previous picture is shown again and stays.
    void OpenPicture(const std::string& fileName, const TProgressEvent& progress,
                     const std::function<void(TGraphic&)>& check);
    // The size of the picture shown: the one being loaded while it comes.
    QSize PictureSize() const;
    // A picture is being loaded and shown as its rows come.
    bool Loading() const { return FPreview.has_value(); }
    // The picture being opened or decoded is shown from its first look.
    bool ShowsFirstLook() const { return FFirstLook != nullptr; }

    // Decodes a picture that is not a bitmap itself (a JPEG, an icon) when it
    // has not been yet; the first paint asks for it.
    void DecodeNow();
    bool DecodePending() const;

    // View pixels per image pixel (1 at 1:1); the control takes the picture's
    // size at that scale.
    void SetScale(double scale);
    double Scale() const { return FScale; }
    // The view position of the centre of image pixel (column, row).
    QPointF ViewOfPixel(int column, int row) const;
    // The same for a position with decimals.
    QPointF ViewOfPosition(const QPointF& pixel) const;
    // The overview in use, once every level is built; null before.
    const TOverviewPyramid* Overview() const;
    // Waits for the overview (tests and measurements).
    void WaitForOverview();

    // The picture's bitmap once it is known (decoded), else null.
    const TBitmap* Bitmap() const { return FBitmap; }

    // For the magnifier: the real pixels under the cursor while reduced,
    // and the marks of the last point picked.
    bool PixelAt(const QPoint& screen, QPoint& pixel, QSize& size) override;
    QImage Pixels(const QRect& rect) override;
    std::vector<TZoomMark> Marks() override { return FZoomMarks; }
    bool ScreenPosition(const QPointF& pixel, QPointF& screen) override;
    void SetZoomMarks(std::vector<TZoomMark> marks) { FZoomMarks = std::move(marks); }
    // The control points to mark; Pixel is (column, row) with decimals,
    // integer values at pixel centres.
    void SetMarkers(std::vector<TPointMarker> markers);
    const std::vector<TPointMarker>& Markers() const { return FMarkers; }
    // Items stay the caller's; an item changed asks for a repaint itself.
    void AddCanvasItem(const TCanvasItem* item) { FCanvasItems.push_back(item); update(); }
    void RemoveCanvasItem(const TCanvasItem* item) { std::erase(FCanvasItems, item); update(); }

signals:
    // Any mouse button pressed at pixel column x, row y; at is the image
    // position under the cursor's tip with decimals (pixel centres at
    // integers), modifiers the keys held.
    void mouseDown(int x, int y, QPointF at, Qt::KeyboardModifiers modifiers);
    // A decode starts or ends (for the progress bar).
    void decodeBusy(bool busy);
    // Another picture (or none) is in place; its size may differ.
    void pictureReplaced();
    // Every level of the overview is built.
    void overviewReady();
    // The cursor moved onto pixel column x, row y; left: it left the picture.
    void mouseMove(int x, int y);
    void mouseLeft();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void PictureChanged();
    void RowsArrived(const TBackgroundLoad::TPreview& preview);
    void EndPreview();
    void FirstLookArrived(unsigned open, const TGraphic* graphic, const TFirstLookPtr& look);
    // Rows of the shown picture: the bitmap's, or the rows of the one being
    // loaded that have arrived.
    struct TRows {
        int Width = 0;
        int Height = 0;
        int Ready = 0;
        const uint8_t* Bits = nullptr;
        int64_t Stride = 0;
        TBitmapFormat Format = bfDevice;
        bool Alpha = false;
        std::function<void(int y, int x, int count, uint32_t* out)> RowToARGB;
    };
    TRows ShownRows() const;
    void PaintBitmap(QPainter& painter, const TRows& rows, const QRect& exposed);
    void PaintReduced(QPainter& painter, const TRows& rows, const QRect& exposed);
    void PaintSampled(QPainter& painter, const TRows& rows, const QRect& exposed);
    void StartOverview(const TOverviewSource& source, int rows);
    void StopOverview();
    void UpdateArrivedRows(int before, int rows);
    void FitToScale();
    void PaintMarkers(QPainter& painter) const;

    TPicture FPicture;
    TGraphic* FGraphic = nullptr;   // the graphic the fields below describe
    TBitmap* FBitmap = nullptr;     // its view bitmap, once known
    bool FDecodeFailed = false;
    bool FDecoding = false;
    bool FDecodeQueued = false;
    bool FPaintFailed = false;
    bool FKeepOverview = false;     // the picture put in place has its overview already
    double FScale = 1.0;
    std::shared_ptr<TOverviewPyramid> FOverview;
    std::shared_ptr<TRowsArrived> FOverviewRows;
    const void* FOverviewOf = nullptr; // the bitmap it is made of
    std::atomic<bool> FStopOverview{false};
    std::thread FOverviewThread;
    QImage FScaled;                 // the view at a scale between levels
    int FScaledLevel = 0;           // the overview level it was made from
    int FScaledRows = 0;            // and that level's rows then
    int FAskedLevelRows = 0;        // rows of the overview level painted from that a repaint was asked for
    std::vector<TPointMarker> FMarkers;
    std::vector<TZoomMark> FZoomMarks;
    std::vector<const TCanvasItem*> FCanvasItems;
    // The picture being loaded, while it is.
    std::optional<TBackgroundLoad::TPreview> FPreview;
    // Its first look until its rows are all there, and which open it is.
    TFirstLookPtr FFirstLook;
    unsigned FOpenCount = 0;
    const TGraphic* FOpening = nullptr;
};
