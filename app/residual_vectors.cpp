#include "app/residual_vectors.h"

#include "app/fit_monitor.h"
#include "app/point_list.h"
#include "georef/residual_report.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <cmath>
#include <functional>

namespace {

constexpr double kHead = 7;        // arrowhead's sides, view pixels
constexpr double kBarLongest = 120; // the scale bar's longest, view pixels
constexpr int kMargin = 8;

const QColor kFittedInk(Qt::red);
const QColor kCheckInk(0, 80, 220); // as the markers

// 1, 2 or 5 times a power of ten, at most value.
double RoundAtMost(double value)
{
    const double power = std::pow(10, std::floor(std::log10(value)));
    for (const double step : {5.0, 2.0, 1.0})
        if (step * power <= value)
            return step * power;
    return power;
}

QString Number(double value)
{
    return QString::number(value, 'g', 6);
}

// A line with a white outline, so that it shows on any map.
void DrawOutlined(QPainter& painter, const QColor& ink, const std::function<void()>& draw)
{
    for (const auto& [colour, width] : {std::pair{QColor(Qt::white), 3.0}, std::pair{ink, 1.5}}) {
        painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        draw();
    }
}

void DrawArrow(QPainter& painter, QPointF from, QPointF to, const QColor& ink)
{
    const QPointF along = to - from;
    const double length = std::hypot(along.x(), along.y());
    DrawOutlined(painter, ink, [&] {
        painter.drawLine(from, to);
        if (length < 1)
            return;
        const QPointF back = along / length * kHead;
        const QPointF side(-back.y() * 0.5, back.x() * 0.5);
        painter.drawLine(to, to - back + side);
        painter.drawLine(to, to - back - side);
    });
}

} // namespace

TResidualVectors::TResidualVectors(TPointList& points, TFitMonitor& fit, TImageView& view, QObject* parent)
    : QObject(parent), FPoints(points), FFit(fit), FView(view), FViewAlive(&view)
{
    connect(&FFit, &TFitMonitor::updated, this, [this] {
        Measure();
        if (FShown)
            FView.update();
    });
    connect(&FView, &TImageView::pictureReplaced, this, &TResidualVectors::Measure);
    FView.installEventFilter(this);
    Measure();
}

// The view may be gone first, as a sibling of the window made before.
TResidualVectors::~TResidualVectors()
{
    if (FShown && FViewAlive)
        FView.RemoveCanvasItem(this);
}

void TResidualVectors::FollowPanel(QWidget* panel)
{
    FPanel = panel;
    if (!FPanel)
        return;
    FPanel->installEventFilter(this);
    SetShown(!FPanel->isHidden());
}

bool TResidualVectors::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &FView && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        MoveLegend();
    // Sent as the panel is shown or hidden, whether or not its window is.
    if (watched == FPanel && (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent))
        SetShown(!FPanel->isHidden());
    return QObject::eventFilter(watched, event);
}

void TResidualVectors::SetShown(bool shown)
{
    if (shown == FShown)
        return;
    FShown = shown;
    if (FShown)
        FView.AddCanvasItem(this);
    else
        FView.RemoveCanvasItem(this);
}

void TResidualVectors::Measure()
{
    FArrows.clear();
    const std::vector<TPointFigures>& figures = FFit.Figures();
    double largest = 0;
    size_t largestAt = 0;
    for (int row = 0; row < FPoints.Count() && row < static_cast<int>(figures.size()); ++row) {
        const auto& residual = figures[static_cast<size_t>(row)].Residual;
        double col = 0, pixelRow = 0;
        if (!residual || !std::isfinite(residual->Pixels) || !ReadPixel(FPoints.At(row), col, pixelRow))
            continue;
        TResidualArrow arrow;
        arrow.Number = row + 1;
        arrow.From = QPointF(col, pixelRow);
        arrow.To = QPointF(residual->Col, residual->Row);
        arrow.Check = FPoints.At(row).Role == TPointRole::Check;
        arrow.Pixels = residual->Pixels;
        if (arrow.Pixels > largest) {
            largest = arrow.Pixels;
            largestAt = FArrows.size();
        }
        FArrows.push_back(arrow);
    }
    const QSize size = FView.PictureSize();
    FScale = ResidualVectorScale(largest, size.width(), size.height());
    // A fit through every point (two points, a spline) leaves nothing to draw.
    if (largest <= 0) {
        FArrows.clear();
        return;
    }
    FArrows[largestAt].Largest = true;
    for (TResidualArrow& arrow : FArrows)
        arrow.To = arrow.From + arrow.To * FScale;
}

double TResidualVectors::BarPixels(double viewScale) const
{
    return RoundAtMost(kBarLongest / (FScale * viewScale));
}

QString TResidualVectors::Caption(double viewScale) const
{
    QString text = QStringLiteral("Residuals drawn %1 times: bar %2 px").arg(Number(FScale), Number(BarPixels(viewScale)));
    for (const TResidualArrow& arrow : FArrows)
        if (arrow.Largest)
            text += QStringLiteral("; largest %1 px, point %2").arg(QString::number(arrow.Pixels, 'f', 3)).arg(arrow.Number);
    return text;
}

QFont TResidualVectors::LegendFont() const
{
    QFont font = FView.font();
    font.setPixelSize(11);
    return font;
}

QRect TResidualVectors::LegendBox(const TImageView& view) const
{
    const QRect shown = view.visibleRegion().boundingRect();
    const QFontMetrics metrics(LegendFont());
    const double bar = BarPixels(view.Scale()) * FScale * view.Scale();
    const int width = std::max(metrics.horizontalAdvance(Caption(view.Scale())), static_cast<int>(std::ceil(bar))) + 8;
    const int height = metrics.height() + 14;
    return QRect(shown.left() + kMargin, shown.bottom() - kMargin - height, width, height);
}

// The legend stays in the corner of the part shown while the view scrolls:
// the copy scrolled along with the picture is painted over.
void TResidualVectors::MoveLegend()
{
    if (!FShown || FArrows.empty())
        return;
    FView.update(FLegend);
    FView.update(LegendBox(FView));
}

// The arrows over the picture, then the scale bar with its caption on a
// white ground in the lower left corner of the part shown.
void TResidualVectors::Paint(QPainter& painter, const TImageView& view) const
{
    if (FArrows.empty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);
    for (const TResidualArrow& arrow : FArrows)
        DrawArrow(painter, view.ViewOfPosition(arrow.From), view.ViewOfPosition(arrow.To),
                  arrow.Check ? kCheckInk : kFittedInk);

    const QString caption = Caption(view.Scale());
    const double bar = BarPixels(view.Scale()) * FScale * view.Scale();
    const QRect box = LegendBox(view);
    FLegend = box;
    painter.setFont(LegendFont());
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(255, 255, 255, 220));
    painter.drawRect(box);
    painter.drawText(box.adjusted(4, 2, -4, 0), Qt::AlignLeft | Qt::AlignTop, caption);
    const double y = box.bottom() - 5;
    const QPointF start(box.left() + 4, y);
    painter.setPen(QPen(kFittedInk, 2, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(start, start + QPointF(bar, 0));
    painter.setPen(QPen(Qt::black, 1));
    painter.drawLine(start + QPointF(0, -3), start + QPointF(0, 3));
    painter.drawLine(start + QPointF(bar, -3), start + QPointF(bar, 3));
    painter.restore();
}
