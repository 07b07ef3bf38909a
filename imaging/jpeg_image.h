#pragma once
// TJPEGImage: the picture class of JPEG files. Loading keeps the compressed
// bytes and reads only the header; the pixels are decoded with libjpeg into a
// bitmap the first time the picture is drawn or its bitmap is asked for.
#include "platform/bitmap.h"
#include "platform/graphic.h"
#include "platform/palette.h"
#include "platform/streams.h"

#include <memory>

enum TJPEGPerformance : uint8_t { jpBestQuality, jpBestSpeed };
enum TJPEGPixelFormat : uint8_t { jf24Bit, jf8Bit };
enum TJPEGScale : uint8_t { jsFullSize, jsHalf, jsQuarter, jsEighth };

// Settings a new TJPEGImage starts with. The program sets PixelFormat to
// jf8Bit at start-up when the screen has 8 or fewer bits per pixel.
struct TJPEGDefaults {
    int CompressionQuality = 90;
    bool Grayscale = false;
    TJPEGPerformance Performance = jpBestQuality;
    TJPEGPixelFormat PixelFormat = jf24Bit;
    bool ProgressiveDisplay = false;
    bool ProgressiveEncoding = false;
    TJPEGScale Scale = jsFullSize;
    bool Smoothing = true;
};
extern TJPEGDefaults JPEGDefaults;

// The compressed file and what its header says; pictures copied from one
// another share it, a new load makes a new one.
class TJPEGData {
public:
    TMemoryStream Data;
    int Width = 0;
    int Height = 0;
    bool Grayscale = false;
};

class TJPEGImage : public TGraphic {
    PW_GRAPHIC_CLASS(TJPEGImage)
public:
    TJPEGImage();
    ~TJPEGImage() override;

    // Size of the decoded bitmap when there is one, else the header's size at
    // the current scale. A picture without data is 0 x 0.
    int Width() const override;
    int Height() const override;
    // Raise EInvalidGraphicOperation "Cannot change the size of a JPEG image".
    void SetWidth(int width);
    void SetHeight(int height);

    // Takes every byte from the stream position to its end; reads the header
    // only (EJPEG when it is not a JPEG image). An empty stream loads and
    // fails when decoded.
    void LoadFromStream(TStream& stream) override;
    // SOI marker followed by another marker.
    static bool CanLoadStream(TStream& stream);

    // The decoded bitmap, decoding on first use. Decoding sends progress
    // (starting, running at most every 500 ms, ending). An EAbort raised by a
    // progress handler stops decoding quietly and keeps the rows done.
    TBitmap& ViewBitmap() override;
    // libjpeg reads its data a block row of 8 or 16 rows at a time and fills
    // the blocks it could not decode: a short JPEG keeps what its first
    // blocks gave even when the data end in row 0.
    bool EndedInFirstRow() const override { return false; }
    void DIBNeeded() { ViewBitmap(); }
    bool HasBitmap() const { return FBitmap != nullptr; }

    // Shares source's data and takes over its settings; decodes anew.
    void Assign(const TJPEGImage& source);
    const std::shared_ptr<TJPEGData>& Data() const { return FData; }

    // The palette of the decoded bitmap, else the one assigned. Assigning one
    // makes 8-bit colour output use exactly its colours.
    HPALETTE Palette() const;
    void SetPalette(HPALETTE palette);

    // Settings. Those that change the decoded pixels drop the bitmap, so the
    // next request decodes with them.
    int CompressionQuality() const { return FCompressionQuality; }
    void SetCompressionQuality(int quality);
    bool Grayscale() const { return FGrayscale; }
    void SetGrayscale(bool grayscale);
    TJPEGPerformance Performance() const { return FPerformance; }
    void SetPerformance(TJPEGPerformance performance);
    TJPEGPixelFormat PixelFormat() const { return FPixelFormat; }
    void SetPixelFormat(TJPEGPixelFormat format);
    bool ProgressiveDisplay() const { return FProgressiveDisplay; }
    void SetProgressiveDisplay(bool progressive) { FProgressiveDisplay = progressive; }
    bool ProgressiveEncoding() const { return FProgressiveEncoding; }
    void SetProgressiveEncoding(bool progressive) { FProgressiveEncoding = progressive; }
    TJPEGScale Scale() const { return FScale; }
    void SetScale(TJPEGScale scale);
    bool Smoothing() const { return FSmoothing; }
    void SetSmoothing(bool smoothing);

private:
    class TDecoding;
    void FreeBitmap();
    void Decode();
    void ComputeScaledSize() const;

    std::shared_ptr<TJPEGData> FData;
    std::unique_ptr<TBitmap> FBitmap;
    HPALETTE FTempPal;
    mutable int FScaledWidth = -1;
    mutable int FScaledHeight = -1;

    int FCompressionQuality;
    bool FGrayscale;
    TJPEGPerformance FPerformance;
    TJPEGPixelFormat FPixelFormat;
    bool FProgressiveDisplay;
    bool FProgressiveEncoding;
    TJPEGScale FScale;
    bool FSmoothing;
};

// Registers "jpeg" and "jpg" ("JPEG Image File") with the picture list;
// InitializeImaging calls it before the format registry is filled.
void RegisterJPEGImage();
// Withdraws TJPEGImage from the picture list.
void UnregisterJPEGImage();
