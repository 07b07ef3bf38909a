#include "platform/durable_files.h"

#include "platform/exceptions.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
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

TDurableObserver SetDurableObserver(TDurableObserver observer)
{
    const std::lock_guard<std::mutex> lock(ObserverLock);
    return std::exchange(Observer, std::move(observer));
}
