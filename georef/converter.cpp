#include "georef/converter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <filesystem>
#include <system_error>
#include <unistd.h>

std::vector<std::string> SplitParameters(const std::string& s)
{
    std::vector<std::string> args;
    const size_t n = s.size();
    size_t i = 0;
    for (;;) {
        while (i < n && (s[i] == ' ' || s[i] == '\t'))
            ++i;
        if (i >= n)
            break;
        std::string arg;
        bool inQuotes = false;
        while (i < n) {
            const char c = s[i];
            if (!inQuotes && (c == ' ' || c == '\t'))
                break;
            if (c == '\\') {
                size_t count = 0;
                while (i < n && s[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < n && s[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(count, '\\');
                }
                continue;
            }
            if (c == '"') {
                if (inQuotes && i + 1 < n && s[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    inQuotes = !inQuotes;
                    ++i;
                }
                continue;
            }
            arg += c;
            ++i;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string QuotePath(const std::string& path)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : path) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(2 * backslashes + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string ProgramDir()
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return ".";
    return exe.parent_path().string();
}

namespace {

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (!dir.empty() && dir.back() == '/')
        return dir + name;
    return dir + "/" + name;
}

bool IsProgram(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string FindConverter(const std::string& name, const std::string& startDir)
{
    const std::string inStartDir = JoinPath(startDir, name);
    if (IsProgram(inStartDir))
        return inStartDir;
    const std::string besideProgram = JoinPath(ProgramDir(), name);
    if (IsProgram(besideProgram))
        return besideProgram;
#ifdef PW_CONVERTER_DIR_FROM_PROGRAM
    // Installed, the converters live in the program folder of their own.
    const std::string installed = JoinPath(ProgramDir() + "/" + PW_CONVERTER_DIR_FROM_PROGRAM, name);
    if (IsProgram(installed))
        return std::filesystem::path(installed).lexically_normal().string();
#endif
    const QString onPath = QStandardPaths::findExecutable(QFile::decodeName(name.c_str()));
    if (!onPath.isEmpty())
        return QFile::encodeName(onPath).toStdString();
    return inStartDir;
}

TConverterResult RunConverterProcess(const std::string& path, const std::string& parameters)
{
    TConverterResult result;
    QStringList arguments;
    for (const auto& arg : SplitParameters(parameters))
        arguments << QFile::decodeName(arg.c_str());

    QProcess process;
    process.setProgram(QFile::decodeName(path.c_str()));
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return result;
    result.Started = true;

    if (QCoreApplication::instance()) {
        // Sleeps in the event loop until the process ends; the loop also
        // ends when the application quits.
        QEventLoop loop;
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        if (process.state() != QProcess::NotRunning)
            loop.exec();
    } else {
        process.waitForFinished(-1);
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(-1);
        result.ErrorOutput = process.readAllStandardError().toStdString();
        return result;
    }
    result.ErrorOutput = process.readAllStandardError().toStdString();
    result.Finished = process.exitStatus() == QProcess::NormalExit;
    result.ExitCode = process.exitCode();
    return result;
}
