#include "imaging/image_limits.h"

#include "imaging/strings/messages.h"
#include "platform/exceptions.h"

#include <string>

namespace {
[[noreturn]] void TooLarge(const char* displayName, const std::string& size)
{
    throw EInvalidGraphic(Format(msg::ImageTooLarge, displayName, size));
}
} // namespace

void CheckImageSize(const char* displayName, uint64_t width, uint64_t height, uint32_t bitsPerPixel)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width > MaxImageSide || height > MaxImageSide || bitsPerPixel > 256)
        TooLarge(displayName, size);
    // Sides of at most 2^20 and at most 256 bits per pixel: a row takes at most
    // 2^25 bytes and the image at most 2^45, far inside 64 bits.
    const uint64_t rowBytes = ((width * bitsPerPixel + 31) / 32) * 4;
    if (rowBytes * height > MaxImageBytes)
        TooLarge(displayName, size);
}

uint64_t CheckBufferSize(const char* displayName, uint64_t count, uint64_t elementSize)
{
    if (elementSize != 0 && count > MaxImageBytes / elementSize)
        throw EInvalidGraphic(Format(msg::ImageNeedsTooMuchMemory, displayName));
    return count * elementSize;
}

void CheckDeclaredSize(const char* displayName, uint64_t declared, uint64_t available)
{
    if (declared > available)
        throw EInvalidGraphic(Format(msg::InvalidImage, displayName));
}
