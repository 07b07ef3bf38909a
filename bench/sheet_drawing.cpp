#include "bench/sheet_drawing.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

// splitmix64: the same sheets from the same seed on every machine.
class TRandom {
public:
    explicit TRandom(uint64_t seed) : FState(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint64_t Next()
    {
        uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform(double a = 0, double b = 1) { return a + (b - a) * double(Next() >> 11) * 0x1.0p-53; }
    bool Chance(double p) { return Uniform() < p; }
    int Int(int a, int b) { return a + int(Next() % uint64_t(b - a + 1)); }
    double Sign() { return Chance(0.5) ? 1 : -1; }

private:
    uint64_t FState;
};

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x85EBCA6Bu;
    h ^= h >> 16;
    h *= 0xC2B2AE35u;
    return h ^ (h >> 15);
}

// Smooth noise in 0..1 over a lattice of the given cell size.
double ValueNoise(double x, double y, double cell, uint32_t seed)
{
    const double gx = x / cell, gy = y / cell;
    const double fx = std::floor(gx), fy = std::floor(gy);
    const double tx = gx - fx, ty = gy - fy;
    const auto ix = uint32_t(int64_t(fx)), iy = uint32_t(int64_t(fy));
    auto at = [&](uint32_t dx, uint32_t dy) { return (Hash(ix + dx, iy + dy, seed) & 0xFFFF) / 65535.0; };
    const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    const double top = at(0, 0) + (at(1, 0) - at(0, 0)) * sx, bottom = at(0, 1) + (at(1, 1) - at(0, 1)) * sx;
    return top + (bottom - top) * sy;
}

const TInk Black{25, 25, 25};
const TInk Brown{170, 105, 50};
const TInk Blue{40, 90, 190};

struct TFold {
    bool AlongY; // a fold running down the paper at x = At, or across it at y = At
    double At;
    TSheetPoint Shift; // scan pixels, for the paper beyond it
};

class TSheetPainter {
public:
    explicit TSheetPainter(const TSheetPlan& plan);
    TSheet Paint();

private:
    TSheetPoint Map(TSheetPoint p) const;
    TSheetPoint Unmap(double x, double y) const;
    double PixelMm() const { return 25.4 / FPlan.Dpi; }

    void Line(TSheetPoint a, TSheetPoint b, double widthMm, const TInk& ink);
    void ClippedLine(TSheetPoint a, TSheetPoint b, double widthMm, const TInk& ink, double left, double top,
                     double right, double bottom);
    void MapLine(TSheetPoint a, TSheetPoint b, double widthMm, const TInk& ink)
    {
        ClippedLine(a, b, widthMm, ink, 0, 0, FPlan.FrameWidthMm, FPlan.FrameHeightMm);
    }
    void Word(TSheetPoint at, double heightMm, int letters, const TInk& ink);
    // Shades the paper rectangle's pixels by cover(p) in 0..1 of the ink.
    void Area(double left, double top, double right, double bottom, const TInk& ink,
              const std::function<double(TSheetPoint)>& cover);

    void Rectangle(double inset, double widthMm, const TInk& ink);
    void BowedNeatline();
    // The point of a side (0 top, 1 bottom, 2 left, 3 right) at u along it
    // (x for the top and bottom, y for the others), out mm outside the
    // neatline's centre line, bowed as the plan says.
    TSheetPoint SidePoint(int side, double u, double out) const;
    // A stroke along the side from u = from to u = to, out(u) mm outside it.
    void AlongSide(int side, double from, double to, const std::function<double(double)>& out, double widthMm,
                   const TInk& ink, int pieces);
    // How much of the pixel at p lies inside the (bowed) neatline's centre lines.
    double InsideFrame(TSheetPoint p) const;
    void GraduatedBorder();
    void MergingLine();
    void FillToFrame();
    void Frames();
    void Grid();
    void Content();
    void Margin();
    void Folds();
    void Stains();
    void PaperEdge();
    void Grain();

    TSheetPlan FPlan;
    TRandom FRandom;
    double FA[2][2]; // paper millimetres to scan pixels
    double FInverse[2][2];
    TSheetPoint FOrigin;
    std::vector<TFold> FFolds;
    double FOuterReach = 0; // from the neatline to the outer frame's outer edge
    double FPaper[4] = {};  // left, top, right, bottom of the paper, mm
    std::unique_ptr<TSheetCanvas> FCanvas;
};

TSheetPainter::TSheetPainter(const TSheetPlan& plan) : FPlan(plan), FRandom(plan.Seed)
{
    const double k = plan.Dpi / 25.4, angle = plan.RotationDegrees * Pi / 180;
    const double c = std::cos(angle), s = std::sin(angle);
    FA[0][0] = k * c;
    FA[0][1] = -k * s;
    FA[1][0] = k * plan.StretchY * s;
    FA[1][1] = k * plan.StretchY * c;
    const double det = FA[0][0] * FA[1][1] - FA[0][1] * FA[1][0];
    FInverse[0][0] = FA[1][1] / det;
    FInverse[0][1] = -FA[0][1] / det;
    FInverse[1][0] = -FA[1][0] / det;
    FInverse[1][1] = FA[0][0] / det;

    const double w = plan.FrameWidthMm, h = plan.FrameHeightMm;
    FOuterReach = plan.OuterFrame == okNone ? 0 : plan.OuterGapMm + plan.OuterWidthMm;
    if (plan.OuterFrame == okDouble || plan.OuterFrame == okGraduated)
        FOuterReach = plan.OuterGapMm + 1.8;
    const double frame = std::max(FOuterReach, plan.OuterGapMm);
    for (int side = 0; side < 4; ++side) {
        const double margin = frame + plan.MarginMm * FRandom.Uniform(0.8, 1.3);
        FPaper[side] = side < 2 ? -margin : (side == 2 ? w : h) + margin;
    }
    // The scanned area, and the canvas around it.
    double scan[4];
    for (int side = 0; side < 4; ++side) {
        const double beyond = frame + plan.ScanBeyondMm * FRandom.Uniform(0.85, 1.15);
        scan[side] = side < 2 ? -beyond : (side == 2 ? w : h) + beyond;
    }
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (const TSheetPoint p : {TSheetPoint{scan[0], scan[1]}, TSheetPoint{scan[2], scan[1]}, TSheetPoint{scan[2], scan[3]},
                                TSheetPoint{scan[0], scan[3]}}) {
        const double x = FA[0][0] * p.X + FA[0][1] * p.Y, y = FA[1][0] * p.X + FA[1][1] * p.Y;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    FOrigin = {-minX + FRandom.Uniform(), -minY + FRandom.Uniform()};
    for (int i = 0; i < plan.Folds; ++i) {
        const double direction = FRandom.Uniform(0, 2 * Pi);
        const bool alongY = i == 0 ? FRandom.Chance(0.5) : !FFolds[0].AlongY;
        FFolds.push_back({alongY, (alongY ? w : h) * FRandom.Uniform(0.3, 0.7),
                          {plan.FoldShiftPx * std::cos(direction), plan.FoldShiftPx * std::sin(direction)}});
    }
    const TInk paper{236, 230, 210};
    FCanvas = std::make_unique<TSheetCanvas>(int(std::ceil(maxX - minX)) + 1, int(std::ceil(maxY - minY)) + 1, paper);
}

TSheetPoint TSheetPainter::Map(TSheetPoint p) const
{
    TSheetPoint out{FOrigin.X + FA[0][0] * p.X + FA[0][1] * p.Y, FOrigin.Y + FA[1][0] * p.X + FA[1][1] * p.Y};
    for (const TFold& fold : FFolds)
        if ((fold.AlongY ? p.X : p.Y) > fold.At) {
            out.X += fold.Shift.X;
            out.Y += fold.Shift.Y;
        }
    return out;
}

TSheetPoint TSheetPainter::Unmap(double x, double y) const
{
    x -= FOrigin.X;
    y -= FOrigin.Y;
    return {FInverse[0][0] * x + FInverse[0][1] * y, FInverse[1][0] * x + FInverse[1][1] * y};
}

// A stroke on the paper: cut where it crosses a fold, each piece mapped as
// the paper under it lies.
void TSheetPainter::Line(TSheetPoint a, TSheetPoint b, double widthMm, const TInk& ink)
{
    std::vector<double> cuts = {0, 1};
    for (const TFold& fold : FFolds) {
        const double from = fold.AlongY ? a.X : a.Y, to = fold.AlongY ? b.X : b.Y;
        if ((from - fold.At) * (to - fold.At) < 0)
            cuts.push_back((fold.At - from) / (to - from));
    }
    std::sort(cuts.begin(), cuts.end());
    const double dx = b.X - a.X, dy = b.Y - a.Y, length = std::hypot(dx, dy);
    if (length <= 0)
        return;
    const double nx = -dy / length * widthMm / 2, ny = dx / length * widthMm / 2;
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
        const TSheetPoint p{a.X + cuts[i] * dx, a.Y + cuts[i] * dy}, q{a.X + cuts[i + 1] * dx, a.Y + cuts[i + 1] * dy};
        const TSheetPoint middle{(p.X + q.X) / 2, (p.Y + q.Y) / 2};
        // The whole piece takes the shift of its middle.
        const TSheetPoint m0 = Map(middle);
        auto place = [&](TSheetPoint r) {
            return TSheetPoint{m0.X + FA[0][0] * (r.X - middle.X) + FA[0][1] * (r.Y - middle.Y),
                               m0.Y + FA[1][0] * (r.X - middle.X) + FA[1][1] * (r.Y - middle.Y)};
        };
        FCanvas->FillConvex({place({p.X + nx, p.Y + ny}), place({q.X + nx, q.Y + ny}), place({q.X - nx, q.Y - ny}),
                             place({p.X - nx, p.Y - ny})},
                            ink);
    }
}

// Liang-Barsky: the part of the stroke inside the rectangle.
void TSheetPainter::ClippedLine(TSheetPoint a, TSheetPoint b, double widthMm, const TInk& ink, double left,
                                double top, double right, double bottom)
{
    double t0 = 0, t1 = 1;
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double p[4] = {-dx, dx, -dy, dy}, q[4] = {a.X - left, right - a.X, a.Y - top, bottom - a.Y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    if (t0 < t1)
        Line({a.X + t0 * dx, a.Y + t0 * dy}, {a.X + t1 * dx, a.Y + t1 * dy}, widthMm, ink);
}

// Letter-like marks: a few strokes between points of each letter's box.
void TSheetPainter::Word(TSheetPoint at, double heightMm, int letters, const TInk& ink)
{
    static const TSheetPoint anchors[] = {{0, 0}, {1, 0}, {0, 0.5}, {1, 0.5}, {0, 1}, {1, 1}, {0.5, 0}, {0.5, 1}};
    const double width = heightMm * 0.6, stroke = heightMm * 0.12;
    for (int i = 0; i < letters; ++i) {
        const double left = at.X + i * width * 1.35;
        for (int s = FRandom.Int(2, 4); s > 0; --s) {
            const TSheetPoint a = anchors[FRandom.Int(0, 7)], b = anchors[FRandom.Int(0, 7)];
            if (a.X == b.X && a.Y == b.Y)
                continue;
            Line({left + a.X * width, at.Y + a.Y * heightMm}, {left + b.X * width, at.Y + b.Y * heightMm}, stroke, ink);
        }
    }
}

void TSheetPainter::Area(double left, double top, double right, double bottom, const TInk& ink,
                         const std::function<double(TSheetPoint)>& cover)
{
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (const TSheetPoint p : {TSheetPoint{left, top}, TSheetPoint{right, top}, TSheetPoint{right, bottom},
                                TSheetPoint{left, bottom}}) {
        const TSheetPoint m = Map(p);
        minX = std::min(minX, m.X);
        maxX = std::max(maxX, m.X);
        minY = std::min(minY, m.Y);
        maxY = std::max(maxY, m.Y);
    }
    FCanvas->Shade(int(std::floor(minX)) - 2, int(std::floor(minY)) - 2, int(std::ceil(maxX)) + 2,
                   int(std::ceil(maxY)) + 2, [&](int x, int y, uint8_t* rgb) {
                       const TSheetPoint p = Unmap(x, y);
                       if (p.X < left || p.X > right || p.Y < top || p.Y > bottom)
                           return;
                       const double a = std::clamp(cover(p), 0.0, 1.0) * ink.Opacity;
                       if (a <= 0)
                           return;
                       const uint8_t target[3] = {ink.Red, ink.Green, ink.Blue};
                       for (int c = 0; c < 3; ++c)
                           rgb[c] = uint8_t(std::lround(rgb[c] + a * (target[c] - rgb[c])));
                   });
}

// A rectangle around the neatline, inset (negative: outside) by the given
// distance; the top and bottom lines take the corner squares.
void TSheetPainter::Rectangle(double inset, double widthMm, const TInk& ink)
{
    const double l = inset, t = inset, r = FPlan.FrameWidthMm - inset, b = FPlan.FrameHeightMm - inset;
    const double h = widthMm / 2;
    Line({l - h, t}, {r + h, t}, widthMm, ink);
    Line({l - h, b}, {r + h, b}, widthMm, ink);
    Line({l, t + h}, {l, b - h}, widthMm, ink);
    Line({r, t + h}, {r, b - h}, widthMm, ink);
}

// The neatline with each side bowed as the plan says, in short straight
// pieces along a half sine that vanishes at the corners.
void TSheetPainter::BowedNeatline()
{
    const double w = FPlan.FrameWidthMm, hgt = FPlan.FrameHeightMm, half = FPlan.NeatlineMm / 2;
    constexpr int Pieces = 96;
    for (int side = 0; side < 4; ++side) {
        const bool alongX = side < 2;
        const double length = alongX ? w : hgt, at = side == 0 || side == 2 ? 0 : (alongX ? hgt : w);
        // The top and bottom lines take the corner squares, as Rectangle's do.
        const double from = alongX ? -half : half, to = alongX ? length + half : length - half;
        auto point = [&](double u) {
            const double t = std::clamp(u / length, 0.0, 1.0);
            const double v = at + FPlan.SideBowMm[size_t(side)] * std::sin(Pi * t);
            return alongX ? TSheetPoint{u, v} : TSheetPoint{v, u};
        };
        for (int k = 0; k < Pieces; ++k)
            Line(point(from + (to - from) * k / Pieces), point(from + (to - from) * (k + 1) / Pieces), FPlan.NeatlineMm,
                 Black);
    }
}

TSheetPoint TSheetPainter::SidePoint(int side, double u, double out) const
{
    const bool alongX = side < 2;
    const double length = alongX ? FPlan.FrameWidthMm : FPlan.FrameHeightMm;
    const double at = side == 0 || side == 2 ? 0 : (alongX ? FPlan.FrameHeightMm : FPlan.FrameWidthMm);
    const double t = std::clamp(u / length, 0.0, 1.0);
    const double v = at + FPlan.SideBowMm[size_t(side)] * std::sin(Pi * t) + (side == 0 || side == 2 ? -out : out);
    return alongX ? TSheetPoint{u, v} : TSheetPoint{v, u};
}

void TSheetPainter::AlongSide(int side, double from, double to, const std::function<double(double)>& out,
                              double widthMm, const TInk& ink, int pieces)
{
    for (int k = 0; k < pieces; ++k) {
        const double a = from + (to - from) * k / pieces, b = from + (to - from) * (k + 1) / pieces;
        Line(SidePoint(side, a, out(a)), SidePoint(side, b, out(b)), widthMm, ink);
    }
}

double TSheetPainter::InsideFrame(TSheetPoint p) const
{
    const double edge = PixelMm();
    double cover = 1;
    for (int side = 0; side < 4; ++side) {
        const bool alongX = side < 2;
        const double u = alongX ? p.X : p.Y, v = alongX ? p.Y : p.X;
        const double line = alongX ? SidePoint(side, u, 0).Y : SidePoint(side, u, 0).X;
        const double inward = side == 0 || side == 2 ? v - line : line - v;
        cover *= std::clamp(0.5 + inward / edge, 0.0, 1.0);
    }
    return cover;
}

// Between two thin lines, pieces alternately black and white from each
// side's first corner; the squares at the corners left white.
void TSheetPainter::GraduatedBorder()
{
    const double inner = FPlan.BorderGapMm, band = FPlan.BorderWidthMm, outer = inner + band;
    const double thin = std::min(FPlan.NeatlineMm, band / 3), piece = FPlan.BorderPieceMm;
    for (int side = 0; side < 4; ++side) {
        const double length = side < 2 ? FPlan.FrameWidthMm : FPlan.FrameHeightMm;
        for (const double edge : {inner, outer}) {
            // The top and bottom lines take the corner squares.
            const double reach = side < 2 ? edge + thin / 2 : edge - thin / 2;
            AlongSide(side, -reach, length + reach, [=](double) { return edge; }, thin, Black, 64);
        }
        for (double u = 0; u < length; u += 2 * piece) {
            const double end = std::min(length, u + piece);
            AlongSide(side, u, end, [=](double) { return inner + band / 2; }, band, Black,
                      std::max(1, int(std::ceil((end - u) / 10))));
        }
    }
}

// From a point on the side's crossing line at one corner, a line
// MergeGapMm inside the side runs straight in to meet it.
void TSheetPainter::MergingLine()
{
    const int side = FPlan.MergeSide;
    const double length = side < 2 ? FPlan.FrameWidthMm : FPlan.FrameHeightMm;
    const double start = FPlan.MergeFromEnd ? length - FPlan.NeatlineMm / 2 : FPlan.NeatlineMm / 2;
    const double merge = FPlan.MergeFromEnd ? length * (1 - FPlan.MergeShare) : length * FPlan.MergeShare;
    const double gap = FPlan.MergeGapMm;
    AlongSide(side, start, merge, [=](double u) { return -gap * (u - merge) / (start - merge); }, FPlan.NeatlineMm,
              Black, 48);
}

// A sea up to the frame: from each side of the plan's, in to a wavy coast.
void TSheetPainter::FillToFrame()
{
    const double w = FPlan.FrameWidthMm, h = FPlan.FrameHeightMm;
    const TInk sea{uint8_t(FRandom.Int(150, 190)), uint8_t(FRandom.Int(190, 215)), uint8_t(FRandom.Int(225, 240))};
    for (int side = 0; side < 4; ++side) {
        if (!(FPlan.FillSides & (1 << side)))
            continue;
        const double length = side < 2 ? w : h;
        const double depth = std::min(FRandom.Uniform(15, 60), 0.4 * (side < 2 ? h : w));
        const double wave = FRandom.Uniform(20, 80), phase = FRandom.Uniform(0, 2 * Pi);
        // The whole side, or a stretch from one of its corners.
        double from = 0, to = length;
        if (FRandom.Chance(0.5)) {
            const double stretch = length * FRandom.Uniform(0.3, 0.8);
            if (FRandom.Chance(0.5))
                to = stretch;
            else
                from = length - stretch;
        }
        const double edge = PixelMm(), taper = 20;
        const double band = 1.3 * depth + 3;
        const double box[4][4] = {{-2, -2, w + 2, band}, {-2, h - band, w + 2, h + 2}, {-2, -2, band, h + 2},
                                  {w - band, -2, w + 2, h + 2}};
        Area(box[side][0], box[side][1], box[side][2], box[side][3], sea, [=, this](TSheetPoint p) {
            const double u = side < 2 ? p.X : p.Y;
            if (u < from - taper || u > to + taper)
                return 0.0;
            // The coast turns back to the side beyond the stretch's open ends.
            const double open = std::min(from > 0 ? (u - from) / taper + 1 : 1e9, to < length ? (to - u) / taper + 1 : 1e9);
            const double reach = depth * (1 + 0.3 * std::sin(2 * Pi * u / wave + phase)) * std::clamp(open, 0.0, 1.0);
            const double v = side < 2 ? p.Y : p.X;
            const double line = side < 2 ? SidePoint(side, u, 0).Y : SidePoint(side, u, 0).X;
            const double inward = side == 0 || side == 2 ? v - line : line - v;
            return std::clamp(0.5 + (reach - inward) / edge, 0.0, 1.0) * InsideFrame(p);
        });
    }
}

void TSheetPainter::Frames()
{
    if (std::any_of(FPlan.SideBowMm.begin(), FPlan.SideBowMm.end(), [](double bow) { return bow != 0; }))
        BowedNeatline();
    else
        Rectangle(0, FPlan.NeatlineMm, Black);
    const double gap = FPlan.OuterGapMm;
    if (FPlan.RulesToOuterFrame && FPlan.OuterFrame != okNone) {
        const double w = FPlan.FrameWidthMm, hgt = FPlan.FrameHeightMm, reach = gap - 0.1;
        for (const double y : {0.0, hgt}) {
            Line({-reach, y}, {0, y}, FPlan.NeatlineMm, Black);
            Line({w, y}, {w + reach, y}, FPlan.NeatlineMm, Black);
        }
        for (const double x : {0.0, w}) {
            Line({x, -reach}, {x, 0}, FPlan.NeatlineMm, Black);
            Line({x, hgt}, {x, hgt + reach}, FPlan.NeatlineMm, Black);
        }
    }
    switch (FPlan.OuterFrame) {
    case okNone:
        break;
    case okSingle:
        Rectangle(-(gap + FPlan.OuterWidthMm / 2), FPlan.OuterWidthMm, Black);
        break;
    case okDouble:
        Rectangle(-(gap + 0.15), 0.3, Black);
        Rectangle(-(gap + 1.65), 0.3, Black);
        break;
    case okGraduated: {
        Rectangle(-(gap + 0.1), 0.2, Black);
        Rectangle(-(gap + 1.7), 0.2, Black);
        // Alternate black bars between the two lines, as a graticule's minutes.
        const double step = FRandom.Uniform(8, 25), inner = gap + 0.2, outer = gap + 1.6;
        const double w = FPlan.FrameWidthMm, hgt = FPlan.FrameHeightMm;
        for (double s = 0; s + step <= w; s += 2 * step) {
            Line({s, -(inner + outer) / 2}, {s + step, -(inner + outer) / 2}, outer - inner, Black);
            Line({s, hgt + (inner + outer) / 2}, {s + step, hgt + (inner + outer) / 2}, outer - inner, Black);
        }
        for (double s = 0; s + step <= hgt; s += 2 * step) {
            Line({-(inner + outer) / 2, s}, {-(inner + outer) / 2, s + step}, outer - inner, Black);
            Line({w + (inner + outer) / 2, s}, {w + (inner + outer) / 2, s + step}, outer - inner, Black);
        }
        break;
    }
    }
    if (FPlan.BorderWidthMm > 0)
        GraduatedBorder();
    if (FPlan.MergeSide >= 0 && FPlan.MergeSide < 4)
        MergingLine();
}

void TSheetPainter::Grid()
{
    if (FPlan.GridSpacingMm <= 0)
        return;
    const double w = FPlan.FrameWidthMm, h = FPlan.FrameHeightMm, spacing = FPlan.GridSpacingMm;
    const double angle = FPlan.GridAngleDegrees * Pi / 180, c = std::cos(angle), s = std::sin(angle);
    const TInk ink = FRandom.Chance(0.5) ? Black : (FRandom.Chance(0.5) ? Blue : Brown);
    const double reach = FPlan.GridAcrossFrame ? std::max(0.0, FPlan.OuterGapMm) : 0;
    const double diagonal = std::hypot(w, h) + 2 * reach;
    const double phase[2] = {FRandom.Uniform(0, spacing), FRandom.Uniform(0, spacing)};
    for (int family = 0; family < 2; ++family) {
        // Lines running down the sheet (family 0) or across it, turned by the grid's angle.
        const TSheetPoint along = family == 0 ? TSheetPoint{-s, c} : TSheetPoint{c, s};
        const TSheetPoint normal = family == 0 ? TSheetPoint{c, s} : TSheetPoint{-s, c};
        for (double d = -diagonal + phase[family]; d < diagonal; d += spacing) {
            const TSheetPoint centre{w / 2 + normal.X * d, h / 2 + normal.Y * d};
            const TSheetPoint a{centre.X - along.X * diagonal, centre.Y - along.Y * diagonal};
            const TSheetPoint b{centre.X + along.X * diagonal, centre.Y + along.Y * diagonal};
            ClippedLine(a, b, FPlan.GridWidthMm, ink, -reach, -reach, w + reach, h + reach);
            // The grid value in the margin beside where the line leaves the map.
            if (FPlan.OuterGapMm > 3 && FRandom.Chance(0.7)) {
                const double textHeight = std::min(2.2, FPlan.OuterGapMm * 0.4);
                const double x = w / 2 + normal.X * d, y = h / 2 + normal.Y * d;
                if (family == 0 && x > 5 && x < w - 10)
                    Word({x + 0.6, -FPlan.OuterGapMm / 2 - textHeight / 2}, textHeight, 3, Black);
                if (family == 1 && y > 5 && y < h - 5)
                    Word({-FPlan.OuterGapMm + 0.4, y + 0.5}, textHeight * 0.8, 2, Black);
            }
        }
    }
}

void TSheetPainter::Content()
{
    const double w = FPlan.FrameWidthMm, h = FPlan.FrameHeightMm, density = FPlan.ContentDensity;
    if (density <= 0)
        return;
    const double areaUnits = w * h / 15000 * density;
    // Woods and lakes under everything.
    for (int i = int(areaUnits * FRandom.Uniform(0.5, 1.5)); i > 0; --i) {
        const TSheetPoint centre{FRandom.Uniform(-20, w + 20), FRandom.Uniform(-20, h + 20)};
        const double radius = FRandom.Uniform(8, 45), a = FRandom.Uniform(0, 2 * Pi), b = FRandom.Uniform(0, 2 * Pi);
        const bool water = FRandom.Chance(0.2);
        const TInk ink = water ? TInk{160, 200, 235, 0.8} : TInk{185, 215, 160, 0.7};
        const double edge = PixelMm();
        Area(std::max(0.0, centre.X - 1.5 * radius), std::max(0.0, centre.Y - 1.5 * radius),
             std::min(w, centre.X + 1.5 * radius), std::min(h, centre.Y + 1.5 * radius), ink, [=](TSheetPoint p) {
                 const double dx = p.X - centre.X, dy = p.Y - centre.Y, phi = std::atan2(dy, dx);
                 const double r = radius * (1 + 0.25 * std::sin(3 * phi + a) + 0.1 * std::sin(7 * phi + b));
                 return 0.5 + (r - std::hypot(dx, dy)) / edge;
             });
    }
    // Hills of contour lines, cut by the frame.
    for (int i = int(areaUnits * FRandom.Uniform(0.5, 1.5)); i > 0; --i) {
        const TSheetPoint centre{FRandom.Uniform(-30, w + 30), FRandom.Uniform(-30, h + 30)};
        const double radius = FRandom.Uniform(10, 90), interval = FRandom.Uniform(1.5, 4);
        const double a1 = FRandom.Uniform(0, 0.3), a2 = FRandom.Uniform(0, 0.15);
        const double p1 = FRandom.Uniform(0, 2 * Pi), p2 = FRandom.Uniform(0, 2 * Pi);
        int ring = 0;
        for (double r = radius; r > 2; r -= interval, ++ring) {
            const int steps = std::max(24, int(2 * Pi * r / 1.5));
            const double width = ring % 5 == 0 ? 0.22 : 0.12;
            TSheetPoint previous{};
            for (int k = 0; k <= steps; ++k) {
                const double phi = 2 * Pi * k / steps;
                const double rr = r * (1 + a1 * std::sin(2 * phi + p1) + a2 * std::sin(3 * phi + p2));
                const TSheetPoint p{centre.X + rr * std::cos(phi), centre.Y + rr * std::sin(phi)};
                if (k > 0)
                    MapLine(previous, p, width, Brown);
                previous = p;
            }
        }
    }
    // Rivers and roads wandering across.
    auto wander = [&](double width, const TInk& ink, const TInk* casing) {
        TSheetPoint p{FRandom.Uniform(0, w), FRandom.Uniform(0, h)};
        double heading = FRandom.Uniform(0, 2 * Pi);
        for (int k = 0; k < 400; ++k) {
            heading += FRandom.Uniform(-0.25, 0.25);
            const TSheetPoint q{p.X + 3 * std::cos(heading), p.Y + 3 * std::sin(heading)};
            if (casing)
                MapLine(p, q, width + 0.3, *casing);
            MapLine(p, q, width, ink);
            p = q;
        }
    };
    for (int i = int(areaUnits * FRandom.Uniform(0.1, 0.3)) + 1; i > 0; --i)
        wander(0.35, Blue, nullptr);
    for (int i = int(areaUnits * FRandom.Uniform(0.2, 0.4)) + 1; i > 0; --i)
        wander(0.5, FRandom.Chance(0.5) ? TInk{230, 120, 60} : TInk{250, 220, 90}, &Black);
    // Villages and names.
    for (int i = int(areaUnits * FRandom.Uniform(0.3, 0.8)); i > 0; --i) {
        const TSheetPoint centre{FRandom.Uniform(0, w), FRandom.Uniform(0, h)};
        for (int k = FRandom.Int(5, 25); k > 0; --k) {
            const double x = centre.X + FRandom.Uniform(-8, 8), y = centre.Y + FRandom.Uniform(-8, 8);
            const double size = FRandom.Uniform(0.6, 1.8);
            MapLine({x, y + size / 2}, {x + size, y + size / 2}, size, Black);
        }
        Word({centre.X + 9, centre.Y - 2}, FRandom.Uniform(1.5, 3), FRandom.Int(4, 9), Black);
    }
}

void TSheetPainter::Margin()
{
    const double w = FPlan.FrameWidthMm, h = FPlan.FrameHeightMm, out = std::max(FOuterReach, FPlan.OuterGapMm);
    const double topMargin = -FPaper[1] - out, bottomMargin = FPaper[3] - h - out;
    if (topMargin > 12) {
        const double size = std::min(10.0, topMargin * 0.4);
        Word({w * 0.3, -out - topMargin * 0.5 - size / 2}, size, FRandom.Int(5, 12), Black);
        Word({0, -out - 3.5}, 2.5, FRandom.Int(6, 14), Black);
        Word({w - 40, -out - 3.5}, 2.5, FRandom.Int(6, 14), Black);
    }
    if (bottomMargin > 10) {
        // Legend boxes, each a small closed frame of its own, and a scale bar.
        const int boxes = FRandom.Int(2, 6);
        for (int i = 0; i < boxes; ++i) {
            const double x = 10 + i * 35, y = h + out + 3;
            if (x + 30 > w)
                break;
            const double bw = 8, bh = 5;
            Line({x - 0.1, y}, {x + bw + 0.1, y}, 0.2, Black);
            Line({x - 0.1, y + bh}, {x + bw + 0.1, y + bh}, 0.2, Black);
            Line({x, y + 0.1}, {x, y + bh - 0.1}, 0.2, Black);
            Line({x + bw, y + 0.1}, {x + bw, y + bh - 0.1}, 0.2, Black);
            Word({x + bw + 2, y + 1}, 2, FRandom.Int(4, 8), Black);
        }
        for (int i = 0; i < 4; ++i)
            Line({w * 0.6 + i * 10, h + out + 5}, {w * 0.6 + i * 10 + 10, h + out + 5}, i % 2 ? 0.3 : 1.2, Black);
    }
    // Corner coordinates in the gap between the frames, and beyond them.
    if (FPlan.OuterGapMm > 3) {
        const double size = std::min(2.0, FPlan.OuterGapMm * 0.35);
        Word({1.5, -FPlan.OuterGapMm / 2 - size / 2}, size, 6, Black);
        Word({w - 14, -FPlan.OuterGapMm / 2 - size / 2}, size, 6, Black);
        Word({1.5, h + FPlan.OuterGapMm / 2 - size / 2}, size, 6, Black);
        Word({w - 14, h + FPlan.OuterGapMm / 2 - size / 2}, size, 6, Black);
    }
    const double sideMargin = -FPaper[0] - out;
    if (sideMargin > 8)
        Word({-out - sideMargin * 0.7, h * 0.5}, 3, 5, Black);
}

void TSheetPainter::Folds()
{
    for (const TFold& fold : FFolds) {
        // The crease: a bright ridge with a shadow beside it, across the paper.
        const TSheetPoint a = fold.AlongY ? TSheetPoint{fold.At, FPaper[1]} : TSheetPoint{FPaper[0], fold.At};
        const TSheetPoint b = fold.AlongY ? TSheetPoint{fold.At, FPaper[3]} : TSheetPoint{FPaper[2], fold.At};
        const double offset = 2 * PixelMm();
        const TSheetPoint shift = fold.AlongY ? TSheetPoint{offset, 0} : TSheetPoint{0, offset};
        Line(a, b, 1.2 * PixelMm(), {255, 255, 255, 0.25});
        Line({a.X + shift.X, a.Y + shift.Y}, {b.X + shift.X, b.Y + shift.Y}, 2 * PixelMm(), {90, 80, 70, 0.15});
    }
}

void TSheetPainter::Stains()
{
    for (int i = 0; i < FPlan.Stains; ++i) {
        const TSheetPoint centre{FRandom.Uniform(FPaper[0], FPaper[2]), FRandom.Uniform(FPaper[1], FPaper[3])};
        const double radius = FRandom.Uniform(10, 60), depth = FRandom.Uniform(0.15, 0.4);
        const double a = FRandom.Uniform(0, 2 * Pi);
        const uint32_t seed = uint32_t(FRandom.Next());
        Area(centre.X - 1.6 * radius, centre.Y - 1.6 * radius, centre.X + 1.6 * radius, centre.Y + 1.6 * radius,
             {150, 110, 50, depth}, [=](TSheetPoint p) {
                 const double dx = p.X - centre.X, dy = p.Y - centre.Y, phi = std::atan2(dy, dx);
                 const double r = radius * (1 + 0.3 * std::sin(2 * phi + a) + 0.25 * (ValueNoise(p.X, p.Y, 8, seed) - 0.5));
                 const double d = std::hypot(dx, dy) / r;
                 // Faint inside, darkest at the tide mark of its rim.
                 return d > 1 ? 0.0 : 0.35 + 0.65 * std::pow(d, 6);
             });
    }
}

void TSheetPainter::PaperEdge()
{
    const int tornSide = FPlan.TearMm > 0 ? FRandom.Int(0, 3) : -1;
    const bool alongX = tornSide == 1 || tornSide == 3;
    const double from = FRandom.Uniform(0.1, 0.5), span = FRandom.Uniform(0.2, 0.45);
    const double edgeLength = alongX ? FPaper[2] - FPaper[0] : FPaper[3] - FPaper[1];
    const double start = (alongX ? FPaper[0] : FPaper[1]) + from * edgeLength, length = span * edgeLength;
    const uint32_t seed = uint32_t(FRandom.Next());
    const double pixel = PixelMm();
    const TInk lid = FPlan.DarkBackground ? TInk{30, 30, 34} : TInk{248, 248, 246};
    FCanvas->Shade(0, 0, FCanvas->Width() - 1, FCanvas->Height() - 1, [&](int x, int y, uint8_t* rgb) {
        const TSheetPoint p = Unmap(x, y);
        double inside[4] = {p.X - FPaper[0], p.Y - FPaper[1], FPaper[2] - p.X, FPaper[3] - p.Y};
        if (tornSide >= 0) {
            const double t = ((alongX ? p.X : p.Y) - start) / length;
            if (t > 0 && t < 1)
                inside[tornSide] -= FPlan.TearMm * std::pow(std::sin(Pi * t), 0.6) *
                                    (0.75 + 0.5 * ValueNoise(alongX ? p.X : p.Y, 0, 1.5, seed));
        }
        const double distance = *std::min_element(inside, inside + 4) / pixel;
        if (distance >= 1)
            return;
        const double paper = std::clamp(0.5 + distance, 0.0, 1.0);
        // On a white lid the paper's edge throws a thin shadow.
        const double shadow = FPlan.DarkBackground ? 0 : std::max(0.0, 1 - std::abs(distance + 1) / 1.5) * 60;
        const uint8_t target[3] = {lid.Red, lid.Green, lid.Blue};
        for (int c = 0; c < 3; ++c)
            rgb[c] = uint8_t(std::clamp(std::lround(rgb[c] * paper + target[c] * (1 - paper) - shadow), 0L, 255L));
    });
}

// The scanner's noise and the paper's uneven tone.
void TSheetPainter::Grain()
{
    const uint32_t seed = uint32_t(FRandom.Next());
    const double noise = FPlan.Noise * 1.7320508 / 2, cell = 2 / PixelMm();
    FCanvas->Shade(0, 0, FCanvas->Width() - 1, FCanvas->Height() - 1, [&](int x, int y, uint8_t* rgb) {
        const uint32_t hash = Hash(uint32_t(x), uint32_t(y), seed);
        const double n = (int((hash & 0xFF) + ((hash >> 8) & 0xFF) + ((hash >> 16) & 0xFF) + (hash >> 24)) - 510) / 255.0;
        const double tone = 1 + 0.04 * (ValueNoise(x, y, cell * 6, seed ^ 0x55u) - 0.5);
        for (int c = 0; c < 3; ++c)
            rgb[c] = uint8_t(std::clamp(std::lround(rgb[c] * tone + n * noise * 2), 0L, 255L));
    });
}

TSheet TSheetPainter::Paint()
{
    if (FPlan.NoFrame) {
        Content();
        Grid();
    } else {
        Content();
        if (FPlan.FillSides)
            FillToFrame();
        Grid();
        Frames();
        Margin();
    }
    Folds();
    Stains();
    PaperEdge();
    FCanvas->Blur(FPlan.BlurPx);
    Grain();

    TSheet sheet;
    const double w = FPlan.FrameWidthMm, h = FPlan.FrameHeightMm;
    sheet.Corners = {Map({0, 0}), Map({w, 0}), Map({w, h}), Map({0, h})};
    if (!FPlan.Grey) {
        sheet.Bitmap = FCanvas->Release();
        return sheet;
    }
    const TBitmap& colour = FCanvas->Bitmap();
    auto grey = std::make_unique<TBitmap>();
    grey->SetPixelFormat(bf8Bit);
    std::vector<TPaletteEntry> ramp(256);
    for (int i = 0; i < 256; ++i)
        ramp[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    grey->SetPalette(CreatePalette(ramp));
    grey->SetSize(colour.Width(), colour.Height());
    for (int y = 0; y < colour.Height(); ++y) {
        const uint8_t* in = colour.ScanLine(y);
        uint8_t* out = grey->ScanLine(y);
        for (int x = 0; x < colour.Width(); ++x)
            out[x] = uint8_t((29 * in[3 * x] + 150 * in[3 * x + 1] + 77 * in[3 * x + 2] + 128) >> 8);
    }
    sheet.Bitmap = std::move(grey);
    return sheet;
}

} // namespace

TSheet DrawSheet(const TSheetPlan& plan)
{
    return TSheetPainter(plan).Paint();
}

TSheetPlan RandomSheetPlan(uint32_t seed, double megapixels)
{
    TRandom random(seed ^ 0xA5A5A5A5u);
    TSheetPlan plan;
    plan.Seed = seed;
    plan.FrameWidthMm = random.Uniform(350, 600);
    plan.FrameHeightMm = plan.FrameWidthMm * (random.Chance(0.8) ? random.Uniform(0.8, 1.25) : random.Uniform(0.6, 1.6));
    const double roll = random.Uniform();
    plan.RotationDegrees = roll < 0.05 ? 0 : random.Sign() * (roll < 0.85 ? random.Uniform(0, 4) : random.Uniform(4, 8));
    plan.StretchY = 1 + random.Sign() * random.Uniform(0, 0.012);
    plan.NeatlineMm = random.Uniform(0.08, 0.3);
    const double frame = random.Uniform();
    plan.OuterFrame = frame < 0.15 ? okNone : frame < 0.6 ? okSingle : frame < 0.8 ? okDouble : okGraduated;
    plan.OuterGapMm = random.Uniform(3, 12);
    plan.OuterWidthMm = random.Uniform(0.4, 1.5);
    plan.MarginMm = random.Uniform(10, 50);
    plan.ScanBeyondMm = random.Chance(0.6) ? plan.MarginMm + random.Uniform(5, 30) : plan.MarginMm * random.Uniform(0.3, 0.9);
    plan.DarkBackground = random.Chance(0.4);
    plan.GridSpacingMm = random.Chance(0.8) ? random.Uniform(20, 80) : 0;
    plan.GridAngleDegrees = random.Chance(0.6) ? 0 : random.Sign() * random.Uniform(0.3, 2.5);
    plan.GridAcrossFrame = random.Chance(0.4);
    plan.GridWidthMm = random.Uniform(0.08, 0.2);
    plan.ContentDensity = random.Uniform(0.3, 1.5);
    const double folds = random.Uniform();
    plan.Folds = folds < 0.4 ? 0 : folds < 0.8 ? 1 : 2;
    plan.FoldShiftPx = random.Uniform(0, 0.5);
    plan.Stains = random.Chance(0.4) ? random.Int(1, 4) : 0;
    if (random.Chance(0.2)) {
        const double reach = random.Uniform();
        // Mostly into the margin; now and then through the outer frame, or into the map.
        plan.TearMm = reach < 0.7   ? plan.MarginMm * random.Uniform(0.3, 0.8)
                      : reach < 0.9 ? plan.MarginMm + plan.OuterGapMm * 0.5
                                    : plan.MarginMm + plan.OuterGapMm + random.Uniform(2, 15);
    }
    plan.BlurPx = random.Uniform(0.3, 1.2);
    plan.Noise = random.Uniform(1.5, 8);
    plan.Grey = random.Chance(0.25);
    const double beyond = std::max(plan.OuterGapMm + 2, plan.OuterGapMm + std::min(plan.MarginMm, plan.ScanBeyondMm));
    // The scan holds the turned sheet's bounding box.
    const double turn = std::abs(plan.RotationDegrees) * Pi / 180;
    const double w = plan.FrameWidthMm + 2 * beyond, h = plan.FrameHeightMm + 2 * beyond;
    const double area = (w * std::cos(turn) + h * std::sin(turn)) * (w * std::sin(turn) + h * std::cos(turn)) * plan.StretchY;
    plan.Dpi = 25.4 * std::sqrt(megapixels * 1e6 / area);
    return plan;
}

void AddPaperBow(TSheetPlan& plan)
{
    TRandom random(plan.Seed ^ 0x5EEDB0E5u);
    if (!random.Chance(1.0 / 3))
        return;
    for (int side = 0; side < 4; ++side)
        plan.SideBowMm[size_t(side)] =
            random.Sign() * random.Uniform(0, 0.003) * (side < 2 ? plan.FrameWidthMm : plan.FrameHeightMm);
}

const char* const SheetVariationNames[4] = {"no new variation", "graduated border outside the neatline",
                                            "a sea tint up to the neatline", "a second line merging with a side"};

TSheetVariation AddSheetVariation(TSheetPlan& plan)
{
    TRandom random(plan.Seed ^ 0xF1A7E5u);
    const auto variation = TSheetVariation(random.Int(0, 3));
    const double pixel = 25.4 / plan.Dpi;
    switch (variation) {
    case svNone:
        break;
    case svGraduatedBorder: {
        const double gap = random.Uniform(3, 8), outer = random.Uniform(gap + 3, 18);
        plan.BorderGapMm = gap * pixel;
        plan.BorderWidthMm = (outer - gap) * pixel;
        plan.BorderPieceMm = random.Uniform(4, 30);
        // The outer frame, and the text between, beyond the border.
        plan.OuterGapMm = std::max(plan.OuterGapMm, 3 * outer * pixel + 2);
        break;
    }
    case svFillToFrame:
        do
            plan.FillSides = random.Int(1, 14);
        while (plan.FillSides == 7 || plan.FillSides == 11 || plan.FillSides == 13 || plan.FillSides == 14);
        break;
    case svMergingLine:
        plan.MergeSide = random.Int(0, 3);
        plan.MergeGapMm = random.Uniform(2, 6) * pixel;
        plan.MergeShare = random.Uniform(0.2, 0.7);
        plan.MergeFromEnd = random.Chance(0.5);
        break;
    }
    return variation;
}

std::string DescribeSheet(const TSheetPlan& plan)
{
    static const char* const frames[] = {"no outer frame", "single", "double", "graduated"};
    std::ostringstream out;
    out.precision(3);
    out << "seed " << plan.Seed << ", " << plan.FrameWidthMm << " x " << plan.FrameHeightMm << " mm at " << plan.Dpi
        << " dpi, turned " << plan.RotationDegrees << " deg, y stretched " << plan.StretchY << ", neatline "
        << plan.NeatlineMm << " mm, " << frames[plan.OuterFrame] << " at " << plan.OuterGapMm << " mm, "
        << (plan.DarkBackground ? "dark" : "white") << " lid, grid "
        << (plan.GridSpacingMm > 0 ? std::to_string(int(plan.GridSpacingMm)) + " mm" : std::string("none"))
        << (plan.GridAcrossFrame ? " across the frame" : "") << ", " << plan.Folds << " folds, " << plan.Stains
        << " stains, tear " << plan.TearMm << " mm, blur " << plan.BlurPx << ", noise " << plan.Noise
        << (plan.Grey ? ", grey" : "");
    if (std::any_of(plan.SideBowMm.begin(), plan.SideBowMm.end(), [](double bow) { return bow != 0; }))
        out << ", sides bowed " << plan.SideBowMm[0] << " " << plan.SideBowMm[1] << " " << plan.SideBowMm[2] << " "
            << plan.SideBowMm[3] << " mm";
    if (plan.BorderWidthMm > 0)
        out << ", graduated border " << plan.BorderGapMm / 25.4 * plan.Dpi << " to "
            << (plan.BorderGapMm + plan.BorderWidthMm) / 25.4 * plan.Dpi << " px out, pieces " << plan.BorderPieceMm
            << " mm";
    if (plan.FillSides)
        out << ", sea up to the frame (sides " << plan.FillSides << ")";
    if (plan.RulesToOuterFrame)
        out << ", sides run on to the outer frame";
    if (plan.MergeSide >= 0)
        out << ", a line " << plan.MergeGapMm / 25.4 * plan.Dpi << " px inside side " << plan.MergeSide
            << " merging " << plan.MergeShare << " along" << (plan.MergeFromEnd ? " from its end" : "");
    return out.str();
}
