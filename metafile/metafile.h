#pragma once
// TMetafile: a Windows metafile (WMF, standard or placeable, and EMF) drawn
// into a 32-bit bitmap at its natural size at 96 dots per inch: the placeable
// header's box, a standard WMF's window extent, an EMF's frame. Drawing uses
// QtGui's painter; the class installs itself in the picture list when this
// library is linked (see SetMetafileClass in platform/picture.h).
#include "platform/bitmap.h"

#include <memory>

class TMetafile : public TGraphic {
    PW_GRAPHIC_CLASS(TMetafile)
public:
    TMetafile();
    ~TMetafile() override;

    int Width() const override;
    int Height() const override;
    // Reads and draws the whole metafile; a malformed one raises EInvalidGraphic.
    void LoadFromStream(TStream& stream) override;
    static bool CanLoadStream(TStream& stream);
    TBitmap& ViewBitmap() override { return *FBitmap; }

    // True after loading an EMF.
    bool Enhanced() const { return FEnhanced; }
    // Smooth edges (the default); off, shapes cover whole pixels only.
    void SetAntialiased(bool antialiased) { FAntialiased = antialiased; }

private:
    std::unique_ptr<TBitmap> FBitmap;
    bool FEnhanced = false;
    bool FAntialiased = true;
};
