#pragma once
// The sub-commands of pinwright-cli. Each returns the process exit status;
// errors are reported by the caller of main's dispatch.
int RunInfoCommand(int argc, char** argv);
int RunConvertCommand(int argc, char** argv);
int RunGeorefCommand(int argc, char** argv);
