#include "app/magnifier_geometry.h"

#include <gtest/gtest.h>

namespace {

struct TDesignCase {
    int Position;
    int Half;
};

} // namespace

TEST(MagnifierGeometry, DesignSizeGivesTheHalfSizesOfEachMagnification)
{
    // 150 / (4 p): 37.5, 18.75, 12.5, 9.375; halves go to the even neighbour.
    const TDesignCase cases[] = {{1, 38}, {2, 19}, {3, 12}, {4, 9}};
    for (const TDesignCase& c : cases) {
        const TZoomRefresh r = ComputeZoomRefresh(500, 400, 150, 150, c.Position, 1024, 768);
        EXPECT_EQ(r.Dx, c.Half) << "position " << c.Position;
        EXPECT_EQ(r.Dy, c.Half) << "position " << c.Position;
        EXPECT_EQ(r.Source, (TRect{500 - c.Half, 400 - c.Half, 500 + c.Half, 400 + c.Half}));
        EXPECT_EQ(r.Destination, (TRect{0, 0, 150, 150}));
    }
}

TEST(MagnifierGeometry, HalfSizesOfAWideAndLowPicture)
{
    // 350 / 8 = 43.75 and 170 / 8 = 21.25; 340 / 8 = 42.5 goes down to 42.
    TZoomRefresh r = ComputeZoomRefresh(500, 400, 350, 170, 2, 1024, 768);
    EXPECT_EQ(r.Dx, 44);
    EXPECT_EQ(r.Dy, 21);
    r = ComputeZoomRefresh(500, 400, 340, 340, 2, 1024, 768);
    EXPECT_EQ(r.Dx, 42);
}

TEST(MagnifierGeometry, CrosshairSitsOnTheCursorAwayFromTheEdges)
{
    const TZoomRefresh r = ComputeZoomRefresh(500, 400, 150, 150, 1, 1024, 768);
    EXPECT_EQ(r.Cursor, (TPoint{76, 76}));
    EXPECT_EQ(r.Horizontal, (TLineSegment{{39, 76}, {113, 76}}));
    EXPECT_EQ(r.Vertical, (TLineSegment{{76, 39}, {76, 113}}));
}

TEST(MagnifierGeometry, TopLeftCornerShiftsTheSourceOntoTheScreen)
{
    const TZoomRefresh r = ComputeZoomRefresh(0, 0, 150, 150, 1, 1024, 768);
    EXPECT_EQ(r.Source, (TRect{0, 0, 76, 76}));
    EXPECT_EQ(r.Cursor, (TPoint{0, 0}));
    EXPECT_EQ(r.Horizontal, (TLineSegment{{-37, 0}, {37, 0}}));
    EXPECT_EQ(r.Vertical, (TLineSegment{{0, -37}, {0, 37}}));

    const TZoomRefresh near = ComputeZoomRefresh(5, 3, 150, 150, 4, 1024, 768);
    EXPECT_EQ(near.Source, (TRect{0, 0, 18, 18}));
    EXPECT_EQ(near.Cursor, (TPoint{40, 24}));
}

TEST(MagnifierGeometry, CrosshairFollowsTheCursorAfterAShiftAtTheBottomRight)
{
    const TZoomRefresh r = ComputeZoomRefresh(1020, 767, 200, 100, 2, 1024, 768);
    // dx = 25, dy = round(12.5) = 12.
    EXPECT_EQ(r.Source, (TRect{974, 744, 1024, 768}));
    EXPECT_EQ(r.Cursor, (TPoint{4 * (1020 - 974), 4 * (767 - 744)}));
    EXPECT_EQ(r.Horizontal, (TLineSegment{{184 - 50, 92}, {184 + 50, 92}}));
    EXPECT_EQ(r.Vertical, (TLineSegment{{184, 92 - 25}, {184, 92 + 25}}));
}

TEST(MagnifierGeometry, ShiftsApplyInOrderSoTheLeftEdgeYieldsToTheRight)
{
    // A source wider than the screen: moved right first, then back left, so
    // its right edge ends on the screen's and its left edge off it.
    const TZoomRefresh r = ComputeZoomRefresh(10, 10, 400, 400, 1, 150, 150);
    EXPECT_EQ(r.Source, (TRect{-50, -50, 150, 150}));
    EXPECT_EQ(r.Cursor, (TPoint{120, 120}));
}

TEST(MagnifierGeometry, ClientLimitsLeaveRoomForTheFrame)
{
    const TClientLimits windowsLike = MagnifierClientLimits(8, 27);
    EXPECT_EQ(windowsLike.MinWidth, 150);
    EXPECT_EQ(windowsLike.MinHeight, 150);
    EXPECT_EQ(windowsLike.MaxWidth, 342);
    EXPECT_EQ(windowsLike.MaxHeight, 323);
    const TClientLimits frameless = MagnifierClientLimits(0, 0);
    EXPECT_EQ(frameless.MinWidth, 158);
    EXPECT_EQ(frameless.MinHeight, 177);
    EXPECT_EQ(frameless.MaxWidth, 350);
    EXPECT_EQ(frameless.MaxHeight, 350);
}
