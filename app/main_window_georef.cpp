// The main window's GIS additions: the coordinate reference system field,
// the rotation switch, the check of the two points shown as they are typed,
// the markers of the picked points and the map position under the cursor.
#include "app/main_window.h"

#include "app/application.h"
#include "app/image_view.h"
#include "georef/coordinates.h"
#include "georef/save_request.h"
#include "georef/gcp_points_file.h"
#include "georef/point_check.h"
#include "platform/exceptions.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QSettings>

#include <cmath>

namespace {

const QString kCrsKey = QStringLiteral("georeferencing/crs");
const QString kWarningStyle = QStringLiteral("color: #b00000;");

char LocaleSeparator()
{
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 0x80 ? static_cast<char>(point[0].unicode()) : '.';
}

QSettings Settings()
{
    return QSettings(QStringLiteral("Pinwright"), QStringLiteral("pinwright"));
}

std::optional<double> LabelValue(const QLabel* label, char separator)
{
    try {
        return StrToFloat(label->text().toStdString(), separator);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

QString Number(double value, int decimals)
{
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

} // namespace

void TForm1::BuildGisControls()
{
    // The top bar's free room right of the three buttons.
    CrsCaption = new QLabel(QStringLiteral("System"), Panel4);
    CrsCaption->setGeometry(214, 8, 43, 13);
    CrsEdit = new QLineEdit(Panel4);
    CrsEdit->setGeometry(258, 4, 90, 21);
    CrsEdit->setPlaceholderText(QStringLiteral("EPSG code"));
    CrsEdit->setToolTip(QStringLiteral("Coordinate reference system: an EPSG code or its name"));
    CrsNameLabel = new QLabel(Panel4);
    CrsNameLabel->setGeometry(354, 8, 219, 13);
    RotateCheck = new QCheckBox(QStringLiteral("Rotation"), Panel4);
    RotateCheck->setGeometry(218, 30, 70, 17);
    RotateCheck->setToolTip(QStringLiteral("One scale and a rotation, both points fitted exactly"));
    CheckLabel = new QLabel(Panel4);
    CheckLabel->setGeometry(294, 32, 279, 13);

    // Beside the three panels, under the progress bar while a picture decodes.
    CursorPanel = new QLabel(StatusBar1);
    CursorPanel->setGeometry(286, 0, 293, 19);
    CursorPanel->setIndent(2);
    CursorPanel->setFont(StatusBar1->Panel(0)->font());
    StatusBar1->ProgressBar()->raise();

    connect(CrsEdit, &QLineEdit::editingFinished, this, [this] { RunGuarded([this] { CrsEditDone(); }); });
    connect(RotateCheck, &QCheckBox::toggled, this, [this] { UpdatePointCheck(); });
    for (QLineEdit* edit : {Edit16, Edit17, Edit18, Edit19})
        connect(edit, &QLineEdit::textChanged, this, [this] { UpdatePointCheck(); });
    connect(Image1, &TImageView::mouseMove, this, [this](int x, int y) { Image1MouseMove(x, y); });
    connect(Image1, &TImageView::mouseLeft, this, [this] { Image1MouseLeft(); });

    CrsEdit->setText(Settings().value(kCrsKey).toString());
    if (!CrsEdit->text().isEmpty())
        CrsEditDone();
}

TCrs TForm1::CurrentCrs() const
{
    return LookupCrs(CrsEdit->text().toStdString());
}

void TForm1::CrsEditDone()
{
    CrsNameLabel->setStyleSheet(QString());
    try {
        const TCrs crs = CurrentCrs();
        CrsNameLabel->setText(QString::fromStdString(crs.Name));
    } catch (const Exception& error) {
        CrsNameLabel->setStyleSheet(kWarningStyle);
        CrsNameLabel->setText(QString::fromStdString(error.Message()));
    }
    CrsNameLabel->setToolTip(CrsNameLabel->text());
}

void TForm1::RememberCrs() const
{
    QSettings settings = Settings();
    if (settings.value(kCrsKey).toString() != CrsEdit->text())
        settings.setValue(kCrsKey, CrsEdit->text());
}

void TForm1::UpdatePointCheck()
{
    const char separator = LocaleSeparator();
    const auto row1 = LabelValue(Label21, separator), col1 = LabelValue(Label23, separator);
    const auto row2 = LabelValue(Label27, separator), col2 = LabelValue(Label29, separator);
    Image1->SetMarker(1, row1 && col1 ? std::optional(QPointF(*col1, *row1)) : std::nullopt);
    Image1->SetMarker(2, row2 && col2 ? std::optional(QPointF(*col2, *row2)) : std::nullopt);

    FTransform.reset();
    CheckLabel->clear();
    CheckLabel->setToolTip(QString());
    CheckLabel->setStyleSheet(QString());
    if (!row1 || !col1 || !row2 || !col2)
        return;
    for (const QLineEdit* edit : {Edit16, Edit17, Edit18, Edit19})
        if (edit->text().isEmpty())
            return;
    try {
        const TSaveRequest request = BuildSaveRequest(ReadPanelPoints(), ChosenOptions());
        FTransform = request.Fit.Transform;
        const TPointCheck check = CheckControlPoints(request.Points, request.Fit);
        CheckLabel->setText(QString::fromStdString(PointCheckSummary(check)));
        QStringList lines;
        for (const auto& line : PointCheckLines(check))
            lines << QString::fromStdString(line);
        CheckLabel->setToolTip(lines.join(QLatin1Char('\n')));
        if (!check.Warnings.empty())
            CheckLabel->setStyleSheet(kWarningStyle);
    } catch (const Exception& error) {
        FTransform.reset();
        CheckLabel->setStyleSheet(kWarningStyle);
        CheckLabel->setText(QString::fromStdString(error.Message()));
    }
}

void TForm1::Image1MouseMove(int x, int y)
{
    QString text = QStringLiteral("x %1, y %2").arg(x).arg(y);
    if (FTransform) {
        // Map units of a degree or less need more decimals than metres.
        const int decimals = std::hypot(FTransform->A, FTransform->D) < 0.01 ? 7 : 3;
        text += QStringLiteral("   Y %1, X %2")
                    .arg(Number(FTransform->MapY(x, y), decimals), Number(FTransform->MapX(x, y), decimals));
    }
    CursorPanel->setText(text);
}

void TForm1::Image1MouseLeft()
{
    CursorPanel->clear();
}

void TForm1::LoadGcpPointsFile(const std::string& fileName)
{
    const TGcpPoints file = ReadGcpPointsFile(fileName);
    const char separator = LocaleSeparator();
    auto show = [separator](double value) { return QString::fromStdString(FloatToStr(value, separator)); };
    const TControlPoint& p1 = file.Points[0];
    const TControlPoint& p2 = file.Points[1];
    Label21->setText(show(p1.Row));
    Label23->setText(show(p1.Col));
    Label27->setText(show(p2.Row));
    Label29->setText(show(p2.Col));
    Edit16->setText(show(p1.East));
    Edit17->setText(show(p1.North));
    Edit18->setText(show(p2.East));
    Edit19->setText(show(p2.North));
    if (file.Crs.Given()) {
        CrsEdit->setText(QString::fromStdString(file.Crs.Id()));
        CrsEditDone();
    }
    UpdatePointCheck();
}
