// The click tools without a window: where a press puts the selected point
// and what the status bar is told.
#include "tests/app/app_fixture.h"

#include "app/image_view.h"
#include "app/point_list.h"
#include "app/tools/pick_tool.h"
#include "app/tools/snap_tool.h"
#include "tests/support/test_support.h"

namespace {

class ToolsTest : public AppTest {};

TEST_F(ToolsTest, APressPlacesTheSelectedPointWhereTheToolSays)
{
    TImageView view;
    view.Picture().LoadFromFile(pwtest::SamplePath("sample_map.bmp"));
    TPointList points;
    QString status;
    const TToolContext context{&view, &points, [&](const QString& text, const QString&) { status = text; }, [] {}};
    TPickTool pick(context);
    TSnapTool snap(context);
    // Grid crossings of the sample lie on pixel centres; the snap finds
    // them within 0.1 pixel.
    const struct {
        const char* Name;
        TClickTool* Tool;
        Qt::KeyboardModifiers Keys;
        QPoint Press;
        QPointF Placed;
        double Tolerance;  // 0: the whole pixel's exact text
        QString Status;    // starts with it; empty: the status is not touched
    } cases[] = {
        {"picking takes the whole pixel", &pick, {}, {302, 198}, {302, 198}, 0, ""},
        {"snapping lands on the crossing", &snap, {}, {302, 198}, {300, 200}, 0.1, "crossing, \u00b1"},
        {"Shift picks the whole pixel", &snap, Qt::ShiftModifier, {302, 198}, {302, 198}, 0, ""},
        {"nothing to snap to in a field", &snap, {}, {250, 90}, {250, 90}, 0, "nothing to snap to"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        status.clear();
        points.Select(1);
        c.Tool->Press({c.Press.x(), c.Press.y(), QPointF(c.Press), c.Keys});
        const TPointEntry& placed = points.At(0);
        if (c.Tolerance > 0) {
            EXPECT_NEAR(placed.Col.toDouble(), c.Placed.x(), c.Tolerance);
            EXPECT_NEAR(placed.Row.toDouble(), c.Placed.y(), c.Tolerance);
        } else {
            EXPECT_EQ(placed.Col, QString::number(c.Placed.x()));
            EXPECT_EQ(placed.Row, QString::number(c.Placed.y()));
        }
        if (c.Status.isEmpty())
            EXPECT_TRUE(status.isEmpty()) << status.toStdString();
        else
            EXPECT_TRUE(status.startsWith(c.Status)) << status.toStdString();
        EXPECT_EQ(points.Selected(), 2);
    }
}

} // namespace
