// Control points read and written in every exchange format: bad input named
// to its place, the pixel conventions converted exactly, an annotation with
// the members its readers need, and the points that come with real scans.
#include "georef/fit_quality.h"
#include "georef/points_formats.h"
#include "georef/points_on_picture.h"

#include "platform/exceptions.h"
#include "tests/support/test_support.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cmath>

namespace {

const std::string Header = "mapX,mapY,sourceX,sourceY,enable\n";
const std::string Annotation1 = R"({"type":"Annotation","body":{"type":"FeatureCollection","features":[)";

std::string Feature(const std::string& pixel, const std::string& lonLat)
{
    return R"({"type":"Feature","properties":{"resourceCoords":)" + pixel +
           R"(},"geometry":{"type":"Point","coordinates":)" + lonLat + "}}";
}

TEST(PointsFormats, BadInputIsNamedWithItsPlaceAndValue)
{
    using F = TPointsFormat;
    const struct {
        F Format;
        std::string Text;
        std::string Error;
    } cases[] = {
        {F::Gcp, Header + "1,2,0.5,-0.5,1\n3,nan,1.5,-1.5,1\n",
         "'nan' in the point file 'f', line 3 (mapY), is not a finite number"},
        {F::Gcp, Header + "1,2,inf,-0.5,1\n", "'inf' in the point file 'f', line 2 (sourceX), is not a finite number"},
        {F::Gcp, Header + "1,2,0.5,-0.5,1\n3,4,1.5\n", "The point file 'f', line 3, has no sourceY value"},
        {F::Gcp, "mapX,mapY,pixelX,enable\n1,2,3,1\n", "The point file 'f' has no sourceY column"},
        {F::Gcp, " \n\n", "The point file 'f' is empty"},
        {F::Gcp, Header, "The point file 'f' holds no points"},
        {F::Annotation, "", "The point file 'f' is empty"},
        {F::Annotation, Annotation1 + Feature("[1,2]", "[5,NaN]") + "]}}",
         "The point file 'f' is not JSON: line 1, column 169 ('NaN') cannot be read"},
        {F::Annotation, Annotation1 + Feature("[1,2]", "[5,6]") + "," + Feature("[1,\"2\"]", "[5,6]") + "]}}",
         "'\"2\"' in the point file 'f', member body.features[1].properties.resourceCoords[1] (y), is not a number"},
        {F::Annotation, Annotation1 + Feature("[1,2]", "[5,1e999]") + "]}}",
         "The point file 'f' is not JSON: number overflow parsing '1e999'"},
        {F::Annotation, Annotation1 + Feature("[1]", "[5,6]") + "]}}",
         "The point file 'f', member body.features[0].properties.resourceCoords, is not a pair of numbers"},
        {F::Annotation, R"({"type":"AnnotationPage","items":[{"type":"Annotation"}]})",
         "The point file 'f', member items[0], has no member body"},
        {F::Annotation, Annotation1 + "]}}", "The point file 'f' holds no points"},
        {F::Annotation, R"({"type":"Annotation","body":{"transformation":{"type":"polynomial","options":{"order":4}},"features":[]}})",
         "The point file 'f', member body.transformation, names the transformation polynomial of order -1, which has "
         "no equal here"},
        {F::Annotation, "[1,2]", "The point file 'f', member (top), has no member type"},
        {F::Vrt, "<VRTDataset><GCPList>\n<GCP Pixel=\"1\" Line=\"nan\" X=\"1\" Y=\"2\"/></GCPList></VRTDataset>",
         "'nan' in the point file 'f', line 2 (Line), is not a finite number"},
        {F::Vrt, "<VRTDataset><GCPList><GCP Pixel=\"1\" Line=\"2\" X=\"1\"/></GCPList></VRTDataset>",
         "The point file 'f', line 1, has a GCP without Y"},
        {F::Pam, "<PAMDataset>\n\n<GCPList><GCP Pixel=\"1\" Line=\"2", 
         "The point file 'f', line 3, is not XML as GDAL writes it: an attribute value that does not end"},
        {F::Pam, "<PAMDataset><GCPList><GCP Pixel=\"&bogus;\"/></GCPList></PAMDataset>",
         "The point file 'f', line 1, is not XML as GDAL writes it: an unknown entity &bogus;"},
        {F::Pam, "<PAMDataset><Metadata/></PAMDataset>", "The point file 'f' holds no GCPList"},
        {F::Csv, "x,y,lon,lat,name\n10,20,5,6,a\n10,20,-nan,6,b\n",
         "'-nan' in the point file 'f', line 3 (lon), is not a finite number"},
        {F::Csv, "x,y,lat,name\n", "The point file 'f', line 1, has no column lon (the header is x,y,lon,lat,name)"},
        {F::Csv, "10,20,5\n", "The point file 'f', line 1, has no lat value"},
        {F::LinkTable, "1\t2\t3\t4\n5 6 7\n",
         "The point file 'f', line 2, holds 3 values, not source x, source y, map x and map y (a link number "
         "before them allowed)"},
        {F::LinkTable, "1\t2\t3\t4,5\n", "'4,5' in the point file 'f', line 1 (map y), is not a number"},
        {F::LinkTable, "\t\n", "The point file 'f' is empty"},
    };
    for (const auto& c : cases) {
        try {
            ParsePoints(c.Format, c.Text, "f");
            ADD_FAILURE() << "read: " << c.Text;
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), c.Error) << c.Text;
        }
    }
    EXPECT_EQ(ChoosePointsFormat("a/b.png.aux.xml"), TPointsFormat::Pam);
    EXPECT_EQ(ChoosePointsFormat("b.vrt"), TPointsFormat::Vrt);
    EXPECT_EQ(ChoosePointsFormat("b.xyz", "CSV"), TPointsFormat::Csv);
    try {
        ChoosePointsFormat("b.xyz");
        ADD_FAILURE();
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "The point file 'b.xyz' has an ending that names no points format; give "
                                   "--points-format (points, iiif, vrt, aux.xml, csv, links)");
    }
}

TEST(PointsOnPicture, FarOutsideRefusedJustOutsideWarned)
{
    const struct {
        double Col, Row;
        bool AllowOutside;
        std::string Result;
    } cases[] = {
        {-0.5, 99.5, false, ""},
        {-3.5, 50, false,
         "Warning: Point 1 of the point file 'f', line 2, at pixel -3.5,50, lies 3 pixels outside the picture "
         "(200 x 100 pixels)"},
        {-200.5, 104.5, false,
         "Warning: Point 1 of the point file 'f', line 2, at pixel -200.5,104.5, lies 200.06 pixels outside the "
         "picture (200 x 100 pixels)"},
        {1e9, 5, false,
         "Point 1 of the point file 'f', line 2, at pixel 1e+09,5, lies far outside the picture (200 x 100 "
         "pixels), more than its width or height beyond its edge; --allow-outside takes it"},
        {10, -100.6, false,
         "Point 1 of the point file 'f', line 2, at pixel 10,-100.6, lies far outside the picture (200 x 100 "
         "pixels), more than its width or height beyond its edge; --allow-outside takes it"},
        {1e9, 5, true,
         "Warning: Point 1 of the point file 'f', line 2, at pixel 1e+09,5, lies 999999800.5 pixels outside "
         "the picture (200 x 100 pixels)"},
    };
    for (const auto& c : cases) {
        TGcpPoints file;
        file.Points = {{1, c.Col, c.Row, 7, 8}};
        file.Where = {"line 2"};
        try {
            const auto warnings = CheckPointsOnPicture(file, "f", 200, 100, c.AllowOutside);
            EXPECT_EQ(warnings.empty() ? std::string() : warnings.at(0), c.Result) << c.Col << "," << c.Row;
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), c.Result) << c.Col << "," << c.Row;
        }
    }
}

// Points of a sheet near San Francisco in UTM zone 10, one a check point,
// positions on and between pixel centres.
TControlPoints UtmPoints()
{
    return {{1, 0, 0, 545000.25, 4185000.5},
            {2, 11418, 0.5, 552000.125, 4185100},
            {3, 11417.75, 9337, 552100, 4178000.75},
            {4, 3.25, 9336.5, 545100.5, 4177900, TPointRole::Check}};
}

TEST(PointsFormats, RoundTripKeepsEveryPointExactly)
{
    const TCrs utm = LookupCrs("EPSG:32610");
    const TPointsPicture picture{"/maps/sheet.png", 11419, 9338};
    for (const TPointsFormatInfo& info : PointsFormats()) {
        // Link tables hold no roles: every point comes back fitted.
        const bool keepsRoles = info.Format != TPointsFormat::LinkTable;
        const std::string text = PointsText(info.Format, UtmPoints(), utm, "polynomial2", picture);
        const TGcpPoints read = ParsePoints(info.Format, text, "f", utm);
        ASSERT_EQ(read.Points.size(), 4u) << info.Name;
        const TControlPoints given = UtmPoints();
        for (size_t i = 0; i < 4; ++i) {
            const TControlPoint &a = given[i], &b = read.Points[i];
            EXPECT_EQ(b.Id, a.Id) << info.Name;
            EXPECT_NEAR(b.Col, a.Col, 1e-9) << info.Name;
            EXPECT_NEAR(b.Row, a.Row, 1e-9) << info.Name;
            EXPECT_NEAR(b.East, a.East, 1e-6) << info.Name;
            EXPECT_NEAR(b.North, a.North, 1e-6) << info.Name;
            EXPECT_EQ(b.Role, keepsRoles ? a.Role : TPointRole::Fitted) << info.Name;
        }
        EXPECT_EQ(read.Crs.Code, 32610) << info.Name;
        EXPECT_EQ(read.Transform, info.Format == TPointsFormat::Annotation ? "polynomial2" : "") << info.Name;
    }
    // In degrees the WGS 84 formats keep every digit.
    const TCrs wgs84 = LookupCrs("EPSG:4326");
    const TControlPoints degrees = {{1, 0, 0, -122.70108333333, 37.6999277778}, {2, 5.5, 7, -122.2072444444, 38}};
    for (const TPointsFormat format : {TPointsFormat::Annotation, TPointsFormat::Csv}) {
        const TGcpPoints read = ParsePoints(format, PointsText(format, degrees, wgs84, "", picture), "f");
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(read.Points[i].East, degrees[i].East);
            EXPECT_EQ(read.Points[i].North, degrees[i].North);
        }
    }
}

TEST(PointsFormats, AnnotationHasTheMembersOfTheGeoreferenceExtension)
{
    const std::string text = PointsText(TPointsFormat::Annotation, UtmPoints(), LookupCrs("EPSG:32610"), "affine",
                                        {"/maps/sheet.png", 11419, 9338});
    const nlohmann::json a = nlohmann::json::parse(text);
    EXPECT_EQ(a["@context"][0], "http://iiif.io/api/extension/georef/1/context.json");
    EXPECT_EQ(a["@context"][1], "http://iiif.io/api/presentation/3/context.json");
    EXPECT_EQ(a["id"], "file:///maps/sheet.png#georeference");
    EXPECT_EQ(a["type"], "Annotation");
    EXPECT_EQ(a["motivation"], "georeferencing");
    EXPECT_EQ(a["target"]["type"], "SpecificResource");
    EXPECT_EQ(a["target"]["source"], nlohmann::json::parse(
                                         R"({"id":"file:///maps/sheet.png","type":"Image","width":11419,"height":9338})"));
    EXPECT_EQ(a["target"]["selector"]["type"], "SvgSelector");
    EXPECT_EQ(a["target"]["selector"]["value"],
              "<svg width=\"11419\" height=\"9338\"><polygon points=\"0,0 11419,0 11419,9338 0,9338\" /></svg>");
    EXPECT_EQ(a["body"]["type"], "FeatureCollection");
    EXPECT_EQ(a["body"]["transformation"], nlohmann::json::parse(R"({"type":"polynomial","options":{"order":1}})"));
    ASSERT_EQ(a["body"]["features"].size(), 4u);
    const nlohmann::json& f = a["body"]["features"][1];
    EXPECT_EQ(f["type"], "Feature");
    EXPECT_EQ(f["properties"]["resourceCoords"], nlohmann::json::parse("[11418.5, 1.0]"));
    EXPECT_EQ(f["geometry"]["type"], "Point");
    EXPECT_EQ(f["geometry"]["coordinates"].size(), 2u);
    // echo "552000.125 4185100" | gdaltransform -s_srs EPSG:32610 -t_srs EPSG:4326
    EXPECT_NEAR(f["geometry"]["coordinates"][0].get<double>(), -122.409234514521, 1e-11);
    EXPECT_NEAR(f["geometry"]["coordinates"][1].get<double>(), 37.8118132522494, 1e-11);
    EXPECT_EQ(a["body"]["features"][3]["properties"]["role"], "check");

    // The older drafts' pixelCoords, and a page of two annotations.
    const std::string page =
        R"({"type":"AnnotationPage","items":[)" + Annotation1 +
        R"({"type":"Feature","properties":{"pixelCoords":[0.5,0.5]},"geometry":{"type":"Point","coordinates":[5,50]}}]}},)" +
        Annotation1 + Feature("[10,20.25]", "[6,51,0]") + "]}}]}";
    const TGcpPoints read = ParsePoints(TPointsFormat::Annotation, page, "f");
    ASSERT_EQ(read.Points.size(), 2u);
    EXPECT_EQ(read.Points[0].Col, 0);
    EXPECT_EQ(read.Points[1].Row, 19.75);
    EXPECT_EQ(read.Points[1].East, 6);
    EXPECT_EQ(read.Where[1], "member items[1].body.features[0]");
}

// Expected values from an independent exact least-squares solution of the
// same points (tests/data/points/affine_lsq.py, in rationals).
TEST(PointsFormats, RealScansPointsFitAsAnIndependentSolution)
{
    const struct {
        std::string File;
        TPointsFormat Format;
        size_t Points;
        double RmsMap, RmsPixels, RmsFreePixels;
        size_t Largest;
        double LargestEast, LargestNorth, LargestPixels;
    } cases[] = {
        {"s05_uscs_1853_sketchH_gulf_coast.jpg.points", TPointsFormat::Gcp, 39, 0.02882152767, 38.73789847,
         40.31968307, 18, -0.1049364676, -0.02054805591, 141.3489962},
        {"s07_noaa_18649_sf_bay_entrance.png.aux.xml", TPointsFormat::Pam, 40, 6.185084903e-05, 1.70298122,
         1.770675558, 32, -1.90824029e-05, 8.336176636e-05, 2.350847719},
    };
    for (const auto& c : cases) {
        const std::string path = "/work/shared/scans/" + c.File;
        if (!pwtest::FileExists(path))
            GTEST_SKIP() << "the real scans are not here";
        const TGcpPoints file = ReadPoints(c.Format, path);
        ASSERT_EQ(file.Points.size(), c.Points) << c.File;
        const TFitResult fit = FitControlPoints("affine", file.Points);
        const TFitQuality quality = AssessFit(fit, file.Points);
        EXPECT_NEAR(quality.Rms.Map, c.RmsMap, 1e-8 * c.RmsMap) << c.File;
        EXPECT_NEAR(quality.Rms.Pixels, c.RmsPixels, 1e-7) << c.File;
        EXPECT_NEAR(quality.RmsFree->Pixels, c.RmsFreePixels, 1e-7) << c.File;
        const TPointResidual& r = fit.Residuals.at(c.Largest - 1);
        EXPECT_NEAR(r.East, c.LargestEast, 1e-10) << c.File;
        EXPECT_NEAR(r.North, c.LargestNorth, 1e-10) << c.File;
        EXPECT_NEAR(r.Pixels, c.LargestPixels, 1e-7) << c.File;
        EXPECT_EQ(file.Crs.Code, c.Format == TPointsFormat::Pam ? 4326 : 0) << c.File;
    }
}

} // namespace
