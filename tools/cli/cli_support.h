#pragma once
// Shared pieces of pinwright-cli: error reporting as the workbench's error
// box words it, and output files that appear whole or not at all.
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

// Exit status of a command line the tool cannot use.
constexpr int ExitUsage = 2;

// Runs body; any exception ends in its message (full stop appended when
// missing) as the last line on stderr and exit status 1, or ExitUsage for a
// usage error.
int RunReportingErrors(const std::function<int()>& body);

// Raised for a command line the tool cannot use; the text is the usage line,
// preceded on its own line by what is wrong when problem is given.
[[noreturn]] void RaiseUsage(const std::string& usage, const std::string& problem = "");

// Lower-case extension of a file name, without the dot ("" when none).
std::string LowerExtension(const std::string& fileName);

// A file written under a temporary name in the target's folder and renamed
// to the target by Commit; dropped (and the target left untouched) when the
// object goes without Commit.
class TOutputFile {
public:
    explicit TOutputFile(const std::string& fileName);
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // Writes all bytes or raises the runtime I/O error ("Disk full", ...).
    void Write(const void* data, size_t size);
    // Writes all bytes; 0 on success, else the errno value.
    int TryWrite(const void* data, size_t size);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    // Flushes to the disk, closes and renames onto the target, then flushes
    // the folder (platform/durable_files.h); raises on failure.
    void Commit();

private:
    std::string FFileName;
    std::string FTempName;
    FILE* FFile = nullptr;
};
