// The points table of the main window: how it and the two-point panel show
// one list of points, clicks and edits on either, and Save with many points.
#include "tests/app/app_fixture.h"

#include "app/image_view.h"
#include "app/main_window.h"
#include "app/point_list.h"
#include "app/points_panel.h"
#include "app/points_table_model.h"
#include "app/zoom_window.h"
#include "bench/sheet_drawing.h"
#include "georef/gcp_points_file.h"
#include "georef/save_request.h"
#include "georef/world_file.h"
#include "imaging/format_registry.h"
#include "platform/picture.h"
#include "tests/support/test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>

namespace {

using pwtest::Listing;
using pwtest::SamplePath;

class PointsTableTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        QSettings(QStringLiteral("Pinwright"), QStringLiteral("pinwright")).clear();
        Form = std::make_unique<TForm1>();
        std::filesystem::create_directory(Out);
    }
    void TearDown() override
    {
        Form.reset();
        AppTest::TearDown();
    }

    TPointsPanel& Panel() const { return *Form->PointsPanel; }
    // Column, row, Y, X and role of every row, as the table shows them.
    std::vector<QStringList> TableRows() const
    {
        std::vector<QStringList> rows;
        const TPointsTableModel& model = *Panel().Model;
        for (int r = 0; r < model.rowCount(); ++r) {
            QStringList row;
            for (int c = TPointsTableModel::coColumn; c <= TPointsTableModel::coRole; ++c)
                row << model.data(model.index(r, c)).toString();
            rows.push_back(row);
        }
        return rows;
    }
    // The panel's points as the same texts.
    std::vector<QStringList> PanelRows() const
    {
        return {{Form->Label23->text().trimmed(), Form->Label21->text().trimmed(), Form->Edit16->text(),
                 Form->Edit17->text()},
                {Form->Label29->text().trimmed(), Form->Label27->text().trimmed(), Form->Edit18->text(),
                 Form->Edit19->text()}};
    }
    void Edit(int row, int column, const QString& text)
    {
        Panel().Model->setData(Panel().Model->index(row, column), text);
    }
    QString Cell(int row, int column) const
    {
        return Panel().Model->data(Panel().Model->index(row, column)).toString();
    }
    // The errors left out and the warnings, measured in the background.
    void Settle() { ASSERT_TRUE(QTest::qWaitFor([this] { return !Form->Assessing(); })); }
    // Keys as typed: each to the widget that has the focus then (Return
    // commits an edit through the event loop).
    void Type(const QString& keys)
    {
        for (const QChar key : keys) {
            QWidget* focus = QApplication::focusWidget();
            if (key == '\t')
                QTest::keyClick(focus, Qt::Key_Tab);
            else if (key == '\r') {
                QTest::keyClick(focus, Qt::Key_Return);
                QCoreApplication::processEvents();
            }
            else
                QTest::keyClick(focus, key.toLatin1());
        }
    }
    void ClickImage(int x, int y) { QTest::mouseClick(Form->Image1, Qt::LeftButton, {}, QPoint(x, y)); }
    std::string OutFile(const std::string& name) const { return Out + "/" + name; }

    std::unique_ptr<TForm1> Form;
    pwtest::TempDir Dir;
    std::string Out = Dir.File("out");
};

TEST_F(PointsTableTest, TableAndPanelShowOneListOfPoints)
{
    const std::string picture = Dir.File("sheet.pwtest");
    WriteTestPicture(picture, 200, 150);
    Form->OpenFile(QString::fromStdString(picture));
    Form->ShowPointsTable(true);
    Form->show();
    QApplication::setActiveWindow(Form.get());
    const QString f = QStringLiteral("fitted"), c = QStringLiteral("check");
    struct TStep {
        const char* Name;
        std::function<void()> Do;
        std::vector<QStringList> Rows;   // column, row, Y, X, role
        int Selected;                    // the point the next click places
        std::vector<bool> MarkedChecks;  // the markers, in order: true for a check point
    };
    const TStep steps[] = {
        {"two clicks and the boxes",
         [&] {
             ClickImage(3, 7);
             ClickImage(8, 1);
             Form->Edit16->setText("100");
             Form->Edit17->setText("200");
             Form->Edit18->setText("150");
             Form->Edit19->setText("190");
         },
         {{"3", "7", "100", "200", f}, {"8", "1", "150", "190", f}}, 2, {false, false}},
        {"a point added is selected", [&] { QTest::mouseClick(Panel().AddButton, Qt::LeftButton); },
         {{"3", "7", "100", "200", f}, {"8", "1", "150", "190", f}, {"", "", "", "", f}}, 3, {false, false}},
        {"a click places the selected point", [&] { ClickImage(20, 30); },
         {{"3", "7", "100", "200", f}, {"8", "1", "150", "190", f}, {"20", "30", "", "", f}}, 3,
         {false, false, false}},
        {"its coordinates typed in the table, where the click left the cursor",
         [&] {
             Type("12,5\t7\r");
         },
         {{"3", "7", "100", "200", f}, {"8", "1", "150", "190", f}, {"20", "30", "12,5", "7", f}}, 3,
         {false, false, false}},
        {"a position typed for point 1 reaches the panel; text is refused",
         [&] {
             Edit(0, TPointsTableModel::coColumn, "4.25");
             Edit(0, TPointsTableModel::coRow, "x");
         },
         {{"4.25", "7", "100", "200", f}, {"8", "1", "150", "190", f}, {"20", "30", "12,5", "7", f}}, 3,
         {false, false, false}},
        {"selecting row 1 selects point 1, which turns check",
         [&] {
             Panel().Table->selectRow(0);
             QTest::mouseClick(Panel().RoleButton, Qt::LeftButton);
         },
         {{"4.25", "7", "100", "200", c}, {"8", "1", "150", "190", f}, {"20", "30", "12,5", "7", f}}, 1,
         {true, false, false}},
        {"removing point 1 moves the others up into the panel",
         [&] { QTest::mouseClick(Panel().RemoveButton, Qt::LeftButton); },
         {{"8", "1", "150", "190", f}, {"20", "30", "12,5", "7", f}}, 1, {false, false}},
        {"the panel keeps two points, blank when removed",
         [&] { QTest::mouseClick(Panel().RemoveButton, Qt::LeftButton); },
         {{"20", "30", "12,5", "7", f}, {"", "", "", "", f}}, 1, {false}},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Name);
        step.Do();
        EXPECT_EQ(TableRows(), step.Rows);
        const std::vector<QStringList> panel = PanelRows();
        for (size_t i = 0; i < 2; ++i)
            EXPECT_EQ(panel[i], step.Rows[i].mid(0, 4));
        EXPECT_EQ(Form->PointState, step.Selected);
        EXPECT_EQ(Form->RadioButton1->isChecked(), step.Selected == 1);
        EXPECT_EQ(Form->RadioButton2->isChecked(), step.Selected == 2);
        EXPECT_EQ(Panel().SelectedRow(), step.Selected - 1);
        std::vector<bool> checks;
        for (const TPointMarker& marker : Form->Image1->Markers())
            checks.push_back(marker.Check);
        EXPECT_EQ(checks, step.MarkedChecks);
    }
}

TEST_F(PointsTableTest, ManyPointsAreFittedMeasuredAndSavedAsTheCoreWrites)
{
    Form->OpenDialog1.FileName = QString::fromStdString(SamplePath("sample_map.bmp"));
    Form->OpenDialog1.FilterIndex = 1;
    Form->Image1->Picture().LoadFromFile(SamplePath("sample_map.bmp"));
    Dialogs.Confirm(QString::fromStdString(SamplePath("sample_map_9.points")));
    QTest::mouseClick(Form->SpeedButton1, Qt::LeftButton);
    ASSERT_TRUE(Messages.Boxes.empty());
    ASSERT_EQ(Panel().Model->rowCount(), 9);
    EXPECT_TRUE(Panel().isVisibleTo(Form.get())) << "more than two points show the table";
    EXPECT_TRUE(Form->PointsButton->isChecked());
    EXPECT_EQ(Cell(8, TPointsTableModel::coRole), "check");
    Settle();
    const QString exact = QStringLiteral("RMS 0.000 px (n \u2212 k: 0.000), check points 0.000 px");
    EXPECT_EQ(Form->CheckLabel->text(), exact + QStringLiteral(" \u2013 The transformation two-point goes through the "
                                                               "first two fitted points only; the others are "
                                                               "measured, not fitted"));

    Panel().SetTransform("affine");
    Settle();
    EXPECT_EQ(Form->CheckLabel->text(), exact);
    EXPECT_EQ(Cell(4, TPointsTableModel::coResidual), "0.000");
    EXPECT_EQ(Cell(4, TPointsTableModel::coLeftOut), "0.000");
    EXPECT_EQ(Cell(8, TPointsTableModel::coLeftOut), "") << "a check point is never left out";

    // Point 5 mistyped by 50 map units (5 pixels): found left out.
    Edit(4, TPointsTableModel::coNorth, "5403050");
    Settle();
    EXPECT_TRUE(Form->CheckLabel->text().contains("Point 5 may be mistyped")) << Form->CheckLabel->text().toStdString();
    EXPECT_EQ(Form->CheckLabel->styleSheet(), "color: #b00000;");
    double largest = 0;
    int worst = 0;
    for (int r = 0; r < 8; ++r)
        if (Cell(r, TPointsTableModel::coLeftOut).toDouble() > largest) {
            largest = Cell(r, TPointsTableModel::coLeftOut).toDouble();
            worst = r;
        }
    EXPECT_EQ(worst, 4);

    // What Save writes is what the core writes for the same points.
    TControlPoints points = ReadEveryGcpPoint(SamplePath("sample_map_9.points")).Points;
    points[4].North = 5403050;
    TGeorefOptions options;
    options.Transform = "affine";
    const TSaveRequest affine = BuildSaveRequest(points, options);
    const struct {
        const char* Name;
        const char* Transform;
        bool Warp;
        const char* Target;
        int Filter;
        std::set<std::string> Files;
        std::string Text;        // of the file named first, "" for a GeoTIFF
        const char* Error;
    } cases[] = {
        {"points with residuals", "affine", false, "map.points", 3, {"map.points"},
         GcpPointsText(affine.Points, {}, affine.Fit), nullptr},
        {"world file", "affine", false, "map.jgw", 2, {"map.jgw"}, WorldFileText(affine.Fit), nullptr},
        {"projective into a world file", "projective", false, "map.jgw", 2, {}, "",
         "A JGW world file can hold only an affine transformation, not projective"},
        {"projective GeoTIFF and its warped copy", "projective", true, "map.tif", 1, {"map.tif", "map_warped.tif"}, "",
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(Out);
        std::filesystem::create_directory(Out);
        Messages = {};
        Panel().SetTransform(c.Transform);
        EXPECT_EQ(Panel().WarpCheck->isEnabled(), std::string(c.Transform) == "projective");
        Panel().WarpCheck->setChecked(c.Warp);
        Dialogs.Confirm(QString::fromStdString(OutFile(c.Target)), c.Filter);
        QTest::mouseClick(Form->Button11, Qt::LeftButton);
        EXPECT_EQ(Listing(Out), c.Files);
        if (c.Error) {
            ASSERT_EQ(Messages.Boxes.size(), 1u);
            EXPECT_TRUE(Messages.Boxes[0].Text.startsWith(c.Error)) << Messages.Boxes[0].Text.toStdString();
        } else {
            EXPECT_EQ(Messages.Boxes, (std::vector<TRecordedBox>{{"message", "Pinwright", "Files have been made."}}));
        }
        if (!c.Text.empty()) {
            EXPECT_EQ(pwtest::ReadText(OutFile(c.Target)), c.Text);
        }
    }

    // A point added but not placed stops Save.
    QTest::mouseClick(Panel().AddButton, Qt::LeftButton);
    Edit(9, TPointsTableModel::coEast, "1");
    Edit(9, TPointsTableModel::coNorth, "2");
    Messages = {};
    std::filesystem::remove_all(Out);
    std::filesystem::create_directory(Out);
    Dialogs.Confirm(QString::fromStdString(OutFile("map.tif")), 1);
    QTest::mouseClick(Form->Button11, Qt::LeftButton);
    EXPECT_EQ(Messages.Boxes, (std::vector<TRecordedBox>{{"error", "Pinwright", "Point 10 is not placed on the picture."}}));
    EXPECT_TRUE(Listing(Out).empty());
}

TEST_F(PointsTableTest, FindCornersPlacesTheFrameCornersAsPointsOneToFour)
{
    // Small sheets as the frame finder's own tests draw them; it finds their
    // corners within 0.6 pixel.
    TSheetPlan turned;
    turned.Seed = 2;
    turned.RotationDegrees = 2.5;
    turned.StretchY = 1.004;
    TSheetPlan bare = turned;
    bare.Seed = 6;
    bare.NoFrame = true;
    bare.DarkBackground = true;
    const struct {
        const char* Name;
        TSheetPlan Plan;
        std::string Refusal; // empty: found
    } cases[] = {
        {"a sheet turned and stretched a little", turned, ""},
        {"a map without its frame", bare, "No map frame found: its long straight lines close into no frame."},
    };
    Form->ShowPointsTable(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Messages = {};
        TSheet sheet = DrawSheet(c.Plan);
        Form->Image1->Picture().SetGraphic(std::move(sheet.Bitmap));
        Form->Points->SetEntries({{"5", "6", "1000", "2000", TPointRole::Check}, {}});
        const std::vector<QStringList> before = TableRows();

        QTest::mouseClick(Panel().FindCornersButton, Qt::LeftButton);
        EXPECT_TRUE(Form->FindingCorners());
        EXPECT_FALSE(Form->SpeedButton2->isEnabled()) << "no other picture while the finder reads this one";
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !Form->FindingCorners(); }, 30000));
        EXPECT_TRUE(Form->SpeedButton2->isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);

        if (!c.Refusal.empty()) {
            EXPECT_EQ(Messages.Boxes, (std::vector<TRecordedBox>{{"message", "Pinwright", QString::fromStdString(c.Refusal)}}));
            EXPECT_EQ(TableRows(), before);
            continue;
        }
        EXPECT_TRUE(Messages.Boxes.empty());
        const std::vector<QStringList> rows = TableRows();
        ASSERT_EQ(rows.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_NEAR(rows[i][0].toDouble(), sheet.Corners[i].X, 0.6) << i;
            EXPECT_NEAR(rows[i][1].toDouble(), sheet.Corners[i].Y, 0.6) << i;
            EXPECT_EQ(rows[i][4], "fitted");
        }
        EXPECT_EQ(rows[0].mid(2, 2), (QStringList{"1000", "2000"})) << "the coordinates typed stay";
        EXPECT_EQ(Form->PointState, 1);
        EXPECT_TRUE(Form->StatusBar1->Panel(0)->text().startsWith("Corners, \u00b1"));
    }

    // A sheet that prints its corners' coordinates: they fill the boxes left
    // blank, marked as read for the user to confirm; a typed one stays.
    Messages = {};
    InitializeImaging();
    Form->Image1->Picture().SetGraphic(LoadPictureFile(pwtest::DataPath("labels/drawn_sheet.png")));
    Form->Points->SetEntries({{}, {"5", "6", "1000", "2000", TPointRole::Fitted}});
    QTest::mouseClick(Panel().FindCornersButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Form->FindingCorners(); }, 60000));
    const std::vector<QStringList> rows = TableRows();
    ASSERT_EQ(rows.size(), 4u);
    const QStringList read[4] = {{"-127.250000", "7.750000"}, {"1000", "2000"}, {"-127.000000", "7.500000"},
                                 {"-127.250000", "7.500000"}};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(rows[i].mid(2, 2), read[i]) << i;
    EXPECT_TRUE(Form->StatusBar1->Panel(0)->text().endsWith("coordinates read from the sheet's labels: confirm them"))
        << Form->StatusBar1->Panel(0)->text().toStdString();
}

// The mean position of the pixels of one colour.
QPointF Centroid(const QImage& image, QRgb colour)
{
    QPointF sum;
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour) {
                sum += QPointF(x, y);
                ++count;
            }
    return count ? sum / count : QPointF(-1, -1);
}

TEST_F(PointsTableTest, AClickSnapsToTheCrossingUnlessSwitchedOffOrShiftIsHeld)
{
    const std::string blank = Dir.File("blank.pwtest");
    WriteTestPicture(blank, 640, 480);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    TForm2 zoom;
    TGreyScreen screen;
    zoom.SetScreen(&screen);
    zoom.setGeometry(3000, 2000, 150, 150);
    zoom.Slider->setValue(4);
    Form->SetZoomWindow(&zoom);
    // Grid crossings of the sample lie on pixel centres; the snap finds them
    // within 0.1 pixel.
    const struct {
        const char* Name;
        std::string Picture;
        bool Snap;
        Qt::KeyboardModifiers Keys;
        QPointF Placed;      // where the point goes
        double Tolerance;    // 0: the whole pixel's exact text
        QString Status;      // panel 0 starts with it
    } cases[] = {
        {"snapped to the crossing", SamplePath("sample_map.bmp"), true, {}, {300, 200}, 0.1, "crossing, \u00b1"},
        {"Shift places the whole pixel", SamplePath("sample_map.bmp"), true, Qt::ShiftModifier, {302, 198}, 0,
         "version"},
        {"switched off", SamplePath("sample_map.bmp"), false, {}, {302, 198}, 0, "version"},
        {"nothing to snap to", blank, true, {}, {302, 198}, 0, "nothing to snap to"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Form->OpenFile(QString::fromStdString(c.Picture));
        Form->SnapCheck->setChecked(c.Snap);
        Form->RadioButton1Click();
        QTest::mouseClick(Form->Image1, Qt::LeftButton, c.Keys, QPoint(302, 198));
        const double col = Form->Label23->text().toDouble(), row = Form->Label21->text().toDouble();
        if (c.Tolerance > 0) {
            EXPECT_NEAR(col, c.Placed.x(), c.Tolerance);
            EXPECT_NEAR(row, c.Placed.y(), c.Tolerance);
        } else {
            EXPECT_EQ(Form->Label23->text(), QString::number(c.Placed.x()));
            EXPECT_EQ(Form->Label21->text(), QString::number(c.Placed.y()));
        }
        EXPECT_TRUE(Form->StatusBar1->Panel(0)->text().startsWith(c.Status)) << Form->StatusBar1->Panel(0)->text().toStdString();
        ASSERT_FALSE(Form->Image1->Markers().empty());
        EXPECT_EQ(Form->Image1->Markers()[0].Pixel, QPointF(col, row));

        // The magnifier, 8 times over the click: the pixel clicked framed
        // in orange, the snapped position crossed in red.
        screen.At = Form->Image1->mapToGlobal(QPoint(302, 198));
        zoom.Timer1Timer();
        const QImage& shown = zoom.Image1->Picture;
        const double zoomFactor = 150.0 / 18;   // a source of 18 x 18 screen pixels
        const QPointF cursor(9, 9);             // where the cursor's pixel starts in it
        const bool snapped = c.Tolerance > 0;
        const QPointF frame = snapped || c.Status == "nothing to snap to" ? (cursor + QPointF(0.5, 0.5)) * zoomFactor
                                                                          : QPointF(-1, -1);
        const QPointF cross = snapped ? (cursor + QPointF(0.5, 0.5) + c.Placed - QPointF(302, 198)) * zoomFactor
                                      : QPointF(-1, -1);
        const QPointF frameAt = Centroid(shown, qRgb(255, 140, 0));
        const QPointF crossAt = Centroid(shown, qRgb(220, 0, 0));
        EXPECT_NEAR(frameAt.x(), frame.x(), 1.0);
        EXPECT_NEAR(frameAt.y(), frame.y(), 1.0);
        EXPECT_NEAR(crossAt.x(), cross.x(), 1.0);
        EXPECT_NEAR(crossAt.y(), cross.y(), 1.0);
        Form->Image1->SetZoomMarks({});
    }
    Form->SetZoomWindow(nullptr);
}

} // namespace
