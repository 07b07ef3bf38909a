#include "app/tools/grid_tool.h"

#include "analysis/grid_finder.h"
#include "app/image_view.h"
#include "app/message_service.h"
#include "app/point_list.h"
#include "app/tools/grid_lattice.h"
#include "georef/coordinates.h"
#include "platform/exceptions.h"

#include <QStringList>

#include <cmath>
#include <map>

namespace {

// A point within this of a numbered crossing is that crossing.
constexpr double kSamePlace = 1.0;

QString MapText(double value, bool degrees)
{
    // Millimetres, or a hundred-millionth of a degree (about a millimetre).
    const double unit = degrees ? 1e8 : 1e3;
    return QString::fromStdString(FloatToStr(std::round(value * unit) / unit, LocaleDecimalSeparator()));
}

} // namespace

TGridTool::TGridTool(const TToolContext& context, QObject* parent)
    : TFinderTool(context, QStringLiteral("Grid"),
                  QStringLiteral("Numbers every crossing of the sheet's grid or graticule from the crossing just "
                                 "snapped, given its coordinates and the spacing, and places them all as points"),
                  parent),
      FLattice(std::make_unique<TGridLattice>(*context.Points, *context.View))
{
    Ask = [this](const TGridSettings& proposed, const QString& where) {
        return TGridDialog::Ask(proposed, where, Context().View->window());
    };
    connect(context.Points, &TPointList::placed, this, [this](int number) { FLastPlaced = number; });
}

TGridTool::~TGridTool() = default;

int TGridTool::KnownRow() const
{
    const TPointList& points = *Context().Points;
    for (const int number : {FLastPlaced, points.Selected()})
        if (number >= 1 && number <= points.Count() && Placed(points.At(number - 1)))
            return number - 1;
    for (int row = 0; row < points.Count(); ++row)
        if (Placed(points.At(row)))
            return row;
    return -1;
}

bool TGridTool::Prepare()
{
    const int row = KnownRow();
    if (row < 0)
        throw Exception("Snap one crossing of the grid first (a click on it with Snap on), then choose Grid");
    const TPointEntry& entry = Context().Points->At(row);
    TGridSettings proposed = FSettings;
    if (!entry.East.trimmed().isEmpty() || !entry.North.trimmed().isEmpty())
        proposed.East = entry.East.trimmed(), proposed.North = entry.North.trimmed();
    if (proposed.GridCrs.isEmpty() && Context().Crs)
        proposed.GridCrs = Context().Crs().trimmed();
    const std::optional<TGridSettings> answer =
        Ask(proposed, QStringLiteral("column %1, row %2 (point %3)").arg(entry.Col.trimmed(), entry.Row.trimmed()).arg(row + 1));
    if (!answer)
        return false;
    FSettings = *answer;

    TJob job;
    ReadPixel(entry, job.Column, job.Row);
    const QString workbenchCrs = Context().Crs ? Context().Crs().trimmed() : QString();
    job.GridCrs = LookupCrs((FSettings.GridCrs.isEmpty() ? workbenchCrs : FSettings.GridCrs).toStdString());
    job.Crs = workbenchCrs.isEmpty() ? job.GridCrs : LookupCrs(workbenchCrs.toStdString());
    const bool degrees = job.GridCrs.Geographic;
    job.Known = {ReadGridValue(FSettings.East.toStdString(), degrees), ReadGridValue(FSettings.North.toStdString(), degrees)};
    job.Spacing = ReadGridSpacing(FSettings.Spacing.toStdString(), degrees);
    FJob = job;
    return true;
}

TFinderTool::TSearch TGridTool::Search() const
{
    QObject* self = const_cast<TGridTool*>(this);
    return [this, self, job = FJob, status = Context().Status](const TBitmap& bitmap) -> TFound {
        TGridRequest request;
        request.Column = job.Column;
        request.Row = job.Row;
        request.StepRatio = GridStepRatio(job.Spacing, job.Known.Y, job.GridCrs.Geographic);
        const auto progress = [self, status](size_t crossings) {
            QMetaObject::invokeMethod(
                self,
                [status, crossings] {
                    status(QStringLiteral("Numbering the grid's crossings: %1 so far...").arg(crossings), QString());
                },
                Qt::QueuedConnection);
        };
        TGrid grid;
        std::vector<TMapXY> map;
        std::string error;
        try {
            grid = FindGrid(bitmap, request, progress);
            std::vector<TGridPlace> places;
            for (const TGridCrossing& c : grid.Crossings)
                places.push_back({c.East, c.North});
            if (grid.Found)
                map = GridMapCoordinates(places, job.Known, job.Spacing, job.GridCrs, job.Crs);
        } catch (const std::exception& failure) {
            error = failure.what();
        }
        return [this, grid, map, error] { const_cast<TGridTool*>(this)->Found(grid, map, error); };
    };
}

void TGridTool::Found(const TGrid& grid, const std::vector<TMapXY>& map, const std::string& error)
{
    if (!error.empty() || !grid.Found) {
        Context().Status(QStringLiteral("No grid numbered"), QString());
        MessageService().ShowMessage(QString::fromStdString(WithFullStop(error.empty() ? grid.Refusal : error)));
        return;
    }
    TPointList& points = *Context().Points;
    const bool degrees = FJob.Crs.Geographic;
    std::vector<TPointEntry> entries;
    std::vector<TGridLattice::TNode> nodes;
    for (size_t k = 0; k < grid.Crossings.size(); ++k) {
        const TGridCrossing& c = grid.Crossings[k];
        const TPointEntry entry{PixelText(c.Column), PixelText(c.Row), MapText(map[k].X, degrees),
                                MapText(map[k].Y, degrees), TPointRole::Fitted};
        nodes.push_back({c.East, c.North, int(k), entry.Col, entry.Row, QPointF(c.Column, c.Row)});
        entries.push_back(entry);
    }
    // The user's other points stay, after the crossings.
    for (const TPointEntry& entry : points.Entries()) {
        double col = 0, row = 0;
        const bool placed = ReadPixel(entry, col, row);
        if (!placed && entry.East.trimmed().isEmpty() && entry.North.trimmed().isEmpty())
            continue;
        bool onCrossing = false;
        for (const TGridCrossing& c : grid.Crossings)
            onCrossing = onCrossing || (placed && std::hypot(c.Column - col, c.Row - row) <= kSamePlace);
        if (!onCrossing)
            entries.push_back(entry);
    }
    points.SetEntries(std::move(entries));
    FLattice->Show(std::move(nodes));
    if (Context().Crs && Context().SetCrs && Context().Crs().trimmed().isEmpty() && FJob.GridCrs.Given())
        Context().SetCrs(QString::fromStdString(FJob.GridCrs.Id()));
    Context().ShowPoints();
    points.Select(1);

    std::map<TGridRefusal, int> refused;
    for (const TRefusedCrossing& r : grid.Refused)
        ++refused[r.Reason];
    QStringList tip;
    tip << QStringLiteral("Steps %1 pixels along the rows, %2 down the columns%3")
               .arg(grid.StepEast, 0, 'f', 2)
               .arg(grid.StepNorth, 0, 'f', 2)
               .arg(grid.Framed ? QStringLiteral(", inside the map frame") : QString());
    tip << QStringLiteral("Lines found: %1 of constant Y (east), %2 of constant X (north)")
               .arg(grid.LinesEast)
               .arg(grid.LinesNorth);
    for (const auto& [reason, count] : refused)
        tip << QStringLiteral("%1 refused: %2").arg(count).arg(QString::fromLatin1(GridRefusalText(reason)));
    Context().Status(QStringLiteral("Grid: %1 crossings numbered, %2 refused").arg(grid.Crossings.size()).arg(grid.Refused.size()),
                     tip.join(QLatin1Char('\n')));
}
