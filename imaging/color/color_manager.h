#pragma once
// TColorManager turns rows of decoded samples (any supported colour scheme,
// depth, byte order and plane layout) into rows of the bitmap's pixel format,
// and builds the palettes of indexed and grey bitmaps.
//
// Typical use by a reader, once per image:
//   cm.SetSourceScheme(psRGB);  cm.SetSourceBits(16);  cm.SetSourceSamples(3);
//   cm.SetSourceFlags(sfSwapBytes);
//   cm.SetTargetScheme(psBGR);  cm.SetTargetBits(8);   cm.SetTargetSamples(3);
//   bitmap.SetPixelFormat(cm.BitmapFormatOf(1));
// then per row (or per interlace pass of a row):
//   cm.ConvertLine({row}, bitmap.ScanLine(y), width, 0xFF);            // interleaved
//   cm.ConvertLine({red, green, blue}, bitmap.ScanLine(y), width, 0xFF); // planar
//
// Sources: one pointer means the samples of a pixel lie together in one buffer;
// more than one means one buffer per sample in scheme order, the alpha plane (if
// the source has sfAlpha) fourth. CMYK is planar only with exactly four
// pointers. No form allocates: an initializer_list ({row} or {r, g, b}), a
// span or vector of pointers, or a pointer array with its count.
//
// Mask: position k of the row is converted when bit (7 - k mod 8) of the mask
// is set; a skipped position is left untouched and consumes no source pixel.
// 0xFF converts every position.
//
// 16-bit samples are in host byte order unless the source has sfSwapBytes.
// Errors are raised as EColorConversionError.
#include "platform/bitmap.h"
#include "platform/palette.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

// Colour scheme of stored samples; the ordinals are stored in image properties.
enum TPixelScheme : uint8_t {
    psUnknown,   // not set; never converted
    psIndexed,   // palette index
    psGray,      // grey
    psGrayAlpha, // grey, alpha
    psRGB,       // red, green, blue
    psRGBA,      // red, green, blue, alpha
    psBGR,       // blue, green, red (the bitmap's order)
    psBGRA,      // blue, green, red, alpha
    psCMY,       // cyan, magenta, yellow
    psCMYK,      // cyan, magenta, yellow, black
    psCIELab,    // L*, a*, b*
    psYCbCr,     // Y, Cb, Cr
    psPhotoYCC   // Y, C1, C2 (Photo-CD)
};

// Per-side conversion flags: a set of these bits.
enum TSampleFlag : uint8_t {
    sfAlpha = 1 << 0,       // both: the scheme carries alpha (kept up to date by the manager)
    sfGamma = 1 << 1,       // target: 8-bit colour values go through the gamma table
    sfSwapBytes = 1 << 2,   // source: 16-bit samples are stored in the opposite byte order
    sfLabByteL = 1 << 3,    // source: L* is stored on 0..255 and divided by 2.55
    sfLabOffsetAB = 1 << 4, // source: a* and b* are stored unsigned with 128 added
};
using TSampleFlags = uint8_t;

// Raw palette layouts understood by MakeColorPalette.
enum TPaletteLayout : uint8_t {
    plInterleaved8x3,  // one buffer, 3 bytes per entry
    plInterleaved8x4,  // one buffer, 4 bytes per entry, the fourth ignored
    plPlanar8x3,       // three byte buffers: red, green, blue
    plPlanar8x4,       // as plPlanar8x3
    plInterleaved16x3, // one buffer, 3 words per entry
    plInterleaved16x4, // one buffer, 4 words per entry, the fourth ignored
    plPlanar16x3,      // three word buffers: red, green, blue
    plPlanar16x4       // as plPlanar16x3
};

class TColorManager {
public:
    TColorManager();
    TColorManager(const TColorManager&) = delete;
    TColorManager& operator=(const TColorManager&) = delete;

    // Bits per sample, 1..16 (EColorConversionError otherwise; the old value stays).
    uint8_t SourceBits() const { return FSourceBPS; }
    void SetSourceBits(uint8_t bits);
    uint8_t TargetBits() const { return FTargetBPS; }
    void SetTargetBits(uint8_t bits);
    // Samples per pixel, 1..4 (EColorConversionError otherwise; the old value stays).
    uint8_t SourceSamples() const { return FSourceSPP; }
    void SetSourceSamples(uint8_t samples);
    uint8_t TargetSamples() const { return FTargetSPP; }
    void SetTargetSamples(uint8_t samples);
    TPixelScheme SourceScheme() const { return FSourceScheme; }
    void SetSourceScheme(TPixelScheme scheme);
    TPixelScheme TargetScheme() const { return FTargetScheme; }
    void SetTargetScheme(TPixelScheme scheme);
    // Flag changes take effect at the next row; they do not cause a new
    // routine selection.
    TSampleFlags SourceFlags() const { return FSourceOptions; }
    void SetSourceFlags(TSampleFlags flags) { FSourceOptions = flags; }
    TSampleFlags TargetFlags() const { return FTargetOptions; }
    void SetTargetFlags(TSampleFlags flags) { FTargetOptions = flags; }

    // Values <= 0 select the defaults 1.0 and 2.2. Rebuilds the gamma table for
    // the current depths.
    void SetGammaValues(float imageGamma, float displayGamma);
    float ImageGamma() const { return FMainGamma; }
    float DisplayGamma() const { return FDisplayGamma; }
    const std::array<uint8_t, 256>& GammaTable() const { return FGammaTable; }

    // Copies up to three luma coefficients (red, green, blue weights), then
    // checks the subsampling (1, 2 or 4, vertical <= horizontal). The row
    // routines do not subsample: callers deliver full-resolution chroma.
    void SetChromaParameters(const std::vector<float>& coefficients, uint8_t horizontal, uint8_t vertical);
    const std::array<float, 3>& LumaCoefficients() const { return FYCbCrCoefficients; }
    uint8_t HorizontalSubsampling() const { return FHSubsampling; }
    uint8_t VerticalSubsampling() const { return FVSubsampling; }

    // Bitmap format for the source (index 0) or target (any other index) description.
    TBitmapFormat BitmapFormatOf(int index) const;

    // Converts one row; see the notes at the top of this file.
    void ConvertLine(const void* const* sources, int sourceCount, void* target, uint32_t count, uint8_t mask = 0xFF);
    void ConvertLine(std::span<const void* const> sources, void* target, uint32_t count, uint8_t mask = 0xFF)
    {
        ConvertLine(sources.data(), static_cast<int>(sources.size()), target, count, mask);
    }
    void ConvertLine(std::initializer_list<const void*> sources, void* target, uint32_t count, uint8_t mask = 0xFF)
    {
        ConvertLine(sources.begin(), static_cast<int>(sources.size()), target, count, mask);
    }
    // Whether ConvertInPlace can convert rows where they lie: the conversion
    // only reorders the samples of same-sized pixels (8-bit RGB and BGR,
    // three samples each, without gamma).
    bool ConvertsInPlace();
    // Converts a row of interleaved source pixels into the target layout
    // where it lies; does nothing where ConvertsInPlace is false.
    void ConvertInPlace(void* row, uint32_t count);
    // A vector of any data pointers (uint8_t*, const uint16_t*, ...); at most
    // four are used.
    template <class T>
    void ConvertLine(const std::vector<T*>& sources, void* target, uint32_t count, uint8_t mask = 0xFF)
    {
        const void* pointers[4] = {};
        const int n = CopyPointers(sources, pointers);
        ConvertLine(pointers, n, target, count, mask);
    }

    // A new palette from raw entries (at most 256), re-spread when the source
    // and target depths differ. Null when the palette cannot be made.
    HPALETTE MakeColorPalette(const void* const* data, int dataCount, TPaletteLayout layout, uint32_t colorCount,
                              bool blueFirst);
    HPALETTE MakeColorPalette(std::span<const void* const> data, TPaletteLayout layout, uint32_t colorCount,
                              bool blueFirst)
    {
        return MakeColorPalette(data.data(), static_cast<int>(data.size()), layout, colorCount, blueFirst);
    }
    HPALETTE MakeColorPalette(std::initializer_list<const void*> data, TPaletteLayout layout, uint32_t colorCount,
                              bool blueFirst)
    {
        return MakeColorPalette(data.begin(), static_cast<int>(data.size()), layout, colorCount, blueFirst);
    }
    template <class T>
    HPALETTE MakeColorPalette(const std::vector<T*>& data, TPaletteLayout layout, uint32_t colorCount, bool blueFirst)
    {
        const void* pointers[4] = {};
        const int n = CopyPointers(data, pointers);
        return MakeColorPalette(pointers, n, layout, colorCount, blueFirst);
    }
    // A grey ramp for the target depth (2^(bits x samples) entries, at most 256).
    HPALETTE MakeGrayPalette(bool whiteIsZero);

private:
    template <class T>
    static int CopyPointers(const std::vector<T*>& from, const void* (&to)[4])
    {
        const size_t n = from.size() < 4 ? from.size() : 4;
        for (size_t i = 0; i < n; ++i)
            to[i] = from[i];
        return static_cast<int>(n);
    }

    using TRowRoutine = void (TColorManager::*)(const void* const* sources, int sourceCount, uint8_t* target,
                                                uint32_t count, uint8_t mask);

    void SelectConverter();
    void BuildChromaTables();

    void IndexedToIndexed(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void Indexed16To16(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void Indexed16ToN(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void IndexedNTo16(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void GrayToGray(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void RGBToRGB(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void RGBToBGR(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void BGRToRGB(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void BGRToBGR(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void CMYKToRGB(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void CMYKToBGR(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void LabToRGB(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void LabToBGR(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void YCbCrToRGB(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void YCbCrToBGR(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void PhotoYCCToRGB(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);
    void PhotoYCCToBGR(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count, uint8_t mask);

    // Shared bodies of the routine families; Exchange swaps samples 0 and 2.
    void ConvertRGBFamily(bool exchange, const void* const* sources, int sourceCount, uint8_t* target,
                          uint32_t count, uint8_t mask);
    void ConvertCMYK(bool bgr, const void* const* sources, int sourceCount, uint8_t* target, uint32_t count,
                     uint8_t mask);
    void ConvertLab(bool bgr, const void* const* sources, int sourceCount, uint8_t* target, uint32_t count,
                    uint8_t mask);
    void ConvertYCC(bool bgr, bool photoYCC, const void* const* sources, int sourceCount, uint8_t* target,
                    uint32_t count, uint8_t mask);
    // Value maps of the indexed routines for sources of up to 8 bits, made at
    // routine selection: FIndexScale[v] is v rescaled to the target depth, and
    // FIndexExpand[b] the target bytes of the fields of source byte b when
    // the target has 8 bits.
    void BuildIndexTables();

    bool FChanged = true;
    uint8_t FSourceBPS = 8;
    uint8_t FTargetBPS = 8;
    uint8_t FSourceSPP = 3;
    uint8_t FTargetSPP = 3;
    float FMainGamma = 1.0f;
    float FDisplayGamma = 2.2f;
    std::array<uint8_t, 256> FGammaTable{};
    std::array<float, 3> FYCbCrCoefficients{0.299f, 0.587f, 0.114f};
    uint8_t FHSubsampling = 1;
    uint8_t FVSubsampling = 1;
    // Cr-to-red, Cb-to-blue, Cr-to-green, Cb-to-green contributions; empty
    // until a YCbCr or Photo-YCC source is selected.
    std::vector<int32_t> FCrToRedTable;
    std::vector<int32_t> FCbToBlueTable;
    std::vector<int32_t> FCrToGreenTable;
    std::vector<int32_t> FCbToGreenTable;
    // f_red, f_green_cr, f_blue, f_green_cb of the luma coefficients.
    std::array<float, 4> FChromaFactors{};
    // The four tables as fixed-point factors (d * F + half) >> FChromaShift,
    // when that reproduces every table entry exactly; FChromaShift 0 otherwise.
    std::array<int32_t, 4> FChromaFixed{};
    uint8_t FChromaShift = 0;
    std::array<uint16_t, 256> FIndexScale{};
    std::array<std::array<uint8_t, 8>, 256> FIndexExpand{};
    TPixelScheme FSourceScheme = psRGB;
    TPixelScheme FTargetScheme = psBGR;
    TRowRoutine FRowConversion = nullptr;
    TSampleFlags FSourceOptions = 0;
    TSampleFlags FTargetOptions = 0;
};
