#pragma once
// Byte streams: the abstract TStream, a file stream over POSIX descriptors and
// an in-memory stream (owning, or a read-only view of memory held elsewhere).
#include "platform/large_memory.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many were read (short at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes count bytes; returns how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Moves the position and returns the new one.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    virtual int64_t Size();
    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t position) { Seek(position, soBeginning); }
    // Bytes between the position and the end (never negative).
    int64_t Remaining();

    // Reads exactly count bytes or raises EReadError "Stream read error".
    void ReadBuffer(void* buffer, int64_t count);
    // Writes exactly count bytes or raises EWriteError "Stream write error".
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes (all remaining bytes when count is 0) from source.
    int64_t CopyFrom(TStream& source, int64_t count);
};

enum TFileMode { fmOpenRead, fmCreate };

class TFileStream : public TStream {
public:
    // Raises EFOpenError with "Cannot open file \"NAME\". TEXT" when it fails.
    TFileStream(const std::string& fileName, TFileMode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    const std::string& FileName() const { return FFileName; }

private:
    // A file opened for reading is read through a read-ahead buffer, so that
    // readers taking it in small pieces (a chunk header, its data, its
    // checksum) cost one system call per buffer, not several per piece, and
    // asking for the position costs none. Reads of a buffer's size or more
    // go straight to the caller's memory.
    static constexpr int64_t ReadAhead = 64 * 1024;
    int64_t ReadFile(uint8_t* buffer, int64_t count, int64_t offset);

    std::string FFileName;
    int FHandle = -1;
    bool FReading = false;
    int64_t FPosition = 0;
    std::vector<uint8_t> FBuffer;
    int64_t FBufferAt = 0;
    int64_t FBufferLength = 0;
};

// Memory stream. Owns its bytes, or (SetView) reads memory the caller keeps
// alive; a view is read-only and refuses writes.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    TMemoryStream(const void* data, size_t size) { SetView(data, size); }

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(FSize); }

    void SetView(const void* data, size_t size);
    // Makes room for size bytes in all without changing the size (an owning
    // stream only; a view is left as it is).
    void Reserve(size_t size);
    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    void Clear();
    const uint8_t* Memory() const { return FData; }

private:
    void Grow(size_t needed);

    // Mapped in huge pages when large: a file copied in costs a few page
    // faults rather than one per 4 KB.
    std::vector<uint8_t, pwmemory::TLargeAllocator<uint8_t>> FOwned;
    const uint8_t* FData = nullptr;
    size_t FSize = 0;
    size_t FPosition = 0;
    bool FIsView = false;
};

// Reads a whole file into memory; raises EInOutError on failure.
std::vector<uint8_t> ReadWholeFile(const std::string& fileName);
