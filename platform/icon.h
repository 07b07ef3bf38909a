#pragma once
// TIcon: an ICO file shown as its largest image (most pixels, then most bits
// per pixel). A BMP-coded image becomes a 32-bit bitmap with alpha: its own
// alpha for 32-bit images, else opaque except where the AND mask is set.
// PNG-coded images go to the decoder set through SetPngDecoder.
#include "platform/bitmap.h"

#include <functional>
#include <memory>

class TIcon : public TGraphic {
    PW_GRAPHIC_CLASS(TIcon)
public:
    TIcon();
    ~TIcon() override;

    int Width() const override;
    int Height() const override;
    void LoadFromStream(TStream& stream) override;
    static bool CanLoadStream(TStream& stream);
    TBitmap& ViewBitmap() override { return *FBitmap; }

    // Decoder for PNG-coded icon images: reads a PNG stream into a bitmap.
    // Without one such an icon raises EInvalidGraphic.
    using TPngDecoder = std::function<void(TStream& png, TBitmap& target)>;
    static void SetPngDecoder(TPngDecoder decoder);

private:
    std::unique_ptr<TBitmap> FBitmap;
};
