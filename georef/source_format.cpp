#include "georef/source_format.h"

#include "imaging/jpeg_image.h"
#include "imaging/readers/tiff_graphic.h"
#include "platform/bitmap.h"
#include "platform/picture.h"

TSourceFormat SourceFormatOf(const std::string& fileName)
{
    const TGraphicClass* reader = FindPictureClass(PictureExtension(fileName));
    if (reader == &TBitmap::ClassType())
        return TSourceFormat::BMP;
    if (reader == &TJPEGImage::ClassType())
        return TSourceFormat::JPEG;
    if (reader == &TTIFFGraphic::ClassType())
        return TSourceFormat::TIFF;
    return TSourceFormat::None;
}
