#pragma once
// Our side of large_scan_bench, in a file of its own: the TIFF reader's
// headers and libtiff's cannot share one translation unit.
#include "platform/bitmap.h"

#include <cstdint>
#include <memory>
#include <vector>

enum TFormat { fTIFF, fPNG, fJPEG };

struct TOurs {
    std::unique_ptr<TGraphic> Graphic;
    TBitmap* Bitmap = nullptr;
};

// Decodes the file from memory with our reader (a JPEG decodes at ViewBitmap).
TOurs DecodeOurs(const std::vector<uint8_t>& file, TFormat format);
