// The main window's snapping: a click on the picture lands on the crossing
// or corner of printed lines under it, found to a fraction of a pixel, unless
// the switch is off or Shift is held. The status bar says what was found, and
// the magnifier shows the pixel clicked and where the point went.
#include "app/main_window.h"

#include "analysis/feature_snap.h"
#include "app/image_view.h"
#include "platform/bitmap.h"

#include <QCheckBox>

#include <algorithm>
#include <optional>

namespace {

// A click is as good as a few view pixels, whatever the zoom: the radius
// looked within grows as the view shrinks the picture.
constexpr double kSnapViewRadius = 6;
constexpr double kSnapMinRadius = 12;

} // namespace

void TForm1::BuildSnapControls()
{
    SnapCheck = new QCheckBox(QStringLiteral("Snap"), Panel4);
    SnapCheck->setGeometry(290, 30, 50, 17);
    SnapCheck->setChecked(true);
    SnapCheck->setToolTip(QStringLiteral("A click lands on the crossing or corner of printed lines under it, to a "
                                         "fraction of a pixel; hold Shift while clicking to place a point on the "
                                         "whole pixel clicked"));
}

void TForm1::ImageClicked(int x, int y, QPointF at, Qt::KeyboardModifiers modifiers)
{
    const TBitmap* bitmap = Image1->Bitmap();
    if (!SnapCheck->isChecked() || (modifiers & Qt::ShiftModifier) || !bitmap || bitmap->Empty()) {
        Image1MouseDown(x, y);
        return;
    }
    TSnapOptions options;
    options.Radius = std::clamp(kSnapViewRadius / Image1->Scale(), kSnapMinRadius, MaxSnapRadius);
    const std::optional<TSnappedFeature> feature = SnapToFeature(*bitmap, at.x(), at.y(), options);
    std::vector<TZoomMark> marks{{TZoomMark::zmPickedPixel, QPointF(x, y)}};
    if (feature)
        marks.push_back({TZoomMark::zmSnappedCross, QPointF(feature->Column, feature->Row)});
    Image1->SetZoomMarks(std::move(marks));
    StatusBar1->Panel(0)->setText(QString::fromStdString(SnapSummary(feature)));
    StatusBar1->Panel(0)->setToolTip(
        feature ? QStringLiteral("Clicked pixel %1, %2; placed at %3, %4")
                      .arg(x)
                      .arg(y)
                      .arg(PixelText(feature->Column), PixelText(feature->Row))
                : QStringLiteral("Nothing trustworthy to snap to near pixel %1, %2; placed on it").arg(x).arg(y));
    if (feature)
        PlacePoint(feature->Column, feature->Row);
    else
        Image1MouseDown(x, y);
}
