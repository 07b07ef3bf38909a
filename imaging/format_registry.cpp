#include "imaging/format_registry.h"

#include "imaging/readers/autodesk_graphic.h"
#include "imaging/readers/cut_graphic.h"
#include "imaging/readers/eps_graphic.h"
#include "imaging/readers/jpeg2000_graphic.h"
#include "imaging/readers/pcd_graphic.h"
#include "imaging/readers/pcx_graphic.h"
#include "imaging/readers/png_graphic.h"
#include "imaging/readers/psd_graphic.h"
#include "imaging/readers/psp_graphic.h"
#include "imaging/readers/ppm_graphic.h"
#include "imaging/readers/rla_graphic.h"
#include "imaging/readers/sgi_graphic.h"
#include "imaging/readers/targa_graphic.h"
#include "imaging/readers/tiff_graphic.h"
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
    // The metafile rows stand here whenever the metafile library is linked.
    if (const TGraphicClass* metafile = MetafileClass()) {
        list.RegisterFormat("wmf", "Windows metafiles", "", fkVector, false, *metafile);
        list.RegisterFormat("emf", "Windows metafiles", "Windows enhanced meta files", fkVector, false, *metafile);
    }
    list.RegisterFormat("jfif", "JPG images", "JFIF images", raster, false, TJPEGImage::ClassType());
    list.RegisterFormat("jpg", "", "JPG images", raster, false, TJPEGImage::ClassType());
    list.RegisterFormat("jpe", "", "JPE images", raster, false, TJPEGImage::ClassType());
    list.RegisterFormat("jpeg", "", "JPEG images", raster, false, TJPEGImage::ClassType());
    list.RegisterFormat("rle", "Windows bitmaps", "Run length encoded Windows bitmaps", raster, false,
                        TBitmap::ClassType());
    list.RegisterFormat("dib", "", "Device independant Windows bitmaps", raster, false, TBitmap::ClassType());
    list.RegisterFormat("win", msg::TargaDescription, "", raster, false, TTargaGraphic::ClassType());
    list.RegisterFormat("vst", "", "", raster, false, TTargaGraphic::ClassType());
    list.RegisterFormat("vda", "", "", raster, false, TTargaGraphic::ClassType());
    list.RegisterFormat("tga", "", "", raster, false, TTargaGraphic::ClassType());
    list.RegisterFormat("icb", "", "", raster, false, TTargaGraphic::ClassType());
    const TFormatKinds multiImage = fkMultiImage | fkRaster;
    list.RegisterFormat("tiff", msg::TIFFDescription, msg::TIFFMacDescription, multiImage, false,
                        TTIFFGraphic::ClassType());
    list.RegisterFormat("tif", "", msg::TIFFPCDescription, multiImage, false, TTIFFGraphic::ClassType());
    list.RegisterFormat("fax", "", msg::FaxDescription, multiImage, false, TTIFFGraphic::ClassType());
    list.RegisterFormat("eps", msg::EPSDescription, "", raster, false, TEPSGraphic::ClassType());
    list.RegisterFormat("pcx", msg::PCXDescription, "", raster, false, TPCXGraphic::ClassType());
    list.RegisterFormat("pcc", "", "", raster, false, TPCXGraphic::ClassType());
    list.RegisterFormat("scr", "", msg::SCRDescription, raster, false, TPCXGraphic::ClassType());
    list.RegisterFormat("rpf", msg::RLADescription, "", raster, false, TRLAGraphic::ClassType());
    list.RegisterFormat("rla", "", "", raster, false, TRLAGraphic::ClassType());
    list.RegisterFormat("sgi", msg::SGIDescription, msg::SGITrueColorDescription, raster, false,
                        TSGIGraphic::ClassType());
    list.RegisterFormat("rgba", "", msg::SGITrueColorAlphaDescription, raster, false, TSGIGraphic::ClassType());
    list.RegisterFormat("rgb", "", msg::SGITrueColorDescription, raster, false, TSGIGraphic::ClassType());
    list.RegisterFormat("bw", "", msg::SGIBlackWhiteDescription, raster, false, TSGIGraphic::ClassType());
    const TFormatKinds layered = fkLayered | fkRaster;
    list.RegisterFormat("psd", msg::PSDDescription, "", layered, false, TPSDGraphic::ClassType());
    list.RegisterFormat("pdd", "", "", layered, false, TPSDGraphic::ClassType());
    list.RegisterFormat("ppm", msg::PortableMapDescription, msg::PortablePixelMapDescription, raster, false,
                        TPPMGraphic::ClassType());
    list.RegisterFormat("pgm", "", msg::PortableGrayMapDescription, raster, false, TPPMGraphic::ClassType());
    list.RegisterFormat("pbm", "", msg::PortableBitmapDescription, raster, false, TPPMGraphic::ClassType());
    list.RegisterFormat("cel", msg::AutodeskDescription, "", raster, false, TAutodeskGraphic::ClassType());
    list.RegisterFormat("pic", msg::AutodeskDescription, "", raster, false, TAutodeskGraphic::ClassType());
    list.RegisterFormat("pcd", msg::PCDDescription, "", raster, false, TPCDGraphic::ClassType());
    list.RegisterFormat("cut", msg::CUTDescription, "", raster, false, TCUTGraphic::ClassType());
    list.RegisterFormat("psp", msg::PSPDescription, "", fkRaster | fkVector, false, TPSPGraphic::ClassType());
    list.RegisterFormat("png", msg::PNGDescription, "", raster, false, TPNGGraphic::ClassType());
    list.RegisterFormat("jp2", msg::JPEG2000Description, "", raster, false, TJPEG2000Graphic::ClassType());
    list.RegisterFormat("jpf", "", msg::JPEG2000ExtendedDescription, raster, false, TJPEG2000Graphic::ClassType());
    list.RegisterFormat("j2k", "", msg::JPEG2000CodestreamDescription, raster, false,
                        TJPEG2000Graphic::ClassType());
    list.RegisterFormat("j2c", "", msg::JPEG2000CodestreamDescription, raster, false,
                        TJPEG2000Graphic::ClassType());
}

void UnregisterShutdownFormats(TFileFormatList& list)
{
    list.UnregisterFormat("", TPSPGraphic::ClassType());
    list.UnregisterFormat("", TPSDGraphic::ClassType());
    list.UnregisterFormat("", TTargaGraphic::ClassType());
    list.UnregisterFormat("", TTIFFGraphic::ClassType());
    list.UnregisterFormat("", TSGIGraphic::ClassType());
    list.UnregisterFormat("", TPCXGraphic::ClassType());
    list.UnregisterFormat("", TAutodeskGraphic::ClassType());
    list.UnregisterFormat("", TPCDGraphic::ClassType());
    list.UnregisterFormat("", TPPMGraphic::ClassType());
    list.UnregisterFormat("", TCUTGraphic::ClassType());
    list.UnregisterFormat("", TRLAGraphic::ClassType());
    list.UnregisterFormat("rle", TBitmap::ClassType());
    list.UnregisterFormat("dib", TBitmap::ClassType());
    list.UnregisterFormat("", TPNGGraphic::ClassType());
    list.UnregisterFormat("", TJPEG2000Graphic::ClassType());
}

} // namespace

void InitializeImaging()
{
    if (InitCount++ > 0)
        return;
    RegisterJPEGImage();
    FileFormatList = new TFileFormatList;
    RegisterStartupFormats(*FileFormatList);
    // PNG-coded icon images load through the PNG reader.
    TIcon::SetPngDecoder([](TStream& png, TBitmap& target) {
        TPNGGraphic image;
        image.LoadFromStream(png);
        target.Assign(image);
    });
}

void FinalizeImaging()
{
    if (InitCount == 0 || --InitCount > 0)
        return;
    TIcon::SetPngDecoder(nullptr);
    UnregisterShutdownFormats(*FileFormatList);
    delete FileFormatList;
    FileFormatList = nullptr;
    UnregisterJPEGImage();
}
