#pragma once
// The run-length schemes of the readers: Targa, PackBits (TIFF and
// Photoshop), PCX, SGI, Dr. Halo CUT, Paint Shop Pro and RLA.
//
// A run repeats one value, a literal copies values from the source; the
// count comes from a control byte (or word) in front of them. The contract
// of Expand is in decoder.h; per scheme:
//
// | decoder   | PackedSize | UnpackedSize | ends at                     | advances |
// |-----------|------------|--------------|-----------------------------|----------|
// | Targa     | ignored    | pixels       | UnpackedSize pixels         | Source   |
// | PackBits  | bytes      | bytes        | either size used up         | nothing  |
// | PCX       | ignored    | bytes        | UnpackedSize bytes          | nothing  |
// | SGI       | ignored    | ignored      | a control with count 0      | nothing  |
// | CUT       | ignored    | ignored      | a control byte 0 (row end)  | Source   |
// | PSP       | bytes      | ignored      | PackedSize bytes consumed   | nothing  |
// | RLA       | bytes      | ignored      | PackedSize bytes consumed   | nothing  |
//
// Every decoder also stops at the end of the source (SourceSize) and never
// writes past the target (TargetSize, and UnpackedSize where honoured).
//
// Packets that reach past the end of the output: the Targa decoder carries
// the rest of such a packet over to the next call (Targa writers let packets
// cross row ends, and the Targa reader expands one row per call); every
// other scheme cuts the packet at the end and drops the rest, then goes on
// reading packets without writing until its own end condition, so that
// Consumed (and the CUT decoder's cursor) still lands after the row's data.
#include "imaging/compression/decoder.h"

class TTargaRLEDecoder : public TDecoder {
public:
    // ColorDepth: bits per pixel, 8, 15, 16, 24 or 32; any other depth
    // decodes nothing.
    explicit TTargaRLEDecoder(int ColorDepth);

    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    // Forgets a packet carried over from an earlier call.
    void ExpandStart() override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;

private:
    int FColorDepth;
    size_t FPixelSize;
    // The part of a packet that did not fit into the previous call's output.
    size_t FPendingPixels = 0;
    bool FPendingRun = false;
    uint8_t FRunPixel[4] = {};
};

class TPackbitsRLEDecoder : public TDecoder {
public:
    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;
};

// PackBits data decoded a piece at a time, for a reader that places each row
// of a strip apart: the pieces put together are what one Expand over all of
// the data gives, a packet that crosses the end of a piece going on in the
// next.
class TPackBitsReader {
public:
    TPackBitsReader(const uint8_t* source, size_t size);
    // Decodes the next count bytes into target; returns how many were
    // written, fewer only where the data end.
    size_t Read(uint8_t* target, size_t count);
    // Bytes read from start, a literal that was cut counted whole.
    size_t Consumed(const uint8_t* start) const { return static_cast<size_t>(FPos - start) + FLiteral; }

private:
    const uint8_t* FPos;
    const uint8_t* FEnd;
    size_t FLiteral = 0; // bytes of a literal still to copy
    size_t FRun = 0;     // bytes of a run still to write
    uint8_t FValue = 0;
};

class TPCXRLEDecoder : public TDecoder {
public:
    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;
};

class TSGIRLEDecoder : public TDecoder {
public:
    // SampleSize: 8 or 16 bits. 16-bit samples stay in file (big-endian)
    // byte order; the SGI reader swaps them through the colour manager.
    explicit TSGIRLEDecoder(uint8_t SampleSize);

    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;

private:
    uint8_t FSampleSize;
};

// Source points at an encoded row: its 2-byte byte count, packets, a 0 byte.
// Expand leaves Source after that 0 byte, so consecutive calls walk
// consecutive rows.
class TCUTRLEDecoder : public TDecoder {
public:
    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;
};

class TPSPRLEDecoder : public TDecoder {
public:
    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;
};

class TRLADecoder : public TDecoder {
public:
    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;
};
