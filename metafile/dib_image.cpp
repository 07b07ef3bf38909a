#include "imaging/byte_reader.h"
#include "imaging/image_limits.h"
#include "metafile/metafile_players.h"
#include "metafile/record_data.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstring>

namespace {

// The bitmap's own DIB reader, reached from a memory copy of the record's bytes.
class TDibReader : public TBitmap {
public:
    void Read(TStream& stream, int64_t bitsOffset) { LoadDIB(stream, bitsOffset, 0); }
};

enum : uint32_t { BI_RGB = 0, BI_BITFIELDS = 3, BI_JPEG = 4, BI_PNG = 5, BI_ALPHABITFIELDS = 6 };
constexpr uint32_t DIB_PAL_COLORS = 1;

void Append(std::vector<uint8_t>& buffer, const uint8_t* data, uint64_t count)
{
    buffer.insert(buffer.end(), data, data + count);
}

} // namespace

QImage DibImage(const TRecordData& record, uint64_t infoOffset, uint64_t infoSize, uint64_t bitsOffset,
                uint64_t bitsSize, uint32_t usage, const std::vector<QRgb>& palette, bool* bottomUp)
{
    record.Need(infoOffset, infoSize);
    if (bitsOffset != 0)
        record.Need(bitsOffset, bitsSize);
    if (infoSize < 12)
        record.Fail();
    const uint8_t* info = record.Data() + infoOffset;
    const uint32_t headerSize = LoadU32LE(info);
    int64_t width = 0;
    int64_t height = 0;
    uint32_t bits = 0;
    uint32_t compression = BI_RGB;
    uint32_t colorsUsed = 0;
    if (headerSize == 12) {
        width = LoadU16LE(info + 4);
        height = LoadU16LE(info + 6);
        bits = LoadU16LE(info + 10);
    } else if (headerSize >= 40 && headerSize <= infoSize) {
        width = static_cast<int32_t>(LoadU32LE(info + 4));
        height = static_cast<int32_t>(LoadU32LE(info + 8));
        bits = LoadU16LE(info + 14);
        compression = LoadU32LE(info + 16);
        colorsUsed = LoadU32LE(info + 32);
    } else {
        record.Fail();
    }
    if (compression == BI_JPEG || compression == BI_PNG)
        return {}; // device pass-through images: nothing of ours can show them
    if (width <= 0 || height == 0 || bits == 0 || bits > 32)
        record.Fail();
    const int64_t rows = height < 0 ? -height : height;
    if (bottomUp)
        *bottomUp = height > 0;
    CheckImageSize(record.Kind(), static_cast<uint64_t>(width), static_cast<uint64_t>(rows), 32);

    // The colour table, rebuilt as RGB entries when it holds palette indexes.
    const uint64_t entries = bits <= 8 ? (colorsUsed && colorsUsed < (1u << bits) ? colorsUsed : (1u << bits)) : 0;
    std::vector<uint8_t> buffer;
    uint64_t tableEnd = headerSize;
    if (usage == DIB_PAL_COLORS && entries > 0 && headerSize != 12) {
        record.NeedItems(infoOffset + headerSize, entries, 2);
        Append(buffer, info, headerSize);
        for (uint64_t i = 0; i < entries; ++i) {
            const uint16_t index = LoadU16LE(info + headerSize + 2 * i);
            const QRgb c = index < palette.size() ? palette[index] : qRgb(0, 0, 0);
            const uint8_t quad[4] = {static_cast<uint8_t>(qBlue(c)), static_cast<uint8_t>(qGreen(c)),
                                     static_cast<uint8_t>(qRed(c)), 0};
            Append(buffer, quad, 4);
        }
        tableEnd = headerSize + 2 * entries;
    } else {
        const uint64_t entrySize = headerSize == 12 ? 3 : 4;
        const uint64_t masks = headerSize == 40 && (compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS)
                                   ? (compression == BI_BITFIELDS ? 12 : 16)
                                   : 0;
        tableEnd = headerSize + masks + entries * entrySize;
        if (tableEnd > infoSize)
            record.Fail();
        Append(buffer, info, tableEnd);
    }
    const uint64_t infoLength = buffer.size();
    const uint8_t* pixels = bitsOffset != 0 ? record.Data() + bitsOffset : info + tableEnd;
    const uint64_t available = bitsOffset != 0 ? bitsSize : infoSize - tableEnd;
    if (compression == BI_RGB || compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS) {
        const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
        if (stride * static_cast<uint64_t>(rows) > available)
            record.Fail();
    }
    Append(buffer, pixels, available);

    TDibReader dib;
    try {
        TMemoryStream stream(buffer.data(), buffer.size());
        dib.Read(stream, static_cast<int64_t>(infoLength));
    } catch (const Exception&) {
        record.Fail();
    }
    QImage image(dib.Width(), dib.Height(), QImage::Format_RGB32);
    if (image.isNull())
        record.Fail();
    for (int y = 0; y < dib.Height(); ++y) {
        auto* line = reinterpret_cast<uint32_t*>(image.scanLine(y));
        dib.RowToARGB(y, 0, dib.Width(), line);
        for (int x = 0; x < dib.Width(); ++x)
            line[x] |= 0xFF000000u;
    }
    return image;
}
