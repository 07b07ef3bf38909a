#include "app/main_window.h"

#include "app/application.h"
#include "app/existing_georef_view.h"
#include "app/georef_bar.h"
#include "app/help_hook.h"
#include "app/html_help.h"
#include "app/image_view.h"
#include "app/load_progress.h"
#include "app/message_service.h"
#include "app/point_markers.h"
#include "app/points_panel.h"
#include "app/report_command.h"
#include "app/residual_vectors.h"
#include "app/save_command.h"
#include "app/tools/finder_tools.h"
#include "app/tools/snap_tool.h"
#include "app/two_point_view.h"
#include "app/zoom_window.h"
#include "imaging/loaded_picture.h"
#include "georef/dialog_filters.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QToolButton>

#include <filesystem>
#include <system_error>

namespace {

constexpr int kClientWidth = 579;
constexpr int kClientHeight = 424;
constexpr int kMessageSlots = 11;

const QString kOpenFolderKey = QStringLiteral("open/folder");

QSettings Settings()
{
    return QSettings(QStringLiteral("Pinwright"), QStringLiteral("pinwright"));
}

template <class Widget, class Signal, class Handler>
void Guard(TForm1* form, Widget* widget, Signal signal, Handler handler)
{
    QObject::connect(widget, signal, form, [form, handler] { RunGuarded([&] { (form->*handler)(); }); });
}

} // namespace

TForm1::TForm1(QWidget* parent) : TDeskWindow(parent)
{
    setWindowTitle(kApplicationTitle);
    setFont(WorkbenchFont());
    // The original 579 x 424 is where the window starts and the least it takes.
    setMinimumSize(kClientWidth, kClientHeight);
    resize(kClientWidth, kClientHeight);
    SetupControls(this);
    BuildWorkbench();
    OpenDialog1.Filter = QString::fromLatin1(SourceFilterText) + QLatin1Char('|') +
                         QString::fromStdString(AllPicturesFilterText());
    OpenDialog1.InitialDir = Settings().value(kOpenFolderKey).toString();
    OpenDialog2.Filter = QStringLiteral("(*.*)|*.*");
    SaveDialog1.Filter = QString::fromLatin1(TargetFilterText);
    setAcceptDrops(true);
    ConnectHandlers();
    Navigator->WatchKeys(*this);
    SetMainForm(this);
    FormCreate();
}

TForm1::~TForm1()
{
    FormDestroy();
    if (MainForm() == this)
        SetMainForm(nullptr);
}

void TForm1::BuildWorkbench()
{
    Progress = std::make_unique<TLoadProgress>(*Image1, *StatusBar1,
                                               [this](const QString& text, const QString& tip) { ShowStatus(text, tip); });
    Points = new TPointList(this);
    Fit = new TFitMonitor(*Points, this);
    Fit->ImageSize = [this] { return TImageSize{Image1->Picture().Width(), Image1->Picture().Height()}; };
    new TTwoPointView(*Points, {Label21, Label23, Label27, Label29, {Edit16, Edit17, Edit18, Edit19}, RadioButton1,
                                RadioButton2}, this);
    new TPointMarkers(*Points, *Image1, this);
    const TToolContext context{Image1, Points, [this](const QString& text, const QString& tip) { ShowStatus(text, tip); },
                               [this] { ShowPointsTable(true); }, [this] { return Bar->CrsEdit->text(); },
                               [this](const QString& id) { Bar->SetCrs(id); }};
    PickTool = std::make_unique<TPickTool>(context);
    SnapTool = std::make_unique<TSnapTool>(context);
    Finders = MakeFinderTools(context);
    Bar = new TGeorefBar(*Fit, Panel4);
    TopRoom->addWidget(Bar);
    Navigator = new TViewNavigator(*ScrollBox1, *Image1, StatusBar1);
    CursorPanel = new TCursorReadout(*Fit, StatusBar1);
    CursorPanel->setFont(StatusBar1->Panel(0)->font());
    StatusBar1->Room()->addWidget(CursorPanel, 1);
    Existing = new TExistingGeorefView(*this);
    StatusBar1->Room()->addWidget(Navigator->ZoomBox());
    TWorkbench workbench{Points, Fit, Image1, {}};
    for (const auto& finder : Finders)
        workbench.Finders << finder->Action();
    Panels = new TPanelHost(workbench, *Bar->PanelButtons, *ImageColumn, *this);
    ZoomBox = Navigator->ZoomBox();
    std::tie(CrsEdit, CrsNameLabel, RotateCheck, SnapCheck, CheckLabel) =
        std::tie(Bar->CrsEdit, Bar->CrsNameLabel, Bar->RotateCheck, Bar->SnapCheck, Bar->CheckLabel);
    PointsButton = Panels->Button(QStringLiteral("Points"));
    PointsPanel = qobject_cast<TPointsPanel*>(Panels->Panel(QStringLiteral("Points")));
    Residuals = new TResidualVectors(*Points, *Fit, *Image1, this);
    Residuals->FollowPanel(PointsPanel);
    ReportButton = AddReportButton(*this);
    Fit->Update();
}

void TForm1::ConnectHandlers()
{
    Guard(this, RadioButton1, &QRadioButton::clicked, &TForm1::RadioButton1Click);
    Guard(this, RadioButton2, &QRadioButton::clicked, &TForm1::RadioButton2Click);
    Guard(this, SpeedButton2, &QToolButton::clicked, &TForm1::SpeedButton2Click);
    Guard(this, SpeedButton3, &QToolButton::clicked, &TForm1::SpeedButton3Click);
    Guard(this, SpeedButton4, &QToolButton::clicked, &TForm1::SpeedButton4Click);
    Guard(this, SpeedButton1, &QToolButton::clicked, &TForm1::SpeedButton1Click);
    Guard(this, Button11, &QPushButton::clicked, &TForm1::Button11Click);
    Guard(this, Image2, &TImage::clicked, &TForm1::Image2Click);
    Guard(this, Image3, &TImage::clicked, &TForm1::Image3Click);
    connect(Image1, &TImageView::mouseDown, this, [this](int x, int y, QPointF at, Qt::KeyboardModifiers keys) {
        RunGuarded([&] { (SnapCheck->isChecked() ? SnapTool : PickTool)->Press({x, y, at, keys}); });
    });
    connect(Image1, &TImageView::mouseMove, this, &TForm1::Image1MouseMove);
    connect(Image1, &TImageView::mouseLeft, CursorPanel, &QLabel::clear);
    connect(Points, &TPointList::selectionChanged, this, [this](int number) { PointState = number; });
    // No other picture while a finder reads this one.
    for (const auto& finder : Finders)
        connect(finder.get(), &TFinderTool::runningChanged, SpeedButton2, &QWidget::setDisabled);
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
    Points->Place(x, y);
}

void TForm1::Image1MouseMove(int x, int y)
{
    CursorPanel->Show(x, y);
}

void TForm1::SpeedButton2Click()
{
    if (OpenDialog1.Execute(this))
        OpenImageFile(OpenDialog1.FileName);
}

void TForm1::OpenFile(const QString& fileName)
{
    OpenDialog1.FileName = fileName;
    OpenDialog1.FilterIndex = SourceFilterIndexFor(QFile::encodeName(fileName).toStdString());
    OpenImageFile(fileName);
}

void TForm1::OpenImageFile(const QString& fileName)
{
    // A load pumps paint events; no second Open may start inside it.
    SpeedButton2->setEnabled(false);
    struct TEnd {
        TForm1* Form;
        ~TEnd()
        {
            Form->Progress->SetBusy(false);
            Form->SpeedButton2->setEnabled(true);
        }
    } end{this};
    // A picture without pixels is refused like a file that cannot be read:
    // the previous picture stays.
    Image1->OpenPicture(QFile::encodeName(fileName).toStdString(), Image1->Picture().OnProgress, RequireImage);
    Existing->Opened(QFile::encodeName(fileName).toStdString());
    OpenDialog1.InitialDir = QFileInfo(fileName).absolutePath();
    Settings().setValue(kOpenFolderKey, OpenDialog1.InitialDir);
    ShowStatus(MessageTable[0] + QStringLiteral(" 1.3 (01.2007)"), QString());
    Progress->Opened();
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

void TForm1::SpeedButton1Click()
{
    LoadPointFile(*this);
}

void TForm1::Button11Click()
{
    SaveWorkbench(*this);
}

void TForm1::Image2Click()
{
    const bool pressed = Panel1->BevelInner() != bvLowered;
    Panel1->SetBevelInner(pressed ? bvLowered : bvRaised);
    Panel1->SetBevelOuter(pressed ? bvLowered : bvRaised);
    Fit->SetNegate(pressed);
}

void TForm1::Image3Click()
{
    const bool shown = Form2 && Form2->isVisible();
    Panel3->SetBevelInner(shown ? bvRaised : bvLowered);
    Panel3->SetBevelOuter(shown ? bvRaised : bvLowered);
    if (shown)
        Form2->close();
    else if (Form2)
        Form2->show();
}

void TForm1::SetZoomWindow(TForm2* form)
{
    Form2 = form;
    if (Form2)
        Form2->SetPicture(Image1, Image1);
}

void TForm1::ShowStatus(const QString& text, const QString& tip)
{
    StatusBar1->Panel(0)->setText(text);
    StatusBar1->Panel(0)->setToolTip(tip);
}

bool TForm1::TakesDrops() const
{
    return SpeedButton2->isEnabled();
}

// As Open with the dropped name confirmed in the dialog, under the dialog
// entry of its type, so that Save converts it as such.
void TForm1::Dropped(const QString& fileName)
{
    RunGuarded([&] { OpenFile(fileName); });
}
