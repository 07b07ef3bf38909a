#include "bench/large_scan_ours.h"

#include "imaging/jpeg_image.h"
#include "imaging/readers/png_graphic.h"
#include "imaging/readers/tiff_graphic.h"
#include "platform/streams.h"

TOurs DecodeOurs(const std::vector<uint8_t>& file, TFormat format)
{
    TMemoryStream stream(file.data(), file.size());
    TOurs result;
    switch (format) {
    case fTIFF: {
        auto tiff = std::make_unique<TTIFFGraphic>();
        tiff->LoadFromStream(stream);
        result.Bitmap = &tiff->ViewBitmap();
        result.Graphic = std::move(tiff);
        break;
    }
    case fPNG: {
        auto png = std::make_unique<TPNGGraphic>();
        png->LoadFromStream(stream);
        result.Bitmap = &png->ViewBitmap();
        result.Graphic = std::move(png);
        break;
    }
    case fJPEG: {
        auto jpeg = std::make_unique<TJPEGImage>();
        jpeg->LoadFromStream(stream);
        result.Bitmap = &jpeg->ViewBitmap();
        result.Graphic = std::move(jpeg);
        break;
    }
    }
    result.Bitmap->ScanLine(0);
    return result;
}
