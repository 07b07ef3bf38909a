// The Dr. Halo reader on files built byte by byte, and its palette file.
#include "imaging/readers/cut_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/support/reader_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using pwtest::Bytes;
using pwtest::Decoded;
using pwtest::Pixels;

// A CUT file: width, height, a reserved word, then each row (its packets
// given whole) behind its byte count and closed by a 0, except the last row
// when closeLast is false.
Bytes Cut(uint16_t width, uint16_t height, const std::vector<Bytes>& rows, bool closeLast = true)
{
    Bytes out = {uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8), 0, 0};
    for (size_t r = 0; r < rows.size(); ++r) {
        const size_t n = rows[r].size() + (closeLast || r + 1 < rows.size());
        out.push_back(uint8_t(n)), out.push_back(uint8_t(n >> 8));
        out.insert(out.end(), rows[r].begin(), rows[r].end());
        out.resize(out.size() + n - rows[r].size(), 0);
    }
    return out;
}

// A palette file: highest index at 12, entries of three 16-bit words from
// 40, an entry never crossing a 512-byte block end.
Bytes Pal(uint16_t highest, const std::vector<std::array<uint16_t, 3>>& entries)
{
    Bytes out(1024, 0);
    out[12] = uint8_t(highest), out[13] = uint8_t(highest >> 8);
    size_t at = 40;
    for (const auto& e : entries) {
        at += at % 512 > 506 ? 512 - at % 512 : 0;
        for (size_t i = 0; i < 3; ++i)
            out[at + 2 * i] = uint8_t(e[i]), out[at + 2 * i + 1] = uint8_t(e[i] >> 8);
        at += 6;
    }
    return out;
}

using pwtest::Grey;

struct Case {
    const char* Name;
    Bytes File;
    int Width, Height;
    Pixels Expected;   // after an error: the pixels that must have arrived
    std::string Error; // "" when the load succeeds
};

const Case Cases[] = {
    // 0x83 9: a run of three 9s; 1 200: a literal of one byte.
    {"LiteralsAndRunsAsGreyWithoutPalette", Cut(4, 2, {{4, 1, 2, 3, 4}, {0x83, 9, 1, 200}}), 4, 2,
     {Grey(1), Grey(2), Grey(3), Grey(4), Grey(9), Grey(9), Grey(9), Grey(200)}, ""},
    {"RowCodingMorePixelsIsCutAtItsEnd", Cut(3, 2, {{0x85, 7, 2, 8, 8}, {3, 1, 2, 3}}), 3, 2,
     {Grey(7), Grey(7), Grey(7), Grey(1), Grey(2), Grey(3)}, ""},
    {"RowCodingFewerPixelsLeavesZero", Cut(3, 1, {{1, 5}}), 3, 1, {Grey(5), 0xFF000000, 0xFF000000}, ""},
    {"LastRowWithoutItsEndByte", Cut(2, 2, {{0x82, 1}, {2, 2, 3}}, false), 2, 2,
     {Grey(1), Grey(1), Grey(2), Grey(3)}, ""},
    {"ShortHeader", {4, 0, 2, 0, 0}, 0, 0, {}, "Stream read error"},
    {"MissingRowsRaiseAfterTheRowsRead", Cut(3, 3, {{3, 1, 2, 3}}), 3, 3, {Grey(1), Grey(2), Grey(3)},
     "Stream read error"},
    // Refused before a 4 GB bitmap is made.
    {"OversizeDeclaresRowsItDoesNotHold", Cut(65535, 65535, {{0xFF, 1}}), 0, 0, {}, "Stream read error"},
};

class CUTCases : public ::testing::TestWithParam<Case> {};

TEST_P(CUTCases, DecodeOrFailExactly)
{
    const Case& c = GetParam();
    TCUTGraphic image;
    try {
        TMemoryStream stream(c.File.data(), c.File.size());
        image.LoadFromStream(stream);
        EXPECT_EQ(c.Error, "") << "no exception";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.what(), c.Error);
    }
    EXPECT_EQ(image.Width(), c.Width);
    EXPECT_EQ(image.Height(), c.Height);
    Pixels got = Decoded(image);
    got.resize(c.Expected.size());
    EXPECT_EQ(got, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(CUT, CUTCases, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.Name); });

TEST(CUTPalette, TheFileBesideTheImage)
{
    pwtest::TempDir dir;
    const Bytes row = Cut(5, 1, {{5, 0, 1, 15, 78, 79}});
    std::vector<std::array<uint16_t, 3>> entries(80, {0, 0, 0});
    entries[0] = {63, 0, 32};         // 0..63 is not scaled
    entries[1] = {0x0123, 0xFF80, 7}; // only the low bytes count
    entries[15] = {255, 255, 255};
    entries[78] = {10, 20, 30}; // the first entry of the second block
    entries[79] = {40, 50, 60};
    pwtest::WriteBytes(dir.File("scan.cut"), row);
    pwtest::WriteBytes(dir.File("scan.pal"), Pal(79, entries));
    pwtest::WriteBytes(dir.File("UPPER.CUT"), row);
    pwtest::WriteBytes(dir.File("UPPER.PAL"), Pal(15, entries)); // 16 colours: the rest stays unset
    pwtest::WriteBytes(dir.File("grey.cut"), row);
    const Pixels colours = {0xFF3F0020, 0xFF238007, 0xFFFFFFFF, 0xFF0A141E, 0xFF28323C};
    const std::pair<const char*, Pixels> cases[] = {
        {"scan.cut", colours},
        {"UPPER.CUT", {0xFF3F0020, 0xFF238007, 0xFFFFFFFF, 0xFF000000, 0xFF000000}},
        {"grey.cut", {Grey(0), Grey(1), Grey(15), Grey(78), Grey(79)}}};
    for (const auto& [name, expected] : cases) {
        TCUTGraphic image;
        image.LoadFromFile(dir.File(name));
        EXPECT_EQ(Decoded(image), expected) << name;
    }

    // A stream load uses the palette of the last file loaded.
    TCUTGraphic image;
    image.LoadImageFile(dir.File("scan.cut"));
    TMemoryStream stream(row.data(), row.size());
    image.LoadFromStream(stream);
    EXPECT_EQ(Decoded(image), colours);

    // A palette file that ends before the entries it declares.
    Bytes cut = Pal(15, entries);
    cut.resize(52);
    pwtest::WriteBytes(dir.File("grey.pal"), cut);
    try {
        image.LoadFromFile(dir.File("grey.cut"));
        ADD_FAILURE() << "no exception";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

} // namespace
