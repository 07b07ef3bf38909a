#include "imaging/loaded_picture.h"

#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/picture.h"

void RequireImage(const TGraphic& graphic)
{
    // A file whose data end within its first stored row gave no pixels: a
    // picture of its declared size would be blank from edge to edge.
    if (graphic.Width() <= 0 || graphic.Height() <= 0 || graphic.EndedInFirstRow())
        throw EInvalidGraphic(msg::NoImage);
}

std::unique_ptr<TGraphic> LoadPicturePixels(const std::string& fileName)
{
    std::unique_ptr<TGraphic> graphic = LoadPictureFile(fileName);
    // Decoding first, so that a JPEG's own error comes before the empty picture.
    graphic->ViewBitmap();
    RequireImage(*graphic);
    return graphic;
}

std::string EarlyEndNotice(const TGraphic& graphic)
{
    return graphic.EndedEarly() ? Format(msg::EndsEarly, std::to_string(graphic.EarlyEndRow())) : std::string();
}
