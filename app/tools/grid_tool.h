#pragma once
// Grid: every crossing of the sheet's printed grid or graticule as a
// point, numbered from the crossing the user snapped. A small dialog asks
// for that crossing's coordinates, the spacing and the grid's system; the
// finder (analysis/grid_finder.h) runs in the background, the status bar
// counting the crossings found, and then the points table holds every
// numbered crossing, the known one as point 1, with its coordinates from
// its place (converted into the workbench's system when the grid's
// differs). Points that lie on none of the crossings stay after them. The
// view shows the numbered lattice.
#include "app/tools/finder_tool.h"
#include "app/tools/grid_dialog.h"
#include "georef/crs.h"
#include "georef/grid_numbering.h"

#include <functional>
#include <memory>
#include <optional>

struct TGrid;
class TGridLattice;

class TGridTool : public TFinderTool {
    Q_OBJECT
public:
    explicit TGridTool(const TToolContext& context, QObject* parent = nullptr);
    ~TGridTool() override;

    // Asks for the settings, given those proposed and the crossing's pixel
    // as text; nothing: cancelled. The dialog by default.
    std::function<std::optional<TGridSettings>(const TGridSettings& proposed, const QString& where)> Ask;
    const TGridLattice& Lattice() const { return *FLattice; }

protected:
    bool Prepare() override;
    TSearch Search() const override;
    QString BusyText() const override { return QStringLiteral("Numbering the grid's crossings..."); }
    QString NoPictureText() const override
    {
        return QStringLiteral("There is no picture to number a grid in: open a scan first");
    }

private:
    // The point the user snapped on a crossing, as a row; -1: none placed.
    int KnownRow() const;
    void Found(const TGrid& grid, const std::vector<TMapXY>& map, const std::string& error);

    struct TJob {
        double Column = 0, Row = 0;
        TMapXY Known;
        TGridSpacing Spacing;
        TCrs GridCrs, Crs;
    };
    TJob FJob;
    TGridSettings FSettings;
    int FLastPlaced = 0; // the point a click placed last, from 1
    std::unique_ptr<TGridLattice> FLattice;
};
