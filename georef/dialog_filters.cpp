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
        return static_cast<int>(TSourceFilter::BMP);
    if (extension == "jpg" || extension == "jpeg")
        return static_cast<int>(TSourceFilter::JPG);
    if (extension == "tif" || extension == "tiff")
        return static_cast<int>(TSourceFilter::TIFF);
    return AllPicturesFilterIndex;
}

TSourceFilter SourceFilterOf(int filterIndex, const std::string& fileName)
{
    if (filterIndex == AllPicturesFilterIndex) {
        const int byName = SourceFilterIndexFor(fileName);
        return byName == AllPicturesFilterIndex ? TSourceFilter::None : static_cast<TSourceFilter>(byName);
    }
    return static_cast<TSourceFilter>(filterIndex);
}
