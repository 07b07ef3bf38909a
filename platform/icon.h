#pragma once
// TIcon: an ICO file shown as its largest image (BMP-coded, or PNG-coded once
// a PNG reader is registered through SetPngIconDecoder).
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
    using TPngDecoder = std::function<void(TStream& png, TBitmap& target)>;
    static void SetPngDecoder(TPngDecoder decoder);

private:
    std::unique_ptr<TBitmap> FBitmap;
};
