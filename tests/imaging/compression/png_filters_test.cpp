// The vector PNG row filters against the reference loops, for each
// instruction set this processor runs, on random rows of every length from
// 0 to 200 bytes.
#include "imaging/compression/png_filters.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <random>
#include <vector>

TEST(PNGFilters, VectorFormsGiveTheReferenceRows)
{
    std::mt19937 rng(77);
    const auto random = [&](size_t n) {
        std::vector<uint8_t> bytes(n);
        for (auto& b : bytes)
            b = static_cast<uint8_t>(rng());
        return bytes;
    };
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
