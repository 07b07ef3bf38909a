// pinwright-cli's help, usage errors and georef --batch over a list of sheets.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using pwtest::Listing;
using pwtest::SamplePath;

pwtest::CommandResult Cli(std::vector<std::string> args)
{
    args.insert(args.begin(), pwtest::BinPath("pinwright-cli"));
    return pwtest::Run(args);
}

std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

std::string LastLine(const std::string& text)
{
    const std::string trimmed = text.substr(0, text.find_last_not_of('\n') + 1);
    return trimmed.substr(trimmed.rfind('\n') + 1);
}

std::set<std::string> Lines(const std::string& text)
{
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.insert(line);
    return lines;
}

// The lines only one of the two holds, for a readable failure.
std::string Difference(const std::set<std::string>& actual, const std::set<std::string>& expected)
{
    std::string text;
    for (const auto& line : actual)
        if (!expected.count(line))
            text += "+ " + line + "\n";
    for (const auto& line : expected)
        if (!actual.count(line))
            text += "- " + line + "\n";
    return text;
}

TEST(CliHelpAndUsage, ExitStatusAndTexts)
{
    pwtest::TempDir dir;
    pwtest::WriteText(dir.File("nameless.csv"), "image,p1\nscan.bmp,\"1,1\"\n");
    pwtest::WriteText(dir.File("twice.csv"), "image,out,p1,p1\n");
    pwtest::WriteText(dir.File("batchy.csv"), "image,out,batch\n");
    const std::string georefUsage = "Usage: pinwright-cli georef IMAGE --p1 COL,ROW --p2 COL,ROW "
                                    "(--map Y1,X1,Y2,X2 | --points FILE) --out TARGET [OPTIONS].";
    const std::string batchUsage = "Usage: pinwright-cli georef --batch LIST.csv [--jobs N] [--resume] [--mosaic FILE.vrt].";
    const std::string mainUsage = "Usage: pinwright-cli info FILE | convert FILE OUT | georef ARGUMENTS | check FILE... | snap IMAGE COL,ROW | corners IMAGE | grid ARGUMENTS.";
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Out;  // first line of standard output
        std::string Err;  // standard error, all of it
    } cases[] = {
        {{"--help"}, 0, "Usage: pinwright-cli COMMAND ARGUMENTS", ""},
        {{"--version"}, 0, "pinwright-cli 1.3", ""},
        {{"info", "--help"}, 0, "Usage: pinwright-cli info FILE", ""},
        {{"convert", "--help"}, 0, "Usage: pinwright-cli convert FILE OUT", ""},
        {{"georef", "--help"}, 0, "Usage: pinwright-cli georef IMAGE --p1 COL,ROW --p2 COL,ROW", ""},
        {{"check", "--help"}, 0, "Usage: pinwright-cli check FILE...", ""},
        {{"check", "a.tif", "--help"}, 0, "Usage: pinwright-cli check FILE...", ""},
        {{"--help-all"}, 0, "Usage: pinwright-cli COMMAND ARGUMENTS", ""},
        {{}, 2, "", "pinwright-cli: no command given\n" + mainUsage + "\n"},
        {{"frobnicate"}, 2, "", "pinwright-cli: unknown command frobnicate\n" + mainUsage + "\n"},
        {{"--threads", "0", "check", "a.bmp"}, 2, "",
         "pinwright-cli: --threads needs a number from 1 to 256, not '0'\n"
         "Usage: pinwright-cli --threads N COMMAND ARGUMENTS.\n"},
        {{"georef", "a.bmp", "--scale", "2"}, 2, "", "pinwright-cli: unknown option --scale\n" + georefUsage + "\n"},
        {{"georef", "a.bmp", "--p1"}, 2, "", "pinwright-cli: option --p1 needs a value\n" + georefUsage + "\n"},
        {{"georef", "a.bmp", "b.bmp"}, 2, "", "pinwright-cli: a second image b.bmp\n" + georefUsage + "\n"},
        {{"georef", "a.bmp", "--p1", "1,1", "--out", "x.tif"}, 2, "",
         "pinwright-cli: georef needs an image, --p1, --p2 and --out\n" + georefUsage + "\n"},
        {{"georef", "a.bmp", "--p1", "1,1", "--p2", "2,2", "--out", "x.tif"}, 2, "",
         "pinwright-cli: georef needs either --map or --points\n" + georefUsage + "\n"},
        {{"georef", "--batch"}, 2, "", "pinwright-cli: option --batch needs a value\n" + batchUsage + "\n"},
        {{"georef", "--batch", "l.csv", "--jobs", "0"}, 2, "",
         "pinwright-cli: --jobs needs a number from 1 to 256, not '0'\n" + batchUsage + "\n"},
        {{"georef", "--batch", "l.csv", "--negate"}, 2, "",
         "pinwright-cli: unknown option --negate (in a batch, options go into the list's columns)\n" + batchUsage +
             "\n"},
        {{"georef", "--batch", "-", "--resume"}, 2, "",
         "pinwright-cli: --resume needs a list file, not standard input\n" + batchUsage + "\n"},
        {{"georef", "--batch", dir.File("none.csv")}, 1, "",
         "Cannot open the list \"" + dir.File("none.csv") + "\". No such file or directory.\n"},
        {{"georef", "--batch", dir.File("nameless.csv")}, 1, "",
         dir.File("nameless.csv") + ": the header needs the columns image and out.\n"},
        {{"georef", "--batch", dir.File("twice.csv")}, 1, "",
         dir.File("twice.csv") + ": the column 'p1' appears twice.\n"},
        {{"georef", "--batch", dir.File("batchy.csv")}, 1, "",
         dir.File("batchy.csv") +
             ": 'batch' cannot name a column (image, out, or a georef option without its dashes).\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args.empty() ? "(none)" : c.Args.front() + " " + (c.Args.size() > 1 ? c.Args[1] : ""));
        const auto result = Cli(c.Args);
        EXPECT_EQ(result.ExitCode, c.ExitCode);
        EXPECT_EQ(FirstLine(result.Out), c.Out);
        EXPECT_EQ(result.Err, c.Err);
    }
}

// 41 sheets made from the sample: its coordinates shifted and its scale
// changed sheet by sheet, BMP and JPEG, GeoTIFF and JGW targets all in one
// folder, a point file, the sign toggle; and seven that fail.
struct TSheetRow {
    std::string Image, P1, P2, Map, Points, Out, Negate;
    std::string Failure; // expected report message; "" for a good sheet
};

std::vector<TSheetRow> SheetRows(const std::string& out)
{
    std::vector<TSheetRow> rows;
    for (int i = 0; i < 34; ++i) {
        TSheetRow row;
        row.Image = SamplePath(i % 3 == 1 ? "sample_map.jpg" : "sample_map.bmp");
        row.P1 = std::to_string(100 + i) + ",100";
        row.P2 = std::to_string(500 + 2 * i) + ",400";
        const int east = 3501000 + 4000 * i;
        row.Map = std::to_string(east) + ",5404000," + std::to_string(east + 4000 + 100 * i) + ",5401000";
        if (i == 5) {
            row.Map.clear();
            row.Points = SamplePath("sample_map_points.txt");
        }
        row.Negate = i % 7 == 3 ? "yes" : "no";
        row.Out = out + "/sheet" + std::to_string(i) + (i % 4 == 2 ? ".jgw" : ".tif");
        rows.push_back(row);
    }
    const std::string map = "3501000,5404000,3505000,5401000";
    const std::string bmp = SamplePath("sample_map.bmp");
    rows.push_back({bmp, "1,1", "2,2", "1,2,3", "", out + "/three.tif", "", "'1,2,3' is not four map coordinates Y1,X1,Y2,X2."});
    rows.push_back({bmp, "1,1", "2,2", "3501000,54O4000,3505000,5401000", "", out + "/letter.tif", "",
                    "'54O4000' is not a valid floating point value."});
    rows.push_back({bmp, "100,100", "100,100", map, "", out + "/same.jgw", "", "Floating point division by zero."});
    rows.push_back({bmp, "100,100", "500,400", "1,2,1,2", "", out + "/noscale.tif", "",
                    "Points 1 and 2 have the same map coordinates, which give no scale."});
    const std::string missing = std::filesystem::path(SamplePath("no_such_scan.bmp")).lexically_normal().string();
    rows.push_back({missing, "100,100", "500,400", map, "", out + "/missing.tif", "",
                    "The converter bmp2tiff failed with exit code 1: Cannot open file \"" + missing +
                        "\". No such file or directory."});
    // A folder stands where the GeoTIFF should go: the target cannot be written.
    rows.push_back({bmp, "100,100", "500,400", map, "", out + "/blocked.tif", "", "I/O error 21."});
    rows.push_back({bmp, "100,100", "500,400", map, "", out + "/nofolder/x.tif", "", "File not found."});
    return rows;
}

std::string Quoted(const std::string& cell)
{
    return cell.find(',') == std::string::npos ? cell : "\"" + cell + "\"";
}

TEST(GeorefBatch, SheetsRunAsSingleCommandsAndResume)
{
    pwtest::TempDir dir;
    const std::string out = dir.File("out");
    std::filesystem::create_directories(out + "/blocked.tif");
    const auto rows = SheetRows(out);
    ASSERT_EQ(rows.size(), 41u);

    std::string list = "image,p1,p2,map,points,out,negate\n";
    for (const auto& r : rows)
        list += Quoted(r.Image) + "," + Quoted(r.P1) + "," + Quoted(r.P2) + "," + Quoted(r.Map) + "," + r.Points +
                "," + r.Out + "," + r.Negate + "\n";
    pwtest::WriteText(dir.File("sheets.csv"), list);

    std::set<std::string> report, expectedFiles = {"blocked.tif"}, resumed;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& r = rows[i];
        const std::string prefix = "line " + std::to_string(i + 2) + ", " + r.Out + ": ";
        report.insert(prefix + (r.Failure.empty() ? "ok" : "failed: " + r.Failure));
        resumed.insert(prefix + (r.Failure.empty() ? "skipped (done before)" : "failed: " + r.Failure));
        if (r.Failure.empty()) {
            const std::string name = std::filesystem::path(r.Out).filename().string();
            expectedFiles.insert(name);
            if (name.ends_with(".tif"))
                expectedFiles.insert(name.substr(0, name.size() - 4) + ".tfw");
        }
    }
    report.insert("41 sheets: 34 ok, 7 failed, 0 skipped");
    resumed.insert("41 sheets: 0 ok, 7 failed, 34 skipped");

    const auto batch = Cli({"georef", "--batch", dir.File("sheets.csv"), "--jobs", "2"});
    EXPECT_EQ(batch.ExitCode, 1) << batch.Err;
    EXPECT_EQ(batch.Err, "");
    EXPECT_EQ(Difference(Lines(batch.Out), report), "");
    EXPECT_EQ(LastLine(batch.Out), "41 sheets: 34 ok, 7 failed, 0 skipped");
    // Nothing half-written: exactly the good sheets' files, no private folder,
    // no temporary file.
    EXPECT_EQ(Listing(out), expectedFiles);
    EXPECT_TRUE(Listing(out + "/blocked.tif").empty());

    // Each sheet as a single command: the same files, the same message.
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& r = rows[i];
        SCOPED_TRACE(r.Out);
        if (r.Failure.empty() && i % 3 != 0)
            continue; // a third of the good sheets is enough to compare bytes
        pwtest::TempDir single;
        const std::string name = std::filesystem::path(r.Out).filename().string();
        const std::string target = r.Failure.empty() ? single.File(name) : r.Out;
        std::vector<std::string> args = {"georef", r.Image, "--p1", r.P1, "--p2", r.P2};
        if (!r.Map.empty())
            args.insert(args.end(), {"--map", r.Map});
        if (!r.Points.empty())
            args.insert(args.end(), {"--points", r.Points});
        if (r.Negate == "yes")
            args.push_back("--negate");
        args.insert(args.end(), {"--out", target});
        const auto result = Cli(args);
        if (!r.Failure.empty()) {
            EXPECT_EQ(LastLine(result.Err), r.Failure);
            continue;
        }
        ASSERT_EQ(result.ExitCode, 0) << result.Err;
        for (const auto& file : Listing(single.Path()))
            EXPECT_EQ(pwtest::ReadBytes(single.File(file)), pwtest::ReadBytes(out + "/" + file)) << file;
    }

    // A second run redoes only the failed sheets; one whose target has gone
    // is redone as well.
    std::filesystem::remove(out + "/sheet7.tfw");
    const auto again = Cli({"georef", "--batch", dir.File("sheets.csv"), "--resume", "--jobs", "2"});
    EXPECT_EQ(again.ExitCode, 1);
    resumed.erase("line 9, " + out + "/sheet7.tif: skipped (done before)");
    resumed.insert("line 9, " + out + "/sheet7.tif: ok");
    resumed.erase("41 sheets: 0 ok, 7 failed, 34 skipped");
    resumed.insert("41 sheets: 1 ok, 7 failed, 33 skipped");
    EXPECT_EQ(Difference(Lines(again.Out), resumed), "");
    EXPECT_EQ(Listing(out), expectedFiles);
}

// pinwright-cli georef --batch sheets.csv [--resume] started in folder, its
// report going to folder/report.txt.
pid_t StartBatch(const std::string& folder, bool resume)
{
    const std::string cli = pwtest::BinPath("pinwright-cli");
    const char* argv[] = {cli.c_str(), "georef", "--batch", "sheets.csv", "--jobs", "2", resume ? "--resume" : nullptr,
                          nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "report.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    posix_spawn(&pid, cli.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Polls until done() or the limit; false when the limit came first.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Batches stopped by SIGINT or SIGTERM at 20 random moments, each run
// resuming the one before until every quick sheet is done, then afresh. The
// last sheet's converter sleeps a minute while the file "slow" exists, so a
// batch that waited for a sheet before acting on a stop would not end in
// time. After every stop the target folder holds exactly the files of the
// sheets reported done, each whole, and a resume skips only those.
TEST(GeorefBatch, StoppedAtRandomMomentsLeavesWholeTargetsAndAJournal)
{
    pwtest::TempDir dir;
    const std::string out = dir.File("out");
    std::filesystem::create_directory(out);
    pwtest::WriteProgram(dir.File("bmp2tiff"), "#!/bin/sh\n[ -e " + dir.File("slow") + " ] && exec sleep 60\nexec " +
                                                   pwtest::BinPath("bmp2tiff") + " \"$@\"\n");
    const int sheets = 7;
    std::string list = "image,p1,p2,map,out\n";
    for (int i = 0; i < sheets; ++i)
        list += SamplePath("sample_map.bmp") + ",\"100,100\",\"500,400\",\"3501000,5404000,3505000,5401000\"," + out +
                "/s" + std::to_string(i) + (i + 1 < sheets ? ".jgw\n" : ".tif\n");
    pwtest::WriteText(dir.File("sheets.csv"), list);
    auto filesOf = [](int sheet) {
        const std::string s = "s" + std::to_string(sheet);
        return sheet + 1 < sheets ? std::set<std::string>{s + ".jgw"} : std::set<std::string>{s + ".tif", s + ".tfw"};
    };
    // Whole files: every world file is the sample's.
    auto expectWhole = [&](const std::set<int>& done) {
        std::set<std::string> expected;
        for (const int sheet : done)
            expected.merge(filesOf(sheet));
        ASSERT_EQ(Listing(out), expected);
        for (const auto& name : expected) {
            if (!name.ends_with(".tif")) {
                EXPECT_EQ(pwtest::ReadText(out + "/" + name), pwtest::SampleWorldFile) << name;
            }
        }
    };

    pwtest::WriteText(dir.File("slow"), "");
    std::mt19937 random(20261209);
    std::set<int> done;
    int stoppedWhileRunning = 0;
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const bool resume = done.size() < sheets - 1;
        if (!resume) {
            std::filesystem::remove_all(out);
            std::filesystem::create_directory(out);
            done.clear();
        }
        const int okBefore = std::uniform_int_distribution<int>(0, 1)(random);
        const int delay = std::uniform_int_distribution<int>(0, 50)(random);
        const int signal = run % 2 ? SIGINT : SIGTERM;
        const pid_t pid = StartBatch(dir.Path(), resume && run > 0);
        ASSERT_GT(pid, 0);
        // A sheet's private folder shows that the batch has begun.
        WaitUntil([&] {
            const std::string report = pwtest::ReadText(dir.File("report.txt"));
            const auto names = Listing(out);
            const bool begun = std::any_of(names.begin(), names.end(),
                                           [](const std::string& n) { return n.starts_with(".pinwright-sheet-"); });
            return (begun || report.find(": ok\n") != std::string::npos) &&
                   (okBefore == 0 || report.find(": ok\n") != std::string::npos);
        }, std::chrono::seconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        ::kill(pid, signal);
        int status = 0;
        if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(5))) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            FAIL() << "the batch did not stop within 5 s of the signal";
        }
        const std::string report = pwtest::ReadText(dir.File("report.txt"));
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(report, ""); // stopped before it took the signals in hand
            continue;
        }
        EXPECT_EQ(WEXITSTATUS(status), 1) << report;
        stoppedWhileRunning += report.find("ended by signal") != std::string::npos;
        std::istringstream lines(report);
        for (std::string line; std::getline(lines, line);) {
            const int sheet = line.starts_with("line ") ? std::stoi(line.substr(5)) - 2 : -1;
            if (line.ends_with(": ok")) {
                EXPECT_TRUE(done.insert(sheet).second) << "done again: " << line;
            } else if (line.ends_with(": skipped (done before)")) {
                EXPECT_TRUE(done.count(sheet)) << "skipped but never done: " << line;
            }
        }
        expectWhole(done);
    }
    EXPECT_GE(stoppedWhileRunning, 15);

    std::filesystem::remove(dir.File("slow"));
    const pid_t last = StartBatch(dir.Path(), true);
    int status = 0;
    ASSERT_TRUE(WaitUntil([&] { return ::waitpid(last, &status, WNOHANG) == last; }, std::chrono::seconds(60)));
    EXPECT_EQ(status, 0);
    EXPECT_NE(pwtest::ReadText(dir.File("report.txt")).find(" ok, 0 failed, " + std::to_string(done.size()) + " skipped"),
              std::string::npos);
    std::set<int> all;
    for (int i = 0; i < sheets; ++i)
        all.insert(i);
    expectWhole(all);
}

} // namespace
