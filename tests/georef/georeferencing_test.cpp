// The additions for GIS use: the check of the two points, the similarity
// transformation, systems looked up in PROJ and the ".points" files.
#include "georef/crs.h"
#include "georef/fit_solvers.h"
#include "georef/gcp_points_file.h"
#include "georef/point_check.h"
#include "georef/world_file.h"

#include "platform/exceptions.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TControlPoints Points(double col1, double row1, double col2, double row2, double y1, double x1, double y2, double x2)
{
    return {{1, col1, row1, y1, x1}, {2, col2, row2, y2, x2}};
}

// The values of both points in the order Points takes them.
std::vector<double> Values(const TControlPoints& p)
{
    return {p[0].Col, p[0].Row, p[1].Col, p[1].Row, p[0].East, p[0].North, p[1].East, p[1].North};
}

// The sample map's points: 10 units a pixel, Y east with the columns.
const TControlPoints Sample = Points(100, 100, 500, 400, 3501000, 5404000, 3505000, 5401000);

// Where a pixel lands when the picture is turned counter-clockwise about (320, 240).
void Turn(double degrees, double& col, double& row)
{
    const double a = degrees * M_PI / 180, c = col - 320, r = row - 240;
    col = 320 + c * std::cos(a) + r * std::sin(a);
    row = 240 - c * std::sin(a) + r * std::cos(a);
}

TEST(PointCheck, ReportsMisfitScalesRotationAndWarnings)
{
    TControlPoints turned = Sample;
    for (TControlPoint& p : turned)
        Turn(3, p.Col, p.Row);
    const struct {
        const char* Name;
        TControlPoints P;
        bool Rotate;
        std::vector<std::string> Lines;
    } cases[] = {
        {"clean pair", Sample, false,
         {"Misfit of point 2: 0.000 map units, 0.000 pixels", "Scale along rows: 10.000000, down columns: 10.000000",
          "Rotation implied by the points: 0.000 degrees"}},
        {"point 2 sent to 192 instead of 208", Points(0, 0, 3, 4, 100, 200, 106, 208), false,
         {"Misfit of point 2: 16.000 map units, 8.000 pixels", "Scale along rows: 2.000000, down columns: 2.000000",
          "Rotation implied by the points: -106.260 degrees", "Warning: Point 2 lies 8.000 pixels from its coordinates",
          "Warning: The map axes point the wrong way (Y and X swapped, or the sign toggle needed)"}},
        {"Y and X swapped", Points(100, 100, 500, 400, 5404000, 3501000, 5401000, 3505000), false,
         {"Misfit of point 2: 9899.495 map units, 989.949 pixels",
          "Scale along rows: 10.000000, down columns: 10.000000", "Rotation implied by the points: -163.740 degrees",
          "Warning: Point 2 lies 989.949 pixels from its coordinates",
          "Warning: The map axes point the wrong way (Y and X swapped, or the sign toggle needed)"}},
        {"sign toggle needed", Points(100, 100, 500, 400, -3501000, -5404000, -3505000, -5401000), false,
         {"Misfit of point 2: 10000.000 map units, 1000.000 pixels",
          "Scale along rows: 10.000000, down columns: 10.000000", "Rotation implied by the points: 180.000 degrees",
          "Warning: Point 2 lies 1000.000 pixels from its coordinates",
          "Warning: The map axes point the wrong way (Y and X swapped, or the sign toggle needed)"}},
        {"scan turned by 3 degrees: the fitted scales, not the steps' ratios", turned, false,
         {"Misfit of point 2: 261.769 map units, 26.177 pixels", "Scale along rows: 10.000000, down columns: 10.000000",
          "Rotation implied by the points: 3.000 degrees", "Warning: Point 2 lies 26.177 pixels from its coordinates"}},
        {"the same with rotation", turned, true,
         {"Misfit of point 2: 0.000 map units, 0.000 pixels", "Scale along rows: 10.000000, down columns: 10.000000",
          "Rotation implied by the points: 3.000 degrees"}},
    };
    for (const auto& c : cases) {
        const TFitResult fit = FitControlPoints(c.Rotate ? SimilarityFitName : TwoPointFitName, c.P);
        EXPECT_EQ(PointCheckLines(CheckControlPoints(c.P, fit)), c.Lines) << c.Name;
    }
}

TEST(SimilarityTransform, FitsBothPointsAndWritesTwelveDecimals)
{
    TControlPoints turned = Sample;
    for (TControlPoint& p : turned)
        Turn(3, p.Col, p.Row);
    const TAffineTransform t = ComputeSimilarityTransform(turned[0], turned[1]);
    EXPECT_EQ(WorldFileText(t), "9.986295347546\r\n-0.523359562429\r\n-0.523359562429\r\n-9.986295347546\r\n"
                                "3500129.992\r\n5405164.186\r\n");
    EXPECT_NEAR(t.MapY(turned[1].Col, turned[1].Row), 3505000, 1e-6);
    EXPECT_NEAR(t.MapX(turned[1].Col, turned[1].Row), 5401000, 1e-6);
    // Without rotation the terms are written 0 with 12 decimals all the same.
    EXPECT_EQ(WorldFileText(ComputeSimilarityTransform(Sample[0], Sample[1])),
              "10.000000000000\r\n0.000000000000\r\n0.000000000000\r\n-10.000000000000\r\n"
              "3500000.000\r\n5405000.000\r\n");
}

TEST(Crs, LooksUpCodesAndNamesInProj)
{
    const struct {
        const char* Text;
        int Code;
        const char* Name;
        bool Geographic;
        const char* Error;
    } cases[] = {
        {"EPSG:31467", 31467, "DHDN / 3-degree Gauss-Kruger zone 3", false, ""},
        {" epsg: 4326 ", 4326, "WGS 84", true, ""},
        {"25832", 25832, "ETRS89 / UTM zone 32N", false, ""},
        {"wgs 84 / utm zone 33n", 32633, "WGS 84 / UTM zone 33N", false, ""},
        {"EPSG:99999", 0, "", false, "Unknown coordinate reference system 'EPSG:99999'"},
        {"Middle Earth", 0, "", false, "Unknown coordinate reference system 'Middle Earth'"},
        {"EPSG:4978", 0, "", false, "The coordinate reference system 'EPSG:4978' is neither projected nor geographic 2D"},
        {"", 0, "", false, ""},
    };
    for (const auto& c : cases) {
        try {
            const TCrs crs = LookupCrs(c.Text);
            EXPECT_EQ(crs.Code, c.Code) << c.Text;
            EXPECT_EQ(crs.Name, c.Name) << c.Text;
            EXPECT_EQ(crs.Geographic, c.Geographic) << c.Text;
            EXPECT_STREQ("", c.Error) << c.Text;
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), c.Error) << c.Text;
        }
    }
    EXPECT_EQ(GeoKeyMetadataText(LookupCrs("EPSG:4326")),
              "Geotiff_Information:\n   Version: 1\n   Key_Revision: 1.0\n   Tagged_Information:\n"
              "      End_Of_Tags.\n   Keyed_Information:\n"
              "      GTModelTypeGeoKey (Short,1): ModelTypeGeographic\n"
              "      GTRasterTypeGeoKey (Short,1): RasterPixelIsArea\n"
              "      GTCitationGeoKey (Ascii,7): \"WGS 84\"\n"
              "      GeographicTypeGeoKey (Short,1): Code-4326\n      End_Of_Keys.\n   End_Of_Geotiff.\n");
}

TEST(GcpPointsFile, ReadsOursBackAndTheSharedLayout)
{
    pwtest::TempDir dir;
    const TCrs gk = LookupCrs("EPSG:31467");
    const std::string ours = dir.File("ours.points");
    pwtest::WriteText(ours, GcpPointsText(Points(100, 100, 500, 400.25, 3501000.5, 5404000, 3505000, 5401000), gk));
    const struct {
        const char* Name;
        std::string Text;
        TControlPoints Expected;
        int Code;
        std::string Error;
    } cases[] = {
        {"written by us", pwtest::ReadText(ours), Points(100, 100, 500, 400.25, 3501000.5, 5404000, 3505000, 5401000),
         31467, ""},
        {"hand-written, CRS as WKT 1 without an id, a disabled point skipped",
         "#CRS: GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
         "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]\r\n"
         "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\r\n"
         "7.5,50.25,10.5,-20.5,1,0,0,0\r\n8,51,99,-99,0,0,0,0\r\n8.25,49.75,630.5,-470.5,1,0.1,-0.2,0.22\r\n",
         Points(10, 20, 630, 470, 7.5, 50.25, 8.25, 49.75), 4326, ""},
        {"no system line", "mapX,mapY,sourceX,sourceY,enable\n1,2,0.5,-0.5,1\n3,4,1.5,-1.5,1\n",
         Points(0, 0, 1, 1, 1, 2, 3, 4), 0, ""},
        {"one enabled point", "mapX,mapY,sourceX,sourceY,enable\n1,2,0.5,-0.5,1\n3,4,1.5,-1.5,0\n", {}, 0,
         "holds fewer than two enabled points"},
        {"a number with a comma", "mapX,mapY,sourceX,sourceY,enable\n1;5,2,0.5,-0.5,1\n", {}, 0,
         "'1;5' in the point file"},
        {"the old layout", "1 3501000 5404000\n2 3505000 5401000\n", {}, 0,
         "lacks the header line mapX,mapY,sourceX,sourceY,enable,dX,dY,residual"},
    };
    for (const auto& c : cases) {
        const std::string file = dir.File("case.points");
        pwtest::WriteText(file, c.Text);
        EXPECT_EQ(IsGcpPointsFile(file), c.Name != std::string("the old layout")) << c.Name;
        try {
            const TGcpPoints read = ReadGcpPointsFile(file);
            EXPECT_EQ(Values(read.Points), Values(c.Expected)) << c.Name;
            EXPECT_EQ(read.Crs.Code, c.Code) << c.Name;
            EXPECT_EQ(c.Error, "") << c.Name;
        } catch (const Exception& error) {
            EXPECT_NE(c.Error, "") << c.Name << ": " << error.what();
            EXPECT_NE(error.Message().find(c.Error), std::string::npos) << error.what();
        }
    }
}

} // namespace
