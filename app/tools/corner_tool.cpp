#include "app/tools/corner_tool.h"

#include "analysis/map_frame.h"
#include "app/message_service.h"
#include "app/point_list.h"

#include <QStringList>

#include <algorithm>

TCornerTool::TCornerTool(const TToolContext& context, QObject* parent)
    : TFinderTool(context, QStringLiteral("Find corners"),
                  QStringLiteral("Finds the four corners of the map frame and places them as points 1 to 4: "
                                 "upper left, upper right, lower right, lower left"),
                  parent)
{
}

TFinderTool::TSearch TCornerTool::Search() const
{
    return [this](const TBitmap& bitmap) -> TFound {
        TMapFrame frame;
        try {
            frame = FindMapFrame(bitmap);
        } catch (const std::exception& error) {
            frame.Found = false;
            frame.Refusal = error.what();
        }
        return [this, frame] { Found(frame); };
    };
}

void TCornerTool::Found(const TMapFrame& frame) const
{
    if (!frame.Found) {
        Context().Status(QStringLiteral("No map frame found"), QString());
        MessageService().ShowMessage(QString::fromStdString(frame.Refusal));
        return;
    }
    TPointList& points = *Context().Points;
    std::vector<TPointEntry> entries = points.Entries();
    entries.resize(std::max<size_t>(entries.size(), 4));
    QStringList where;
    double worst = 0;
    for (size_t i = 0; i < 4; ++i) {
        const TFrameCorner& corner = frame.Corners[i];
        entries[i].Col = PixelText(corner.Col);
        entries[i].Row = PixelText(corner.Row);
        entries[i].Role = TPointRole::Fitted;
        worst = std::max(worst, corner.Sigma);
        where << QStringLiteral("%1 %2, %3 \u00b1%4 px")
                     .arg(QString::fromLatin1(FrameCornerNames[i]), PixelText(corner.Col), PixelText(corner.Row))
                     .arg(corner.Sigma, 0, 'f', 2);
    }
    points.SetEntries(std::move(entries));
    Context().ShowPoints();
    points.Select(1);
    Context().Status(QStringLiteral("Corners, \u00b1%1 px").arg(std::max(worst, 0.01), 0, 'f', 2),
                     where.join(QLatin1Char('\n')));
}
