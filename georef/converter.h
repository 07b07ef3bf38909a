#pragma once
// Launching the external converters: finding them, starting them with their
// arguments and waiting until they end.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

// The folder of the running executable, without a trailing "/".
std::string ProgramDir();

// The converter program: startDir/name, else beside the executable, else in
// the installed converter folder (relative to the executable), else on PATH. When none is found, startDir/name (its launch then fails).
std::string FindConverter(const std::string& name, const std::string& startDir);

struct TConverterResult {
    bool Started = false;     // false: the program could not be started
    bool Finished = false;    // ended by itself (not crashed, not cut off)
    int ExitCode = -1;
    std::string ErrorOutput;  // what it wrote to stderr
};

// Lets the caller's own work go on while a converter runs (a GUI keeps its
// windows live). Called again and again until the converter ends, it returns
// after about slice, sleeping while it has nothing to do; false ends the wait
// and stops the converter, as when the program is closing.
using TConverterWait = std::function<bool(std::chrono::milliseconds slice)>;

// Starts path with arguments (argv[1] onwards), standard input and output on
// /dev/null, and waits until it ends: blocked in the kernel without
// whileWaiting, else in its slices.
TConverterResult RunConverterProcess(const std::string& path, const std::vector<std::string>& arguments,
                                     const TConverterWait& whileWaiting = {});
