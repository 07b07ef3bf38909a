#pragma once
// Launching the external converters: finding them, turning a parameter
// string into arguments, and waiting for them while the GUI stays live.
#include <string>
#include <vector>

// Splits a parameter string as a Windows command line is split: blanks and
// tabs separate, double quotes group (and are dropped), "" inside quotes is a
// quote, backslashes are literal except before a quote (2n+1 backslashes and
// a quote give n backslashes and a literal quote).
std::vector<std::string> SplitParameters(const std::string& parameters);

// path in double quotes, escaped so that SplitParameters gives it back whole
// (for ordinary paths simply "path").
std::string QuotePath(const std::string& path);

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

// Starts path with the split parameters and waits until it ends. With a
// Qt application object the wait runs an event loop (the GUI stays live, no
// busy polling); the wait ends early, killing the converter, when the
// application quits.
TConverterResult RunConverterProcess(const std::string& path, const std::string& parameters);
