// The main window's points: the list of every control point (the panel's
// two first), the points table that shows and edits it, the choice of the
// transformation, and the fit that measures the points as they change.
#include "app/main_window.h"

#include "app/application.h"
#include "app/image_view.h"
#include "app/message_service.h"
#include "app/points_panel.h"
#include "app/points_table_model.h"
#include "app/view_geometry.h"
#include "georef/coordinates.h"
#include "georef/fit_quality.h"
#include "georef/fit_report.h"
#include "georef/point_check.h"
#include "platform/exceptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QTableView>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace {

const QString kPointsShownKey = QStringLiteral("window/points");

QSettings Settings()
{
    return QSettings(QStringLiteral("Pinwright"), QStringLiteral("pinwright"));
}

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// The label's text for a pixel position: five blanks before it is placed.
QString LabelText(const QString& text)
{
    return text.trimmed().isEmpty() ? kUnplacedText : text;
}

QString Pixels(double value)
{
    return QString::number(value, 'f', 3);
}

// The residuals in one line: the root mean squares, then the warnings.
QString FitSummary(const TFitQuality& quality)
{
    QString text = QStringLiteral("RMS %1 px").arg(Pixels(quality.Rms.Pixels));
    if (quality.RmsFree)
        text += QStringLiteral(" (n \u2212 k: %1)").arg(Pixels(quality.RmsFree->Pixels));
    if (quality.CheckRms)
        text += QStringLiteral(", check points %1 px").arg(Pixels(quality.CheckRms->Pixels));
    for (const auto& warning : quality.Warnings)
        text += QStringLiteral(" \u2013 ") + Text(warning);
    return text;
}

// The figures of the whole fit for the tooltip, in columns.
QString FitDetails(const TSaveRequest& request, const TFitQuality& quality)
{
    QStringList lines;
    for (const auto& line : FitReportLines(request.Points, request.Fit, quality))
        lines << Text(line).toHtmlEscaped();
    return QStringLiteral("<pre>") + lines.join(QLatin1Char('\n')) + QStringLiteral("</pre>");
}

} // namespace

void TForm1::BuildPointsControls()
{
    PointsButton = new QToolButton(Panel4);
    PointsButton->setText(QStringLiteral("Points"));
    PointsButton->setCheckable(true);
    PointsButton->setFocusPolicy(Qt::NoFocus);
    PointsButton->setToolTip(QStringLiteral("Shows or hides the table of the control points"));
    PointsButton->setGeometry(342, 28, 52, 21);

    PointsPanel = new TPointsPanel(this);
    PointsPanel->hide();
    PointsPanel->SetTransform(Text(std::string(TwoPointFitName)));
    PointsPanel->WarpCheck->setEnabled(false);

    connect(PointsButton, &QToolButton::toggled, this, [this](bool shown) { ShowPointsTable(shown); });
    connect(PointsPanel, &TPointsPanel::rowSelected, this, [this](int row) { SelectPoint(row + 1); });
    connect(PointsPanel->Model, &TPointsTableModel::edited, this, [this](int row, int column, const QString& text) {
        RunGuarded([&] { PointEdited(row, column, text); });
    });
    connect(PointsPanel->AddButton, &QToolButton::clicked, this, [this] { RunGuarded([this] { AddPoint(); }); });
    connect(PointsPanel->RemoveButton, &QToolButton::clicked, this, [this] { RunGuarded([this] { RemovePoint(); }); });
    connect(PointsPanel->RoleButton, &QToolButton::clicked, this,
            [this] { RunGuarded([this] { SwitchPointRole(); }); });
    connect(PointsPanel->FindCornersButton, &QToolButton::clicked, this,
            [this] { RunGuarded([this] { FindCorners(); }); });
    connect(PointsPanel->TransformBox, &QComboBox::currentIndexChanged, this, [this] { TransformChosen(); });
    // Rotation is the similarity of the table: the two stay in step.
    connect(RotateCheck, &QCheckBox::toggled, this, [this](bool rotate) {
        const QString similarity = Text(std::string(SimilarityFitName));
        if (rotate)
            PointsPanel->SetTransform(similarity);
        else if (PointsPanel->Transform() == similarity)
            PointsPanel->SetTransform(Text(std::string(TwoPointFitName)));
        UpdatePointCheck();
    });

    if (Settings().value(kPointsShownKey).toBool())
        ShowPointsTable(true);
    UpdatePointCheck();
}

void TForm1::TransformChosen()
{
    const TFitMethod& method = FindFitMethod(PointsPanel->Transform().toStdString());
    RotateCheck->setChecked(method.Name == SimilarityFitName);
    PointsPanel->WarpCheck->setEnabled(!method.WorldFile);
    UpdatePointCheck();
}

void TForm1::ShowPointsTable(bool shown)
{
    {
        const QSignalBlocker quiet(PointsButton);
        PointsButton->setChecked(shown);
    }
    if (PointsPanel->isHidden() != shown)
        return;
    PointsPanel->setVisible(shown);
    LayOutPoints();
    QSettings settings = Settings();
    if (settings.value(kPointsShownKey).toBool() != shown)
        settings.setValue(kPointsShownKey, shown);
}

// The image area gives the points panel its room; a sheet seen whole stays so.
void TForm1::LayOutPoints()
{
    LayOut();
    if (ZoomLevel() == kZoomFit)
        ZoomTo(kZoomFit);
}

std::vector<TPointEntry> TForm1::PointEntries() const
{
    std::vector<TPointEntry> entries{
        {Label23->text(), Label21->text(), Edit16->text(), Edit17->text(), FPanelRoles[0]},
        {Label29->text(), Label27->text(), Edit18->text(), Edit19->text(), FPanelRoles[1]}};
    entries.insert(entries.end(), FMorePoints.begin(), FMorePoints.end());
    return entries;
}

void TForm1::SetPointEntries(std::vector<TPointEntry> entries)
{
    entries.resize(std::max<size_t>(entries.size(), 2));
    FHoldUpdates = true;
    struct TRelease {
        bool& Hold;
        ~TRelease() { Hold = false; }
    } release{FHoldUpdates};
    Label23->setText(LabelText(entries[0].Col));
    Label21->setText(LabelText(entries[0].Row));
    Label29->setText(LabelText(entries[1].Col));
    Label27->setText(LabelText(entries[1].Row));
    Edit16->setText(entries[0].East);
    Edit17->setText(entries[0].North);
    Edit18->setText(entries[1].East);
    Edit19->setText(entries[1].North);
    FPanelRoles[0] = entries[0].Role;
    FPanelRoles[1] = entries[1].Role;
    FMorePoints.assign(entries.begin() + 2, entries.end());
    FHoldUpdates = false;
    UpdatePointCheck();
    if (PointState > static_cast<int>(entries.size()))
        SelectPoint(static_cast<int>(entries.size()));
}

TControlPoints TForm1::ReadAllPoints() const
{
    TControlPoints points = ReadPanelPoints();
    points[0].Role = FPanelRoles[0];
    points[1].Role = FPanelRoles[1];
    for (size_t i = 0; i < FMorePoints.size(); ++i)
        points.push_back(ReadPointEntry(FMorePoints[i], static_cast<int>(i) + 3));
    return points;
}

void TForm1::SelectPoint(int number)
{
    PointState = number;
    RadioButton1->setChecked(number == 1);
    RadioButton2->setChecked(number == 2);
    PointsPanel->SelectRow(number - 1);
    UpdatePointCheck();
}

void TForm1::AddPoint()
{
    std::vector<TPointEntry> entries = PointEntries();
    entries.emplace_back();
    SetPointEntries(entries);
    SelectPoint(static_cast<int>(entries.size()));
}

void TForm1::RemovePoint()
{
    std::vector<TPointEntry> entries = PointEntries();
    if (PointState < 1 || PointState > static_cast<int>(entries.size()))
        return;
    entries.erase(entries.begin() + (PointState - 1));
    SetPointEntries(std::move(entries));
    SelectPoint(PointState);
}

void TForm1::SwitchPointRole()
{
    std::vector<TPointEntry> entries = PointEntries();
    if (PointState < 1 || PointState > static_cast<int>(entries.size()))
        return;
    TPointRole& role = entries[static_cast<size_t>(PointState - 1)].Role;
    role = role == TPointRole::Fitted ? TPointRole::Check : TPointRole::Fitted;
    SetPointEntries(std::move(entries));
}

void TForm1::PointEdited(int row, int column, const QString& text)
{
    std::vector<TPointEntry> entries = PointEntries();
    TPointEntry& entry = entries.at(static_cast<size_t>(row));
    switch (column) {
    case TPointsTableModel::coColumn:
    case TPointsTableModel::coRow: {
        double value = 0;
        if (!ReadPixelText(text, value)) {
            MessageService().Beep();
            return;
        }
        const QString shown = Text(FloatToStr(value, LocaleDecimalSeparator()));
        (column == TPointsTableModel::coColumn ? entry.Col : entry.Row) = shown;
        break;
    }
    case TPointsTableModel::coEast: entry.East = text; break;
    case TPointsTableModel::coNorth: entry.North = text; break;
    default: return;
    }
    SetPointEntries(std::move(entries));
}

void TForm1::PlacePoint(double col, double row)
{
    const QString colText = PixelText(col);
    const QString rowText = PixelText(row);
    if (PointState == 1) {
        Label21->setText(rowText);
        Label23->setText(colText);
        SelectPoint(2);
    } else if (PointState == 2) {
        Label27->setText(rowText);
        Label29->setText(colText);
        Edit16->setFocus();
    } else {
        TPointEntry& entry = FMorePoints.at(static_cast<size_t>(PointState - 3));
        entry.Col = colText;
        entry.Row = rowText;
        // The coordinates are typed next, in the table.
        PointsPanel->Table->setCurrentIndex(PointsPanel->Model->index(PointState - 1, TPointsTableModel::coEast));
        PointsPanel->Table->setFocus();
    }
    UpdatePointCheck();
}

// Markers, table and check from the points as they stand. The fit takes
// every complete point once points 1 and 2 are complete; a point still
// being placed or typed is left out until it is. The residuals show at
// once, the errors left out and the warnings once the background has them.
void TForm1::UpdatePointCheck()
{
    if (FHoldUpdates)
        return;
    ++FFitGeneration;
    const std::vector<TPointEntry> entries = PointEntries();
    std::vector<TPointRow> rows(entries.size());
    std::vector<TPointMarker> markers;
    for (size_t i = 0; i < entries.size(); ++i) {
        rows[i].Entry = entries[i];
        double col = 0, row = 0;
        if (ReadPixel(entries[i], col, row))
            markers.push_back({static_cast<int>(i) + 1, QPointF(col, row), entries[i].Role == TPointRole::Check,
                               static_cast<int>(i) + 1 == PointState});
    }
    Image1->SetMarkers(std::move(markers));

    FCursorModel.reset();
    bool assessing = false;
    if (Complete(entries[0]) && Complete(entries[1])) {
        try {
            TControlPoints points = ReadPanelPoints();
            points[0].Role = FPanelRoles[0];
            points[1].Role = FPanelRoles[1];
            std::vector<size_t> rowOf{0, 1};
            for (size_t i = 2; i < entries.size(); ++i)
                if (Complete(entries[i])) {
                    points.push_back(ReadPointEntry(entries[i], static_cast<int>(i) + 1));
                    rowOf.push_back(i);
                }
            const TSaveRequest request = BuildSaveRequest(points, ChosenOptions());
            FCursorModel = request.Fit.Model;
            // Map units of a degree or less need more decimals than metres.
            FCursorDecimals = std::hypot(request.Fit.Transform.A, request.Fit.Transform.D) < 0.01 ? 7 : 3;
            for (size_t j = 0; j < rowOf.size(); ++j)
                rows[rowOf[j]].Residual = request.Fit.Residuals[j];
            const bool twoPoints = request.Points.size() == 2 && (request.Fit.Method == TwoPointFitName ||
                                                                   request.Fit.Method == SimilarityFitName);
            if (twoPoints) {
                const TPointCheck check = CheckControlPoints(request.Points, request.Fit);
                QStringList lines;
                for (const auto& line : PointCheckLines(check))
                    lines << Text(line);
                ShowCheck(Text(PointCheckSummary(check)), lines.join(QLatin1Char('\n')), !check.Warnings.empty());
            } else {
                AssessInBackground(request, rowOf);
                assessing = true;
            }
        } catch (const Exception& error) {
            FCursorModel.reset();
            for (TPointRow& row : rows)
                row.Residual.reset();
            ShowCheck(Text(error.Message()), QString(), true);
        }
    } else {
        ShowCheck(QString(), QString(), false);
    }
    // While the background measures, the figures of the last measure stay
    // rather than flicker.
    const std::vector<TPointRow>& shown = PointsPanel->Model->Rows();
    if (assessing && shown.size() == rows.size())
        for (size_t i = 0; i < rows.size(); ++i)
            rows[i].LeftOut = shown[i].LeftOut;
    if (!assessing)
        FShownGeneration = FFitGeneration;
    const bool rowsChanged = shown.size() != rows.size();
    PointsPanel->Model->SetRows(std::move(rows));
    PointsPanel->SelectRow(PointState - 1);
    if (rowsChanged && !PointsPanel->isHidden())
        LayOutPoints();
}

void TForm1::ShowCheck(const QString& text, const QString& details, bool warning)
{
    CheckLabel->setText(text);
    CheckLabel->setToolTip(details);
    CheckLabel->setStyleSheet(warning ? WarningStyle : QString());
}

void TForm1::AssessInBackground(const TSaveRequest& request, const std::vector<size_t>& rowOf)
{
    const TImageSize size{Image1->Picture().Width(), Image1->Picture().Height()};
    FAssessment.Submit([this, generation = FFitGeneration, request, rowOf, size] {
        QString summary, details;
        std::vector<std::optional<double>> leftOut;
        bool warning = true;
        try {
            const TFitQuality quality = AssessFit(request.Fit, request.Points, size);
            summary = FitSummary(quality);
            details = FitDetails(request, quality);
            leftOut = quality.LeaveOneOut;
            warning = !quality.Warnings.empty();
        } catch (const std::exception& error) {
            summary = QString::fromStdString(error.what());
        }
        QMetaObject::invokeMethod(
            this,
            [=, this] {
                if (generation != FFitGeneration)
                    return;
                FShownGeneration = generation;
                ShowCheck(summary, details, warning);
                std::vector<TPointRow> rows = PointsPanel->Model->Rows();
                for (TPointRow& row : rows)
                    row.LeftOut.reset();
                for (size_t j = 0; j < leftOut.size() && j < rowOf.size(); ++j)
                    rows.at(rowOf[j]).LeftOut = leftOut[j];
                PointsPanel->Model->SetRows(std::move(rows));
            },
            Qt::QueuedConnection);
    });
}

bool TForm1::Assessing() const
{
    return FShownGeneration != FFitGeneration;
}
