#include "app/html_help.h"

#include <QApplication>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace {

struct THelpState {
    bool Loaded = false;
    std::string Manual;
    std::string TraceFile;
    QPointer<QTextBrowser> Window;
};

THelpState& State()
{
    static THelpState state;
    return state;
}

void Trace(const std::string& line)
{
    const std::string& file = State().TraceFile;
    if (file.empty())
        return;
    std::ofstream out(file, std::ios::app);
    out << line << '\n';
}

bool SameIgnoringCase(const std::string& a, const char* b)
{
    const std::string other(b);
    return a.size() == other.size() &&
           std::equal(a.begin(), a.end(), other.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

bool FileExists(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// Whether a file can be made (and removed again) in dir.
bool DirectoryWritable(const fs::path& dir)
{
    const fs::path probe = dir / "$_Temp_$.$$$";
    {
        std::ofstream out(probe);
        if (!out)
            return false;
    }
    std::error_code error;
    return fs::remove(probe, error) && !error;
}

std::string CommandName(unsigned command)
{
    switch (command) {
    case HH_DISPLAY_TOPIC:
        return "HH_DISPLAY_TOPIC";
    case HH_HELP_CONTEXT:
        return "HH_HELP_CONTEXT";
    case HH_CLOSE_ALL:
        return "HH_CLOSE_ALL";
    default:
        return "command " + std::to_string(command);
    }
}

QTextBrowser* ShowManual()
{
    THelpState& state = State();
    if (!state.Window) {
        auto* window = new QTextBrowser;
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->setWindowTitle(QStringLiteral("Pinwright Help"));
        QFont font = window->font();
        font.setPixelSize(13);
        window->setFont(font);
        window->resize(680, 560);
        window->setSource(QUrl::fromLocalFile(QString::fromStdString(state.Manual)));
        state.Window = window;
    }
    state.Window->show();
    state.Window->raise();
    state.Window->activateWindow();
    return state.Window;
}

} // namespace

void LoadHtmlHelp(const std::string& programDir, const std::vector<std::string>& arguments)
{
    THelpState& state = State();
    const fs::path dir(programDir);
    bool debug = FileExists(dir / "debug.debug");
    for (const std::string& argument : arguments)
        debug = debug || HtmlHelpDebugArgument(argument);
    state.TraceFile.clear();
    if (debug) {
        std::error_code error;
        const fs::path traceDir = DirectoryWritable(dir) ? dir : fs::temp_directory_path(error);
        state.TraceFile = (traceDir / "HHDebug.txt").string();
        std::ofstream(state.TraceFile, std::ios::trunc) << "Pinwright help trace\n";
    }
    fs::path manual = dir / kManualFileName;
#ifdef PW_MANUAL_DIR_FROM_PROGRAM
    // Installed, the manual lives in the data folder, not beside the program.
    if (!FileExists(manual) && FileExists(dir / PW_MANUAL_DIR_FROM_PROGRAM / kManualFileName))
        manual = (dir / PW_MANUAL_DIR_FROM_PROGRAM / kManualFileName).lexically_normal();
#endif
    state.Loaded = FileExists(manual);
    state.Manual = state.Loaded ? manual.string() : std::string();
    Trace("LoadHtmlHelp: manual " + manual.string() + (state.Loaded ? " found" : " not found"));
}

bool HtmlHelpDebugArgument(const std::string& argument)
{
    return SameIgnoringCase(argument, "/debug") || SameIgnoringCase(argument, "-debug");
}

void UnloadHtmlHelp()
{
    THelpState& state = State();
    Trace("UnloadHtmlHelp");
    delete state.Window;
    state.Loaded = false;
    state.Manual.clear();
    state.TraceFile.clear();
}

bool HtmlHelpLoaded()
{
    return State().Loaded;
}

std::string HtmlHelpTraceFile()
{
    return State().TraceFile;
}

QWidget* HtmlHelp(QWidget*, const std::string& file, unsigned command, uintptr_t data)
{
    THelpState& state = State();
    Trace("HtmlHelp(\"" + file + "\", " + CommandName(command) + ", " + std::to_string(data) + ")" +
          (state.Loaded ? "" : ": no manual"));
    if (!state.Loaded)
        return nullptr;
    switch (command) {
    case HH_DISPLAY_TOPIC:
        return ShowManual();
    case HH_HELP_CONTEXT: {
        QTextBrowser* window = ShowManual();
        window->scrollToAnchor(QStringLiteral("context-%1").arg(data));
        return window;
    }
    case HH_CLOSE_ALL:
        if (state.Window) {
            state.Window->close();
            delete state.Window;
        }
        return nullptr;
    default:
        return nullptr;
    }
}

QWidget* HtmlHelpWindow()
{
    return State().Window;
}

void CloseHtmlHelpWindows()
{
    if (!HtmlHelpLoaded())
        return;
    HtmlHelp(nullptr, std::string(), HH_CLOSE_ALL, 0);
    std::this_thread::yield();
}

std::string ProgramDirectory()
{
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (!error)
        return exe.parent_path().string();
    return fs::current_path(error).string();
}
