// pinwright-cli: the workbench's picture loading (and its georeferencing)
// from the command line.
//   pinwright-cli info FILE          JSON description of the loaded picture
//   pinwright-cli convert FILE OUT   decoded bitmap as .png, .ppm or .pam
//   pinwright-cli georef ...         see georef_command.cpp, batch_command.cpp
//   pinwright-cli check FILE...      one line per file: ok, ended early, or its error
//   pinwright-cli snap IMAGE COL,ROW the printed crossing or corner at a picked pixel
//   pinwright-cli corners IMAGE      the four corners of the sheet's map frame
//   pinwright-cli grid IMAGE ...     every crossing of a printed grid as a control point
// --threads N before the command sets how many threads a decode may use.
#include "imaging/format_registry.h"
#include "platform/thread_pool.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/commands.h"
#include "tools/cli/help_texts.h"

#include <cstdlib>
#include <iostream>
#include <string>

namespace {

constexpr const char* Usage =
    "pinwright-cli info FILE | convert FILE OUT | georef ARGUMENTS | check FILE... | snap IMAGE COL,ROW | "
    "corners IMAGE";
constexpr const char* ThreadsUsage = "pinwright-cli --threads N COMMAND ARGUMENTS";

// The imaging library is set up as the workbench sets it up, and taken down
// again however the command ends.
class TImagingScope {
public:
    TImagingScope() { InitializeImaging(); }
    ~TImagingScope() { FinalizeImaging(); }
    TImagingScope(const TImagingScope&) = delete;
    TImagingScope& operator=(const TImagingScope&) = delete;
};

bool HasArgument(int argc, char** argv, const std::string& wanted)
{
    for (int i = 1; i < argc; ++i)
        if (argv[i] == wanted)
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    return RunReportingErrors([&] {
        if (argc >= 2 && std::string(argv[1]) == "--threads") {
            const std::string value = argc >= 3 ? argv[2] : "";
            const unsigned threads = pwthreads::ParseThreadCount(value.c_str());
            if (!threads)
                RaiseUsage(ThreadsUsage, "--threads needs a number from 1 to " + std::to_string(pwthreads::MaxThreads) +
                                      ", not '" + value + "'");
            pwthreads::SetThreadCount(threads);
            // The sheets of a batch run in processes of their own.
            setenv("PINWRIGHT_THREADS", value.c_str(), 1);
            argc -= 2;
            argv += 2;
        }
        if (argc < 2)
            RaiseUsage(Usage, "no command given");
        const std::string command = argv[1];
        if (command == "--help" || command == "-h") {
            std::cout << ProgramHelp;
            return 0;
        }
        if (command == "--help-all") {
            std::cout << FullHelp();
            return 0;
        }
        if (command == "--version") {
            std::cout << VersionLine() << '\n';
            return 0;
        }
        if (const char* help = CommandHelp(command); help && HasArgument(argc - 1, argv + 1, "--help")) {
            std::cout << help;
            return 0;
        }
        TImagingScope imaging;
        if (command == "info")
            return RunInfoCommand(argc - 1, argv + 1);
        if (command == "convert")
            return RunConvertCommand(argc - 1, argv + 1);
        if (command == "check")
            return RunCheckCommand(argc - 1, argv + 1);
        if (command == "snap")
            return RunSnapCommand(argc - 1, argv + 1);
        if (command == "corners")
            return RunCornersCommand(argc - 1, argv + 1);
        if (command == "grid")
            return RunGridCommand(argc - 1, argv + 1);
        if (command == "georef" && HasArgument(argc - 1, argv + 1, "--batch"))
            return RunBatchCommand(argc - 1, argv + 1);
        if (command == "georef")
            return RunGeorefCommand(argc - 1, argv + 1);
        RaiseUsage(Usage, "unknown command " + command);
    });
}
