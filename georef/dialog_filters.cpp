#include "georef/dialog_filters.h"

#include "platform/picture.h"

#include <algorithm>
#include <cctype>
#include <set>

std::string AllPicturesFilterText()
{
    std::string masks;
    std::set<std::string> seen;
    for (const TPictureFormatEntry& entry : PictureFormats()) {
        if (!seen.insert(entry.Extension).second)
            continue;
        masks += (masks.empty() ? "*." : ";*.") + entry.Extension;
    }
    std::string shown = masks;
    std::replace(shown.begin(), shown.end(), ';', ' ');
    return "All pictures (" + shown + ")|" + masks;
}

int SourceFilterIndexFor(const std::string& fileName)
{
    std::string extension = PictureExtension(fileName);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "bmp")
        return BmpFilterIndex;
    if (extension == "jpg" || extension == "jpeg")
        return JpgFilterIndex;
    if (extension == "tif" || extension == "tiff")
        return TiffFilterIndex;
    return AllPicturesFilterIndex;
}

TSourceFormat OpenFilterFormat(int filterIndex, const std::string& fileName)
{
    switch (filterIndex) {
    case BmpFilterIndex:
        return TSourceFormat::BMP;
    case JpgFilterIndex:
        return TSourceFormat::JPEG;
    case TiffFilterIndex:
        return TSourceFormat::TIFF;
    case AllPicturesFilterIndex:
        return SourceFormatOf(fileName);
    default:
        return TSourceFormat::None;
    }
}
