#pragma once
// Shared helpers for the tests: temporary folders, files, running programs
// and reading the PPM/PAM images that pinwright-cli and other tools write.
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace pwtest {

// Path of a fixture under tests/data.
std::string DataPath(const std::string& name);
// Path of a built program in build/bin.
std::string BinPath(const std::string& name);

// Bytes from a string of '0' and '1' (other characters ignored), the first
// bit in the most significant position, the last byte padded with 0 bits.
std::vector<uint8_t> Bits(const std::string& text);

// Reproducible random bytes, for comparing vector routines with their
// reference loops.
class RandomBytes {
public:
    explicit RandomBytes(uint32_t seed) : FEngine(seed) {}
    std::vector<uint8_t> operator()(size_t n);

private:
    std::mt19937 FEngine;
};

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return FPath; }
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

std::vector<uint8_t> ReadBytes(const std::string& fileName);
std::string ReadText(const std::string& fileName);
void WriteBytes(const std::string& fileName, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& fileName, const std::string& text);
bool FileExists(const std::string& fileName);
// The names in a folder.
std::set<std::string> Listing(const std::string& dir);
// Writes an executable script, a converter stand-in for instance.
void WriteProgram(const std::string& fileName, const std::string& text);

// A file of the sample scanned map under samples/.
std::string SamplePath(const std::string& name);
// The world file of the sample's control points (in its point file): 10 units
// per pixel, column 0 at Y 3500000, row 0 at X 5405000; lines end in CR LF.
extern const char* const SampleWorldFile;

struct CommandResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};
// Runs argv (argv[0] looked up on PATH when it has no slash), no shell.
CommandResult Run(const std::vector<std::string>& argv);
// True when a program is on PATH.
bool HaveProgram(const std::string& name);

// An image as 8-bit samples, interleaved, channels 1 (grey), 3 (RGB) or 4 (RGBA).
struct Image {
    int Width = 0;
    int Height = 0;
    int Channels = 0;
    std::vector<uint8_t> Pixels;
    bool operator==(const Image&) const = default;
};
// Reads binary PPM (P6), PGM (P5) or PAM (P7) with maxval 255; raises on others.
Image ReadNetpbm(const std::string& fileName);
// Writes P6 (3 channels) or P5 (1 channel).
void WriteNetpbm(const std::string& fileName, const Image& image);
// Same image widened to RGB (grey repeated; alpha dropped).
Image ToRGB(const Image& image);
// Peak signal-to-noise ratio in dB between images of equal size (inf when equal).
double PSNR(const Image& a, const Image& b);
// Text of the first difference, for assertion messages ("" when equal).
std::string FirstDifference(const Image& a, const Image& b);

} // namespace pwtest
