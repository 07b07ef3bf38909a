#include "app/application.h"

#include "app/message_service.h"
#include "platform/exceptions.h"

#include <QPointer>
#include <QWidget>

void ShowExceptionBox(const std::exception& error)
{
    ShowExceptionBox(QString::fromStdString(error.what()));
}

void ShowExceptionBox(const QString& message)
{
    MessageService().ShowError(QString::fromStdString(WithFullStop(message.toStdString())));
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("pinwright"));
    setFont(WorkbenchFont());
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowExceptionBox(error);
    } catch (...) {
        ShowExceptionBox(QStringLiteral("Unexpected error"));
    }
    return false;
}

QFont WorkbenchFont(int pixelSize)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}

namespace {
QPointer<QWidget>& MainFormPointer()
{
    static QPointer<QWidget> form;
    return form;
}
} // namespace

void SetMainForm(QWidget* form)
{
    MainFormPointer() = form;
}

QWidget* MainForm()
{
    return MainFormPointer();
}

bool ApplicationMinimised()
{
    const QWidget* form = MainForm();
    return form && form->isMinimized();
}
