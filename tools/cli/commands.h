#pragma once
// The sub-commands of pinwright-cli. Each gets argv[0] = its own name and
// its arguments after it, and returns the process exit status; errors are
// raised as exceptions and reported by main's dispatch (cli_support.h).
int RunInfoCommand(int argc, char** argv);
int RunConvertCommand(int argc, char** argv);
int RunGeorefCommand(int argc, char** argv);
int RunCheckCommand(int argc, char** argv);
int RunCornersCommand(int argc, char** argv);
int RunSnapCommand(int argc, char** argv);
// Every crossing of a printed grid or graticule as a control point (grid_command.cpp).
int RunGridCommand(int argc, char** argv);
// georef --batch LIST: the georef command once per sheet (batch_command.cpp).
int RunBatchCommand(int argc, char** argv);
