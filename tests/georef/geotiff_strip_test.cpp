// Removing a TIFF's own GeoTIFF tags in place, on directories built byte by
// byte: both byte orders, classic and BigTIFF, two directories, and damage.
#include "georef/geotiff_strip.h"

#include "platform/exceptions.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

struct TTiffBytes {
    bool Little = true;
    bool Big = false;
    std::vector<uint8_t> Bytes;

    void Put(uint64_t value, int size)
    {
        for (int i = 0; i < size; ++i)
            Bytes.push_back(static_cast<uint8_t>(value >> (8 * (Little ? i : size - 1 - i))));
    }
    uint64_t Get(size_t at, int size) const
    {
        uint64_t value = 0;
        for (int i = 0; i < size; ++i)
            value |= uint64_t{Bytes[at + static_cast<size_t>(i)]} << (8 * (Little ? i : size - 1 - i));
        return value;
    }
    // Header, then one directory per list of tags (SHORT, count 1, value =
    // tag), each pointing at the next; next: the last directory's link.
    static TTiffBytes Make(bool little, bool big, const std::vector<std::vector<unsigned>>& directories,
                           uint64_t lastNext = 0)
    {
        TTiffBytes t{little, big, {}};
        t.Bytes = {uint8_t(little ? 'I' : 'M'), uint8_t(little ? 'I' : 'M')};
        t.Put(big ? 43 : 42, 2);
        if (big) {
            t.Put(8, 2);
            t.Put(0, 2);
            t.Put(16, 8);
        } else {
            t.Put(8, 4);
        }
        for (size_t d = 0; d < directories.size(); ++d) {
            t.Put(directories[d].size(), big ? 8 : 2);
            for (const unsigned tag : directories[d]) {
                t.Put(tag, 2);
                t.Put(3, 2);
                t.Put(1, big ? 8 : 4);
                t.Put(tag, big ? 8 : 4);
            }
            const size_t next = t.Bytes.size() + (big ? 8 : 4);
            t.Put(d + 1 < directories.size() ? next : lastNext, big ? 8 : 4);
        }
        return t;
    }
    // The tags of every directory, following the links.
    std::vector<std::vector<unsigned>> Tags() const
    {
        std::vector<std::vector<unsigned>> result;
        const int count = Big ? 8 : 2, entry = Big ? 20 : 12, link = Big ? 8 : 4;
        uint64_t at = Big ? Get(8, 8) : Get(4, 4);
        while (at != 0 && result.size() < 8) {
            const uint64_t n = Get(at, count);
            result.emplace_back();
            for (uint64_t i = 0; i < n; ++i)
                result.back().push_back(static_cast<unsigned>(Get(at + count + i * entry, 2)));
            at = Get(at + count + n * entry, link);
        }
        return result;
    }
};

TEST(StripGeoTiffTags, RemovesOnlyTheGeoTiffEntriesOfEveryDirectory)
{
    const std::vector<unsigned> geo = {256, 257, 33550, 33922, 34264, 34735, 34736, 34737, 42112};
    const std::vector<unsigned> kept = {256, 257, 42112};
    const struct {
        const char* Name;
        TTiffBytes Tiff;
        int Removed;      // -1: refused as damaged
        std::vector<std::vector<unsigned>> Tags;
    } cases[] = {
        {"classic, little-endian", TTiffBytes::Make(true, false, {geo}), 6, {kept}},
        {"classic, big-endian, two directories", TTiffBytes::Make(false, false, {geo, {254, 33922}}), 7,
         {kept, {254}}},
        {"BigTIFF", TTiffBytes::Make(true, true, {geo}), 6, {kept}},
        {"BigTIFF, big-endian", TTiffBytes::Make(false, true, {{33550, 256}}), 1, {{256}}},
        {"nothing to remove", TTiffBytes::Make(true, false, {kept}), 0, {kept}},
        {"directories in a loop", TTiffBytes::Make(true, false, {geo}, 8), -1, {}},
        {"link past the end", TTiffBytes::Make(true, false, {geo}, 4000), -1, {}},
        {"not a TIFF", TTiffBytes{true, false, {'P', 'K', 3, 4, 0, 0, 0, 0}}, -1, {}},
        {"directory cut short", [&] {
             TTiffBytes t = TTiffBytes::Make(true, false, {geo});
             t.Bytes.resize(40);
             return t;
         }(), -1, {}},
    };
    pwtest::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string file = dir.File("map.tif");
        pwtest::WriteBytes(file, c.Tiff.Bytes);
        if (c.Removed < 0) {
            try {
                StripGeoTiffTags(file);
                ADD_FAILURE() << "no error";
            } catch (const EInvalidGraphic& error) {
                EXPECT_EQ(error.Message(), "Cannot remove the georeferencing of '" + file +
                                               "': its TIFF directories are damaged");
            }
            continue;
        }
        EXPECT_EQ(StripGeoTiffTags(file), c.Removed);
        TTiffBytes after = c.Tiff;
        after.Bytes = pwtest::ReadBytes(file);
        EXPECT_EQ(after.Bytes.size(), c.Tiff.Bytes.size());
        EXPECT_EQ(after.Tags(), c.Tags);
    }
}

} // namespace
