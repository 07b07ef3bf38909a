#pragma once
// Blocks of a TIFF image as libtiff encodes them, for tests that lay them
// out again (libtiff's header and the reader's cannot share a file).
#include <cstdint>
#include <vector>

struct TLibtiffImage {
    uint32_t Width, Height;
    uint16_t Samples;     // 1 (min-is-white) or 3 (RGB)
    uint16_t Bits;
    uint16_t Compression; // a TIFF compression code libtiff writes
    uint16_t Predictor;   // 1 or 2
    uint32_t Tile;        // tile side, 0 for strips
    uint32_t StripRows;
};

struct TEncodedBlocks {
    std::vector<std::vector<uint8_t>> Blocks; // strips or tiles, as stored
    std::vector<uint8_t> Tables;              // JPEGTables, when written
};

// rows: the image's rows as stored, chunky, each (Width x Samples x Bits + 7) / 8 bytes.
TEncodedBlocks EncodeWithLibtiff(const TLibtiffImage& image, const std::vector<uint8_t>& rows);
