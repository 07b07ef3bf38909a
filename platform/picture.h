#pragma once
// TPicture holds the current picture object; the process-wide picture list
// maps file extensions to picture classes. Lookups run from the newest entry
// to the oldest, so a later registration hides an earlier one.
#include "platform/graphic.h"

#include <memory>
#include <string>
#include <vector>

struct TPictureFormatEntry {
    std::string Extension;   // lower case, without the dot
    std::string Description;
    const TGraphicClass* Class;
};

// Appends an entry (extension in lower case); entries are never replaced.
void RegisterPictureFormat(const std::string& extension, const std::string& description,
                           const TGraphicClass& pictureClass);
// Removes every entry whose class is pictureClass or derives from it.
void UnregisterPictureClass(const TGraphicClass& pictureClass);
// The list, oldest entry first (the built-in entries included).
std::vector<TPictureFormatEntry> PictureFormats();
// The class for an extension (any case, without the dot), or null.
const TGraphicClass* FindPictureClass(const std::string& extension);
// The extension of a file name without its dot ("" when there is none).
std::string PictureExtension(const std::string& fileName);

// The platform's metafile class. It draws with the GUI toolkit's painter, so
// it lives in its own library, which installs it here when it is linked; it
// then heads the list with the built-in "wmf" and "emf" entries, and the
// imaging start-up registers its rows. Null while no metafile class is linked.
void SetMetafileClass(const TGraphicClass* metafileClass);
const TGraphicClass* MetafileClass();

class TPicture {
public:
    TPicture() = default;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    TGraphic* Graphic() const { return FGraphic.get(); }
    int Width() const { return FGraphic ? FGraphic->Width() : 0; }
    int Height() const { return FGraphic ? FGraphic->Height() : 0; }

    // Picks the class by the file's extension and loads the file into a new
    // object of it. On failure the new object is freed and the previous
    // picture stays; the exception propagates.
    void LoadFromFile(const std::string& fileName);
    // Installs a graphic that was loaded elsewhere.
    void SetGraphic(std::unique_ptr<TGraphic> graphic);

    TNotifyEvent OnChange;
    // Called with the current graphic just before another replaces it, while
    // it still exists (a reader of its pixels on another thread stops here).
    TNotifyEvent OnChanging;
    TProgressEvent OnProgress;

private:
    std::unique_ptr<TGraphic> FGraphic;
};

// Makes a picture object for fileName's extension and loads it, or raises.
// The workbench and the command-line tool share this path.
std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName, const TProgressEvent& progress = {});
// The picture object for fileName's extension, not loaded yet, or raises as
// LoadPictureFile does (for a caller that keeps the object when its load
// fails).
std::unique_ptr<TGraphic> CreatePictureFor(const std::string& fileName);
