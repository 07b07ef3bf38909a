#pragma once
// Our stand-in for the HTML help component: it answers the commands the
// workbench sends by showing the bundled HTML manual in a help window, and
// can trace every call to HHDebug.txt.
#include <cstdint>
#include <string>
#include <vector>

class QWidget;

// Commands (the component's values).
constexpr unsigned HH_DISPLAY_TOPIC = 0x0000;
constexpr unsigned HH_HELP_CONTEXT = 0x000F;
constexpr unsigned HH_CLOSE_ALL = 0x0012;

// The manual, looked for in the program's directory.
inline constexpr const char* kManualFileName = "pinwright.html";
inline constexpr const char* kHtmlHelpMissing = "MS Html Help is not installed on this PC.";

// Start-up, before the application object exists: looks for the manual in
// programDir, then in the installed data folder relative to it, and switches the trace on when arguments hold "/debug" or
// "-debug" (any case) or programDir holds a file "debug.debug".
void LoadHtmlHelp(const std::string& programDir, const std::vector<std::string>& arguments);
// "/debug" or "-debug" in any case.
bool HtmlHelpDebugArgument(const std::string& argument);
// Forgets the manual and ends the trace.
void UnloadHtmlHelp();
// True when the manual was found: the help entry is then available.
bool HtmlHelpLoaded();
// The trace file, or "" while tracing is off.
std::string HtmlHelpTraceFile();

// The help entry. HH_DISPLAY_TOPIC and HH_HELP_CONTEXT (data: the context
// number) show the manual in the help window and return it; HH_CLOSE_ALL
// closes it and returns null. Without the manual nothing happens.
QWidget* HtmlHelp(QWidget* owner, const std::string& file, unsigned command, uintptr_t data);
// The help window while it exists.
QWidget* HtmlHelpWindow();

// Closes every help window when help is available, then yields the thread's
// time slice once.
void CloseHtmlHelpWindows();

// The directory of the running program.
std::string ProgramDirectory();
