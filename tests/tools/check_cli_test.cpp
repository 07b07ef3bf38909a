// pinwright-cli on pictures without pixels and files that end early: check's
// lines and status, convert's refusal and warning, and a convert stopped by a
// signal, which leaves no temporary file.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

pwtest::CommandResult Cli(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), pwtest::BinPath("pinwright-cli"));
    return pwtest::Run(arguments);
}

// Autodesk, 4 x 3, its data ending after pixelBytes bytes.
std::string Autodesk(size_t pixelBytes)
{
    std::string pic(800 + pixelBytes, '\0');
    pic[0] = 0x19, pic[1] = char(0x91), pic[2] = 4, pic[4] = 3, pic[10] = 8;
    return pic;
}

// Dr. Halo, 0 pixels wide and one row high.
const std::string EmptyCut("\0\0\1\0\0\0\0\0", 8);
// Targa of image type 0 (no pixel data), declaring 41792 x 25443 pixels.
const std::string TypeZeroTarga("\0\0\0\0\0\0\0\0\0\0\0\0\x40\xa3\x63\x63\x18\0\0", 19);
// Photoshop in colour mode 5, which gives no pixels, declaring 40000 x 30000.
const std::string UnknownModePsd("8BPS\0\1\0\0\0\0\0\0\0\3\0\0\x75\x30\0\0\x9c\x40\0\x08\0\5"
                                 "\0\0\0\0\0\0\0\0\0\0\0\0\0\0",
                                 40);

TEST(CheckCli, OneLinePerFileAndStatusOneWhenAnyFailed)
{
    pwtest::TempDir dir;
    const std::string ok = dir.File("ok.pic"), cut = dir.File("cut.pic"), empty = dir.File("empty.cut"),
                      bad = dir.File("bad.pcx");
    pwtest::WriteText(ok, Autodesk(12));
    pwtest::WriteText(cut, Autodesk(6));
    pwtest::WriteText(empty, EmptyCut);
    pwtest::WriteText(bad, "no");

    struct Case {
        std::vector<std::string> Files;
        int Status;
        std::string Out;
    } cases[] = {
        {{ok, cut}, 0, ok + ": ok (4 x 3)\n" + cut + ": ended early at row 1 (4 x 3)\n"},
        {{empty, ok}, 1, empty + ": The file holds no image.\n" + ok + ": ok (4 x 3)\n"},
        {{bad}, 1, bad + ": Stream read error.\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {"check"};
        arguments.insert(arguments.end(), c.Files.begin(), c.Files.end());
        const pwtest::CommandResult r = Cli(arguments);
        EXPECT_EQ(r.ExitCode, c.Status) << r.Err;
        EXPECT_EQ(r.Out, c.Out);
    }
}

TEST(CheckCli, ConvertRefusesAnEmptyPictureAndWarnsOfAnEarlyEnd)
{
    pwtest::TempDir dir;
    const std::string cut = dir.File("cut.pic");
    pwtest::WriteText(cut, Autodesk(6));

    // Pictures that get none of the rows they declare: check and convert
    // give the same answer, and info describes them as 0 x 0.
    const std::pair<const char*, std::string> empties[] = {
        {"empty.cut", EmptyCut}, {"none.tga", TypeZeroTarga}, {"mode5.psd", UnknownModePsd}};
    for (const auto& [name, bytes] : empties) {
        SCOPED_TRACE(name);
        const std::string empty = dir.File(name);
        pwtest::WriteText(empty, bytes);
        const pwtest::CommandResult checked = Cli({"check", empty});
        EXPECT_EQ(checked.ExitCode, 1);
        EXPECT_EQ(checked.Out, empty + ": The file holds no image.\n");
        const pwtest::CommandResult refused = Cli({"convert", empty, dir.File("a.png")});
        EXPECT_EQ(refused.ExitCode, 1);
        EXPECT_EQ(refused.Err, "The file holds no image.\n");
        EXPECT_FALSE(std::filesystem::exists(dir.File("a.png")));
        const pwtest::CommandResult info = Cli({"info", empty});
        EXPECT_EQ(info.ExitCode, 0);
        EXPECT_NE(info.Out.find("\"width\": 0,"), std::string::npos) << info.Out;
    }

    const pwtest::CommandResult warned = Cli({"convert", cut, dir.File("b.ppm")});
    EXPECT_EQ(warned.ExitCode, 0);
    EXPECT_EQ(warned.Err, "Warning: " + cut + ": The file ends early, in row 1; the rest of the image is empty.\n");
    EXPECT_EQ(pwtest::ReadText(dir.File("b.ppm")).size(), std::string("P6\n4 3\n255\n").size() + 36);
}

// Run-length coded 8-bit grey Targa declaring 65535 x 65535 whose 8.7 KB of
// data (67 literal packets of 128 pixels) end inside its first row.
std::string TargaEndingInItsFirstRow()
{
    std::string tga("\0\0\x0b\0\0\0\0\0\0\0\0\0\xff\xff\xff\xff\x08\0", 18);
    for (int i = 0; i < 67; ++i)
        tga += '\x7f' + std::string(128, '\x40');
    return tga;
}

TEST(CheckCli, PictureEndingInItsFirstRowHoldsNoImage)
{
    pwtest::TempDir dir;
    const std::pair<const char*, std::string> files[] = {
        {"huge.tga", TargaEndingInItsFirstRow()}, {"row0.pic", Autodesk(3)}};
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const std::string file = dir.File(name);
        pwtest::WriteText(file, bytes);
        const pwtest::CommandResult checked = Cli({"check", file});
        EXPECT_EQ(checked.ExitCode, 1);
        EXPECT_EQ(checked.Out, file + ": The file holds no image.\n");
        const pwtest::CommandResult refused = Cli({"convert", file, dir.File("a.ppm")});
        EXPECT_EQ(refused.ExitCode, 1);
        EXPECT_EQ(refused.Err, "The file holds no image.\n");
        EXPECT_FALSE(std::filesystem::exists(dir.File("a.ppm")));
    }
}

TEST(CheckCli, StoppedConvertLeavesNoTemporaryFile)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        pwtest::TempDir dir;
        // A large grey image of noise, so that compressing its PNG takes a
        // while even on a fast machine.
        const std::string input = dir.File("big.pgm");
        {
            std::ofstream out(input, std::ios::binary);
            out << "P5\n6000 6000\n255\n";
            std::string row(6000, '\0');
            uint32_t state = 2463534242u;
            for (int y = 0; y < 6000; ++y) {
                for (char& c : row) {
                    state ^= state << 13;
                    state ^= state >> 17;
                    state ^= state << 5;
                    c = static_cast<char>(state >> 24);
                }
                out << row;
            }
        }
        const std::string cli = pwtest::BinPath("pinwright-cli"), output = dir.File("big.png");
        const char* argv[] = {cli.c_str(), "convert", input.c_str(), output.c_str(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, cli.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        // Stop it once its temporary output exists.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool seen = false;
        while (!seen && std::chrono::steady_clock::now() < deadline) {
            for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
                seen = seen || entry.path().filename().string().rfind(".big.png.", 0) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(seen) << "no temporary output appeared";
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the convert ended before the signal";
        EXPECT_EQ(WTERMSIG(status), signal);
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"big.pgm"});
    }
}

} // namespace
