// The main window's Find corners: the four corners of the sheet's map frame
// as points 1 to 4, found in the background while the window stays live.
// The user checks them in the magnifier, moves any, and types or loads their
// map coordinates.
#include "app/main_window.h"

#include "analysis/map_frame.h"
#include "app/application.h"
#include "app/image_view.h"
#include "app/message_service.h"
#include "app/points_panel.h"
#include "platform/exceptions.h"

#include <QApplication>
#include <QToolButton>

#include <algorithm>

void TForm1::FindCorners()
{
    if (FFindingCorners)
        return;
    // A picture that decodes when first drawn (a JPEG) decodes now, with its progress.
    Image1->DecodeNow();
    const TBitmap* bitmap = Image1->Bitmap();
    if (!bitmap || bitmap->Empty())
        throw Exception("There is no picture to find a map frame in: open a scan first");
    // The finder reads the bitmap: no other picture may replace it meanwhile.
    FFindingCorners = true;
    SpeedButton2->setEnabled(false);
    PointsPanel->FindCornersButton->setEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    StatusBar1->Panel(0)->setText(QStringLiteral("Finding the map frame..."));
    StatusBar1->Panel(0)->setToolTip(QString());
    FCornerFinder.Submit([this, bitmap] {
        TMapFrame frame;
        try {
            frame = FindMapFrame(*bitmap);
        } catch (const std::exception& error) {
            frame.Found = false;
            frame.Refusal = error.what();
        }
        QMetaObject::invokeMethod(
            this, [this, frame] { RunGuarded([&] { CornersFound(frame); }); }, Qt::QueuedConnection);
    });
}

void TForm1::CornersFound(const TMapFrame& frame)
{
    FFindingCorners = false;
    QApplication::restoreOverrideCursor();
    SpeedButton2->setEnabled(true);
    PointsPanel->FindCornersButton->setEnabled(true);
    if (!frame.Found) {
        StatusBar1->Panel(0)->setText(QStringLiteral("No map frame found"));
        MessageService().ShowMessage(QString::fromStdString(frame.Refusal));
        return;
    }
    std::vector<TPointEntry> entries = PointEntries();
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
    SetPointEntries(std::move(entries));
    ShowPointsTable(true);
    SelectPoint(1);
    StatusBar1->Panel(0)->setText(QStringLiteral("Corners, \u00b1%1 px").arg(std::max(worst, 0.01), 0, 'f', 2));
    StatusBar1->Panel(0)->setToolTip(where.join(QLatin1Char('\n')));
}
