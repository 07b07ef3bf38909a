// The click tools without a window: where a press puts the selected point
// and what the status bar is told; the Grid action's points.
#include "tests/app/app_fixture.h"

#include "app/image_view.h"
#include "app/point_list.h"
#include "app/tools/pick_tool.h"
#include "app/tools/grid_lattice.h"
#include "app/tools/grid_tool.h"
#include "app/tools/snap_tool.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QCoreApplication>
#include <QTest>

#include <cmath>
#include <optional>

namespace {

class ToolsTest : public AppTest {};

TEST_F(ToolsTest, APressPlacesTheSelectedPointWhereTheToolSays)
{
    TImageView view;
    view.Picture().LoadFromFile(pwtest::SamplePath("sample_map.bmp"));
    TPointList points;
    QString status;
    const TToolContext context{&view, &points, [&](const QString& text, const QString&) { status = text; }, [] {}, {}, {}};
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

namespace {

// Grid on the sample map: its grid of 1000 m has lines every 100 pixels,
// from column 100 and row 100 (Y 3501000, X 5404000); 21 of its 24
// crossings are clear of lettering and symbols.
TEST_F(ToolsTest, GridPlacesEveryNumberedCrossingAsAPoint)
{
    TImageView view;
    view.Picture().LoadFromFile(pwtest::SamplePath("sample_map.bmp"));
    TPointList points;
    QString status, crsSet;
    const TToolContext context{&view, &points, [&](const QString& text, const QString&) { status = text; }, [] {},
                               [] { return QString(); }, [&](const QString& id) { crsSet = id; }};
    TGridTool tool(context);
    const TPointEntry other{"250", "90", "7", "8", TPointRole::Check};
    const TGridSettings settings{"3503000", "5403000", "1000", "EPSG:31467"};
    const struct {
        const char* Name;
        std::vector<TPointEntry> Before;
        std::optional<TGridSettings> Answer;
        size_t Crossings; // 0: the points stay as they were
        std::vector<TRecordedBox> Boxes;
    } cases[] = {
        {"every crossing numbered, the other point kept", {{"300.02", "199.98", "", ""}, other}, settings, 21, {}},
        {"cancelled", {{"300", "200", "", ""}}, std::nullopt, 0, {}},
        {"nothing snapped", {{}, {}}, settings, 0,
         {{"error", "Pinwright", "Snap one crossing of the grid first (a click on it with Snap on), then choose Grid."}}},
        {"a spacing of nothing", {{"300", "200", "", ""}}, TGridSettings{"1", "2", "0", ""}, 0,
         {{"error", "Pinwright", "'0' is not a spacing above 0."}}},
        {"paper, not a crossing", {{"250", "150", "", ""}}, settings, 0,
         {{"message", "Pinwright", "No crossing of two lines within 12 pixels of the known crossing at 250,150."}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Messages = {};
        points.SetEntries(c.Before);
        const std::vector<TPointEntry> before = points.Entries();
        QString where;
        tool.Ask = [&](const TGridSettings& proposed, const QString& at) {
            if (&c == &cases[0]) {
                EXPECT_EQ(proposed, TGridSettings{});
            }
            where = at;
            return c.Answer;
        };
        tool.Action()->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !tool.Running(); }, 30000));
        QCoreApplication::processEvents();
        EXPECT_EQ(Messages.Boxes, c.Boxes);
        if (c.Crossings == 0) {
            EXPECT_EQ(points.Entries(), before);
            continue;
        }
        EXPECT_EQ(where, "column 300.02, row 199.98 (point 1)");
        EXPECT_EQ(status, QString("Grid: %1 crossings numbered, 0 refused").arg(c.Crossings));
        EXPECT_EQ(crsSet, "EPSG:31467") << "the grid's system for an empty box";
        ASSERT_EQ(points.Count(), int(c.Crossings) + 1);
        EXPECT_EQ(points.At(int(c.Crossings)), other);
        EXPECT_EQ(points.At(0).East, "3503000");
        EXPECT_EQ(points.At(0).North, "5403000");
        for (int row = 0; row < int(c.Crossings); ++row) {
            const TPointEntry& p = points.At(row);
            const double col = p.Col.toDouble(), line = p.Row.toDouble();
            const int i = int(std::lround(col / 100)), j = int(std::lround(line / 100));
            EXPECT_NEAR(col, 100 * i, 0.3) << row;
            EXPECT_NEAR(line, 100 * j, 0.3) << row;
            EXPECT_EQ(p.East, QString::number(3500000 + 1000 * i)) << row;
            EXPECT_EQ(p.North, QString::number(5405000 - 1000 * j)) << row;
            EXPECT_EQ(p.Role, TPointRole::Fitted) << row;
        }
        const std::vector<TGridLattice::TNode> lattice = tool.Lattice().Shown();
        ASSERT_EQ(lattice.size(), c.Crossings);
        EXPECT_EQ(std::pair(lattice[0].East, lattice[0].North), std::pair(0, 0));
        // A crossing moved by hand leaves the lattice.
        points.SetPixelTexts(3, "1", "1");
        EXPECT_EQ(tool.Lattice().Shown().size(), c.Crossings - 1);
    }
}

} // namespace
