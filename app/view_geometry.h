#pragma once
// The arithmetic of the image view's zoom, free of any window code: the zoom
// levels, the mapping between view and image pixels, and the scroll position
// that keeps a point in place while the scale changes.

// A zoom level is the divisor of the image's size: 1, 2, 4, 8 or 16, or
// kZoomFit for the scale that fits the whole image into the view.
inline constexpr int kZoomFit = 0;
inline constexpr int kZoomDivisors[] = {16, 8, 4, 2, 1};

// Scale of fit: the whole image inside the view, never enlarged.
double FitScale(int imageWidth, int imageHeight, int viewWidth, int viewHeight);
// Scale of a level (fitScale for kZoomFit).
double ZoomScale(int level, double fitScale);
// The next level with a larger (ZoomIn) or smaller (ZoomOut) scale, or the
// level itself at either end. Fit takes its place among the others by its scale.
int ZoomIn(int level, double fitScale);
int ZoomOut(int level, double fitScale);
// Text of a level in the zoom field: "Fit", "1:16" ... "1:1"; and back (-1: none).
const char* ZoomText(int level);
int ZoomFromText(const char* text);

// Size in view pixels of an image extent at a scale (at least 1).
int ViewExtent(int imageExtent, double scale);
// The whole image pixel under a view coordinate, kept inside the image.
int ImagePixelAt(double viewCoordinate, double scale, int imageExtent);
// The view coordinate of the centre of an image pixel.
double ViewOfPixelCentre(int pixel, double scale);
// Scroll position after a change of scale that keeps the point at cursor
// (relative to the viewport) over the same image point.
int ScrollKeepingPoint(int scroll, int cursor, double oldScale, double newScale);
// The overview level (1: half size, 2: quarter, ...) to paint a scale from:
// the smallest one still at least as fine as the scale; 0 is the image itself.
int OverviewLevelFor(double scale, int levels);
