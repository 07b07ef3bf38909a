#include "app/form_controls.h"

#include "app/application.h"
#include "app/glyphs.h"
#include "app/image_view.h"
#include "app/point_entries.h"

#include <QBoxLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QToolButton>

namespace {

constexpr int kTopBarHeight = 54;
constexpr int kRightPanelWidth = 121;
constexpr int kStatusBarHeight = 19;
// Left of the top bar's free room, right of its three buttons.
constexpr int kTopRoomLeft = 214;

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

void TForm1Controls::SetupControls(QWidget* form)
{
    SetupTopBar(form);
    Panel2 = new TPanel(form);
    Panel2->setFixedWidth(kRightPanelWidth);
    SetupLocalGroup();
    SetupGlobalGroup();
    Button11 = new QPushButton(QStringLiteral("Save"), Panel2);
    Button11->setGeometry(8, 324, 105, 25);
    SetupImageArea(form);
    StatusBar1 = new TStatusBar({120, 115, 50}, form);
    StatusBar1->setFixedHeight(kStatusBarHeight);
    StatusBar1->Panel(1)->setText(QStringLiteral("VORLANDT EUROPE bv"));

    auto* middle = new QHBoxLayout;
    middle->setSpacing(0);
    middle->addLayout(ImageColumn, 1);
    middle->addWidget(Panel2);
    auto* window = new QVBoxLayout(form);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    window->addWidget(Panel4);
    window->addLayout(middle, 1);
    window->addWidget(StatusBar1);
}

void TForm1Controls::SetupTopBar(QWidget* form)
{
    Panel4 = new TPanel(form);
    Panel4->setFixedHeight(kTopBarHeight);
    SpeedButton2 = MakeSpeedButton(Panel4, QStringLiteral("Open"), OpenGlyph(), 2);
    SpeedButton3 = MakeSpeedButton(Panel4, QStringLiteral("Help"), HelpGlyph(), 80);
    SpeedButton4 = MakeSpeedButton(Panel4, QStringLiteral("Close"), CloseGlyph(), 147);
    Memo1 = new QPlainTextEdit(Panel4);
    Memo1->setGeometry(328, 8, 241, 40);
    for (const char* line : kMemoLines)
        Memo1->appendPlainText(QString::fromLatin1(line));
    Memo1->setVisible(false);
    TopRoom = new QHBoxLayout(Panel4);
    TopRoom->setContentsMargins(kTopRoomLeft, 4, 6, 4);
}

void TForm1Controls::SetupLocalGroup()
{
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
}

void TForm1Controls::SetupGlobalGroup()
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

void TForm1Controls::SetupImageArea(QWidget* form)
{
    Panel5 = new TPanel(form);
    ScrollBox1 = new QScrollArea(Panel5);
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
    auto* fill = new QVBoxLayout(Panel5);
    fill->setContentsMargins(1, 1, 1, 1);
    fill->addWidget(ScrollBox1);
    ImageColumn = new QVBoxLayout;
    ImageColumn->setSpacing(0);
    ImageColumn->addWidget(Panel5, 1);
}
