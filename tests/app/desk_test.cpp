// The workbench at a desk: resizing, zoom levels, picking at every level,
// keyboard and wheel scrolling, dropped files and the open dialog's folder.
#include "app_fixture.h"

#include "app/image_view.h"
#include "app/main_window.h"
#include "app/view_geometry.h"
#include "app/zoom_window.h"
#include "platform/bitmap.h"
#include "../support/test_support.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

class DeskTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        Form = std::make_unique<TForm1>();
        Form->show();
        QApplication::setActiveWindow(Form.get());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    }
    void TearDown() override
    {
        Form.reset();
        AppTest::TearDown();
    }
    void OpenPicture(int width, int height)
    {
        const std::string file = Dir.File("scan.pwtest");
        WriteTestPicture(file, width, height);
        Dialogs.Confirm(QString::fromStdString(file), 1);
        Form->SpeedButton2Click();
    }
    QScrollBar* Across() const { return Form->ScrollBox1->horizontalScrollBar(); }
    QScrollBar* Down() const { return Form->ScrollBox1->verticalScrollBar(); }
    // The image point under a viewport position, in image pixels (not rounded).
    QPointF ImagePoint(QPoint at) const
    {
        const double scale = Form->Image1->Scale();
        return {(Across()->value() + at.x()) / scale, (Down()->value() + at.y()) / scale};
    }
    void Wheel(QPoint at, int delta, Qt::KeyboardModifiers modifiers)
    {
        QWidget* viewport = Form->ScrollBox1->viewport();
        QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
    }

    std::unique_ptr<TForm1> Form;
    pwtest::TempDir Dir;
};

TEST_F(DeskTest, ResizingGivesTheRoomToTheImageAreaOnly)
{
    struct TCase {
        QSize Window;
        QRect ImageArea;
    };
    const TCase cases[] = {
        {{579, 424}, {0, 54, 458, 351}},
        {{1000, 700}, {0, 54, 879, 627}},
        {{1600, 1000}, {0, 54, 1479, 927}},
    };
    for (const TCase& c : cases) {
        Form->resize(c.Window);
        EXPECT_EQ(Form->Panel5->geometry(), c.ImageArea);
        EXPECT_EQ(Form->ScrollBox1->size(), c.ImageArea.size() - QSize(2, 2));
        EXPECT_EQ(Form->Panel2->geometry(), QRect(c.Window.width() - 121, 54, 121, c.ImageArea.height()));
        EXPECT_EQ(Form->StatusBar1->geometry(), QRect(0, c.Window.height() - 19, c.Window.width(), 19));
        EXPECT_EQ(Form->Button11->mapTo(Form->Panel2, QPoint()), QPoint(8, 324));
        EXPECT_EQ(Form->ZoomBox->geometry().right(), c.Window.width() - 2);
    }
}

TEST_F(DeskTest, ZoomingKeepsThePointUnderTheCursor)
{
    Form->resize(900, 700);
    OpenPicture(4000, 3000);
    Across()->setValue(1500);
    Down()->setValue(1000);
    const QPoint cursor(230, 170);
    struct TStep {
        int Delta;   // Ctrl with the wheel at the cursor, or 0 for the key
        Qt::Key Key;
        const char* Level;
    };
    // At 900 x 700 the picture fits at about 0.19, between 1:8 and 1:4.
    const TStep steps[] = {
        {-120, Qt::Key_unknown, "1:2"}, {-120, Qt::Key_unknown, "1:4"}, {120, Qt::Key_unknown, "1:2"},
        {120, Qt::Key_unknown, "1:1"},  {0, Qt::Key_Minus, "1:2"},       {0, Qt::Key_Minus, "1:4"},
        {0, Qt::Key_Minus, "Fit"},      {-120, Qt::Key_unknown, "1:8"},  {-120, Qt::Key_unknown, "1:16"},
        {0, Qt::Key_Plus, "1:8"},       {0, Qt::Key_Plus, "Fit"},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Level);
        const QPointF before = ImagePoint(cursor);
        if (step.Delta != 0)
            Wheel(cursor, step.Delta, Qt::ControlModifier);
        else
            QTest::keyClick(Form.get(), step.Key);
        EXPECT_EQ(Form->ZoomBox->currentText(), step.Level);
        const double scale = Form->Image1->Scale();
        const int level = ZoomFromText(step.Level);
        if (level != kZoomFit) {
            EXPECT_DOUBLE_EQ(scale, 1.0 / level);
        }
        EXPECT_EQ(Form->Image1->size(), QSize(ViewExtent(4000, scale), ViewExtent(3000, scale)));
        // The point stays while the picture is larger than the view (1:4 and up).
        if (step.Delta != 0 && scale >= 0.25) {
            const QPointF after = ImagePoint(cursor);
            EXPECT_LE(std::abs(after.x() - before.x()) * scale, 1.0);
            EXPECT_LE(std::abs(after.y() - before.y()) * scale, 1.0);
        }
    }
    EXPECT_LE(Form->Image1->width(), Form->ScrollBox1->viewport()->width());
    EXPECT_LE(Form->Image1->height(), Form->ScrollBox1->viewport()->height());

    // Reduced levels paint the picture's own colour from the overview, as
    // it is (1:4) or scaled (fit).
    Form->Image1->WaitForOverview();
    QCoreApplication::processEvents();
    ASSERT_NE(Form->Image1->Overview(), nullptr);
    for (int level : {4, kZoomFit}) {
        Form->ZoomTo(level);
        EXPECT_EQ(Form->Image1->grab(QRect(10, 10, 1, 1)).toImage().pixelColor(0, 0), QColor(0x10, 0x20, 0x30));
    }
}

TEST_F(DeskTest, AClickAtOneToFourPicksTheImagePixelAClickAtOneToOneDoes)
{
    OpenPicture(1200, 900);
    struct TCase {
        QPoint At;      // in the view at 1:4
        QPoint Pixel;   // column and row picked
    };
    const TCase cases[] = {{{1, 0}, {4, 0}}, {{37, 25}, {148, 100}}, {{299, 224}, {1196, 896}}, {{150, 3}, {600, 12}}};
    for (const TCase& c : cases) {
        Form->RadioButton1Click();
        Form->ZoomTo(4);
        QTest::mouseClick(Form->Image1, Qt::LeftButton, {}, c.At);
        Form->ZoomTo(1);
        Form->ScrollBox1->ensureVisible(c.Pixel.x(), c.Pixel.y());
        QTest::mouseClick(Form->Image1, Qt::LeftButton, {}, c.Pixel);
        EXPECT_EQ(Form->Label21->text(), QString::number(c.Pixel.y()));
        EXPECT_EQ(Form->Label23->text(), QString::number(c.Pixel.x()));
        EXPECT_EQ(Form->Label27->text(), Form->Label21->text());
        EXPECT_EQ(Form->Label29->text(), Form->Label23->text());
    }
}

TEST_F(DeskTest, TheMarkersStayOnTheirPixelsAtEveryLevel)
{
    OpenPicture(1200, 900);
    const QPoint pixels[] = {{148, 100}, {1001, 803}};
    Form->Image1MouseDown(pixels[0].x(), pixels[0].y());
    Form->Image1MouseDown(pixels[1].x(), pixels[1].y());
    for (int level : {1, 2, 4, 8, 16, kZoomFit}) {
        SCOPED_TRACE(ZoomText(level));
        Form->ZoomTo(level);
        Form->Image1->WaitForOverview();
        const QImage shown = Form->Image1->grab().toImage();
        for (const QPoint& pixel : pixels) {
            const QPointF at = Form->Image1->ViewOfPixel(pixel.x(), pixel.y());
            const QPoint centre(int(at.x()), int(at.y()));
            // The cross's arms, three view pixels out; the picture itself is dark blue.
            EXPECT_EQ(shown.pixelColor(centre + QPoint(3, 0)), QColor(Qt::red));
            EXPECT_EQ(shown.pixelColor(centre + QPoint(0, 3)), QColor(Qt::red));
            EXPECT_EQ(shown.pixelColor(centre + QPoint(-3, 0)), QColor(Qt::red));
        }
    }
}

TEST_F(DeskTest, TheMagnifierShowsThePicturesOwnPixelsWhileReduced)
{
    Form->Image1->Picture().LoadFromFile(std::string(PW_TEST_DATA) + "/../../samples/sample_map.bmp");
    TForm2 zoom;
    TGreyScreen screen;
    zoom.SetScreen(&screen);
    zoom.setGeometry(3000, 2000, 150, 150);
    Form->SetZoomWindow(&zoom);
    const TBitmap& bitmap = Form->Image1->Picture().Graphic()->ViewBitmap();
    struct TCase {
        int Level;
        QPoint At;        // in the view
        QPoint Corner;    // image pixel at the picture's top left (a 76 x 76 source for 2 x)
    };
    const TCase cases[] = {{4, {25, 25}, {62, 62}}, {2, {100, 60}, {162, 82}}, {4, {1, 1}, {0, 0}}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.At.x());
        Form->ZoomTo(c.Level);
        Form->ScrollBox1->ensureVisible(0, 0);
        screen.At = Form->Image1->mapToGlobal(c.At);
        zoom.Timer1Timer();
        const QImage& shown = zoom.Image1->Picture;
        ASSERT_EQ(shown.size(), QSize(150, 150));
        for (const QPoint& offset : {QPoint(0, 0), QPoint(5, 1), QPoint(20, 9)}) {
            uint32_t expected = 0;
            bitmap.RowToARGB(c.Corner.y() + offset.y(), c.Corner.x() + offset.x(), 1, &expected);
            EXPECT_EQ(shown.pixel(2 * offset.x(), 2 * offset.y()), expected) << offset.x() << "," << offset.y();
        }
    }
    // At 1:1 it is the screen again.
    Form->ZoomTo(1);
    zoom.Timer1Timer();
    EXPECT_EQ(zoom.Image1->Picture.pixelColor(0, 0), QColor(Qt::gray));
    Form->SetZoomWindow(nullptr);
}

TEST_F(DeskTest, KeysAndTheWheelScrollWithoutTouchingThePointChoice)
{
    OpenPicture(3000, 2000);
    Form->RadioButton2Click();
    Form->RadioButton2->setFocus();
    const int line = Down()->singleStep();
    const int page = Down()->pageStep();
    struct TCase {
        Qt::Key Key;                 // or a wheel delta below
        int Delta;
        Qt::KeyboardModifiers Modifiers;
        QPoint Scroll;               // after the step
    };
    const int lines = QApplication::wheelScrollLines();
    const TCase cases[] = {
        {Qt::Key_Down, 0, {}, {0, line}},
        {Qt::Key_Right, 0, {}, {line, line}},
        {Qt::Key_PageDown, 0, {}, {line, line + page}},
        {Qt::Key_Up, 0, {}, {line, page}},
        {Qt::Key_Left, 0, {}, {0, page}},
        {Qt::Key_End, 0, {}, {Across()->maximum(), Down()->maximum()}},
        {Qt::Key_Home, 0, {}, {0, 0}},
        {Qt::Key_unknown, -120, {}, {0, lines * line}},
        {Qt::Key_unknown, -120, Qt::ShiftModifier, {lines * line, lines * line}},
        {Qt::Key_unknown, 120, {}, {lines * line, 0}},
    };
    for (const TCase& c : cases) {
        if (c.Delta == 0)
            QTest::keyClick(QApplication::focusWidget(), c.Key);
        else
            Wheel(QPoint(50, 50), c.Delta, c.Modifiers);
        EXPECT_EQ(QPoint(Across()->value(), Down()->value()), c.Scroll) << c.Key << " " << c.Delta;
        EXPECT_EQ(Form->PointState, 2);
        EXPECT_TRUE(Form->RadioButton2->isChecked());
        EXPECT_FALSE(Form->RadioButton1->isChecked());
        EXPECT_EQ(QApplication::focusWidget(), Form->RadioButton2);
    }
    // In a coordinate box the keys are the box's own.
    Form->Edit16->setFocus();
    QTest::keyClicks(Form->Edit16, "-12+3");
    QTest::keyClick(Form->Edit16, Qt::Key_Left);
    EXPECT_EQ(Form->Edit16->text(), "-12+3");
    EXPECT_EQ(Form->ZoomBox->currentText(), "1:1");
    EXPECT_EQ(QPoint(Across()->value(), Down()->value()), QPoint(lines * line, 0));
}

TEST_F(DeskTest, ADroppedFileOpensAsThroughOpen)
{
    const std::string picture = Dir.File("dropped.pwtest");
    WriteTestPicture(picture, 320, 240);
    struct TCase {
        std::string File;
        QSize Shown;
        int FilterIndex;
        QString Box;
    };
    const TCase cases[] = {
        {picture, {320, 240}, 4, {}},
        {Dir.File("notes.qqq"), {320, 240}, 4, "Unknown picture file extension (.qqq)."},
        {Dir.File("missing.bmp"), {320, 240}, 1,
         QString::fromStdString("Cannot open file \"" + Dir.File("missing.bmp") + "\". No such file or directory.")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        Messages.Boxes.clear();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(c.File))});
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(Form.get(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(Form.get(), &drop);
        EXPECT_EQ(Form->Image1->size(), c.Shown);
        EXPECT_EQ(Form->OpenDialog1.FileName, QString::fromStdString(c.File));
        EXPECT_EQ(Form->OpenDialog1.FilterIndex, c.FilterIndex);
        if (c.Box.isEmpty())
            EXPECT_TRUE(Messages.Boxes.empty());
        else
            EXPECT_EQ(Messages.Boxes, std::vector<TRecordedBox>({{"error", "Pinwright", c.Box}}));
    }
}

TEST_F(DeskTest, TheOpenDialogOffersAllPicturesAndStartsInTheLastFolder)
{
    const QStringList filters = Form->OpenDialog1.QtFilters();
    ASSERT_EQ(filters.size(), 4);
    // Every registered extension, oldest first: here the built-in classes and the tests' own.
    EXPECT_EQ(filters[3], "All pictures (*.ico *.bmp *.pwtest *.pwlazy)");
    EXPECT_EQ(Form->OpenDialog1.Filter.section(QLatin1Char('|'), 7), "*.ico;*.bmp;*.pwtest;*.pwlazy");
    EXPECT_TRUE(Form->OpenDialog1.InitialDir.isEmpty());

    OpenPicture(10, 10);
    Form.reset();
    TForm1 next;
    EXPECT_EQ(next.OpenDialog1.InitialDir, QString::fromStdString(Dir.Path()));
}

} // namespace
