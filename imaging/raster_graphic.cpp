#include "imaging/raster_graphic.h"

#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/rounding.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

PW_DEFINE_GRAPHIC_CLASS(TRasterGraphic, TBitmap)

const char* CompressionKindName(TCompressionKind kind)
{
    static const char* const names[] = {
        "ckUnknown",     "ckNone",        "ckRunLength",     "ckPackBits",         "ckLZW",
        "ckCCITTGroup3", "ckCCITTHuffman", "ckCCITTGroup4",  "ckCCITTHuffmanW",    "ckDeflate",
        "ckJPEG",        "ckOldJPEG",     "ckThunderScan",   "ckNeXT",             "ckIT8CTPad",
        "ckIT8Linework", "ckIT8Monochrome", "ckIT8BinaryLineArt", "ckPixarFilm",   "ckPixarLog",
        "ckKodakDCS",    "ckJBIG",        "ckPhotoCDHuffman",
        "ckZstd",        "ckLZMA",        "ckWebP",
    };
    return kind < std::size(names) ? names[kind] : "ckUnknown";
}

const char* PixelSchemeName(TPixelScheme scheme)
{
    static const char* const names[] = {
        "psUnknown", "psIndexed", "psGray", "psGrayAlpha", "psRGB",      "psRGBA",     "psBGR",
        "psBGRA",    "psCMY",     "psCMYK", "psCIELab",    "psYCbCr",    "psPhotoYCC",
    };
    return scheme < std::size(names) ? names[scheme] : "psUnknown";
}

TRasterGraphic::TRasterGraphic() : FColorManager(std::make_unique<TColorManager>())
{
}

TRasterGraphic::~TRasterGraphic() = default;

bool TRasterGraphic::CanLoadFile(const TGraphicClass& graphicClass, const std::string& fileName)
{
    TFileStream stream(fileName, fmOpenRead);
    return graphicClass.CanLoadStream && graphicClass.CanLoadStream(stream);
}

bool TRasterGraphic::LoadProperties(TStream&, int)
{
    ResetProperties();
    return false;
}

void TRasterGraphic::ResetProperties()
{
    ImageProperties = TImageProperties{};
    ClearEarlyEnd();
}

void TRasterGraphic::Assign(const TBitmap& source)
{
    if (const auto* raster = dynamic_cast<const TRasterGraphic*>(&source))
        ImageProperties = raster->ImageProperties;
    TBitmap::Assign(source);
}

void TRasterGraphic::StartProgress(const std::string& message)
{
    ProgressRect = TRect{0, 0, Width(), 1};
    Progress(this, psStarting, 0, false, ProgressRect, message);
}

void TRasterGraphic::BeginLoad(TStream& stream, const std::string& message)
{
    FreeImage();
    SourceStream = &stream;
    BasePosition = static_cast<int32_t>(stream.Position());
    if (!LoadProperties(stream, 0))
        RaiseInvalidFormat();
    ProgressRect = TRect{0, 0, static_cast<int32_t>(std::min<uint32_t>(ImageProperties.Width, INT32_MAX)), 1};
    Progress(this, psStarting, 0, false, ProgressRect, message);
}

void TRasterGraphic::RowDone(uint32_t rowsDelivered, uint32_t height)
{
    const int32_t percent = height ? MulDiv(static_cast<int32_t>(rowsDelivered), 100, static_cast<int32_t>(height)) : 100;
    Progress(this, psRunning, static_cast<uint8_t>(percent), true, ProgressRect, "");
    ++ProgressRect.Top;
    ++ProgressRect.Bottom;
}

void TRasterGraphic::EndProgress()
{
    Progress(this, psEnding, 0, false, ProgressRect, "");
}

void TRasterGraphic::RaiseInvalidFormat() const
{
    RaiseImageErrorFmt(msg::InvalidImage, DisplayName());
}

void RaiseImageError(const std::string& message)
{
    throw EInvalidGraphic(message);
}

void RaiseImageErrorFmt(const char* format, const std::string& a)
{
    throw EInvalidGraphic(Format(format, a));
}

void RaiseImageErrorFmt(const char* format, const std::string& a, const std::string& b)
{
    throw EInvalidGraphic(Format(format, a, b));
}

void SwapWords(void* buffer, uint32_t count)
{
    auto* p = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i, p += 2)
        std::swap(p[0], p[1]);
}

void SwapLongs(void* buffer, uint32_t count)
{
    auto* p = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i, p += 4) {
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
    }
}

uint32_t SwapLong(uint32_t value)
{
    return __builtin_bswap32(value);
}

namespace {
void UndoDifferencing(uint8_t* row, uint32_t count, uint32_t pixelSize)
{
    const uint64_t end = (uint64_t(count) + 1) * pixelSize;
    for (uint64_t i = pixelSize; i < end; ++i)
        row[i] = static_cast<uint8_t>(row[i] + row[i - pixelSize]);
}
} // namespace

void UndoDifferencing1(uint8_t* row, uint32_t count)
{
    UndoDifferencing(row, count, 1);
}

void UndoDifferencing3(uint8_t* row, uint32_t count)
{
    UndoDifferencing(row, count, 3);
}

void UndoDifferencing4(uint8_t* row, uint32_t count)
{
    UndoDifferencing(row, count, 4);
}

void Upsample2x(uint32_t width, uint32_t height, uint32_t rowStride, uint8_t* buffer)
{
    if (width < 2 || height < 2)
        return;
    const size_t stride = rowStride;
    // Even target rows from the source rows, bottom row first and right to
    // left, so no source sample is overwritten before it is read.
    for (uint32_t r = height; r-- > 0;) {
        const uint8_t* s = buffer + stride * r;
        uint8_t* t = buffer + stride * (2 * size_t(r));
        t[2 * width - 1] = s[width - 1];
        t[2 * width - 2] = s[width - 1];
        for (uint32_t i = width - 1; i-- > 0;) {
            const uint8_t left = s[i];
            const uint8_t right = s[i + 1];
            t[2 * i + 1] = static_cast<uint8_t>((left + right + 1) / 2);
            t[2 * i] = left;
        }
    }
    for (uint32_t k = 0; k + 1 < height; ++k) {
        const uint8_t* above = buffer + stride * (2 * size_t(k));
        const uint8_t* below = buffer + stride * (2 * size_t(k) + 2);
        uint8_t* odd = buffer + stride * (2 * size_t(k) + 1);
        for (uint32_t j = 0; j + 1 < width; ++j) {
            odd[2 * j] = static_cast<uint8_t>((above[2 * j] + below[2 * j] + 1) / 2);
            odd[2 * j + 1] =
                static_cast<uint8_t>((above[2 * j] + above[2 * j + 2] + below[2 * j] + below[2 * j + 2] + 2) / 4);
        }
        for (uint32_t c = 2 * width - 2; c < 2 * width; ++c)
            odd[c] = static_cast<uint8_t>((above[c] + below[c] + 1) / 2);
    }
    std::memcpy(buffer + stride * (2 * size_t(height) - 1), buffer + stride * (2 * size_t(height) - 2), 2 * size_t(width));
}
