#include "platform/palette.h"

#include <algorithm>

TPalette::TPalette(std::vector<TPaletteEntry> entries) : FEntries(std::move(entries))
{
    if (FEntries.size() > MaxEntries)
        FEntries.resize(MaxEntries);
}

void TPalette::SetCount(int count)
{
    FEntries.resize(static_cast<size_t>(std::clamp(count, 0, MaxEntries)));
}

HPALETTE CreatePalette(const std::vector<TPaletteEntry>& entries)
{
    if (entries.empty() || entries.size() > TPalette::MaxEntries)
        return nullptr;
    return std::make_shared<TPalette>(entries);
}

const TPalette& DefaultPalette16()
{
    static const TPalette palette({
        {0, 0, 0, 0}, {128, 0, 0, 0}, {0, 128, 0, 0}, {128, 128, 0, 0},
        {0, 0, 128, 0}, {128, 0, 128, 0}, {0, 128, 128, 0}, {192, 192, 192, 0},
        {128, 128, 128, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {255, 255, 0, 0},
        {0, 0, 255, 0}, {255, 0, 255, 0}, {0, 255, 255, 0}, {255, 255, 255, 0},
    });
    return palette;
}
