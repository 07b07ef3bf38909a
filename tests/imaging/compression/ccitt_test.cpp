#include "imaging/compression/ccitt_decoders.h"
#include "imaging/compression/ccitt_codes.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using pwtest::Bits;

enum class Kind { Fax3, MH, MHWordAligned, Fax3TwoD, Fax4 };

std::unique_ptr<TCCITTDecoder> MakeDecoder(Kind kind, uint32_t width, bool swapBits = false)
{
    if (kind == Kind::Fax3)
        return std::make_unique<TCCITTFax3Decoder>(0, swapBits, false, width);
    if (kind == Kind::Fax3TwoD)
        return std::make_unique<TCCITTFax3Decoder2D>(1, swapBits, width);
    if (kind == Kind::Fax4)
        return std::make_unique<TCCITTFax4Decoder>(0, swapBits, width);
    return std::make_unique<TCCITTMHDecoder>(0, swapBits, kind == Kind::MHWordAligned, width);
}

struct Decoded {
    Bytes Out;
    TExpandResult Result;
};

// Decodes into an exactly sized target that starts out dirty.
Decoded Decode(TDecoder& decoder, const Bytes& source, size_t targetSize)
{
    Bytes target(targetSize, 0xEE);
    const uint8_t* s = source.data();
    uint8_t* t = target.data();
    decoder.ExpandStart();
    const TExpandResult r = decoder.Expand(s, source.size(), t, target.size(), source.size(), target.size());
    decoder.ExpandFinish();
    EXPECT_EQ(s, source.data());
    EXPECT_EQ(t, target.data());
    return {target, r};
}

// Codes used below (white / black):
//   white 0 00110101, white 2 0111, white 4 1011, white 6 1110, white 64 11011
//   black 2 11, black 3 10, black 7 00011, black 0 0000110111, black 64 0000001111
const std::string Eol = "000000000001";

struct BitCase {
    const char* Name;
    Kind Decoder;
    uint32_t Width;
    std::string Source;
    size_t TargetSize;
    Bytes Expected;
    size_t Produced;
};

const BitCase BitCases[] = {
    {"WhiteTwoBlackTwo", Kind::MH, 4, "0111 11", 1, {0x30}, 1},
    {"MakeUpAndTerminatingAddUp", Kind::MH, 70, "00110101 0000001111 0000110111 1110", 9,
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, 9},
    // Each row is one byte: the rest of the byte after a complete row is dropped.
    {"MHRowsStartOnByteBoundaries", Kind::MH, 4, "0111 11 00 1011 0000 00110101 10 000111", 3, {0x30, 0x00, 0xE0}, 3},
    // The black run of 2 lies wholly in the last bits of the last byte.
    {"MHCodesInTheLastBitsCount", Kind::MH, 4, "0111 11 00", 1, {0x30}, 1},
    {"Fax3CodesInTheLastBitsCount", Kind::Fax3, 4, Eol + "0111 11 00", 1, {0x30}, 1},
    {"EmptySourceClearsTheTarget", Kind::MH, 16, "", 4, {0, 0, 0, 0}, 0},
    // A black run of 7 in a row of 4 is cut at the row end; the next row is
    // unharmed.
    {"MHRunLongerThanRowIsCut", Kind::MH, 4, "00110101 00011 000 1011", 2, {0xF0, 0x00}, 2},
    {"Fax3RunLongerThanRowIsCut", Kind::Fax3, 4, Eol + "00110101 00011" + Eol + "0111 10", 2, {0xF0, 0x30}, 2},
    // Width 12: the second row's black run reaches into bits that the target
    // does not hold (target of 3 bytes, rows of 2).
    {"LastRowCutByTarget", Kind::MH, 12, "1011 0000001111 0000110111 0111 0000001111 0000110111", 3,
     {0x0F, 0xF0, 0x3F}, 3},
    {"RowsBeyondTargetAreDropped", Kind::Fax3, 4,
     Eol + "0111 11" + Eol + "00110101 0011" + Eol + "0111 11" + Eol + "0111 11", 2, {0x30, 0xF0}, 2},
    // Group 3: rows behind end-of-line codes, fill bits before them, the
    // end-of-page codes after the last row make no rows.
    {"Fax3Rows", Kind::Fax3, 8, Eol + "0111 10 1011" + "0000" + Eol + "00110101 00011 000111" + Eol + Eol + Eol, 3,
     {0x38, 0xFE, 0x00}, 2},
    // A row cut short by an end-of-line code: the next row follows right
    // after that code.
    {"EolInsideRowEndsIt", Kind::Fax3, 8, Eol + "0111 10" + Eol + "1011 011", 2, {0x38, 0x0F}, 2},
    // A make-up code followed by an end-of-line code is no run.
    {"MakeUpThenEolWritesNothing", Kind::Fax3, 80, Eol + "00110101 0000001111" + Eol + "00110101 11" + "0111", 20,
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 20},
    // Two-dimensional rows (modes: V0 1, VR1 011, VL1 010, horizontal 001,
    // pass 0001). Row 1: horizontal white 2 black 3, V0 to the row end.
    // Row 2 follows its reference by V0 three times; row 3 moves the black
    // run's edges by VR1 and VL1.
    {"G4VerticalModes", Kind::Fax4, 8, "001 0111 10 1" "111" "011 010 1", 3, {0x38, 0x38, 0x10}, 3},
    // Pass mode skips the reference's black run: row 2 stays white.
    {"G4PassMode", Kind::Fax4, 8, "001 0111 10 1" "0001 1", 2, {0x38, 0x00}, 2},
    // The end-of-block code ends the strip; codes after it are not read.
    {"G4EndOfBlock", Kind::Fax4, 8, "001 0111 10 1" + Eol + Eol + "1", 3, {0x38, 0x00, 0x00}, 1},
    // Bad data: the pixels decoded so far of the row are kept, then the strip ends.
    {"G4BadCodeEndsTheStrip", Kind::Fax4, 8, "001 0111 10" "0000000 1", 2, {0x38, 0x00}, 1},
    // A vertical mode that would put a1 before the row start is bad data.
    {"G4ChangeBeforeA0", Kind::Fax4, 8, "001 0111 10 1" "0000010", 2, {0x38, 0x00}, 1},
    // Group 3 two-dimensional: an end-of-line code and a tag bit (1: one-
    // dimensional, 0: two-dimensional) before every row, fill bits allowed.
    {"G3TwoDRows", Kind::Fax3TwoD, 8, Eol + "1 0111 10 1000" "000" + Eol + "0 011 010 1" + Eol + "1" + Eol + "1", 3,
     {0x38, 0x10, 0x00}, 2},
    // A damaged row ends where the damage is (row 2: a change at 2, then bad
    // bits); the next row starts at the next end-of-line code, against the
    // reference decoded so far (black from 2 on).
    {"G3TwoDResynchronises", Kind::Fax3TwoD, 8, Eol + "1 0111 10 1000" + Eol + "0 1 0000000 11" + Eol + "0 1 1", 3,
     {0x38, 0x00, 0x3F}, 3},
};

void PrintTo(const BitCase& c, std::ostream* os)
{
    *os << c.Name;
}

class CCITTBits : public ::testing::TestWithParam<BitCase> {};

TEST_P(CCITTBits, Decode)
{
    const BitCase& c = GetParam();
    auto decoder = MakeDecoder(c.Decoder, c.Width);
    const Decoded d = Decode(*decoder, Bits(c.Source), c.TargetSize);
    EXPECT_EQ(d.Out, c.Expected);
    EXPECT_EQ(d.Result.Produced, c.Produced);
}

INSTANTIATE_TEST_SUITE_P(Codes, CCITTBits, ::testing::ValuesIn(BitCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Runs beyond 2560 pixels: make-up codes add up until a terminating code.
// Uncompressed mode (extension code 0000001 111) is refused with a clear
// message when the options allow it; otherwise its code is bad data.
TEST(CCITT, UncompressedModeIsRefused)
{
    const Bytes source = Bits("0000001111 0000");
    TCCITTFax4Decoder allowed(2, false, 8);
    EXPECT_THROW(
        try { Decode(allowed, source, 1); } catch (const EGraphicCompression& e) {
            EXPECT_STREQ(e.what(), "CCITT uncompressed mode is not supported.");
            throw;
        },
        EGraphicCompression);
    TCCITTFax4Decoder notAllowed(0, false, 8);
    EXPECT_EQ(Decode(notAllowed, source, 1).Result.Produced, 0u);
}

TEST(CCITT, SeveralMakeUpCodesAddUp)
{
    auto decoder = MakeDecoder(Kind::MH, 2700);
    const Decoded d = Decode(*decoder, Bits("00110101 000000011111 000011001000 11 00111"), 338);
    Bytes expected(338, 0xFF);
    expected[336] = 0xC0;
    expected[337] = 0x00;
    EXPECT_EQ(d.Out, expected);
}

TEST(CCITT, SwapBitsReadsEachByteReversed)
{
    // 0x01 read as 0x80: first bit 1.
    const Bytes plain = Bits("0111 11 00 1011 0000 00110101 10 000111");
    Bytes reversed;
    for (uint8_t b : plain) {
        uint8_t r = 0;
        for (int i = 0; i < 8; ++i)
            if (b & (1 << i))
                r |= static_cast<uint8_t>(0x80 >> i);
        reversed.push_back(r);
    }
    const Bytes copy = reversed;
    auto decoder = MakeDecoder(Kind::MH, 4, true);
    EXPECT_EQ(Decode(*decoder, reversed, 3).Out, (Bytes{0x30, 0x00, 0xE0}));
    EXPECT_EQ(reversed, copy) << "the source stays as it was";
}

TEST(CCITT, OptionsAreKept)
{
    TCCITTFax3Decoder decoder(4, false, false, 8);
    EXPECT_EQ(decoder.Options(), 4u);
}

// ---- Data written by libtiff and tiffcp -------------------------------------

// 1 bit per pixel, rows of (Width + 7) / 8 bytes, set = black.
struct Bilevel {
    uint32_t Width = 0;
    uint32_t Height = 0;
    Bytes Bits;
    size_t RowBytes() const { return (Width + 7) / 8; }
    void Set(uint32_t x, uint32_t y) { Bits[y * RowBytes() + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8)); }
};

Bilevel Blank(uint32_t width, uint32_t height)
{
    Bilevel image{width, height, {}};
    image.Bits.assign(image.RowBytes() * height, 0);
    return image;
}

// Runs of every terminating length for both colours, make-up lengths up to
// 2560 and beyond, laid out row after row (each row starts white).
Bilevel RunImage(uint32_t width)
{
    std::vector<uint32_t> lengths;
    for (uint32_t n = 1; n <= 130; ++n)
        lengths.push_back(n);
    for (uint32_t k = 2; k <= 40; ++k)
        lengths.push_back(64 * k + (k * 7) % 64);
    for (uint32_t n : {2560u, 2600u, 4000u, 5000u})
        lengths.push_back(n);
    std::vector<bool> pixels;
    for (uint32_t n : lengths)
        for (bool black : {false, true})
            pixels.insert(pixels.end(), n, black);
    const uint32_t height = static_cast<uint32_t>((pixels.size() + width - 1) / width);
    Bilevel image = Blank(width, height);
    for (size_t i = 0; i < pixels.size(); ++i)
        if (pixels[i])
            image.Set(static_cast<uint32_t>(i % width), static_cast<uint32_t>(i / width));
    return image;
}

Bilevel RandomImage(uint32_t width, uint32_t height, unsigned seed)
{
    std::mt19937 rng(seed);
    std::geometric_distribution<int> run(0.08);
    Bilevel image = Blank(width, height);
    bool black = false;
    uint32_t x = 0, y = 0;
    while (y < height) {
        for (int n = run(rng); n >= 0 && y < height; --n) {
            if (black)
                image.Set(x, y);
            if (++x == width) {
                x = 0;
                ++y;
            }
        }
        black = !black;
    }
    return image;
}

// Rows all black and all white in turn.
Bilevel SolidRows(uint32_t width)
{
    Bilevel image = Blank(width, 4);
    for (uint32_t y : {0u, 2u})
        for (uint32_t x = 0; x < width; ++x)
            image.Set(x, y);
    return image;
}

void QuietLibtiff()
{
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
}

void WriteTiff(const std::string& path, const Bilevel& image, uint16_t compression, uint16_t fillOrder,
               uint32_t rowsPerStrip, uint32_t t4Options = 0)
{
    QuietLibtiff();
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.Height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_FILLORDER, fillOrder);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    if (t4Options)
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, t4Options);
    Bytes row(image.RowBytes());
    for (uint32_t y = 0; y < image.Height; ++y) {
        std::copy_n(image.Bits.begin() + y * image.RowBytes(), row.size(), row.begin());
        ASSERT_GE(TIFFWriteScanline(tif, row.data(), y, 0), 0);
    }
    TIFFClose(tif);
}

struct RawStrips {
    uint16_t Compression = 0;
    uint16_t FillOrder = 1;
    uint32_t T4Options = 0;
    uint32_t RowsPerStrip = 0;
    std::vector<Bytes> Strips;
};

RawStrips ReadRawStrips(const std::string& path)
{
    QuietLibtiff();
    RawStrips raw;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return raw;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &raw.Compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &raw.FillOrder);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &raw.RowsPerStrip);
    TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &raw.T4Options);
    uint64_t* counts = nullptr;
    TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts);
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
        Bytes strip(counts[s]);
        TIFFReadRawStrip(tif, s, strip.data(), static_cast<tmsize_t>(strip.size()));
        raw.Strips.push_back(strip);
    }
    TIFFClose(tif);
    return raw;
}

// Decodes strip after strip into the image's rows, as the TIFF reader does.
Bytes DecodeStrips(const RawStrips& raw, uint32_t width, uint32_t height)
{
    const size_t rowBytes = (width + 7) / 8;
    const bool swap = raw.FillOrder == 2;
    std::unique_ptr<TDecoder> decoder;
    if (raw.Compression == COMPRESSION_CCITTFAX4)
        decoder = std::make_unique<TCCITTFax4Decoder>(0, swap, width);
    else if (raw.Compression == COMPRESSION_CCITTFAX3 && (raw.T4Options & 1))
        decoder = std::make_unique<TCCITTFax3Decoder2D>(raw.T4Options, swap, width);
    else if (raw.Compression == COMPRESSION_CCITTFAX3)
        decoder = std::make_unique<TCCITTFax3Decoder>(raw.T4Options, swap, false, width);
    else
        decoder = std::make_unique<TCCITTMHDecoder>(0, swap, raw.Compression == COMPRESSION_CCITTRLEW, width);
    Bytes out;
    decoder->ExpandStart();
    for (size_t s = 0; s < raw.Strips.size(); ++s) {
        const size_t rows = std::min<size_t>(raw.RowsPerStrip, height - s * raw.RowsPerStrip);
        Bytes strip(rows * rowBytes, 0xEE);
        const uint8_t* source = raw.Strips[s].data();
        uint8_t* target = strip.data();
        const TExpandResult r =
            decoder->Expand(source, raw.Strips[s].size(), target, strip.size(), raw.Strips[s].size(), strip.size());
        EXPECT_EQ(r.Produced, strip.size()) << "strip " << s;
        out.insert(out.end(), strip.begin(), strip.end());
    }
    decoder->ExpandFinish();
    return out;
}

enum class Tool { Tiffcp, TiffcpFill, TiffcpLsb2Msb, LibtiffMH, LibtiffMHLsb2Msb, LibtiffMHWordAligned, G4, G4Lsb2Msb,
                  G3TwoD, G3TwoDFill, G3TwoDLsb2Msb };

struct ToolCase {
    const char* Name;
    Tool Encoder;
    Bilevel (*Make)(uint32_t);
    uint32_t Width;
};

Bilevel Random40(uint32_t width) { return RandomImage(width, 40, width); }

const ToolCase ToolCases[] = {
    {"G3RunLengths", Tool::Tiffcp, RunImage, 5000},
    {"G3RunLengthsFillBits", Tool::TiffcpFill, RunImage, 5000},
    {"G3RunLengthsLsb2Msb", Tool::TiffcpLsb2Msb, RunImage, 5000},
    {"G3Random1", Tool::Tiffcp, Random40, 1},
    {"G3Random13", Tool::Tiffcp, Random40, 13},
    {"G3Random1728", Tool::Tiffcp, Random40, 1728},
    {"G3Random2001Lsb2Msb", Tool::TiffcpLsb2Msb, Random40, 2001},
    {"G3Solid63", Tool::Tiffcp, SolidRows, 63},
    {"G3Solid1729", Tool::Tiffcp, SolidRows, 1729},
    {"G3Solid2561", Tool::Tiffcp, SolidRows, 2561},
    {"G3Solid5000", Tool::Tiffcp, SolidRows, 5000},
    {"MHRunLengths", Tool::LibtiffMH, RunImage, 5000},
    {"MHRunLengthsLsb2Msb", Tool::LibtiffMHLsb2Msb, RunImage, 5000},
    {"MHRunLengthsWordAligned", Tool::LibtiffMHWordAligned, RunImage, 4999},
    {"MHRandom7", Tool::LibtiffMH, Random40, 7},
    {"MHRandom255WordAligned", Tool::LibtiffMHWordAligned, Random40, 255},
    {"MHRandom1727", Tool::LibtiffMH, Random40, 1727},
    {"MHSolid1", Tool::LibtiffMH, SolidRows, 1},
    {"MHSolid64", Tool::LibtiffMH, SolidRows, 64},
    {"MHSolid2560", Tool::LibtiffMH, SolidRows, 2560},
    {"MHSolid4999", Tool::LibtiffMHLsb2Msb, SolidRows, 4999},
    {"MHSolid5000", Tool::LibtiffMH, SolidRows, 5000},
    {"G4RunLengths", Tool::G4, RunImage, 5000},
    {"G4Random1", Tool::G4, Random40, 1},
    {"G4Random7Lsb2Msb", Tool::G4Lsb2Msb, Random40, 7},
    {"G4Random8", Tool::G4, Random40, 8},
    {"G4Random1728", Tool::G4, Random40, 1728},
    {"G4Random2480Lsb2Msb", Tool::G4Lsb2Msb, Random40, 2480},
    {"G4Random10000", Tool::G4, Random40, 10000},
    {"G4Solid2561", Tool::G4, SolidRows, 2561},
    {"G3TwoDRunLengths", Tool::G3TwoD, RunImage, 5000},
    {"G3TwoDRandom1Fill", Tool::G3TwoDFill, Random40, 1},
    {"G3TwoDRandom7", Tool::G3TwoD, Random40, 7},
    {"G3TwoDRandom8Lsb2Msb", Tool::G3TwoDLsb2Msb, Random40, 8},
    {"G3TwoDRandom1728Fill", Tool::G3TwoDFill, Random40, 1728},
    {"G3TwoDRandom2480", Tool::G3TwoD, Random40, 2480},
    {"G3TwoDRandom10000Lsb2Msb", Tool::G3TwoDLsb2Msb, Random40, 10000},
    {"G3TwoDSolid1729", Tool::G3TwoD, SolidRows, 1729},
};

void PrintTo(const ToolCase& c, std::ostream* os)
{
    *os << c.Name;
}

class CCITTTool : public ::testing::TestWithParam<ToolCase> {};

TEST_P(CCITTTool, DecodesToTheOriginalBits)
{
    const ToolCase& c = GetParam();
    const Bilevel image = c.Make(c.Width);
    pwtest::TempDir dir;
    const std::string plain = dir.File("plain.tif"), coded = dir.File("coded.tif");
    const uint32_t rowsPerStrip = 7;
    switch (c.Encoder) {
    case Tool::Tiffcp:
    case Tool::TiffcpFill:
    case Tool::TiffcpLsb2Msb:
    case Tool::G4:
    case Tool::G4Lsb2Msb:
    case Tool::G3TwoD:
    case Tool::G3TwoDFill:
    case Tool::G3TwoDLsb2Msb: {
        if (!pwtest::HaveProgram("tiffcp"))
            GTEST_SKIP() << "tiffcp is not installed";
        WriteTiff(plain, image, COMPRESSION_NONE, FILLORDER_MSB2LSB, image.Height);
        const char* scheme = c.Encoder == Tool::TiffcpFill                             ? "g3:1d:fill"
                             : c.Encoder == Tool::G4 || c.Encoder == Tool::G4Lsb2Msb   ? "g4"
                             : c.Encoder == Tool::G3TwoDFill                           ? "g3:2d:fill"
                             : c.Encoder == Tool::G3TwoD || c.Encoder == Tool::G3TwoDLsb2Msb ? "g3:2d"
                                                                                       : "g3:1d";
        std::vector<std::string> argv{"tiffcp", "-r", std::to_string(rowsPerStrip), "-c", scheme};
        if (c.Encoder == Tool::TiffcpLsb2Msb || c.Encoder == Tool::G4Lsb2Msb || c.Encoder == Tool::G3TwoDLsb2Msb)
            argv.insert(argv.end(), {"-f", "lsb2msb"});
        argv.insert(argv.end(), {plain, coded});
        const pwtest::CommandResult run = pwtest::Run(argv);
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        break;
    }
    case Tool::LibtiffMH:
        WriteTiff(coded, image, COMPRESSION_CCITTRLE, FILLORDER_MSB2LSB, rowsPerStrip);
        break;
    case Tool::LibtiffMHLsb2Msb:
        WriteTiff(coded, image, COMPRESSION_CCITTRLE, FILLORDER_LSB2MSB, rowsPerStrip);
        break;
    case Tool::LibtiffMHWordAligned:
        WriteTiff(coded, image, COMPRESSION_CCITTRLEW, FILLORDER_MSB2LSB, rowsPerStrip);
        break;
    }
    const RawStrips raw = ReadRawStrips(coded);
    ASSERT_FALSE(raw.Strips.empty());
    ASSERT_EQ(raw.RowsPerStrip, rowsPerStrip);
    const bool lsb2msb = c.Encoder == Tool::TiffcpLsb2Msb || c.Encoder == Tool::LibtiffMHLsb2Msb ||
                         c.Encoder == Tool::G4Lsb2Msb || c.Encoder == Tool::G3TwoDLsb2Msb;
    EXPECT_EQ(raw.FillOrder, lsb2msb ? 2 : 1);
    const bool twoD = c.Encoder == Tool::G3TwoD || c.Encoder == Tool::G3TwoDFill || c.Encoder == Tool::G3TwoDLsb2Msb;
    EXPECT_EQ(raw.T4Options & 1, twoD ? 1u : 0u);
    const Bytes decoded = DecodeStrips(raw, image.Width, image.Height);
    ASSERT_EQ(decoded.size(), image.Bits.size());
    size_t first = 0;
    while (first < decoded.size() && decoded[first] == image.Bits[first])
        ++first;
    EXPECT_EQ(first, decoded.size()) << "first difference in row " << first / image.RowBytes() << ", byte "
                                     << first % image.RowBytes();
}

INSTANTIATE_TEST_SUITE_P(Encoders, CCITTTool, ::testing::ValuesIn(ToolCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Strips cut anywhere decode their whole rows before the cut as coded; cut
// or damaged strips never take the decoder outside its buffers.
TEST(CCITT, TruncatedAndDamagedStrips)
{
    const Bilevel image = RandomImage(300, 30, 5);
    pwtest::TempDir dir;
    std::mt19937 rng(11);
    const std::tuple<uint16_t, uint32_t, Kind> codings[] = {{COMPRESSION_CCITTFAX3, 0, Kind::Fax3},
                                                            {COMPRESSION_CCITTRLE, 0, Kind::MH},
                                                            {COMPRESSION_CCITTFAX3, 1, Kind::Fax3TwoD},
                                                            {COMPRESSION_CCITTFAX4, 0, Kind::Fax4}};
    for (const auto& [compression, options, kind] : codings) {
        SCOPED_TRACE(static_cast<int>(kind));
        WriteTiff(dir.File("t.tif"), image, compression, FILLORDER_MSB2LSB, image.Height, options);
        const RawStrips raw = ReadRawStrips(dir.File("t.tif"));
        ASSERT_EQ(raw.Strips.size(), 1u);
        const Bytes& strip = raw.Strips[0];
        const size_t rowBytes = image.RowBytes();
        size_t lastRows = 0;
        for (size_t cut = 0; cut <= strip.size(); ++cut) {
            RawStrips part = raw;
            part.Strips[0].assign(strip.begin(), strip.begin() + cut);
            auto decoder = MakeDecoder(kind, image.Width);
            const Decoded d = Decode(*decoder, part.Strips[0], image.Bits.size());
            const size_t rows = d.Result.Produced / rowBytes;
            ASSERT_GE(rows, lastRows) << "cut at " << cut;
            lastRows = rows;
            const size_t good = rows > 0 ? (rows - 1) * rowBytes : 0;
            ASSERT_TRUE(std::equal(d.Out.begin(), d.Out.begin() + good, image.Bits.begin())) << "cut at " << cut;
        }
        EXPECT_EQ(lastRows, image.Height);
        for (int round = 0; round < 200; ++round) {
            Bytes damaged = strip;
            for (int flips = 1 + rng() % 8; flips > 0; --flips)
                damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            auto decoder = MakeDecoder(kind, image.Width);
            const Decoded d = Decode(*decoder, damaged, image.Bits.size() - rng() % 100);
            ASSERT_LE(d.Result.Consumed, damaged.size());
        }
    }
}

} // namespace

// Group 3 rows of random runs (long and short codes, make-up codes of every
// kind), the whole strip shifted by 0 to 7 fill bits so that every code
// meets every position in its bytes, in both bit orders; and every cut of
// the strip keeps the rows that lie wholly before the cut.
TEST(CCITT, CodesAtEveryBitPositionAndEveryCut)
{
    const uint32_t width = 2000;
    const size_t rowBytes = (width + 7) / 8;
    const size_t rows = 6;
    std::mt19937 rng(77);
    std::string bits;
    std::vector<size_t> rowEnds; // bit offsets just past each row's codes
    Bytes expected(rows * rowBytes, 0);
    for (size_t y = 0; y < rows; ++y) {
        bits += Eol;
        uint32_t x = 0;
        bool white = true;
        while (x < width) {
            const uint32_t pick = rng() % 4;
            const uint32_t run = std::min(width - x, pick == 0 ? uint32_t(rng() % 2600) : uint32_t(rng() % 70));
            if (run >= 64) {
                const uint32_t units = run / 64;
                bits += units >= 28 ? ccitt::ExtendedMakeUp[units - 28]
                                    : (white ? ccitt::WhiteMakeUp : ccitt::BlackMakeUp)[units - 1];
            }
            bits += (white ? ccitt::WhiteTerminating : ccitt::BlackTerminating)[run % 64];
            if (!white)
                for (uint32_t i = x; i < x + run; ++i)
                    expected[y * rowBytes + i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
            x += run;
            white = !white;
        }
        rowEnds.push_back(bits.size());
    }
    for (const bool swap : {false, true}) {
        for (size_t shift = 0; shift < 8; ++shift) {
            SCOPED_TRACE("shift " + std::to_string(shift) + (swap ? ", reversed bytes" : ""));
            Bytes source = Bits(std::string(shift, '0') + bits);
            if (swap)
                for (uint8_t& b : source) {
                    uint8_t r = 0;
                    for (int i = 0; i < 8; ++i)
                        if (b & (1 << i))
                            r |= static_cast<uint8_t>(0x80 >> i);
                    b = r;
                }
            auto decoder = MakeDecoder(Kind::Fax3, width, swap);
            const Decoded whole = Decode(*decoder, source, expected.size());
            ASSERT_EQ(whole.Out, expected);
            EXPECT_EQ(whole.Result.Produced, expected.size());
            for (size_t cut = 0; cut < source.size(); ++cut) {
                const Decoded part = Decode(*decoder, Bytes(source.begin(), source.begin() + cut), expected.size());
                size_t complete = 0;
                while (complete < rows && shift + rowEnds[complete] <= cut * 8)
                    ++complete;
                ASSERT_TRUE(std::equal(part.Out.begin(), part.Out.begin() + complete * rowBytes, expected.begin()))
                    << "cut at " << cut;
                ASSERT_GE(part.Result.Produced, complete * rowBytes) << "cut at " << cut;
            }
        }
    }
}
