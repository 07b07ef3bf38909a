#include "imaging/color/color_manager.h"

#include "imaging/color/color_arith.h"
#include "imaging/color/row_kernels.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <cmath>

using namespace pwcolor;

TColorManager::TColorManager()
{
    // Depths, counts, schemes, coefficients and subsampling have their initial
    // values from the member initialisers; the gamma table needs the depths.
    SetGammaValues(1.0f, 2.2f);
}

void TColorManager::SetSourceBits(uint8_t bits)
{
    if (bits == FSourceBPS)
        return;
    if (bits < 1 || bits > 16)
        throw EColorConversionError(msg::InvalidColorDepth);
    FSourceBPS = bits;
    FChanged = true;
}

void TColorManager::SetTargetBits(uint8_t bits)
{
    if (bits == FTargetBPS)
        return;
    if (bits < 1 || bits > 16)
        throw EColorConversionError(msg::InvalidColorDepth);
    FTargetBPS = bits;
    FChanged = true;
}

void TColorManager::SetSourceSamples(uint8_t samples)
{
    if (samples == FSourceSPP)
        return;
    if (samples < 1 || samples > 4)
        throw EColorConversionError(msg::InvalidPixelScheme);
    FSourceSPP = samples;
    FChanged = true;
}

void TColorManager::SetTargetSamples(uint8_t samples)
{
    if (samples == FTargetSPP)
        return;
    if (samples < 1 || samples > 4)
        throw EColorConversionError(msg::InvalidPixelScheme);
    FTargetSPP = samples;
    FChanged = true;
}

void TColorManager::SetSourceScheme(TPixelScheme scheme)
{
    if (scheme == FSourceScheme)
        return;
    FSourceScheme = scheme;
    FChanged = true;
}

void TColorManager::SetTargetScheme(TPixelScheme scheme)
{
    if (scheme == FTargetScheme)
        return;
    FTargetScheme = scheme;
    FChanged = true;
}

void TColorManager::SetGammaValues(float imageGamma, float displayGamma)
{
    FMainGamma = imageGamma > 0 ? imageGamma : 1.0f;
    FDisplayGamma = displayGamma > 0 ? displayGamma : 2.2f;
    const float g = 1.0f / (FMainGamma * FDisplayGamma);

    // The input range follows the target depth for sources below 8 bits. It is
    // limited to the table's 256 entries: a target of more than 8 bits would
    // otherwise index past the table.
    const uint32_t targetMax = FTargetBPS >= 16 ? 65535u : (1u << FTargetBPS) - 1;
    const uint32_t n = FSourceBPS >= 8 ? 255u : std::min(targetMax, 255u);
    const uint32_t m = FTargetBPS >= 8 ? 255u : targetMax;
    // Every reader's manager starts with the same table, and its 256 powers
    // cost as much as converting many rows: the last table made is kept.
    struct TLastTable {
        bool Valid = false;
        float G = 0;
        uint32_t N = 0, M = 0;
        std::array<uint8_t, 256> Table{};
    };
    thread_local TLastTable last;
    if (last.Valid && last.G == g && last.N == n && last.M == m) {
        std::copy_n(last.Table.begin(), n + 1, FGammaTable.begin());
        return;
    }
    for (uint32_t i = 0; i <= n; ++i) {
        const long double x = std::pow(static_cast<long double>(i) / n, static_cast<long double>(g)) * m;
        FGammaTable[i] = static_cast<uint8_t>(std::clamp<int32_t>(RoundSaturated(x), 0, 255));
    }
    last = TLastTable{true, g, n, m, FGammaTable};
}

void TColorManager::SetChromaParameters(const std::vector<float>& coefficients, uint8_t horizontal,
                                        uint8_t vertical)
{
    std::copy_n(coefficients.begin(), std::min<size_t>(coefficients.size(), 3), FYCbCrCoefficients.begin());
    const auto allowed = [](uint8_t v) { return v == 1 || v == 2 || v == 4; };
    if (!allowed(horizontal) || !allowed(vertical))
        throw EColorConversionError(msg::InvalidSubSampling);
    if (horizontal < vertical)
        throw EColorConversionError(msg::VerticalSubSamplingError);
    FHSubsampling = horizontal;
    FVSubsampling = vertical;
}

TBitmapFormat TColorManager::BitmapFormatOf(int index) const
{
    const uint8_t samples = index == 0 ? FSourceSPP : FTargetSPP;
    const uint8_t bits = index == 0 ? FSourceBPS : FTargetBPS;
    switch (samples) {
    case 1:
        if (bits == 1)
            return bf1Bit;
        if (bits <= 4)
            return bf4Bit;
        return bits >= 8 ? bf8Bit : bfCustom;
    case 3:
        return bits <= 5 ? bf15Bit : bf24Bit;
    case 4:
        return bits >= 8 ? bf32Bit : bfCustom;
    default:
        return bfCustom;
    }
}

void TColorManager::ConvertLine(const void* const* sources, int sourceCount, void* target, uint32_t count,
                                uint8_t mask)
{
    if (FChanged)
        SelectConverter();
    if (!FRowConversion)
        throw EColorConversionError(msg::ConversionFailed);
    if (!sources || sourceCount < 1 || !sources[0] || !target || count == 0)
        return;
    (this->*FRowConversion)(sources, sourceCount, static_cast<uint8_t*>(target), count, mask);
}

bool TColorManager::ConvertsInPlace()
{
    if (FChanged)
        SelectConverter();
    const auto rgb = [](TPixelScheme scheme) { return scheme == psRGB || scheme == psBGR; };
    return FRowConversion && rgb(FSourceScheme) && rgb(FTargetScheme) && FSourceBPS == 8 && FTargetBPS == 8 &&
           FSourceSPP == 3 && FTargetSPP == 3 && !(FSourceOptions & sfAlpha) && !(FTargetOptions & (sfAlpha | sfGamma));
}

void TColorManager::ConvertInPlace(void* row, uint32_t count)
{
    if (row && ConvertsInPlace() && FSourceScheme != FTargetScheme)
        pwcolor::simd::Exchange3InPlace(static_cast<uint8_t*>(row), count);
}

void TColorManager::BuildChromaTables()
{
    // Factors in 32-bit floats, each step rounded as the stored values are.
    const float cr = FYCbCrCoefficients[0];
    const float cg = FYCbCrCoefficients[1];
    const float cb = FYCbCrCoefficients[2];
    const float fRed = 2.0f - 2.0f * cr;
    const float fGreenCr = cr * fRed / cg;
    const float fBlue = 2.0f - 2.0f * cb;
    const float fGreenCb = cb * fBlue / cg;
    FChromaFactors = {fRed, fGreenCr, fBlue, fGreenCb};

    const int offsetR = FSourceScheme == psPhotoYCC ? 137 : 128; // second chroma (Cr, C2)
    const int offsetB = FSourceScheme == psPhotoYCC ? 156 : 128; // first chroma (Cb, C1)
    FCrToRedTable.resize(256);
    FCbToBlueTable.resize(256);
    FCrToGreenTable.resize(256);
    FCbToGreenTable.resize(256);
    for (int i = 0; i < 256; ++i) {
        // The products are exact in extended precision; only the rounding differs.
        const long double dr = i - offsetR;
        const long double db = i - offsetB;
        FCrToRedTable[i] = RoundSaturated(dr * fRed);
        FCbToBlueTable[i] = RoundSaturated(db * fBlue);
        // Negated after rounding; saturated so that the negation cannot overflow.
        FCrToGreenTable[i] = -std::max(RoundSaturated(dr * fGreenCr), -2147483647);
        FCbToGreenTable[i] = -std::max(RoundSaturated(db * fGreenCb), -2147483647);
    }

    // Where the processor has no byte permutations the vectorised row kernel
    // works with fixed-point factors instead of lookups. They are used only
    // when they reproduce every entry of every table (an exact half, rounded
    // to even by the tables, rules them out).
    FChromaShift = 0;
    const std::array<const std::vector<int32_t>*, 4> tables{&FCrToRedTable, &FCrToGreenTable, &FCbToBlueTable,
                                                            &FCbToGreenTable};
    const std::array<int, 4> offsets{offsetR, offsetR, offsetB, offsetB};
    const std::array<bool, 4> negated{false, true, false, true};
    for (int shift = 16; shift <= 20 && FChromaShift == 0; ++shift) {
        std::array<int32_t, 4> fixed{};
        bool all = true;
        for (size_t t = 0; t < 4 && all; ++t) {
            const long double scaled = std::ldexp(static_cast<long double>(FChromaFactors[t]), shift);
            bool found = false;
            for (const long double candidate : {std::floor(scaled), std::ceil(scaled)}) {
                // |d| <= 156 keeps d * F within 32 bits in the kernel.
                if (found || !(std::fabs(candidate) < 8388608.0L))
                    continue;
                const auto f = static_cast<int64_t>(candidate);
                bool exact = true;
                for (int i = 0; i < 256 && exact; ++i) {
                    const int64_t v = ((i - offsets[t]) * f + (int64_t{1} << (shift - 1))) >> shift;
                    exact = (negated[t] ? -v : v) == (*tables[t])[static_cast<size_t>(i)];
                }
                if (exact) {
                    fixed[t] = static_cast<int32_t>(f);
                    found = true;
                }
            }
            all = found;
        }
        if (all) {
            FChromaFixed = fixed;
            FChromaShift = static_cast<uint8_t>(shift);
        }
    }
}

void TColorManager::BuildIndexTables()
{
    const uint32_t s = FSourceBPS;
    const uint32_t t = FTargetBPS;
    if (s > 8)
        return;
    const uint32_t sourceMax = (1u << s) - 1;
    const uint32_t targetMax = t >= 16 ? 65535u : (1u << t) - 1;
    FIndexScale.fill(0);
    for (uint32_t v = 0; v <= sourceMax; ++v)
        FIndexScale[v] = static_cast<uint16_t>(MulDiv16(v, targetMax, sourceMax));
    if (t == 8 && (s == 1 || s == 2 || s == 4)) {
        const uint32_t fields = 8 / s;
        for (uint32_t b = 0; b < 256; ++b)
            for (uint32_t f = 0; f < fields; ++f)
                FIndexExpand[b][f] = static_cast<uint8_t>(FIndexScale[(b >> (8 - s * (f + 1))) & sourceMax]);
    }
}

void TColorManager::SelectConverter()
{
    FRowConversion = nullptr;

    const bool sourceIndexed = FSourceScheme == psIndexed || FSourceScheme == psGray || FSourceScheme == psGrayAlpha;
    const bool targetIndexed = FTargetScheme == psIndexed || FTargetScheme == psGray;
    if (sourceIndexed != targetIndexed)
        throw EColorConversionError(msg::IndexedNotSupported);

    const auto hasAlpha = [](TPixelScheme scheme) {
        return scheme == psGrayAlpha || scheme == psRGBA || scheme == psBGRA;
    };
    FSourceOptions = hasAlpha(FSourceScheme) ? (FSourceOptions | sfAlpha) : (FSourceOptions & ~sfAlpha);
    FTargetOptions = hasAlpha(FTargetScheme) ? (FTargetOptions | sfAlpha) : (FTargetOptions & ~sfAlpha);

    const bool targetRGB = FTargetScheme == psRGB || FTargetScheme == psRGBA;
    const bool targetBGR = FTargetScheme == psBGR || FTargetScheme == psBGRA;
    const auto byTarget = [&](TRowRoutine toRGB, TRowRoutine toBGR) -> TRowRoutine {
        return targetRGB ? toRGB : targetBGR ? toBGR : nullptr;
    };
    const bool source16 = FSourceBPS == 16;
    const bool target16 = FTargetBPS == 16;

    switch (FSourceScheme) {
    case psIndexed:
        if (source16 && target16)
            FRowConversion = &TColorManager::Indexed16To16;
        else if (source16)
            FRowConversion = &TColorManager::Indexed16ToN;
        else if (target16)
            FRowConversion = &TColorManager::IndexedNTo16;
        else
            FRowConversion = &TColorManager::IndexedToIndexed;
        BuildIndexTables();
        break;
    case psGray:
        if (!source16 && !target16) {
            FRowConversion = &TColorManager::IndexedToIndexed;
            BuildIndexTables();
        } else if (FSourceBPS >= 8 && FTargetBPS >= 8) {
            FRowConversion = &TColorManager::GrayToGray;
        }
        break;
    case psGrayAlpha:
        if ((FSourceBPS == 8 || source16) && (FTargetBPS == 8 || target16))
            FRowConversion = &TColorManager::GrayToGray;
        break;
    case psRGB:
    case psRGBA:
        FRowConversion = byTarget(&TColorManager::RGBToRGB, &TColorManager::RGBToBGR);
        break;
    case psBGR:
    case psBGRA:
        FRowConversion = byTarget(&TColorManager::BGRToRGB, &TColorManager::BGRToBGR);
        break;
    case psCMYK:
        FRowConversion = byTarget(&TColorManager::CMYKToRGB, &TColorManager::CMYKToBGR);
        break;
    case psCIELab:
        FRowConversion = byTarget(&TColorManager::LabToRGB, &TColorManager::LabToBGR);
        break;
    case psYCbCr:
        BuildChromaTables();
        FRowConversion = byTarget(&TColorManager::YCbCrToRGB, &TColorManager::YCbCrToBGR);
        break;
    case psPhotoYCC:
        BuildChromaTables();
        FRowConversion = byTarget(&TColorManager::PhotoYCCToRGB, &TColorManager::PhotoYCCToBGR);
        break;
    default: // psUnknown, psCMY and values outside the scheme list
        break;
    }
    FChanged = false;
}
