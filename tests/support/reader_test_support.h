#pragma once
// Helpers shared by the reader tests: file bytes in, the pixels a bitmap
// shows (or the error a load raised) out.
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pwtest {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>; // 0xAARRGGBB, top row first

inline Pixels Decoded(const TBitmap& bitmap)
{
    Pixels out(size_t(bitmap.Width()) * size_t(bitmap.Height()));
    for (int y = 0; y < bitmap.Height(); ++y)
        bitmap.RowToARGB(y, 0, bitmap.Width(), out.data() + size_t(y) * size_t(bitmap.Width()));
    return out;
}

// Loads the bytes into image (a reader) as a file would be.
template <class Image>
void LoadBytes(Image& image, const Bytes& file)
{
    TMemoryStream stream(file.data(), file.size());
    image.LoadFromStream(stream);
}

// What a load gives: the pixels, or the message of the exception it raised.
struct Outcome {
    std::vector<uint32_t> Pixels;
    std::string Error;
};

template <class Image>
Outcome LoadOutcome(Image& image, const Bytes& file)
{
    Outcome o;
    try {
        LoadBytes(image, file);
        o.Pixels = Decoded(image);
    } catch (const Exception& e) {
        o.Error = e.Message();
    }
    return o;
}

// An opaque grey level as 0xAARRGGBB.
constexpr uint32_t Grey(uint32_t v)
{
    return 0xFF000000u | v * 0x010101u;
}

} // namespace pwtest
