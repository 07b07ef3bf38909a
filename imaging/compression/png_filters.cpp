// The reference loops of the PNG row filters.
#include "imaging/compression/png_filters.h"

#include <algorithm>
#include <cstdlib>

namespace pwpng::scalar {

namespace {

// Ties favour a, then b.
inline uint8_t PaethPredict(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pb < pa || pc < pa)
        return static_cast<uint8_t>(pc < pb ? c : b);
    return static_cast<uint8_t>(a);
}

// The filters with the pixel size known at compile time, so that the loops
// over the bytes after the first pixel are tight. Bytes before from are done.
template <size_t P>
void UndoSub(uint8_t* row, size_t from, size_t count)
{
    for (size_t i = std::max(P, from); i < count; ++i)
        row[i] = static_cast<uint8_t>(row[i] + row[i - P]);
}

template <size_t P>
void UndoAverage(uint8_t* row, const uint8_t* prev, size_t from, size_t count)
{
    const size_t head = std::min(P, count);
    for (size_t i = from; i < head; ++i)
        row[i] = static_cast<uint8_t>(row[i] + (prev[i] >> 1));
    for (size_t i = std::max(P, from); i < count; ++i)
        row[i] = static_cast<uint8_t>(row[i] + ((row[i - P] + prev[i]) >> 1));
}

template <size_t P>
void UndoPaeth(uint8_t* row, const uint8_t* prev, size_t from, size_t count)
{
    // With no left neighbour the predictor is the byte above.
    const size_t head = std::min(P, count);
    for (size_t i = from; i < head; ++i)
        row[i] = static_cast<uint8_t>(row[i] + prev[i]);
    for (size_t i = std::max(P, from); i < count; ++i)
        row[i] = static_cast<uint8_t>(row[i] + PaethPredict(row[i - P], prev[i], prev[i - P]));
}

template <size_t P>
void UndoFilter(uint8_t type, uint8_t* row, const uint8_t* prev, size_t from, size_t count)
{
    switch (type) {
    case 1:
        UndoSub<P>(row, from, count);
        break;
    case 2:
        for (size_t i = from; i < count; ++i)
            row[i] = static_cast<uint8_t>(row[i] + prev[i]);
        break;
    case 3:
        UndoAverage<P>(row, prev, from, count);
        break;
    case 4:
        UndoPaeth<P>(row, prev, from, count);
        break;
    default: // 0 None; unknown types leave the row as it is
        break;
    }
}

} // namespace

void UnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t count, uint32_t pixelBytes, size_t from)
{
    switch (pixelBytes) {
    case 1:
        return UndoFilter<1>(type, row, prev, from, count);
    case 2:
        return UndoFilter<2>(type, row, prev, from, count);
    case 3:
        return UndoFilter<3>(type, row, prev, from, count);
    case 4:
        return UndoFilter<4>(type, row, prev, from, count);
    case 6:
        return UndoFilter<6>(type, row, prev, from, count);
    default:
        return UndoFilter<8>(type, row, prev, from, count);
    }
}

} // namespace pwpng::scalar
