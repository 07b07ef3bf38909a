#include "georef/converter.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

std::string ProgramDir()
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return ".";
    return exe.parent_path().string();
}

namespace {

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (!dir.empty() && dir.back() == '/')
        return dir + name;
    return dir + "/" + name;
}

bool IsProgram(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string FindConverter(const std::string& name, const std::string& startDir)
{
    const std::string inStartDir = JoinPath(startDir, name);
    if (IsProgram(inStartDir))
        return inStartDir;
    const std::string besideProgram = JoinPath(ProgramDir(), name);
    if (IsProgram(besideProgram))
        return besideProgram;
#ifdef PW_CONVERTER_DIR_FROM_PROGRAM
    // Installed, the converters live in the program folder of their own.
    const std::string installed = JoinPath(ProgramDir() + "/" + PW_CONVERTER_DIR_FROM_PROGRAM, name);
    if (IsProgram(installed))
        return std::filesystem::path(installed).lexically_normal().string();
#endif
    const char* const path = std::getenv("PATH");
    for (std::string_view folders = path ? path : ""; !folders.empty();) {
        const size_t colon = folders.find(':');
        const std::string folder(folders.substr(0, colon));
        folders.remove_prefix(colon == std::string_view::npos ? folders.size() : colon + 1);
        if (!folder.empty() && IsProgram(JoinPath(folder, name)))
            return JoinPath(folder, name);
    }
    return inStartDir;
}

namespace {

// Whatever stderr a converter writes goes to a file in memory, so that it
// never stalls on a full pipe while nobody reads; only its end is kept.
constexpr off_t KeptErrorOutput = 64 * 1024;

class TDescriptor {
public:
    explicit TDescriptor(int fd) : FFd(fd) {}
    ~TDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

// posix_spawn's file actions and attributes, destroyed however the launch ends.
template <typename T, int (*Init)(T*), int (*Destroy)(T*)>
class TSpawnSetting {
public:
    TSpawnSetting() { Init(&FValue); }
    ~TSpawnSetting() { Destroy(&FValue); }
    TSpawnSetting(const TSpawnSetting&) = delete;
    TSpawnSetting& operator=(const TSpawnSetting&) = delete;
    T* Get() { return &FValue; }

private:
    T FValue;
};
using TSpawnActions =
    TSpawnSetting<posix_spawn_file_actions_t, posix_spawn_file_actions_init, posix_spawn_file_actions_destroy>;
using TSpawnAttributes = TSpawnSetting<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

// The converter starts with no signal blocked and with SIGPIPE at its
// default, whatever this process does with them; signals ignored on purpose
// (nohup) stay ignored.
void ResetSignals(posix_spawnattr_t* attributes)
{
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(attributes, &none);
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    posix_spawnattr_setsigdefault(attributes, &pipe);
    posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

enum class TChildState { Running, Ended, Stopped };

TChildState Reap(pid_t pid, int& status, int options)
{
    for (;;) {
        const pid_t reaped = ::waitpid(pid, &status, options);
        if (reaped == pid)
            return TChildState::Ended;
        if (reaped == 0)
            return TChildState::Running;
        if (errno != EINTR)
            return TChildState::Stopped;
    }
}

std::string ErrorOutputEnd(int fd)
{
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size <= 0)
        return "";
    const off_t from = size > KeptErrorOutput ? size - KeptErrorOutput : 0;
    std::string text(static_cast<size_t>(size - from), '\0');
    const ssize_t read = ::pread(fd, text.data(), text.size(), from);
    text.resize(read > 0 ? static_cast<size_t>(read) : 0);
    return text;
}

} // namespace

TConverterResult RunConverterProcess(const std::string& path, const std::vector<std::string>& arguments,
                                     const TConverterWait& whileWaiting)
{
    TConverterResult result;
    const TDescriptor errors(::memfd_create("converter-stderr", MFD_CLOEXEC));
    if (errors.Get() < 0)
        return result;
    TSpawnActions actions;
    posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(actions.Get(), errors.Get(), STDERR_FILENO);
    TSpawnAttributes attributes;
    ResetSignals(attributes.Get());

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, path.c_str(), actions.Get(), attributes.Get(), argv.data(), environ) != 0)
        return result;
    result.Started = true;

    int status = 0;
    TChildState state = TChildState::Running;
    if (!whileWaiting) {
        state = Reap(pid, status, 0);
    } else {
        // The converter's end is looked for between the caller's slices.
        constexpr std::chrono::milliseconds Slice(20);
        while ((state = Reap(pid, status, WNOHANG)) == TChildState::Running) {
            if (!whileWaiting(Slice)) {
                ::kill(pid, SIGKILL);
                Reap(pid, status, 0);
                state = TChildState::Stopped;
                break;
            }
        }
    }
    result.ErrorOutput = ErrorOutputEnd(errors.Get());
    if (state != TChildState::Ended)
        return result;
    result.Finished = WIFEXITED(status);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
