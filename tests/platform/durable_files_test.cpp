// Putting files into place durably: what is synced and renamed, in which
// order, and the errors of names that cannot be synced or renamed.
#include "platform/durable_files.h"
#include "platform/exceptions.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(DurableFiles, StepsInOrderAndErrors)
{
    pwtest::TempDir dir;
    const std::string folder = dir.Path(), sub = dir.File("sub");
    std::filesystem::create_directory(sub);
    pwtest::WriteText(dir.File("a.tmp"), "text");
    pwtest::WriteText(dir.File("b.tmp"), "text");
    pwtest::WriteText(dir.File("c.points"), "old");

    const struct {
        const char* Name;
        std::function<void()> Call;
        std::vector<std::string> Steps; // "file NAME", "rename FROM -> TO", "folder NAME"
        std::string Error;
    } cases[] = {
        {"a closed file", [&] { SyncFile(dir.File("a.tmp")); }, {"file " + dir.File("a.tmp")}, ""},
        {"a rename in its folder, then the folder",
         [&] { RenameDurably(dir.File("a.tmp"), dir.File("a.tif")); },
         {"rename " + dir.File("a.tmp") + " -> " + dir.File("a.tif"), "folder " + folder}, ""},
        {"a move into another folder syncs the folder it goes to",
         [&] { RenameDurably(dir.File("b.tmp"), sub + "/b.tif"); },
         {"rename " + dir.File("b.tmp") + " -> " + sub + "/b.tif", "folder " + sub}, ""},
        {"a missing file", [&] { SyncFile(dir.File("none")); }, {}, "File not found"},
        {"a file replaced whole: written aside, synced, renamed over it",
         [&] { ReplaceFileDurably(dir.File("c.points"), "new"); },
         {"file " + dir.File(".c.points.XXXXXX"), "rename " + dir.File(".c.points.XXXXXX") + " -> " + dir.File("c.points"),
          "folder " + folder},
         ""},
        {"nothing is replaced in a folder that is not there",
         [&] { ReplaceFileDurably(dir.File("none/c.points"), "new"); }, {}, "File not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> steps;
        const TDurableObserver before = SetDurableObserver([&](TDurableStep step, const std::string& name) {
            const char* kind = step == TDurableStep::SyncFile ? "file " : step == TDurableStep::Rename ? "rename "
                                                                                                       : "folder ";
            // The temporary name's six random letters.
            steps.push_back(kind + std::regex_replace(name, std::regex(R"(\.c\.points\.\w{6})"), ".c.points.XXXXXX"));
        });
        std::string error;
        try {
            c.Call();
        } catch (const EInOutError& e) {
            error = e.what();
        }
        SetDurableObserver(before);
        EXPECT_EQ(error, c.Error);
        EXPECT_EQ(steps, c.Steps);
    }
    EXPECT_EQ(pwtest::Listing(folder), (std::set<std::string>{"a.tif", "c.points", "sub"}));
    EXPECT_EQ(pwtest::ReadText(dir.File("c.points")), "new");
    EXPECT_EQ(pwtest::ReadText(sub + "/b.tif"), "text");
    EXPECT_EQ(FolderOf("map.tif"), ".");
}

} // namespace
