#include "app/existing_georef_view.h"

#include "app/application.h"
#include "app/cursor_readout.h"
#include "app/fit_monitor.h"
#include "app/georef_bar.h"
#include "app/image_view.h"
#include "app/main_window.h"
#include "app/message_service.h"
#include "app/point_list.h"
#include "georef/coordinates.h"

#include <QCheckBox>

#include <algorithm>
#include <cmath>
#include <exception>

TExistingGeorefView::TExistingGeorefView(TForm1& form) : QObject(&form), FForm(form)
{
    connect(FForm.Points, &TPointList::placed, this, &TExistingGeorefView::Placed);
}

void TExistingGeorefView::Opened(const std::string& fileName)
{
    FGeoref.reset();
    FFilled.clear();
    try {
        FGeoref = ReadExistingGeoref(fileName);
    } catch (const std::exception& error) {
        // The picture is open all the same, without it.
        MessageService().ShowWarning(kApplicationTitle, QString::fromStdString(error.what()));
    }
    if (!FGeoref) {
        FForm.CursorPanel->SetExisting(std::nullopt, QString(), 3);
        return;
    }
    const TAffineTransform t = FGeoref->Affine();
    const int decimals = std::hypot(t.A, t.D) < 0.01 ? 7 : 3;
    const QString system = FGeoref->Crs.Given()
                               ? QString::fromStdString(FGeoref->Crs.Id() + " " + FGeoref->Crs.Name)
                               : QString();
    FForm.CursorPanel->SetExisting(t, system, decimals);
    if (FGeoref->Crs.Given())
        FForm.Bar->SetCrs(QString::fromStdString(FGeoref->Crs.Id()));
    const std::vector<TPointEntry>& entries = FForm.Points->Entries();
    if (std::all_of(entries.begin(), entries.end(), [](const TPointEntry& e) {
            return e.Col.trimmed().isEmpty() && e.Row.trimmed().isEmpty() && e.East.isEmpty() && e.North.isEmpty();
        }))
        StartPoints();
}

std::pair<QString, QString> TExistingGeorefView::MapTexts(double col, double row) const
{
    const TAffineTransform t = FGeoref->Affine();
    const char separator = LocaleDecimalSeparator();
    return {QString::fromStdString(FloatToStr(t.MapY(col, row), separator)),
            QString::fromStdString(FloatToStr(t.MapX(col, row), separator))};
}

// North up with square pixels, points 1 and 2 on the diagonal give it back
// with the two-point fit; anything else takes four points and the affine fit.
void TExistingGeorefView::StartPoints()
{
    const int width = FForm.Image1->Picture().Width(), height = FForm.Image1->Picture().Height();
    if (width < 2 || height < 2)
        return;
    const TAffineTransform t = FGeoref->Affine();
    const double left = std::round((width - 1) * 0.1), right = std::round((width - 1) * 0.9);
    const double top = std::round((height - 1) * 0.1), bottom = std::round((height - 1) * 0.9);
    std::vector<std::pair<double, double>> at = {{left, top}, {right, bottom}};
    const bool twoPoints = t.B == 0 && t.D == 0 && t.A == -t.E;
    if (!twoPoints) {
        at.push_back({right, top});
        at.push_back({left, bottom});
    }
    const char separator = LocaleDecimalSeparator();
    std::vector<TPointEntry> entries;
    for (const auto& [col, row] : at) {
        const auto [east, north] = MapTexts(col, row);
        entries.push_back({QString::fromStdString(FloatToStr(col, separator)),
                           QString::fromStdString(FloatToStr(row, separator)), east, north, TPointRole::Fitted});
        FFilled.push_back({east, north});
    }
    if (twoPoints)
        FForm.RotateCheck->setChecked(false);
    else
        FForm.Fit->SetTransform(QString::fromLatin1(AffineFitName.data(), AffineFitName.size()));
    FForm.Points->SetEntries(std::move(entries));
    FForm.SelectPoint(1);
    if (!twoPoints)
        FForm.ShowPointsTable(true);
}

void TExistingGeorefView::Placed(int number)
{
    if (!FGeoref || number < 1 || number > FForm.Points->Count())
        return;
    const int row = number - 1;
    const TPointEntry& entry = FForm.Points->At(row);
    if (FFilled.size() < size_t(FForm.Points->Count()))
        FFilled.resize(size_t(FForm.Points->Count()));
    const bool typed = !(entry.East.isEmpty() && entry.North.isEmpty()) &&
                       !(entry.East == FFilled[size_t(row)].first && entry.North == FFilled[size_t(row)].second);
    double col = 0, pixelRow = 0;
    if (typed || !ReadPixel(entry, col, pixelRow))
        return;
    const auto [east, north] = MapTexts(col, pixelRow);
    FFilled[size_t(row)] = {east, north};
    FForm.Points->SetEast(row, east);
    FForm.Points->SetNorth(row, north);
}
