#include "imaging/loaded_picture.h"

#include "imaging/strings/messages.h"
#include "platform/exceptions.h"

void RequireImage(const TGraphic& graphic)
{
    if (graphic.Width() <= 0 || graphic.Height() <= 0)
        throw EInvalidGraphic(msg::NoImage);
}

std::string EarlyEndNotice(const TGraphic& graphic)
{
    return graphic.EndedEarly() ? Format(msg::EndsEarly, std::to_string(graphic.EarlyEndRow())) : std::string();
}
