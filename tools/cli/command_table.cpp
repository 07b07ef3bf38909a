#include "tools/cli/command_table.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <stdexcept>

#ifndef PW_VERSION
#define PW_VERSION "unknown"
#endif

namespace {

const char* const Introduction = R"(Georeferences scanned maps by two control points, and reads every picture
format of the Pinwright workbench, from the command line.)";

const char* const Closing = R"(--threads N decodes a picture on up to N threads (1 to 256; default: the
environment variable PINWRIGHT_THREADS, else one per processor).

Exit status:
  0  success
  1  an error; its message is the last line on standard error, and no
     output file is left behind
  2  a command line that cannot be used (unknown option, missing argument)

--help-all prints this and the help of every command, as the manual page
pinwright-cli(1) shows them.)";

// Where a command's summary starts in the list of commands.
constexpr size_t SummaryColumn = 12;

constexpr const char* UsagePrefix = "Usage: ";
constexpr const char* UsageIndent = "       ";

std::string NameOf(const std::string& key)
{
    return key.substr(0, key.find(' '));
}

// The names in the table's order, each once.
std::vector<std::string> Names(const std::vector<TDeclaredCommand>& commands)
{
    std::vector<std::string> names;
    for (const TDeclaredCommand& command : commands)
        if (std::find(names.begin(), names.end(), command.Line->Name()) == names.end())
            names.push_back(command.Line->Name());
    return names;
}

} // namespace

std::vector<TDeclaredCommand> DeclareCommands(std::span<const char* const> table)
{
    std::vector<TDeclaredCommand> commands;
    std::set<std::string> listed;
    for (const char* key : table) {
        const TCommandFactory make = FindCommand(key);
        if (!make)
            throw std::logic_error(std::string("the command row '") + key + "' has no command");
        TDeclaredCommand command;
        command.Key = key;
        const size_t blank = command.Key.find(' ');
        command.Trigger = blank == std::string::npos ? "" : command.Key.substr(blank + 1);
        command.Command = make();
        command.Line = std::make_unique<TCommandLine>(NameOf(key));
        command.Command->Declare(*command.Line);
        commands.push_back(std::move(command));
        listed.insert(key);
    }
    for (const std::string& key : RegisteredCommands())
        if (!listed.count(key))
            throw std::logic_error("the command '" + key + "' has no row in the table");
    return commands;
}

TDeclaredCommand* ChooseCommand(std::vector<TDeclaredCommand>& commands, const std::vector<std::string>& arguments)
{
    TDeclaredCommand* plain = nullptr;
    for (TDeclaredCommand& command : commands) {
        if (arguments.empty() || command.Line->Name() != arguments[0])
            continue;
        if (command.Trigger.empty()) {
            plain = &command;
            continue;
        }
        const bool triggered = std::any_of(arguments.begin() + 1, arguments.end(), [&](const std::string& a) {
            return a == command.Trigger || a.rfind(command.Trigger + "=", 0) == 0;
        });
        if (triggered)
            return &command;
    }
    return plain;
}

std::string ProgramUsage(const std::vector<TDeclaredCommand>& commands)
{
    std::string text = "pinwright-cli ";
    std::string shown;
    for (const TDeclaredCommand& command : commands)
        if (command.Trigger.empty())
            shown += (shown.empty() ? "" : " | ") + command.Line->ShortUsage();
    return text + shown;
}

std::string ProgramHelp(const std::vector<TDeclaredCommand>& commands, const std::string& threadsUsage)
{
    std::string text = UsagePrefix + std::string("pinwright-cli COMMAND ARGUMENTS\n");
    for (const std::string& line : {threadsUsage, std::string("pinwright-cli COMMAND --help"),
                                    std::string("pinwright-cli --help | --help-all | --version")})
        text += UsageIndent + line + "\n";
    text += "\n" + std::string(Introduction) + "\n\nCommands:\n";
    for (const TDeclaredCommand& command : commands) {
        if (!command.Trigger.empty())
            continue;
        std::string left = "  " + command.Line->Name();
        left += std::string(std::max<size_t>(SummaryColumn, left.size() + 1) - left.size(), ' ');
        text += left + Wrapped(command.Line->SummaryText(), SummaryColumn) + "\n";
    }
    return text + "\n" + Closing + "\n";
}

std::string CommandHelp(const std::vector<TDeclaredCommand>& commands, const std::string& name)
{
    std::ostringstream usage, body;
    const char* prefix = UsagePrefix;
    for (const TDeclaredCommand& command : commands) {
        if (command.Line->Name() != name)
            continue;
        for (const std::string& line : command.Line->UsageLines()) {
            usage << prefix << line << '\n';
            prefix = UsageIndent;
        }
        body << '\n' << command.Line->HelpBody();
    }
    return usage.str() + body.str();
}

std::string FullHelp(const std::vector<TDeclaredCommand>& commands, const std::string& threadsUsage)
{
    std::string text = ProgramHelp(commands, threadsUsage);
    for (const std::string& name : Names(commands)) {
        // Under its heading the usage goes without "Usage: ", indented as its
        // continuation lines are, which help2man takes for a subsection.
        std::string body = CommandHelp(commands, name);
        body.replace(0, std::strlen(UsagePrefix), UsageIndent);
        text += "\nThe " + name + " command:\n" + body;
    }
    return text;
}

std::string VersionLine()
{
    return std::string("pinwright-cli ") + PW_VERSION;
}
