#pragma once
// Helpers for the colour manager tests: describing both sides in one call and
// converting into a pre-filled target so that untouched bytes show.
#include "imaging/color/color_manager.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace colortest {

struct Side {
    TPixelScheme Scheme;
    uint8_t Bits;
    uint8_t Samples;
    TSampleFlags Flags = 0;
};

inline void Describe(TColorManager& cm, const Side& source, const Side& target)
{
    cm.SetSourceScheme(source.Scheme);
    cm.SetSourceBits(source.Bits);
    cm.SetSourceSamples(source.Samples);
    cm.SetSourceFlags(source.Flags);
    cm.SetTargetScheme(target.Scheme);
    cm.SetTargetBits(target.Bits);
    cm.SetTargetSamples(target.Samples);
    cm.SetTargetFlags(target.Flags);
}

constexpr uint8_t Fill = 0xEE;

// Converts into targetBytes bytes that start as Fill.
inline std::vector<uint8_t> Convert(TColorManager& cm, const std::vector<const void*>& sources, size_t targetBytes,
                                    uint32_t count, uint8_t mask = 0xFF)
{
    std::vector<uint8_t> target(targetBytes, Fill);
    cm.ConvertLine(sources, target.data(), count, mask);
    return target;
}

// 16-bit values as bytes in host order, or swapped.
inline std::vector<uint8_t> Words(const std::vector<uint16_t>& values, bool swapped = false)
{
    std::vector<uint8_t> bytes;
    for (uint16_t v : values) {
        const uint8_t lo = static_cast<uint8_t>(v), hi = static_cast<uint8_t>(v >> 8);
        const uint16_t probe = 1;
        const bool little = *reinterpret_cast<const uint8_t*>(&probe) == 1;
        const bool loFirst = little != swapped;
        bytes.push_back(loFirst ? lo : hi);
        bytes.push_back(loFirst ? hi : lo);
    }
    return bytes;
}

inline std::vector<uint16_t> ReadWords(const std::vector<uint8_t>& bytes)
{
    std::vector<uint16_t> words(bytes.size() / 2);
    std::memcpy(words.data(), bytes.data(), words.size() * 2);
    return words;
}

} // namespace colortest
