#include "tests/imaging/color/color_test_util.h"

#include "platform/exceptions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace colortest;

namespace {

const std::string DepthMessage = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
const std::string CountMessage = "Sample count per pixel does not correspond to the given color scheme.";
const std::string SubsamplingMessage = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
const std::string VerticalMessage = "Vertical subsampling value must be <= horizontal subsampling value.";
const std::string IndexedMessage = "Conversion between indexed and non-indexed pixel formats is not supported.";
const std::string NoMethodMessage = "Color conversion failed. Could not find a proper method.";

// The message of the EColorConversionError that f raises, "" when none.
template <class F>
std::string ErrorOf(F&& f)
{
    try {
        f();
    } catch (const EColorConversionError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(ColorManager, FreshManagerHasItsDefaultsAndSwapsRedAndBlue)
{
    TColorManager cm;
    EXPECT_EQ(cm.SourceBits(), 8);
    EXPECT_EQ(cm.TargetBits(), 8);
    EXPECT_EQ(cm.SourceSamples(), 3);
    EXPECT_EQ(cm.TargetSamples(), 3);
    EXPECT_EQ(cm.SourceScheme(), psRGB);
    EXPECT_EQ(cm.TargetScheme(), psBGR);
    EXPECT_EQ(cm.SourceFlags(), 0);
    EXPECT_EQ(cm.TargetFlags(), 0);
    EXPECT_FLOAT_EQ(cm.ImageGamma(), 1.0f);
    EXPECT_FLOAT_EQ(cm.DisplayGamma(), 2.2f);
    EXPECT_EQ(cm.LumaCoefficients(), (std::array<float, 3>{0.299f, 0.587f, 0.114f}));
    EXPECT_EQ(cm.HorizontalSubsampling(), 1);
    EXPECT_EQ(cm.VerticalSubsampling(), 1);

    const uint8_t row[] = {10, 20, 30, 200, 100, 0};
    EXPECT_EQ(Convert(cm, {row}, 6, 2), (std::vector<uint8_t>{30, 20, 10, 0, 100, 200}));
}

TEST(ColorManager, DepthAndCountSettersValidateAndKeepTheOldValue)
{
    struct Case {
        int Value;
        bool DepthOk, CountOk;
    };
    const Case cases[] = {{0, false, false}, {1, true, true},   {3, true, true},    {4, true, true},
                          {5, true, false},  {12, true, false}, {16, true, false},  {17, false, false},
                          {255, false, false}};
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetSourceBits(2);
        cm.SetTargetBits(2);
        cm.SetSourceSamples(2);
        cm.SetTargetSamples(2);
        const auto v = static_cast<uint8_t>(c.Value);
        const std::string depth = c.DepthOk ? "" : DepthMessage;
        const std::string count = c.CountOk ? "" : CountMessage;
        EXPECT_EQ(ErrorOf([&] { cm.SetSourceBits(v); }), depth) << c.Value;
        EXPECT_EQ(ErrorOf([&] { cm.SetTargetBits(v); }), depth) << c.Value;
        EXPECT_EQ(ErrorOf([&] { cm.SetSourceSamples(v); }), count) << c.Value;
        EXPECT_EQ(ErrorOf([&] { cm.SetTargetSamples(v); }), count) << c.Value;
        EXPECT_EQ(cm.SourceBits(), c.DepthOk ? v : 2);
        EXPECT_EQ(cm.TargetBits(), c.DepthOk ? v : 2);
        EXPECT_EQ(cm.SourceSamples(), c.CountOk ? v : 2);
        EXPECT_EQ(cm.TargetSamples(), c.CountOk ? v : 2);
    }
}

TEST(ColorManager, GammaTableForTheDefaultsAndRejectedGammas)
{
    TColorManager cm;
    cm.SetGammaValues(0, 0);
    EXPECT_FLOAT_EQ(cm.ImageGamma(), 1.0f);
    EXPECT_FLOAT_EQ(cm.DisplayGamma(), 2.2f);
    cm.SetGammaValues(NAN, -3);
    EXPECT_FLOAT_EQ(cm.ImageGamma(), 1.0f);
    EXPECT_FLOAT_EQ(cm.DisplayGamma(), 2.2f);

    const double g = 1.0f / (1.0f * 2.2f);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(cm.GammaTable()[i], std::nearbyint(255 * std::pow(i / 255.0, g))) << i;
    // A few values worked out independently.
    EXPECT_EQ(cm.GammaTable()[1], 21);
    EXPECT_EQ(cm.GammaTable()[64], 136);
    EXPECT_EQ(cm.GammaTable()[128], 186);
    EXPECT_EQ(cm.GammaTable()[255], 255);

    // The table reaches the pixels only with target sfGamma, and only colour samples.
    Describe(cm, {psBGRA, 8, 4}, {psBGRA, 8, 4, sfGamma});
    const uint8_t row[] = {1, 64, 128, 77};
    EXPECT_EQ(Convert(cm, {row}, 4, 1), (std::vector<uint8_t>{21, 136, 186, 77}));
}

TEST(ColorManager, GammaTableFollowsTheTargetDepthForNarrowSources)
{
    TColorManager cm;
    cm.SetSourceBits(4);
    cm.SetTargetBits(4);
    cm.SetGammaValues(1.0f, 2.0f);
    for (int i = 0; i <= 15; ++i)
        EXPECT_EQ(cm.GammaTable()[i], std::nearbyint(15 * std::pow(i / 15.0, 0.5))) << i;
    // Entries above 15 keep the values of the previous table.
    EXPECT_EQ(cm.GammaTable()[128], 186);

    // A target of more than 8 bits must not index past the 256 entries.
    cm.SetTargetBits(16);
    cm.SetGammaValues(1.0f, 1.0f);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(cm.GammaTable()[i], i);
}

TEST(ColorManager, ChromaParametersAreCheckedAfterTheCoefficientsAreStored)
{
    struct Case {
        uint8_t H, V;
        std::string Message;
    };
    const Case cases[] = {{1, 1, ""}, {2, 1, ""}, {4, 4, ""}, {4, 2, ""}, {2, 4, VerticalMessage},
                          {3, 1, SubsamplingMessage}, {1, 3, SubsamplingMessage}, {0, 0, SubsamplingMessage},
                          {8, 1, SubsamplingMessage}};
    for (const Case& c : cases) {
        TColorManager cm;
        EXPECT_EQ(ErrorOf([&] { cm.SetChromaParameters({0.2125f, 0.7154f, 0.0721f, 9.0f}, c.H, c.V); }), c.Message);
        EXPECT_EQ(cm.LumaCoefficients(), (std::array<float, 3>{0.2125f, 0.7154f, 0.0721f}));
        EXPECT_EQ(cm.HorizontalSubsampling(), c.Message.empty() ? c.H : 1);
        EXPECT_EQ(cm.VerticalSubsampling(), c.Message.empty() ? c.V : 1);
    }
    TColorManager cm;
    cm.SetChromaParameters({0.5f}, 1, 1);
    EXPECT_EQ(cm.LumaCoefficients(), (std::array<float, 3>{0.5f, 0.587f, 0.114f}));
    cm.SetChromaParameters({}, 2, 2);
    EXPECT_EQ(cm.LumaCoefficients(), (std::array<float, 3>{0.5f, 0.587f, 0.114f}));
}

TEST(ColorManager, BitmapFormatOfEveryCountAndDepth)
{
    const auto expected = [](int samples, int bits) {
        switch (samples) {
        case 1: return bits == 1 ? bf1Bit : bits <= 4 ? bf4Bit : bits <= 7 ? bfCustom : bf8Bit;
        case 3: return bits <= 5 ? bf15Bit : bf24Bit;
        case 4: return bits >= 8 ? bf32Bit : bfCustom;
        default: return bfCustom;
        }
    };
    TColorManager cm;
    for (int samples = 1; samples <= 4; ++samples)
        for (int bits = 1; bits <= 16; ++bits) {
            cm.SetSourceSamples(static_cast<uint8_t>(samples));
            cm.SetSourceBits(static_cast<uint8_t>(bits));
            cm.SetTargetSamples(static_cast<uint8_t>(5 - samples));
            cm.SetTargetBits(static_cast<uint8_t>(17 - bits));
            EXPECT_EQ(cm.BitmapFormatOf(0), expected(samples, bits)) << samples << " x " << bits;
            EXPECT_EQ(cm.BitmapFormatOf(1), expected(5 - samples, 17 - bits)) << 5 - samples << " x " << 17 - bits;
            EXPECT_EQ(cm.BitmapFormatOf(-3), cm.BitmapFormatOf(1));
        }
}

TEST(ColorManager, RoutineSelectionAcceptsAndRefusesSchemePairs)
{
    struct Case {
        TPixelScheme Source;
        uint8_t SourceBits;
        TPixelScheme Target;
        uint8_t TargetBits;
        std::string Message;
    };
    const Case cases[] = {
        {psGrayAlpha, 8, psRGB, 8, IndexedMessage},
        {psGray, 8, psGrayAlpha, 8, IndexedMessage},
        {psRGB, 8, psIndexed, 8, IndexedMessage},
        {psIndexed, 8, psBGR, 8, IndexedMessage},
        {psCMY, 8, psBGR, 8, NoMethodMessage},
        {psCMY, 8, psRGB, 8, NoMethodMessage},
        {psRGB, 8, psGrayAlpha, 8, NoMethodMessage},
        {psRGB, 8, psCMYK, 8, NoMethodMessage},
        {psUnknown, 8, psBGR, 8, NoMethodMessage},
        {psGray, 16, psGray, 4, NoMethodMessage},
        {psGray, 2, psGray, 16, NoMethodMessage},
        {psGrayAlpha, 4, psGray, 8, NoMethodMessage},
        {psGrayAlpha, 8, psGray, 12, NoMethodMessage},
        {psIndexed, 16, psGray, 4, ""},
        {psIndexed, 4, psIndexed, 16, ""},
        {psGray, 16, psIndexed, 8, ""},
        {psGrayAlpha, 16, psGray, 16, ""},
        {psGray, 12, psGray, 8, ""}, // selected, though it writes nothing for 12 bits
        {psRGBA, 8, psBGRA, 8, ""},
        {psBGR, 16, psRGB, 8, ""},
        {psCMYK, 8, psRGBA, 8, ""},
        {psCIELab, 8, psBGR, 8, ""},
        {psYCbCr, 8, psRGB, 8, ""},
        {psPhotoYCC, 8, psBGRA, 8, ""},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        Describe(cm, {c.Source, c.SourceBits, 3}, {c.Target, c.TargetBits, 3});
        uint8_t source[32] = {}, target[32] = {};
        EXPECT_EQ(ErrorOf([&] { cm.ConvertLine({source}, target, 1); }), c.Message)
            << int(c.Source) << "/" << int(c.SourceBits) << " -> " << int(c.Target) << "/" << int(c.TargetBits);
        // The failure comes again at every later row.
        EXPECT_EQ(ErrorOf([&] { cm.ConvertLine({source}, target, 1); }), c.Message);
    }
}

TEST(ColorManager, RefusedDescriptionWorksOnceCorrected)
{
    TColorManager cm;
    cm.SetSourceScheme(psGrayAlpha);
    uint8_t source[8] = {9, 1, 8, 2}, target[8] = {};
    EXPECT_EQ(ErrorOf([&] { cm.ConvertLine({source}, target, 2); }), IndexedMessage);
    cm.SetTargetScheme(psGray);
    EXPECT_EQ(ErrorOf([&] { cm.ConvertLine({source}, target, 2); }), "");
    EXPECT_EQ(target[0], 9);
    EXPECT_EQ(target[1], 8);
}

TEST(ColorManager, AlphaFlagIsSetAtSelectionAndOtherwiseLeftToTheCaller)
{
    TColorManager cm;
    Describe(cm, {psRGBA, 8, 4}, {psBGR, 8, 3, sfAlpha});
    const uint8_t row[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(Convert(cm, {row}, 6, 2), (std::vector<uint8_t>{3, 2, 1, 7, 6, 5}));
    EXPECT_EQ(cm.SourceFlags(), sfAlpha);
    EXPECT_EQ(cm.TargetFlags(), 0);

    // Flags alone, and setters given the current value, cause no new selection:
    // the cleared bit is used as stored, so pixels are 3 bytes apart.
    cm.SetSourceFlags(0);
    cm.SetSourceScheme(psRGBA);
    cm.SetSourceBits(8);
    EXPECT_EQ(Convert(cm, {row}, 6, 2), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
    EXPECT_EQ(cm.SourceFlags(), 0);

    cm.SetSourceScheme(psRGB);
    cm.SetSourceScheme(psRGBA);
    EXPECT_EQ(Convert(cm, {row}, 6, 2), (std::vector<uint8_t>{3, 2, 1, 7, 6, 5}));
    EXPECT_EQ(cm.SourceFlags(), sfAlpha);
}

TEST(ColorManager, MaskSelectsPositionsFromTheHighestBitDown)
{
    struct Case {
        uint8_t Mask;
        uint32_t Count;
        std::vector<int> Filled; // position -> source pixel, -1 untouched
    };
    const Case cases[] = {
        {0xFF, 4, {0, 1, 2, 3}},
        {0xAA, 8, {0, -1, 1, -1, 2, -1, 3, -1}},
        {0x55, 8, {-1, 0, -1, 1, -1, 2, -1, 3}},
        {0x81, 16, {0, -1, -1, -1, -1, -1, -1, 1, 2, -1, -1, -1, -1, -1, -1, 3}},
        {0x00, 8, {-1, -1, -1, -1, -1, -1, -1, -1}},
        {0xFF, 0, {}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        std::vector<uint8_t> row;
        for (uint8_t p = 0; p < 16; ++p)
            row.insert(row.end(), {uint8_t(10 * p + 1), uint8_t(10 * p + 2), uint8_t(10 * p + 3)});
        const auto target = Convert(cm, {row.data()}, 3 * 16, c.Count, c.Mask);
        for (size_t i = 0; i < 16; ++i) {
            const int p = i < c.Filled.size() ? c.Filled[i] : -1;
            const std::vector<uint8_t> expected = p < 0 ? std::vector<uint8_t>{Fill, Fill, Fill}
                                                        : std::vector<uint8_t>{uint8_t(10 * p + 3), uint8_t(10 * p + 2),
                                                                               uint8_t(10 * p + 1)};
            EXPECT_EQ(std::vector<uint8_t>(target.begin() + 3 * i, target.begin() + 3 * i + 3), expected)
                << "mask " << int(c.Mask) << " position " << i;
        }
    }
}

TEST(ColorManager, SourcesMayBeGivenAsListSpanOrPointerAndCount)
{
    TColorManager cm;
    const uint8_t red[] = {1, 2}, green[] = {3, 4}, blue[] = {5, 6};
    const std::vector<uint8_t> expected{5, 3, 1, 6, 4, 2};
    uint8_t target[6] = {};
    cm.ConvertLine({red, green, blue}, target, 2);
    EXPECT_EQ(std::vector<uint8_t>(target, target + 6), expected);

    const std::vector<const void*> planes{red, green, blue};
    std::fill_n(target, 6, 0);
    cm.ConvertLine(planes, target, 2);
    EXPECT_EQ(std::vector<uint8_t>(target, target + 6), expected);

    const std::vector<const uint8_t*> typed{red, green, blue};
    std::fill_n(target, 6, 0);
    cm.ConvertLine(typed, target, 2);
    EXPECT_EQ(std::vector<uint8_t>(target, target + 6), expected);

    const void* array[] = {red, green, blue};
    std::fill_n(target, 6, 0);
    cm.ConvertLine(array, 3, target, 2, 0xFF);
    EXPECT_EQ(std::vector<uint8_t>(target, target + 6), expected);

    // No buffers, a null buffer or too few planes: nothing is read or written.
    std::fill_n(target, 6, 0);
    cm.ConvertLine(array, 0, target, 2, 0xFF);
    cm.ConvertLine({nullptr}, target, 2);
    cm.ConvertLine({red, green}, target, 2);
    cm.ConvertLine({red, nullptr, blue}, target, 2);
    EXPECT_EQ(std::vector<uint8_t>(target, target + 6), std::vector<uint8_t>(6, 0));
}
