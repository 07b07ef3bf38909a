#include "tools/report/residual_report_pdf.h"

#include "platform/bitmap.h"
#include "platform/exceptions.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int Dpi = 300;
constexpr int Margin = 170;   // device pixels, about 14 mm
const QColor Fitted(0, 90, 200);
const QColor Check(230, 120, 0);
const QColor Vector(200, 0, 0);

// Text needs a GUI application's fonts; the command line has none of its own.
std::unique_ptr<QGuiApplication> EnsureApplication()
{
    if (QCoreApplication::instance())
        return nullptr;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "pinwright-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// The sheet reduced to at most about 1200 pixels a side.
QImage Thumbnail(const TBitmap& bitmap)
{
    const int step = std::max(1, (std::max(bitmap.Width(), bitmap.Height()) + 1199) / 1200);
    const int w = bitmap.Width() / step, h = bitmap.Height() / step;
    QImage image(w, h, QImage::Format_RGB32);
    std::vector<uint32_t> row(static_cast<size_t>(bitmap.Width()));
    for (int y = 0; y < h; ++y) {
        bitmap.RowToARGB(y * step, 0, bitmap.Width(), row.data());
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            out[x] = row[static_cast<size_t>(x) * step] | 0xFF000000u;
    }
    return image;
}

void Arrow(QPainter& p, QPointF from, QPointF to)
{
    p.drawLine(from, to);
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    if (length < 8)
        return;
    const QPointF u = d / length, n(-u.y(), u.x());
    const double head = std::min(24.0, length / 3);
    QPainterPath path;
    path.moveTo(to);
    path.lineTo(to - u * head + n * head * 0.4);
    path.lineTo(to - u * head - n * head * 0.4);
    path.closeSubpath();
    p.fillPath(path, p.pen().color());
}

// 1, 2 or 5 times a power of ten, at most value.
double RoundDown(double value)
{
    const double power = std::pow(10, std::floor(std::log10(value)));
    for (const double step : {5.0, 2.0, 1.0})
        if (step * power <= value)
            return step * power;
    return power;
}

// The sheet with points and vectors in box; returns its bottom.
int DrawSheet(QPainter& p, const TResidualReport& report, const TBitmap* sheet, QRect box)
{
    if (report.Width <= 0 || report.Height <= 0)
        return box.top();
    const double scale = std::min(box.width() / double(report.Width), box.height() / double(report.Height));
    const QRectF area(box.left(), box.top(), report.Width * scale, report.Height * scale);
    if (sheet && !sheet->Empty()) {
        p.setOpacity(0.35);
        p.drawImage(area, Thumbnail(*sheet));
        p.setOpacity(1);
    }
    p.setPen(QPen(Qt::black, 3));
    p.drawRect(area);
    // Pixel centres are integers: pixel (0, 0) covers -0.5..0.5.
    auto at = [&](double col, double row) { return QPointF(area.left() + (col + 0.5) * scale, area.top() + (row + 0.5) * scale); };
    QFont small = p.font();
    small.setPointSizeF(6.5);
    p.setFont(small);
    for (const TReportRow& r : report.Rows) {
        const QPointF centre = at(r.Col, r.Row);
        if (std::isfinite(r.ResidualPixels)) {
            p.setPen(QPen(Vector, 5));
            Arrow(p, centre, at(r.Col + r.ResidualCol * report.VectorScale, r.Row + r.ResidualRow * report.VectorScale));
        }
        p.setPen(QPen(r.Check ? Check : Fitted, 4));
        if (r.Check)
            p.drawRect(QRectF(centre - QPointF(11, 11), QSizeF(22, 22)));
        else
            p.drawEllipse(centre, 12, 12);
        p.setPen(Qt::black);
        const std::string label = std::to_string(r.Id) +
                                  (r.Id == report.LargestId ? " (largest, " + ReportNumber("%.2f", r.ResidualPixels) + " px)" : "");
        p.drawText(centre + QPointF(16, -14), Text(label));
    }
    int y = int(area.bottom()) + 70;
    // The scale bar: a round residual that draws about 300 device pixels long.
    const double perPixel = report.VectorScale * scale;
    const double barPixels = RoundDown(300 / perPixel);
    p.setPen(QPen(Vector, 5));
    p.drawLine(QPointF(box.left(), y), QPointF(box.left() + barPixels * perPixel, y));
    p.setPen(Qt::black);
    QFont normal = p.font();
    normal.setPointSizeF(8);
    p.setFont(normal);
    p.drawText(QPointF(box.left() + barPixels * perPixel + 30, y + 12),
               Text("residual of " + ReportNumber("%g", barPixels) + " pixels; vectors drawn " +
                    ReportNumber("%g", report.VectorScale) + " times their length"));
    y += 60;
    p.setPen(QPen(Fitted, 4));
    p.drawEllipse(QPointF(box.left() + 12, y - 12), 12, 12);
    p.setPen(QPen(Check, 4));
    p.drawRect(QRectF(box.left() + 500, y - 23, 22, 22));
    p.setPen(Qt::black);
    p.drawText(QPointF(box.left() + 40, y), "fitted point");
    p.drawText(QPointF(box.left() + 540, y), "check point");
    return y + 40;
}

// Lines of text from y, a long one wrapped within the margins; returns the bottom.
int DrawLines(QPainter& p, const std::vector<std::string>& lines, int x, int y, double points)
{
    QFont font = p.font();
    font.setPointSizeF(points);
    p.setFont(font);
    const int width = p.device()->width() - x - Margin;
    const int gap = int(points * Dpi / 72 * 0.45);
    for (const std::string& line : lines) {
        QRect used;
        p.drawText(QRect(x, y + gap, width, 2000), Qt::TextWordWrap, Text(line), &used);
        y = used.bottom();
    }
    return y;
}

} // namespace

void WriteResidualReportPdf(const TResidualReport& report, const TBitmap* sheet, const std::string& fileName)
{
    const auto application = EnsureApplication();
    {
        QPdfWriter writer(Text(fileName));
        writer.setResolution(Dpi);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setTitle(Text("Residual report: " + report.Picture));
        writer.setCreator("Pinwright");
        QPainter p;
        if (!p.begin(&writer))
            throw Exception("Cannot write the report '" + fileName + "'");
        // Without ligatures, so that the PDF's text searches and copies as typed.
        QFont base = p.font();
        base.setStyleStrategy(QFont::PreferNoShaping);
        p.setFont(base);
        const int width = writer.width(), height = writer.height();
        QFont title = p.font();
        title.setPointSizeF(13);
        title.setBold(true);
        p.setFont(title);
        p.drawText(QPointF(Margin, Margin + 40), Text("Residual report: " + report.Picture));
        int fitted = 0, checks = 0;
        for (const TReportRow& r : report.Rows)
            (r.Check ? checks : fitted) += 1;
        int y = DrawLines(p, {"Transformation " + report.Method + ", " + std::to_string(fitted) + " fitted and " +
                                  std::to_string(checks) + " check points, picture " + std::to_string(report.Width) +
                                  " x " + std::to_string(report.Height) + " pixels"},
                          Margin, Margin + 60, 9);
        y = DrawSheet(p, report, sheet, QRect(Margin, y + 50, width - 2 * Margin, height / 2 - y));
        std::vector<std::string> lines = {"Parameters"};
        for (const TReportParameter& parameter : report.Parameters)
            lines.push_back("    " + parameter.Name + ": " + parameter.Value);
        lines.push_back("Root mean squares");
        for (const std::string& line : report.RmsLines)
            lines.push_back("    " + line);
        for (const std::string& warning : report.Warnings)
            lines.push_back("Warning: " + warning);
        y = DrawLines(p, lines, Margin, y + 20, 8.5);

        // The table, continued over as many pages as it needs.
        const char* const Heads[] = {"No.", "Role", "Column", "Row", "East", "North", "dE", "dN", "Map", "Pixels",
                                     "Left out"};
        const double Widths[] = {0.05, 0.07, 0.09, 0.09, 0.12, 0.12, 0.09, 0.09, 0.09, 0.09, 0.10};
        QFont font = p.font();
        font.setPointSizeF(6.5);
        const int step = int(6.5 * Dpi / 72 * 1.5);
        const std::string& map = report.MapFormat;
        auto row = [&](const std::vector<std::string>& cells, int at, bool bold) {
            font.setBold(bold);
            p.setFont(font);
            double x = Margin;
            for (size_t i = 0; i < cells.size(); ++i) {
                const double w = Widths[i] * (width - 2 * Margin);
                p.drawText(QRectF(x, at - step, w - 10, step), Qt::AlignRight | Qt::AlignVCenter, Text(cells[i]));
                x += w;
            }
        };
        y += 2 * step;
        if (y > height - Margin - 4 * step) {
            writer.newPage();
            y = Margin + step;
        }
        auto heads = [&] {
            row(std::vector<std::string>(std::begin(Heads), std::end(Heads)), y, true);
            y += step;
        };
        heads();
        for (const TReportRow& r : report.Rows) {
            if (y > height - Margin) {
                writer.newPage();
                y = Margin + step;
                heads();
            }
            const bool inPixels = std::isfinite(r.ResidualPixels);
            row({std::to_string(r.Id), r.Check ? "check" : "fitted", ReportNumber("%.3f", r.Col),
                 ReportNumber("%.3f", r.Row), ReportNumber(map, r.East), ReportNumber(map, r.North),
                 ReportNumber(map, r.ResidualEast), ReportNumber(map, r.ResidualNorth), ReportNumber(map, r.ResidualMap),
                 inPixels ? ReportNumber("%.3f", r.ResidualPixels) : "-",
                 r.LeftOut ? ReportNumber("%.3f", *r.LeftOut) : "-"},
                y, false);
            y += step;
        }
        DrawLines(p, {"dE, dN: the point's map coordinates minus the fit's, map units; Map and Pixels: their length; "
                      "Left out: the point's error in pixels when the fit is made without it."},
                  Margin, y, 6.5);
        if (!p.end())
            throw Exception("Cannot write the report '" + fileName + "'");
    }
    if (QFile(Text(fileName)).size() == 0)
        throw Exception("Cannot write the report '" + fileName + "'");
}
