// The georeferencing a picture already has, read from each source GIS tools
// write (GeoTIFF tags as tie point and scale, as a matrix and with pixels at
// grid points; GeoJP2 and GMLJP2 boxes, in metres and in degrees; a world
// file; a PAM .aux.xml) and compared with what gdalinfo reads from the same
// file.
#include "georef/existing_georef.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>

namespace {

// The geotransform in gdalinfo's JSON, or nothing when it reports none.
std::vector<double> GdalGeoTransform(const std::string& json)
{
    std::smatch m;
    static const std::regex pattern(R"("geoTransform":\s*\[([^\]]*)\])");
    std::vector<double> out;
    if (!std::regex_search(json, m, pattern))
        return out;
    std::string numbers = m[1];
    for (size_t at = 0; at < numbers.size();) {
        size_t used = 0;
        out.push_back(std::stod(numbers.substr(at), &used));
        at = numbers.find(',', at + used);
        at = at == std::string::npos ? numbers.size() : at + 1;
    }
    return out;
}

// A 30 x 20 grey picture.
std::string Source(const pwtest::TempDir& dir)
{
    std::string pgm = "P5\n30 20\n255\n";
    for (int i = 0; i < 600; ++i)
        pgm += char(i % 251);
    pwtest::WriteText(dir.File("source.pgm"), pgm);
    return dir.File("source.pgm");
}

TEST(ExistingGeoref, GeoTransformIsGdalinfos)
{
    if (!pwtest::HaveProgram("gdal_translate") || !pwtest::HaveProgram("gdalinfo"))
        GTEST_SKIP() << "GDAL's programs not installed";
    const std::vector<std::string> utm = {"-a_srs", "EPSG:32633", "-a_ullr", "500000.25", "5600000.75", "500300.5",
                                          "5599800.125"};
    const struct {
        const char* Name;
        const char* File;
        std::vector<std::string> Translate; // gdal_translate's options; empty: the test writes the files
        const char* Source;
        const char* Crs;
    } cases[] = {
        {"GeoTiffTiePointAndScale", "a.tif", utm, "GeoTIFF", "EPSG:32633"},
        {"GeoTiffPixelIsPoint", "b.tif",
         {"-a_srs", "EPSG:31467", "-mo", "AREA_OR_POINT=Point", "-a_ullr", "3500000", "5405000", "3500300", "5404800"},
         "GeoTIFF", "EPSG:31467"},
        {"GeoTiffMatrix", "c.tif", {}, "GeoTIFF", "EPSG:32633"},
        {"GeoJp2", "d.jp2", [&] { auto o = utm; o.insert(o.begin(), {"-of", "JP2OpenJPEG"}); return o; }(), "GeoJP2",
         "EPSG:32633"},
        {"GmlJp2Metres", "e.jp2",
         [&] { auto o = utm; o.insert(o.begin(), {"-of", "JP2OpenJPEG", "-co", "GeoJP2=NO"}); return o; }(), "GMLJP2",
         "EPSG:32633"},
        {"GmlJp2Degrees", "f.jp2",
         {"-of", "JP2OpenJPEG", "-co", "GeoJP2=NO", "-a_srs", "EPSG:4326", "-a_ullr", "10.5", "50.25", "11.25", "49.75"},
         "GMLJP2", "EPSG:4326"},
        {"PamAuxXml", "g.png", [&] { auto o = utm; o.insert(o.begin(), {"-of", "PNG"}); return o; }(), "aux.xml",
         "EPSG:32633"},
        {"WorldFile", "h.png", {}, "world file", ""},
        // The system of a world file from what a save writes beside it.
        {"WorldFileAndPrj", "i.png", {}, "world file", "EPSG:31467"},
        {"WorldFileAndAuxXmlSrs", "j.png", {}, "world file", "EPSG:31467"},
    };
    pwtest::TempDir dir;
    const std::string source = Source(dir);
    // A rotated placement is stored as the matrix tag: gdal_translate of a
    // VRT that states it.
    pwtest::WriteText(dir.File("c.vrt"),
                      "<VRTDataset rasterXSize=\"30\" rasterYSize=\"20\"><SRS>EPSG:32633</SRS>"
                      "<GeoTransform>500000.5, 9.5, 1.25, 5600000.25, 0.75, -10.5</GeoTransform>"
                      "<VRTRasterBand dataType=\"Byte\" band=\"1\"><SimpleSource><SourceFilename>" +
                          source + "</SourceFilename><SourceBand>1</SourceBand></SimpleSource></VRTRasterBand>"
                                   "</VRTDataset>");
    pwtest::Run({"gdal_translate", "-q", dir.File("c.vrt"), dir.File("c.tif")});
    // A world file gives the centre of the first pixel; rotation terms included.
    pwtest::Run({"gdal_translate", "-q", "-of", "PNG", source, dir.File("h.png")});
    pwtest::WriteText(dir.File("h.pgw"), "2.5\n0.125\n-0.25\n-2.5\n1001.25\n2003.75\n");
    const TCrs gk = LookupCrs("EPSG:31467");
    for (const char* name : {"i", "j"}) {
        std::filesystem::copy_file(dir.File("h.png"), dir.File(name + std::string(".png")));
        pwtest::WriteText(dir.File(name + std::string(".pgw")), "10\n0\n0\n-10\n3500005\n5404995\n");
    }
    pwtest::WriteText(dir.File("i.prj"), gk.EsriWkt);
    pwtest::WriteText(dir.File("j.png.aux.xml"), PamAuxXmlText(gk));
    // The tools run side by side: each start costs a good part of a second.
    std::string script;
    const auto quoted = [](std::string text) { return text.insert(0, 1, '\'').append(1, '\''); };
    for (const auto& c : cases) {
        script.append("( ");
        if (!c.Translate.empty()) {
            script.append("gdal_translate -q");
            for (const std::string& option : c.Translate)
                script.append(" ").append(quoted(option));
            script.append(" ").append(quoted(source)).append(" ").append(quoted(dir.File(c.File))).append(" && ");
        }
        script.append("gdalinfo -json ").append(quoted(dir.File(c.File))).append(" > ");
        script.append(quoted(dir.File(c.File) + ".json")).append(" ) &\n");
    }
    ASSERT_EQ(pwtest::Run({"sh", "-c", script + "wait\n"}).ExitCode, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string file = dir.File(c.File);
        const std::vector<double> expected = GdalGeoTransform(pwtest::ReadText(file + ".json"));
        ASSERT_EQ(expected.size(), 6u);
        const std::optional<TExistingGeoref> g = ReadExistingGeoref(file);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->Source, c.Source);
        EXPECT_EQ(g->Crs.Given() ? g->Crs.Id() : "", c.Crs);
        for (size_t i = 0; i < 6; ++i)
            EXPECT_NEAR(g->GeoTransform[i], expected[i], 1e-9) << i;
    }
    EXPECT_FALSE(ReadExistingGeoref(source));
}

} // namespace
