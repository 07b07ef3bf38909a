#pragma once
// Find corners: the four corners of the sheet's map frame as points 1 to 4
// (upper left, upper right, lower right, lower left), keeping the map
// coordinates those points have. Where the sheet prints its corners'
// coordinates and they make one sheet, they fill the coordinate boxes left
// blank, and the status says they were read, for the user to confirm. The
// user checks them in the magnifier, moves any, and types or loads the rest.
#include "app/tools/finder_tool.h"

struct TMapFrame;
struct TPrintedCorners;

class TCornerTool : public TFinderTool {
    Q_OBJECT
public:
    explicit TCornerTool(const TToolContext& context, QObject* parent = nullptr);

protected:
    TSearch Search() const override;
    QString BusyText() const override { return QStringLiteral("Finding the map frame..."); }
    QString NoPictureText() const override
    {
        return QStringLiteral("There is no picture to find a map frame in: open a scan first");
    }

private:
    void Found(const TMapFrame& frame, const TPrintedCorners& printed) const;
};
