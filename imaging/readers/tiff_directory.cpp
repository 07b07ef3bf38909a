#include "imaging/readers/tiff_directory.h"

#include "imaging/byte_reader.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <bit>
#include <cstring>

void RaiseInvalidTIFF()
{
    RaiseImageErrorFmt(msg::InvalidImage, TIFFDisplayName);
}

uint32_t TypeSize(uint16_t fieldType)
{
    switch (fieldType) {
    case ftByte:
    case ftASCII:
    case ftSByte:
    case ftUndefined:
        return 1;
    case ftShort:
    case ftSShort:
        return 2;
    case ftLong:
    case ftSLong:
    case ftFloat:
        return 4;
    case ftRational:
    case ftSRational:
    case ftDouble:
        return 8;
    default:
        return 0;
    }
}

bool ValuesInline(const TTagEntry& entry)
{
    return uint64_t(TypeSize(entry.FieldType)) * entry.Count <= 4;
}

void SwapDirectory(std::vector<TTagEntry>& directory)
{
    for (TTagEntry& entry : directory) {
        entry.Tag = __builtin_bswap16(entry.Tag);
        entry.FieldType = __builtin_bswap16(entry.FieldType);
        entry.Count = __builtin_bswap32(entry.Count);
        if (!ValuesInline(entry)) {
            entry.ValueOrOffset = __builtin_bswap32(entry.ValueOrOffset);
            continue;
        }
        switch (TypeSize(entry.FieldType)) {
        case 2: {
            const uint32_t v = entry.ValueOrOffset;
            entry.ValueOrOffset = ((v & 0x00FF00FFu) << 8) | ((v >> 8) & 0x00FF00FFu);
            break;
        }
        case 4:
            entry.ValueOrOffset = __builtin_bswap32(entry.ValueOrOffset);
            break;
        default:
            break;
        }
    }
}

void SortDirectory(std::vector<TTagEntry>& directory)
{
    std::stable_sort(directory.begin(), directory.end(),
                     [](const TTagEntry& a, const TTagEntry& b) { return a.Tag < b.Tag; });
}

uint32_t TTIFFDirectory::Read(TStream& stream, uint32_t offset)
{
    TByteReader reader(stream);
    reader.Seek(BasePosition + offset);
    const uint16_t count = reader.U16(BigEndian);
    std::vector<uint8_t> raw(size_t(count) * 12);
    reader.Bytes(raw.data(), static_cast<int64_t>(raw.size()));
    const uint32_t next = reader.U32(BigEndian);

    // Read as little-endian numbers; SwapDirectory turns big-endian files
    // into machine order afterwards, inline values included.
    Entries.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = raw.data() + i * 12;
        Entries[i] = TTagEntry{LoadU16LE(p), LoadU16LE(p + 2), LoadU32LE(p + 4), LoadU32LE(p + 8)};
    }
    if (BigEndian)
        SwapDirectory(Entries);
    SortDirectory(Entries);
    return next;
}

bool TTIFFDirectory::FindTag(uint32_t tag, size_t& index) const
{
    const auto it = std::lower_bound(Entries.begin(), Entries.end(), tag,
                                     [](const TTagEntry& e, uint32_t t) { return e.Tag < t; });
    if (it == Entries.end() || it->Tag != tag)
        return false;
    index = static_cast<size_t>(it - Entries.begin());
    return true;
}

const TTagEntry* TTIFFDirectory::Find(uint32_t tag) const
{
    size_t index;
    return FindTag(tag, index) ? &Entries[index] : nullptr;
}

uint32_t TTIFFDirectory::GetTagValue(uint32_t tag, uint32_t defaultValue) const
{
    uint32_t count;
    return GetTagValueAndCount(tag, count, defaultValue);
}

uint32_t TTIFFDirectory::GetTagValueAndCount(uint32_t tag, uint32_t& count, uint32_t defaultValue) const
{
    const TTagEntry* entry = Find(tag);
    if (!entry) {
        count = 0;
        return defaultValue;
    }
    count = entry->Count;
    if (entry->Count != 1)
        return entry->ValueOrOffset;
    switch (entry->FieldType) {
    case ftByte:
        return entry->ValueOrOffset & 0xFF;
    case ftShort:
    case ftSShort:
        return entry->ValueOrOffset & 0xFFFF;
    case ftLong:
    case ftSLong:
        return entry->ValueOrOffset;
    default:
        return defaultValue;
    }
}

std::vector<uint8_t> TTIFFDirectory::ReadRawValues(TStream& stream, const TTagEntry& entry) const
{
    const uint64_t size = uint64_t(TypeSize(entry.FieldType)) * entry.Count;
    if (ValuesInline(entry)) {
        std::vector<uint8_t> raw(4);
        for (int i = 0; i < 4; ++i)
            raw[size_t(i)] = static_cast<uint8_t>(entry.ValueOrOffset >> (8 * i));
        raw.resize(size);
        return raw;
    }
    const int64_t start = BasePosition + entry.ValueOrOffset;
    const int64_t streamSize = stream.Size();
    if (start > streamSize || size > uint64_t(streamSize - start))
        RaiseInvalidTIFF();
    std::vector<uint8_t> raw(size);
    stream.SetPosition(start);
    stream.ReadBuffer(raw.data(), static_cast<int64_t>(size));
    return raw;
}

uint32_t TTIFFDirectory::IntegerAt(const uint8_t* raw, uint16_t type, uint32_t k, bool bigEndian)
{
    switch (type) {
    case ftByte:
    case ftASCII:
    case ftSByte:
    case ftUndefined:
        return raw[k];
    case ftShort:
    case ftSShort:
        return bigEndian ? LoadU16BE(raw + 2 * size_t(k)) : LoadU16LE(raw + 2 * size_t(k));
    case ftLong:
    case ftSLong:
        return bigEndian ? LoadU32BE(raw + 4 * size_t(k)) : LoadU32LE(raw + 4 * size_t(k));
    default: {
        const double v = NumberAt(raw, type, k, bigEndian);
        // A FLOAT or DOUBLE field may hold NaN, which reads as 0 like a negative.
        return !(v > 0) ? 0 : v >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(v);
    }
    }
}

double TTIFFDirectory::NumberAt(const uint8_t* raw, uint16_t type, uint32_t k, bool bigEndian)
{
    const auto u32 = [&](size_t offset) { return bigEndian ? LoadU32BE(raw + offset) : LoadU32LE(raw + offset); };
    switch (type) {
    case ftRational:
    case ftSRational: {
        const uint32_t n = u32(8 * size_t(k));
        const uint32_t d = u32(8 * size_t(k) + 4);
        if (d == 0)
            return 0;
        if (type == ftRational)
            return double(n) / double(d);
        return double(static_cast<int32_t>(n)) / double(static_cast<int32_t>(d));
    }
    case ftFloat:
        return std::bit_cast<float>(u32(4 * size_t(k)));
    case ftDouble: {
        const uint64_t hi = u32(8 * size_t(k));
        const uint64_t lo = u32(8 * size_t(k) + 4);
        return std::bit_cast<double>(bigEndian ? (hi << 32) | lo : (lo << 32) | hi);
    }
    case ftSByte:
        return static_cast<int8_t>(raw[k]);
    case ftSShort:
        return static_cast<int16_t>(IntegerAt(raw, type, k, bigEndian));
    case ftSLong:
        return static_cast<int32_t>(IntegerAt(raw, type, k, bigEndian));
    default:
        return IntegerAt(raw, type, k, bigEndian);
    }
}

float TTIFFDirectory::GetTagFloat(TStream& stream, uint32_t tag, float defaultValue) const
{
    const TTagEntry* entry = Find(tag);
    if (!entry || entry->Count != 1 || TypeSize(entry->FieldType) == 0)
        return defaultValue;
    const std::vector<uint8_t> raw = ReadRawValues(stream, *entry);
    const double v = NumberAt(raw.data(), entry->FieldType, 0, RawBigEndian(*entry));
    return static_cast<float>(v);
}

TCardinalArray TTIFFDirectory::ReadTagIntegers(TStream& stream, uint32_t tag) const
{
    const TTagEntry* entry = Find(tag);
    if (!entry || entry->Count == 0 || TypeSize(entry->FieldType) == 0)
        return {};
    const std::vector<uint8_t> raw = ReadRawValues(stream, *entry);
    TCardinalArray values(entry->Count);
    const bool bigEndian = RawBigEndian(*entry);
    if (entry->FieldType == ftLong && !bigEndian && std::endian::native == std::endian::little) {
        std::memcpy(values.data(), raw.data(), raw.size());
        return values;
    }
    for (uint32_t k = 0; k < entry->Count; ++k)
        values[k] = IntegerAt(raw.data(), entry->FieldType, k, bigEndian);
    return values;
}

TByteArray TTIFFDirectory::ReadTagBytes(TStream& stream, uint32_t tag) const
{
    const TTagEntry* entry = Find(tag);
    if (!entry || entry->Count == 0 || TypeSize(entry->FieldType) == 0)
        return {};
    std::vector<uint8_t> raw = ReadRawValues(stream, *entry);
    if (TypeSize(entry->FieldType) == 1)
        return raw;
    TByteArray values(entry->Count);
    const bool bigEndian = RawBigEndian(*entry);
    for (uint32_t k = 0; k < entry->Count; ++k)
        values[k] = static_cast<uint8_t>(IntegerAt(raw.data(), entry->FieldType, k, bigEndian));
    return values;
}

TFloatArray TTIFFDirectory::ReadTagFloats(TStream& stream, uint32_t tag) const
{
    const TTagEntry* entry = Find(tag);
    if (!entry || entry->Count == 0 || TypeSize(entry->FieldType) == 0)
        return {};
    const std::vector<uint8_t> raw = ReadRawValues(stream, *entry);
    TFloatArray values(entry->Count);
    const bool bigEndian = RawBigEndian(*entry);
    for (uint32_t k = 0; k < entry->Count; ++k)
        values[k] = static_cast<float>(NumberAt(raw.data(), entry->FieldType, k, bigEndian));
    return values;
}
