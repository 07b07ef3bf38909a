#include "platform/picture.h"

#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/icon.h"
#include "platform/streams.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const TGraphicClass*& InstalledMetafileClass()
{
    static const TGraphicClass* metafileClass = nullptr;
    return metafileClass;
}

std::vector<TPictureFormatEntry>& FormatList()
{
    // The platform's own entries exist from first use, as the built-in classes do.
    static std::vector<TPictureFormatEntry> list = [] {
        std::vector<TPictureFormatEntry> builtIn;
        builtIn.push_back({"ico", "Icon", &TIcon::ClassType()});
        builtIn.push_back({"bmp", "Bitmaps", &TBitmap::ClassType()});
        return builtIn;
    }();
    return list;
}

} // namespace

void RegisterPictureFormat(const std::string& extension, const std::string& description,
                           const TGraphicClass& pictureClass)
{
    FormatList().push_back({Lower(extension), description, &pictureClass});
}

void UnregisterPictureClass(const TGraphicClass& pictureClass)
{
    auto& list = FormatList();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const TPictureFormatEntry& e) { return e.Class->InheritsFrom(pictureClass); }),
               list.end());
}

void SetMetafileClass(const TGraphicClass* metafileClass)
{
    const TGraphicClass* previous = InstalledMetafileClass();
    auto& list = FormatList();
    if (previous)
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const TPictureFormatEntry& e) {
                                      return e.Class == previous && (e.Extension == "wmf" || e.Extension == "emf");
                                  }),
                   list.end());
    InstalledMetafileClass() = metafileClass;
    // The oldest entries of the list, ahead of "ico" and "bmp".
    if (metafileClass)
        list.insert(list.begin(), {{"wmf", "Metafiles", metafileClass}, {"emf", "Enhanced Metafiles", metafileClass}});
}

const TGraphicClass* MetafileClass()
{
    return InstalledMetafileClass();
}

std::vector<TPictureFormatEntry> PictureFormats()
{
    return FormatList();
}

const TGraphicClass* FindPictureClass(const std::string& extension)
{
    const std::string wanted = Lower(extension);
    const auto& list = FormatList();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->Extension == wanted)
            return it->Class;
    return nullptr;
}

std::string PictureExtension(const std::string& fileName)
{
    const size_t slash = fileName.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart)
        return {};
    return fileName.substr(dot + 1);
}

std::unique_ptr<TGraphic> CreatePictureFor(const std::string& fileName)
{
    const std::string extension = PictureExtension(fileName);
    const TGraphicClass* pictureClass = FindPictureClass(extension);
    if (!pictureClass || !pictureClass->Create)
        throw EInvalidGraphic("Unknown picture file extension (." + extension + ")");
    return pictureClass->Create();
}

std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName, const TProgressEvent& progress)
{
    std::unique_ptr<TGraphic> graphic = CreatePictureFor(fileName);
    graphic->OnProgress = progress;
    graphic->LoadFromFile(fileName);
    return graphic;
}

void TPicture::LoadFromFile(const std::string& fileName)
{
    TProgressEvent forward;
    if (OnProgress)
        forward = [this](TGraphic* sender, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                         const std::string& msg) {
            if (OnProgress)
                OnProgress(sender, stage, percent, redraw, r, msg);
        };
    SetGraphic(LoadPictureFile(fileName, forward));
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic)
{
    if (OnChanging)
        OnChanging(FGraphic.get());
    FGraphic = std::move(graphic);
    if (FGraphic)
        FGraphic->OnChange = [this](TGraphic* sender) {
            if (OnChange)
                OnChange(sender);
        };
    if (OnChange)
        OnChange(FGraphic.get());
}
