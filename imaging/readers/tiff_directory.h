#pragma once
// The TIFF container: the file header, one image file directory (IFD) and the
// fetching of tag values of every TIFF field type in the file's byte order.
//
// Entries are held in machine order: Tag, FieldType and Count as numbers;
// ValueOrOffset either the offset of the values or, when they fit in the
// value field (four bytes, eight in a BigTIFF file), the values themselves,
// value k of a type of s bytes in bits 8*s*k .. 8*s*(k+1)-1 (first value at
// the low end, file order kept). Offsets are relative to BasePosition, where
// the TIFF data begin.
//
// BigTIFF (version 43) differs only in its sizes: an 8-byte first-directory
// offset in the header, 8-byte entry counts, 20-byte entries with 8-byte
// counts and value fields, 8-byte next-directory offsets, and the 8-byte
// types LONG8, SLONG8 and IFD8. Every offset is checked against the stream.
#include "imaging/raster_graphic.h"

#include <cstdint>
#include <vector>

class TStream;

enum TTIFFFieldType : uint16_t {
    ftByte = 1,
    ftASCII = 2,
    ftShort = 3,
    ftLong = 4,
    ftRational = 5,
    ftSByte = 6,
    ftUndefined = 7,
    ftSShort = 8,
    ftSLong = 9,
    ftSRational = 10,
    ftFloat = 11,
    ftDouble = 12,
    ftIFD = 13,
    ftLong8 = 16,
    ftSLong8 = 17,
    ftIFD8 = 18,
};

// Tag numbers the reader uses.
namespace tiff {
inline constexpr uint32_t ImageWidth = 256;
inline constexpr uint32_t ImageLength = 257;
inline constexpr uint32_t BitsPerSample = 258;
inline constexpr uint32_t Compression = 259;
inline constexpr uint32_t PhotometricInterpretation = 262;
inline constexpr uint32_t FillOrder = 266;
inline constexpr uint32_t StripOffsets = 273;
inline constexpr uint32_t SamplesPerPixel = 277;
inline constexpr uint32_t RowsPerStrip = 278;
inline constexpr uint32_t StripByteCounts = 279;
inline constexpr uint32_t XResolution = 282;
inline constexpr uint32_t YResolution = 283;
inline constexpr uint32_t PlanarConfiguration = 284;
inline constexpr uint32_t T4Options = 292;
inline constexpr uint32_t T6Options = 293;
inline constexpr uint32_t ResolutionUnit = 296;
inline constexpr uint32_t Predictor = 317;
inline constexpr uint32_t ColorMap = 320;
inline constexpr uint32_t TileWidth = 322;
inline constexpr uint32_t TileLength = 323;
inline constexpr uint32_t TileOffsets = 324;
inline constexpr uint32_t TileByteCounts = 325;
inline constexpr uint32_t ExtraSamples = 338;
inline constexpr uint32_t JPEGTables = 347;
inline constexpr uint32_t YCbCrCoefficients = 529;
inline constexpr uint32_t YCbCrSubSampling = 530;
inline constexpr uint32_t YCbCrPositioning = 531;
// Beyond the 16-bit tag range: never present in a file.
inline constexpr uint32_t JPEGColorMode = 65538;
inline constexpr uint32_t JPEGTablesMode = 65539;
} // namespace tiff

struct TTagEntry {
    uint16_t Tag = 0;
    uint16_t FieldType = 0;
    uint32_t Count = 0;         // BigTIFF counts beyond 32 bits are held as 0xFFFFFFFF
    uint64_t ValueOrOffset = 0;
    uint8_t FieldBytes = 4;     // size of the value field: 4, or 8 in BigTIFF
};

// Bytes of one value of a field type; 0 for unknown types.
uint32_t TypeSize(uint16_t fieldType);
// True when Count values of the entry's type fit in the value field.
bool ValuesInline(const TTagEntry& entry);

// Converts entries read as little-endian numbers from a big-endian file to
// machine order (inline 16-bit values swapped one by one, 32-bit values and
// offsets as a whole, bytes left alone).
void SwapDirectory(std::vector<TTagEntry>& directory);
// Sorts by tag; entries with equal tags keep their file order.
void SortDirectory(std::vector<TTagEntry>& directory);

class TTIFFDirectory {
public:
    std::vector<TTagEntry> Entries;
    bool BigEndian = false;
    bool BigTIFF = false;
    int64_t BasePosition = 0;

    // Reads the IFD at BasePosition + offset: entry count, entries; converts
    // and sorts them. Returns the offset of the next IFD. A directory that
    // runs past the end of the stream raises EReadError.
    uint64_t Read(TStream& stream, uint64_t offset);

    // Binary search; index of the first entry with this tag.
    bool FindTag(uint32_t tag, size_t& index) const;
    const TTagEntry* Find(uint32_t tag) const;

    // Absent: defaultValue. Count other than 1: the raw ValueOrOffset. One
    // BYTE, SHORT, SSHORT, LONG or SLONG: its value; any other type: defaultValue.
    uint32_t GetTagValue(uint32_t tag, uint32_t defaultValue) const;
    // As GetTagValue, with the entry's count (0 when absent).
    uint32_t GetTagValueAndCount(uint32_t tag, uint32_t& count, uint32_t defaultValue) const;
    // One value as a float (integers, RATIONAL, SRATIONAL, FLOAT, DOUBLE); a
    // zero denominator gives 0. Absent or Count other than 1: defaultValue.
    float GetTagFloat(TStream& stream, uint32_t tag, float defaultValue) const;

    // All values: integers as unsigned 32-bit, one-byte types as bytes,
    // rationals as their quotient. Values said to lie outside the stream
    // raise the TIFF invalid-format error.
    TCardinalArray ReadTagIntegers(TStream& stream, uint32_t tag) const;
    TByteArray ReadTagBytes(TStream& stream, uint32_t tag) const;
    TFloatArray ReadTagFloats(TStream& stream, uint32_t tag) const;
    // All values as unsigned 64-bit integers (strip and tile offsets and
    // byte counts, which BigTIFF stores as LONG8).
    std::vector<uint64_t> ReadTagIntegers64(TStream& stream, uint32_t tag) const;

    // The values' bytes in file order (inline values re-serialised), for
    // callers that read a table as a block.
    std::vector<uint8_t> ReadRawValues(TStream& stream, const TTagEntry& entry) const;

private:
    // Decodes value k of the entry from raw bytes in the given byte order.
    static uint32_t IntegerAt(const uint8_t* raw, uint16_t type, uint32_t k, bool bigEndian);
    static uint64_t Integer64At(const uint8_t* raw, uint16_t type, uint32_t k, bool bigEndian);
    static double NumberAt(const uint8_t* raw, uint16_t type, uint32_t k, bool bigEndian);
    bool RawBigEndian(const TTagEntry& entry) const { return BigEndian && !ValuesInline(entry); }
};

// The TIFF reader's name in messages.
inline constexpr const char* TIFFDisplayName = "TIF/TIFF";
// "Cannot load image. Invalid or unexpected TIF/TIFF image format."
[[noreturn]] void RaiseInvalidTIFF();
