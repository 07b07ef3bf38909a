// Save and Load file of the main window, through scripted dialogs and the
// real converters.
#include "tests/app/app_fixture.h"

#include "app/controls.h"
#include "app/image_view.h"
#include "app/main_window.h"
#include "app/point_list.h"
#include "app/points_panel.h"
#include "app/residual_vectors.h"
#include "tests/support/test_support.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <memory>
#include <set>
#include <sys/stat.h>

namespace {

using pwtest::Listing;
using pwtest::SamplePath;
using pwtest::SampleWorldFile;
using pwtest::WriteProgram;

class SaveTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        // No system remembered from an earlier test.
        QSettings(QStringLiteral("Pinwright"), QStringLiteral("pinwright")).clear();
        Form = std::make_unique<TForm1>();
        std::filesystem::create_directory(Out);
        std::filesystem::create_directory(Start);
        Form->StartDir = Start;
    }
    void TearDown() override
    {
        Form.reset();
        AppTest::TearDown();
    }

    // The sample map as Open leaves it, its two control points picked and
    // their map coordinates typed.
    void PrepareSample(const std::string& image = "sample_map.bmp", int filterIndex = 1)
    {
        Form->OpenDialog1.FileName = QString::fromStdString(SamplePath(image));
        Form->OpenDialog1.FilterIndex = filterIndex;
        Form->Image1MouseDown(100, 100);
        Form->Image1MouseDown(500, 400);
        Fill("3501000", "5404000", "3505000", "5401000");
    }
    void Fill(const QString& y1, const QString& x1, const QString& y2, const QString& x2)
    {
        Form->Edit16->setText(y1);
        Form->Edit17->setText(x1);
        Form->Edit18->setText(y2);
        Form->Edit19->setText(x2);
    }
    QStringList Boxes() const
    {
        return {Form->Edit16->text(), Form->Edit17->text(), Form->Edit18->text(), Form->Edit19->text()};
    }
    void ClickSave() { QTest::mouseClick(Form->Button11, Qt::LeftButton); }
    void ClickLoadFile() { QTest::mouseClick(Form->SpeedButton1, Qt::LeftButton); }
    std::string OutFile(const std::string& name) const { return Out + "/" + name; }

    std::unique_ptr<TForm1> Form;
    pwtest::TempDir Dir;
    std::string Out = Dir.File("out");
    std::string Start = Dir.File("start");
};

TEST_F(SaveTest, CompletenessCheckComesFirst)
{
    const struct {
        const char* Name;
        QStringList Texts;
        bool Complete;
    } cases[] = {
        {"all empty", {"", "", "", ""}, false},
        {"three filled", {"1", "2", "3", ""}, false},
        {"first empty", {"", "2", "3", "4"}, false},
        {"blanks count as filled", {" ", "2", "3", "  "}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Messages = {};
        Dialogs.Executed = 0;
        Fill(c.Texts[0], c.Texts[1], c.Texts[2], c.Texts[3]);
        if (c.Complete)
            Dialogs.Cancel();
        ClickSave();
        EXPECT_EQ(Dialogs.Executed, c.Complete ? 1 : 0);
        EXPECT_EQ(Messages.Beeps, c.Complete ? 0 : 1);
        const std::vector<TRecordedBox> expected =
            c.Complete ? std::vector<TRecordedBox>{}
                       : std::vector<TRecordedBox>{{"message", "Pinwright", "Fill in all coordinates!"}};
        EXPECT_EQ(Messages.Boxes, expected);
    }
    EXPECT_TRUE(Listing(Out).empty());
}

TEST_F(SaveTest, CancelWritesNothing)
{
    PrepareSample();
    Dialogs.Cancel();
    ClickSave();
    EXPECT_EQ(Dialogs.Executed, 1);
    EXPECT_EQ(Messages.Beeps, 0);
    EXPECT_TRUE(Messages.Boxes.empty());
    EXPECT_TRUE(Listing(Out).empty());
}

TEST_F(SaveTest, SuccessForEachTargetType)
{
    const struct {
        const char* Name;
        const char* Image;
        int OpenFilter;
        const char* Target;
        int SaveFilter;
        std::set<std::string> Files;
        const char* WorldFile;
    } cases[] = {
        {"BMP to TIFF + TFW", "sample_map.bmp", 1, "map.tif", 1, {"map.tif", "map.tfw"}, "map.tfw"},
        {"JPEG to TIFF + TFW", "sample_map.jpg", 2, "map.tif", 1, {"map.tif", "map.tfw"}, "map.tfw"},
        {"JGW", "sample_map.jpg", 2, "map.jgw", 2, {"map.jgw"}, "map.jgw"},
        {"name without extension", "sample_map.bmp", 1, "map", 1, {"map.tif", "map.tfw"}, "map.tfw"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(Out);
        std::filesystem::create_directory(Out);
        Messages = {};
        PrepareSample(c.Image, c.OpenFilter);
        Dialogs.Confirm(QString::fromStdString(OutFile(c.Target)), c.SaveFilter);
        ClickSave();
        EXPECT_EQ(Messages.Beeps, 1);
        EXPECT_EQ(Messages.Boxes, (std::vector<TRecordedBox>{{"message", "Pinwright", "Files have been made."}}));
        EXPECT_EQ(Listing(Out), c.Files);
        EXPECT_EQ(pwtest::ReadText(OutFile(c.WorldFile)), SampleWorldFile);
        EXPECT_TRUE(Form->Button11->isEnabled());
    }
}

TEST_F(SaveTest, SignTogglePressedNegates)
{
    PrepareSample();
    Fill("1000", "5000", "1200", "5000");
    Form->Image1MouseDown(10, 20);
    Form->Image1MouseDown(110, 20); // point 2 again: PointState stays 2
    Form->RadioButton1Click();
    Form->Image1MouseDown(10, 20);
    Form->Panel1->SetBevelInner(bvLowered);
    Dialogs.Confirm(QString::fromStdString(OutFile("map.jgw")), 2);
    ClickSave();
    EXPECT_EQ(pwtest::ReadText(OutFile("map.jgw")),
              "2.000000000000\r\n0.000\r\n0.000\r\n-2.000000000000\r\n-1020.000\r\n-4960.000\r\n");
}

TEST_F(SaveTest, ErrorsAreShownAndNothingIsMade)
{
    const struct {
        const char* Name;
        std::function<void()> Setup;
        std::string Target;
        std::vector<TRecordedBox> Boxes; // the error's text is checked from its start
    } cases[] = {
        {"point not picked",
         [this] { Form->Points->SetPixelTexts(1, "     ", "     "); },
         "map.tif", {{"error", "Pinwright", "'     ' is not a valid floating point value."}}},
        {"same pixel", [this] { Form->Image1MouseDown(100, 100); }, "map.tif",
         {{"error", "Pinwright", "Floating point division by zero."}}},
        {"same pixel and same map point",
         [this] { Form->Image1MouseDown(100, 100); Fill("1", "2", "1", "2"); }, "map.tif",
         {{"error", "Pinwright", "Invalid floating point operation."}}},
        {"same map point, no scale", [this] { Fill("1", "2", "1", "2"); }, "map.jgw",
         {{"error", "Pinwright", "Points 1 and 2 have the same map coordinates, which give no scale."}}},
        {"malformed coordinate", [this] { Form->Edit18->setText("1,234,5"); }, "map.jgw",
         {{"error", "Pinwright", "'1,234,5' is not a valid floating point value."}}},
        {"target folder missing", [] {}, "missing/map.jgw", {{"error", "Pinwright", "File not found."}}},
        {"JPEG opened under the BMP filter",
         [this] { Form->OpenDialog1.FileName = QString::fromStdString(SamplePath("sample_map.jpg")); },
         "map.tif", {{"error", "Pinwright", "The converter bmp2tiff failed with exit code 1: "}}},
        {"converter cannot start",
         [this] {
             Form->OpenDialog1.FilterIndex = 2;
             Form->OpenDialog1.FileName = QString::fromStdString(SamplePath("sample_map.jpg"));
             WriteProgram(Start + "/jpg2bmp", "#!/no/such/shell\n");
         },
         "map.tif",
         {{"message", "Pinwright", "Error starting module!"},
          {"error", "Pinwright", "Cannot start the converter jpg2bmp."}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(Start);
        std::filesystem::create_directory(Start);
        Messages = {};
        PrepareSample();
        c.Setup();
        pwtest::WriteText(OutFile("map.tif"), "old");
        pwtest::WriteText(OutFile("map.jgw"), "old");
        Dialogs.Confirm(QString::fromStdString(OutFile(c.Target)), c.Target.ends_with(".jgw") ? 2 : 1);
        ClickSave();
        EXPECT_EQ(Messages.Beeps, 0);
        ASSERT_EQ(Messages.Boxes.size(), c.Boxes.size());
        for (size_t i = 0; i < c.Boxes.size(); ++i) {
            EXPECT_EQ(Messages.Boxes[i].Kind, c.Boxes[i].Kind);
            EXPECT_TRUE(Messages.Boxes[i].Text.startsWith(c.Boxes[i].Text)) << Messages.Boxes[i].Text.toStdString();
        }
        EXPECT_EQ(Listing(Out), (std::set<std::string>{"map.tif", "map.jgw"}));
        EXPECT_EQ(pwtest::ReadText(OutFile("map.tif")), "old");
        EXPECT_EQ(pwtest::ReadText(OutFile("map.jgw")), "old");
    }
}

TEST_F(SaveTest, NoSecondSaveWhileAConverterRuns)
{
    // A slow bmp2tiff: the window stays live while Save waits for it.
    WriteProgram(Start + "/bmp2tiff", "#!/bin/sh\nsleep 0.5\nexec '" + pwtest::BinPath("bmp2tiff") + "' \"$@\"\n");
    PrepareSample();
    Dialogs.Confirm(QString::fromStdString(OutFile("map.tif")), 1);
    bool enabledDuringWait = true;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QTimer::singleShot(200, [&] {
        enabledDuringWait = Form->Button11->isEnabled();
        Form->Button11Click();
    });
    ClickSave();
    EXPECT_FALSE(enabledDuringWait);
    EXPECT_GE(ticks, 10);
    EXPECT_EQ(Dialogs.Executed, 1);
    EXPECT_EQ(Messages.Boxes, (std::vector<TRecordedBox>{{"message", "Pinwright", "Files have been made."}}));
    EXPECT_TRUE(Form->Button11->isEnabled());
}

TEST_F(SaveTest, LoadFileFillsTheBoxes)
{
    const struct {
        const char* Name;
        const char* Content; // nullptr: no such file
        QStringList Boxes;
        const char* Error;
    } cases[] = {
        {"two records", "1 100.5 200.25\r\n2 300 400\r\n", {"100.5", "200.25", "300", "400"}, nullptr},
        {"one record", "1 3501000 5404000\n", {"3501000", "5404000", "0", "0"}, nullptr},
        {"record 2 malformed", "1 7 8\n2 3,5 4\n", {"7", "8", "y2", "x2"}, "Invalid numeric input."},
        {"record 1 malformed", "1 seven 8\n2 3 4\n", {"y1", "x1", "y2", "x2"}, "Invalid numeric input."},
        {"file missing", nullptr, {"y1", "x1", "y2", "x2"}, "File not found."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Messages = {};
        Fill("y1", "x1", "y2", "x2");
        const std::string file = Dir.File("points.txt");
        std::filesystem::remove(file);
        if (c.Content)
            pwtest::WriteText(file, c.Content);
        Dialogs.Confirm(QString::fromStdString(file));
        ClickLoadFile();
        EXPECT_EQ(Boxes(), c.Boxes);
        if (c.Error)
            EXPECT_EQ(Messages.Boxes, (std::vector<TRecordedBox>{{"error", "Pinwright", c.Error}}));
        else
            EXPECT_TRUE(Messages.Boxes.empty());
    }
    Fill("y1", "x1", "y2", "x2");
    Dialogs.Cancel();
    ClickLoadFile();
    EXPECT_EQ(Boxes(), (QStringList{"y1", "x1", "y2", "x2"}));
}

TEST_F(SaveTest, SampleThroughLoadFileAndSave)
{
    Form->OpenDialog1.FileName = QString::fromStdString(SamplePath("sample_map.bmp"));
    Form->OpenDialog1.FilterIndex = 1;
    Form->Image1MouseDown(100, 100);
    Form->Image1MouseDown(500, 400);
    Dialogs.Confirm(QString::fromStdString(SamplePath("sample_map_points.txt")));
    ClickLoadFile();
    Dialogs.Confirm(QString::fromStdString(OutFile("sheet.tif")), 1);
    ClickSave();
    EXPECT_EQ(pwtest::ReadText(OutFile("sheet.tfw")), SampleWorldFile);
    EXPECT_EQ(Listing(Out), (std::set<std::string>{"sheet.tif", "sheet.tfw"}));
}

TEST_F(SaveTest, CheckMarkersAndCursorFollowThePoints)
{
    Form->Image1->Picture().LoadFromFile(SamplePath("sample_map.bmp"));
    const struct {
        const char* Name;
        QPoint P1, P2;
        QStringList Boxes;
        bool Rotate;
        QString Check;
        QString Cursor; // at pixel (10, 20)
    } cases[] = {
        {"clean pair", {100, 100}, {500, 400}, {"3501000", "5404000", "3505000", "5401000"}, false,
         "Misfit 0.000 px, rotation 0.00\u00b0", "x 10, y 20   Y 3500100.000, X 5404800.000"},
        {"point 2 sent to 192 instead of 208", {0, 0}, {3, 4}, {"100", "200", "106", "208"}, false,
         "Misfit 8.000 px, rotation -106.26\u00b0 \u2013 Point 2 lies 8.000 pixels from its coordinates \u2013 The map "
         "axes point the wrong way (Y and X swapped, or the sign toggle needed)",
         "x 10, y 20   Y 120.000, X 160.000"},
        {"the same with rotation", {0, 0}, {3, 4}, {"100", "200", "106", "208"}, true,
         "Misfit 0.000 px, rotation -106.26\u00b0 \u2013 The map axes point the wrong way (Y and X swapped, or the "
         "sign toggle needed)",
         "x 10, y 20   Y 132.800, X 230.400"},
        {"a box still empty", {100, 100}, {500, 400}, {"3501000", "5404000", "3505000", ""}, false, "", "x 10, y 20"},
        {"the same map coordinates", {100, 100}, {500, 400}, {"1", "2", "1", "2"}, false,
         "Points 1 and 2 have the same map coordinates, which give no scale", "x 10, y 20"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Form->RadioButton1Click();
        Form->RotateCheck->setChecked(c.Rotate);
        Form->Image1MouseDown(c.P1.x(), c.P1.y());
        Form->Image1MouseDown(c.P2.x(), c.P2.y());
        Fill(c.Boxes[0], c.Boxes[1], c.Boxes[2], c.Boxes[3]);
        EXPECT_EQ(Form->CheckLabel->text(), c.Check);
        Form->Image1MouseMove(10, 20);
        EXPECT_EQ(Form->CursorPanel->text(), c.Cursor);
        // The markers are painted over the picture: red at the picked pixels.
        const QImage shown = Form->Image1->grab().toImage();
        EXPECT_EQ(shown.pixelColor(c.P1.x() + 3, c.P1.y()), QColor(Qt::red));
        EXPECT_EQ(shown.pixelColor(c.P2.x(), c.P2.y() + 3), QColor(Qt::red));
    }
}

TEST_F(SaveTest, PointsFileSystemAndRotationReachTheOutputs)
{
    Form->OpenDialog1.FileName = QString::fromStdString(SamplePath("sample_map.jpg"));
    Form->CrsEdit->setText("EPSG:99999");
    Form->Image1MouseDown(100, 100);
    Form->Image1MouseDown(500, 400);
    Fill("3501000", "5404000", "3505000", "5401000");
    ClickSave();
    EXPECT_EQ(Messages.Boxes,
              (std::vector<TRecordedBox>{{"error", "Pinwright", "Unknown coordinate reference system 'EPSG:99999'."}}));
    EXPECT_EQ(Dialogs.Executed, 0);

    Form->Image1MouseDown(1, 1);
    Dialogs.Confirm(QString::fromStdString(std::string(PW_TEST_DATA) + "/georef/sample_map_31467.points"));
    ClickLoadFile();
    EXPECT_EQ((QStringList{Form->Label21->text(), Form->Label23->text(), Form->Label27->text(), Form->Label29->text()}),
              (QStringList{"100", "100", "400", "500"}));
    EXPECT_EQ(Boxes(), (QStringList{"3501000", "5404000", "3505000", "5401000"}));
    EXPECT_EQ(Form->CrsEdit->text(), "EPSG:31467");
    EXPECT_EQ(Form->CrsNameLabel->text(), "DHDN / 3-degree Gauss-Kruger zone 3");

    Form->RotateCheck->setChecked(true);
    Dialogs.Confirm(QString::fromStdString(OutFile("sheet.jgw")), 2);
    ClickSave();
    EXPECT_EQ(pwtest::ReadText(OutFile("sheet.jgw")),
              "10.000000000000\r\n0.000000000000\r\n0.000000000000\r\n-10.000000000000\r\n3500000.000\r\n5405000.000\r\n");
    EXPECT_EQ(Listing(Out), (std::set<std::string>{"sheet.jgw", "sheet.prj", "sheet.jpg.aux.xml"}));
    EXPECT_EQ(pwtest::ReadText(OutFile("sheet.prj")).rfind("PROJCS[\"DHDN_3_Degree_Gauss_Zone_3\"", 0), 0u);
    // Saved as control points: the file they were loaded from.
    Form->RotateCheck->setChecked(false);
    Dialogs.Confirm(QString::fromStdString(OutFile("sheet.points")), 3);
    ClickSave();
    EXPECT_EQ(pwtest::ReadText(OutFile("sheet.points")),
              pwtest::ReadText(std::string(PW_TEST_DATA) + "/georef/sample_map_31467.points"));
    // The next run starts with the system used last.
    EXPECT_EQ(TForm1().CrsNameLabel->text(), "DHDN / 3-degree Gauss-Kruger zone 3");
}

} // namespace

// Four points at the corners of a rectangle, point 1's coordinates 40 map
// units (4 pixels) east of the others' grid of 10 map units a pixel: least
// squares leaves a quarter of that on each, +10, -10, +10, -10 map units
// east, and fits 9.95 map units a pixel along the rows.
TEST_F(SaveTest, ResidualVectorsReportAndPointFormatsFollowTheTable)
{
    Form->Image1->Picture().LoadFromFile(SamplePath("sample_map.bmp"));
    Form->OpenDialog1.FileName = QString::fromStdString(SamplePath("sample_map.bmp"));
    Form->ZoomTo(1);
    Form->CrsEdit->setText("EPSG:31467");
    const std::string corners = Dir.File("corners.points");
    pwtest::WriteText(corners, "mapX,mapY,sourceX,sourceY,enable\n3501040,5404000,100.5,-100.5,1\n"
                               "3505000,5404000,500.5,-100.5,1\n3505000,5401000,500.5,-400.5,1\n"
                               "3501000,5401000,100.5,-400.5,1\n");
    Form->PointsPanel->SetTransform("affine");
    Dialogs.Confirm(QString::fromStdString(corners));
    ClickLoadFile();
    ASSERT_TRUE(Messages.Boxes.empty()) << Messages.Boxes.front().Text.toStdString();

    const TResidualVectors& vectors = *Form->Residuals;
    EXPECT_TRUE(vectors.Shown());
    EXPECT_EQ(vectors.Scale(), 50); // 64 pixels, a tenth of the sheet's 640, rounded down
    const double step = 50 * 10 / 9.95;
    const struct {
        QPointF From;
        double Sign;
    } expected[] = {{{100, 100}, 1}, {{500, 100}, -1}, {{500, 400}, 1}, {{100, 400}, -1}};
    ASSERT_EQ(vectors.Arrows().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const TResidualArrow& arrow = vectors.Arrows()[i];
        EXPECT_EQ(arrow.From, expected[i].From) << i;
        EXPECT_NEAR(arrow.To.x(), expected[i].From.x() + expected[i].Sign * step, 1e-6) << i;
        EXPECT_NEAR(arrow.To.y(), expected[i].From.y(), 1e-6) << i;
    }
    EXPECT_EQ(vectors.Caption(1).left(59), "Residuals drawn 50 times: bar 2 px; largest 1.005 px, point");
    // Drawn red along the row from point 1, gone with the table.
    const auto inkAt = [this](int x, int y) { return Form->Image1->grab().toImage().pixelColor(x, y); };
    EXPECT_GT(inkAt(125, 100).red(), 200);
    EXPECT_LT(inkAt(125, 100).green(), 60);
    Form->ShowPointsTable(false);
    EXPECT_FALSE(vectors.Shown());
    EXPECT_GT(inkAt(125, 100).green(), 100);
    Form->ShowPointsTable(true);

    // Saved as control points in the format each ending names, and loaded back.
    const TControlPoints before = Form->Points->ReadAll();
    for (const char* name : {"sheet.vrt", "sheet.json", "sheet.csv", "sheet.aux.xml"}) {
        SCOPED_TRACE(name);
        Dialogs.Confirm(QString::fromStdString(OutFile(name)), 3);
        ClickSave();
        Form->Points->SetEntries({});
        Dialogs.Confirm(QString::fromStdString(OutFile(name)));
        ClickLoadFile();
        const TControlPoints after = Form->Points->ReadAll();
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < before.size(); ++i) {
            EXPECT_NEAR(after[i].Col, before[i].Col, 1e-9);
            EXPECT_NEAR(after[i].Row, before[i].Row, 1e-9);
            EXPECT_NEAR(after[i].East, before[i].East, 1e-6);
            EXPECT_NEAR(after[i].North, before[i].North, 1e-6);
        }
    }
    EXPECT_EQ(pwtest::ReadText(OutFile("sheet.csv")).substr(0, 17), "x,y,lon,lat,name\n");

    // The report of the points shown, as --report writes it.
    Dialogs.Confirm(QString::fromStdString(OutFile("sheet_report")));
    QTest::mouseClick(Form->ReportButton, Qt::LeftButton);
    const auto text = pwtest::Run({"pdftotext", "-layout", OutFile("sheet_report.pdf"), "-"});
    EXPECT_NE(text.Out.find("affine"), std::string::npos) << text.Out;
    EXPECT_NE(text.Out.find("3501040.000"), std::string::npos) << text.Out;

    // Bad files are named and change nothing.
    pwtest::WriteText(OutFile("far.csv"), "x,y,lon,lat,name\n100,100,7.6,48.7,a\n1e9,100,7.7,48.7,b\n");
    pwtest::WriteText(OutFile("nan.vrt"), "<VRTDataset><GCPList><GCP Id=\"1\" Pixel=\"nan\" Line=\"1\" X=\"1\" Y=\"2\"/>"
                                          "</GCPList></VRTDataset>");
    pwtest::WriteText(OutFile("far.points"), "mapX,mapY,sourceX,sourceY,enable\n1,2,0.5,-0.5,1\n3,4,0.5,-2000.5,1\n");
    Messages.Boxes.clear();
    for (const char* name : {"far.csv", "nan.vrt", "far.points"}) {
        Dialogs.Confirm(QString::fromStdString(OutFile(name)));
        ClickLoadFile();
    }
    EXPECT_EQ(Form->Points->ReadAll().size(), before.size());
    ASSERT_EQ(Messages.Boxes.size(), 3u);
    EXPECT_EQ(Messages.Boxes[0].Text, QString::fromStdString("Point 2 of the point file '" + OutFile("far.csv") +
                                                             "', line 3, at pixel 999999999.5,99.5, lies far outside the "
                                                             "picture (640 x 480 pixels), more than its width or height "
                                                             "beyond its edge."));
    EXPECT_EQ(Messages.Boxes[1].Text, QString::fromStdString("'nan' in the point file '" + OutFile("nan.vrt") +
                                                             "', line 1 (Pixel), is not a finite number."));
    EXPECT_EQ(Messages.Boxes[2].Text, QString::fromStdString("Point 2 of the point file '" + OutFile("far.points") +
                                                             "', line 3, at pixel 0,2000, lies far outside the "
                                                             "picture (640 x 480 pixels), more than its width or height "
                                                             "beyond its edge."));
}
