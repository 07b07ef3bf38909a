#include "imaging/readers/tiff_directory.h"

#include "imaging/byte_reader.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

uint64_t LoadU64(TByteReader& reader, bool bigEndian)
{
    uint8_t bytes[8];
    reader.Bytes(bytes, 8);
    return bigEndian ? LoadU64BE(bytes) : LoadU64LE(bytes);
}

} // namespace

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
    case ftIFD:
        return 4;
    case ftRational:
    case ftSRational:
    case ftDouble:
    case ftLong8:
    case ftSLong8:
    case ftIFD8:
        return 8;
    default:
        return 0;
    }
}

bool ValuesInline(const TTagEntry& entry)
{
    return uint64_t(TypeSize(entry.FieldType)) * entry.Count <= entry.FieldBytes;
}

void SwapDirectory(std::vector<TTagEntry>& directory)
{
    for (TTagEntry& entry : directory) {
        entry.Tag = __builtin_bswap16(entry.Tag);
        entry.FieldType = __builtin_bswap16(entry.FieldType);
        entry.Count = __builtin_bswap32(entry.Count);
        const uint64_t v = entry.ValueOrOffset;
        const uint32_t fieldBits = 8u * entry.FieldBytes;
        // Values in the field are swapped one by one; an offset as a whole.
        const uint32_t size = ValuesInline(entry) ? TypeSize(entry.FieldType) : entry.FieldBytes;
        if (size < 2)
            continue;
        uint64_t swapped = 0;
        for (uint32_t at = 0; at + 8 * size <= fieldBits; at += 8 * size)
            for (uint32_t byte = 0; byte < size; ++byte)
                swapped |= ((v >> (at + 8 * byte)) & 0xFF) << (at + 8 * (size - 1 - byte));
        entry.ValueOrOffset = swapped;
    }
}

void SortDirectory(std::vector<TTagEntry>& directory)
{
    std::stable_sort(directory.begin(), directory.end(),
                     [](const TTagEntry& a, const TTagEntry& b) { return a.Tag < b.Tag; });
}

uint64_t TTIFFDirectory::Read(TStream& stream, uint64_t offset)
{
    const int64_t streamSize = stream.Size();
    TByteReader reader(stream);
    if (offset > uint64_t(std::max<int64_t>(0, streamSize - BasePosition)))
        reader.Fail();
    reader.Seek(BasePosition + int64_t(offset));
    const size_t entryBytes = BigTIFF ? 20 : 12;
    uint64_t count = BigTIFF ? LoadU64(reader, BigEndian) : reader.U16(BigEndian);
    // The entries must lie in the stream before anything is allocated.
    if (count > uint64_t(std::max<int64_t>(0, streamSize - stream.Position())) / entryBytes)
        reader.Fail();
    std::vector<uint8_t> raw(size_t(count) * entryBytes);
    reader.Bytes(raw.data(), static_cast<int64_t>(raw.size()));
    const uint64_t next = BigTIFF ? LoadU64(reader, BigEndian) : reader.U32(BigEndian);

    // Read as little-endian numbers; SwapDirectory turns big-endian files
    // into machine order afterwards, inline values included.
    Entries.resize(size_t(count));
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = raw.data() + i * entryBytes;
        TTagEntry& e = Entries[i];
        e.Tag = LoadU16LE(p);
        e.FieldType = LoadU16LE(p + 2);
        if (BigTIFF) {
            const uint64_t n = BigEndian ? LoadU64BE(p + 4) : LoadU64LE(p + 4);
            e.Count = static_cast<uint32_t>(std::min<uint64_t>(n, 0xFFFFFFFFu));
            if (BigEndian)
                e.Count = __builtin_bswap32(e.Count); // swapped back with the rest below
            e.ValueOrOffset = LoadU64LE(p + 12);
            e.FieldBytes = 8;
        } else {
            e.Count = LoadU32LE(p + 4);
            e.ValueOrOffset = LoadU32LE(p + 8);
            e.FieldBytes = 4;
        }
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
        return static_cast<uint32_t>(entry->ValueOrOffset);
    switch (entry->FieldType) {
    case ftByte:
        return entry->ValueOrOffset & 0xFF;
    case ftShort:
    case ftSShort:
        return entry->ValueOrOffset & 0xFFFF;
    case ftLong:
    case ftSLong:
    case ftIFD:
        return static_cast<uint32_t>(entry->ValueOrOffset);
    case ftLong8:
    case ftIFD8:
        return static_cast<uint32_t>(std::min<uint64_t>(entry->ValueOrOffset, 0xFFFFFFFFu));
    default:
        return defaultValue;
    }
}

std::vector<uint8_t> TTIFFDirectory::ReadRawValues(TStream& stream, const TTagEntry& entry) const
{
    const uint64_t size = uint64_t(TypeSize(entry.FieldType)) * entry.Count;
    if (ValuesInline(entry)) {
        std::vector<uint8_t> raw(entry.FieldBytes);
        for (size_t i = 0; i < raw.size(); ++i)
            raw[i] = static_cast<uint8_t>(entry.ValueOrOffset >> (8 * i));
        raw.resize(size);
        return raw;
    }
    const int64_t streamSize = stream.Size();
    if (entry.ValueOrOffset > uint64_t(std::max<int64_t>(0, streamSize - BasePosition)))
        RaiseInvalidTIFF();
    const int64_t start = BasePosition + int64_t(entry.ValueOrOffset);
    if (size > uint64_t(streamSize - start))
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
    case ftIFD:
        return bigEndian ? LoadU32BE(raw + 4 * size_t(k)) : LoadU32LE(raw + 4 * size_t(k));
    case ftLong8:
    case ftSLong8:
    case ftIFD8:
        return static_cast<uint32_t>(std::min<uint64_t>(Integer64At(raw, type, k, bigEndian), 0xFFFFFFFFu));
    default: {
        const double v = NumberAt(raw, type, k, bigEndian);
        // A FLOAT or DOUBLE field may hold NaN, which reads as 0 like a negative.
        return !(v > 0) ? 0 : v >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(v);
    }
    }
}

uint64_t TTIFFDirectory::Integer64At(const uint8_t* raw, uint16_t type, uint32_t k, bool bigEndian)
{
    switch (type) {
    case ftLong8:
    case ftIFD8:
        return bigEndian ? LoadU64BE(raw + 8 * size_t(k)) : LoadU64LE(raw + 8 * size_t(k));
    case ftSLong8: {
        const uint64_t v = bigEndian ? LoadU64BE(raw + 8 * size_t(k)) : LoadU64LE(raw + 8 * size_t(k));
        return static_cast<int64_t>(v) < 0 ? 0 : v;
    }
    default:
        return IntegerAt(raw, type, k, bigEndian);
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
    case ftSLong8:
        return static_cast<double>(static_cast<int64_t>(bigEndian ? LoadU64BE(raw + 8 * size_t(k))
                                                                  : LoadU64LE(raw + 8 * size_t(k))));
    case ftLong8:
    case ftIFD8:
        return static_cast<double>(Integer64At(raw, type, k, bigEndian));
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

std::vector<uint64_t> TTIFFDirectory::ReadTagIntegers64(TStream& stream, uint32_t tag) const
{
    const TTagEntry* entry = Find(tag);
    if (!entry || entry->Count == 0 || TypeSize(entry->FieldType) == 0)
        return {};
    const std::vector<uint8_t> raw = ReadRawValues(stream, *entry);
    std::vector<uint64_t> values(entry->Count);
    const bool bigEndian = RawBigEndian(*entry);
    for (uint32_t k = 0; k < entry->Count; ++k)
        values[k] = Integer64At(raw.data(), entry->FieldType, k, bigEndian);
    return values;
}
