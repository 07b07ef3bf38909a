// Every vector row kernel against its reference loop, for each instruction
// set this processor runs, on random rows of every length from 0 to 200.
#include "imaging/color/row_kernels.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

using namespace pwcolor;

namespace {

struct KernelCase {
    const char* Name;
    size_t SourceBytes, TargetBytes; // per pixel, in eighths of a byte
    std::function<void(bool vector, const uint8_t* s, uint8_t* d, size_t count)> Run;
};

// Chroma tables with fixed-point factors (shift 16) that reproduce them, as
// the colour manager hands them over: entry i is (d * F + half) >> 16 with
// d = i - offset, the green ones negated. Without factors (shift 0) only the
// tables count.
struct Chroma {
    std::array<std::array<int32_t, 256>, 4> Entries;
    TChromaTables Tables;
    Chroma(int32_t red, int32_t greenCr, int32_t blue, int32_t greenCb, int offsetR, int offsetB, bool fixed)
    {
        const int32_t factors[4] = {red, blue, greenCr, greenCb};
        for (int i = 0; i < 256; ++i) {
            for (int k = 0; k < 4; ++k) {
                const int32_t v = ((i - (k % 2 ? offsetB : offsetR)) * factors[k] + 32768) >> 16;
                Entries[k][i] = k < 2 ? v : -v;
            }
        }
        Tables = {Entries[0].data(), Entries[1].data(), Entries[2].data(), Entries[3].data(),
                  red, greenCr, blue, greenCb, fixed ? 16 : 0, offsetR, offsetB};
    }
};
const Chroma Rec601(91881, 46802, 116130, 22554, 128, 128, true);
const Chroma PhotoYCC(119376, 60777, 145359, 28188, 137, 156, true);
// Red and blue beyond 255 in size, blue falling; then green beyond 255, which
// the byte-permutation form leaves to the reference loop, and no factors.
const Chroma Strong(294912, 72090, -196608, 58982, 128, 128, true);
const Chroma TooStrongGreen(91881, 163840, 116130, 22554, 128, 128, false);
const uint8_t Values[16] = {0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255};
const uint8_t Inverted[16] = {255, 3, 250, 9, 1, 77, 128, 129, 200, 4, 60, 61, 90, 33, 250, 0};

// A row's source bytes as L*a*b* samples: interleaved pixels, or three planes
// one after another; the flags say both ByteL and OffsetAB.
TLabSamples Lab(const uint8_t* s, size_t count, size_t bytes, bool interleaved, bool swap, bool flags)
{
    if (interleaved)
        return {{s, s + bytes, s + 2 * bytes}, 3 * bytes, bytes == 2, swap, flags, flags};
    return {{s, s + count * bytes, s + 2 * count * bytes}, bytes, bytes == 2, swap, flags, flags};
}

#define PW_KERNEL(call) [](bool v, const uint8_t* s, uint8_t* d, size_t n) { v ? simd::call : scalar::call; }

const KernelCase Kernels[] = {
    {"Exchange3", 24, 24, PW_KERNEL(Exchange3(s, d, n))},
    {"Exchange3InPlace", 24, 24,
     [](bool v, const uint8_t* s, uint8_t* d, size_t n) {
         std::copy(s, s + 3 * n, d);
         v ? simd::Exchange3InPlace(d, n) : scalar::Exchange3(s, d, n);
     }},
    {"Shuffle4 exchanged", 32, 32, PW_KERNEL(Shuffle4(s, d, n, true))},
    {"Shuffle4 in order", 32, 32, PW_KERNEL(Shuffle4(s, d, n, false))},
    {"Pack4To3 exchanged", 32, 24, PW_KERNEL(Pack4To3(s, d, n, true))},
    {"Pack4To3 in order", 32, 24, PW_KERNEL(Pack4To3(s, d, n, false))},
    {"Spread3To4 exchanged", 24, 32, PW_KERNEL(Spread3To4(s, d, n, true))},
    {"Spread3To4 in order", 24, 32, PW_KERNEL(Spread3To4(s, d, n, false))},
    {"Words16To8", 16, 8, PW_KERNEL(Words16To8(s, d, n, false))},
    {"Words16To8 swapped", 16, 8, PW_KERNEL(Words16To8(s, d, n, true))},
    {"RGB16To8 exchanged", 48, 24, PW_KERNEL(RGB16To8(s, d, n, false, true))},
    {"RGB16To8 swapped, exchanged", 48, 24, PW_KERNEL(RGB16To8(s, d, n, true, true))},
    {"RGB16To8 swapped, in order", 48, 24, PW_KERNEL(RGB16To8(s, d, n, true, false))},
    {"RGB16To8 in order", 48, 24, PW_KERNEL(RGB16To8(s, d, n, false, false))},
    {"CMYK8To3 BGR", 32, 24, PW_KERNEL(CMYK8To3(s, d, n, true))},
    {"CMYK8To3 RGB", 32, 24, PW_KERNEL(CMYK8To3(s, d, n, false))},
    {"YCC8To3 BGR", 24, 24, PW_KERNEL(YCC8To3(s, d, n, Rec601.Tables, true))},
    {"YCC8To3 Photo-YCC RGB", 24, 24, PW_KERNEL(YCC8To3(s, d, n, PhotoYCC.Tables, false))},
    {"YCC8To3 strong factors", 24, 24, PW_KERNEL(YCC8To3(s, d, n, Strong.Tables, true))},
    {"YCC8To3 green too strong", 24, 24, PW_KERNEL(YCC8To3(s, d, n, TooStrongGreen.Tables, false))},
    {"LabTo3 8 bits, interleaved, BGR", 24, 24, PW_KERNEL(LabTo3(Lab(s, n, 1, true, false, false), d, n, true))},
    {"LabTo3 8 bits, planes, L* on 0..255, a* b* around 128, RGB", 24, 24,
     PW_KERNEL(LabTo3(Lab(s, n, 1, false, false, true), d, n, false))},
    {"LabTo3 16 bits, interleaved, BGR", 48, 24, PW_KERNEL(LabTo3(Lab(s, n, 2, true, false, false), d, n, true))},
    {"LabTo3 16 bits swapped, planes, L* on 0..65535, a* b* around 32768, RGB", 48, 24,
     PW_KERNEL(LabTo3(Lab(s, n, 2, false, true, true), d, n, false))},
    {"Expand1To8", 1, 8, PW_KERNEL(Expand1To8(s, d, n, Inverted + 3))},
    {"Expand4To8", 4, 8, PW_KERNEL(Expand4To8(s, d, n, Values))},
    {"Expand4To8 any table", 4, 8, PW_KERNEL(Expand4To8(s, d, n, Inverted))},
};

TEST(RowKernels, VectorFormsWriteTheReferenceBytes)
{
    pwtest::RandomBytes random(2024);
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        for (const KernelCase& k : Kernels) {
            for (size_t count = 0; count <= 200; ++count) {
                // Exact sizes, so that a read or write past the row is caught
                // by the sanitizers; the target starts with noise that bytes
                // left alone must keep.
                const std::vector<uint8_t> source = random((count * k.SourceBytes + 7) / 8);
                const std::vector<uint8_t> noise = random((count * k.TargetBytes + 7) / 8);
                std::vector<uint8_t> expected = noise, actual = noise;
                k.Run(false, source.data(), expected.data(), count);
                k.Run(true, source.data(), actual.data(), count);
                ASSERT_EQ(actual, expected) << k.Name << ", " << count << " pixels, " << hwy::TargetName(target);
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

// Among all 8-bit L*, a*, b* these come within 1e-7 of a rounding boundary in
// one channel, where the vector form hands the pixel back to the reference.
TEST(RowKernels, LabPixelsNearARoundingBoundary)
{
    const uint8_t near[][3] = {{21, 168, 232}, {54, 145, 16}, {88, 91, 93},
                               {163, 115, 29}, {188, 34, 2}, {202, 178, 174}};
    std::vector<uint8_t> row;
    for (int i = 0; i < 11; ++i)
        for (const auto& pixel : near)
            row.insert(row.end(), pixel, pixel + 3);
    const size_t count = row.size() / 3;
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        std::vector<uint8_t> expected(row.size()), actual(row.size());
        const TLabSamples samples = Lab(row.data(), count, 1, true, false, false);
        scalar::LabTo3(samples, expected.data(), count, true);
        simd::LabTo3(samples, actual.data(), count, true);
        ASSERT_EQ(actual, expected) << hwy::TargetName(target);
    }
    hwy::SetSupportedTargetsForTest(0);
}

} // namespace
