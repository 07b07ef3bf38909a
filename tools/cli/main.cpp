// pinwright-cli: the workbench's picture loading (and its georeferencing)
// from the command line. Each command is a file of its own that declares its
// arguments (command_line.h); --threads N before the command sets how many
// threads a decode may use.
#include "imaging/format_registry.h"
#include "platform/thread_pool.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/command_line.h"
#include "tools/cli/command_table.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The commands in the order the help lists them. A new command is a file,
// tools/cli/NAME_command.cpp, registered there under its row's text, and a
// row here; "NAME --OPTION" is the form of NAME that the option chooses.
constexpr const char* Commands[] = {
    "info",
    "convert",
    "georef",
    "georef --batch",
    "check",
    "snap",
    "corners",
    "grid",
};

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
        std::vector<TDeclaredCommand> commands = DeclareCommands(Commands);
        TCommandLine program("");
        int threads = 0;
        program.Number("--threads", "N", threads, 1, static_cast<int>(pwthreads::MaxThreads),
                       "decode a picture on up to N threads", TUsage::Shown);
        program.StopAtFirstPositional("COMMAND ARGUMENTS");
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        const bool proceed = program.Parse(arguments);
        const std::vector<std::string>& rest = program.Rest();
        const std::string first = rest.empty() ? "" : rest.front();
        if (!proceed || first == "-h") {
            std::cout << ProgramHelp(commands, program.Usage());
            return 0;
        }
        if (first == "--help-all") {
            std::cout << FullHelp(commands, program.Usage());
            return 0;
        }
        if (first == "--version") {
            std::cout << VersionLine() << '\n';
            return 0;
        }
        if (program.Given("--threads")) {
            pwthreads::SetThreadCount(static_cast<unsigned>(threads));
            // The sheets of a batch run in processes of their own.
            setenv("PINWRIGHT_THREADS", std::to_string(threads).c_str(), 1);
        }
        if (rest.empty())
            RaiseUsage(ProgramUsage(commands), "no command given");
        TDeclaredCommand* command = ChooseCommand(commands, rest);
        if (!command)
            RaiseUsage(ProgramUsage(commands), "unknown command " + first);
        if (!command->Line->Parse({rest.begin() + 1, rest.end()})) {
            std::cout << CommandHelp(commands, first);
            return 0;
        }
        TImagingScope imaging;
        return command->Command->Run();
    });
}
