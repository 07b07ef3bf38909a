#pragma once
// Every message box and the default beep go through one service, so that the
// tests can put a recorder in its place.
#include <QString>

class TMessageService {
public:
    virtual ~TMessageService() = default;

    // The system's default beep.
    virtual void Beep();
    // Modal box captioned with the application title, no icon, OK button.
    virtual void ShowMessage(const QString& text);
    // The same with the error icon (the error box of the GUI loop).
    virtual void ShowError(const QString& text);
    // The same with the warning icon; caption as given.
    virtual void ShowWarning(const QString& caption, const QString& text);
    // A non-modal notice with the information icon, captioned with the
    // application title: the program goes on while it is shown.
    virtual void ShowNotice(const QString& text);
};

// The service in use.
TMessageService& MessageService();
// Puts service in place (null restores the default) and returns the one it replaces.
TMessageService* SetMessageService(TMessageService* service);
