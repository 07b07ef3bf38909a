#pragma once
// The TIFF reader's strips and tiles on several threads: where their stored
// bytes come from, for whichever thread decodes them. The decoding itself is
// TTIFFGraphic's (tiff_graphic.cpp); how the blocks are shared out, reported
// in order and undone after a failure is in tiff_strip_runner.cpp.
#include <cstddef>
#include <cstdint>
#include <mutex>

class TStream;

// A memory stream's bytes are read where they lie, by any thread at once;
// any other stream is read by one thread at a time.
class TTIFFBlockSource {
public:
    explicit TTIFFBlockSource(TStream& stream);
    TTIFFBlockSource(const TTIFFBlockSource&) = delete;
    TTIFFBlockSource& operator=(const TTIFFBlockSource&) = delete;

    // The stream's bytes when it is a memory stream, else null.
    const uint8_t* Memory() const { return FMemory; }
    int64_t Size() const { return FSize; }
    // Reads up to count bytes from position on into buffer; returns how many
    // there were (fewer at the stream's end, none for a position beyond it).
    size_t ReadAt(int64_t position, uint8_t* buffer, size_t count);

private:
    TStream& FStream;
    const uint8_t* FMemory = nullptr;
    int64_t FSize = 0;
    std::mutex FLock;
};
