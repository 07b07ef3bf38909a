#include "tests/app/app_fixture.h"

#include "app/application.h"
#include "app/fit_monitor.h"
#include "app/point_list.h"
#include "georef/crs.h"
#include "app/image_view.h"
#include "app/main_window.h"
#include "app/zoom_window.h"
#include "imaging/format_registry.h"
#include "platform/exceptions.h"
#include "platform/picture.h"
#include "tests/imaging/readers/tiff_test_builder.h"
#include "tests/support/test_support.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <memory>

namespace {

// A screen that never changes, so that a shown magnifier costs nothing.
class TStillScreen : public TZoomScreen {
public:
    QPoint CursorPos() override { return {5000, 5000}; }
    QSize ScreenSize() override { return {800, 600}; }
    QImage Grab(const QRect& rect) override
    {
        QImage image(rect.size(), QImage::Format_RGB32);
        image.fill(Qt::gray);
        return image;
    }
};

class MainWindowTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        Form = std::make_unique<TForm1>();
        Zoom = std::make_unique<TForm2>();
        Zoom->SetScreen(&Screen);
        Form->SetZoomWindow(Zoom.get());
    }
    void TearDown() override
    {
        Form.reset();
        Zoom.reset();
        AppTest::TearDown();
    }

    void ClickImage(int x, int y) { QTest::mouseClick(Form->Image1, Qt::LeftButton, {}, QPoint(x, y)); }
    QStringList LocalLabels() const
    {
        return {Form->Label21->text(), Form->Label23->text(), Form->Label27->text(), Form->Label29->text()};
    }
    void Open(const std::string& fileName, int filterIndex = 0)
    {
        Dialogs.Confirm(QString::fromStdString(fileName), filterIndex);
        QTest::mouseClick(Form->SpeedButton2, Qt::LeftButton);
    }

    TStillScreen Screen;
    std::unique_ptr<TForm1> Form;
    std::unique_ptr<TForm2> Zoom;
    pwtest::TempDir Dir;
};

const QString kBlank = QStringLiteral("     ");

} // namespace

TEST_F(MainWindowTest, StartsWithTheMessageTableStatusTextsAndPointOne)
{
    EXPECT_EQ(Form->windowTitle(), "Pinwright");
    EXPECT_EQ(Form->size(), QSize(579, 424));
    EXPECT_EQ(Form->minimumSize(), QSize(579, 424));
    ASSERT_EQ(Form->MessageTable.size(), 11);
    EXPECT_EQ(Form->MessageTable.mid(0, 3),
              QStringList({"version", "Files have been made.", "Fill in all coordinates!"}));
    EXPECT_TRUE(Form->MessageTable[3].isEmpty());
    EXPECT_FALSE(Form->Memo1->isVisibleTo(Form.get()));

    ASSERT_EQ(Form->StatusBar1->PanelCount(), 3);
    EXPECT_EQ(Form->StatusBar1->Panel(0)->text(), "version 1.3 (01.2007)");
    EXPECT_EQ(Form->StatusBar1->Panel(1)->text(), "VORLANDT EUROPE bv");
    EXPECT_EQ(Form->StatusBar1->Panel(2)->text(), "");
    EXPECT_TRUE(Form->StatusBar1->ProgressBar()->isHidden());

    EXPECT_EQ(Form->StartDir, std::filesystem::current_path().string());
    EXPECT_EQ(Form->PointState, 1);
    EXPECT_TRUE(Form->RadioButton1->isChecked());
    EXPECT_FALSE(Form->RadioButton2->isChecked());
    EXPECT_EQ(LocalLabels(), QStringList({kBlank, kBlank, kBlank, kBlank}));
    for (QLineEdit* edit : {Form->Edit16, Form->Edit17, Form->Edit18, Form->Edit19})
        EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_EQ(Form->Image1->size(), QSize(9, 9));
    EXPECT_EQ(Form->Image1->cursor().shape(), Qt::CrossCursor);
    EXPECT_EQ(Form->OpenDialog1.FilterIndex, 1);
    EXPECT_EQ(Form->OpenDialog1.QtFilters().mid(0, 3), QStringList({"BMP (*.bmp)", "JPG (*.jpg)", "TIFF (*.tif)"}));
}

TEST_F(MainWindowTest, GlobalGroupHoldsItsControlsWhereTheSaveCodeExpectsThem)
{
    EXPECT_EQ(Form->GroupBox7->title(), " Global ");
    EXPECT_EQ(Form->GroupBox7->geometry(), QRect(8, 176, 105, 145));
    EXPECT_EQ(Form->GroupBox6->title(), " Local ");
    EXPECT_EQ(Form->Edit16->geometry(), QRect(24, 16, 73, 21));
    EXPECT_EQ(Form->Edit17->geometry(), QRect(24, 36, 73, 21));
    EXPECT_EQ(Form->Edit18->geometry(), QRect(24, 64, 73, 21));
    EXPECT_EQ(Form->Edit19->geometry(), QRect(24, 86, 73, 21));
    EXPECT_EQ(Form->SpeedButton1->geometry(), QRect(8, 113, 41, 24));
    EXPECT_EQ(Form->SpeedButton1->toolTip(), "Load file");
    EXPECT_EQ(Form->Panel1->geometry(), QRect(56, 113, 41, 24));
    Form->show();
    QApplication::setActiveWindow(Form.get());
    Form->Edit16->setFocus();
    for (QLineEdit* next : {Form->Edit17, Form->Edit18, Form->Edit19}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
    EXPECT_EQ(Form->Button11->text(), "Save");
    EXPECT_EQ(Form->SaveDialog1.QtFilters(), QStringList({"TIFF + TFW (*.tif)", "JGW (*.jgw)", "Control points (*.points)",
                                                          "Cloud Optimized GeoTIFF (*.tif)"}));
    EXPECT_EQ(Form->OpenDialog2.QtFilters(), QStringList({"(*.*)"}));
}

TEST_F(MainWindowTest, ThreeClicksSetPointOneThenPointTwoTwice)
{
    Form->show();
    QApplication::setActiveWindow(Form.get());
    Form->Edit18->setFocus();

    ClickImage(3, 7);
    EXPECT_EQ(LocalLabels(), QStringList({"7", "3", kBlank, kBlank}));
    EXPECT_EQ(Form->PointState, 2);
    EXPECT_FALSE(Form->RadioButton1->isChecked());
    EXPECT_TRUE(Form->RadioButton2->isChecked());
    EXPECT_EQ(Form->focusWidget(), Form->Edit18) << "the first point leaves the focus alone";

    ClickImage(8, 1);
    EXPECT_EQ(LocalLabels(), QStringList({"7", "3", "1", "8"}));
    EXPECT_EQ(Form->focusWidget(), Form->Edit16);

    ClickImage(0, 5);
    EXPECT_EQ(LocalLabels(), QStringList({"7", "3", "5", "0"}));
    EXPECT_EQ(Form->PointState, 2);
    EXPECT_TRUE(Form->RadioButton2->isChecked());
}

TEST_F(MainWindowTest, RadioButtonsChooseThePointTheNextClickSets)
{
    ClickImage(1, 2);
    ClickImage(3, 4);
    QTest::mouseClick(Form->RadioButton1, Qt::LeftButton);
    EXPECT_EQ(Form->PointState, 1);
    EXPECT_TRUE(Form->RadioButton1->isChecked());
    EXPECT_FALSE(Form->RadioButton2->isChecked());

    ClickImage(5, 6);
    EXPECT_EQ(LocalLabels(), QStringList({"6", "5", "4", "3"}));
    EXPECT_EQ(Form->PointState, 2);
    EXPECT_TRUE(Form->RadioButton2->isChecked());

    // Clicking the checked button keeps it checked.
    QTest::mouseClick(Form->RadioButton2, Qt::LeftButton);
    EXPECT_TRUE(Form->RadioButton2->isChecked());
    EXPECT_FALSE(Form->RadioButton1->isChecked());
    QTest::mouseClick(Form->RadioButton1, Qt::LeftButton);
    QTest::mouseClick(Form->RadioButton2, Qt::LeftButton);
    EXPECT_EQ(Form->PointState, 2);
    ClickImage(7, 8);
    EXPECT_EQ(LocalLabels(), QStringList({"6", "5", "8", "7"}));
}

TEST_F(MainWindowTest, OpenShowsThePictureAtItsSizeAndKeepsPointsAndBoxes)
{
    const std::string first = Dir.File("first.pwtest");
    const std::string second = Dir.File("second.PWTEST");
    WriteTestPicture(first, 640, 480);
    WriteTestPicture(second, 300, 200);

    Open(first, 3);
    EXPECT_TRUE(Messages.Boxes.empty());
    EXPECT_EQ(Form->Image1->size(), QSize(640, 480));
    EXPECT_EQ(Form->OpenDialog1.FilterIndex, 3) << "the dialog keeps the filter the user chose";
    ClickImage(600, 470);
    Form->Edit16->setText("1000");

    Open(second);
    EXPECT_TRUE(Messages.Boxes.empty());
    EXPECT_EQ(Form->Image1->size(), QSize(300, 200));
    EXPECT_EQ(Form->OpenDialog1.FileName, QString::fromStdString(second));
    EXPECT_EQ(LocalLabels(), QStringList({"470", "600", kBlank, kBlank}));
    EXPECT_EQ(Form->Edit16->text(), "1000");
    EXPECT_EQ(Form->PointState, 2);
    EXPECT_TRUE(Form->SpeedButton2->isEnabled());

    // The view paints the bitmap's own pixels.
    Form->show();
    const QImage shot = Form->Image1->grab(QRect(0, 0, 20, 20)).toImage();
    EXPECT_EQ(shot.pixel(10, 10), qRgb(0x10, 0x20, 0x30));
}

TEST_F(MainWindowTest, FileFromTheCommandLineOpensUnderTheFilterOfItsExtension)
{
    // This fixture registers no JPEG or TIFF class: those loads fail after
    // the filter is chosen, and the message loop would show the error.
    WriteTestPicture(Dir.File("scan.pwtest"), 30, 20);
    const struct {
        std::string Name;
        int FilterIndex;
        std::string Error; // "" when it loads, at 30 x 20
    } cases[] = {
        {"scan.JPG", 2, "Unknown picture file extension (.JPG)"},
        {"scan.jpeg", 2, "Unknown picture file extension (.jpeg)"},
        {"scan.tif", 3, "Unknown picture file extension (.tif)"},
        {"scan.TIFF", 3, "Unknown picture file extension (.TIFF)"},
        {"scan.pwtest", 4, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string error;
        try {
            Form->OpenFile(QString::fromStdString(Dir.File(c.Name)));
        } catch (const std::exception& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.Error);
        EXPECT_EQ(Form->OpenDialog1.FileName, QString::fromStdString(Dir.File(c.Name)));
        EXPECT_EQ(Form->OpenDialog1.FilterIndex, c.FilterIndex);
    }
    EXPECT_EQ(Form->Image1->size(), QSize(30, 20));
}

// A picture with a world file and the system in an .aux.xml beside it: the
// points start from it (two north up, else four and the affine fit),
// the readout names its system, and a click fills a point's map coordinates
// from it unless they were typed.
TEST_F(MainWindowTest, APicturesOwnGeoreferencingStartsThePointsAndFillsAClickedOne)
{
    const struct {
        const char* Name;
        const char* World;
        std::vector<QStringList> Points; // column, row, east, north
        QString Transform;
        QString Cursor; // at pixel (100, 50)
        QStringList Clicked; // point 1 clicked at (200, 100)
    } cases[] = {
        {"north up", "2.5\n0\n0\n-2.5\n1001\n2999\n",
         {{"40", "30", "1101", "2924"}, {"359", "269", "1898.5", "2326.5"}}, "two-point",
         "x 100, y 50   Y 1251.000, X 2874.000   EPSG:31467 DHDN / 3-degree Gauss-Kruger zone 3",
         {"200", "100", "1501", "2749"}},
        {"north up, pixels not square", "2\n0\n0\n-2.5\n1001\n2999\n",
         {{"40", "30", "1081", "2924"}, {"359", "269", "1719", "2326.5"}, {"359", "30", "1719", "2924"},
          {"40", "269", "1081", "2326.5"}},
         "affine", "x 100, y 50   Y 1201.000, X 2874.000   EPSG:31467 DHDN / 3-degree Gauss-Kruger zone 3",
         {"200", "100", "1401", "2749"}},
        {"turned", "2\n0.5\n0.5\n-2\n1001\n2999\n",
         {{"40", "30", "1096", "2959"}, {"359", "269", "1853.5", "2640.5"}, {"359", "30", "1734", "3118.5"},
          {"40", "269", "1215.5", "2481"}},
         "affine", "x 100, y 50   Y 1226.000, X 2949.000   EPSG:31467 DHDN / 3-degree Gauss-Kruger zone 3",
         {"200", "100", "1451", "2899"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Form = std::make_unique<TForm1>();
        const std::string sheet = Dir.File(std::string(c.Name) + ".pwtest");
        WriteTestPicture(sheet, 400, 300);
        pwtest::WriteText(Dir.File(std::string(c.Name) + ".wld"), c.World);
        pwtest::WriteText(sheet + ".aux.xml", PamAuxXmlText(LookupCrs("EPSG:31467")));
        Open(sheet);
        EXPECT_TRUE(Messages.Boxes.empty());
        std::vector<QStringList> points;
        for (const TPointEntry& e : Form->Points->Entries())
            points.push_back({e.Col, e.Row, e.East, e.North});
        EXPECT_EQ(points, c.Points);
        EXPECT_EQ(Form->CrsEdit->text(), "EPSG:31467");
        EXPECT_EQ(Form->Fit->Transform(), c.Transform);
        Form->Image1MouseMove(100, 50);
        EXPECT_EQ(Form->CursorPanel->text(), c.Cursor);

        Form->Points->SetEast(1, "1500");
        Form->Image1MouseDown(200, 100);
        Form->Image1MouseDown(210, 110);
        const TPointEntry& first = Form->Points->At(0);
        EXPECT_EQ(QStringList({first.Col, first.Row, first.East, first.North}), c.Clicked);
        EXPECT_EQ(Form->Points->At(1).Col, "210");
        EXPECT_EQ(Form->Points->At(1).East, "1500") << "typed over, kept";
    }
}

TEST_F(MainWindowTest, FailedOpenKeepsThePreviousPictureAndShowsTheError)
{
    const std::string good = Dir.File("good.pwtest");
    WriteTestPicture(good, 120, 90);
    Open(good);
    TGraphic* before = Form->Image1->Picture().Graphic();
    ASSERT_NE(before, nullptr);

    const std::string unknown = Dir.File("map.xyz");
    pwtest::WriteText(unknown, "x");
    Open(unknown);
    const std::string broken = Dir.File("broken.pwtest");
    WriteTestPicture(broken, 50, 50, true);
    Open(broken);
    Open(Dir.File("missing.pwtest"));

    ASSERT_EQ(Messages.Boxes.size(), 3u);
    EXPECT_EQ(Messages.Boxes[0], (TRecordedBox{"error", "Pinwright", "Unknown picture file extension (.xyz)."}));
    EXPECT_EQ(Messages.Boxes[1], (TRecordedBox{"error", "Pinwright", "Broken test picture."}));
    EXPECT_EQ(Messages.Boxes[2].Kind, "error");
    EXPECT_TRUE(Messages.Boxes[2].Text.startsWith("Cannot open file \"" + QString::fromStdString(Dir.File("missing.pwtest"))))
        << Messages.Boxes[2].Text.toStdString();
    EXPECT_TRUE(Messages.Boxes[2].Text.endsWith("."));
    EXPECT_EQ(Form->Image1->Picture().Graphic(), before);
    EXPECT_EQ(Form->Image1->size(), QSize(120, 90));
    EXPECT_TRUE(Form->StatusBar1->ProgressBar()->isHidden()) << "a failed load takes the bar away";
    EXPECT_TRUE(Form->SpeedButton2->isEnabled());
}

// A TIFF loads on a thread of its own and is shown while it comes; when it
// fails half way, the previous picture is shown again and stays.
TEST_F(MainWindowTest, PictureFailingWhileItComesLeavesThePreviousOne)
{
    RegisterPictureFormat("pwtif", "TIFF for the tests", TTIFFGraphic::ClassType());
    const std::string good = Dir.File("good.pwtest");
    WriteTestPicture(good, 120, 90);
    Open(good);
    TGraphic* before = Form->Image1->Picture().Graphic();
    // Group 4, two white rows a strip, the third strip in uncompressed mode.
    const std::string failing = Dir.File("failing.pwtif");
    pwtest::WriteBytes(failing, tifftest::TiffBuilder()
                                    .Image(64, 8, 1, 1, 0, 4, {{0xC0}, {0xC0}, pwtest::Bits("0000001111"), {0xC0}}, 2)
                                    .Long(293, 2)
                                    .Build());
    QSignalSpy replaced(Form->Image1, &TImageView::pictureReplaced);
    Open(failing);
    EXPECT_EQ(replaced.count(), 2) << "shown while it came, then the previous one again";
    ASSERT_EQ(Messages.Boxes.size(), 1u);
    EXPECT_EQ(Messages.Boxes[0], (TRecordedBox{"error", "Pinwright", "CCITT uncompressed mode is not supported."}));
    EXPECT_EQ(Form->Image1->Picture().Graphic(), before);
    EXPECT_FALSE(Form->Image1->Loading());
    EXPECT_EQ(Form->Image1->size(), QSize(120, 90));
    EXPECT_TRUE(Form->SpeedButton2->isEnabled());
}

TEST_F(MainWindowTest, EmptyPictureIsRefusedAndAShortFileIsNoticed)
{
    InitializeImaging();
    const std::string good = Dir.File("good.pwtest");
    WriteTestPicture(good, 120, 90);
    Open(good);
    TGraphic* before = Form->Image1->Picture().Graphic();

    // A Dr. Halo file 0 pixels wide: the reader accepts it, the workbench does not.
    const std::string empty = Dir.File("empty.cut");
    pwtest::WriteText(empty, std::string("\0\0\1\0\0\0\0\0", 8));
    Open(empty);
    ASSERT_EQ(Messages.Boxes.size(), 1u);
    EXPECT_EQ(Messages.Boxes[0], (TRecordedBox{"error", "Pinwright", "The file holds no image."}));
    EXPECT_EQ(Form->Image1->Picture().Graphic(), before);

    // An Autodesk file 4 x 3 whose data end in row 1: shown, with a notice.
    std::string pic(800 + 6, '\0');
    pic[0] = 0x19, pic[1] = char(0x91), pic[2] = 4, pic[4] = 3, pic[10] = 8;
    const std::string shortFile = Dir.File("short.pic");
    pwtest::WriteText(shortFile, pic);
    Open(shortFile);
    ASSERT_EQ(Messages.Boxes.size(), 2u);
    EXPECT_EQ(Messages.Boxes[1], (TRecordedBox{"notice", "Pinwright",
                                               "The file ends early, in row 1; the rest of the image is empty."}));
    EXPECT_EQ(Form->StatusBar1->Panel(0)->text(), "Ends early at row 1");
    EXPECT_EQ(Form->Image1->size(), QSize(4, 3));
}

TEST_F(MainWindowTest, CancelledOpenChangesNothing)
{
    Dialogs.Cancel();
    QTest::mouseClick(Form->SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(Dialogs.Executed, 1);
    EXPECT_EQ(Form->Image1->Picture().Graphic(), nullptr);
    EXPECT_TRUE(Messages.Boxes.empty());
}

TEST_F(MainWindowTest, ProgressBarShowsWhileTheReaderReportsAndGoesAtTheEnd)
{
    const std::string file = Dir.File("progress.pwtest");
    WriteTestPicture(file, 10, 10);
    std::vector<std::pair<bool, int>> seen;
    TTestPicture::OnReport = [&](TProgressStage stage) {
        if (stage == psRunning) {
            QProgressBar* bar = Form->StatusBar1->ProgressBar();
            seen.push_back({bar->isVisibleTo(Form.get()), bar->value()});
        }
    };
    Open(file);
    TTestPicture::OnReport = nullptr;
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].first);
    EXPECT_EQ(seen[0].second, 50);
    EXPECT_TRUE(Form->StatusBar1->ProgressBar()->isHidden());
}

TEST_F(MainWindowTest, PictureThatIsNotABitmapDecodesAtItsFirstPaintOnly)
{
    const std::string file = Dir.File("photo.pwlazy");
    WriteTestPicture(file, 400, 300);
    TLazyPicture::Decodes = 0;
    Open(file);
    EXPECT_EQ(Form->Image1->size(), QSize(400, 300)) << "the size comes without decoding";
    EXPECT_EQ(TLazyPicture::Decodes, 0);

    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    ASSERT_TRUE(QTest::qWaitFor([] { return TLazyPicture::Decodes == 1; }));
    QTest::qWait(20);
    Form->Image1->repaint();
    EXPECT_EQ(TLazyPicture::Decodes, 1);
    EXPECT_FALSE(Form->Image1->DecodePending());
    EXPECT_EQ(Form->Image1->grab(QRect(0, 0, 4, 4)).toImage().pixel(1, 1), qRgb(0xC0, 0xC0, 0xC0));
}

TEST_F(MainWindowTest, FailedDecodeIsReportedOnce)
{
    const std::string file = Dir.File("empty.pwlazy");
    WriteTestPicture(file, 50, 40, true);
    TLazyPicture::Decodes = 0;
    Open(file);
    Form->show();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Messages.Boxes.empty(); }));
    for (int i = 0; i < 3; ++i) {
        Form->Image1->update();
        QTest::qWait(10);
    }
    EXPECT_EQ(TLazyPicture::Decodes, 1);
    ASSERT_EQ(Messages.Boxes.size(), 1u);
    EXPECT_EQ(Messages.Boxes[0], (TRecordedBox{"error", "Pinwright", "JPEG error #41."}));
    EXPECT_TRUE(Form->StatusBar1->ProgressBar()->isHidden());
}

TEST_F(MainWindowTest, ZoomToggleFollowsTheMagnifiersVisibility)
{
    EXPECT_EQ(Form->Panel3->BevelInner(), bvRaised);
    EXPECT_FALSE(Zoom->isVisible());

    QTest::mouseClick(Form->Image3, Qt::LeftButton);
    EXPECT_TRUE(Zoom->isVisible());
    EXPECT_EQ(Form->Panel3->BevelInner(), bvLowered);
    EXPECT_EQ(Form->Panel3->BevelOuter(), bvLowered);

    QTest::mouseClick(Form->Image3, Qt::LeftButton);
    EXPECT_FALSE(Zoom->isVisible());
    EXPECT_EQ(Form->Panel3->BevelInner(), bvRaised);
    EXPECT_EQ(Form->Panel3->BevelOuter(), bvRaised);

    // Closed through its own close box: the toggle keeps its lowered look,
    // and the next click shows the magnifier again.
    QTest::mouseClick(Form->Image3, Qt::LeftButton);
    Zoom->close();
    EXPECT_EQ(Form->Panel3->BevelInner(), bvLowered);
    QTest::mouseClick(Form->Image3, Qt::LeftButton);
    EXPECT_TRUE(Zoom->isVisible());
    EXPECT_EQ(Form->Panel3->BevelInner(), bvLowered);
    EXPECT_EQ(Form->Image3->toolTip(), "Zoom");
}

TEST_F(MainWindowTest, SignToggleStaysDisabledAndUnpressed)
{
    EXPECT_FALSE(Form->Panel1->isEnabled());
    EXPECT_FALSE(Form->Image2->isEnabled());
    QTest::mouseClick(Form->Image2, Qt::LeftButton, {}, QPoint(18, 10));
    EXPECT_EQ(Form->Panel1->BevelInner(), bvRaised);
    EXPECT_EQ(Form->Panel1->BevelOuter(), bvLowered);

    // The handler itself flips both bevels together.
    Form->Image2Click();
    EXPECT_EQ(Form->Panel1->BevelInner(), bvLowered);
    EXPECT_EQ(Form->Panel1->BevelOuter(), bvLowered);
    Form->Image2Click();
    EXPECT_EQ(Form->Panel1->BevelInner(), bvRaised);
    EXPECT_EQ(Form->Panel1->BevelOuter(), bvRaised);
}

TEST_F(MainWindowTest, CloseButtonClosesTheWindow)
{
    Form->show();
    QSignalSpy closed(Form.get(), &TForm1::closed);
    QTest::mouseClick(Form->SpeedButton4, Qt::LeftButton);
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(MainWindowTest, ExceptionLeavingAnEventHandlerShowsTheErrorBoxAndTheProgramGoesOn)
{
    class TThrower : public QObject {
    public:
        bool event(QEvent* event) override
        {
            if (event->type() == QEvent::User)
                throw EInOutError("File access denied");
            if (event->type() == QEvent::User + 1)
                throw std::runtime_error("Stream read error.");
            return QObject::event(event);
        }
    } thrower;
    QEvent first(QEvent::User);
    QCoreApplication::sendEvent(&thrower, &first);
    QEvent second(static_cast<QEvent::Type>(QEvent::User + 1));
    QCoreApplication::sendEvent(&thrower, &second);
    ASSERT_EQ(Messages.Boxes.size(), 2u);
    EXPECT_EQ(Messages.Boxes[0], (TRecordedBox{"error", "Pinwright", "File access denied."}));
    EXPECT_EQ(Messages.Boxes[1].Text, "Stream read error.");
}
