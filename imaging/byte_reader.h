#pragma once
// A checked reader of fixed-size fields over a stream, with explicit byte
// order. Every read that the stream cannot satisfy raises, so a header parser
// never works on bytes that were not there.
#include "platform/streams.h"

#include <cstdint>
#include <cstring>
#include <string>

class TByteReader {
public:
    // A short read raises EReadError "Stream read error", or EInvalidGraphic
    // with errorMessage when one is given.
    explicit TByteReader(TStream& stream, std::string errorMessage = {});

    uint8_t U8();
    uint16_t U16LE();
    uint16_t U16BE();
    uint32_t U32LE();
    uint32_t U32BE();
    int16_t I16LE() { return static_cast<int16_t>(U16LE()); }
    int16_t I16BE() { return static_cast<int16_t>(U16BE()); }
    int32_t I32LE() { return static_cast<int32_t>(U32LE()); }
    int32_t I32BE() { return static_cast<int32_t>(U32BE()); }
    uint16_t U16(bool bigEndian) { return bigEndian ? U16BE() : U16LE(); }
    uint32_t U32(bool bigEndian) { return bigEndian ? U32BE() : U32LE(); }

    void Bytes(void* buffer, int64_t count);
    // Moves forward count bytes; raises when that passes the end.
    void Skip(int64_t count);
    // Moves to an absolute position; raises when it lies beyond the end.
    void Seek(int64_t position);
    int64_t Position() { return FStream.Position(); }
    int64_t Size() { return FSize; }
    int64_t Remaining();

    TStream& Stream() { return FStream; }
    [[noreturn]] void Fail() const;

private:
    TStream& FStream;
    int64_t FSize;
    std::string FErrorMessage;
};

// Field access in a buffer the caller has checked the size of.
inline uint16_t LoadU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint16_t LoadU16BE(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t LoadU32LE(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t LoadU32BE(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t LoadU64LE(const uint8_t* p) { return uint64_t(LoadU32LE(p)) | uint64_t(LoadU32LE(p + 4)) << 32; }
inline uint64_t LoadU64BE(const uint8_t* p) { return uint64_t(LoadU32BE(p)) << 32 | uint64_t(LoadU32BE(p + 4)); }
