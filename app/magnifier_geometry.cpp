#include "app/magnifier_geometry.h"

#include "platform/rounding.h"

#include <algorithm>

TZoomRefresh ComputeZoomRefresh(int cx, int cy, int pictureWidth, int pictureHeight, int position,
                                int screenWidth, int screenHeight)
{
    TZoomRefresh r;
    const int p = std::clamp(position, 1, 4);
    const int W = pictureWidth;
    const int H = pictureHeight;
    r.Destination = {0, 0, W, H};
    r.Dx = RoundToInt(static_cast<double>(W) / (4.0 * p));
    r.Dy = RoundToInt(static_cast<double>(H) / (4.0 * p));

    TRect s{cx - r.Dx, cy - r.Dy, cx + r.Dx, cy + r.Dy};
    // Each test sees the rectangle as the previous ones left it.
    if (s.Left < 0) {
        const int shift = -s.Left;
        s.Left += shift;
        s.Right += shift;
    }
    if (s.Top < 0) {
        const int shift = -s.Top;
        s.Top += shift;
        s.Bottom += shift;
    }
    if (s.Right > screenWidth) {
        const int shift = s.Right - screenWidth;
        s.Left -= shift;
        s.Right -= shift;
    }
    if (s.Bottom > screenHeight) {
        const int shift = s.Bottom - screenHeight;
        s.Top -= shift;
        s.Bottom -= shift;
    }
    r.Source = s;

    const int ux = 2 * p * (cx - s.Left);
    const int uy = 2 * p * (cy - s.Top);
    r.Cursor = {ux, uy};
    r.Horizontal = {{ux - W / 4, uy}, {ux + W / 4, uy}};
    r.Vertical = {{ux, uy - H / 4}, {ux, uy + H / 4}};
    return r;
}

TClientLimits MagnifierClientLimits(int frameExtraWidth, int frameExtraHeight)
{
    const int fw = std::max(0, frameExtraWidth);
    const int fh = std::max(0, frameExtraHeight);
    return {std::max(0, kMagnifierMinOuterWidth - fw), std::max(0, kMagnifierMinOuterHeight - fh),
            std::max(0, kMagnifierMaxOuterWidth - fw), std::max(0, kMagnifierMaxOuterHeight - fh)};
}
