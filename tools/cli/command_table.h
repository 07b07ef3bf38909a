#pragma once
// pinwright-cli's commands as main.cpp's table lists them, each declared,
// and what the program prints for --help, --help-all and --version, made
// from those declarations.
#include "tools/cli/command_line.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

struct TDeclaredCommand {
    std::string Key;     // "NAME", or "NAME --OPTION" for the form that option chooses
    std::string Trigger; // that option, "" for the plain form
    std::unique_ptr<TCommand> Command;
    std::unique_ptr<TCommandLine> Line;
};

// Every command of the table made and declared, in the table's order.
// Raises a logic error for a row without a registered command and for a
// registered command without a row.
std::vector<TDeclaredCommand> DeclareCommands(std::span<const char* const> table);

// The form of arguments[0] that the other arguments choose; null for a
// name no row has.
TDeclaredCommand* ChooseCommand(std::vector<TDeclaredCommand>& commands, const std::vector<std::string>& arguments);

// "pinwright-cli info FILE | convert FILE OUT | georef ARGUMENTS | ...".
std::string ProgramUsage(const std::vector<TDeclaredCommand>& commands);
// The whole tool: its ways of calling, the commands, exit status.
// threadsUsage: the usage line of the options before the command.
std::string ProgramHelp(const std::vector<TDeclaredCommand>& commands, const std::string& threadsUsage);
// Every form of the command called name: the usage lines, then each one's
// description, options and epilogue.
std::string CommandHelp(const std::vector<TDeclaredCommand>& commands, const std::string& name);
// ProgramHelp, then the help of every command under the heading "The NAME
// command:" (what the manual page is made of).
std::string FullHelp(const std::vector<TDeclaredCommand>& commands, const std::string& threadsUsage);
// "pinwright-cli VERSION".
std::string VersionLine();
