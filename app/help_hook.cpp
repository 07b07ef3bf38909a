#include "app/help_hook.h"

#include "app/application.h"
#include "app/html_help.h"
#include "app/message_service.h"

#include <QWidget>

THelpEvent& ApplicationHelpEvent()
{
    static THelpEvent event;
    return event;
}

bool ApplicationHelpCommand(uint16_t command, intptr_t data)
{
    bool callHelp = true;
    const THelpEvent& event = ApplicationHelpEvent();
    // With the event unset or passing it on there is no other help system to ask.
    return event ? event(command, data, callHelp) : false;
}

THelpHook::THelpHook(std::string helpFile, std::string windowName, int hostKind)
    : FHelpFile(std::move(helpFile)), FWindowName(std::move(windowName)), FHostKind(hostKind),
      FPrevious(ApplicationHelpEvent())
{
    ApplicationHelpEvent() = [this](uint16_t command, intptr_t data, bool& callHelp) {
        return HelpHandler(command, data, callHelp);
    };
}

THelpHook::~THelpHook()
{
    if (FHostKind == 0)
        CloseHtmlHelpWindows();
    ApplicationHelpEvent() = FPrevious;
}

std::string THelpHook::HelpTarget() const
{
    return FWindowName.empty() ? FHelpFile : FHelpFile + ">" + FWindowName;
}

bool THelpHook::HelpHandler(uint16_t command, intptr_t data, bool& callHelp)
{
    switch (command) {
    case HELP_CONTEXT:
    case HELP_CONTEXTPOPUP: {
        callHelp = false;
        if (!HtmlHelpLoaded()) {
            MessageService().ShowWarning(kApplicationTitle, QString::fromLatin1(kHtmlHelpMissing));
            return true;
        }
        if (QWidget* window = HtmlHelp(nullptr, HelpTarget(), HH_HELP_CONTEXT, static_cast<uintptr_t>(data))) {
            window->raise();
            window->activateWindow();
        }
        return true;
    }
    case HELP_SETPOPUP_POS:
        callHelp = false;
        FPopupX = static_cast<int16_t>(data & 0xFFFF);
        FPopupY = static_cast<int16_t>((data >> 16) & 0xFFFF);
        return true;
    default:
        callHelp = true;
        return false;
    }
}
