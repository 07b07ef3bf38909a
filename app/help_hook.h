#pragma once
// The application's help event and THelpHook, which routes context-help
// requests to the help component while it is installed.
#include <cstdint>
#include <functional>
#include <string>

// Help commands the help event receives (the toolkit's values).
constexpr uint16_t HELP_CONTEXT = 0x0001;
constexpr uint16_t HELP_CONTEXTPOPUP = 0x0008;
constexpr uint16_t HELP_SETPOPUP_POS = 0x000D;

// The application's help event: returns true when it handled the command;
// callHelp false stops the default handling.
using THelpEvent = std::function<bool(uint16_t command, intptr_t data, bool& callHelp)>;
THelpEvent& ApplicationHelpEvent();
// A help request as the toolkit raises it: the help event decides; true when handled.
bool ApplicationHelpCommand(uint16_t command, intptr_t data);

class THelpHook {
public:
    // Saves the application's help event and installs its own.
    THelpHook(std::string helpFile, std::string windowName, int hostKind);
    // Closes the help windows (host kind 0), then restores the saved event.
    ~THelpHook();
    THelpHook(const THelpHook&) = delete;
    THelpHook& operator=(const THelpHook&) = delete;

    bool HelpHandler(uint16_t command, intptr_t data, bool& callHelp);

    // Position of the last HELP_SETPOPUP_POS (x in the low word, y in the high word).
    int PopupX() const { return FPopupX; }
    int PopupY() const { return FPopupY; }

private:
    std::string HelpTarget() const;

    std::string FHelpFile;
    std::string FWindowName;
    int FHostKind;
    THelpEvent FPrevious;
    int FPopupX = 0;
    int FPopupY = 0;
};
