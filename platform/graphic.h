#pragma once
// TGraphic, the base of every picture class, and the class references that
// the picture list stores: a small metaclass per picture class with its name,
// parent, factory and class-level format test.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TStream;
class TGraphic;
class TBitmap;

struct TGraphicClass {
    const char* Name;
    const TGraphicClass* Parent;                 // null for TGraphic itself
    std::unique_ptr<TGraphic> (*Create)();       // null for abstract classes
    bool (*CanLoadStream)(TStream& stream);      // leaves the position unchanged

    // True when this class is other or derives from it.
    bool InheritsFrom(const TGraphicClass& other) const;
};

struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
    bool operator==(const TRect&) const = default;
};

enum TProgressStage { psStarting, psRunning, psEnding };

using TProgressEvent = std::function<void(TGraphic* sender, TProgressStage stage, uint8_t percentDone,
                                          bool redrawNow, const TRect& r, const std::string& msg)>;
using TNotifyEvent = std::function<void(TGraphic* sender)>;

// Declares the class reference of a picture class (in its class body) ...
#define PW_GRAPHIC_CLASS(Name)                                                   \
public:                                                                          \
    static const TGraphicClass& ClassType();                                     \
    const TGraphicClass& ClassInfo() const override { return Name::ClassType(); }

// ... and defines it (in its source file). The class needs a public default
// constructor and a static CanLoadStream (inherited from its base is fine).
#define PW_DEFINE_GRAPHIC_CLASS(Name, ParentName)                                \
    const TGraphicClass& Name::ClassType()                                       \
    {                                                                            \
        static const TGraphicClass info{                                         \
            #Name, &ParentName::ClassType(),                                     \
            []() -> std::unique_ptr<TGraphic> { return std::make_unique<Name>(); }, \
            &Name::CanLoadStream};                                               \
        return info;                                                             \
    }

class TGraphic {
public:
    TGraphic() = default;
    virtual ~TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    static const TGraphicClass& ClassType();
    virtual const TGraphicClass& ClassInfo() const { return TGraphic::ClassType(); }
    static bool CanLoadStream(TStream&) { return false; }

    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const { return Width() == 0 || Height() == 0; }

    // Loads the picture from the stream's current position.
    virtual void LoadFromStream(TStream& stream) = 0;
    // Opens the file for reading and loads it from position 0. Virtual for
    // readers that also need the name (a side file beside the image).
    virtual void LoadFromFile(const std::string& fileName);

    // The bitmap that shows this picture, made on first request (a JPEG is
    // decoded here); owned by the graphic. May raise the decoder's errors.
    virtual TBitmap& ViewBitmap() = 0;

    // The row in which the data of a short file ended (counted from 0 in the
    // order the file stores its rows), or -1 for a complete picture. The rows
    // before it hold what the file gave; the rest stay 0.
    int64_t EarlyEndRow() const { return FEarlyEndRow; }
    bool EndedEarly() const { return FEarlyEndRow >= 0; }
    // True when the data ended before any row was read whole, so that the
    // picture has no pixels of its own. A decoder that fills a short file's
    // blocks itself (JPEG) says otherwise.
    virtual bool EndedInFirstRow() const { return FEarlyEndRow == 0; }

    TProgressEvent OnProgress;
    TNotifyEvent OnChange;

protected:
    // Notes that the data ended in row; the earliest row noted stands.
    void NoteEarlyEnd(uint64_t row)
    {
        if (FEarlyEndRow < 0 || int64_t(row) < FEarlyEndRow)
            FEarlyEndRow = static_cast<int64_t>(row);
    }
    void ClearEarlyEnd() { FEarlyEndRow = -1; }
    void Progress(TGraphic* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow, const TRect& r,
                  const std::string& msg);
    void Changed();

private:
    int64_t FEarlyEndRow = -1;
};
