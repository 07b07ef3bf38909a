#include "app/main_window.h"

#include "app/application.h"
#include "app/glyphs.h"
#include "app/help_hook.h"
#include "app/html_help.h"
#include "app/image_view.h"
#include "app/points_panel.h"
#include "georef/dialog_filters.h"
#include "app/message_service.h"
#include "app/zoom_window.h"
#include "imaging/loaded_picture.h"
#include "platform/picture.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QToolButton>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

constexpr int kClientWidth = 579;
constexpr int kClientHeight = 424;
constexpr int kTopBarHeight = 54;
constexpr int kRightPanelWidth = 121;
constexpr int kStatusBarHeight = 19;
constexpr int kMessageSlots = 11;
constexpr int kPointsMinHeight = 110;
// Progress handlers let the window repaint at most this often.
constexpr int kPumpIntervalMs = 100;
// The progress bar takes a new value at most this often while a stage runs
// (the first value after a stage starts always): each new value repaints
// it at once, which costs about half a millisecond every time.
constexpr int kBarIntervalMs = 50;

const char* const kMemoLines[] = {"version", "Files have been made.", "Fill in all coordinates!"};

QToolButton* MakeSpeedButton(QWidget* parent, const QString& caption, const QPixmap& glyph, int x)
{
    auto* button = new QToolButton(parent);
    button->setText(caption);
    button->setIcon(QIcon(glyph));
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(x, 2, 65, 50);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const QString& caption, int x, int y)
{
    auto* label = new QLabel(caption, parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

// A value label keeps room for a five-digit pixel position with two
// decimals, as a snap gives it.
QLabel* MakeValueLabel(QWidget* parent, int x, int y)
{
    auto* label = new QLabel(kUnplacedText, parent);
    label->setGeometry(x, y, 48, 13);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, int x, int y)
{
    auto* edit = new QLineEdit(parent);
    edit->setGeometry(x, y, 73, 21);
    return edit;
}

} // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(kApplicationTitle);
    setFont(WorkbenchFont());
    // The original 579 x 424 is where the window starts and the least it takes.
    setMinimumSize(kClientWidth, kClientHeight);
    resize(kClientWidth, kClientHeight);

    BuildTopBar();
    BuildRightPanel();
    BuildImageArea();
    StatusBar1 = new TStatusBar({120, 115, 50}, this);
    StatusBar1->setGeometry(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
    StatusBar1->Panel(1)->setText(QStringLiteral("VORLANDT EUROPE bv"));
    BuildGisControls();
    BuildDeskAdditions();
    BuildSnapControls();
    BuildPointsControls();

    OpenDialog1.Filter = QString::fromLatin1(SourceFilterText) + QLatin1Char('|') +
                         QString::fromStdString(AllPicturesFilterText());
    OpenDialog2.Filter = QStringLiteral("(*.*)|*.*");
    SaveDialog1.Filter = QString::fromLatin1(TargetFilterText);

    ConnectHandlers();
    WatchKeys();
    SetMainForm(this);
    FormCreate();
}

TForm1::~TForm1()
{
    FormDestroy();
    Image1->Picture().OnProgress = nullptr;
    if (MainForm() == this)
        SetMainForm(nullptr);
    // A find still running ends unheard: its busy cursor goes now.
    if (FindingCorners())
        QApplication::restoreOverrideCursor();
}

void TForm1::BuildTopBar()
{
    Panel4 = new TPanel(this);
    Panel4->setGeometry(0, 0, kClientWidth, kTopBarHeight);
    SpeedButton2 = MakeSpeedButton(Panel4, QStringLiteral("Open"), OpenGlyph(), 2);
    SpeedButton3 = MakeSpeedButton(Panel4, QStringLiteral("Help"), HelpGlyph(), 80);
    SpeedButton4 = MakeSpeedButton(Panel4, QStringLiteral("Close"), CloseGlyph(), 147);
    Memo1 = new QPlainTextEdit(Panel4);
    Memo1->setGeometry(328, 8, 241, 40);
    for (const char* line : kMemoLines)
        Memo1->appendPlainText(QString::fromLatin1(line));
    Memo1->setVisible(false);
}

void TForm1::BuildRightPanel()
{
    Panel2 = new TPanel(this);
    Panel2->setGeometry(kClientWidth - kRightPanelWidth, kTopBarHeight, kRightPanelWidth,
                        kClientHeight - kTopBarHeight - kStatusBarHeight);

    GroupBox6 = new QGroupBox(QStringLiteral(" Local "), Panel2);
    GroupBox6->setGeometry(8, 8, 105, 161);
    RadioButton1 = new QRadioButton(QStringLiteral("1. point"), GroupBox6);
    RadioButton1->setGeometry(8, 16, 89, 17);
    RadioButton2 = new QRadioButton(QStringLiteral("2. point"), GroupBox6);
    RadioButton2->setGeometry(8, 72, 89, 17);
    // The handlers set both buttons themselves, exactly as the point state says.
    RadioButton1->setAutoExclusive(false);
    RadioButton2->setAutoExclusive(false);
    Label20 = MakeLabel(GroupBox6, QStringLiteral("y1 :"), 32, 32);
    Label22 = MakeLabel(GroupBox6, QStringLiteral("x1 :"), 32, 48);
    Label26 = MakeLabel(GroupBox6, QStringLiteral("y2 :"), 32, 88);
    Label28 = MakeLabel(GroupBox6, QStringLiteral("x2 :"), 32, 104);
    Label21 = MakeValueLabel(GroupBox6, 56, 32);
    Label23 = MakeValueLabel(GroupBox6, 56, 48);
    Label27 = MakeValueLabel(GroupBox6, 56, 88);
    Label29 = MakeValueLabel(GroupBox6, 56, 104);

    Panel3 = new TPanel(GroupBox6);
    Panel3->setGeometry(8, 129, 89, 24);
    Panel3->SetBevelInner(bvRaised);
    Image3 = new TImage(Panel3);
    Image3->setGeometry(2, 2, 85, 20);
    Image3->SetPicture(ZoomPicture());
    Image3->setToolTip(QStringLiteral("Zoom"));

    BuildGlobalGroup();

    Button11 = new QPushButton(QStringLiteral("Save"), Panel2);
    Button11->setGeometry(8, 324, 105, 25);
}

void TForm1::BuildGlobalGroup()
{
    GroupBox7 = new QGroupBox(QStringLiteral(" Global "), Panel2);
    GroupBox7->setGeometry(8, 176, 105, 145);
    Label16 = MakeLabel(GroupBox7, QStringLiteral("Y1"), 8, 24);
    Edit16 = MakeEdit(GroupBox7, 24, 16);
    Label17 = MakeLabel(GroupBox7, QStringLiteral("X1"), 8, 44);
    Edit17 = MakeEdit(GroupBox7, 24, 36);
    Label18 = MakeLabel(GroupBox7, QStringLiteral("Y2"), 8, 72);
    Edit18 = MakeEdit(GroupBox7, 24, 64);
    Label19 = MakeLabel(GroupBox7, QStringLiteral("X2"), 8, 94);
    Edit19 = MakeEdit(GroupBox7, 24, 86);
    QWidget::setTabOrder(Edit16, Edit17);
    QWidget::setTabOrder(Edit17, Edit18);
    QWidget::setTabOrder(Edit18, Edit19);

    SpeedButton1 = new QToolButton(GroupBox7);
    SpeedButton1->setGeometry(8, 113, 41, 24);
    SpeedButton1->setIcon(QIcon(NotepadGlyph()));
    SpeedButton1->setIconSize(QSize(18, 18));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setToolTip(QStringLiteral("Load file"));

    Panel1 = new TPanel(GroupBox7);
    Panel1->setGeometry(56, 113, 41, 24);
    Panel1->SetBevelInner(bvRaised);
    Panel1->SetBevelOuter(bvLowered);
    Image2 = new TImage(Panel1);
    Image2->setGeometry(2, 2, 37, 20);
    Image2->SetPicture(SignPicture());
    Image2->SetCenter(true);
    // Created disabled; nothing in the window enables the toggle.
    Image2->setEnabled(false);
    Panel1->setEnabled(false);
}

void TForm1::BuildImageArea()
{
    Panel5 = new TPanel(this);
    Panel5->setGeometry(0, kTopBarHeight, kClientWidth - kRightPanelWidth,
                        kClientHeight - kTopBarHeight - kStatusBarHeight);
    ScrollBox1 = new QScrollArea(Panel5);
    ScrollBox1->setGeometry(Panel5->rect().adjusted(1, 1, -1, -1));
    ScrollBox1->setWidgetResizable(false);
    // A click on the picture picks a point and leaves the keyboard focus where it was.
    ScrollBox1->setFocusPolicy(Qt::NoFocus);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette white = ScrollBox1->viewport()->palette();
    white.setColor(QPalette::Window, Qt::white);
    ScrollBox1->viewport()->setPalette(white);
    ScrollBox1->viewport()->setAutoFillBackground(true);
    Image1 = new TImageView;
    ScrollBox1->setWidget(Image1);
}

// The starting layout above, stretched: the image area takes the room, the
// top bar and the status bar the width, the right panel keeps its width.
void TForm1::LayOut()
{
    if (!ZoomBox)
        return;
    const int w = width();
    const int h = height();
    const int middle = h - kTopBarHeight - kStatusBarHeight;
    Panel4->resize(w, kTopBarHeight);
    CrsNameLabel->resize(std::max(0, w - CrsNameLabel->x() - 6), CrsNameLabel->height());
    CheckLabel->resize(std::max(0, w - CheckLabel->x() - 6), CheckLabel->height());
    Panel2->setGeometry(w - kRightPanelWidth, kTopBarHeight, kRightPanelWidth, middle);
    // The points panel, when shown, takes the lower part of the image area:
    // room for its rows, up to half of it.
    const int pointsHeight =
        PointsPanel->isHidden()
            ? 0
            : std::clamp(PointsPanel->PreferredHeight(), kPointsMinHeight, std::max(kPointsMinHeight, middle / 2));
    Panel5->setGeometry(0, kTopBarHeight, w - kRightPanelWidth, middle - pointsHeight);
    PointsPanel->setGeometry(0, kTopBarHeight + middle - pointsHeight, w - kRightPanelWidth, pointsHeight);
    ScrollBox1->setGeometry(Panel5->rect().adjusted(1, 1, -1, -1));
    StatusBar1->setGeometry(0, h - kStatusBarHeight, w, kStatusBarHeight);
    ZoomBox->setGeometry(w - ZoomBox->width() - 1, 1, ZoomBox->width(), kStatusBarHeight - 2);
    CursorPanel->resize(ZoomBox->x() - CursorPanel->x() - 2, CursorPanel->height());
}

void TForm1::ConnectHandlers()
{
    connect(RadioButton1, &QRadioButton::clicked, this, [this] { RunGuarded([this] { RadioButton1Click(); }); });
    connect(RadioButton2, &QRadioButton::clicked, this, [this] { RunGuarded([this] { RadioButton2Click(); }); });
    connect(Image1, &TImageView::mouseDown, this, [this](int x, int y, QPointF at, Qt::KeyboardModifiers modifiers) {
        RunGuarded([&] { ImageClicked(x, y, at, modifiers); });
    });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { RunGuarded([this] { SpeedButton2Click(); }); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { RunGuarded([this] { SpeedButton3Click(); }); });
    connect(SpeedButton4, &QToolButton::clicked, this, [this] { RunGuarded([this] { SpeedButton4Click(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { RunGuarded([this] { SpeedButton1Click(); }); });
    connect(Button11, &QPushButton::clicked, this, [this] { RunGuarded([this] { Button11Click(); }); });
    connect(Image2, &TImage::clicked, this, [this] { RunGuarded([this] { Image2Click(); }); });
    connect(Image3, &TImage::clicked, this, [this] { RunGuarded([this] { Image3Click(); }); });
    connect(Image1, &TImageView::decodeBusy, this, [this](bool busy) {
        SetBusy(busy);
        if (!busy)
            ReportEarlyEnd();
    });
    Image1->Picture().OnProgress = [this](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                                          const std::string& text) { PictureProgress(stage, percent, text); };
}

void TForm1::FormCreate()
{
    MessageTable = Memo1->toPlainText().split(QLatin1Char('\n'));
    while (MessageTable.size() < kMessageSlots)
        MessageTable.append(QString());

    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    StartDir = error ? std::string(".") : current.string();

    RadioButton1->setChecked(true);
    RadioButton2->setChecked(false);
    PointState = 1;

    StatusBar1->Panel(0)->setText(MessageTable[0] + QStringLiteral(" 1.3 (01.2007)"));

    FHelpHook = std::make_unique<THelpHook>("helmarq.chm", "", 0);
}

void TForm1::FormDestroy()
{
    if (!FHelpHook)
        return;
    FHelpHook.reset();
    CloseHtmlHelpWindows();
}

void TForm1::RadioButton1Click()
{
    SelectPoint(1);
}

void TForm1::RadioButton2Click()
{
    SelectPoint(2);
}

void TForm1::Image1MouseDown(int x, int y)
{
    PlacePoint(x, y);
}

void TForm1::OpenFile(const QString& fileName)
{
    OpenDialog1.FileName = fileName;
    OpenDialog1.FilterIndex = SourceFilterIndexFor(QFile::encodeName(fileName).toStdString());
    OpenImageFile(fileName);
}

void TForm1::SpeedButton2Click()
{
    if (!OpenDialog1.Execute(this))
        return;
    OpenImageFile(OpenDialog1.FileName);
}

void TForm1::OpenImageFile(const QString& fileName)
{
    // A load pumps paint events; no second Open may start inside it.
    SpeedButton2->setEnabled(false);
    struct TEnd {
        TForm1* Form;
        ~TEnd()
        {
            Form->SetBusy(false);
            Form->SpeedButton2->setEnabled(true);
        }
    } end{this};
    // A picture without pixels is refused like a file that cannot be read:
    // the previous picture stays.
    Image1->OpenPicture(QFile::encodeName(fileName).toStdString(), Image1->Picture().OnProgress, RequireImage);
    RememberFolder(fileName);
    FEarlyEndReported = nullptr;
    StatusBar1->Panel(0)->setText(MessageTable[0] + QStringLiteral(" 1.3 (01.2007)"));
    StatusBar1->Panel(0)->setToolTip(QString());
    ReportEarlyEnd();
}

void TForm1::ReportEarlyEnd()
{
    // A JPEG knows only once it is decoded (at its first paint), so this also
    // runs when a decode ends; each picture is reported once.
    TGraphic* graphic = Image1->Picture().Graphic();
    if (!graphic || !graphic->EndedEarly() || graphic == FEarlyEndReported)
        return;
    FEarlyEndReported = graphic;
    const QString notice = QString::fromStdString(EarlyEndNotice(*graphic));
    StatusBar1->Panel(0)->setText(QStringLiteral("Ends early at row %1").arg(graphic->EarlyEndRow()));
    StatusBar1->Panel(0)->setToolTip(notice);
    MessageService().ShowNotice(notice);
}

void TForm1::SpeedButton3Click()
{
    if (!HtmlHelpLoaded()) {
        MessageService().ShowWarning(kApplicationTitle, QString::fromLatin1(kHtmlHelpMissing));
        return;
    }
    HtmlHelp(nullptr, "pinwright.chm", HH_DISPLAY_TOPIC, 0);
}

void TForm1::SpeedButton4Click()
{
    close();
}

void TForm1::Image2Click()
{
    if (Panel1->BevelInner() == bvLowered) {
        Panel1->SetBevelInner(bvRaised);
        Panel1->SetBevelOuter(bvRaised);
    } else {
        Panel1->SetBevelInner(bvLowered);
        Panel1->SetBevelOuter(bvLowered);
    }
    UpdatePointCheck();
}

void TForm1::Image3Click()
{
    if (Form2 && Form2->isVisible()) {
        Panel3->SetBevelInner(bvRaised);
        Panel3->SetBevelOuter(bvRaised);
        Form2->close();
    } else {
        Panel3->SetBevelInner(bvLowered);
        Panel3->SetBevelOuter(bvLowered);
        if (Form2)
            Form2->show();
    }
}

void TForm1::PictureProgress(TProgressStage stage, int percent, const std::string& text)
{
    QProgressBar* bar = StatusBar1->ProgressBar();
    if (stage == psEnding) {
        SetBusy(false);
        return;
    }
    if (stage != psRunning || !FLastBarValue.isValid() || FLastBarValue.elapsed() >= kBarIntervalMs) {
        bar->setValue(qBound(0, percent, 100));
        if (stage == psRunning)
            FLastBarValue.restart();
        else
            FLastBarValue.invalidate();
    }
    bar->setFormat(text.empty() ? QStringLiteral("%p%") : QString::fromStdString(text) + QStringLiteral(" %p%"));
    const bool appearing = bar->isHidden();
    if (appearing)
        bar->show();
    if (appearing || !FLastPump.isValid() || FLastPump.elapsed() >= kPumpIntervalMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        FLastPump.restart();
    }
}

void TForm1::SetBusy(bool busy)
{
    if (!busy)
        StatusBar1->ProgressBar()->hide();
    FLastPump.invalidate();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    RememberPlace();
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (FCentred)
        return;
    FCentred = true;
    if (RestorePlace())
        return;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}
