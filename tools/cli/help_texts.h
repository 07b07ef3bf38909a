#pragma once
// What pinwright-cli prints for --help and --version.
#include <string>

// The whole tool: commands, exit status.
extern const char* const ProgramHelp;
// One command's options and exit status; nullptr for a command without one.
const char* CommandHelp(const std::string& command);
// ProgramHelp, then the help of every command it lists, each under the
// heading "The COMMAND command:" (what the manual page is made of); raises
// when a listed command has no help.
std::string FullHelp();
// "pinwright-cli VERSION".
std::string VersionLine();
