// pinwright-cli: the workbench's picture loading (and its georeferencing)
// from the command line.
//   pinwright-cli info FILE          JSON description of the loaded picture
//   pinwright-cli convert FILE OUT   decoded bitmap as .png, .ppm or .pam
//   pinwright-cli georef ...         see georef_command.cpp
//   pinwright-cli check FILE...      one line per file: ok, ended early, or its error
#include "imaging/format_registry.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/commands.h"

#include <string>

namespace {

constexpr const char* Usage = "pinwright-cli info FILE | convert FILE OUT | georef ARGUMENTS | check FILE...";

// The imaging library is set up as the workbench sets it up, and taken down
// again however the command ends.
class TImagingScope {
public:
    TImagingScope() { InitializeImaging(); }
    ~TImagingScope() { FinalizeImaging(); }
    TImagingScope(const TImagingScope&) = delete;
    TImagingScope& operator=(const TImagingScope&) = delete;
};

} // namespace

int main(int argc, char** argv)
{
    return RunReportingErrors([&] {
        if (argc < 2)
            RaiseUsage(Usage);
        const std::string command = argv[1];
        TImagingScope imaging;
        if (command == "info")
            return RunInfoCommand(argc - 1, argv + 1);
        if (command == "convert")
            return RunConvertCommand(argc - 1, argv + 1);
        if (command == "check")
            return RunCheckCommand(argc - 1, argv + 1);
        if (command == "georef")
            return RunGeorefCommand(argc - 1, argv + 1);
        RaiseUsage(Usage);
    });
}
