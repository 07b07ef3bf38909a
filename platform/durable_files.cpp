#include "platform/durable_files.h"

#include "platform/exceptions.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <unistd.h>
#include <utility>

namespace {

std::mutex ObserverLock;
TDurableObserver Observer;

void Report(TDurableStep step, const std::string& name)
{
    const std::lock_guard<std::mutex> lock(ObserverLock);
    if (Observer)
        Observer(step, name);
}

// EINVAL: the file system cannot sync such a file (some network and
// special file systems); there is nothing more to be had from it.
void Sync(int handle)
{
    while (::fsync(handle) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EINVAL)
            RaiseIOError(errno);
        return;
    }
}

// Opens name read-only, syncs it and closes it, raising on failure.
void SyncByName(const std::string& name, int flags)
{
    const int handle = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (handle < 0)
        RaiseIOError(errno);
    try {
        Sync(handle);
    } catch (...) {
        ::close(handle);
        throw;
    }
    ::close(handle);
}

} // namespace

void SyncFile(int handle, const std::string& fileName)
{
    Sync(handle);
    Report(TDurableStep::SyncFile, fileName);
}

void SyncFile(const std::string& fileName)
{
    SyncByName(fileName, 0);
    Report(TDurableStep::SyncFile, fileName);
}

void SyncFolder(const std::string& folder)
{
    SyncByName(folder, O_DIRECTORY);
    Report(TDurableStep::SyncFolder, folder);
}

std::string FolderOf(const std::string& fileName)
{
    const size_t slash = fileName.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : fileName.substr(0, slash);
}

void RenameDurably(const std::string& from, const std::string& to)
{
    if (std::rename(from.c_str(), to.c_str()) != 0)
        RaiseIOError(errno);
    Report(TDurableStep::Rename, from + " -> " + to);
    SyncFolder(FolderOf(to));
}

void WriteFileSynced(const std::string& fileName, const std::string& text)
{
    int handle = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (handle < 0)
        RaiseIOError(errno);
    try {
        for (size_t written = 0; written < text.size();) {
            const ssize_t n = ::write(handle, text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                RaiseIOError(n < 0 ? errno : ENOSPC);
            written += static_cast<size_t>(n);
        }
        SyncFile(handle, fileName);
        if (::close(std::exchange(handle, -1)) != 0 && errno != EINTR)
            RaiseIOError(errno);
    } catch (...) {
        if (handle >= 0)
            ::close(handle);
        ::unlink(fileName.c_str());
        throw;
    }
}

void ReplaceFileDurably(const std::string& fileName, const std::string& text)
{
    const std::string folder = FolderOf(fileName);
    const size_t slash = fileName.find_last_of('/');
    const std::string stem = folder + "/." + fileName.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
    // A free name, taken with O_EXCL so that no other file is truncated; the
    // file gets the usual permissions, which mkstemp would not give.
    static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string temporary;
    int handle = -1;
    for (int attempt = 0; attempt < 100 && handle < 0; ++attempt) {
        temporary = stem;
        for (int k = 0; k < 6; ++k)
            temporary += Letters[random() % (sizeof Letters - 1)];
        handle = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle < 0 && errno != EEXIST)
            RaiseIOError(errno);
    }
    if (handle < 0)
        RaiseIOError(EEXIST);
    ::close(handle);
    WriteFileSynced(temporary, text);
    try {
        RenameDurably(temporary, fileName);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

TDurableObserver SetDurableObserver(TDurableObserver observer)
{
    const std::lock_guard<std::mutex> lock(ObserverLock);
    return std::exchange(Observer, std::move(observer));
}
