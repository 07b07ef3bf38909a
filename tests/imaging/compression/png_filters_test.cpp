// The vector PNG row filters against the reference loops, for each
// instruction set this processor runs, on random rows of every length from
// 0 to 200 bytes.
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
                }
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}
