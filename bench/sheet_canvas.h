#pragma once
// A 24-bit bitmap drawn on with exact area coverage: every convex shape
// covers each pixel by the exact share of the pixel's square it overlaps
// (pixel centres at integer positions), so that where a line lies is known
// to the last digit. Used to make synthetic scanned sheets with known truth.
#include "platform/bitmap.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct TSheetPoint {
    double X = 0;
    double Y = 0;
};

struct TInk {
    uint8_t Red = 0, Green = 0, Blue = 0;
    double Opacity = 1;
};

class TSheetCanvas {
public:
    TSheetCanvas(int width, int height, TInk paper);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    TBitmap& Bitmap() { return *FBitmap; }
    std::unique_ptr<TBitmap> Release() { return std::move(FBitmap); }

    // A convex polygon, its vertices in either turning order.
    void FillConvex(const std::vector<TSheetPoint>& polygon, const TInk& ink);
    // A straight stroke of the given width with square-cut ends at the points.
    void Stroke(TSheetPoint from, TSheetPoint to, double width, const TInk& ink);

    // Calls shade(x, y, rgb) for every pixel of the rectangle (clipped);
    // rgb points at the pixel's red, green and blue bytes, in that order.
    void Shade(int left, int top, int right, int bottom, const std::function<void(int, int, uint8_t*)>& shade);

    // Gaussian blur of the given standard deviation, in place.
    void Blur(double sigma);

private:
    void Blend(int x, int y, double coverage, const TInk& ink);

    int FWidth, FHeight;
    std::unique_ptr<TBitmap> FBitmap;
};

// Area of the pixel square centred on (x, y) inside the convex polygon
// (whose vertices turn counter-clockwise in x-right, y-down terms or not:
// either order is taken).
double CoveredArea(const std::vector<TSheetPoint>& polygon, double x, double y);
