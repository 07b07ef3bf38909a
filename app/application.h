#pragma once
// The GUI application object: the title every box carries, the error box for
// exceptions that leave a handler, and the window the application counts as
// its main one.
#include <QApplication>
#include <QFont>
#include <QString>

#include <exception>
#include <utility>

inline const QString kApplicationTitle = QStringLiteral("Pinwright");

// Shows the message of an exception that ended a handler: critical box
// captioned with the application title, OK button, full stop appended.
void ShowExceptionBox(const std::exception& error);
void ShowExceptionBox(const QString& message);

// Runs a handler and turns any exception leaving it into the error box; the
// program goes on with whatever state the handler left. Handlers are called
// through this so that no exception unwinds through Qt's own frames.
template <class Handler>
void RunGuarded(Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& error) {
        ShowExceptionBox(error);
    } catch (...) {
        ShowExceptionBox(QStringLiteral("Unexpected error"));
    }
}

// The last line of defence: notify() catches whatever an event handler lets
// escape and shows it in the same box.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The font of every window: the default sans-serif at pixel size 11.
QFont WorkbenchFont(int pixelSize = 11);

// The main window: while it is minimised the application counts as minimised.
void SetMainForm(QWidget* form);
QWidget* MainForm();
bool ApplicationMinimised();
