// The palette builders of the colour manager.
#include "imaging/color/color_manager.h"

#include "imaging/color/color_arith.h"

#include <algorithm>

using namespace pwcolor;

HPALETTE TColorManager::MakeColorPalette(const void* const* data, int dataCount, TPaletteLayout layout,
                                         uint32_t colorCount, bool blueFirst)
{
    std::array<TPaletteEntry, 256> entries{};
    const uint32_t count = std::min<uint32_t>(colorCount, 256);
    const bool gamma = FTargetOptions & sfGamma;
    const bool swap = FSourceOptions & sfSwapBytes;
    const auto byte = [&](const uint8_t* p) { return gamma ? FGammaTable[*p] : *p; };
    const auto word = [&](const uint8_t* p) {
        const uint32_t v = Scale16To8(swap ? Swap16(Load16(p)) : Load16(p));
        return static_cast<uint8_t>(gamma ? FGammaTable[v] : v);
    };
    // A layout whose buffers were not all given leaves the entries black.
    const auto buffer = [&](int k) -> const uint8_t* {
        return data && k < dataCount ? static_cast<const uint8_t*>(data[k]) : nullptr;
    };
    const uint8_t* b0 = buffer(0);
    const uint8_t* b1 = buffer(1);
    const uint8_t* b2 = buffer(2);

    switch (layout) {
    case plInterleaved8x3:
    case plInterleaved8x4:
        if (!b0)
            break;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* p = b0 + i * (layout == plInterleaved8x3 ? 3 : 4);
            TPaletteEntry& e = entries[i];
            e.peRed = byte(blueFirst ? p + 2 : p);
            e.peGreen = byte(p + 1);
            e.peBlue = byte(blueFirst ? p : p + 2);
        }
        break;
    case plPlanar8x3:
    case plPlanar8x4:
        if (!b0 || !b1 || !b2)
            break;
        for (uint32_t i = 0; i < count; ++i)
            entries[i] = {byte(b0 + i), byte(b1 + i), byte(b2 + i), 0};
        break;
    case plInterleaved16x3:
    case plInterleaved16x4:
        // The word order is the opposite of the byte layouts: blue first means
        // the words run red, green, blue.
        if (!b0)
            break;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* p = b0 + i * (layout == plInterleaved16x3 ? 6 : 8);
            TPaletteEntry& e = entries[i];
            e.peRed = word(blueFirst ? p : p + 4);
            e.peGreen = word(p + 2);
            e.peBlue = word(blueFirst ? p + 4 : p);
        }
        break;
    case plPlanar16x3:
    case plPlanar16x4:
        if (!b0 || !b1 || !b2)
            break;
        for (uint32_t i = 0; i < count; ++i)
            entries[i] = {word(b0 + 2 * i), word(b1 + 2 * i), word(b2 + 2 * i), 0};
        break;
    default:
        break;
    }

    // Re-spread to the target depth the same way IndexedToIndexed scales the
    // indices. A source of more than 8 bits (a 16-bit index) would point past
    // the 256 entries, so its palette is taken as given.
    uint32_t resultCount = count;
    if (FTargetBPS <= 8 && FSourceBPS <= 8) {
        const uint32_t s = (1u << FSourceBPS) - 1;
        const uint32_t t = (1u << FTargetBPS) - 1;
        if (s != t) {
            // Ascending when entries are gathered from higher indices, descending
            // when from lower ones, so that no entry is read after it was overwritten.
            if (s >= t)
                for (uint32_t i = 0; i <= t; ++i)
                    entries[i] = entries[MulDiv16(i, s, t)];
            else
                for (uint32_t i = t + 1; i-- > 0;)
                    entries[i] = entries[MulDiv16(i, s, t)];
            resultCount = t + 1;
        }
    }
    return CreatePalette(std::vector<TPaletteEntry>(entries.begin(), entries.begin() + resultCount));
}

HPALETTE TColorManager::MakeGrayPalette(bool whiteIsZero)
{
    const uint32_t bits = std::min<uint32_t>(static_cast<uint32_t>(FTargetBPS) * FTargetSPP, 8);
    const uint32_t count = 1u << bits;
    const uint32_t top = count - 1;
    const uint32_t step = 255 / top;
    const bool gamma = FTargetOptions & sfGamma;
    std::vector<TPaletteEntry> entries(count);
    for (uint32_t i = 0; i <= top; ++i) {
        const uint8_t v = gamma ? FGammaTable[i * step] : static_cast<uint8_t>(i * step);
        entries[whiteIsZero ? top - i : i] = {v, v, v, 0};
    }
    return CreatePalette(entries);
}
