#include "tools/cli/picture_size.h"

#include "imaging/jpeg_image.h"
#include "imaging/raster_graphic.h"
#include "platform/bitmap.h"
#include "platform/picture.h"
#include "platform/streams.h"

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>

namespace {

uint32_t Little(const uint8_t* bytes, int count)
{
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

// The file header, then the size of the DIB header: 12 for the core header
// with 16-bit sizes, else 32-bit ones (a negative height: top-down rows).
TImageSize BmpSize(TStream& stream)
{
    uint8_t header[26];
    stream.ReadBuffer(header, sizeof header);
    if (header[0] != 'B' || header[1] != 'M')
        return {};
    if (Little(header + 14, 4) == 12)
        return {static_cast<int>(Little(header + 18, 2)), static_cast<int>(Little(header + 20, 2))};
    const auto width = static_cast<int32_t>(Little(header + 18, 4));
    const auto height = static_cast<int32_t>(Little(header + 22, 4));
    if (width <= 0 || height == INT32_MIN)
        return {};
    return {width, std::abs(height)};
}

} // namespace

TImageSize PictureSize(const std::string& fileName)
{
    const TGraphicClass* pictureClass = FindPictureClass(PictureExtension(fileName));
    if (!pictureClass || !pictureClass->Create)
        return {};
    try {
        TFileStream stream(fileName, fmOpenRead);
        if (pictureClass->InheritsFrom(TRasterGraphic::ClassType())) {
            const std::unique_ptr<TGraphic> graphic = pictureClass->Create();
            auto& reader = static_cast<TRasterGraphic&>(*graphic);
            if (!reader.LoadProperties(stream, 0))
                return {};
            return {static_cast<int>(reader.ImageProperties.Width), static_cast<int>(reader.ImageProperties.Height)};
        }
        if (pictureClass->InheritsFrom(TJPEGImage::ClassType())) {
            // The JPEG picture reads its header only until it is drawn.
            const std::unique_ptr<TGraphic> graphic = pictureClass->Create();
            graphic->LoadFromStream(stream);
            return {graphic->Width(), graphic->Height()};
        }
        if (pictureClass->InheritsFrom(TBitmap::ClassType()))
            return BmpSize(stream);
    } catch (const std::exception&) {
        // No size: the spread of the points is then not judged.
    }
    return {};
}
