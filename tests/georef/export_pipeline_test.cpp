// Save's pipeline end to end with the real converters (our bmp2tiff and
// jpg2bmp beside the test program, Debian's geotifcp) on the sample map.
#include "georef/crs.h"
#include "georef/export_pipeline.h"
#include "georef/geotiff_check.h"

#include "platform/bitmap.h"
#include "platform/durable_files.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace {

using pwtest::Listing;
using pwtest::SamplePath;
using pwtest::SampleWorldFile;
using pwtest::WriteProgram;

struct TTiffFacts {
    uint32_t Width = 0, Height = 0;
    uint16_t Compression = 0, Photometric = 0;
    std::vector<uint32_t> Pixels; // ABGR as libtiff's RGBA reader gives them, top row first
};

TTiffFacts ReadTiff(const std::string& fileName)
{
    TIFFSetWarningHandler(nullptr);
    TTiffFacts facts;
    TIFF* tif = TIFFOpen(fileName.c_str(), "r");
    if (!tif)
        return facts;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &facts.Width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &facts.Height);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &facts.Compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &facts.Photometric);
    facts.Pixels.resize(size_t{facts.Width} * facts.Height);
    TIFFReadRGBAImageOriented(tif, facts.Width, facts.Height, facts.Pixels.data(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(tif);
    return facts;
}

// The sample BMP's pixels in libtiff's ABGR form.
std::vector<uint32_t> SampleBmpPixels()
{
    TBitmap bitmap;
    TFileStream stream(SamplePath("sample_map.bmp"), fmOpenRead);
    bitmap.LoadFromStream(stream);
    std::vector<uint32_t> pixels;
    std::vector<uint32_t> row(static_cast<size_t>(bitmap.Width()));
    for (int y = 0; y < bitmap.Height(); ++y) {
        bitmap.RowToARGB(y, 0, bitmap.Width(), row.data());
        for (const uint32_t argb : row)
            pixels.push_back((argb & 0xFF00FF00u) | ((argb >> 16) & 0xFF) | ((argb & 0xFF) << 16));
    }
    return pixels;
}

void WriteTinyTiff(const std::string& fileName)
{
    TIFF* tif = TIFFOpen(fileName.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 4u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2u);
    uint8_t row[4] = {0, 80, 160, 240};
    TIFFWriteScanline(tif, row, 0, 0);
    TIFFWriteScanline(tif, row, 1, 0);
    TIFFClose(tif);
}

class GeorefPipeline : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(FOut);
        std::filesystem::create_directory(FStart);
        std::filesystem::create_directory(FSources);
        // A TIFF source as a scanner might leave it.
        const auto made = pwtest::Run({pwtest::BinPath("bmp2tiff"), "-c", "lzw", SamplePath("sample_map.bmp"),
                                       Source("sample_map.tif")});
        ASSERT_EQ(made.ExitCode, 0) << made.Err;
    }

    std::string Out(const std::string& name) const { return FOut + "/" + name; }
    std::string Start(const std::string& name) const { return FStart + "/" + name; }
    std::string Source(const std::string& name) const { return FSources + "/" + name; }

    TSaveRequest Request(const std::string& target, TTargetFilter targetFilter, const std::string& source,
                         TSourceFormat sourceFilter, const TCrs& crs = {})
    {
        TGeorefOptions options;
        options.Crs = crs;
        const TControlPoints points = {{1, 100, 100, 3501000, 5404000}, {2, 500, 400, 3505000, 5401000}};
        return BuildSaveRequest(points, options, target, targetFilter, {source, sourceFilter});
    }

    std::string Save(const TSaveRequest& request)
    {
        TExportPipeline pipeline(FStart);
        pipeline.ShowMessage = [this](const std::string& m) { Notices.push_back(m); };
        return WriteWorldFile(request, pipeline);
    }

    pwtest::TempDir FDir;
    std::string FOut = FDir.File("out");
    std::string FStart = FDir.File("start");
    std::string FSources = FDir.File("sources");
    std::vector<std::string> Notices;
};

TEST_F(GeorefPipeline, SourcesToGeoTiffAndTfw)
{
    const struct {
        const char* Name;
        std::string Source;
        TSourceFormat Filter;
        uint16_t Photometric;
        bool SamePixels;
    } cases[] = {
        {"BMP", SamplePath("sample_map.bmp"), TSourceFormat::BMP, PHOTOMETRIC_PALETTE, true},
        {"JPEG", SamplePath("sample_map.jpg"), TSourceFormat::JPEG, PHOTOMETRIC_RGB, false},
        {"TIFF", Source("sample_map.tif"), TSourceFormat::TIFF, PHOTOMETRIC_PALETTE, true},
    };
    const auto expectedPixels = SampleBmpPixels();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(FOut);
        std::filesystem::create_directory(FOut);
        EXPECT_EQ(Save(Request(Out("map.tif"), TTargetFilter::TiffTfw, c.Source, c.Filter)), SampleWorldFile);
        EXPECT_EQ(Listing(FOut), (std::set<std::string>{"map.tif", "map.tfw"}));
        EXPECT_EQ(pwtest::ReadText(Out("map.tfw")), SampleWorldFile);

        TGeoTiffPlacement placement;
        std::string error;
        ASSERT_TRUE(ReadGeoTiffPlacement(Out("map.tif"), placement, error)) << error;
        EXPECT_EQ(placement.PixelScale, (std::vector<double>{10, 10, 0}));
        EXPECT_EQ(placement.TiePoint, (std::vector<double>{0.5, 0.5, 0, 3500000, 5405000, 0}));

        const TTiffFacts facts = ReadTiff(Out("map.tif"));
        EXPECT_EQ(facts.Width, 640u);
        EXPECT_EQ(facts.Height, 480u);
        EXPECT_EQ(facts.Compression, COMPRESSION_PACKBITS);
        EXPECT_EQ(facts.Photometric, c.Photometric);
        if (c.SamePixels) {
            EXPECT_TRUE(facts.Pixels == expectedPixels);
        }
    }
    EXPECT_TRUE(Notices.empty());
}

TEST_F(GeorefPipeline, ListgeoSeesThePlacement)
{
    if (!pwtest::HaveProgram("listgeo"))
        GTEST_SKIP() << "listgeo not installed";
    Save(Request(Out("map.tif"), TTargetFilter::TiffTfw, SamplePath("sample_map.bmp"), TSourceFormat::BMP));
    const auto listed = pwtest::Run({"listgeo", Out("map.tif")});
    EXPECT_NE(listed.Out.find("ModelPixelScaleTag (1,3):\n         10                10                0"),
              std::string::npos)
        << listed.Out;
    EXPECT_NE(listed.Out.find("3500000           5405000           0"), std::string::npos) << listed.Out;
}

TEST_F(GeorefPipeline, JgwRunsNoConverterAndLeavesTheImage)
{
    // Converters that would fail stand first in line: none may run.
    for (const char* name : {"bmp2tiff", "jpg2bmp", "geotifcp"})
        WriteProgram(Start(name), "#!/bin/sh\nexit 9\n");
    pwtest::WriteText(Out("map.jgw"), "old\r\n");
    const auto before = pwtest::ReadBytes(Source("sample_map.tif"));
    EXPECT_EQ(Save(Request(Out("map.jgw"), TTargetFilter::JGW, Source("sample_map.tif"), TSourceFormat::TIFF)),
              SampleWorldFile);
    EXPECT_EQ(Listing(FOut), std::set<std::string>{"map.jgw"});
    EXPECT_EQ(pwtest::ReadText(Out("map.jgw")), SampleWorldFile);
    EXPECT_TRUE(pwtest::ReadBytes(Source("sample_map.tif")) == before);
}

// The .prj and .aux.xml of a JGW are written whole before anything is
// renamed: when one cannot be written (a folder in the way of its temporary
// name stands in for a full disk), the files of the earlier save stay.
TEST_F(GeorefPipeline, JgwSideFileThatCannotBeWrittenKeepsTheEarlierSave)
{
    const std::pair<const char*, const char*> earlier[] = {
        {"map.jgw", "old jgw"}, {"map.prj", "old prj"}, {"map.tif.aux.xml", "old aux"}};
    for (const auto& [name, text] : earlier)
        pwtest::WriteText(Out(name), text);
    std::filesystem::create_directory(Out("temporar.xml"));
    const TSaveRequest request = Request(Out("map.jgw"), TTargetFilter::JGW, Source("sample_map.tif"),
                                         TSourceFormat::TIFF, LookupCrs("EPSG:31467"));
    EXPECT_THROW(Save(request), Exception);
    for (const auto& [name, text] : earlier)
        EXPECT_EQ(pwtest::ReadText(Out(name)), text) << name;
    EXPECT_EQ(Listing(FOut), (std::set<std::string>{"map.jgw", "map.prj", "map.tif.aux.xml", "temporar.xml"}));

    std::filesystem::remove(Out("temporar.xml"));
    Save(request);
    EXPECT_EQ(pwtest::ReadText(Out("map.jgw")), SampleWorldFile);
    EXPECT_EQ(pwtest::ReadText(Out("map.prj")).rfind("PROJCS[\"DHDN_3_Degree_Gauss_Zone_3\"", 0), 0u);
    EXPECT_EQ(Listing(FOut), (std::set<std::string>{"map.jgw", "map.prj", "map.tif.aux.xml"}));
}

// Every output reaches the disk before it gets its name, and the folder's
// entry after: the steps of a GeoTIFF save and of a JGW with its side files.
TEST_F(GeorefPipeline, EveryFileReachesTheDiskBeforeItsName)
{
    const TCrs crs = LookupCrs("EPSG:31467");
    const std::string file = "file " + FOut + "/", folder = "folder " + FOut;
    auto rename = [&](const std::string& from, const std::string& to) {
        return "rename " + Out(from) + " -> " + Out(to);
    };
    const struct {
        const char* Name;
        std::string Target;
        TTargetFilter Filter;
        std::vector<std::string> Steps;
    } cases[] = {
        {"GeoTIFF", "map.tif", TTargetFilter::TiffTfw,
         {file + "temporar.tfw", file + "temporar.txt", file + "temporar.tmp", rename("temporar.tmp", "map.tif"),
          folder, rename("temporar.tfw", "map.tfw"), folder}},
        {"JGW", "map.jgw", TTargetFilter::JGW,
         {file + "temporar.tfw", file + "temporar.prj", file + "temporar.xml", rename("temporar.tfw", "map.jgw"),
          folder, rename("temporar.prj", "map.prj"), folder, rename("temporar.xml", "map.bmp.aux.xml"), folder}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> steps;
        const TDurableObserver before = SetDurableObserver([&](TDurableStep step, const std::string& name) {
            steps.push_back((step == TDurableStep::SyncFile ? "file " : step == TDurableStep::Rename ? "rename " : "folder ") +
                            name);
        });
        Save(Request(Out(c.Target), c.Filter, SamplePath("sample_map.bmp"), TSourceFormat::BMP, crs));
        SetDurableObserver(before);
        EXPECT_EQ(steps, c.Steps);
    }
}

TEST_F(GeorefPipeline, ReplacesExistingTargets)
{
    pwtest::WriteText(Out("map.tif"), "old tif");
    pwtest::WriteText(Out("map.tfw"), "old tfw");
    Save(Request(Out("map.tif"), TTargetFilter::TiffTfw, SamplePath("sample_map.jpg"), TSourceFormat::JPEG));
    EXPECT_EQ(pwtest::ReadText(Out("map.tfw")), SampleWorldFile);
    EXPECT_EQ(ReadTiff(Out("map.tif")).Width, 640u);
    EXPECT_EQ(Listing(FOut), (std::set<std::string>{"map.tif", "map.tfw"}));
}

TEST_F(GeorefPipeline, FailureKeepsEarlierFilesAndRemovesTemporaries)
{
    const struct {
        const char* Name;
        std::string Source;
        TSourceFormat Filter;
        const char* Converter; // stand-in put first in line, or ""
        const char* Program;
        std::string Message;   // expected start of the error text
        bool StartNotice;
    } cases[] = {
        {"JPEG opened under the BMP filter", SamplePath("sample_map.jpg"), TSourceFormat::BMP, "", "",
         "The converter bmp2tiff failed with exit code 1: ", false},
        {"geotifcp leaves nothing", SamplePath("sample_map.bmp"), TSourceFormat::BMP, "geotifcp", "#!/bin/sh\nexit 0\n",
         "The converter geotifcp made no output file", false},
        {"geotifcp drops the world file", SamplePath("sample_map.bmp"), TSourceFormat::BMP, "geotifcp",
         "#!/bin/sh\ncp \"$5\" \"$6\"\n", "The converter geotifcp did not store the world file in the GeoTIFF",
         false},
        {"jpg2bmp cannot start", SamplePath("sample_map.jpg"), TSourceFormat::JPEG, "jpg2bmp", "#!/no/such/shell\n",
         "Cannot start the converter jpg2bmp", true},
        {"TIFF source gone", Source("gone.tif"), TSourceFormat::TIFF, "", "", "File not found", false},
        {"bmp2tiff killed", SamplePath("sample_map.bmp"), TSourceFormat::BMP, "bmp2tiff", "#!/bin/sh\nkill -KILL $$\n",
         "The converter bmp2tiff did not finish", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(FStart);
        std::filesystem::create_directory(FStart);
        if (*c.Converter)
            WriteProgram(Start(c.Converter), c.Program);
        for (const char* leftover : {"temporar.bmp", "temporar.tif", "temporar.tmp"})
            pwtest::WriteText(Out(leftover), "left over");
        pwtest::WriteText(Out("map.tif"), "old tif");
        pwtest::WriteText(Out("map.tfw"), "old tfw");
        Notices.clear();
        try {
            Save(Request(Out("map.tif"), TTargetFilter::TiffTfw, c.Source, c.Filter));
            ADD_FAILURE() << "saved";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message().substr(0, c.Message.size()), c.Message) << e.Message();
        }
        EXPECT_EQ(Notices, c.StartNotice ? std::vector<std::string>{"Error starting module!"}
                                         : std::vector<std::string>{});
        EXPECT_EQ(pwtest::ReadText(Out("map.tif")), "old tif");
        EXPECT_EQ(pwtest::ReadText(Out("map.tfw")), "old tfw");
        EXPECT_EQ(Listing(FOut), (std::set<std::string>{"map.tif", "map.tfw"}));
    }
}

TEST_F(GeorefPipeline, LeftoverTemporaryTiffIsReplacedNotUsed)
{
    WriteTinyTiff(Out("temporar.tif"));
    Save(Request(Out("map.tif"), TTargetFilter::TiffTfw, Source("sample_map.tif"), TSourceFormat::TIFF));
    const TTiffFacts facts = ReadTiff(Out("map.tif"));
    EXPECT_EQ(facts.Width, 640u);
    EXPECT_EQ(facts.Height, 480u);
    EXPECT_EQ(Listing(FOut), (std::set<std::string>{"map.tif", "map.tfw"}));
}

TEST_F(GeorefPipeline, SavingOverTheOpenedTiffReplacesIt)
{
    std::filesystem::copy_file(Source("sample_map.tif"), Out("map.tif"));
    Save(Request(Out("map.tif"), TTargetFilter::TiffTfw, Out("map.tif"), TSourceFormat::TIFF));
    TGeoTiffPlacement placement;
    std::string error;
    ASSERT_TRUE(ReadGeoTiffPlacement(Out("map.tif"), placement, error));
    EXPECT_EQ(placement.PixelScale, (std::vector<double>{10, 10, 0}));
    EXPECT_TRUE(ReadTiff(Out("map.tif")).Pixels == SampleBmpPixels());
}

TEST_F(GeorefPipeline, ImageNamedLikeATemporaryIsRefused)
{
    std::filesystem::copy_file(Source("sample_map.tif"), Out("temporar.tif"));
    const auto before = pwtest::ReadBytes(Out("temporar.tif"));
    try {
        Save(Request(Out("map.tif"), TTargetFilter::TiffTfw, Out("temporar.tif"), TSourceFormat::TIFF));
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "The image '" + Out("temporar.tif") +
                                   "' has the name of a temporary file of the export; rename it first");
    }
    EXPECT_TRUE(pwtest::ReadBytes(Out("temporar.tif")) == before);
    EXPECT_EQ(Listing(FOut), std::set<std::string>{"temporar.tif"});
}

} // namespace
