// pinwright-cli georef --batch LIST.csv [--jobs N] [--resume] [--mosaic FILE.vrt]
// Every sheet of a CSV list runs as its own `pinwright-cli georef` process,
// N at a time, so that one sheet's failure (or crash) touches no other. The
// list names its columns after the georef options, so options the single
// command gains work here without this file knowing them.
//
// A sheet writes into a private folder beside its target; only when the
// process has succeeded are its files moved to their final names, so two
// sheets sharing a folder never meet in the pipeline's temporary files and
// a failed sheet leaves nothing behind. Successes are kept in LIST.done for
// --resume, each once its files are on the disk.
#include "georef/mosaic.h"
#include "platform/durable_files.h"
#include "platform/exceptions.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/command_line.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int MaxJobs = 256;

struct TSheet {
    int Line = 0;
    std::string Target;                 // the out cell as written
    std::vector<std::string> Arguments; // georef IMAGE --OPTION VALUE ..., without --out
    std::string Problem;                // why the row cannot run at all
    std::string Key;                    // identifies the sheet in LIST.done
};

// One CSV record of one line: fields separated by commas, a field in double
// quotes may hold commas and "" for a quote; blanks around an unquoted field
// are dropped.
bool SplitCsvLine(const std::string& line, std::vector<std::string>& fields)
{
    fields.clear();
    size_t i = 0;
    const size_t n = line.size();
    for (;;) {
        while (i < n && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::string field;
        if (i < n && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= n)
                    return false;
                if (line[i] == '"') {
                    if (i + 1 < n && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            while (i < n && (line[i] == ' ' || line[i] == '\t'))
                ++i;
            if (i < n && line[i] != ',')
                return false;
        } else {
            while (i < n && line[i] != ',')
                field += line[i++];
            field.erase(field.find_last_not_of(" \t") + 1);
        }
        fields.push_back(std::move(field));
        if (i >= n)
            return true;
        ++i; // the comma
    }
}

std::string Hex64(uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// FNV-1a over the current folder and the full command: a sheet counts as
// done only for the very same command.
std::string SheetKey(const std::vector<std::string>& parts)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const std::string& part : parts) {
        for (const unsigned char c : part + '\0') {
            hash ^= c;
            hash *= 0x100000001b3ull;
        }
    }
    return Hex64(hash);
}

bool ValidColumnName(const std::string& name)
{
    if (name.empty() || name[0] < 'a' || name[0] > 'z')
        return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

std::vector<TSheet> ReadSheets(std::istream& in, const std::string& listName)
{
    std::string line;
    std::vector<std::string> header;
    int lineNumber = 0;
    while (header.empty() && std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        if (!SplitCsvLine(line, header))
            throw Exception(listName + " line " + std::to_string(lineNumber) + ": unbalanced double quotes");
    }
    if (header.empty())
        throw Exception(listName + " has no header line");
    int image = -1, out = -1;
    std::set<std::string> seen;
    for (size_t c = 0; c < header.size(); ++c) {
        const std::string& name = header[c];
        if (!ValidColumnName(name) || name == "batch" || name == "jobs" || name == "resume" || name == "help")
            throw Exception(listName + ": '" + name + "' cannot name a column (image, out, or a georef option "
                                                     "without its dashes)");
        if (!seen.insert(name).second)
            throw Exception(listName + ": the column '" + name + "' appears twice");
        if (name == "image")
            image = static_cast<int>(c);
        if (name == "out")
            out = static_cast<int>(c);
    }
    if (image < 0 || out < 0)
        throw Exception(listName + ": the header needs the columns image and out");

    const std::string cwd = fs::current_path().string();
    std::vector<TSheet> sheets;
    std::vector<std::string> fields;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        TSheet sheet;
        sheet.Line = lineNumber;
        if (!SplitCsvLine(line, fields)) {
            sheet.Problem = "unbalanced double quotes";
        } else if (fields.size() != header.size()) {
            sheet.Problem = std::to_string(fields.size()) + " fields where the header has " +
                            std::to_string(header.size());
        } else {
            sheet.Target = fields[out];
            if (fields[image].empty() || fields[out].empty())
                sheet.Problem = "the sheet needs an image and an out";
            sheet.Arguments = {"georef", fields[image]};
            for (size_t c = 0; c < header.size(); ++c) {
                const std::string& cell = fields[c];
                if (static_cast<int>(c) == image || static_cast<int>(c) == out || cell.empty() || cell == "no")
                    continue;
                sheet.Arguments.push_back("--" + header[c]);
                if (cell != "yes")
                    sheet.Arguments.push_back(cell);
            }
            std::vector<std::string> keyParts = sheet.Arguments;
            keyParts.insert(keyParts.begin(), cwd);
            keyParts.push_back(sheet.Target);
            sheet.Key = SheetKey(keyParts);
        }
        sheets.push_back(std::move(sheet));
    }
    return sheets;
}

// LIST.done: one line per sheet done, its key and the files it made.
class TJournal {
public:
    TJournal(const std::string& fileName, bool resume)
    {
        if (fileName.empty())
            return;
        if (resume) {
            std::ifstream in(fileName);
            std::string line;
            while (std::getline(in, line)) {
                std::vector<std::string> parts;
                std::istringstream fields(line);
                for (std::string part; std::getline(fields, part, '\t');)
                    parts.push_back(part);
                if (parts.size() >= 2)
                    FDone[parts[0]] = std::vector<std::string>(parts.begin() + 1, parts.end());
            }
        }
        FFile = std::fopen(fileName.c_str(), resume ? "a" : "w");
        if (!FFile) {
            std::cerr << "pinwright-cli: cannot keep " << fileName << " (" << WithFullStop(IOErrorText(errno))
                      << "); --resume will redo every sheet" << std::endl;
            return;
        }
        FFileName = fileName;
        Sync(true); // a new journal's entry goes into its folder
    }
    ~TJournal()
    {
        if (FFile)
            std::fclose(FFile);
    }
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // Done before, and every file it made is still there.
    bool Done(const std::string& key) const
    {
        const auto found = FDone.find(key);
        return found != FDone.end() &&
               std::all_of(found->second.begin(), found->second.end(), [](const std::string& file) {
                   std::error_code error;
                   return fs::is_regular_file(file, error);
               });
    }

    void Record(const std::string& key, const std::vector<std::string>& files)
    {
        if (!FFile)
            return;
        std::string line = key;
        for (const std::string& file : files) {
            if (file.find_first_of("\t\n") != std::string::npos)
                return; // such a sheet is simply redone
            line += '\t' + file;
        }
        line += '\n';
        std::fputs(line.c_str(), FFile);
        Sync(false);
    }

private:
    // A journal that cannot be written is given up with a warning: the sheets
    // are redone by --resume, which costs time but loses nothing.
    void Sync(bool folderToo)
    {
        try {
            if (std::fflush(FFile) != 0)
                RaiseIOError(errno);
            SyncFile(::fileno(FFile), FFileName);
            if (folderToo)
                SyncFolder(FolderOf(FFileName));
        } catch (const std::exception& e) {
            std::cerr << "pinwright-cli: cannot keep " << FFileName << " (" << WithFullStop(e.what())
                      << "); --resume will redo sheets" << std::endl;
            std::fclose(FFile);
            FFile = nullptr;
        }
    }

    std::FILE* FFile = nullptr;
    std::string FFileName;
    std::map<std::string, std::vector<std::string>> FDone;
};

// The stop signals and the ends of the sheets' processes arrive on one
// descriptor: they are blocked and read from a signal file descriptor, so
// that a stop coming at any moment, even just before the wait for a sheet,
// ends that wait at once. The sheets' processes start with the signal mask
// the batch had.
class TBatchSignals {
public:
    TBatchSignals()
    {
        // A stop is taken even where the batch was started with SIGINT
        // ignored (a background job); an ignored hang-up (nohup) stays
        // ignored. The sheets' ends must not be reaped by the system.
        for (const int signal : {SIGINT, SIGTERM, SIGCHLD})
            std::signal(signal, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD})
            sigaddset(&set, signal);
        ::sigprocmask(SIG_BLOCK, &set, &FOriginalMask);
        FHandle = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
        if (FHandle < 0) {
            const int error = errno;
            ::sigprocmask(SIG_SETMASK, &FOriginalMask, nullptr);
            throw Exception(std::string("Cannot wait for stop signals: ") + std::strerror(error));
        }
    }
    ~TBatchSignals()
    {
        // A stop that came after the last wait is not acted on any more.
        Drain();
        ::close(FHandle);
        ::sigprocmask(SIG_SETMASK, &FOriginalMask, nullptr);
    }
    TBatchSignals(const TBatchSignals&) = delete;
    TBatchSignals& operator=(const TBatchSignals&) = delete;

    const sigset_t& OriginalMask() const { return FOriginalMask; }

    // Waits for the next signals; true when a stop was among them, false
    // when only sheets ended.
    bool Wait()
    {
        pollfd ready{FHandle, POLLIN, 0};
        while (::poll(&ready, 1, -1) < 0)
            if (errno != EINTR)
                throw Exception(std::string("Waiting for the sheets failed: ") + std::strerror(errno));
        return Drain();
    }

    // Reads the signals pending without waiting; true when a stop was among them.
    bool Drain()
    {
        bool stop = false;
        signalfd_siginfo info;
        while (::read(FHandle, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            stop = stop || info.ssi_signo != SIGCHLD;
        return stop;
    }

private:
    int FHandle = -1;
    sigset_t FOriginalMask;
};

struct TRunning {
    size_t Sheet = 0;
    std::string TargetFolder; // absolute, with a trailing "/"
    std::string Staging;      // the sheet's private folder, with a trailing "/"; "" when it writes directly
    std::FILE* Errors = nullptr;
};

std::string ReadAll(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, got);
    return text;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return text;
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// What a failed georef process said: its last line, or for a usage error
// every line (the problem and the usage).
std::string FailureMessage(const std::string& errors, int status)
{
    std::vector<std::string> lines;
    std::istringstream in(errors);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    if (WIFSIGNALED(status))
        return "the georef process ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    if (lines.empty())
        return "the georef process failed with exit status " + std::to_string(WEXITSTATUS(status));
    if (WEXITSTATUS(status) == ExitUsage) {
        std::string joined;
        for (const std::string& line : lines)
            joined += (joined.empty() ? "" : " ") + line;
        return joined;
    }
    return lines.back();
}

class TBatch {
public:
    TBatch(std::vector<TSheet> sheets, int jobs, TJournal& journal, bool resume, TBatchSignals& signals)
        : FSheets(std::move(sheets)), FJobs(jobs), FJournal(journal), FResume(resume), FSignals(signals),
          FProgress(::isatty(STDERR_FILENO) == 1)
    {
        std::error_code error;
        FSelf = fs::read_symlink("/proc/self/exe", error).string();
        if (error)
            throw Exception("Cannot find the pinwright-cli program itself");
    }

    int Run()
    {
        size_t next = 0;
        ShowProgress();
        bool stopRequested = false;
        while (next < FSheets.size() || !FRunning.empty()) {
            // A stop that came while the list was read, or while sheets were
            // started or reported, is seen before more are started.
            stopRequested = FSignals.Drain() || stopRequested;
            while (!stopRequested && next < FSheets.size() && FRunning.size() < static_cast<size_t>(FJobs))
                Start(next++);
            if (stopRequested && !FStopping) {
                // The sheets running are ended (and reported as failed), the
                // others are not begun.
                FStopping = true;
                for (const auto& [pid, running] : FRunning)
                    ::kill(-pid, SIGTERM);
                for (; next < FSheets.size(); ++next)
                    Report(next, "failed: stopped before it began");
            }
            FinishEnded();
            // A sheet that ends after FinishEnded leaves its signal pending,
            // so the wait returns at once.
            if (!FRunning.empty() && FSignals.Wait())
                stopRequested = true;
        }
        ClearProgress();
        std::cout << FSheets.size() << " sheets: " << FOk << " ok, " << FFailed << " failed, " << FSkipped
                  << " skipped" << std::endl;
        return FFailed > 0 ? 1 : 0;
    }

private:
    // Reaps every sheet's process that has ended.
    void FinishEnded()
    {
        for (;;) {
            int status = 0;
            const pid_t pid = ::waitpid(-1, &status, WNOHANG);
            if (pid <= 0)
                return;
            const auto found = FRunning.find(pid);
            if (found == FRunning.end())
                continue;
            TRunning running = found->second;
            FRunning.erase(found);
            Finish(running, status);
        }
    }

    void Start(size_t index)
    {
        const TSheet& sheet = FSheets[index];
        if (!sheet.Problem.empty()) {
            Report(index, "failed: " + sheet.Problem);
            return;
        }
        if (FResume && FJournal.Done(sheet.Key)) {
            ++FSkipped;
            Report(index, "skipped (done before)");
            return;
        }
        TRunning running;
        running.Sheet = index;
        const fs::path target = fs::absolute(sheet.Target).lexically_normal();
        running.TargetFolder = target.parent_path().string() + "/";
        std::string outName = target.string();
        // Without a private folder (the target's folder cannot take one) the
        // sheet writes directly, and fails there as the single command would.
        std::string pattern = running.TargetFolder + ".pinwright-sheet-XXXXXX";
        if (::mkdtemp(pattern.data())) {
            running.Staging = pattern + "/";
            outName = running.Staging + target.filename().string();
        }
        running.Errors = std::tmpfile();
        if (!running.Errors) {
            RemoveStaging(running);
            Report(index, "failed: " + WithFullStop(IOErrorText(errno)));
            return;
        }
        // Only this sheet's process gets it (as its standard error).
        ::fcntl(fileno(running.Errors), F_SETFD, FD_CLOEXEC);

        std::vector<std::string> arguments = sheet.Arguments;
        arguments.insert(arguments.begin(), FSelf);
        arguments.insert(arguments.end(), {"--out", outName});
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fileno(running.Errors), STDERR_FILENO);
        // A process group of its own, so that stopping the sheet stops its
        // converters too.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setsigmask(&attributes, &FSignals.OriginalMask());
        pid_t pid = 0;
        const int error = ::posix_spawn(&pid, FSelf.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            std::fclose(running.Errors);
            RemoveStaging(running);
            Report(index, std::string("failed: cannot start georef: ") + std::strerror(error));
            return;
        }
        FRunning[pid] = running;
    }

    void Finish(TRunning& running, int status)
    {
        const std::string errors = ReadAll(running.Errors);
        std::fclose(running.Errors);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            std::vector<std::string> made;
            const std::string problem = running.Staging.empty() ? std::string() : MoveIntoPlace(running, made);
            RemoveStaging(running);
            if (problem.empty()) {
                if (running.Staging.empty())
                    made = {fs::absolute(FSheets[running.Sheet].Target).lexically_normal().string()};
                FJournal.Record(FSheets[running.Sheet].Key, made);
                ++FOk;
                Report(running.Sheet, "ok");
                return;
            }
            Report(running.Sheet, "failed: " + problem);
            return;
        }
        RemoveStaging(running);
        // Messages that name the private folder name the target's instead.
        Report(running.Sheet,
               "failed: " + ReplaceAll(FailureMessage(errors, status), running.Staging, running.TargetFolder));
    }

    // Moves every file the sheet made to the target's folder. All targets
    // are checked first, so that a sheet is not left half moved.
    static std::string MoveIntoPlace(const TRunning& running, std::vector<std::string>& made)
    {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(running.Staging, error))
            names.push_back(entry.path().filename().string());
        if (error)
            return WithFullStop(IOErrorText(error.value()));
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            struct stat info;
            const std::string destination = running.TargetFolder + name;
            if (::lstat(destination.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
                return WithFullStop(IOErrorText(EISDIR));
        }
        // Each file reaches the disk before its new name does, and both
        // before the journal counts the sheet as done.
        try {
            for (const std::string& name : names) {
                const std::string destination = running.TargetFolder + name;
                SyncFile(running.Staging + name);
                RenameDurably(running.Staging + name, destination);
                made.push_back(destination);
            }
        } catch (const std::exception& e) {
            return WithFullStop(e.what());
        }
        return std::string();
    }

    static void RemoveStaging(const TRunning& running)
    {
        if (running.Staging.empty())
            return;
        std::error_code error;
        fs::remove_all(running.Staging, error);
    }

    void Report(size_t index, const std::string& outcome)
    {
        if (outcome.rfind("failed", 0) == 0)
            ++FFailed;
        ++FDone;
        ClearProgress();
        const TSheet& sheet = FSheets[index];
        std::cout << "line " << sheet.Line << ", " << (sheet.Target.empty() ? "(no target)" : sheet.Target) << ": "
                  << outcome << std::endl;
        ShowProgress();
    }

    void ShowProgress()
    {
        if (FProgress)
            std::cerr << '\r' << FDone << " of " << FSheets.size() << " sheets done" << std::flush;
    }

    void ClearProgress()
    {
        if (FProgress)
            std::cerr << "\r\033[K" << std::flush;
    }

    std::vector<TSheet> FSheets;
    int FJobs;
    TJournal& FJournal;
    bool FResume;
    TBatchSignals& FSignals;
    bool FProgress;
    bool FStopping = false;
    std::string FSelf;
    std::map<pid_t, TRunning> FRunning;
    size_t FDone = 0, FOk = 0, FFailed = 0, FSkipped = 0;
};

class TBatchCommand final : public TCommand {
public:
    void Declare(TCommandLine& line) override
    {
        line.Option("--batch", "LIST.csv", FList, "the list of sheets, or - for standard input", TUsage::Required);
        line.Number("--jobs", "N", FJobs, 1, MaxJobs, "run N sheets at a time (default 1)");
        line.Flag("--resume", FResume,
                  "redo only the sheets that failed or whose targets are missing since the last run over LIST.csv "
                  "(kept in LIST.csv.done)");
        line.Option("--mosaic", "FILE.vrt", FMosaic,
                    "after the sheets, a GDAL VRT mosaic of every sheet's GeoTIFF (its warped copy where there is "
                    "one), by gdalbuildvrt");
        line.ExtraNote("in a batch, options go into the list's columns");
        line.Description(R"(Batch: LIST.csv (or - for standard input) has a header line naming its
columns and one sheet per line. The column "image" holds the image, "out"
the target; every other column is named after an option without its
dashes (p1, p2, map, points, negate, ...): a cell gives "--NAME CELL",
"yes" gives the switch "--NAME" alone, an empty cell or "no" leaves it out.
Cells holding commas are put in double quotes. Relative names are taken
from the current folder. Each sheet runs as the single command would, in a
process of its own; its targets appear only once all are complete.)");
        line.Epilogue(R"(One report line per sheet on standard output ("line L, TARGET: ok" or
"line L, TARGET: failed: MESSAGE"), then "N sheets: N ok, N failed,
N skipped"; progress on standard error when it is a terminal.

Exit status: 0 success (in a batch: every sheet), 1 an error (in a batch:
one sheet or more failed, or the list cannot be read), 2 a usage error.)");
        FLine = &line;
    }

    int Run() override
    {
        if (FResume && FList == "-")
            FLine->Fail("--resume needs a list file, not standard input");
        TBatchSignals signals;
        std::vector<TSheet> sheets;
        if (FList == "-") {
            sheets = ReadSheets(std::cin, "the list");
        } else {
            std::ifstream in(FList);
            if (!in)
                throw EInOutError("Cannot open the list \"" + FList + "\". " + std::strerror(errno));
            sheets = ReadSheets(in, FList);
        }
        TJournal journal(FList == "-" ? std::string() : FList + ".done", FResume);
        std::vector<std::string> targets;
        for (const TSheet& sheet : sheets)
            if (sheet.Problem.empty() && !sheet.Target.empty())
                targets.push_back(fs::absolute(sheet.Target).lexically_normal().string());
        const int status = TBatch(std::move(sheets), FJobs, journal, FResume, signals).Run();
        if (!FMosaic.empty()) {
            BuildMosaic(MosaicSheets(targets), FMosaic, fs::current_path().string());
            std::cout << "mosaic " << FMosaic << ": ok" << std::endl;
        }
        return status;
    }

private:
    std::string FList, FMosaic;
    int FJobs = 1;
    bool FResume = false;
    const TCommandLine* FLine = nullptr;
};

const TCommandRegistration Registration("georef --batch", MakeCommand<TBatchCommand>);

} // namespace
