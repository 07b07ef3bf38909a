#include "app/cursor_readout.h"

#include "app/fit_monitor.h"

#include <QLocale>

namespace {

QString Number(double value, int decimals)
{
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

} // namespace

TCursorReadout::TCursorReadout(TFitMonitor& fit, QWidget* parent) : QLabel(parent), FFit(fit)
{
    setIndent(2);
}

void TCursorReadout::Show(int x, int y)
{
    QString text = QStringLiteral("x %1, y %2").arg(x).arg(y);
    if (const TFitModelPtr model = FFit.Model()) {
        const TMapPosition at = model->Map(x, y);
        const int decimals = FFit.MapDecimals();
        text += QStringLiteral("   Y %1, X %2").arg(Number(at.East, decimals), Number(at.North, decimals));
    } else if (FExisting) {
        const int decimals = FExistingDecimals;
        text += QStringLiteral("   Y %1, X %2").arg(Number(FExisting->MapY(x, y), decimals),
                                                    Number(FExisting->MapX(x, y), decimals));
    }
    // The points started from the picture's own georeferencing, in its system.
    if (FExisting && !FExistingName.isEmpty() && text.contains(QLatin1Char('Y')))
        text += QStringLiteral("   ") + FExistingName;
    setText(text);
}

void TCursorReadout::SetExisting(std::optional<TAffineTransform> transform, const QString& name, int decimals)
{
    FExisting = transform;
    FExistingName = name;
    FExistingDecimals = decimals;
}
