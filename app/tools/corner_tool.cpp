#include "app/tools/corner_tool.h"

#include "analysis/map_frame.h"
#include "analysis/printed_labels.h"
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
        TPrintedCorners printed;
        try {
            frame = FindMapFrame(bitmap);
            // The coordinates printed beside the corners, where they make
            // one sheet, for the user to confirm.
            if (frame.Found)
                printed = ReadPrintedCorners(bitmap, frame.Corners, THemisphere{});
        } catch (const std::exception& error) {
            if (!frame.Found)
                frame.Refusal = error.what();
            printed = {};
        }
        return [this, frame, printed] { Found(frame, printed); };
    };
}

namespace {

// Decimal degrees as the coordinate boxes show them.
QString DegreesText(double value)
{
    QString text = QString::number(value, 'f', 6);
    text.replace(QLatin1Char('.'), QLatin1Char(LocaleDecimalSeparator()));
    return text;
}

} // namespace

void TCornerTool::Found(const TMapFrame& frame, const TPrintedCorners& printed) const
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
    int read = 0;
    for (size_t i = 0; i < 4; ++i) {
        const TFrameCorner& corner = frame.Corners[i];
        entries[i].Col = PixelText(corner.Col);
        entries[i].Row = PixelText(corner.Row);
        entries[i].Role = TPointRole::Fitted;
        worst = std::max(worst, corner.Sigma);
        QString line = QStringLiteral("%1 %2, %3 \u00b1%4 px")
                           .arg(QString::fromLatin1(FrameCornerNames[i]), PixelText(corner.Col), PixelText(corner.Row))
                           .arg(corner.Sigma, 0, 'f', 2);
        // Read coordinates fill the boxes left blank, never a typed one.
        if (printed.Sheet && entries[i].East.trimmed().isEmpty() && entries[i].North.trimmed().isEmpty()) {
            entries[i].East = DegreesText(printed.X[i]);
            entries[i].North = DegreesText(printed.Y[i]);
            line += QStringLiteral(", read from the sheet: %1, %2 (to confirm)").arg(entries[i].East, entries[i].North);
            ++read;
        }
        where << line;
    }
    points.SetEntries(std::move(entries));
    Context().ShowPoints();
    points.Select(1);
    QString status = QStringLiteral("Corners, \u00b1%1 px").arg(std::max(worst, 0.01), 0, 'f', 2);
    if (read > 0)
        status += QStringLiteral("; coordinates read from the sheet's labels: confirm them");
    else if (!printed.Refusal.empty())
        where << QString::fromStdString(printed.Refusal);
    Context().Status(status, where.join(QLatin1Char('\n')));
}
