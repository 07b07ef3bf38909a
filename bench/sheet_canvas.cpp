#include "bench/sheet_canvas.h"

#include <algorithm>
#include <cmath>

namespace {

// Keeps the part of polygon on the side of the edge a -> b where inside() is
// positive (Sutherland-Hodgman, one edge).
std::vector<TSheetPoint> ClipToHalfPlane(const std::vector<TSheetPoint>& polygon, double nx, double ny, double d)
{
    std::vector<TSheetPoint> out;
    const size_t n = polygon.size();
    for (size_t i = 0; i < n; ++i) {
        const TSheetPoint& p = polygon[i];
        const TSheetPoint& q = polygon[(i + 1) % n];
        const double sp = nx * p.X + ny * p.Y - d, sq = nx * q.X + ny * q.Y - d;
        if (sp >= 0)
            out.push_back(p);
        if ((sp >= 0) != (sq >= 0)) {
            const double t = sp / (sp - sq);
            out.push_back({p.X + t * (q.X - p.X), p.Y + t * (q.Y - p.Y)});
        }
    }
    return out;
}

double PolygonArea(const std::vector<TSheetPoint>& polygon)
{
    double twice = 0;
    for (size_t i = 0, n = polygon.size(); i < n; ++i) {
        const TSheetPoint& p = polygon[i];
        const TSheetPoint& q = polygon[(i + 1) % n];
        twice += p.X * q.Y - q.X * p.Y;
    }
    return twice / 2;
}

struct THalfPlane {
    double Nx, Ny, D; // inside where Nx x + Ny y >= D
};

std::vector<THalfPlane> HalfPlanes(const std::vector<TSheetPoint>& polygon)
{
    const double orientation = PolygonArea(polygon) >= 0 ? 1 : -1;
    std::vector<THalfPlane> planes;
    for (size_t i = 0, n = polygon.size(); i < n; ++i) {
        const TSheetPoint& p = polygon[i];
        const TSheetPoint& q = polygon[(i + 1) % n];
        // The inward normal of edge p -> q.
        const double nx = -(q.Y - p.Y) * orientation, ny = (q.X - p.X) * orientation;
        planes.push_back({nx, ny, nx * p.X + ny * p.Y});
    }
    return planes;
}

double CoveredArea(const std::vector<THalfPlane>& planes, double x, double y)
{
    // Whole or nothing without clipping when every corner lies on one side.
    bool whole = true;
    for (const THalfPlane& h : planes) {
        const double reach = 0.5 * (std::abs(h.Nx) + std::abs(h.Ny));
        const double s = h.Nx * x + h.Ny * y - h.D;
        if (s <= -reach)
            return 0;
        if (s < reach)
            whole = false;
    }
    if (whole)
        return 1;
    std::vector<TSheetPoint> square = {{x - 0.5, y - 0.5}, {x + 0.5, y - 0.5}, {x + 0.5, y + 0.5}, {x - 0.5, y + 0.5}};
    for (const THalfPlane& h : planes) {
        square = ClipToHalfPlane(square, h.Nx, h.Ny, h.D);
        if (square.empty())
            return 0;
    }
    return std::abs(PolygonArea(square));
}

} // namespace

double CoveredArea(const std::vector<TSheetPoint>& polygon, double x, double y)
{
    return CoveredArea(HalfPlanes(polygon), x, y);
}

TSheetCanvas::TSheetCanvas(int width, int height, TInk paper)
    : FWidth(width), FHeight(height), FBitmap(std::make_unique<TBitmap>())
{
    FBitmap->SetPixelFormat(bf24Bit);
    FBitmap->SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = FBitmap->ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = paper.Blue;
            row[3 * x + 1] = paper.Green;
            row[3 * x + 2] = paper.Red;
        }
    }
}

void TSheetCanvas::Blend(int x, int y, double coverage, const TInk& ink)
{
    uint8_t* p = FBitmap->ScanLine(y) + 3 * x;
    const double a = coverage * ink.Opacity;
    auto mix = [a](uint8_t& channel, uint8_t target) {
        channel = uint8_t(std::lround(channel + a * (double(target) - channel)));
    };
    mix(p[0], ink.Blue);
    mix(p[1], ink.Green);
    mix(p[2], ink.Red);
}

void TSheetCanvas::FillConvex(const std::vector<TSheetPoint>& polygon, const TInk& ink)
{
    if (polygon.size() < 3)
        return;
    const std::vector<THalfPlane> planes = HalfPlanes(polygon);
    double top = polygon[0].Y, bottom = polygon[0].Y;
    for (const TSheetPoint& p : polygon) {
        top = std::min(top, p.Y);
        bottom = std::max(bottom, p.Y);
    }
    const int firstRow = std::max(0, int(std::floor(top + 0.5))), lastRow = std::min(FHeight - 1, int(std::ceil(bottom - 0.5)));
    for (int y = firstRow; y <= lastRow; ++y) {
        // The polygon's extent within this row of pixels.
        std::vector<TSheetPoint> slab = ClipToHalfPlane(polygon, 0, 1, y - 0.5);
        slab = ClipToHalfPlane(slab, 0, -1, -(y + 0.5));
        if (slab.empty())
            continue;
        double left = slab[0].X, right = slab[0].X;
        for (const TSheetPoint& p : slab) {
            left = std::min(left, p.X);
            right = std::max(right, p.X);
        }
        const int from = std::max(0, int(std::floor(left + 0.5))), to = std::min(FWidth - 1, int(std::ceil(right - 0.5)));
        for (int x = from; x <= to; ++x)
            if (const double area = CoveredArea(planes, x, y); area > 0)
                Blend(x, y, area, ink);
    }
}

void TSheetCanvas::Stroke(TSheetPoint from, TSheetPoint to, double width, const TInk& ink)
{
    const double dx = to.X - from.X, dy = to.Y - from.Y, length = std::hypot(dx, dy);
    if (length <= 0 || width <= 0)
        return;
    const double nx = -dy / length * width / 2, ny = dx / length * width / 2;
    FillConvex({{from.X + nx, from.Y + ny}, {to.X + nx, to.Y + ny}, {to.X - nx, to.Y - ny}, {from.X - nx, from.Y - ny}},
               ink);
}

void TSheetCanvas::Shade(int left, int top, int right, int bottom, const std::function<void(int, int, uint8_t*)>& shade)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, FWidth - 1);
    bottom = std::min(bottom, FHeight - 1);
    for (int y = top; y <= bottom; ++y) {
        uint8_t* row = FBitmap->ScanLine(y);
        for (int x = left; x <= right; ++x) {
            uint8_t* p = row + 3 * x;
            uint8_t rgb[3] = {p[2], p[1], p[0]};
            shade(x, y, rgb);
            p[0] = rgb[2];
            p[1] = rgb[1];
            p[2] = rgb[0];
        }
    }
}

void TSheetCanvas::Blur(double sigma)
{
    if (sigma <= 0)
        return;
    const int radius = int(std::ceil(3 * sigma));
    std::vector<double> kernel(size_t(2 * radius + 1));
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[size_t(i + radius)] = std::exp(-0.5 * i * i / (sigma * sigma));
    // Fixed-point weights summing to 65536, so that flat areas stay exactly as they are.
    std::vector<int32_t> weights(kernel.size());
    int32_t total = 0;
    for (size_t i = 0; i < kernel.size(); ++i)
        total += weights[i] = int32_t(std::lround(kernel[i] / sum * 65536));
    weights[size_t(radius)] += 65536 - total;

    const int channels = 3 * FWidth;
    std::vector<uint8_t> line(size_t(channels + 6 * radius));
    for (int y = 0; y < FHeight; ++y) {
        uint8_t* row = FBitmap->ScanLine(y);
        // Edge pixels repeated beyond the border.
        for (int x = -radius; x < FWidth + radius; ++x) {
            const int source = std::clamp(x, 0, FWidth - 1);
            for (int c = 0; c < 3; ++c)
                line[size_t(3 * (x + radius) + c)] = row[3 * source + c];
        }
        for (int i = 0; i < channels; ++i) {
            int32_t acc = 0;
            for (int k = 0; k <= 2 * radius; ++k)
                acc += weights[size_t(k)] * line[size_t(i + 3 * k)];
            row[i] = uint8_t((acc + 32768) >> 16);
        }
    }
    // Columns: a window of the rows above and below, kept as they were.
    std::vector<std::vector<uint8_t>> window(size_t(2 * radius + 1), std::vector<uint8_t>(size_t(channels)));
    auto original = [&](int y) -> std::vector<uint8_t>& { return window[size_t((y % (2 * radius + 1) + 2 * radius + 1) % (2 * radius + 1))]; };
    auto load = [&](int y) {
        const uint8_t* row = FBitmap->ScanLine(std::clamp(y, 0, FHeight - 1));
        std::copy(row, row + channels, original(y).begin());
    };
    for (int y = -radius; y < radius; ++y)
        load(y);
    for (int y = 0; y < FHeight; ++y) {
        load(y + radius);
        uint8_t* row = FBitmap->ScanLine(y);
        for (int i = 0; i < channels; ++i) {
            int32_t acc = 0;
            for (int k = -radius; k <= radius; ++k)
                acc += weights[size_t(k + radius)] * original(y + k)[size_t(i)];
            row[i] = uint8_t((acc + 32768) >> 16);
        }
    }
}
