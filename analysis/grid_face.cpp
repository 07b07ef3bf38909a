#include "analysis/grid_face.h"

#include <algorithm>
#include <cmath>
#include <limits>

double TGridFace::Inside(double x, double y) const
{
    const double cx = (Corners[0] + Corners[2] + Corners[4] + Corners[6]) / 4;
    const double cy = (Corners[1] + Corners[3] + Corners[5] + Corners[7]) / 4;
    double inside = std::numeric_limits<double>::max();
    for (int k = 0; k < 4; ++k) {
        const double ax = Corners[2 * k], ay = Corners[2 * k + 1];
        const double bx = Corners[(2 * k + 2) % 8], by = Corners[(2 * k + 3) % 8];
        const double length = std::hypot(bx - ax, by - ay);
        if (length <= 0)
            return -1;
        const double side = ((bx - ax) * (y - ay) - (by - ay) * (x - ax)) / length;
        const double centre = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
        inside = std::min(inside, centre >= 0 ? side : -side);
    }
    return inside;
}

TGridFace PictureFace(int width, int height, double margin)
{
    const double l = margin, t = margin, r = width - 1 - margin, b = height - 1 - margin;
    return {{l, t, r, t, r, b, l, b}, false};
}
