#pragma once
// What pinwright-cli prints for --help and --version.
#include <string>

// The whole tool: commands, exit status.
extern const char* const ProgramHelp;
// One command's options and exit status; nullptr for a command without one.
const char* CommandHelp(const std::string& command);
// "pinwright-cli VERSION".
std::string VersionLine();
