#pragma once
// Logical palettes of up to 256 entries. A palette "handle" is a shared
// pointer; a null handle means no palette.
#include <cstdint>
#include <memory>
#include <vector>

struct TPaletteEntry {
    uint8_t peRed = 0;
    uint8_t peGreen = 0;
    uint8_t peBlue = 0;
    uint8_t peFlags = 0;
    bool operator==(const TPaletteEntry&) const = default;
};

class TPalette {
public:
    static constexpr int MaxEntries = 256;

    TPalette() = default;
    explicit TPalette(std::vector<TPaletteEntry> entries);

    int Count() const { return static_cast<int>(FEntries.size()); }
    const TPaletteEntry& operator[](int index) const { return FEntries[static_cast<size_t>(index)]; }
    TPaletteEntry& operator[](int index) { return FEntries[static_cast<size_t>(index)]; }
    const std::vector<TPaletteEntry>& Entries() const { return FEntries; }
    // Resizes to count entries (clamped to 0..256); new entries are black.
    void SetCount(int count);

    bool operator==(const TPalette&) const = default;

private:
    std::vector<TPaletteEntry> FEntries;
};

using HPALETTE = std::shared_ptr<TPalette>;

// Creates a palette handle from entries (null when there are none or more
// than 256, as the platform's palette creation fails then).
HPALETTE CreatePalette(const std::vector<TPaletteEntry>& entries);

// The platform's default 16-colour palette, in the 4-bit VGA order.
const TPalette& DefaultPalette16();
