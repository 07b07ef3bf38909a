#include "tools/cli/cli_support.h"

#include "platform/durable_files.h"
#include "platform/exceptions.h"
#include "platform/picture.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The temporary file being written, for the signal handler: a stopped
// command leaves nothing behind. One output file is open at a time.
char PendingTemp[4096];
volatile std::sig_atomic_t PendingSet = 0;

extern "C" void RemovePendingAndStop(int signal)
{
    if (PendingSet)
        ::unlink(PendingTemp);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void SetPending(const std::string& name)
{
    PendingSet = 0;
    if (name.empty() || name.size() >= sizeof PendingTemp)
        return;
    std::memcpy(PendingTemp, name.c_str(), name.size() + 1);
    PendingSet = 1;
    static const bool installed = [] {
        for (const int signal : {SIGINT, SIGTERM}) {
            struct sigaction action {};
            action.sa_handler = RemovePendingAndStop;
            sigemptyset(&action.sa_mask);
            ::sigaction(signal, &action, nullptr);
        }
        return true;
    }();
    (void)installed;
}

} // namespace

int RunReportingErrors(const std::function<int()>& body)
{
    try {
        return body();
    } catch (const EUsage& e) {
        std::cout.flush();
        std::cerr << WithFullStop(e.what()) << std::endl;
        return ExitUsage;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << WithFullStop(e.what()) << std::endl;
    } catch (...) {
        std::cerr << "Unknown error." << std::endl;
    }
    return 1;
}

void RaiseUsage(const std::string& usage, const std::string& problem)
{
    throw EUsage((problem.empty() ? "" : "pinwright-cli: " + problem + "\n") + "Usage: " + usage);
}

std::string LowerExtension(const std::string& fileName)
{
    std::string extension = PictureExtension(fileName);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

TOutputFile::TOutputFile(const std::string& fileName) : FFileName(fileName)
{
    const size_t slash = fileName.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    // The name is made known to the signal handler before the file exists
    // (any thread may take the signal, so blocking it here would not do), so
    // that a command stopped at any moment leaves nothing behind. A name that
    // is taken is drawn again, as mkstemp does, and never handed to the
    // handler. The file gets the usual permissions.
    static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    int handle = -1, openError = EEXIST;
    for (int attempt = 0; attempt < 100 && handle < 0 && openError == EEXIST; ++attempt) {
        FTempName = folder + "." + name + ".";
        for (int k = 0; k < 6; ++k)
            FTempName += Letters[random() % (sizeof Letters - 1)];
        if (::access(FTempName.c_str(), F_OK) == 0)
            continue;
        SetPending(FTempName);
        handle = ::open(FTempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        openError = errno;
        if (handle < 0)
            SetPending("");
    }
    if (handle < 0) {
        FTempName.clear();
        throw EInOutError("Cannot create file \"" + fileName + "\". " + std::strerror(openError));
    }
    FFile = ::fdopen(handle, "wb");
    if (!FFile) {
        const int error = errno;
        ::close(handle);
        ::unlink(FTempName.c_str());
        FTempName.clear();
        SetPending("");
        RaiseIOError(error);
    }
}

TOutputFile::~TOutputFile()
{
    if (FFile)
        std::fclose(FFile);
    if (!FTempName.empty())
        ::unlink(FTempName.c_str());
    SetPending("");
}

int TOutputFile::TryWrite(const void* data, size_t size)
{
    if (size == 0 || std::fwrite(data, 1, size, FFile) == size)
        return 0;
    return errno ? errno : EIO;
}

void TOutputFile::Write(const void* data, size_t size)
{
    if (const int error = TryWrite(data, size))
        RaiseIOError(error);
}

void TOutputFile::Commit()
{
    FILE* file = FFile;
    FFile = nullptr;
    try {
        if (std::fflush(file) != 0)
            RaiseIOError(errno);
        SyncFile(::fileno(file), FTempName);
    } catch (...) {
        std::fclose(file);
        throw;
    }
    if (std::fclose(file) != 0)
        RaiseIOError(errno);
    RenameDurably(FTempName, FFileName);
    FTempName.clear();
    SetPending("");
}
