// What a fit says about its points: errors in pixels of the fit's own
// scales, the errors left out, and the warnings for mistyped points and for
// points that leave the fit uncertain.
#include "georef/fit_quality.h"

#include "platform/exceptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// 10 map units a pixel, east with the columns.
TControlPoint At(int id, double col, double row, TPointRole role = TPointRole::Fitted)
{
    return {id, col, row, 3500000 + 10 * col, 5405000 - 10 * row, role};
}

TControlPoints Grid9()
{
    TControlPoints points;
    for (const double row : {40, 240, 440})
        for (const double col : {50, 320, 590})
            points.push_back(At(static_cast<int>(points.size()) + 1, col, row));
    return points;
}

TControlPoints Mistyped(TControlPoints points, size_t index, double east)
{
    points[index].East += east;
    return points;
}

TEST(FitQuality, LeftOutErrorsWarningsAndPixelsOfTheFit)
{
    const TControlPoints corners = {At(1, 50, 40), At(2, 590, 40), At(3, 590, 440), At(4, 50, 440), At(5, 320, 240)};
    // 2 map units a pixel along the rows, 4 down the columns: a check point
    // 2 east and 4 south of its place is one pixel off along each.
    auto stretched = [](int id, double col, double row, double east, double north, TPointRole role) {
        return TControlPoint{id, col, row, 1000 + 2 * col + east, 2000 - 4 * row + north, role};
    };
    const struct {
        const char* Name;
        std::string Transform;
        TControlPoints Points;
        std::vector<std::string> Warnings; // or the error's text alone
        size_t LeftOut = 0;                // points with an error left out
        double CheckPixels = -1;           // RMS of the check points; -1: none
    } cases[] = {
        {"nine points, point 5 mistyped by 60 units", "affine", Mistyped(Grid9(), 4, 60),
         {"Point 5 may be mistyped or misplaced: fitted without it, it lies 6.000 pixels from its coordinates, "
          "more than three times the 0.000 pixels of the others"},
         9},
        {"a mistake of 15 units is below the 2 pixels worth naming", "affine", Mistyped(Grid9(), 4, 15), {}, 9},
        {"four corners and the middle: a corner and the opposite one cannot be told apart", "affine",
         Mistyped(corners, 0, 60),
         {"Point 3 or point 1 may be mistyped or misplaced, and the other points cannot tell which: fitted without "
          "point 3, it lies 6.067 pixels from its coordinates, the others 0.000; without point 1, it lies 6.000 "
          "pixels from its coordinates, the others 0.000"},
         5},
        {"three points: nothing left out", "affine", {At(1, 50, 40), At(2, 590, 40), At(3, 320, 440)}, {}, 0},
        {"nearly on one line, and in a narrow strip", "affine",
         {At(1, 50, 40), At(2, 250, 190), At(3, 450, 340), At(4, 600, 440), At(5, 300, 240)},
         {"The fitted points lie nearly on one line: the fit is uncertain across it",
          "The fitted points enclose only 2 % of the sheet: the fit is uncertain away from them"},
         5},
        {"in one corner", "helmert", {At(1, 10, 10), At(2, 110, 10), At(3, 110, 110), At(4, 10, 110)},
         {"The fitted points enclose only 3 % of the sheet: the fit is uncertain away from them"}, 4},
        {"two-point with more fitted points", "two-point", {At(1, 50, 40), At(2, 590, 440), At(3, 590, 40)},
         {"The transformation two-point goes through the first two fitted points only; the others are measured, "
          "not fitted"},
         3},
        {"a check point in pixels of the fit's own scales", "affine",
         {stretched(1, 0, 0, 0, 0, TPointRole::Fitted), stretched(2, 600, 0, 0, 0, TPointRole::Fitted),
          stretched(3, 0, 450, 0, 0, TPointRole::Fitted), stretched(4, 300, 200, 2, -4, TPointRole::Check)},
         {}, 0, std::sqrt(2.0)},
        {"points on one line", "affine", {At(1, 0, 0), At(2, 100, 100), At(3, 300, 300)},
         {"The 3 fitted points do not determine the transformation affine: they lie too close to one line (or "
          "curve), or on the same pixel"}},
        {"too few for the polynomial of degree 3", "polynomial3", Grid9(),
         {"The transformation polynomial3 needs at least 10 fitted points, and 9 are fitted"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            const TFitResult fit = FitControlPoints(c.Transform, c.Points);
            const TFitQuality quality = AssessFit(fit, c.Points, {640, 480});
            EXPECT_EQ(quality.Warnings, c.Warnings);
            EXPECT_EQ(static_cast<size_t>(std::count_if(quality.LeaveOneOut.begin(), quality.LeaveOneOut.end(),
                                                        [](const auto& v) { return v.has_value(); })),
                      c.LeftOut);
            EXPECT_EQ(quality.RmsFree.has_value(), c.LeftOut > 0);
            ASSERT_EQ(quality.CheckRms.has_value(), c.CheckPixels >= 0);
            if (quality.CheckRms) {
                EXPECT_NEAR(quality.CheckRms->Pixels, c.CheckPixels, 1e-9);
            }
        } catch (const Exception& e) {
            EXPECT_EQ(std::vector<std::string>{e.Message()}, c.Warnings);
        }
    }
}

} // namespace
