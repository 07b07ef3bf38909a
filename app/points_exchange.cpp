#include "app/points_exchange.h"

#include "app/fit_monitor.h"
#include "app/georef_bar.h"
#include "app/image_view.h"
#include "app/main_window.h"
#include "app/message_service.h"
#include "app/point_list.h"
#include "georef/coordinates.h"
#include "georef/points_formats.h"
#include "georef/points_on_picture.h"
#include "georef/save_request.h"
#include "platform/exceptions.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

bool LoadExchangedPoints(TForm1& form, const std::string& fileName)
{
    const TPointsFormat format = PointsFormatOrGcp(fileName);
    if (format == TPointsFormat::Gcp)
        return false;
    // Longitudes and latitudes come into the system of the bar when it names one.
    const TCrs crs = form.Bar->CurrentCrs();
    const TGcpPoints file = ReadPoints(format, fileName, crs);
    if (file.Points.size() < 2)
        throw Exception("The point file '" + fileName + "' holds fewer than two points");
    // Nothing changes when a point is refused.
    const std::vector<std::string> warnings = CheckLoadedPoints(form, file, fileName);
    const char separator = LocaleDecimalSeparator();
    auto show = [separator](double value) { return QString::fromStdString(FloatToStr(value, separator)); };
    std::vector<TPointEntry> entries;
    for (const TControlPoint& p : file.Points)
        entries.push_back({show(p.Col), show(p.Row), show(p.East), show(p.North), p.Role});
    if (!crs.Given() && file.Crs.Given())
        form.Bar->SetCrs(QString::fromStdString(file.Crs.Id()));
    if (!file.Transform.empty())
        form.Fit->SetTransform(QString::fromStdString(file.Transform));
    form.Points->SetEntries(std::move(entries));
    if (file.Points.size() > 2)
        form.ShowPointsTable(true);
    ShowOutsideWarnings(warnings);
    return true;
}

std::vector<std::string> CheckLoadedPoints(const TForm1& form, const TGcpPoints& file, const std::string& fileName)
{
    const QSize size = form.Image1->PictureSize();
    if (size.isEmpty())
        return {};
    return CheckPointsOnPicture(file, fileName, size.width(), size.height(), false, "");
}

void ShowOutsideWarnings(const std::vector<std::string>& warnings)
{
    if (warnings.empty())
        return;
    QStringList lines;
    for (const std::string& warning : warnings)
        lines << QString::fromStdString(warning);
    MessageService().ShowWarning(QStringLiteral("Points outside the picture"), lines.join(QLatin1Char('\n')));
}

std::string SavedPointsText(const TForm1& form, const TSaveRequest& request)
{
    const TPointsFormat format = PointsFormatOrGcp(request.TargetFileName);
    if ((format == TPointsFormat::Annotation || format == TPointsFormat::Csv) && !request.Crs.Given())
        throw Exception("Points in WGS 84 need the system of the points to convert from: enter it under System");
    const QSize size = form.Image1->PictureSize();
    const TPointsPicture picture{
        QFile::encodeName(QFileInfo(form.OpenDialog1.FileName).absoluteFilePath()).toStdString(), size.width(),
        size.height()};
    return PointsText(format, request.Points, request.Crs, request.Fit.Method, picture, &request.Fit);
}
