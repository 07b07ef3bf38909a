#pragma once
// Undoing the PNG row filters (None, Sub, Up, Average, Paeth) in place. The
// plain loops in `scalar` are the reference; `simd` gives the same bytes,
// with vector code for Paeth on pixels of 3 and 4 bytes and for Up, chosen
// for the processor at run time. Unknown filter types leave the row as it is.
#include <cstddef>
#include <cstdint>

namespace pwpng {

namespace scalar {
// pixelBytes is the size of a whole pixel in bytes (1, 2, 3, 4, 6 or 8; any
// other value is taken as 8); prev is the unfiltered previous row. Bytes from
// from up to count are undone; the bytes before from are already, and are
// their left neighbours. Nothing at or after count is read or written.
void UnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t count, uint32_t pixelBytes,
                 size_t from = 0);
} // namespace scalar

namespace simd {
void UnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t count, uint32_t pixelBytes,
                 size_t from = 0);
} // namespace simd

} // namespace pwpng
