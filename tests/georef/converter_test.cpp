#include "georef/converter.h"
#include "georef/export_pipeline.h"

#include "platform/exceptions.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace {

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
            pipeline.RunConverter(c.Name, {output}, output);
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
    pipeline.RunConverter("works", {output}, output);
    EXPECT_EQ(pwtest::ReadText(output), "made\n");
}

TEST(RunConverterProcess, TheCallerRunsBetweenSlicesAndCanStopTheConverter)
{
    const struct {
        const char* Name;
        const char* Seconds;
        int StopAfter; // slices until the caller says stop; 0: never
        bool Finished;
    } cases[] = {
        {"runs to its end", "0.3", 0, true},
        {"stopped by the caller", "10", 3, false},
    };
    for (const auto& c : cases) {
        int slices = 0;
        const auto before = std::chrono::steady_clock::now();
        const TConverterResult result = RunConverterProcess("/bin/sleep", {c.Seconds}, [&](std::chrono::milliseconds slice) {
            std::this_thread::sleep_for(slice);
            return ++slices != c.StopAfter;
        });
        const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
        EXPECT_TRUE(result.Started) << c.Name;
        EXPECT_EQ(result.Finished, c.Finished) << c.Name;
        EXPECT_EQ(result.ExitCode, c.Finished ? 0 : -1) << c.Name;
        EXPECT_LT(waited, 5) << c.Name;
        EXPECT_GE(slices, c.Finished ? 5 : c.StopAfter) << c.Name;
    }
}

TEST(RunConverterProcess, BlocksWithoutACallerAndKeepsTheErrorOutput)
{
    const TConverterResult result = RunConverterProcess("/bin/sh", {"-c", "echo oops >&2; exit 4"});
    EXPECT_TRUE(result.Started);
    EXPECT_TRUE(result.Finished);
    EXPECT_EQ(result.ExitCode, 4);
    EXPECT_EQ(result.ErrorOutput, "oops\n");
}

} // namespace
