#pragma once
// The format registry: which picture class reads a file with a given
// extension, with descriptions and format kinds. Every registration is passed
// on to the platform picture list, which picks the class when a file loads.
#include "platform/graphic.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum TFormatKind : uint8_t {
    fkLayered = 1 << 1,
    fkMultiImage = 1 << 2,
    fkRaster = 1 << 3,
    fkVector = 1 << 4,
};
using TFormatKinds = uint8_t;

class TFileFormatList {
public:
    struct TClassEntry {
        const TGraphicClass* GraphicClass;
        std::string Description;
        int32_t Count;
    };
    struct TExtensionEntry {
        std::string Extension;
        std::string Description;
        TFormatKinds FormatTypes;
        TClassEntry* ClassEntry;
    };

    TFileFormatList() = default;
    ~TFileFormatList();
    TFileFormatList(const TFileFormatList&) = delete;
    TFileFormatList& operator=(const TFileFormatList&) = delete;

    void RegisterFormat(const std::string& extension, const std::string& commonDescription,
                        const std::string& individualDescription, TFormatKinds kinds, bool replace,
                        const TGraphicClass& pictureClass);
    // Removes one extension, or every extension of pictureClass when the
    // extension is empty.
    void UnregisterFormat(const std::string& extension, const TGraphicClass& pictureClass);
    int FindExtension(const std::string& extension) const;
    int FindClass(const TGraphicClass& pictureClass) const;
    void Clear();

    int ExtensionCount() const { return static_cast<int>(FExtensionList.size()); }
    int ClassCount() const { return static_cast<int>(FClassList.size()); }
    const TExtensionEntry& Extension(int index) const { return *FExtensionList[static_cast<size_t>(index)]; }
    const TClassEntry& ClassEntry(int index) const { return *FClassList[static_cast<size_t>(index)]; }

private:
    TClassEntry* BindClass(const TGraphicClass& pictureClass, const std::string& commonDescription);
    void RemoveClassEntry(TClassEntry* entry);

    std::vector<std::unique_ptr<TClassEntry>> FClassList;
    std::vector<std::unique_ptr<TExtensionEntry>> FExtensionList;
};

// The one registry of the process; null before InitializeImaging and after
// FinalizeImaging.
extern TFileFormatList* FileFormatList;

// Start-up of the imaging library: registers the JPEG picture, then creates
// FileFormatList with its rows. Runs once however often it is called;
// FinalizeImaging undoes it in the shut-down order.
void InitializeImaging();
void FinalizeImaging();
