#include "imaging/format_registry.h"

#include "imaging/jpeg_image.h"
#include "imaging/strings/messages.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/icon.h"
#include "platform/picture.h"

#include <algorithm>
#include <cctype>

TFileFormatList* FileFormatList = nullptr;

namespace {

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

} // namespace

TFileFormatList::~TFileFormatList()
{
    Clear();
}

int TFileFormatList::FindExtension(const std::string& extension) const
{
    if (extension.empty())
        return -1;
    for (size_t i = 0; i < FExtensionList.size(); ++i)
        if (SameText(FExtensionList[i]->Extension, extension))
            return static_cast<int>(i);
    return -1;
}

int TFileFormatList::FindClass(const TGraphicClass& pictureClass) const
{
    for (size_t i = 0; i < FClassList.size(); ++i)
        if (FClassList[i]->GraphicClass == &pictureClass)
            return static_cast<int>(i);
    return -1;
}

TFileFormatList::TClassEntry* TFileFormatList::BindClass(const TGraphicClass& pictureClass,
                                                         const std::string& commonDescription)
{
    const int index = FindClass(pictureClass);
    TClassEntry* entry;
    if (index < 0) {
        FClassList.push_back(std::make_unique<TClassEntry>(TClassEntry{&pictureClass, {}, 0}));
        entry = FClassList.back().get();
    } else {
        entry = FClassList[static_cast<size_t>(index)].get();
    }
    if (!commonDescription.empty())
        entry->Description = commonDescription;
    ++entry->Count;
    return entry;
}

void TFileFormatList::RemoveClassEntry(TClassEntry* entry)
{
    FClassList.erase(std::find_if(FClassList.begin(), FClassList.end(),
                                  [entry](const auto& e) { return e.get() == entry; }));
}

void TFileFormatList::RegisterFormat(const std::string& extension, const std::string& commonDescription,
                                     const std::string& individualDescription, TFormatKinds kinds, bool replace,
                                     const TGraphicClass& pictureClass)
{
    if (extension.empty())
        return;
    const int index = FindExtension(extension);
    TExtensionEntry* entry;
    if (index < 0) {
        FExtensionList.push_back(
            std::make_unique<TExtensionEntry>(TExtensionEntry{extension, individualDescription, kinds, nullptr}));
        entry = FExtensionList.back().get();
        entry->ClassEntry = BindClass(pictureClass, commonDescription);
    } else {
        if (!replace)
            throw EInvalidGraphic(Format(msg::RegisterTwice, extension));
        entry = FExtensionList[static_cast<size_t>(index)].get();
        if (entry->ClassEntry->GraphicClass != &pictureClass) {
            TClassEntry* old = entry->ClassEntry;
            entry->ClassEntry = BindClass(pictureClass, commonDescription);
            if (--old->Count == 0)
                RemoveClassEntry(old);
        }
    }
    const std::string& description =
        individualDescription.empty() ? entry->ClassEntry->Description : individualDescription;
    RegisterPictureFormat(extension, description, pictureClass);
}

void TFileFormatList::UnregisterFormat(const std::string& extension, const TGraphicClass& pictureClass)
{
    if (!extension.empty()) {
        const int index = FindExtension(extension);
        if (index < 0)
            return;
        TClassEntry* classEntry = FExtensionList[static_cast<size_t>(index)]->ClassEntry;
        if (--classEntry->Count == 0) {
            UnregisterPictureClass(*classEntry->GraphicClass);
            RemoveClassEntry(classEntry);
        }
        FExtensionList.erase(FExtensionList.begin() + index);
        return;
    }
    // A class that was never registered has nothing to withdraw here.
    const int classIndex = FindClass(pictureClass);
    if (classIndex < 0)
        return;
    TClassEntry* classEntry = FClassList[static_cast<size_t>(classIndex)].get();
    for (int i = ExtensionCount() - 1; i >= 0 && classEntry->Count > 0; --i) {
        if (FExtensionList[static_cast<size_t>(i)]->ClassEntry != classEntry)
            continue;
        --classEntry->Count;
        FExtensionList.erase(FExtensionList.begin() + i);
    }
    RemoveClassEntry(classEntry);
    UnregisterPictureClass(pictureClass);
}

void TFileFormatList::Clear()
{
    for (const auto& entry : FClassList)
        UnregisterPictureClass(*entry->GraphicClass);
    FClassList.clear();
    FExtensionList.clear();
}

namespace {

int InitCount = 0;

void RegisterStartupFormats(TFileFormatList& list)
{
    const TFormatKinds raster = fkRaster;
    list.RegisterFormat("bmp", "Windows bitmaps", "", raster, false, TBitmap::ClassType());
    list.RegisterFormat("ico", "Windows icons", "", raster, false, TIcon::ClassType());
    list.RegisterFormat("jfif", "JPG images", "JFIF images", raster, false, TJPEGImage::ClassType());
    list.RegisterFormat("jpg", "", "JPG images", raster, false, TJPEGImage::ClassType());
    list.RegisterFormat("jpe", "", "JPE images", raster, false, TJPEGImage::ClassType());
    list.RegisterFormat("jpeg", "", "JPEG images", raster, false, TJPEGImage::ClassType());
    list.RegisterFormat("rle", "Windows bitmaps", "Run length encoded Windows bitmaps", raster, false,
                        TBitmap::ClassType());
    list.RegisterFormat("dib", "", "Device independant Windows bitmaps", raster, false, TBitmap::ClassType());
    const TFormatKinds multiImage = fkMultiImage | fkRaster;
}

void UnregisterShutdownFormats(TFileFormatList& list)
{
    list.UnregisterFormat("rle", TBitmap::ClassType());
    list.UnregisterFormat("dib", TBitmap::ClassType());
}

} // namespace

void InitializeImaging()
{
    if (InitCount++ > 0)
        return;
    RegisterJPEGImage();
    FileFormatList = new TFileFormatList;
    RegisterStartupFormats(*FileFormatList);
}

void FinalizeImaging()
{
    if (InitCount == 0 || --InitCount > 0)
        return;
    UnregisterShutdownFormats(*FileFormatList);
    delete FileFormatList;
    FileFormatList = nullptr;
    UnregisterJPEGImage();
}
