#pragma once
// The arithmetic of one magnifier refresh, free of any window code.
#include "platform/graphic.h"

struct TPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TPoint&) const = default;
};

// A line from Start towards End, End itself not drawn.
struct TLineSegment {
    TPoint Start;
    TPoint End;
    bool operator==(const TLineSegment&) const = default;
};

struct TZoomRefresh {
    int Dx = 0;           // half-width of the source
    int Dy = 0;           // half-height of the source
    TRect Source;         // screen rectangle copied, already kept on the screen
    TRect Destination;    // (0, 0, W, H) in the picture
    TPoint Cursor;        // the cursor's position in the picture
    TLineSegment Horizontal;
    TLineSegment Vertical;
};

// One refresh for cursor (cx, cy), picture size W x H, slider position p
// (1..4: 2, 4, 6, 8 times) and the primary screen's size.
TZoomRefresh ComputeZoomRefresh(int cx, int cy, int pictureWidth, int pictureHeight, int position,
                                int screenWidth, int screenHeight);

// Client size limits that keep the outer window between 158 x 177 and
// 350 x 350, given the frame's extra width and height.
struct TClientLimits {
    int MinWidth;
    int MinHeight;
    int MaxWidth;
    int MaxHeight;
};
TClientLimits MagnifierClientLimits(int frameExtraWidth, int frameExtraHeight);

inline constexpr int kMagnifierMinOuterWidth = 158;
inline constexpr int kMagnifierMinOuterHeight = 177;
inline constexpr int kMagnifierMaxOuterWidth = 350;
inline constexpr int kMagnifierMaxOuterHeight = 350;
