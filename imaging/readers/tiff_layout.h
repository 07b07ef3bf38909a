#pragma once
// The TIFF reader's working records for one load, shared by the decoding
// (tiff_graphic.cpp) and the running of blocks on threads
// (tiff_strip_runner.cpp).
#include "imaging/compression/decoder.h"
#include "imaging/readers/tiff_graphic.h"
#include "imaging/readers/tiff_strip_runner.h"

#include <cstdint>
#include <memory>
#include <vector>

inline uint64_t CeilDiv(uint64_t a, uint64_t b)
{
    return (a + b - 1) / b;
}

// How the pixel data lie in the file and how they reach the bitmap.
struct TTIFFGraphic::TLayout {
    bool Tiled = false;
    // Planes read per block: 1 for chunky data, the sample count for planar
    // colour data; planar grey or indexed data use their first plane only.
    uint32_t Planes = 1;
    uint32_t PlaneBits = 0;      // bits per pixel within one plane
    uint32_t PlaneSamples = 0;   // samples per pixel within one plane
    uint32_t BlockWidth = 0;     // tile width, or the image width
    uint32_t TileLength = 0;
    uint64_t BlockRowBytes = 0;
    uint64_t BlocksPerPlane = 0;
    uint64_t BlocksAcross = 1;   // tiles in a row of tiles; 1 for strips
    uint32_t PredictorBytes = 0; // 0: none; 1 or 2: bytes per sample of the differencing
    uint32_t BitmapBits = 0;     // bits per pixel of the bitmap
    // The stored bytes are bit-reversed before decoding (fill order 2; the
    // CCITT decoders reverse them themselves, JPEG data never are).
    bool ReverseBits = false;
    bool Direct = false;         // uncompressed or PackBits rows that already have the bitmap's layout
    bool PackBitsRows = false;   // PackBits strips of chunky rows that need converting
    bool Grey12 = false;         // 12-bit grey rows, which the reader scales into the bitmap itself
    bool InPlace = false;        // those rows are decoded into the bitmap and reordered there
    std::vector<uint64_t> Offsets;
    std::vector<uint64_t> ByteCounts;
    int64_t StreamSize = 0;
    TTIFFBlockSource* Source = nullptr;
};

struct TTIFFGraphic::TWorkspace {
    TDecoder* Decoder = nullptr;                   // the load's own, or OwnDecoder
    TImageProperties* DecoderProperties = nullptr; // what Decoder reads
    std::unique_ptr<TDecoder> OwnDecoder;
    TImageProperties OwnProperties;
    std::vector<uint8_t> Packed;
    std::vector<uint8_t> Rows;                     // Planes buffers of decoded rows, one after another
};
