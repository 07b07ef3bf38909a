// The list of control points on its way to a save: the fit chosen by name,
// what it writes, and how every point, fitted or check, is measured.
#include "georef/gcp_points_file.h"
#include "georef/save_request.h"
#include "georef/world_file.h"

#include "platform/exceptions.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

// The sample map: 10 map units a pixel, point 3 a check point picked 5 and
// 4 pixels off its coordinates, listed between the two fitted points.
const TControlPoint P1{1, 100, 100, 3501000, 5404000};
const TControlPoint P2{2, 500, 400, 3505000, 5401000};
const TControlPoint P3{3, 300, 200, 3503050, 5402960, TPointRole::Check};

TEST(SaveRequest, FitsByNameAndMeasuresEveryPoint)
{
    TControlPoint fittedP3 = P3;
    fittedP3.Role = TPointRole::Fitted;
    TControlPoint onP1 = P2; // another pixel, point 1's map coordinates
    onP1.East = P1.East, onP1.North = P1.North;
    TControlPoint thirdOnP1 = fittedP3;
    thirdOnP1.East = P1.East, thirdOnP1.North = P1.North;
    const struct {
        const char* Name;
        TControlPoints Points;
        std::string Transform;
        bool Negate;
        std::string Result; // the world file, or the error's text
        std::vector<double> Pixels; // residuals in pixels, in list order
    } cases[] = {
        {"two points", {P1, P2}, "two-point", false, pwtest::SampleWorldFile, {0, 0}},
        {"a check point is measured, not fitted", {P1, P3, P2}, "two-point", false, pwtest::SampleWorldFile,
         {0, 6.4031242374328485, 0}},
        {"similarity keeps its rotation terms", {P1, P3, P2}, "similarity", false,
         "10.000000000000\r\n0.000000000000\r\n0.000000000000\r\n-10.000000000000\r\n3500000.000\r\n5405000.000\r\n",
         {0, 6.4031242374328485, 0}},
        {"negated before the fit", {P1, P2}, "two-point", true,
         "10.000000000000\r\n0.000\r\n0.000\r\n-10.000000000000\r\n-3502000.000\r\n-5403000.000\r\n", {0, 1000}},
        {"only the first two fitted points count", {P1, fittedP3, P2}, "two-point", false,
         "10.280175095785\r\n0.000\r\n0.000\r\n-10.280175095785\r\n3499971.982\r\n5405028.018\r\n",
         {0, 1.3050813695746177, 13.6269612712889}},
        {"too few fitted points", {P1, P3}, "two-point", false,
         "The transformation two-point needs at least 2 fitted points, and 1 is fitted", {}},
        {"unknown name", {P1, P2}, "cubic", false,
         "Unknown transformation 'cubic' (the transformations are two-point, similarity, helmert, affine, "
         "projective, polynomial2, polynomial3, tps)",
         {}},
        {"the same map coordinates give no scale", {P1, P3, onP1}, "two-point", false,
         "Points 1 and 2 have the same map coordinates, which give no scale", {}},
        {"nor with a rotation", {P1, onP1}, "similarity", false,
         "Points 1 and 2 have the same map coordinates, which give no scale", {}},
        {"nor fitted by an affine", {P1, onP1, thirdOnP1}, "affine", false,
         "All 3 fitted points have the same map coordinates, which give no scale", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TGeorefOptions options;
        options.Transform = c.Transform;
        options.Negate = c.Negate;
        try {
            const TSaveRequest request = BuildSaveRequest(c.Points, options);
            EXPECT_EQ(WorldFileText(request.Fit), c.Result);
            ASSERT_EQ(request.Fit.Residuals.size(), c.Pixels.size());
            for (size_t i = 0; i < c.Pixels.size(); ++i) {
                EXPECT_EQ(request.Fit.Residuals[i].Id, c.Points[i].Id);
                EXPECT_NEAR(request.Fit.Residuals[i].Pixels, c.Pixels[i], 1e-9) << i;
            }
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Result);
        }
    }
    // A check point is saved as a point the fit does not use.
    EXPECT_EQ(GcpPointsText({P1, P3}, {}), "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n"
                                           "3501000,5404000,100.5,-100.5,1,0,0,0\n"
                                           "3503050,5402960,300.5,-200.5,0,0,0,0\n");
}

TEST(SaveRequest, PointFilesKeepEveryPointAndTheirResiduals)
{
    // Point 3's coordinates lie 5 pixels right of its pixel and 4 below it
    // (the file's dY grows upward).
    const TControlPoints points = {P1, P3, P2};
    const std::string text = "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n"
                             "3501000,5404000,100.5,-100.5,1,0,0,0\n"
                             "3503050,5402960,300.5,-200.5,0,5,-4,6.4031\n"
                             "3505000,5401000,500.5,-400.5,1,0,0,0\n";
    EXPECT_EQ(GcpPointsText(points, {}, FitControlPoints("two-point", points)), text);
    pwtest::TempDir dir;
    pwtest::WriteText(dir.File("all.points"), text);
    const TControlPoints read = ReadEveryGcpPoint(dir.File("all.points")).Points;
    ASSERT_EQ(read.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(read[i].Id, static_cast<int>(i) + 1);
        EXPECT_EQ(read[i].Role, points[i].Role);
        EXPECT_EQ(std::vector<double>({read[i].Col, read[i].Row, read[i].East, read[i].North}),
                  std::vector<double>({points[i].Col, points[i].Row, points[i].East, points[i].North}));
    }
}

} // namespace
