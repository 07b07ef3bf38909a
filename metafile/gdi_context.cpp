#include "metafile/gdi_context.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>

namespace {

enum : uint32_t {
    PS_SOLID = 0, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME, PS_USERSTYLE, PS_ALTERNATE,
    PS_STYLE_MASK = 0x0F,
    PS_ENDCAP_SQUARE = 0x100, PS_ENDCAP_FLAT = 0x200, PS_ENDCAP_MASK = 0xF00,
    PS_JOIN_BEVEL = 0x1000, PS_JOIN_MITER = 0x2000, PS_JOIN_MASK = 0xF000,
};
enum : uint32_t { BS_SOLID = 0, BS_NULL, BS_HATCHED, BS_PATTERN, BS_INDEXED, BS_DIBPATTERN, BS_DIBPATTERNPT };
enum : uint32_t { ETO_OPAQUE = 2, ETO_CLIPPED = 4 };
enum : uint32_t { TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_HMASK = 6, TA_BOTTOM = 8, TA_BASELINE = 24,
                  TA_VMASK = 24 };
enum : uint32_t {
    SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086, SRCAND = 0x008800C6, SRCINVERT = 0x00660046,
    NOTSRCCOPY = 0x00330008, PATCOPY = 0x00F00021, PATINVERT = 0x005A0049, DSTINVERT = 0x00550009,
    BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062, NOP_ROP = 0x00AA0029,
};
constexpr int R2_NOP = 11;
constexpr int OPAQUE = 2;
constexpr int HALFTONE = 4;
// The painter's default when a font gives no height: GDI's 12-point system size.
constexpr double DefaultFontPixels = 16;

bool Finite(const QTransform& t)
{
    const double v[] = {t.m11(), t.m12(), t.m13(), t.m21(), t.m22(), t.m23(), t.m31(), t.m32(), t.m33()};
    return std::all_of(std::begin(v), std::end(v), [](double x) { return std::isfinite(x) && std::fabs(x) < 1e7; });
}

QPainter::CompositionMode RopMode(int rop2)
{
    switch (rop2) {
    case 1: return QPainter::RasterOp_ClearDestination;
    case 2: return QPainter::RasterOp_NotSourceAndNotDestination;
    case 3: return QPainter::RasterOp_NotSourceAndDestination;
    case 4: return QPainter::RasterOp_NotSource;
    case 5: return QPainter::RasterOp_SourceAndNotDestination;
    case 6: return QPainter::RasterOp_NotDestination;
    case 7: return QPainter::RasterOp_SourceXorDestination;
    case 8: return QPainter::RasterOp_NotSourceOrNotDestination;
    case 9: return QPainter::RasterOp_SourceAndDestination;
    case 10: return QPainter::RasterOp_NotSourceXorDestination;
    case 12: return QPainter::RasterOp_NotSourceOrDestination;
    case 14: return QPainter::RasterOp_SourceOrNotDestination;
    case 15: return QPainter::RasterOp_SourceOrDestination;
    case 16: return QPainter::RasterOp_SetDestination;
    default: return QPainter::CompositionMode_SourceOver;
    }
}

// Length of the transformed unit vectors: how many image pixels one logical
// unit is along x and along y.
double ScaleX(const QTransform& t)
{
    return std::hypot(t.m11(), t.m12());
}
double ScaleY(const QTransform& t)
{
    return std::hypot(t.m21(), t.m22());
}

// A rectangle of whole image pixels, right and bottom edges excluded as GDI does.
QRect PixelRect(const QRectF& r)
{
    const QRectF n = r.normalized();
    if (!std::isfinite(n.left()) || !std::isfinite(n.top()) || !std::isfinite(n.right()) ||
        !std::isfinite(n.bottom()))
        return {};
    const auto clampInt = [](double v) { return static_cast<int>(std::clamp(std::round(v), -1e9, 1e9)); };
    const int left = clampInt(n.left());
    const int top = clampInt(n.top());
    const int right = clampInt(n.right());
    const int bottom = clampInt(n.bottom());
    if (right <= left || bottom <= top)
        return {};
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

} // namespace

TGdiContext::TGdiContext(QImage& image, bool antialiased)
    : FImage(image), FAntialiased(antialiased),
      FTextAvailable(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
{
    FImage.fill(Qt::white);
    FPainter.begin(&FImage);
}

TGdiContext::~TGdiContext()
{
    FPainter.end();
}

void TGdiContext::SetDevice(double unitsPerMmX, double unitsPerMmY, const QTransform& deviceToImage)
{
    FUnitsPerMmX = unitsPerMmX;
    FUnitsPerMmY = unitsPerMmY;
    FDeviceToImage = deviceToImage;
}

// ---- mapping ---------------------------------------------------------------

void TGdiContext::SetMapMode(int mode)
{
    if (mode >= MM_TEXT && mode <= MM_ANISOTROPIC)
        S.MapMode = mode;
}

void TGdiContext::SetWindowOrg(double x, double y)
{
    S.WindowOrg = {x, y};
}

void TGdiContext::SetViewportOrg(double x, double y)
{
    S.ViewportOrg = {x, y};
}

namespace {
// Extents are whole numbers that fit 32 bits; zero would divide by zero.
bool ValidExtent(double& x, double& y)
{
    x = std::trunc(x);
    y = std::trunc(y);
    const auto fits = [](double v) { return v != 0 && std::fabs(v) <= double(INT32_MAX); };
    return fits(x) && fits(y);
}
} // namespace

// Extents only count in the two scalable modes.
void TGdiContext::SetWindowExt(double x, double y)
{
    if (ValidExtent(x, y) && (S.MapMode == MM_ISOTROPIC || S.MapMode == MM_ANISOTROPIC))
        S.WindowExt = {x, y};
}

void TGdiContext::SetViewportExt(double x, double y)
{
    if (ValidExtent(x, y) && (S.MapMode == MM_ISOTROPIC || S.MapMode == MM_ANISOTROPIC))
        S.ViewportExt = {x, y};
}

void TGdiContext::OffsetWindowOrg(double dx, double dy)
{
    S.WindowOrg += QPointF(dx, dy);
}

void TGdiContext::OffsetViewportOrg(double dx, double dy)
{
    S.ViewportOrg += QPointF(dx, dy);
}

void TGdiContext::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom != 0 && yDenom != 0)
        SetWindowExt(S.WindowExt.x() * xNum / xDenom, S.WindowExt.y() * yNum / yDenom);
}

void TGdiContext::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom != 0 && yDenom != 0)
        SetViewportExt(S.ViewportExt.x() * xNum / xDenom, S.ViewportExt.y() * yNum / yDenom);
}

void TGdiContext::ModifyWorldTransform(const QTransform& transform, int mode)
{
    QTransform result;
    switch (mode) {
    case 1: break;
    case 2: result = transform * S.World; break;
    case 3: result = S.World * transform; break;
    case 4: result = transform; break;
    default: return;
    }
    if (Finite(result) && std::fabs(result.determinant()) > 1e-12)
        S.World = result;
}

QTransform TGdiContext::PageTransform() const
{
    double sx = 1;
    double sy = 1;
    switch (S.MapMode) {
    case MM_LOMETRIC: sx = 0.1 * FUnitsPerMmX; sy = -0.1 * FUnitsPerMmY; break;
    case MM_HIMETRIC: sx = 0.01 * FUnitsPerMmX; sy = -0.01 * FUnitsPerMmY; break;
    case MM_LOENGLISH: sx = 0.254 * FUnitsPerMmX; sy = -0.254 * FUnitsPerMmY; break;
    case MM_HIENGLISH: sx = 0.0254 * FUnitsPerMmX; sy = -0.0254 * FUnitsPerMmY; break;
    case MM_TWIPS: sx = 25.4 / 1440 * FUnitsPerMmX; sy = -25.4 / 1440 * FUnitsPerMmY; break;
    case MM_ISOTROPIC:
    case MM_ANISOTROPIC:
        sx = S.ViewportExt.x() / S.WindowExt.x();
        sy = S.ViewportExt.y() / S.WindowExt.y();
        if (S.MapMode == MM_ISOTROPIC) {
            const double m = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    default: break;
    }
    return QTransform(sx, 0, 0, sy, S.ViewportOrg.x() - S.WindowOrg.x() * sx,
                      S.ViewportOrg.y() - S.WindowOrg.y() * sy);
}

QTransform TGdiContext::LogicalToImage() const
{
    return S.World * PageTransform() * FDeviceToImage;
}

// ---- state stack -------------------------------------------------------------

void TGdiContext::SaveDC()
{
    // Deep enough for any real drawing; beyond it a save is refused as GDI
    // refuses one when out of memory.
    constexpr size_t MaxSavedStates = 4096;
    if (FSaved.size() < MaxSavedStates)
        FSaved.push_back(S);
}

void TGdiContext::RestoreDC(int relative)
{
    const int64_t depth = static_cast<int64_t>(FSaved.size());
    const int64_t target = relative < 0 ? depth + relative : int64_t(relative) - 1;
    if (target < 0 || target >= depth)
        return;
    S = FSaved[static_cast<size_t>(target)];
    FSaved.resize(static_cast<size_t>(target));
}

QColor TGdiContext::Color(uint32_t colorRef) const
{
    if ((colorRef >> 24) == 1) {
        const size_t index = colorRef & 0xFFFF;
        return index < Palette.size() ? QColor(Palette[index]) : QColor(Qt::black);
    }
    return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF);
}

// ---- clipping ----------------------------------------------------------------

void TGdiContext::SetClip(std::optional<QRegion> clip)
{
    // Kept within a wide margin around the image, so that moving it again
    // and again cannot overflow its coordinates.
    constexpr int Margin = 1 << 20;
    if (clip)
        clip = clip->intersected(FImage.rect().adjusted(-Margin, -Margin, Margin, Margin));
    S.Clip = std::move(clip);
}

void TGdiContext::CombineClip(const QRegion& imageRegion, int mode)
{
    const QRegion current = S.Clip ? *S.Clip : QRegion(FImage.rect());
    switch (mode) {
    case RGN_AND: SetClip(current.intersected(imageRegion)); break;
    case RGN_OR: SetClip(current.united(imageRegion)); break;
    case RGN_XOR: SetClip(current.xored(imageRegion)); break;
    case RGN_DIFF: SetClip(current.subtracted(imageRegion)); break;
    case RGN_COPY: SetClip(imageRegion); break;
    default: break;
    }
}

void TGdiContext::IntersectClipRect(const QRectF& logical)
{
    CombineClip(QRegion(PixelRect(LogicalToImage().mapRect(logical.normalized()))), RGN_AND);
}

void TGdiContext::ExcludeClipRect(const QRectF& logical)
{
    CombineClip(QRegion(PixelRect(LogicalToImage().mapRect(logical.normalized()))), RGN_DIFF);
}

void TGdiContext::OffsetClip(double dx, double dy)
{
    if (!S.Clip)
        return;
    const QTransform t = LogicalToImage();
    const QPointF d = t.map(QPointF(dx, dy)) - t.map(QPointF(0, 0));
    if (!std::isfinite(d.x()) || !std::isfinite(d.y()))
        return;
    SetClip(S.Clip->translated(static_cast<int>(std::clamp(std::round(d.x()), -1e6, 1e6)),
                               static_cast<int>(std::clamp(std::round(d.y()), -1e6, 1e6))));
}

void TGdiContext::SelectClipRegion(const QRegion* region, int mode, bool deviceUnits)
{
    if (!region) {
        if (mode == RGN_COPY)
            SetClip(std::nullopt);
        return;
    }
    const QTransform t = deviceUnits ? FDeviceToImage : LogicalToImage();
    QRegion mapped;
    for (const QRect& r : *region)
        mapped += PixelRect(t.mapRect(QRectF(r)));
    CombineClip(mapped, mode);
}

void TGdiContext::SelectClipPath(int mode)
{
    // Cut to the image first: a region is built scan line by scan line, and
    // a path far outside would cost its whole height.
    QPainterPath frame;
    frame.addRect(QRectF(FImage.rect()).adjusted(-1, -1, 1, 1));
    const Qt::FillRule rule = S.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill;
    QPainterPath mapped = LogicalToImage().map(FPath);
    mapped.setFillRule(rule);
    const QPainterPath path = mapped.intersected(frame);
    FPath = QPainterPath();
    QRegion region;
    for (const QPolygonF& polygon : path.toFillPolygons())
        region = region.xored(QRegion(polygon.toPolygon(), rule));
    CombineClip(region, mode);
}

// ---- painter set-up ----------------------------------------------------------

void TGdiContext::Apply()
{
    FPainter.resetTransform();
    if (S.Clip)
        FPainter.setClipRegion(*S.Clip);
    else
        FPainter.setClipping(false);
    FPainter.setRenderHint(QPainter::Antialiasing, FAntialiased);
    FPainter.setRenderHint(QPainter::TextAntialiasing, FAntialiased);
    FPainter.setCompositionMode(RopMode(S.Rop2));
    FPainter.setTransform(LogicalToImage());
}

bool TGdiContext::PenVisible() const
{
    return (S.Pen.Style & PS_STYLE_MASK) != PS_NULL;
}

QPen TGdiContext::MakePen(bool& inImagePixels) const
{
    inImagePixels = false;
    if (!PenVisible())
        return Qt::NoPen;
    QPen pen(S.Pen.Color);
    // Lines thinner than a pixel are drawn one pixel wide, as GDI draws them.
    // A line twice as wide as the image covers all of it that a wider one
    // would, and costs far less to draw. The painter refuses widths from
    // 2^15 on: a line that needs more logical units is drawn in image pixels.
    const double scale = std::sqrt(std::fabs(LogicalToImage().determinant()));
    const double pixels = std::min(std::fabs(S.Pen.Width) * scale, 2.0 * (FImage.width() + FImage.height()) + 16);
    if (!(pixels >= 1) || !std::isfinite(pixels)) {
        pen.setWidthF(0);
    } else if (pixels / scale < 32767) {
        pen.setWidthF(pixels / scale);
    } else {
        pen.setWidthF(pixels);
        inImagePixels = true;
    }
    switch (S.Pen.Style & PS_ENDCAP_MASK) {
    case PS_ENDCAP_SQUARE: pen.setCapStyle(Qt::SquareCap); break;
    case PS_ENDCAP_FLAT: pen.setCapStyle(Qt::FlatCap); break;
    default: pen.setCapStyle(Qt::RoundCap); break;
    }
    switch (S.Pen.Style & PS_JOIN_MASK) {
    case PS_JOIN_BEVEL: pen.setJoinStyle(Qt::BevelJoin); break;
    case PS_JOIN_MITER:
        pen.setJoinStyle(Qt::MiterJoin);
        // GDI's limit is the miter length over the line width; the painter's
        // counts half widths beyond the join.
        pen.setMiterLimit(std::clamp(S.MiterLimit / 2, 0.5, 100.0));
        break;
    default: pen.setJoinStyle(Qt::RoundJoin); break;
    }
    // The GDI dash patterns, in line widths.
    switch (S.Pen.Style & PS_STYLE_MASK) {
    case PS_DASH: pen.setDashPattern({18, 6}); break;
    case PS_DOT:
    case PS_ALTERNATE: pen.setDashPattern({3, 3}); break;
    case PS_DASHDOT: pen.setDashPattern({9, 6, 3, 6}); break;
    case PS_DASHDOTDOT: pen.setDashPattern({9, 3, 3, 3, 3, 3}); break;
    default: break;
    }
    return pen;
}

QBrush TGdiContext::MakeBrush(const TGdiBrush& brush) const
{
    switch (brush.Style) {
    case BS_NULL: return Qt::NoBrush;
    case BS_HATCHED: {
        static const Qt::BrushStyle hatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                                 Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(brush.Color, brush.Hatch < 6 ? hatches[brush.Hatch] : Qt::SolidPattern);
    }
    case BS_PATTERN:
    case BS_DIBPATTERN:
    case BS_DIBPATTERNPT:
        if (!brush.Pattern.isNull()) {
            // Patterns repeat in image pixels whatever the mapping.
            QBrush pattern(brush.Pattern);
            pattern.setTransform(LogicalToImage().inverted());
            return pattern;
        }
        return QBrush(brush.Color);
    default: return QBrush(brush.Color);
    }
}

void TGdiContext::DrawPath(const QPainterPath& path, bool fill, bool stroke)
{
    if (Recording) {
        FPath.addPath(path);
        return;
    }
    if (S.Rop2 == R2_NOP)
        return;
    Apply();
    QPainterPath filled = path;
    filled.setFillRule(S.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    if (fill && S.Brush.Style != BS_NULL) {
        if (S.Brush.Style == BS_HATCHED && S.BkMode == OPAQUE)
            FPainter.fillPath(filled, S.BkColor);
        FPainter.fillPath(filled, MakeBrush(S.Brush));
    }
    if (stroke && PenVisible()) {
        bool inImagePixels = false;
        const QPen pen = MakePen(inImagePixels);
        if (inImagePixels) {
            const QTransform t = FPainter.transform();
            FPainter.resetTransform();
            FPainter.strokePath(t.map(path), pen);
        } else {
            FPainter.strokePath(path, pen);
        }
    }
}

void TGdiContext::AddToPath(const QPainterPath& figure, bool connect)
{
    if (connect && FPath.elementCount() == 0)
        FPath.moveTo(S.Position);
    if (connect)
        FPath.connectPath(figure);
    else
        FPath.addPath(figure);
}

// ---- paths -------------------------------------------------------------------

void TGdiContext::BeginPath()
{
    FPath = QPainterPath();
    Recording = true;
}

void TGdiContext::AbortPath()
{
    FPath = QPainterPath();
    Recording = false;
}

void TGdiContext::CloseFigure()
{
    if (Recording && FPath.elementCount() > 0)
        FPath.closeSubpath();
}

void TGdiContext::FillPath()
{
    const QPainterPath path = FPath;
    AbortPath();
    DrawPath(path, true, false);
}

void TGdiContext::StrokePath()
{
    const QPainterPath path = FPath;
    AbortPath();
    DrawPath(path, false, true);
}

void TGdiContext::StrokeAndFillPath()
{
    const QPainterPath path = FPath;
    AbortPath();
    DrawPath(path, true, true);
}

// ---- drawing -----------------------------------------------------------------

void TGdiContext::MoveTo(QPointF p)
{
    S.Position = p;
    if (Recording)
        FPath.moveTo(p);
}

void TGdiContext::LineTo(QPointF p)
{
    if (Recording) {
        if (FPath.elementCount() == 0)
            FPath.moveTo(S.Position);
        FPath.lineTo(p);
    } else {
        QPainterPath line(S.Position);
        line.lineTo(p);
        DrawPath(line, false, true);
    }
    S.Position = p;
}

void TGdiContext::Polyline(const std::vector<QPointF>& points)
{
    if (points.size() < 2 && !Recording)
        return;
    if (points.empty())
        return;
    QPainterPath path(points[0]);
    for (size_t i = 1; i < points.size(); ++i)
        path.lineTo(points[i]);
    if (Recording)
        FPath.addPath(path);
    else
        DrawPath(path, false, true);
}

void TGdiContext::PolylineTo(const std::vector<QPointF>& points)
{
    if (points.empty())
        return;
    QPainterPath path(S.Position);
    for (const QPointF& p : points)
        path.lineTo(p);
    if (Recording)
        AddToPath(path, true);
    else
        DrawPath(path, false, true);
    S.Position = points.back();
}

void TGdiContext::PolyBezier(const std::vector<QPointF>& points)
{
    if (points.size() < 4)
        return;
    QPainterPath path(points[0]);
    for (size_t i = 1; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (Recording)
        FPath.addPath(path);
    else
        DrawPath(path, false, true);
}

void TGdiContext::PolyBezierTo(const std::vector<QPointF>& points)
{
    if (points.size() < 3)
        return;
    QPainterPath path(S.Position);
    size_t i = 0;
    for (; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (Recording)
        AddToPath(path, true);
    else
        DrawPath(path, false, true);
    S.Position = points[i - 1];
}

void TGdiContext::Polygon(const std::vector<QPointF>& points)
{
    if (points.size() < 2)
        return;
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points.begin(), points.end())));
    path.closeSubpath();
    DrawPath(path, true, true);
}

void TGdiContext::PolyPolygon(const std::vector<QPointF>& points, const std::vector<uint32_t>& counts)
{
    QPainterPath path;
    size_t start = 0;
    for (uint32_t count : counts) {
        if (count >= 2) {
            path.addPolygon(QPolygonF(QList<QPointF>(points.begin() + static_cast<std::ptrdiff_t>(start),
                                                     points.begin() + static_cast<std::ptrdiff_t>(start + count))));
            path.closeSubpath();
        }
        start += count;
    }
    DrawPath(path, true, true);
}

void TGdiContext::PolyPolyline(const std::vector<QPointF>& points, const std::vector<uint32_t>& counts)
{
    QPainterPath path;
    size_t start = 0;
    for (uint32_t count : counts) {
        if (count >= 2) {
            path.moveTo(points[start]);
            for (size_t i = start + 1; i < start + count; ++i)
                path.lineTo(points[i]);
        }
        start += count;
    }
    DrawPath(path, false, true);
}

void TGdiContext::Rectangle(const QRectF& r)
{
    QPainterPath path;
    path.addRect(r.normalized());
    DrawPath(path, true, true);
}

void TGdiContext::RoundRect(const QRectF& r, double cornerWidth, double cornerHeight)
{
    const QRectF n = r.normalized();
    QPainterPath path;
    path.addRoundedRect(n, std::min(std::fabs(cornerWidth) / 2, n.width() / 2),
                        std::min(std::fabs(cornerHeight) / 2, n.height() / 2), Qt::AbsoluteSize);
    DrawPath(path, true, true);
}

void TGdiContext::Ellipse(const QRectF& r)
{
    QPainterPath path;
    path.addEllipse(r.normalized());
    DrawPath(path, true, true);
}

QPainterPath TGdiContext::ArcPath(TArcKind kind, const QRectF& r, QPointF start, QPointF end) const
{
    const QRectF n = r.normalized();
    QPainterPath path;
    if (n.width() <= 0 || n.height() <= 0)
        return path;
    const QPointF c = n.center();
    // Angles of the radial points, counter-clockwise as seen with y downwards.
    const auto angle = [&](QPointF p) {
        return std::atan2(-(p.y() - c.y()) / n.height(), (p.x() - c.x()) / n.width()) * 180 / M_PI;
    };
    const double a1 = angle(start);
    double sweep = std::fmod(angle(end) - a1, 360.0);
    if (S.ArcClockwise) {
        if (sweep >= 0)
            sweep -= 360;
    } else if (sweep <= 0) {
        sweep += 360;
    }
    if (kind == akPie)
        path.moveTo(c);
    else if (kind == akArcTo)
        path.moveTo(S.Position);
    else
        path.arcMoveTo(n, a1);
    path.arcTo(n, a1, sweep);
    if (kind == akPie || kind == akChord)
        path.closeSubpath();
    return path;
}

void TGdiContext::Arc(TArcKind kind, const QRectF& r, QPointF start, QPointF end)
{
    const QPainterPath path = ArcPath(kind, r, start, end);
    if (path.isEmpty())
        return;
    if (kind == akArcTo) {
        if (Recording)
            AddToPath(path, true);
        else
            DrawPath(path, false, true);
        S.Position = path.currentPosition();
        return;
    }
    DrawPath(path, kind != akArc, true);
}

void TGdiContext::AngleArc(QPointF center, double radius, double startAngle, double sweepAngle)
{
    if (!std::isfinite(startAngle) || !std::isfinite(sweepAngle))
        return;
    const QRectF r(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    QPainterPath path(S.Position);
    path.arcTo(r, std::fmod(startAngle, 360.0), std::clamp(sweepAngle, -360.0, 360.0));
    if (Recording)
        AddToPath(path, true);
    else
        DrawPath(path, false, true);
    S.Position = path.currentPosition();
}

void TGdiContext::SetPixel(QPointF p, QColor color)
{
    Apply();
    const QPointF at = FPainter.transform().map(p);
    FPainter.resetTransform();
    FPainter.fillRect(QRectF(std::floor(at.x()), std::floor(at.y()), 1, 1), color);
}

void TGdiContext::FillRegion(const QRegion& logical, const TGdiBrush& brush)
{
    if (brush.Style == BS_NULL)
        return;
    Apply();
    const QTransform t = LogicalToImage();
    const QBrush fill = MakeBrush(brush);
    FPainter.resetTransform();
    for (const QRect& r : logical)
        FPainter.fillRect(PixelRect(t.mapRect(QRectF(r))), fill);
}

void TGdiContext::FrameRegion(const QRegion& logical, const TGdiBrush& brush, double width, double height)
{
    const QTransform t = LogicalToImage();
    QRegion region;
    for (const QRect& r : logical)
        region += PixelRect(t.mapRect(QRectF(r)));
    const int w = std::clamp(static_cast<int>(std::lround(std::fabs(width) * ScaleX(t))), 1, 10000);
    const int h = std::clamp(static_cast<int>(std::lround(std::fabs(height) * ScaleY(t))), 1, 10000);
    const QRegion inner = region.intersected(region.translated(w, 0))
                              .intersected(region.translated(-w, 0))
                              .intersected(region.translated(0, h))
                              .intersected(region.translated(0, -h));
    Apply();
    FPainter.resetTransform();
    const QBrush fill = MakeBrush(brush);
    for (const QRect& r : region.subtracted(inner))
        FPainter.fillRect(r, fill);
}

void TGdiContext::InvertRegion(const QRegion& logical)
{
    Apply();
    const QTransform t = LogicalToImage();
    FPainter.resetTransform();
    FPainter.setCompositionMode(QPainter::RasterOp_NotDestination);
    for (const QRect& r : logical)
        FPainter.fillRect(PixelRect(t.mapRect(QRectF(r))), Qt::black);
}

void TGdiContext::PatBlt(const QRectF& r, uint32_t rop)
{
    if (rop == NOP_ROP)
        return;
    Apply();
    const QRect target = PixelRect(FPainter.transform().mapRect(r.normalized()));
    FPainter.resetTransform();
    FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    switch (rop) {
    case BLACKNESS: FPainter.fillRect(target, Qt::black); break;
    case WHITENESS: FPainter.fillRect(target, Qt::white); break;
    case DSTINVERT:
        FPainter.setCompositionMode(QPainter::RasterOp_NotDestination);
        FPainter.fillRect(target, Qt::black);
        break;
    case PATINVERT:
        FPainter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        FPainter.fillRect(target, MakeBrush(S.Brush));
        break;
    default:
        if (S.Brush.Style != BS_NULL)
            FPainter.fillRect(target, MakeBrush(S.Brush));
        break;
    }
}

void TGdiContext::StretchBlt(const QRectF& dest, const QImage& image, const QRectF& source, uint32_t rop)
{
    if (rop == NOP_ROP || image.isNull())
        return;
    if (rop == BLACKNESS || rop == WHITENESS || rop == DSTINVERT || rop == PATCOPY || rop == PATINVERT) {
        PatBlt(dest, rop);
        return;
    }
    const QRect part = source.normalized().toAlignedRect().intersected(image.rect());
    if (part.isEmpty() || dest.width() == 0 || dest.height() == 0)
        return;
    const bool mirrorX = (dest.width() < 0) != (source.width() < 0);
    const bool mirrorY = (dest.height() < 0) != (source.height() < 0);
    QImage pixels = image.copy(part);
    if (mirrorX || mirrorY)
        pixels = pixels.mirrored(mirrorX, mirrorY);
    Apply();
    switch (rop) {
    case SRCPAINT: FPainter.setCompositionMode(QPainter::RasterOp_SourceOrDestination); break;
    case SRCAND: FPainter.setCompositionMode(QPainter::RasterOp_SourceAndDestination); break;
    case SRCINVERT: FPainter.setCompositionMode(QPainter::RasterOp_SourceXorDestination); break;
    case NOTSRCCOPY: FPainter.setCompositionMode(QPainter::RasterOp_NotSource); break;
    default: FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver); break;
    }
    FPainter.setRenderHint(QPainter::SmoothPixmapTransform, S.StretchMode == HALFTONE);
    FPainter.drawImage(dest.normalized(), pixels);
}

QFont TGdiContext::MakeFont(double& pixelHeight) const
{
    QFont font(S.Font.Face.isEmpty() ? QStringLiteral("DejaVu Sans") : S.Font.Face);
    const QTransform t = LogicalToImage();
    const double scaleY = ScaleY(t);
    double pixels = std::fabs(S.Font.Height) * scaleY;
    if (S.Font.Height > 0) {
        // A positive height is the cell height: ascent and descent together.
        QFont probe = font;
        probe.setPixelSize(100);
        const QFontMetricsF metrics(probe);
        const double cell = metrics.ascent() + metrics.descent();
        if (cell > 0)
            pixels = pixels * 100 / cell;
    }
    if (S.Font.Height == 0 || !std::isfinite(pixels))
        pixels = DefaultFontPixels;
    pixelHeight = std::clamp(pixels, 0.5, 4096.0);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelHeight))));
    font.setWeight(static_cast<QFont::Weight>(S.Font.Weight <= 0 ? 400 : std::clamp(S.Font.Weight, 100, 900)));
    font.setItalic(S.Font.Italic);
    font.setUnderline(S.Font.Underline);
    font.setStrikeOut(S.Font.StrikeOut);
    if (S.Font.Width != 0) {
        const double average = QFontMetricsF(font).averageCharWidth();
        const double wanted = std::fabs(S.Font.Width) * ScaleX(t);
        if (average > 0)
            font.setStretch(std::clamp(static_cast<int>(std::lround(wanted / average * 100)), 1, 4000));
    }
    return font;
}

void TGdiContext::TextOut(QPointF reference, const QString& text, uint32_t options, const QRectF* rect,
                          const std::vector<double>& dx)
{
    if (S.Rop2 == R2_NOP)
        return;
    Apply();
    const QTransform t = LogicalToImage();
    if (rect && (options & ETO_OPAQUE)) {
        FPainter.fillRect(rect->normalized(), S.BkColor);
    }
    if (text.isEmpty() || !FTextAvailable)
        return;
    if (rect && (options & ETO_CLIPPED)) {
        FPainter.resetTransform();
        FPainter.setClipRect(PixelRect(t.mapRect(rect->normalized())), Qt::IntersectClip);
    }
    const bool updatePosition = S.TextAlign & TA_UPDATECP;
    if (updatePosition)
        reference = S.Position;

    double pixelHeight = 0;
    const QFont font = MakeFont(pixelHeight);
    const double fontScale = pixelHeight / font.pixelSize();
    const QFontMetricsF metrics(font);
    const double scaleX = ScaleX(t);

    // Advances in font pixels, before the painter's scale to pixelHeight.
    std::vector<double> advances(static_cast<size_t>(text.size()));
    double total = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const size_t k = static_cast<size_t>(i);
        advances[k] = k < dx.size() ? dx[k] * scaleX / fontScale : metrics.horizontalAdvance(text[i]);
        total += advances[k];
    }
    double x = 0;
    switch (S.TextAlign & TA_HMASK) {
    case TA_RIGHT: x = -total; break;
    case TA_CENTER: x = -total / 2; break;
    default: break;
    }
    double y = 0;
    switch (S.TextAlign & TA_VMASK) {
    case TA_BASELINE: break;
    case TA_BOTTOM: y = -metrics.descent(); break;
    default: y = metrics.ascent(); break;
    }

    FPainter.resetTransform();
    FPainter.translate(t.map(reference));
    FPainter.rotate(-static_cast<double>(S.Font.Escapement) / 10.0);
    FPainter.scale(fontScale, fontScale);
    FPainter.setFont(font);
    if (S.BkMode == OPAQUE && !(rect && (options & ETO_OPAQUE)))
        FPainter.fillRect(QRectF(x, y - metrics.ascent(), total, metrics.height()), S.BkColor);
    FPainter.setPen(S.TextColor);
    if (dx.empty()) {
        FPainter.drawText(QPointF(x, y), text);
    } else {
        for (qsizetype i = 0; i < text.size(); ++i) {
            FPainter.drawText(QPointF(x, y), QString(text[i]));
            x += advances[static_cast<size_t>(i)];
        }
    }
    if (updatePosition && scaleX > 0)
        S.Position += QPointF(total * fontScale / scaleX, 0);
}
