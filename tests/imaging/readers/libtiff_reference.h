#pragma once
// TIFF files made by the real tools from a source libtiff writes, and
// libtiff's own reading of them, for the reader tests. Apart from the
// reader's headers: libtiff's names clash with the reader's tag names.
#include "tests/support/reader_test_support.h"
#include "tests/support/test_support.h"

#include <string>
#include <vector>

namespace libtiffref {

struct Kind {
    uint32_t Bits, Samples; // 8, 12 or 16 bits; 1 (grey), 3 (RGB) or 4 (RGBA) samples
};
using Tool = std::vector<std::string>;

// Writes an uncompressed source of gradients and noise of the given kind
// (deeper samples reach full white now and then) and runs the tool, whose
// last two arguments become the source and the output; the output's path.
std::string Make(const pwtest::TempDir& dir, Kind kind, uint32_t width, uint32_t height, Tool tool);

// What libtiff decodes, as the bitmap would show it (samples scaled by
// v * 255 div the largest value), the file's compression and its first
// stored strip (empty for tiles).
struct Reading {
    pwtest::Pixels Pixels;
    uint16_t Compression = 0;
    pwtest::Bytes FirstStrip;
};
Reading ReadWithLibtiff(const std::string& path, Kind kind);

} // namespace libtiffref
