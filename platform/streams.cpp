#include "platform/streams.h"

#include "platform/exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int64_t TStream::Size()
{
    const int64_t position = Seek(0, soCurrent);
    const int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

int64_t TStream::Remaining()
{
    const int64_t rest = Size() - Position();
    return rest > 0 ? rest : 0;
}

void TStream::ReadBuffer(void* buffer, int64_t count)
{
    if (count <= 0)
        return;
    if (Read(buffer, count) != count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count)
{
    if (count <= 0)
        return;
    if (Write(buffer, count) != count)
        throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    // A memory stream makes room for all of it at once rather than growing
    // step by step, each step copying what it holds and touching new pages.
    if (auto* memory = dynamic_cast<TMemoryStream*>(this); memory && count > 0)
        memory->Reserve(static_cast<size_t>(Position() + std::min(count, source.Remaining())));
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
    int64_t left = count;
    while (left > 0) {
        const int64_t chunk = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
        source.ReadBuffer(buffer.data(), chunk);
        WriteBuffer(buffer.data(), chunk);
        left -= chunk;
    }
    return count;
}

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : FFileName(fileName)
{
    if (mode == fmCreate)
        FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    else
        FHandle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (FHandle < 0) {
        const int error = errno;
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(error));
    }
    if (mode == fmOpenRead) {
        FReading = true;
        struct stat info {};
        if (::fstat(FHandle, &info) == 0 && S_ISDIR(info.st_mode)) {
            ::close(FHandle);
            FHandle = -1;
            throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(EISDIR));
        }
    }
}

TFileStream::~TFileStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

namespace {

// Reads until count bytes, the end of the file or an error, in pieces of at
// most 1 GB, going on after an interrupted call; read(done, size) reads the
// piece that starts done bytes in.
template <class TRead>
int64_t ReadFully(int64_t count, TRead read)
{
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = read(done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

} // namespace

int64_t TFileStream::ReadFile(uint8_t* buffer, int64_t count, int64_t offset)
{
    return ReadFully(count, [&](int64_t done, size_t size) {
        return ::pread(FHandle, buffer + done, size, static_cast<off_t>(offset + done));
    });
}

int64_t TFileStream::Read(void* buffer, int64_t count)
{
    int64_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    if (FReading) {
        while (done < count) {
            if (FPosition >= FBufferAt && FPosition < FBufferAt + FBufferLength) {
                const int64_t n = std::min(count - done, FBufferAt + FBufferLength - FPosition);
                std::memcpy(out + done, FBuffer.data() + (FPosition - FBufferAt), static_cast<size_t>(n));
                done += n;
                FPosition += n;
                continue;
            }
            if (count - done >= ReadAhead) {
                const int64_t n = ReadFile(out + done, count - done, FPosition);
                done += n;
                FPosition += n;
                break;
            }
            FBuffer.resize(static_cast<size_t>(ReadAhead));
            FBufferAt = FPosition;
            FBufferLength = ReadFile(FBuffer.data(), ReadAhead, FPosition);
            if (FBufferLength <= 0)
                break;
        }
        return done;
    }
    return ReadFully(count, [&](int64_t done, size_t size) { return ::read(FHandle, out + done, size); });
}

int64_t TFileStream::Write(const void* buffer, int64_t count)
{
    int64_t done = 0;
    const auto* in = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::write(FHandle, in + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin)
{
    if (FReading) {
        const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? FPosition : Size();
        // A position before the start is refused, as the system refuses it.
        if (base + offset >= 0)
            FPosition = base + offset;
        return FPosition;
    }
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t result = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    if (result < 0)
        return ::lseek(FHandle, 0, SEEK_CUR);
    return result;
}

int64_t TFileStream::Size()
{
    struct stat info {};
    if (::fstat(FHandle, &info) == 0)
        return info.st_size;
    return TStream::Size();
}

int64_t TMemoryStream::Read(void* buffer, int64_t count)
{
    if (count <= 0 || FPosition >= FSize)
        return 0;
    const size_t n = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(FSize - FPosition)));
    std::memcpy(buffer, FData + FPosition, n);
    FPosition += n;
    return static_cast<int64_t>(n);
}

void TMemoryStream::Reserve(size_t size)
{
    if (!FIsView && size > FOwned.size()) {
        FOwned.resize(size);
        FData = FOwned.data();
    }
}

void TMemoryStream::Grow(size_t needed)
{
    if (needed > FOwned.size())
        FOwned.resize(std::max(needed, FOwned.size() + FOwned.size() / 2));
    FData = FOwned.data();
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count)
{
    if (FIsView)
        throw EWriteError("Stream write error");
    if (count <= 0)
        return 0;
    const size_t end = FPosition + static_cast<size_t>(count);
    Grow(end);
    std::memcpy(FOwned.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    FSize = std::max(FSize, end);
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin)
{
    int64_t base = 0;
    if (origin == soCurrent)
        base = static_cast<int64_t>(FPosition);
    else if (origin == soEnd)
        base = static_cast<int64_t>(FSize);
    const int64_t target = base + offset;
    if (target >= 0)
        FPosition = static_cast<size_t>(target);
    return static_cast<int64_t>(FPosition);
}

void TMemoryStream::SetView(const void* data, size_t size)
{
    FOwned.clear();
    FOwned.shrink_to_fit();
    FData = static_cast<const uint8_t*>(data);
    FSize = size;
    FPosition = 0;
    FIsView = true;
}

void TMemoryStream::LoadFromStream(TStream& source)
{
    Clear();
    source.SetPosition(0);
    const int64_t size = source.Size();
    FOwned.resize(static_cast<size_t>(size));
    source.ReadBuffer(FOwned.data(), size);
    FData = FOwned.data();
    FSize = FOwned.size();
}

void TMemoryStream::LoadFromFile(const std::string& fileName)
{
    TFileStream file(fileName, fmOpenRead);
    LoadFromStream(file);
}

void TMemoryStream::Clear()
{
    FOwned.clear();
    FData = nullptr;
    FSize = 0;
    FPosition = 0;
    FIsView = false;
}

std::vector<uint8_t> ReadWholeFile(const std::string& fileName)
{
    const int handle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0)
        RaiseIOError(errno);
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(handle, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(handle);
            RaiseIOError(error);
        }
        if (n == 0)
            break;
        data.insert(data.end(), chunk, chunk + n);
    }
    ::close(handle);
    return data;
}
