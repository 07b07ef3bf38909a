// The main window's GIS additions: the coordinate reference system field,
// the rotation switch, the map position under the cursor and the loading of
// ".points" files.
#include "app/main_window.h"

#include "app/application.h"
#include "app/image_view.h"
#include "georef/coordinates.h"
#include "georef/gcp_points_file.h"
#include "platform/exceptions.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QSettings>


namespace {

const QString kCrsKey = QStringLiteral("georeferencing/crs");

QSettings Settings()
{
    return QSettings(QStringLiteral("Pinwright"), QStringLiteral("pinwright"));
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
    CheckLabel->setGeometry(400, 32, 173, 13);

    // Beside the three panels, under the progress bar while a picture decodes.
    CursorPanel = new QLabel(StatusBar1);
    CursorPanel->setGeometry(286, 0, 293, 19);
    CursorPanel->setIndent(2);
    CursorPanel->setFont(StatusBar1->Panel(0)->font());
    StatusBar1->ProgressBar()->raise();

    connect(CrsEdit, &QLineEdit::editingFinished, this, [this] { RunGuarded([this] { CrsEditDone(); }); });
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
        CrsNameLabel->setStyleSheet(WarningStyle);
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

void TForm1::Image1MouseMove(int x, int y)
{
    QString text = QStringLiteral("x %1, y %2").arg(x).arg(y);
    if (FCursorModel) {
        const TMapPosition at = FCursorModel->Map(x, y);
        text += QStringLiteral("   Y %1, X %2").arg(Number(at.East, FCursorDecimals), Number(at.North, FCursorDecimals));
    }
    CursorPanel->setText(text);
}

void TForm1::Image1MouseLeft()
{
    CursorPanel->clear();
}

void TForm1::LoadGcpPointsFile(const std::string& fileName)
{
    const TGcpPoints file = ReadEveryGcpPoint(fileName);
    if (file.Points.size() < 2)
        throw Exception("The point file '" + fileName + "' holds fewer than two points");
    const char separator = LocaleDecimalSeparator();
    auto show = [separator](double value) { return QString::fromStdString(FloatToStr(value, separator)); };
    std::vector<TPointEntry> entries;
    for (const TControlPoint& p : file.Points)
        entries.push_back({show(p.Col), show(p.Row), show(p.East), show(p.North), p.Role});
    if (file.Crs.Given()) {
        CrsEdit->setText(QString::fromStdString(file.Crs.Id()));
        CrsEditDone();
    }
    SetPointEntries(std::move(entries));
    if (file.Points.size() > 2)
        ShowPointsTable(true);
}
