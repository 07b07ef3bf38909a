#include "imaging/format_registry.h"
#include "imaging/jpeg_image.h"
#include "platform/exceptions.h"
#include "platform/picture.h"
#include "tests/support/test_support.h"

#include <cstdio>
#include <functional>
#include <jpeglib.h>
#include <jerror.h>

#include <gtest/gtest.h>

namespace {

std::string Fixture(const std::string& name)
{
    return pwtest::DataPath("jpeg/" + name);
}

std::string ErrorText(int code)
{
    return "JPEG error #" + std::to_string(code);
}

pwtest::Image ToImage(const TBitmap& bitmap)
{
    pwtest::Image image{bitmap.Width(), bitmap.Height(), 3, {}};
    std::vector<uint32_t> row(static_cast<size_t>(bitmap.Width()));
    for (int y = 0; y < bitmap.Height(); ++y) {
        bitmap.RowToARGB(y, 0, bitmap.Width(), row.data());
        for (uint32_t p : row) {
            image.Pixels.push_back(static_cast<uint8_t>(p >> 16));
            image.Pixels.push_back(static_cast<uint8_t>(p >> 8));
            image.Pixels.push_back(static_cast<uint8_t>(p));
        }
    }
    return image;
}

// djpeg's decoding of the same file, as RGB.
pwtest::Image Djpeg(std::vector<std::string> arguments, const std::string& file)
{
    pwtest::TempDir dir;
    const std::string out = dir.File("reference.pnm");
    arguments.insert(arguments.begin(), "djpeg");
    arguments.insert(arguments.end(), {"-outfile", out, file});
    const pwtest::CommandResult result = pwtest::Run(arguments);
    if (!pwtest::FileExists(out))
        throw std::runtime_error("djpeg failed: " + result.Err);
    return pwtest::ToRGB(pwtest::ReadNetpbm(out));
}

std::unique_ptr<TJPEGImage> Load(const std::string& file)
{
    auto image = std::make_unique<TJPEGImage>();
    image->LoadFromFile(file);
    return image;
}

std::unique_ptr<TJPEGImage> LoadBytes(const std::vector<uint8_t>& bytes)
{
    TMemoryStream stream(bytes.data(), bytes.size());
    auto image = std::make_unique<TJPEGImage>();
    image->LoadFromStream(stream);
    return image;
}

bool AllGray(const TPalette& palette)
{
    for (const TPaletteEntry& e : palette.Entries())
        if (e.peRed != e.peGreen || e.peGreen != e.peBlue)
            return false;
    return true;
}

struct DecodeCase {
    const char* Name;
    const char* File;
    std::function<void(TJPEGImage&)> Settings;
    std::vector<std::string> Djpeg;
    TBitmapFormat Format;
    bool GrayPalette;
};

const auto Defaults = [](TJPEGImage&) {};

} // namespace

// Every decoding choice against djpeg with the matching switches: the same
// library with the same settings must give the very same pixels.
TEST(JPEGImage, DecodesAsDjpegWithTheSameSettings)
{
    if (!pwtest::HaveProgram("djpeg"))
        GTEST_SKIP() << "djpeg not installed";
    const std::vector<std::string> floatDCT{"-dct", "float"};
    const std::vector<DecodeCase> cases{
        {"4:2:0", "baseline420.jpg", Defaults, floatDCT, bf24Bit, false},
        {"4:4:4", "baseline444.jpg", Defaults, floatDCT, bf24Bit, false},
        {"progressive", "progressive.jpg", Defaults, floatDCT, bf24Bit, false},
        {"restart markers", "restart.jpg", Defaults, floatDCT, bf24Bit, false},
        {"ImageMagick", "imagemagick.jpg", Defaults, floatDCT, bf24Bit, false},
        {"truncated", "truncated.jpg", Defaults, floatDCT, bf24Bit, false},
        {"greyscale file", "gray.jpg", Defaults, {"-dct", "float", "-colors", "236"}, bf8Bit, true},
        {"greyscale output", "baseline420.jpg", [](TJPEGImage& j) { j.SetGrayscale(true); },
         {"-dct", "float", "-grayscale", "-colors", "236"}, bf8Bit, true},
        {"8-bit", "baseline420.jpg", [](TJPEGImage& j) { j.SetPixelFormat(jf8Bit); },
         {"-dct", "float", "-colors", "236"}, bf8Bit, false},
        {"best speed", "baseline420.jpg", [](TJPEGImage& j) { j.SetPerformance(jpBestSpeed); },
         {"-dct", "fast"}, bf24Bit, false},
        {"best speed 8-bit", "baseline420.jpg",
         [](TJPEGImage& j) {
             j.SetPerformance(jpBestSpeed);
             j.SetPixelFormat(jf8Bit);
         },
         {"-dct", "fast", "-colors", "236", "-onepass", "-dither", "ordered"}, bf8Bit, false},
        {"half", "baseline444.jpg", [](TJPEGImage& j) { j.SetScale(jsHalf); },
         {"-dct", "float", "-scale", "1/2"}, bf24Bit, false},
        {"quarter", "baseline420.jpg", [](TJPEGImage& j) { j.SetScale(jsQuarter); },
         {"-dct", "float", "-scale", "1/4"}, bf24Bit, false},
        {"eighth", "progressive.jpg", [](TJPEGImage& j) { j.SetScale(jsEighth); },
         {"-dct", "float", "-scale", "1/8"}, bf24Bit, false},
        {"progressive display", "progressive.jpg", [](TJPEGImage& j) { j.SetProgressiveDisplay(true); },
         floatDCT, bf24Bit, false},
        {"progressive display 8-bit", "progressive.jpg",
         [](TJPEGImage& j) {
             j.SetProgressiveDisplay(true);
             j.SetPixelFormat(jf8Bit);
         },
         {"-dct", "float", "-colors", "236"}, bf8Bit, false},
        {"progressive display fast", "progressive.jpg",
         [](TJPEGImage& j) {
             j.SetProgressiveDisplay(true);
             j.SetPerformance(jpBestSpeed);
         },
         {"-dct", "fast"}, bf24Bit, false},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.Name);
        auto image = Load(Fixture(c.File));
        c.Settings(*image);
        TBitmap& bitmap = image->ViewBitmap();
        EXPECT_EQ(bitmap.PixelFormat(), c.Format);
        const pwtest::Image reference = Djpeg(c.Djpeg, Fixture(c.File));
        const pwtest::Image ours = ToImage(bitmap);
        EXPECT_EQ(ours, reference) << pwtest::FirstDifference(ours, reference);
        if (c.Format == bf8Bit) {
            ASSERT_TRUE(bitmap.Palette());
            EXPECT_LE(bitmap.Palette()->Count(), 236);
            EXPECT_EQ(AllGray(*bitmap.Palette()), c.GrayPalette);
            if (c.GrayPalette) {
                EXPECT_EQ(bitmap.Palette()->Count(), 236);
            }
        }
    }
}

TEST(JPEGImage, CMYKFileComesOutInItsColours)
{
    auto image = Load(Fixture("cmyk.jpg"));
    const pwtest::Image ours = ToImage(image->ViewBitmap());
    const pwtest::Image source = pwtest::ReadNetpbm(Fixture("source.ppm"));
    EXPECT_GT(pwtest::PSNR(ours, source), 30.0);
}

// Loading reads the header only; the size at every scale is known before
// anything is decoded, and decoding gives a bitmap of just that size.
TEST(JPEGImage, SizeComesFromTheHeaderAtEveryScale)
{
    const struct {
        TJPEGScale Scale;
        int Width, Height;
    } cases[] = {{jsFullSize, 61, 37}, {jsHalf, 31, 19}, {jsQuarter, 16, 10}, {jsEighth, 8, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Scale);
        auto image = Load(Fixture("baseline420.jpg"));
        image->SetScale(c.Scale);
        EXPECT_EQ(image->Width(), c.Width);
        EXPECT_EQ(image->Height(), c.Height);
        EXPECT_FALSE(image->HasBitmap());
        TBitmap& bitmap = image->ViewBitmap();
        EXPECT_EQ(bitmap.Width(), c.Width);
        EXPECT_EQ(bitmap.Height(), c.Height);
    }
}

TEST(JPEGImage, ProgressiveEncodingAndGreyscaleComeFromTheFile)
{
    EXPECT_TRUE(Load(Fixture("progressive.jpg"))->ProgressiveEncoding());
    EXPECT_FALSE(Load(Fixture("baseline420.jpg"))->ProgressiveEncoding());
    EXPECT_TRUE(Load(Fixture("gray.jpg"))->Data()->Grayscale);
    EXPECT_FALSE(Load(Fixture("restart.jpg"))->Data()->Grayscale);
}

// A big picture: its size is there at once, the pixels come at the first
// request. The file claims 6000 x 4000 but holds the data of a small one, so
// it also decodes as a truncated file, without an error.
TEST(JPEGImage, LargePictureLoadsItsHeaderOnlyAndDecodesOnRequest)
{
    std::vector<uint8_t> bytes = pwtest::ReadBytes(Fixture("baseline420.jpg"));
    size_t sof = 2;
    while (!(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC0))
        sof += 2 + (bytes[sof + 2] << 8 | bytes[sof + 3]);
    bytes[sof + 5] = 4000 >> 8;
    bytes[sof + 6] = 4000 & 0xFF;
    bytes[sof + 7] = 6000 >> 8;
    bytes[sof + 8] = 6000 & 0xFF;
    auto image = LoadBytes(bytes);
    EXPECT_EQ(image->Width(), 6000);
    EXPECT_EQ(image->Height(), 4000);
    EXPECT_FALSE(image->HasBitmap());
    TBitmap& bitmap = image->ViewBitmap();
    EXPECT_EQ(bitmap.Width(), 6000);
    EXPECT_EQ(bitmap.Height(), 4000);
    EXPECT_EQ(bitmap.PixelFormat(), bf24Bit);
}

// A progressive file with its last scan repeated: a few extra scans still
// decode; past 1000 scans the decoder gives up instead of making one pass
// over the image per scan.
TEST(JPEGImage, ProgressiveScansAreBounded)
{
    const std::vector<uint8_t> file = pwtest::ReadBytes(Fixture("progressive.jpg"));
    size_t lastScan = 0;
    for (size_t i = 0; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xDA)
            lastScan = i;
    ASSERT_GT(lastScan, 0u);
    ASSERT_EQ(file[file.size() - 2], 0xFF);
    ASSERT_EQ(file[file.size() - 1], 0xD9);
    const auto withRepeats = [&](int repeats) {
        std::vector<uint8_t> out(file.begin(), file.end() - 2);
        for (int r = 0; r < repeats; ++r)
            out.insert(out.end(), file.begin() + long(lastScan), file.end() - 2);
        out.insert(out.end(), {0xFF, 0xD9});
        return out;
    };
    EXPECT_EQ(LoadBytes(withRepeats(20))->ViewBitmap().Width(), Load(Fixture("progressive.jpg"))->Width());
    auto image = LoadBytes(withRepeats(1000));
    try {
        image->ViewBitmap();
        FAIL() << "decoded";
    } catch (const EJPEG& e) {
        EXPECT_EQ(std::string(e.what()), "JPEG file has more than 1000 scans.");
    }
    EXPECT_FALSE(image->HasBitmap());
}

TEST(JPEGImage, ErrorsCarryTheLibraryMessageNumber)
{
    const std::vector<uint8_t> png{0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    const std::vector<uint8_t> startOnly{0xFF, 0xD8};
    const struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        bool AtLoad;
        int Code;
    } cases[] = {
        {"empty file, at decoding", {}, false, JERR_INPUT_EMPTY},
        {"not a JPEG", png, true, JERR_NO_SOI},
        {"start marker only", startOnly, true, JERR_NO_IMAGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::unique_ptr<TJPEGImage> image;
        try {
            image = LoadBytes(c.Bytes);
            EXPECT_FALSE(c.AtLoad) << "loaded";
            EXPECT_EQ(image->Width(), 0);
            image->ViewBitmap();
            ADD_FAILURE() << "decoded";
        } catch (const EJPEG& e) {
            EXPECT_EQ(std::string(e.what()), ErrorText(c.Code));
            if (image) {
                EXPECT_FALSE(image->HasBitmap());
            }
        }
    }
}

TEST(JPEGImage, EmptyFileFailsWithNumber42)
{
    auto image = Load(Fixture("empty.jpg"));
    try {
        image->ViewBitmap();
        FAIL() << "decoded";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(std::string(e.what()), "JPEG error #42");
    }
}

TEST(JPEGImage, SizeCannotBeSet)
{
    TJPEGImage image;
    for (auto set : {&TJPEGImage::SetWidth, &TJPEGImage::SetHeight}) {
        try {
            (image.*set)(10);
            ADD_FAILURE() << "size changed";
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot change the size of a JPEG image");
        }
    }
}

namespace {
struct ProgressLog {
    std::vector<TProgressStage> Stages;
    std::vector<int> Percents;
    TRect LastRect;
};

TProgressEvent Recorder(ProgressLog& log, std::function<void(TProgressStage)> act = {})
{
    return [&log, act](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r, const std::string&) {
        log.Stages.push_back(stage);
        log.Percents.push_back(percent);
        log.LastRect = r;
        if (act)
            act(stage);
    };
}
} // namespace

TEST(JPEGImage, DecodingReportsProgress)
{
    ProgressLog log;
    auto image = Load(Fixture("progressive.jpg"));
    image->OnProgress = Recorder(log);
    image->ViewBitmap();
    ASSERT_GE(log.Stages.size(), 3u);
    EXPECT_EQ(log.Stages.front(), psStarting);
    EXPECT_EQ(log.Stages[1], psRunning);
    EXPECT_EQ(log.Stages.back(), psEnding);
    EXPECT_EQ(log.Percents.back(), 100);
    EXPECT_EQ(log.LastRect, (TRect{0, 0, 61, 37}));
}

TEST(JPEGImage, AbortFromProgressKeepsTheRowsDone)
{
    ProgressLog log;
    auto image = Load(Fixture("baseline420.jpg"));
    image->OnProgress = Recorder(log, [](TProgressStage stage) {
        if (stage == psRunning)
            throw EAbort("stop");
    });
    TBitmap& bitmap = image->ViewBitmap();
    EXPECT_TRUE(image->HasBitmap());
    EXPECT_EQ(bitmap.Width(), 61);
    EXPECT_EQ(log.Stages.back(), psEnding);
    EXPECT_EQ(log.Percents.back(), 0);
    // Nothing more is decoded later.
    EXPECT_EQ(&image->ViewBitmap(), &bitmap);
}

TEST(JPEGImage, OtherErrorsFromProgressComeThroughAndDropTheBitmap)
{
    ProgressLog log;
    auto image = Load(Fixture("baseline420.jpg"));
    image->OnProgress = Recorder(log, [](TProgressStage stage) {
        if (stage == psRunning)
            throw EInvalidGraphic("handler failed");
    });
    try {
        image->ViewBitmap();
        FAIL() << "decoded";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(std::string(e.what()), "handler failed");
    }
    EXPECT_FALSE(image->HasBitmap());
    EXPECT_EQ(log.Stages.back(), psEnding);
    EXPECT_EQ(log.Percents.back(), 0);
}

TEST(JPEGImage, AssignedPaletteIsUsedFor8BitOutput)
{
    const std::vector<TPaletteEntry> colours{{0, 0, 0, 0},     {255, 255, 255, 0}, {255, 0, 0, 0},
                                             {0, 255, 0, 0},   {0, 0, 255, 0},     {255, 255, 0, 0},
                                             {0, 255, 255, 0}, {255, 0, 255, 0}};
    auto image = Load(Fixture("baseline444.jpg"));
    image->SetPixelFormat(jf8Bit);
    image->SetPalette(CreatePalette(colours));
    TBitmap& bitmap = image->ViewBitmap();
    ASSERT_EQ(bitmap.PixelFormat(), bf8Bit);
    ASSERT_TRUE(bitmap.Palette());
    EXPECT_EQ(bitmap.Palette()->Entries(), colours);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            ASSERT_LT(bitmap.ScanLine(y)[x], 8) << x << "," << y;
}

TEST(JPEGImage, CopiesShareTheCompressedData)
{
    auto original = Load(Fixture("restart.jpg"));
    TJPEGImage copy;
    copy.Assign(*original);
    EXPECT_EQ(copy.Data(), original->Data());
    EXPECT_EQ(ToImage(copy.ViewBitmap()), ToImage(original->ViewBitmap()));
    original->LoadFromFile(Fixture("gray.jpg"));
    EXPECT_NE(copy.Data(), original->Data());
    EXPECT_FALSE(copy.Data()->Grayscale);
}

TEST(JPEGImage, RegistersJpegAndJpg)
{
    RegisterJPEGImage();
    for (const char* extension : {"jpeg", "jpg"}) {
        SCOPED_TRACE(extension);
        EXPECT_EQ(FindPictureClass(extension), &TJPEGImage::ClassType());
        const auto formats = PictureFormats();
        auto it = std::find_if(formats.rbegin(), formats.rend(),
                               [&](const TPictureFormatEntry& e) { return e.Extension == extension; });
        ASSERT_NE(it, formats.rend());
        EXPECT_EQ(it->Description, "JPEG Image File");
    }
    auto graphic = LoadPictureFile(Fixture("baseline420.jpg"));
    auto* jpeg = dynamic_cast<TJPEGImage*>(graphic.get());
    ASSERT_NE(jpeg, nullptr);
    EXPECT_FALSE(jpeg->HasBitmap());
    UnregisterJPEGImage();
    EXPECT_EQ(FindPictureClass("jpg"), nullptr);
}

// Start-up: the picture's own two entries first, then the registry's rows
// 5 to 8, whose descriptions decide the lookups.
TEST(JPEGImage, StartupRegistersItselfBeforeTheRegistryRows)
{
    InitializeImaging();
    ASSERT_NE(FileFormatList, nullptr);
    const std::vector<std::pair<std::string, std::string>> rows{
        {"jfif", "JFIF images"}, {"jpg", "JPG images"}, {"jpe", "JPE images"}, {"jpeg", "JPEG images"}};
    const int first = FileFormatList->FindExtension("jfif");
    ASSERT_GE(first, 0);
    EXPECT_EQ(FileFormatList->Extension(first - 1).Extension, "ico");
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& entry = FileFormatList->Extension(first + static_cast<int>(i));
        EXPECT_EQ(entry.Extension, rows[i].first);
        EXPECT_EQ(entry.Description, rows[i].second);
        EXPECT_EQ(entry.FormatTypes, fkRaster);
        EXPECT_EQ(entry.ClassEntry->GraphicClass, &TJPEGImage::ClassType());
    }
    const auto& jpegClass = FileFormatList->ClassEntry(FileFormatList->FindClass(TJPEGImage::ClassType()));
    EXPECT_EQ(jpegClass.Description, "JPG images");
    EXPECT_EQ(jpegClass.Count, 4);

    std::vector<std::pair<std::string, std::string>> platform;
    for (const TPictureFormatEntry& e : PictureFormats())
        if (e.Class == &TJPEGImage::ClassType())
            platform.emplace_back(e.Extension, e.Description);
    const std::vector<std::pair<std::string, std::string>> expected{
        {"jpeg", "JPEG Image File"}, {"jpg", "JPEG Image File"}, {"jfif", "JFIF images"},
        {"jpg", "JPG images"},       {"jpe", "JPE images"},      {"jpeg", "JPEG images"}};
    EXPECT_EQ(platform, expected);

    FinalizeImaging();
    EXPECT_EQ(FindPictureClass("jpg"), nullptr);
}
