#pragma once
// Checked little-endian access to the parameters of one metafile record. Every
// read outside the record raises the broken-record error, so a record player
// never works on bytes that are not part of its record.
#include <cstddef>
#include <cstdint>
#include <string>

class TRecordData {
public:
    // data/size: the whole record; offset: its position in the file (for the
    // error text); kind: "WMF" or "EMF".
    TRecordData(const uint8_t* data, uint64_t size, uint64_t offset, const char* kind)
        : FData(data), FSize(size), FOffset(offset), FKind(kind) {}

    uint64_t Size() const { return FSize; }
    const char* Kind() const { return FKind; }
    const uint8_t* Data() const { return FData; }
    bool Has(uint64_t offset, uint64_t count) const { return offset <= FSize && count <= FSize - offset; }
    // Raises unless [offset, offset + count) lies inside the record.
    void Need(uint64_t offset, uint64_t count) const
    {
        if (!Has(offset, count))
            Fail();
    }
    // Raises unless count items of itemSize bytes fit at offset (no overflow).
    void NeedItems(uint64_t offset, uint64_t count, uint64_t itemSize) const
    {
        if (offset > FSize || (itemSize != 0 && count > (FSize - offset) / itemSize))
            Fail();
    }

    uint8_t U8(uint64_t at) const { Need(at, 1); return FData[at]; }
    uint16_t U16(uint64_t at) const
    {
        Need(at, 2);
        return static_cast<uint16_t>(FData[at] | (FData[at + 1] << 8));
    }
    int16_t I16(uint64_t at) const { return static_cast<int16_t>(U16(at)); }
    uint32_t U32(uint64_t at) const
    {
        Need(at, 4);
        return uint32_t(FData[at]) | (uint32_t(FData[at + 1]) << 8) | (uint32_t(FData[at + 2]) << 16) |
               (uint32_t(FData[at + 3]) << 24);
    }
    int32_t I32(uint64_t at) const { return static_cast<int32_t>(U32(at)); }
    float F32(uint64_t at) const;

    [[noreturn]] void Fail() const;

private:
    const uint8_t* FData;
    uint64_t FSize;
    uint64_t FOffset;
    const char* FKind;
};
