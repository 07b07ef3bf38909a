#pragma once
// A rectangle of a bitmap as darkness values: 255 minus the luminance
// (0.299 R + 0.587 G + 0.114 B), so that ink is high and paper low. The
// luminance is a linear mix of the channels, so a pixel half covered by a
// line lies half way between paper and ink, as the sub-pixel fits expect.
// Only the rows and columns of the rectangle are read: a snap on a huge scan
// costs the same as on a small one.
#include <cmath>
#include <cstddef>
#include <vector>

class TBitmap;

struct TDarknessWindow {
    int Left = 0; // bitmap column of element (0, 0)
    int Top = 0;  // bitmap row of element (0, 0)
    int Width = 0;
    int Height = 0;
    std::vector<float> Values; // row by row

    float At(int x, int y) const { return Values[static_cast<size_t>(y) * Width + x]; }

    // Darkness between elements, bilinear, at (x, y) counted from element
    // (0, 0); `outside` where the four elements around it are not all here.
    double Interpolated(double x, double y, double outside) const
    {
        const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
        if (x0 < 0 || y0 < 0 || x0 + 1 >= Width || y0 + 1 >= Height)
            return outside;
        const double fx = x - x0, fy = y - y0;
        return (1 - fy) * ((1 - fx) * At(x0, y0) + fx * At(x0 + 1, y0)) +
               fy * ((1 - fx) * At(x0, y0 + 1) + fx * At(x0 + 1, y0 + 1));
    }
};

// The rectangle clipped to the bitmap (empty when nothing of it lies inside).
// Pixels with alpha are laid over white paper.
TDarknessWindow ReadDarknessWindow(const TBitmap& bitmap, int left, int top, int width, int height);

// Standard deviation of the pixel noise, from the differences of neighbours
// along rows (a robust estimate: lines and edges are rare among them).
double NoiseLevel(const TDarknessWindow& window);

// True when the window holds two values or fewer: a bilevel scan, whose
// line edges are whole pixels and cannot be weighed as noise.
bool IsBilevel(const TDarknessWindow& window);
