#include "app/tools/snap_tool.h"

#include "analysis/feature_snap.h"
#include "app/image_view.h"
#include "app/point_list.h"
#include "platform/bitmap.h"

#include <algorithm>
#include <optional>

namespace {

// A press is as good as a few view pixels, whatever the zoom: the radius
// looked within grows as the view shrinks the picture.
constexpr double kSnapViewRadius = 6;
constexpr double kSnapMinRadius = 12;

} // namespace

void TSnapTool::Press(const TPress& press)
{
    TImageView& view = *FContext.View;
    const TBitmap* bitmap = view.Bitmap();
    if ((press.Keys & Qt::ShiftModifier) || !bitmap || bitmap->Empty()) {
        FPick.Press(press);
        return;
    }
    TSnapOptions options;
    options.Radius = std::clamp(kSnapViewRadius / view.Scale(), kSnapMinRadius, MaxSnapRadius);
    const std::optional<TSnappedFeature> feature = SnapToFeature(*bitmap, press.At.x(), press.At.y(), options);
    std::vector<TZoomMark> marks{{TZoomMark::zmPickedPixel, QPointF(press.X, press.Y)}};
    if (feature)
        marks.push_back({TZoomMark::zmSnappedCross, QPointF(feature->Column, feature->Row)});
    view.SetZoomMarks(std::move(marks));
    FContext.Status(QString::fromStdString(SnapSummary(feature)),
                    feature ? QStringLiteral("Clicked pixel %1, %2; placed at %3, %4")
                                  .arg(press.X)
                                  .arg(press.Y)
                                  .arg(PixelText(feature->Column), PixelText(feature->Row))
                            : QStringLiteral("Nothing trustworthy to snap to near pixel %1, %2; placed on it")
                                  .arg(press.X)
                                  .arg(press.Y));
    if (feature)
        FContext.Points->Place(feature->Column, feature->Row);
    else
        FPick.Press(press);
}
