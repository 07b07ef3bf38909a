#pragma once
// TDecoder: the interface of every decompression decoder, and the routine
// that raises their errors.
//
// Calling order for one image: construct (with the scheme's parameters),
// ExpandStart once, Expand once per row, strip or tile, ExpandFinish once,
// destroy. Nothing calls Compress, CompressStart or CompressFinish.
//
// Expand(Source, SourceSize, Target, TargetSize, PackedSize, UnpackedSize)
//
//   Source, SourceSize   the compressed bytes. The decoder never reads at or
//                        beyond Source + SourceSize, whatever the data says.
//   Target, TargetSize   the output buffer. The decoder never writes at or
//                        beyond Target + TargetSize. A run or packet that
//                        would cross the end is cut there.
//   PackedSize           the scheme's input count (compressed bytes to work
//                        through). Decoders that honour it use at most
//                        min(PackedSize, SourceSize) bytes; the others
//                        (Targa, PCX, SGI, CUT) ignore it and are bounded by
//                        SourceSize alone. The Dr. Halo reader passes 0 here
//                        and the rest of its buffer as SourceSize.
//   UnpackedSize         the scheme's output count: pixels for the Targa
//                        decoder, bytes for all others. Decoders that honour
//                        it produce at most that much (and never more than
//                        TargetSize bytes); SGI, CUT, PSP and RLA decode
//                        until their end code or the end of the packed data
//                        and are bounded by TargetSize alone.
//
//   The result tells how many source bytes were consumed and how many target
//   bytes were produced, counted from the pointers passed in. A reader that
//   walks a cursor through a buffer adds Consumed to it (or, for the decoders
//   that advance the cursor themselves, just keeps the advanced pointer) and
//   takes Consumed off its remaining count.
//
//   Besides the result, some decoders advance the caller's pointers, as
//   their header says: the Targa and Dr. Halo decoders leave Source after the
//   last byte they read (so that consecutive calls walk consecutive rows);
//   the Deflate decoder advances both Source and Target; all others leave
//   both pointers unchanged.
//
// Errors are raised as EGraphicCompression (platform/exceptions.h). The
// run-length, CCITT, LZW and ThunderScan decoders raise nothing (except the
// two-dimensional CCITT decoders for uncompressed mode, which they do not
// decode): bad data decode to something, never to a read or write out of
// bounds.
#include "platform/exceptions.h"

#include <cstddef>
#include <cstdint>

// What one Expand call did, counted in bytes from the pointers passed in.
struct TExpandResult {
    size_t Consumed = 0; // source bytes read
    size_t Produced = 0; // target bytes written (for the CCITT decoders,
                         // which clear the whole target first: the bytes up
                         // to the end of the last decoded row)
};

class TDecoder {
public:
    TDecoder() = default;
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;

    // The operations in the order of their slots in the interface.
    virtual TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                 size_t TargetSize, size_t PackedSize, size_t UnpackedSize) = 0;
    virtual void ExpandFinish() {}
    virtual void ExpandStart() {}
    // Encoding has no caller; every decoder of this program stores nothing.
    virtual void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                          uint32_t& BytesStored) = 0;
    virtual void CompressStart() {}
    virtual void CompressFinish() {}

    virtual ~TDecoder() = default;
};

// Raises EGraphicCompression with the given text; the one raise routine of
// all decoders.
[[noreturn]] void CompressionError(const char* message);
