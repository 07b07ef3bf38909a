#pragma once
// The one size check every reader makes before it allocates a bitmap or a
// large buffer. Header first, limits second, allocation last.
#include <cstdint>

// Largest bitmap or work buffer a reader may allocate: 4 GiB admits a
// 30000 x 30000 24-bit scan and a 20000 x 15000 32-bit one with room to
// spare. This is the one place to change it. Fuzzing builds lower it (the
// check stays the same) so that a few bytes of run-length data cannot keep
// the fuzzer filling gigabytes.
#ifdef PW_FUZZ_MAX_IMAGE_BYTES
inline constexpr uint64_t MaxImageBytes = PW_FUZZ_MAX_IMAGE_BYTES;
#else
inline constexpr uint64_t MaxImageBytes = uint64_t(4) << 30;
#endif
// Largest width or height of any image.
inline constexpr uint64_t MaxImageSide = 1u << 20;

// Raises EInvalidGraphic "Cannot load image. The NAME image is too large (W x H
// pixels)." when the image, stored with bitsPerPixel bits per pixel in rows
// padded to 4 bytes, would exceed the limits. A side of 0 passes. Computed
// without overflow.
void CheckImageSize(const char* displayName, uint64_t width, uint64_t height, uint32_t bitsPerPixel);

// Raises the same error when a work buffer of count elements of elementSize
// bytes would exceed the limit; returns count * elementSize.
uint64_t CheckBufferSize(const char* displayName, uint64_t count, uint64_t elementSize);

// Raises "Cannot load image. Invalid or unexpected NAME image format." when a
// file declares more bytes (declared) than it holds from here on (available).
void CheckDeclaredSize(const char* displayName, uint64_t declared, uint64_t available);
