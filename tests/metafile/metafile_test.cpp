// TMetafile on metafiles built byte by byte: shapes, bitmaps, text, mapping
// modes and clipping checked pixel by pixel (drawn without antialiasing), and
// broken files checked for their exact messages.
#include "imaging/format_registry.h"
#include "platform/exceptions.h"
#include "metafile/metafile.h"
#include "platform/picture.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, int v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, int64_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

constexpr uint32_t Red = 0x0000FF;
constexpr uint32_t Blue = 0xFF0000;
constexpr uint32_t Green = 0x00FF00;
constexpr uint32_t White = 0xFFFFFF;

// A 2 x 2 24-bit bottom-up DIB: bottom row red, green; top row blue, white.
Bytes Dib()
{
    Bytes b;
    Put32(b, 40);
    Put32(b, 2);
    Put32(b, 2);
    Put16(b, 1);
    Put16(b, 24);
    for (int i = 0; i < 6; ++i)
        Put32(b, 0);
    const uint8_t bits[] = {0, 0, 255, 0, 255, 0, 0, 0,          // red, green, padding
                            255, 0, 0, 255, 255, 255, 0, 0};     // blue, white, padding
    b.insert(b.end(), std::begin(bits), std::end(bits));
    return b;
}

class WmfBuilder {
public:
    WmfBuilder& Record(uint16_t function, std::initializer_list<int> words)
    {
        Bytes params;
        for (int w : words)
            Put16(params, w);
        return Raw(function, params);
    }
    WmfBuilder& Raw(uint16_t function, Bytes params)
    {
        if (params.size() % 2)
            params.push_back(0);
        Put32(FRecords, 3 + static_cast<int64_t>(params.size() / 2));
        Put16(FRecords, function);
        FRecords.insert(FRecords.end(), params.begin(), params.end());
        return *this;
    }
    WmfBuilder& Brush(uint32_t color) { return Raw(0x02FC, Params({{0, 2}, {color, 4}, {0, 2}})); }
    WmfBuilder& NullPen() { return Record(0x02FA, {5, 0, 0, 0, 0}); }
    WmfBuilder& Select(int index) { return Record(0x012D, {index}); }
    WmfBuilder& Rectangle(int l, int t, int r, int b) { return Record(0x041B, {b, r, t, l}); }

    // Placeable when unitsPerInch is not 0; the records then an end record.
    Bytes Build(int left, int top, int right, int bottom, int unitsPerInch, bool end = true) const
    {
        Bytes b;
        if (unitsPerInch) {
            Put32(b, 0x9AC6CDD7);
            Put16(b, 0);
            for (int v : {left, top, right, bottom})
                Put16(b, v);
            Put16(b, unitsPerInch);
            Put32(b, 0);
            uint16_t sum = 0;
            for (size_t i = 0; i < 20; i += 2)
                sum ^= static_cast<uint16_t>(b[i] | (b[i + 1] << 8));
            Put16(b, sum);
        }
        Put16(b, 1);
        Put16(b, 9);
        Put16(b, 0x0300);
        Put32(b, static_cast<int64_t>(9 + FRecords.size() / 2 + 3));
        Put16(b, 8);
        Put32(b, 0);
        Put16(b, 0);
        b.insert(b.end(), FRecords.begin(), FRecords.end());
        if (end) {
            Put32(b, 3);
            Put16(b, 0);
        }
        return b;
    }
    static Bytes Params(std::initializer_list<std::pair<uint32_t, int>> fields)
    {
        Bytes b;
        for (auto [value, size] : fields)
            size == 2 ? Put16(b, static_cast<int>(value)) : Put32(b, value);
        return b;
    }

private:
    Bytes FRecords;
};

// An EMF whose 96 x 96 pixel frame is exactly its device: one device unit
// is one pixel of the image.
class EmfBuilder {
public:
    EmfBuilder& Record(uint32_t type, std::initializer_list<int64_t> fields)
    {
        Bytes params;
        for (int64_t f : fields)
            Put32(params, f);
        return Raw(type, params);
    }
    EmfBuilder& Raw(uint32_t type, Bytes params)
    {
        while (params.size() % 4)
            params.push_back(0);
        Put32(FRecords, type);
        Put32(FRecords, 8 + static_cast<int64_t>(params.size()));
        FRecords.insert(FRecords.end(), params.begin(), params.end());
        return *this;
    }
    EmfBuilder& Brush(int index, uint32_t color) { return Record(39, {index, 0, color, 0}); }
    EmfBuilder& Select(int64_t index) { return Record(37, {index}); }
    EmfBuilder& NullPen() { return Select(0x80000008); }
    EmfBuilder& Rectangle(int l, int t, int r, int b) { return Record(43, {l, t, r, b}); }

    Bytes Build(bool end = true) const
    {
        Bytes b;
        Put32(b, 1);
        Put32(b, 108);
        for (int v : {0, 0, 95, 95, 0, 0, 2540, 2540})
            Put32(b, v);
        Put32(b, 0x464D4520);
        Put32(b, 0x10000);
        Put32(b, 0); // bytes
        Put32(b, 0); // records
        Put16(b, 16);
        Put16(b, 0);
        for (int i = 0; i < 3; ++i)
            Put32(b, 0);
        for (int v : {960, 960, 254, 254})
            Put32(b, v);
        Put32(b, 0);
        Put32(b, 0);
        Put32(b, 0);
        Put32(b, 254000);
        Put32(b, 254000);
        b.insert(b.end(), FRecords.begin(), FRecords.end());
        if (end)
            for (int v : {14, 20, 0, 16, 20})
                Put32(b, v);
        return b;
    }

private:
    Bytes FRecords;
};

std::unique_ptr<TMetafile> Load(const Bytes& bytes)
{
    auto metafile = std::make_unique<TMetafile>();
    metafile->SetAntialiased(false);
    TMemoryStream stream(bytes.data(), bytes.size());
    metafile->LoadFromStream(stream);
    return metafile;
}

// 0x00BBGGRR of a pixel, as the records give colours.
uint32_t Pixel(TMetafile& metafile, int x, int y)
{
    const uint8_t* p = metafile.ViewBitmap().ScanLine(y) + 4 * x;
    return uint32_t(p[2]) | (uint32_t(p[1]) << 8) | (uint32_t(p[0]) << 16);
}

struct Probe {
    int X, Y;
    uint32_t Color;
};

void ExpectPixels(TMetafile& metafile, std::initializer_list<Probe> probes)
{
    for (const Probe& p : probes)
        EXPECT_EQ(Pixel(metafile, p.X, p.Y), p.Color) << "at " << p.X << "," << p.Y;
}

std::string LoadError(const Bytes& bytes)
{
    try {
        Load(bytes);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
    return "<loaded>";
}

TEST(WmfDrawing, ShapesFillTheirPixels)
{
    WmfBuilder wmf;
    wmf.NullPen().Select(0).Brush(Red).Select(1).Rectangle(10, 10, 30, 20);
    wmf.Brush(Blue).Select(2).Record(0x0418, {20, 60, 0, 40});          // ellipse 40,0 - 60,20
    wmf.Brush(Green).Select(3).Record(0x081A, {0, 50, 50, 100, 100, 100, 0, 0}); // pie, upper right quarter
    wmf.Record(0x02FA, {0, 0, 0, 0, 0}).Select(4).Record(0x0325, {2, 0, 90, 99, 90}); // black polyline
    auto m = Load(wmf.Build(0, 0, 100, 100, 96));
    ASSERT_EQ(m->Width(), 100);
    ASSERT_EQ(m->Height(), 100);
    EXPECT_FALSE(m->Enhanced());
    ExpectPixels(*m, {{10, 10, Red}, {29, 19, Red}, {30, 19, White}, {29, 20, White}, {9, 10, White},
                      {45, 10, Blue}, {40, 0, White}, {75, 25, Green}, {25, 75, White}, {25, 25, White},
                      {50, 90, 0}, {50, 88, White}, {50, 92, White}});
}

TEST(WmfDrawing, PaletteColoursRegionClipAndReusedSlots)
{
    WmfBuilder wmf;
    wmf.Record(0x00F7, {0x300, 2, 255, 0, 0, 255}).Record(0x0234, {0}); // palette red, blue in slot 0
    wmf.Raw(0x02FC, WmfBuilder::Params({{0, 2}, {0x01000001, 4}, {0, 2}}));   // brush of entry 1, slot 1
    wmf.Record(0x01F0, {0});                                                 // slot 0 is free again ...
    wmf.Record(0x06FF, {0, 6, 0, 0, 34, 1, 2, 10, 10, 30, 30, 2, 10, 30, 10, 30, 2}); // ... for the region
    wmf.Record(0x012C, {0}).NullPen().Select(2).Select(1).Rectangle(0, 0, 100, 100);
    auto m = Load(wmf.Build(0, 0, 100, 100, 96));
    ExpectPixels(*m, {{10, 10, Blue}, {29, 29, Blue}, {30, 30, White}, {9, 9, White}, {50, 50, White}});
}

TEST(WmfDrawing, PlaceableBoxAndWindowMapLogicalUnits)
{
    // 200 units at 192 per inch: a 100 pixel image, two units a pixel.
    WmfBuilder half;
    half.NullPen().Select(0).Brush(Red).Select(1).Rectangle(20, 20, 60, 40);
    auto m = Load(half.Build(0, 0, 200, 200, 192));
    ASSERT_EQ(m->Width(), 100);
    ExpectPixels(*m, {{10, 10, Red}, {29, 19, Red}, {30, 10, White}, {9, 10, White}});

    // The window that the records set fills the image: ten pixels a unit.
    WmfBuilder window;
    window.Record(0x020B, {0, 0}).Record(0x020C, {10, 10});
    window.NullPen().Select(0).Brush(Blue).Select(1).Rectangle(5, 0, 10, 5);
    m = Load(window.Build(0, 0, 100, 100, 96));
    ExpectPixels(*m, {{50, 0, Blue}, {99, 49, Blue}, {49, 0, White}, {99, 50, White}});

    // A standard WMF takes its size from its window extent.
    WmfBuilder standard;
    standard.Record(0x0103, {8}).Record(0x020C, {40, 60});
    standard.NullPen().Select(0).Brush(Green).Select(1).Rectangle(0, 0, 30, 20);
    m = Load(standard.Build(0, 0, 0, 0, 0));
    ASSERT_EQ(m->Width(), 60);
    ASSERT_EQ(m->Height(), 40);
    ExpectPixels(*m, {{0, 0, Green}, {29, 19, Green}, {30, 0, White}});
}

TEST(WmfDrawing, StretchDibScalesTheBitmapRowsBottomUp)
{
    WmfBuilder wmf;
    Bytes params = WmfBuilder::Params({{0x00CC0020, 4}, {0, 2}, {2, 2}, {2, 2}, {0, 2}, {0, 2},
                                       {40, 2}, {40, 2}, {10, 2}, {10, 2}});
    const Bytes dib = Dib();
    params.insert(params.end(), dib.begin(), dib.end());
    wmf.Raw(0x0F43, params);
    auto m = Load(wmf.Build(0, 0, 64, 64, 96));
    ExpectPixels(*m, {{10, 10, Blue}, {49, 10, White}, {10, 49, Red}, {49, 49, Green}, {29, 29, Blue},
                      {30, 30, Green}, {9, 9, White}, {50, 50, White}});
}

TEST(WmfDrawing, TextIsDrawnAtItsReferencePoint)
{
    WmfBuilder wmf;
    Bytes font;
    Put16(font, -24);
    for (int i = 0; i < 3; ++i)
        Put16(font, 0);
    Put16(font, 700);
    for (int i = 0; i < 8; ++i)
        font.push_back(0);
    for (char ch : std::string("DejaVu Sans"))
        font.push_back(static_cast<uint8_t>(ch));
    font.push_back(0);
    wmf.Raw(0x02FB, font).Select(0).Record(0x0102, {1}); // transparent background
    Bytes text;
    Put16(text, 2);
    text.push_back('H');
    text.push_back('I');
    Put16(text, 10); // y: top of the text (TA_TOP)
    Put16(text, 20); // x
    wmf.Raw(0x0521, text);
    auto m = Load(wmf.Build(0, 0, 100, 50, 96));
    int inside = 0, outside = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            if (Pixel(*m, x, y) == 0)
                (x >= 20 && x < 55 && y >= 10 && y < 36 ? inside : outside)++;
    EXPECT_GT(inside, 60);
    EXPECT_EQ(outside, 0);
}

TEST(EmfDrawing, MappingModesAndExtentsPlaceShapes)
{
    EmfBuilder emf;
    emf.NullPen().Brush(1, Red).Select(1);
    // y upwards: window 1000 x -1000 from (0, 1000) onto the 96 pixel device.
    emf.Record(17, {8}).Record(10, {0, 1000}).Record(9, {1000, -1000}).Record(11, {96, 96});
    emf.Rectangle(0, 0, 500, 500);
    // Hundredths of a millimetre, y upwards from the top: 12.7 mm is 48 pixels.
    emf.Record(17, {3}).Record(10, {0, 0}).Brush(2, Blue).Select(2).Rectangle(1270, 0, 1587, -317);
    auto m = Load(emf.Build());
    ASSERT_EQ(m->Width(), 96);
    ASSERT_EQ(m->Height(), 96);
    EXPECT_TRUE(m->Enhanced());
    ExpectPixels(*m, {{0, 48, Red}, {47, 95, Red}, {48, 95, White}, {0, 47, White},
                      {48, 0, Blue}, {59, 11, Blue}, {60, 0, White}, {48, 12, White}});
}

TEST(EmfDrawing, WorldTransformScalesAndMoves)
{
    EmfBuilder emf;
    emf.NullPen().Brush(1, Green).Select(1);
    Bytes xform;
    for (float v : {2.0f, 0.0f, 0.0f, 2.0f, 10.0f, 20.0f}) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        Put32(xform, bits);
    }
    emf.Raw(35, xform).Rectangle(0, 0, 10, 5);
    auto m = Load(emf.Build());
    ExpectPixels(*m, {{10, 20, Green}, {29, 29, Green}, {30, 20, White}, {10, 30, White}, {9, 20, White}});
}

TEST(EmfDrawing, ClippingLimitsDrawingUntilRestored)
{
    EmfBuilder emf;
    emf.NullPen().Brush(1, Red).Select(1).Record(33, {});
    emf.Record(30, {10, 10, 50, 50}).Record(29, {20, 20, 30, 30});
    emf.Rectangle(0, 0, 96, 96);
    emf.Record(34, {-1}).Brush(2, Blue).Select(2).Rectangle(60, 60, 96, 96);
    auto m = Load(emf.Build());
    ExpectPixels(*m, {{10, 10, Red}, {49, 49, Red}, {9, 9, White}, {50, 50, White}, {25, 25, White},
                      {19, 25, Red}, {30, 25, Red}, {60, 60, Blue}, {95, 95, Blue}});
}

TEST(EmfDrawing, PathsAndPolygonsFillByTheirRule)
{
    EmfBuilder emf;
    emf.NullPen().Brush(1, Blue).Select(1);
    // Two nested squares in one path: the inner one is a hole under the alternate rule.
    emf.Record(59, {});
    emf.Record(86, {0, 0, 0, 0, 4, 10 | (10 << 16), 90 | (10 << 16), 90 | (90 << 16), 10 | (90 << 16)});
    emf.Record(86, {0, 0, 0, 0, 4, 30 | (30 << 16), 60 | (30 << 16), 60 | (60 << 16), 30 | (60 << 16)});
    emf.Record(60, {}).Record(62, {0, 0, 0, 0});
    auto m = Load(emf.Build());
    ExpectPixels(*m, {{15, 15, Blue}, {45, 45, White}, {89, 89, Blue}, {5, 5, White}});
}

TEST(EmfDrawing, StretchDibitsAndUnknownRecords)
{
    EmfBuilder emf;
    emf.Record(0x7777, {1, 2, 3}); // not a record we know: passed over
    const Bytes dib = Dib();
    Bytes params;
    for (int64_t v : {0, 0, 0, 0, 8, 8, 0, 0, 2, 2, 80, 40, 120, 16, 0, 0x00CC0020, 40, 40})
        Put32(params, v);
    params.insert(params.end(), dib.begin(), dib.end());
    emf.Raw(81, params);
    auto m = Load(emf.Build());
    ExpectPixels(*m, {{8, 8, Blue}, {27, 27, Blue}, {28, 8, White}, {8, 28, Red}, {47, 47, Green},
                      {7, 7, White}, {48, 48, White}});
}

TEST(EmfDrawing, ClipPathAndStockObjects)
{
    EmfBuilder emf;
    emf.Record(59, {}).Rectangle(10, 10, 50, 50).Record(60, {}).Record(67, {5}); // RGN_COPY
    emf.NullPen().Select(0x80000004).Rectangle(0, 0, 96, 96);                  // black brush
    auto m = Load(emf.Build());
    ExpectPixels(*m, {{10, 10, 0}, {49, 49, 0}, {50, 50, White}, {9, 9, White}, {80, 20, White}});

    // A clip region reaching far past the image (device units), in place of the path.
    EmfBuilder wide;
    wide.Record(75, {48, 5, 32, 1, 1, 16, -2147483640, 0, 11, 96, -2147483640, 0, 11, 96});
    wide.NullPen().Select(0x80000004).Rectangle(0, 0, 96, 96);
    m = Load(wide.Build());
    ExpectPixels(*m, {{0, 0, 0}, {10, 95, 0}, {11, 0, White}});
}

TEST(EmfDrawing, TextTakesItsAdvancesFromTheRecord)
{
    EmfBuilder emf;
    Bytes font;
    for (int64_t v : {1, -20, 0, 0, 0, 400, 0, 0})
        Put32(font, v);
    const std::u16string face = u"DejaVu Sans";
    for (char16_t ch : face)
        Put16(font, ch);
    font.resize(4 + 92, 0);
    emf.Raw(82, font).Select(1).Record(18, {1}).Record(22, {24}); // transparent, baseline
    Bytes text;
    for (int64_t v : {0, 0, 0, 0, 1, 0, 0, 20, 40, 2, 76, 0, 0, 0, 0, 0, 80})
        Put32(text, v);
    Put16(text, 'I');
    Put16(text, 'I');
    Put32(text, 30);
    Put32(text, 30);
    emf.Raw(84, text);
    auto m = Load(emf.Build());
    int left = 0, right = 0, elsewhere = 0;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x)
            if (Pixel(*m, x, y) == 0)
                (y >= 20 && y <= 40 && x >= 18 && x < 30   ? left
                 : y >= 20 && y <= 40 && x >= 48 && x < 60 ? right
                                                           : elsewhere)++;
    EXPECT_GT(left, 10);
    EXPECT_GT(right, 10);
    EXPECT_EQ(left, right); // the same letter twice
    EXPECT_EQ(elsewhere, 0);
}

TEST(MetafileErrors, BrokenFilesGiveTheirMessage)
{
    WmfBuilder shapes;
    shapes.NullPen().Select(0).Brush(Red).Select(1).Rectangle(0, 0, 10, 10);
    const Bytes wmf = shapes.Build(0, 0, 100, 100, 96);
    EmfBuilder emfShapes;
    emfShapes.Brush(1, Red).Select(1).Rectangle(0, 0, 10, 10);
    const Bytes emf = emfShapes.Build();

    Bytes zeroSize = wmf;
    std::memset(&zeroSize[40], 0, 4); // the first record (a pen) after both WMF headers
    Bytes pastEnd = emf;
    pastEnd[108 + 4] = 0xF0;          // the first record after the EMF header
    Bytes badSignature = emf;
    badSignature[40] = 'X';
    Bytes badHeader = wmf;
    badHeader[24] = 8;                // header of 8 words
    WmfBuilder polygon;
    polygon.Record(0x0324, {500, 1, 1, 2, 2});

    const std::vector<std::pair<Bytes, std::string>> cases = {
        {zeroSize, "Cannot load image. Broken record at byte 40 of the WMF file."},
        {pastEnd, "Cannot load image. Broken record at byte 108 of the EMF file."},
        {Bytes(wmf.begin(), wmf.end() - 6), "Cannot load image. The WMF file ends before its end record."},
        {Bytes(wmf.begin(), wmf.end() - 9), "Cannot load image. Broken record at byte 86 of the WMF file."},
        {Bytes(emf.begin(), emf.end() - 20), "Cannot load image. The EMF file ends before its end record."},
        {Bytes(emf.begin(), emf.begin() + 60), "Cannot load image. Invalid or unexpected EMF image format."},
        {badSignature, "Cannot load image. Invalid or unexpected EMF image format."},
        {badHeader, "Cannot load image. Invalid or unexpected WMF image format."},
        {WmfBuilder().Build(0, 0, 100, 100, 0) /* unitsPerInch 0: no placeable header */,
         "Cannot load image. The WMF file gives no picture size."},
        {WmfBuilder().Build(0, 0, 0, 100, 96), "Cannot load image. Invalid or unexpected WMF image format."},
        {polygon.Build(0, 0, 100, 100, 96), "Cannot load image. Broken record at byte 40 of the WMF file."},
        {WmfBuilder().Build(0, 0, 32000, 32000, 1),
         "Cannot load image. The WMF image is too large (3072000 x 3072000 pixels)."},
        {Bytes{1, 2, 3}, "Cannot load image. Invalid or unexpected WMF image format."},
    };
    for (const auto& [bytes, message] : cases)
        EXPECT_EQ(LoadError(bytes), message);
}

TEST(MetafileRegistry, RowsThreeAndFourAndTheBuiltInEntries)
{
    const auto builtIn = PictureFormats();
    ASSERT_GE(builtIn.size(), 4u);
    EXPECT_EQ(builtIn[0].Extension, "wmf");
    EXPECT_EQ(builtIn[1].Extension, "emf");
    EXPECT_EQ(builtIn[2].Extension, "ico");
    EXPECT_EQ(builtIn[3].Extension, "bmp");
    EXPECT_EQ(builtIn[0].Class, &TMetafile::ClassType());

    InitializeImaging();
    ASSERT_NE(FileFormatList, nullptr);
    ASSERT_EQ(FileFormatList->ExtensionCount(), 43);
    const auto& wmf = FileFormatList->Extension(2);
    const auto& emf = FileFormatList->Extension(3);
    EXPECT_EQ(wmf.Extension, "wmf");
    EXPECT_EQ(emf.Extension, "emf");
    EXPECT_EQ(wmf.FormatTypes, 16);
    EXPECT_EQ(emf.FormatTypes, 16);
    EXPECT_EQ(wmf.ClassEntry, emf.ClassEntry);
    EXPECT_EQ(wmf.ClassEntry->Description, "Windows metafiles");
    EXPECT_EQ(wmf.ClassEntry->Count, 2);
    EXPECT_EQ(emf.Description, "Windows enhanced meta files");
    EXPECT_EQ(FileFormatList->Extension(4).Extension, "jfif");
    const auto list = PictureFormats();
    EXPECT_EQ(list[list.size() - 43 + 3].Description, "Windows enhanced meta files");
    EXPECT_EQ(FindPictureClass("EMF"), &TMetafile::ClassType());
    const Bytes placeable = {0xD7, 0xCD, 0xC6, 0x9A};
    TMemoryStream stream(placeable.data(), placeable.size());
    EXPECT_TRUE(TMetafile::CanLoadStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    FinalizeImaging();
    EXPECT_EQ(FindPictureClass("wmf"), nullptr);
}

} // namespace
