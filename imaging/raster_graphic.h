#pragma once
// TRasterGraphic: the base of the program's own image readers. A reader is a
// bitmap that owns a colour manager, describes the file in ImageProperties
// and fills itself row by row.
//
// A reader (one per file in imaging/readers/) declares PW_GRAPHIC_CLASS, a
// static CanLoadStream, overrides LoadProperties (calling this base first),
// LoadFromStream and DisplayName, and registers its extensions in
// imaging/format_registry.cpp. Its header fields come through TByteReader
// (imaging/byte_reader.h); before it allocates the bitmap or a large buffer
// it calls CheckImageSize / CheckBufferSize / CheckDeclaredSize
// (imaging/image_limits.h). Its texts live in imaging/strings/messages.h.
#include "imaging/color/color_manager.h"
#include "platform/bitmap.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using TCardinalArray = std::vector<uint32_t>;
using TByteArray = std::vector<uint8_t>;
using TFloatArray = std::vector<float>;

enum TImageFlag : uint8_t {
    ifTiled = 1 << 0,
    ifBigEndian = 1 << 1,
    ifMinIsWhite = 1 << 2,
    ifReversedBitOrder = 1 << 3,
    ifGammaApplied = 1 << 4,
};
using TImageFlags = uint8_t;

enum TCompressionKind : uint8_t {
    ckUnknown,
    ckNone,
    ckRunLength,
    ckPackBits,
    ckLZW,
    ckCCITTGroup3,
    ckCCITTHuffman,
    ckCCITTGroup4,
    ckCCITTHuffmanW,
    ckDeflate,
    ckJPEG,
    ckOldJPEG,
    ckThunderScan,
    ckNeXT,
    ckIT8CTPad,
    ckIT8Linework,
    ckIT8Monochrome,
    ckIT8BinaryLineArt,
    ckPixarFilm,
    ckPixarLog,
    ckKodakDCS,
    ckJBIG,
    ckPhotoCDHuffman,
    ckZstd,
    ckLZMA,
    ckWebP,
};

// Member names, for reports such as pinwright-cli info.
const char* CompressionKindName(TCompressionKind kind);
const char* PixelSchemeName(TPixelScheme scheme);

struct TImageProperties {
    uint32_t FormatVersion = 0;
    TImageFlags Flags = 0;
    uint32_t Width = 0;
    uint32_t Height = 0;
    TPixelScheme PixelScheme = psUnknown;
    uint8_t BitsPerSample = 0;
    uint8_t SamplesPerPixel = 0;
    uint8_t BitsPerPixel = 0;
    TCompressionKind CompressionKind = ckUnknown;
    float Gamma = 1.0f;
    float XResolution = 0;
    float YResolution = 0;
    bool IsInterlaced = false;
    bool AlphaPresent = false;
    uint64_t FirstIFDOffset = 0;
    uint32_t PlanarConfiguration = 0;
    uint32_t RowIndex = 0;
    uint32_t TileWidth = 0;
    uint32_t TileLength = 0;
    uint32_t RowBytes = 0;
    TCardinalArray RowsPerStrip;
    TByteArray YCbCrSubSampling;
    TByteArray JPEGTables;
    uint32_t JPEGColorMode = 0;
    uint32_t JPEGTablesMode = 0;
    uint32_t StripIndex = 0;
    uint32_t StripCount = 0;
    uint32_t Predictor = 0;
    bool PCDOverview = false;
    uint8_t PCDRotation = 0;
    uint16_t PCDImageCount = 0;
    bool StoredBottomUp = false;
    uint8_t ChannelCount = 0;
    uint8_t PNGFilterMethod = 0;
};

class TRasterGraphic : public TBitmap {
    PW_GRAPHIC_CLASS(TRasterGraphic)
public:
    TRasterGraphic();
    ~TRasterGraphic() override;

    // Opens the file and asks CanLoadStream of this class.
    static bool CanLoadFile(const TGraphicClass& graphicClass, const std::string& fileName);
    static bool CanLoadStream(TStream&) { return false; }

    // Fills ImageProperties for image imageIndex without decoding pixels; the
    // base resets the properties and answers false. Overrides call it first.
    virtual bool LoadProperties(TStream& stream, int imageIndex);

    // Copies ImageProperties when the source is a reader too, then the bitmap.
    void Assign(const TBitmap& source) override;

    TColorManager& ColorManager() { return *FColorManager; }
    TImageProperties ImageProperties;
    int32_t BasePosition = 0;
    TStream* SourceStream = nullptr;
    TRect ProgressRect;

    // The name errors show ("TIF/TIFF", "PNG", ...).
    virtual const char* DisplayName() const { return "raster"; }

protected:
    void ResetProperties();

    // Progress in the readers' usual shape: StartProgress sends starting with
    // a message and puts ProgressRect on row 0; RowDone sends running with
    // rows x 100 / Height (rounded) and moves ProgressRect down one row;
    // EndProgress sends ending.
    void StartProgress(const std::string& message);
    // The start of a load: the image freed, the stream and its position
    // noted, the properties of image 0 read (a stream this reader cannot
    // load raises its invalid-format error) and starting sent with message,
    // ProgressRect on row 0 across the picture's width.
    void BeginLoad(TStream& stream, const std::string& message);
    void RowDone(uint32_t rowsDelivered, uint32_t height);
    void EndProgress();

    // "Cannot load image. Invalid or unexpected %s image format." for this reader.
    [[noreturn]] void RaiseInvalidFormat() const;

private:
    std::unique_ptr<TColorManager> FColorManager;
};

[[noreturn]] void RaiseImageError(const std::string& message);
[[noreturn]] void RaiseImageErrorFmt(const char* format, const std::string& a);
[[noreturn]] void RaiseImageErrorFmt(const char* format, const std::string& a, const std::string& b);

void SwapWords(void* buffer, uint32_t count);
void SwapLongs(void* buffer, uint32_t count);
uint32_t SwapLong(uint32_t value);
// Horizontal differencing undone in place for 1, 3 or 4 bytes per pixel.
// count is the number of pixels after the first, which stays as stored:
// callers pass the row's pixels minus one.
void UndoDifferencing1(uint8_t* row, uint32_t count);
void UndoDifferencing3(uint8_t* row, uint32_t count);
void UndoDifferencing4(uint8_t* row, uint32_t count);
void Upsample2x(uint32_t width, uint32_t height, uint32_t rowStride, uint8_t* buffer);
