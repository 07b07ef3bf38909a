#include "app/view_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Scales of fixed levels are exact powers of two; fit may fall between them
// or equal one of them, in which case the fixed level is the one kept.
constexpr double kSameScale = 1e-9;

std::vector<int> LevelsByScale(double fitScale)
{
    std::vector<int> levels(std::begin(kZoomDivisors), std::end(kZoomDivisors));
    levels.push_back(kZoomFit);
    std::stable_sort(levels.begin(), levels.end(),
                     [fitScale](int a, int b) { return ZoomScale(a, fitScale) < ZoomScale(b, fitScale); });
    return levels;
}

} // namespace

double FitScale(int imageWidth, int imageHeight, int viewWidth, int viewHeight)
{
    if (imageWidth <= 0 || imageHeight <= 0 || viewWidth <= 0 || viewHeight <= 0)
        return 1.0;
    return std::min({1.0, double(viewWidth) / imageWidth, double(viewHeight) / imageHeight});
}

double ZoomScale(int level, double fitScale)
{
    return level == kZoomFit ? fitScale : 1.0 / level;
}

int ZoomIn(int level, double fitScale)
{
    const double current = ZoomScale(level, fitScale);
    for (int candidate : LevelsByScale(fitScale))
        if (ZoomScale(candidate, fitScale) > current + kSameScale)
            return candidate;
    return level;
}

int ZoomOut(int level, double fitScale)
{
    const double current = ZoomScale(level, fitScale);
    const std::vector<int> levels = LevelsByScale(fitScale);
    for (auto it = levels.rbegin(); it != levels.rend(); ++it)
        if (ZoomScale(*it, fitScale) < current - kSameScale)
            return *it;
    return level;
}

const char* ZoomText(int level)
{
    switch (level) {
    case kZoomFit: return "Fit";
    case 16: return "1:16";
    case 8: return "1:8";
    case 4: return "1:4";
    case 2: return "1:2";
    case 1: return "1:1";
    default: return "";
    }
}

int ZoomFromText(const char* text)
{
    if (std::strcmp(text, ZoomText(kZoomFit)) == 0)
        return kZoomFit;
    for (int divisor : kZoomDivisors)
        if (std::strcmp(text, ZoomText(divisor)) == 0)
            return divisor;
    return -1;
}

int ViewExtent(int imageExtent, double scale)
{
    // Powers of two give the overview's own sizes (rounded up); the small
    // allowance keeps a fitted image from spilling one pixel over the view.
    return std::max(1, static_cast<int>(std::ceil(imageExtent * scale - 1e-6)));
}

int ImagePixelAt(double viewCoordinate, double scale, int imageExtent)
{
    const int pixel = static_cast<int>(std::floor(viewCoordinate / scale));
    return std::clamp(pixel, 0, std::max(0, imageExtent - 1));
}

double ViewOfPixelCentre(int pixel, double scale)
{
    return (pixel + 0.5) * scale;
}

int ScrollKeepingPoint(int scroll, int cursor, double oldScale, double newScale)
{
    return static_cast<int>(std::lround((scroll + cursor) / oldScale * newScale - cursor));
}

int OverviewLevelFor(double scale, int levels)
{
    int level = 0;
    while (level < levels && 1.0 / (2 << level) >= scale - kSameScale)
        ++level;
    return level;
}
