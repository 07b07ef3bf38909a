#include "app/tools/grid_lattice.h"

#include "app/point_list.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <map>
#include <utility>

namespace {

// Labels need this many view pixels between crossings to be read.
constexpr double kLabelRoom = 36;
const QColor kLatticeInk(0, 130, 60);

} // namespace

TGridLattice::TGridLattice(TPointList& points, TImageView& view, QObject* parent)
    : QObject(parent), FPoints(points), FView(view)
{
    FView.AddCanvasItem(this);
    connect(&FView, &TImageView::pictureReplaced, this, &TGridLattice::Clear);
    connect(&FPoints, &TPointList::changed, &FView, qOverload<>(&QWidget::update));
}

TGridLattice::~TGridLattice()
{
    FView.RemoveCanvasItem(this);
}

void TGridLattice::Show(std::vector<TNode> nodes)
{
    FNodes = std::move(nodes);
    FView.update();
}

void TGridLattice::Clear()
{
    FNodes.clear();
    FView.update();
}

std::vector<TGridLattice::TNode> TGridLattice::Shown() const
{
    std::vector<TNode> shown;
    for (const TNode& node : FNodes)
        if (node.PointRow < FPoints.Count() && FPoints.At(node.PointRow).Col == node.Col &&
            FPoints.At(node.PointRow).Row == node.Row)
            shown.push_back(node);
    return shown;
}

void TGridLattice::Paint(QPainter& painter, const TImageView& view) const
{
    const std::vector<TNode> shown = Shown();
    if (shown.empty())
        return;
    std::map<std::pair<int, int>, QPointF> at;
    for (const TNode& node : shown)
        at[{node.East, node.North}] = view.ViewOfPosition(node.Pixel);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QColor line = kLatticeInk;
    line.setAlpha(150);
    painter.setPen(QPen(line, 1));
    double step = 0;
    int steps = 0;
    for (const auto& [place, p] : at)
        for (const std::pair<int, int>& next : {std::pair{place.first + 1, place.second}, std::pair{place.first, place.second + 1}}) {
            const auto n = at.find(next);
            if (n == at.end())
                continue;
            painter.drawLine(p, n->second);
            step += std::hypot(n->second.x() - p.x(), n->second.y() - p.y());
            ++steps;
        }
    if (steps == 0 || step / steps >= kLabelRoom) {
        QFont font = painter.font();
        font.setPixelSize(10);
        font.setBold(false);
        const QRect visible = view.visibleRegion().boundingRect();
        for (const auto& [place, p] : at) {
            if (!visible.adjusted(-40, -20, 40, 20).contains(p.toPoint()))
                continue;
            QPainterPath path;
            path.addText(p + QPointF(4, 13), font, QStringLiteral("%1,%2").arg(place.first).arg(place.second));
            painter.strokePath(path, QPen(Qt::white, 3));
            painter.fillPath(path, kLatticeInk);
        }
    }
    painter.restore();
}
