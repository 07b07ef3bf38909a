#include "tests/app/app_fixture.h"

#include "app/application.h"
#include "app/zoom_window.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// A 1000 x 800 desktop whose every pixel tells its own position, with a
// cursor the test moves.
class TFakeScreen : public TZoomScreen {
public:
    TFakeScreen() : Desktop(1000, 800, QImage::Format_RGB32)
    {
        for (int y = 0; y < Desktop.height(); ++y)
            for (int x = 0; x < Desktop.width(); ++x)
                Desktop.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, ((x >> 8) << 4) | (y >> 8)));
    }
    QPoint CursorPos() override { return Cursor; }
    QSize ScreenSize() override { return Desktop.size(); }
    QImage Grab(const QRect& rect) override
    {
        ++Grabs;
        LastGrab = rect;
        return Desktop.copy(rect);
    }
    QImage Desktop;
    QPoint Cursor{500, 400};
    int Grabs = 0;
    QRect LastGrab;
};

class ZoomWindowTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        Form = std::make_unique<TForm2>();
        Form->Timer1->stop();   // the tests drive the refreshes
        Form->SetScreen(&Screen);
    }
    void TearDown() override
    {
        Form.reset();
        SetMainForm(nullptr);
        AppTest::TearDown();
    }
    // Shows the window with a 200 x 200 picture, away from the cursor.
    void ShowSized()
    {
        Form->show();
        Form->resize(200, 200);
        Form->move(0, 0);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
        ASSERT_EQ(Form->size(), QSize(200, 200));
    }
    const QImage& Picture() const { return Form->Image1->Picture; }

    TFakeScreen Screen;
    std::unique_ptr<TForm2> Form;
};

} // namespace

TEST_F(ZoomWindowTest, StartsHiddenWithItsTimerControlsAndPosition)
{
    auto fresh = std::make_unique<TForm2>();
    EXPECT_FALSE(fresh->isVisible());
    EXPECT_EQ(fresh->windowTitle(), "Zoom");
    EXPECT_TRUE(fresh->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(fresh->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(fresh->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(fresh->pos(), QPoint(826, 114));
    EXPECT_TRUE(fresh->Timer1->isActive());
    EXPECT_EQ(fresh->Timer1->interval(), 25);
    EXPECT_EQ(fresh->Slider->minimum(), 1);
    EXPECT_EQ(fresh->Slider->maximum(), 4);
    EXPECT_EQ(fresh->Slider->value(), 1);
    EXPECT_EQ(fresh->Slider->pageStep(), 1);
    EXPECT_EQ(fresh->Slider->tickPosition(), QSlider::TicksBelow);
    EXPECT_EQ(fresh->GroupBox1->title(), " Magnification ");
    EXPECT_EQ(fresh->cbSrediste->text(), "Show crosshair");
    EXPECT_TRUE(fresh->cbSrediste->isChecked());
    EXPECT_TRUE(fresh->Image1->isHidden());
    EXPECT_FALSE(fresh->Panel1->isHidden());
    EXPECT_EQ(fresh->Label4->text(), "8 x");
    EXPECT_EQ(fresh->size(), QSize(150, 150));

    fresh->FormDestroy();
    EXPECT_FALSE(fresh->Timer1->isActive());
}

TEST_F(ZoomWindowTest, RefreshShowsTheScreenAroundTheCursorEnlarged)
{
    ShowSized();
    Screen.Cursor = QPoint(500, 400);
    Form->cbSrediste->setChecked(false);
    Form->Timer1Timer();

    EXPECT_FALSE(Form->Image1->isHidden());
    EXPECT_TRUE(Form->Panel1->isHidden());
    // dx = dy = 50: a 100 x 100 source doubled into the 200 x 200 picture.
    EXPECT_EQ(Screen.LastGrab, QRect(450, 350, 100, 100));
    ASSERT_EQ(Picture().size(), QSize(200, 200));
    for (const QPoint at : {QPoint(0, 0), QPoint(37, 81), QPoint(199, 199)})
        EXPECT_EQ(Picture().pixel(at), Screen.Desktop.pixel(450 + at.x() / 2, 350 + at.y() / 2))
            << at.x() << "," << at.y();

    // The picture follows the cursor, four times enlarged at position 2.
    Screen.Cursor = QPoint(100, 700);
    Form->Slider->setValue(2);
    Form->Timer1Timer();
    EXPECT_EQ(Screen.LastGrab, QRect(75, 675, 50, 50));
    EXPECT_EQ(Picture().pixel(101, 57), Screen.Desktop.pixel(75 + 25, 675 + 14));
}

TEST_F(ZoomWindowTest, CrosshairMarksTheCursorPixelAndCanBeSwitchedOff)
{
    ShowSized();
    Screen.Cursor = QPoint(3, 500);   // near the left edge: the source shifts
    Form->Timer1Timer();
    EXPECT_EQ(Screen.LastGrab, QRect(0, 450, 100, 100));
    const QRgb black = qRgb(0, 0, 0);
    // ux = 2 (3 - 0) = 6, uy = 100; arms of 50 pixels, end points excluded.
    EXPECT_EQ(Picture().pixel(0, 100), black);
    EXPECT_EQ(Picture().pixel(55, 100), black);
    EXPECT_NE(Picture().pixel(56, 100), black);
    EXPECT_EQ(Picture().pixel(6, 50), black);
    EXPECT_EQ(Picture().pixel(6, 149), black);
    EXPECT_NE(Picture().pixel(6, 150), black);
    EXPECT_NE(Picture().pixel(6, 49), black);

    Form->cbSrediste->setChecked(false);
    Form->Timer1Timer();
    EXPECT_EQ(Picture().pixel(6, 100), Screen.Desktop.pixel(3, 500));
}

TEST_F(ZoomWindowTest, CursorOverTheWindowShowsTheControlsAndStopsCopying)
{
    ShowSized();
    Form->Timer1Timer();
    const int grabs = Screen.Grabs;
    Screen.Cursor = Form->frameGeometry().topLeft() + QPoint(10, 10);
    Form->Timer1Timer();
    EXPECT_EQ(Screen.Grabs, grabs);
    EXPECT_FALSE(Form->Panel1->isHidden());
    EXPECT_TRUE(Form->Image1->isHidden());

    // The right and bottom edges are outside.
    Screen.Cursor = Form->frameGeometry().topLeft() + QPoint(Form->frameGeometry().width(), 10);
    Form->Timer1Timer();
    EXPECT_EQ(Screen.Grabs, grabs + 1);
    EXPECT_TRUE(Form->Panel1->isHidden());
}

TEST_F(ZoomWindowTest, MinimisedApplicationSkipsRefreshes)
{
    ShowSized();
    QWidget mainForm;
    SetMainForm(&mainForm);
    mainForm.showMinimized();
    Form->Timer1Timer();
    EXPECT_EQ(Screen.Grabs, 0);
    mainForm.showNormal();
    Form->Timer1Timer();
    EXPECT_EQ(Screen.Grabs, 1);
}

TEST_F(ZoomWindowTest, ResizeCentresTheControlsAndStartsANewPicture)
{
    ShowSized();
    Form->Timer1Timer();
    ASSERT_FALSE(Picture().isNull());
    Form->resize(300, 250);
    EXPECT_TRUE(Picture().isNull());
    EXPECT_EQ(Form->Panel1->pos(), QPoint(300 / 2 - 75, 250 / 2 - 75));
    EXPECT_EQ(Form->Image1->geometry(), QRect(0, 0, 300, 250));
    Form->Timer1Timer();
    EXPECT_EQ(Picture().size(), QSize(300, 250));

    // The limits hold for the outer size, frame included.
    Form->resize(100, 100);
    EXPECT_EQ(Form->frameGeometry().size(), QSize(158, 177));
    Form->resize(500, 500);
    EXPECT_EQ(Form->frameGeometry().size(), QSize(350, 350));
}

TEST_F(ZoomWindowTest, TimerRefreshesWhileTheWindowRuns)
{
    ShowSized();
    Form->Timer1->start();
    ASSERT_TRUE(QTest::qWaitFor([this] { return Screen.Grabs >= 3; }, 2000));
}
