#include "app/fit_monitor.h"

#include "app/point_list.h"
#include "georef/fit_report.h"
#include "georef/point_check.h"
#include "platform/exceptions.h"

#include <QStringList>

#include <cmath>

namespace {

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
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

// Two points fitted exactly get the check of the two points (their
// distances and scale) instead of residuals, which are zero.
bool ChecksTwoPoints(const TSaveRequest& request)
{
    return request.Points.size() == 2 && FindFitMethod(request.Fit.Method).FirstTwoOnly;
}

} // namespace

TFitMonitor::TFitMonitor(TPointList& points, QObject* parent)
    : QObject(parent), FPoints(points), FTransform(Text(std::string(DefaultFitMethod().Name)))
{
    connect(&FPoints, &TPointList::changed, this, &TFitMonitor::Update);
}

void TFitMonitor::SetTransform(const QString& name)
{
    if (name == FTransform)
        return;
    FTransform = name;
    emit settingsChanged();
    Update();
}

void TFitMonitor::SetNegate(bool negate)
{
    FNegate = negate;
    Update();
}

bool TFitMonitor::WarpPossible() const
{
    return !FindFitMethod(FTransform.toStdString()).WorldFile;
}

TGeorefOptions TFitMonitor::Options() const
{
    TGeorefOptions options;
    options.Transform = FTransform.toStdString();
    options.Negate = FNegate;
    options.Warp = FWarp && WarpPossible();
    return options;
}

void TFitMonitor::Update()
{
    ++FGeneration;
    FAssessing = false;
    std::vector<TPointFigures> figures(static_cast<size_t>(FPoints.Count()));
    Fit(figures);
    // While the background measures, the figures of the last measure stay
    // rather than flicker.
    if (FAssessing && FFigures.size() == figures.size())
        for (size_t i = 0; i < figures.size(); ++i)
            figures[i].LeftOut = FFigures[i].LeftOut;
    if (!FAssessing)
        FShownGeneration = FGeneration;
    FFigures = std::move(figures);
    emit updated();
}

void TFitMonitor::Fit(std::vector<TPointFigures>& figures)
{
    FModel.reset();
    try {
        std::vector<size_t> rowOf;
        const TControlPoints points = FPoints.ReadComplete(rowOf);
        if (points.empty()) {
            Show(QString(), QString(), false);
            return;
        }
        const TSaveRequest request = BuildSaveRequest(points, Options());
        FModel = request.Fit.Model;
        // Map units of a degree or less need more decimals than metres.
        FMapDecimals = std::hypot(request.Fit.Transform.A, request.Fit.Transform.D) < 0.01 ? 7 : 3;
        for (size_t j = 0; j < rowOf.size(); ++j)
            figures[rowOf[j]].Residual = request.Fit.Residuals[j];
        if (ChecksTwoPoints(request)) {
            const TPointCheck check = CheckControlPoints(request.Points, request.Fit);
            QStringList lines;
            for (const auto& line : PointCheckLines(check))
                lines << Text(line);
            Show(Text(PointCheckSummary(check)), lines.join(QLatin1Char('\n')), !check.Warnings.empty());
        } else {
            AssessInBackground(request, rowOf);
            FAssessing = true;
        }
    } catch (const Exception& error) {
        FModel.reset();
        for (TPointFigures& row : figures)
            row.Residual.reset();
        Show(Text(error.Message()), QString(), true);
    }
}

void TFitMonitor::Show(const QString& summary, const QString& details, bool warning)
{
    FSummary = summary;
    FDetails = details;
    FWarning = warning;
}

void TFitMonitor::AssessInBackground(const TSaveRequest& request, const std::vector<size_t>& rowOf)
{
    const TImageSize size = ImageSize ? ImageSize() : TImageSize{};
    FAssessment.Submit([this, generation = FGeneration, request, rowOf, size] {
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
                if (generation != FGeneration)
                    return;
                FShownGeneration = generation;
                Show(summary, details, warning);
                for (TPointFigures& row : FFigures)
                    row.LeftOut.reset();
                for (size_t j = 0; j < leftOut.size() && j < rowOf.size(); ++j)
                    FFigures.at(rowOf[j]).LeftOut = leftOut[j];
                emit updated();
            },
            Qt::QueuedConnection);
    });
}
