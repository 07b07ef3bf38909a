#include "app/point_entries.h"

#include "georef/coordinates.h"
#include "platform/exceptions.h"

#include <QLocale>

#include <cmath>

char LocaleDecimalSeparator()
{
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 0x80 ? static_cast<char>(point[0].unicode()) : '.';
}

QString PixelText(double value)
{
    const double rounded = std::round(value * 100) / 100 + 0.0;
    if (rounded == std::floor(rounded))
        return QString::number(static_cast<qlonglong>(rounded));
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(rounded, 'f', QLocale::FloatingPointShortest);
}

bool ReadPixelText(const QString& text, double& value)
{
    const std::string typed = text.toStdString();
    for (const char separator : {LocaleDecimalSeparator(), '.'}) {
        try {
            value = StrToFloat(typed, separator);
            return std::isfinite(value);
        } catch (const Exception&) {
        }
    }
    return false;
}

bool ReadPixel(const TPointEntry& entry, double& col, double& row)
{
    try {
        col = StrToFloat(entry.Col.toStdString(), LocaleDecimalSeparator());
        row = StrToFloat(entry.Row.toStdString(), LocaleDecimalSeparator());
        return true;
    } catch (const Exception&) {
        return false;
    }
}

bool Placed(const TPointEntry& entry)
{
    double col = 0, row = 0;
    return ReadPixel(entry, col, row);
}

bool Complete(const TPointEntry& entry)
{
    return Placed(entry) && !entry.East.isEmpty() && !entry.North.isEmpty();
}

TControlPoint ReadPointEntry(const TPointEntry& entry, int id)
{
    TControlPoint point;
    if (!ReadPixel(entry, point.Col, point.Row))
        throw Exception("Point " + std::to_string(id) + " is not placed on the picture");
    point.Id = id;
    point.East = ReadMapCoordinate(entry.East.toStdString());
    point.North = ReadMapCoordinate(entry.North.toStdString());
    point.Role = entry.Role;
    return point;
}
