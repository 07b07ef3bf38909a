#include "georef/converter.h"
#include "georef/export_pipeline.h"

#include "platform/exceptions.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>

namespace {

using Args = std::vector<std::string>;

TEST(SplitParameters, AsAWindowsCommandLineIsSplit)
{
    const struct {
        const char* Parameters;
        Args Expected;
    } cases[] = {
        {R"( -c packbits "/my maps/a.bmp" "/out/temporar.tif")", {"-c", "packbits", "/my maps/a.bmp", "/out/temporar.tif"}},
        {R"(-c packbits -e "/d/temporar.tfw" "/d/temporar.tif" "/d/temporar.tmp")",
         {"-c", "packbits", "-e", "/d/temporar.tfw", "/d/temporar.tif", "/d/temporar.tmp"}},
        {"", {}},
        {" \t ", {}},
        {R"("")", {""}},
        {R"(a""b)", {"ab"}},
        {R"("a""b")", {"a\"b"}},
        {R"(a\"b)", {"a\"b"}},
        {R"(a\\"b c")", {"a\\b c"}},
        {R"(a\\\"b)", {"a\\\"b"}},
        {R"(a\b\\c)", {"a\\b\\\\c"}},
        {"x\ty  z", {"x", "y", "z"}},
        {R"("open ended)", {"open ended"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitParameters(c.Parameters), c.Expected) << c.Parameters;
}

TEST(QuotePath, SplitsBackWhole)
{
    for (const char* path : {"/tmp/a b/map.bmp", "/plain", "/q\"uote/x", "/trailing\\", "/back\\\"slash", "/two\\\\"}) {
        const std::string quoted = QuotePath(path);
        EXPECT_EQ(SplitParameters(std::string(" -c packbits ").append(quoted).append(" ").append(quoted)),
                  (Args{"-c", "packbits", path, path}))
            << quoted;
    }
    EXPECT_EQ(QuotePath("/tmp/a b/map.bmp"), "\"/tmp/a b/map.bmp\"");
}

TEST(SplitTargetName, FolderAndNameWithoutItsLastExtension)
{
    const struct {
        const char* FileName;
        const char* TargetDir;
        const char* BaseName;
    } cases[] = {
        {"/tmp/x/map.tif", "/tmp/x/", "map"},
        {"/tmp/x/map", "/tmp/x/", "map"},
        {"/tmp/x/map.tiff", "/tmp/x/", "map"},
        {"/tmp/x/my.map.v2.jgw", "/tmp/x/", "my.map.v2"},
        {"/tmp/x.d/map", "/tmp/x.d/", "map"},
        {"/tmp/x/.tif", "/tmp/x/", ".tif"},
        {"/map.jgw", "/", "map"},
        {"map.tif", "", "map"},
    };
    for (const auto& c : cases) {
        TExportPipeline pipeline("/");
        pipeline.SplitTargetName(c.FileName);
        EXPECT_EQ(pipeline.TargetDir(), c.TargetDir) << c.FileName;
        EXPECT_EQ(pipeline.BaseName(), c.BaseName) << c.FileName;
        EXPECT_EQ(pipeline.TemporaryFile(".tfw"), std::string(c.TargetDir) + "temporar.tfw");
    }
}

void WriteScript(const std::string& fileName, const std::string& body)
{
    pwtest::WriteText(fileName, "#!/bin/sh\n" + body + "\n");
    ::chmod(fileName.c_str(), 0755);
}

TEST(FindConverter, StartDirThenBesideTheProgramThenPath)
{
    pwtest::TempDir dir;
    EXPECT_EQ(FindConverter("sh", dir.Path()), "/usr/bin/sh");
    EXPECT_EQ(FindConverter("no-such-converter", dir.Path()), dir.File("no-such-converter"));
    WriteScript(dir.File("sh"), "exit 0");
    EXPECT_EQ(FindConverter("sh", dir.Path()), dir.File("sh"));
    // Not executable: not taken.
    pwtest::WriteText(dir.File("cat"), "");
    EXPECT_EQ(FindConverter("cat", dir.Path()), "/usr/bin/cat");
    EXPECT_EQ(FindConverter("georef_tests", dir.Path()), ProgramDir() + "/georef_tests");
}

// The pipeline's converter step against stand-ins in StartDir.
TEST(RunConverter, FailuresNameTheConverter)
{
    pwtest::TempDir dir;
    const std::string output = dir.File("out.tif");
    WriteScript(dir.File("fails"), "echo 'first line' >&2; echo 'it went wrong.' >&2; exit 3");
    WriteScript(dir.File("silent"), "exit 0");
    WriteScript(dir.File("crashes"), "kill -SEGV $$");
    WriteScript(dir.File("empty"), "touch \"$1\"");
    WriteScript(dir.File("broken"), "exit 0");
    pwtest::WriteText(dir.File("broken"), "#!/no/such/interpreter\n");
    WriteScript(dir.File("works"), "echo made > \"$1\"");

    const struct {
        const char* Name;
        const char* Message;
        bool StartNotice;
    } cases[] = {
        {"fails", "The converter fails failed with exit code 3: it went wrong.", false},
        {"silent", "The converter silent made no output file", false},
        {"empty", "The converter empty made no output file", false},
        {"crashes", "The converter crashes did not finish", false},
        {"broken", "Cannot start the converter broken", true},
        {"no-such-converter", "Cannot start the converter no-such-converter", true},
    };
    for (const auto& c : cases) {
        TExportPipeline pipeline(dir.Path());
        std::vector<std::string> notices;
        pipeline.ShowMessage = [&](const std::string& m) { notices.push_back(m); };
        try {
            pipeline.RunConverter(c.Name, QuotePath(output), output);
            ADD_FAILURE() << c.Name;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Message);
        }
        EXPECT_EQ(notices, c.StartNotice ? std::vector<std::string>{"Error starting module!"}
                                         : std::vector<std::string>{})
            << c.Name;
        std::filesystem::remove(output);
    }
    TExportPipeline pipeline(dir.Path());
    pipeline.RunConverter("works", std::string(" ").append(QuotePath(output)), output);
    EXPECT_EQ(pwtest::ReadText(output), "made\n");
}

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

TEST(RunConverterProcess, EventsRunDuringTheWaitWithoutSpinning)
{
    int argc = 1;
    char name[] = "georef_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    const TConverterResult result = RunConverterProcess("/bin/sleep", "0.6");
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = CpuSeconds() - cpuBefore;
    EXPECT_TRUE(result.Started);
    EXPECT_TRUE(result.Finished);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_GE(wall, 0.55);
    EXPECT_GE(ticks, 10);
    EXPECT_LT(cpu, 0.2 * wall);

    // Closing the program during a wait quits the main loop: the wait ends
    // and the converter is stopped.
    TConverterResult cut;
    double waited = 0;
    QTimer::singleShot(0, &app, [&] {
        const auto before = std::chrono::steady_clock::now();
        cut = RunConverterProcess("/bin/sleep", "10");
        waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    });
    QTimer::singleShot(100, &app, [] { QCoreApplication::quit(); });
    app.exec();
    EXPECT_LT(waited, 5);
    EXPECT_TRUE(cut.Started);
    EXPECT_FALSE(cut.Finished);
}

TEST(RunConverterProcess, WaitsWithoutAnApplication)
{
    const TConverterResult result = RunConverterProcess("/bin/sh", R"(-c "echo oops >&2; exit 4")");
    EXPECT_TRUE(result.Started);
    EXPECT_TRUE(result.Finished);
    EXPECT_EQ(result.ExitCode, 4);
    EXPECT_EQ(result.ErrorOutput, "oops\n");
}

} // namespace
