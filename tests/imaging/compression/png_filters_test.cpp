// The vector PNG row filters against the reference loops, for each
// instruction set this processor runs, on random rows of every length from
// 0 to 200 bytes, whole and in two parts.
#include "imaging/compression/png_filters.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <vector>

TEST(PNGFilters, VectorFormsGiveTheReferenceRows)
{
    pwtest::RandomBytes random(77);
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        for (const uint32_t pixelBytes : {1u, 2u, 3u, 4u, 6u, 8u}) {
            for (uint8_t type = 0; type <= 5; ++type) {
                for (size_t count = 0; count <= 200; ++count) {
                    const std::vector<uint8_t> prev = random(count), row = random(count);
                    std::vector<uint8_t> expected = row, actual = row;
                    pwpng::scalar::UnfilterRow(type, expected.data(), prev.data(), count, pixelBytes);
                    pwpng::simd::UnfilterRow(type, actual.data(), prev.data(), count, pixelBytes);
                    ASSERT_EQ(actual, expected) << "filter " << int(type) << ", " << pixelBytes << "-byte pixels, "
                                                << count << " bytes, " << hwy::TargetName(target);
                    // In two parts, split at a pixel, as threads undo a row.
                    const size_t split = count / pixelBytes / 3 * pixelBytes;
                    actual = row;
                    pwpng::simd::UnfilterRow(type, actual.data(), prev.data(), split, pixelBytes);
                    pwpng::simd::UnfilterRow(type, actual.data(), prev.data(), count, pixelBytes, split);
                    ASSERT_EQ(actual, expected) << "in parts, filter " << int(type) << ", " << pixelBytes
                                                << "-byte pixels, " << count << " bytes, " << hwy::TargetName(target);
                }
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

// Paeth on 1-byte pixels works out the predictor from thresholds: every
// left and above byte, with ties, for above-left bytes across the range.
TEST(PNGFilters, PaethOnBytesMatchesTheReferenceForEveryNeighbourhood)
{
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        for (const int c : {0, 1, 2, 15, 30, 45, 60, 75, 90, 105, 120, 127, 128, 129, 135, 150, 165, 180, 195, 210,
                            225, 240, 253, 254, 255}) {
            std::vector<uint8_t> prev, row;
            for (int a = 0; a < 256; ++a)
                for (int b = 0; b < 256; ++b) {
                    // The first byte becomes a (its predictor is the byte above, c).
                    prev.insert(prev.end(), {uint8_t(c), uint8_t(b)});
                    row.insert(row.end(), {uint8_t(a - c), uint8_t(a * 7 + b)});
                }
            std::vector<uint8_t> expected = row, actual = row;
            for (size_t i = 0; i < row.size(); i += 2) {
                pwpng::scalar::UnfilterRow(4, expected.data() + i, prev.data() + i, 2, 1);
                pwpng::simd::UnfilterRow(4, actual.data() + i, prev.data() + i, 2, 1);
            }
            ASSERT_EQ(actual, expected) << "above-left " << c << ", " << hwy::TargetName(target);
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}
