#include "app/message_service.h"

#include "app/application.h"

#include <QApplication>
#include <QMessageBox>

namespace {

TMessageService*& CurrentService()
{
    static TMessageService* service = nullptr;
    return service;
}

void ShowBox(QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

} // namespace

void TMessageService::Beep()
{
    QApplication::beep();
}

void TMessageService::ShowMessage(const QString& text)
{
    ShowBox(QMessageBox::NoIcon, kApplicationTitle, text);
}

void TMessageService::ShowError(const QString& text)
{
    ShowBox(QMessageBox::Critical, kApplicationTitle, text);
}

void TMessageService::ShowWarning(const QString& caption, const QString& text)
{
    ShowBox(QMessageBox::Warning, caption, text);
}

void TMessageService::ShowNotice(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Information, kApplicationTitle, text, QMessageBox::Ok,
                                QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

TMessageService& MessageService()
{
    static TMessageService standard;
    TMessageService* current = CurrentService();
    return current ? *current : standard;
}

TMessageService* SetMessageService(TMessageService* service)
{
    TMessageService* previous = CurrentService();
    CurrentService() = service;
    return previous;
}
