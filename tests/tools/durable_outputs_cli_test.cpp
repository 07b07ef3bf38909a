// What pinwright-cli asks of the system when it puts its outputs into place,
// traced by strace: each output's data are synced before the rename that
// gives it its name, and its folder after; a batch's journal is synced after
// the targets it records.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace {

using pwtest::SamplePath;

struct TEvent {
    std::string Call; // "sync" or "rename"
    std::string Path; // what was synced, or the new name
    std::string From; // the old name of a rename
};

// The fsync, fdatasync and rename calls that succeeded, per process, in order.
std::map<std::string, std::vector<TEvent>> ReadTrace(const std::string& folder)
{
    std::map<std::string, std::vector<TEvent>> processes;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::istringstream lines(pwtest::ReadText(entry.path().string()));
        for (std::string line; std::getline(lines, line);) {
            if (!line.ends_with(" = 0"))
                continue;
            TEvent event;
            if (line.starts_with("fsync(") || line.starts_with("fdatasync(")) {
                const size_t open = line.find('<'), close = line.find(">)");
                if (open == std::string::npos || close == std::string::npos)
                    continue;
                event = {"sync", line.substr(open + 1, close - open - 1), ""};
            } else if (line.starts_with("rename")) {
                std::vector<std::string> quoted;
                for (size_t at = line.find('"'); at != std::string::npos; at = line.find('"', at + 1)) {
                    const size_t end = line.find('"', at + 1);
                    quoted.push_back(line.substr(at + 1, end - at - 1));
                    at = end;
                }
                if (quoted.size() != 2)
                    continue;
                event = {"rename", quoted[1], quoted[0]};
            } else {
                continue;
            }
            processes[entry.path().filename().string()].push_back(event);
        }
    }
    return processes;
}

TEST(DurableOutputs, SyncedBeforeTheirRenameAndTheFolderAfter)
{
    if (!pwtest::HaveProgram("strace"))
        GTEST_SKIP() << "strace not installed";
    pwtest::TempDir dir;
    const std::string out = dir.File("out"), bmp = SamplePath("sample_map.bmp");
    std::filesystem::create_directory(out);
    const std::vector<std::string> georef = {"georef", bmp, "--p1", "100,100", "--p2", "500,400", "--map",
                                             "3501000,5404000,3505000,5401000", "--crs", "EPSG:31467"};
    pwtest::WriteText(dir.File("sheets.csv"), "image,p1,p2,map,out\n" + bmp +
                                                  ",\"100,100\",\"500,400\",\"3501000,5404000,3505000,5401000\"," +
                                                  out + "/b1.tif\n" + bmp +
                                                  ",\"100,100\",\"500,400\",\"3501000,5404000,3505000,5401000\"," +
                                                  out + "/b2.jgw\n");
    auto with = [&](std::vector<std::string> arguments, std::vector<std::string> more) {
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    };
    const struct {
        const char* Name;
        std::vector<std::string> Arguments;
        std::vector<std::string> Outputs;
        std::string Journal;
    } cases[] = {
        {"convert", {"convert", bmp, out + "/c.png"}, {"c.png"}, ""},
        {"georef, GeoTIFF", with(georef, {"--out", out + "/g.tif", "--write-points", out + "/g.points"}),
         {"g.tif", "g.tfw", "g.points"}, ""},
        {"georef, JGW", with(georef, {"--out", out + "/j.jgw"}), {"j.jgw", "j.prj", "j.bmp.aux.xml"}, ""},
        {"batch", {"georef", "--batch", dir.File("sheets.csv")}, {"b1.tif", "b1.tfw", "b2.jgw"},
         dir.File("sheets.csv.done")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string traces = dir.File(std::string("trace-") + c.Outputs.front());
        std::filesystem::create_directory(traces);
        std::vector<std::string> command = {"strace", "-f", "-ff", "-y", "-e",
                                            "trace=fsync,fdatasync,rename,renameat,renameat2", "-o",
                                            traces + "/pid", pwtest::BinPath("pinwright-cli")};
        command.insert(command.end(), c.Arguments.begin(), c.Arguments.end());
        const pwtest::CommandResult result = pwtest::Run(command);
        if (result.Err.find("PTRACE") != std::string::npos || result.Err.find("ptrace") != std::string::npos)
            GTEST_SKIP() << "strace cannot trace here: " << result.Err;
        ASSERT_EQ(result.ExitCode, 0) << result.Err;

        const auto processes = ReadTrace(traces);
        size_t lastRename = 0;
        std::vector<TEvent> journalProcess;
        for (const std::string& name : c.Outputs) {
            SCOPED_TRACE(name);
            const std::string target = out + "/" + name;
            bool found = false;
            for (const auto& [process, events] : processes) {
                for (size_t i = 0; i < events.size(); ++i) {
                    if (events[i].Call != "rename" || events[i].Path != target)
                        continue;
                    found = true;
                    bool syncedBefore = false, folderAfter = false;
                    for (size_t k = 0; k < i; ++k)
                        syncedBefore = syncedBefore || (events[k].Call == "sync" && events[k].Path == events[i].From);
                    for (size_t k = i + 1; k < events.size(); ++k)
                        folderAfter = folderAfter || (events[k].Call == "sync" && events[k].Path == out);
                    EXPECT_TRUE(syncedBefore) << events[i].From << " was not synced before its rename";
                    EXPECT_TRUE(folderAfter) << out << " was not synced after the rename";
                    lastRename = std::max(lastRename, i);
                    journalProcess = events;
                }
            }
            EXPECT_TRUE(found) << "no rename onto " << target;
        }
        if (!c.Journal.empty()) {
            // The batch records a sheet once its files are in place.
            size_t lastJournalSync = 0;
            for (size_t k = 0; k < journalProcess.size(); ++k)
                if (journalProcess[k].Call == "sync" && journalProcess[k].Path == c.Journal)
                    lastJournalSync = k;
            EXPECT_GT(lastJournalSync, lastRename);
        }
    }
}

} // namespace
