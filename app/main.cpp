// Program entry: the help glue, the imaging library, the application object,
// the main window and the hidden magnifier, then the message loop.
#include "app/application.h"
#include "app/html_help.h"
#include "app/main_window.h"
#include "app/message_service.h"
#include "app/zoom_window.h"
#include "imaging/compression/jpeg_support.h"
#include "imaging/format_registry.h"
#include "imaging/jpeg_image.h"
#include "imaging/strings/messages.h"

#include <QFile>
#include <QScreen>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    LoadHtmlHelp(ProgramDirectory(), arguments);
    InitializeImaging();

    int result = 0;
    {
        TApplication application(argc, argv);
        // Only the main window ends the program, whatever else is open.
        application.setQuitOnLastWindowClosed(false);
        // JPEG pictures are made after this, so the default still reaches them.
        if (const QScreen* screen = QGuiApplication::primaryScreen(); screen && screen->depth() <= 8)
            JPEGDefaults.PixelFormat = jf8Bit;
        SetJPEGWarningHook([](const std::string& text) {
            MessageService().ShowWarning(QString::fromLatin1(msg::JPEGWarningCaption), QString::fromStdString(text));
        });

        auto form1 = std::make_unique<TForm1>();
        auto form2 = std::make_unique<TForm2>();
        form1->SetZoomWindow(form2.get());
        QObject::connect(form1.get(), &TForm1::closed, &application, &QCoreApplication::quit);
        form1->show();
        // A file named on the command line (the desktop entry's %f) opens
        // inside the message loop, where a load error gets its box.
        for (const std::string& argument : arguments) {
            if (argument.empty() || HtmlHelpDebugArgument(argument))
                continue;
            QTimer::singleShot(0, form1.get(), [form = form1.get(), argument] {
                form->OpenFile(QFile::decodeName(argument.c_str()));
            });
            break;
        }
        result = application.exec();

        form1.reset();
        form2.reset();
        SetJPEGWarningHook(nullptr);
        UnloadHtmlHelp();
    }
    FinalizeImaging();
    return result;
}
