#include "platform/icon.h"

#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr const char* InvalidIcon = "Icon image is not valid";
constexpr const char* PngNotSupported = "PNG-coded icons are not supported";

constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint16_t IconType = 1;
constexpr uint16_t CursorType = 2;
constexpr int DirectoryEntrySize = 16;

TIcon::TPngDecoder& PngDecoder()
{
    static TIcon::TPngDecoder decoder;
    return decoder;
}

uint16_t GetU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t GetU32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint32_t GetU32BE(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

struct TIconImage {
    int64_t Offset = 0; // absolute stream position of the image data
    int64_t Size = 0;   // bytes the directory gives it
    int64_t Width = 0;
    int64_t Height = 0;
    int Bits = 0;
    bool Png = false;
    bool Compressed = false; // an RLE-coded DIB: no AND mask can be found after it
    bool TopDown = false;
};

// The facts of an image from its own header, which the directory's one-byte
// sizes cannot hold; nothing when the image's header lies outside the stream.
std::optional<TIconImage> ProbeImage(TStream& stream, int64_t offset, int64_t size)
{
    uint8_t head[26] = {};
    stream.SetPosition(offset);
    const int64_t got = stream.Read(head, sizeof head);
    TIconImage image;
    image.Offset = offset;
    image.Size = size;
    if (got >= 8 && std::memcmp(head, PngSignature, 8) == 0) {
        if (got < 26)
            return std::nullopt;
        static const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
        image.Png = true;
        // Kept below 2^31 so that comparing areas cannot overflow.
        image.Width = std::min<int64_t>(GetU32BE(head + 16), INT32_MAX);
        image.Height = std::min<int64_t>(GetU32BE(head + 20), INT32_MAX);
        image.Bits = head[24] * (head[25] <= 6 ? channels[head[25]] : 0);
        return image;
    }
    if (got < 16)
        return std::nullopt;
    const uint32_t headerSize = GetU32(head);
    if (headerSize != 12 && (headerSize < 16 || headerSize > 124))
        return std::nullopt;
    int64_t height = 0;
    if (headerSize == 12) {
        image.Width = GetU16(head + 4);
        height = GetU16(head + 6);
        image.Bits = GetU16(head + 10);
    } else {
        image.Width = static_cast<int32_t>(GetU32(head + 4));
        height = static_cast<int32_t>(GetU32(head + 8));
        image.Bits = GetU16(head + 14);
        image.Compressed = got >= 20 && headerSize >= 20 && (GetU32(head + 16) == 1 || GetU32(head + 16) == 2);
    }
    image.TopDown = height < 0;
    image.Height = (height < 0 ? -height : height) / 2;
    return image;
}

bool Larger(const TIconImage& a, const TIconImage& b)
{
    const int64_t areaA = a.Width * a.Height;
    const int64_t areaB = b.Width * b.Height;
    return areaA != areaB ? areaA > areaB : a.Bits > b.Bits;
}

// Reads the AND mask row by row, in the order of the colour rows; a mask cut
// short, or absent after RLE-coded colours, leaves the rest opaque.
class TMaskReader {
public:
    TMaskReader(TStream& stream, int64_t width, bool present)
        : FStream(stream), FRow(static_cast<size_t>(((width + 31) / 32) * 4)), FEnded(!present) {}

    const std::vector<uint8_t>& NextRow()
    {
        const int64_t got = FEnded ? 0 : FStream.Read(FRow.data(), static_cast<int64_t>(FRow.size()));
        if (got < static_cast<int64_t>(FRow.size())) {
            FEnded = true;
            std::fill(FRow.begin() + std::max<int64_t>(got, 0), FRow.end(), 0);
        }
        return FRow;
    }
    static bool Transparent(const std::vector<uint8_t>& row, int64_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

private:
    TStream& FStream;
    std::vector<uint8_t> FRow;
    bool FEnded;
};

} // namespace

PW_DEFINE_GRAPHIC_CLASS(TIcon, TGraphic)

TIcon::TIcon() : FBitmap(std::make_unique<TBitmap>()) {}

TIcon::~TIcon() = default;

int TIcon::Width() const
{
    return FBitmap->Width();
}

int TIcon::Height() const
{
    return FBitmap->Height();
}

void TIcon::SetPngDecoder(TPngDecoder decoder)
{
    PngDecoder() = std::move(decoder);
}

bool TIcon::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    uint8_t head[6] = {};
    const bool isIcon = stream.Read(head, 6) == 6 && GetU16(head) == 0 &&
                        (GetU16(head + 2) == IconType || GetU16(head + 2) == CursorType) && GetU16(head + 4) > 0;
    stream.SetPosition(position);
    return isIcon;
}

void TIcon::LoadFromStream(TStream& stream)
{
    const int64_t start = stream.Position();
    const int64_t streamSize = stream.Size();
    if (!CanLoadStream(stream))
        throw EInvalidGraphic(InvalidIcon);
    uint8_t head[6];
    stream.ReadBuffer(head, 6);
    const int count = GetU16(head + 4);
    std::vector<uint8_t> directory(static_cast<size_t>(count) * DirectoryEntrySize);
    if (stream.Read(directory.data(), static_cast<int64_t>(directory.size())) !=
        static_cast<int64_t>(directory.size()))
        throw EInvalidGraphic(InvalidIcon);

    std::optional<TIconImage> best;
    for (int i = 0; i < count; ++i) {
        const uint8_t* entry = &directory[static_cast<size_t>(i) * DirectoryEntrySize];
        const int64_t offset = start + GetU32(entry + 12);
        if (offset >= streamSize)
            continue;
        const auto image = ProbeImage(stream, offset, GetU32(entry + 8));
        if (image && (!best || Larger(*image, *best)))
            best = image;
    }
    if (!best)
        throw EInvalidGraphic(InvalidIcon);

    auto bitmap = std::make_unique<TBitmap>();
    if (best->Png) {
        if (!PngDecoder())
            throw EInvalidGraphic(PngNotSupported);
        const int64_t rest = streamSize - best->Offset;
        const int64_t size = best->Size > 0 && best->Size <= rest ? best->Size : rest;
        std::vector<uint8_t> data(static_cast<size_t>(size));
        stream.SetPosition(best->Offset);
        stream.ReadBuffer(data.data(), size);
        TMemoryStream png(data.data(), data.size());
        PngDecoder()(png, *bitmap);
    } else {
        auto colour = std::make_unique<TBitmap>();
        colour->LoadDIB(stream, 0, best->Offset, true);
        const int width = colour->Width();
        const int height = colour->Height();
        if (colour->Empty()) {
            bitmap = std::move(colour);
        } else if (colour->PixelFormat() == bf32Bit) {
            // 32-bit images carry their own alpha; one whose alpha is all zero
            // was meant to be shown through its AND mask.
            uint8_t alpha = 0;
            for (int y = 0; y < height; ++y) {
                const uint8_t* line = colour->ScanLine(y);
                for (int x = 0; x < width; ++x)
                    alpha |= line[4 * x + 3];
            }
            if (alpha == 0) {
                TMaskReader mask(stream, width, true);
                for (int i = 0; i < height; ++i) {
                    const auto& bits = mask.NextRow();
                    uint8_t* line = colour->ScanLine(best->TopDown ? i : height - 1 - i);
                    for (int x = 0; x < width; ++x)
                        line[4 * x + 3] = TMaskReader::Transparent(bits, x) ? 0 : 255;
                }
            }
            colour->SetAlphaPresent(true);
            bitmap = std::move(colour);
        } else {
            bitmap->SetPixelFormat(bf32Bit);
            bitmap->SetSize(width, height);
            bitmap->SetAlphaPresent(true);
            TMaskReader mask(stream, width, !best->Compressed);
            std::vector<uint32_t> argb(static_cast<size_t>(width));
            for (int i = 0; i < height; ++i) {
                const int y = best->TopDown ? i : height - 1 - i;
                const auto& bits = mask.NextRow();
                colour->RowToARGB(y, 0, width, argb.data());
                uint8_t* line = bitmap->ScanLine(y);
                for (int x = 0; x < width; ++x) {
                    const uint32_t c = argb[static_cast<size_t>(x)];
                    line[4 * x + 0] = static_cast<uint8_t>(c);
                    line[4 * x + 1] = static_cast<uint8_t>(c >> 8);
                    line[4 * x + 2] = static_cast<uint8_t>(c >> 16);
                    line[4 * x + 3] = TMaskReader::Transparent(bits, x) ? 0 : 255;
                }
            }
        }
    }
    FBitmap = std::move(bitmap);
    Changed();
}
