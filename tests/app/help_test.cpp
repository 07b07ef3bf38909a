#include "tests/app/app_fixture.h"

#include "app/help_hook.h"
#include "app/html_help.h"
#include "app/main_window.h"
#include "tests/support/test_support.h"

#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include <filesystem>
#include <memory>

namespace {

class HelpTest : public AppTest {
protected:
    void TearDown() override
    {
        UnloadHtmlHelp();
        AppTest::TearDown();
    }
    // A program directory holding a copy of the installed manual.
    void InstallManual()
    {
        std::filesystem::copy_file(pwtest::BinPath(kManualFileName), Dir.File(kManualFileName));
    }
    std::string TraceText() const { return pwtest::ReadText(HtmlHelpTraceFile()); }

    pwtest::TempDir Dir;
};

const TRecordedBox kMissingBox{"warning", "Pinwright", "MS Html Help is not installed on this PC."};

} // namespace

TEST_F(HelpTest, HelpButtonOpensTheManualAndClosingTheMainWindowClosesIt)
{
    InstallManual();
    LoadHtmlHelp(Dir.Path(), {});
    ASSERT_TRUE(HtmlHelpLoaded());
    auto form = std::make_unique<TForm1>();
    QTest::mouseClick(form->SpeedButton3, Qt::LeftButton);

    auto* window = qobject_cast<QTextBrowser*>(HtmlHelpWindow());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->source().toLocalFile().toStdString(), Dir.File(kManualFileName));
    EXPECT_TRUE(window->toPlainText().contains("world file"));
    EXPECT_TRUE(Messages.Boxes.empty());

    // A second click reuses the window.
    QTest::mouseClick(form->SpeedButton3, Qt::LeftButton);
    EXPECT_EQ(HtmlHelpWindow(), window);

    form.reset();
    EXPECT_EQ(HtmlHelpWindow(), nullptr);
}

TEST_F(HelpTest, MissingManualIsReportedByTheButtonAndByContextHelp)
{
    LoadHtmlHelp(Dir.Path(), {});
    EXPECT_FALSE(HtmlHelpLoaded());
    auto form = std::make_unique<TForm1>();
    QTest::mouseClick(form->SpeedButton3, Qt::LeftButton);
    EXPECT_TRUE(ApplicationHelpCommand(HELP_CONTEXT, 7));
    EXPECT_EQ(HtmlHelpWindow(), nullptr);
    ASSERT_EQ(Messages.Boxes.size(), 2u);
    EXPECT_EQ(Messages.Boxes[0], kMissingBox);
    EXPECT_EQ(Messages.Boxes[1], kMissingBox);
}

TEST_F(HelpTest, HookAnswersContextRequestsAndGivesTheEventBackWhenFreed)
{
    InstallManual();
    LoadHtmlHelp(Dir.Path(), {"-debug"});
    int earlierCalls = 0;
    ApplicationHelpEvent() = [&](uint16_t, intptr_t, bool&) {
        ++earlierCalls;
        return false;
    };
    {
        THelpHook hook("helmarq.chm", "", 0);
        bool callHelp = true;
        EXPECT_TRUE(hook.HelpHandler(HELP_CONTEXTPOPUP, 12, callHelp));
        EXPECT_FALSE(callHelp);
        ASSERT_NE(HtmlHelpWindow(), nullptr);
        EXPECT_TRUE(HtmlHelpWindow()->isVisible());

        EXPECT_TRUE(ApplicationHelpCommand(HELP_SETPOPUP_POS, (40 << 16) | 25));
        EXPECT_EQ(hook.PopupX(), 25);
        EXPECT_EQ(hook.PopupY(), 40);

        callHelp = false;
        EXPECT_FALSE(hook.HelpHandler(3, 0, callHelp));
        EXPECT_TRUE(callHelp) << "other commands go on to the default handling";
        EXPECT_EQ(earlierCalls, 0);
    }
    EXPECT_EQ(HtmlHelpWindow(), nullptr) << "freeing the hook closes the help windows";
    ApplicationHelpCommand(HELP_CONTEXT, 1);
    EXPECT_EQ(earlierCalls, 1);
    ApplicationHelpEvent() = nullptr;

    const std::string trace = TraceText();
    EXPECT_NE(trace.find("HtmlHelp(\"helmarq.chm\", HH_HELP_CONTEXT, 12)"), std::string::npos) << trace;
    EXPECT_NE(trace.find("HtmlHelp(\"\", HH_CLOSE_ALL, 0)"), std::string::npos) << trace;
    EXPECT_TRUE(Messages.Boxes.empty());
}

TEST_F(HelpTest, TraceIsWrittenOnlyWhenAskedFor)
{
    LoadHtmlHelp(Dir.Path(), {"--debug", "debug"});
    EXPECT_EQ(HtmlHelpTraceFile(), "");
    EXPECT_FALSE(pwtest::FileExists(Dir.File("HHDebug.txt")));

    LoadHtmlHelp(Dir.Path(), {"/DEBUG"});
    EXPECT_EQ(HtmlHelpTraceFile(), Dir.File("HHDebug.txt"));
    EXPECT_FALSE(pwtest::FileExists(Dir.File("$_Temp_$.$$$")));
    HtmlHelp(nullptr, "pinwright.chm", HH_DISPLAY_TOPIC, 0);
    EXPECT_NE(TraceText().find("HtmlHelp(\"pinwright.chm\", HH_DISPLAY_TOPIC, 0): no manual"), std::string::npos)
        << TraceText();

    UnloadHtmlHelp();
    pwtest::WriteText(Dir.File("debug.debug"), "");
    LoadHtmlHelp(Dir.Path(), {});
    EXPECT_EQ(HtmlHelpTraceFile(), Dir.File("HHDebug.txt"));
    EXPECT_NE(TraceText().find("not found"), std::string::npos);
}

TEST_F(HelpTest, InstalledManualCoversTheWorkflowAndEveryMessage)
{
    const std::string manual = pwtest::ReadText(pwtest::BinPath(kManualFileName));
    for (const char* text :
         {"Fill in all coordinates!", "Files have been made.", "Error starting module!",
          "MS Html Help is not installed on this PC.", "Unknown picture file extension", "File not found",
          "File access denied", "Disk full", "Invalid numeric input", "is not a valid floating point value",
          "Floating point division by zero", "Invalid floating point operation", "JPEG error #",
          "Cannot load image. Invalid or unexpected", "1 100.5 200.25", "TIFF + TFW", "JGW", "magnif"})
        EXPECT_NE(manual.find(text), std::string::npos) << text;
}
