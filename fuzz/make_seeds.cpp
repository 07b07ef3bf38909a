// Writes hand-built seed files for the formats that no installed tool
// writes (Paint Shop Pro, RLA, Dr. Halo, Autodesk, Photo-CD), with the byte
// builders of the reader tests. Built and run by make_corpus.sh only.
#include "tests/imaging/readers/psp_test_builder.h"
#include "tests/imaging/readers/rla_test_builder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;

void Write(const std::string& dir, const std::string& name, const Bytes& bytes)
{
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Ramp(size_t n, int step)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(i * step / 3);
    return out;
}

void PaintShopPro(const std::string& dir)
{
    for (uint16_t major : {3, 5})
        for (uint16_t compression : {0, 1, 2}) {
            psptest::File f;
            f.Major = major;
            f.Width = 6, f.Height = 4, f.Depth = 24, f.Compression = compression;
            f.Layers = {{0, {{1, Ramp(24, 5)}, {2, Ramp(24, 7)}, {3, Ramp(24, 11)}}}};
            Write(dir, "rgb_v" + std::to_string(major) + "_c" + std::to_string(compression) + ".psp",
                  psptest::Build(f));
        }
    psptest::File pal;
    pal.Width = 5, pal.Height = 3, pal.Depth = 8, pal.Compression = 1;
    pal.Palette = {0xFF0000, 0x00FF00, 0x0000FF, 0x808080};
    pal.Layers = {{0, {{0, {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2}}}}};
    Write(dir, "pal8.psp", psptest::Build(pal));
    psptest::File grey;
    grey.Width = 9, grey.Height = 2, grey.Depth = 1, grey.Grey = true;
    grey.Layers = {{0, {{0, {0xA5, 0x80, 0x5A, 0x00}}}}};
    Write(dir, "grey1.psp", psptest::Build(grey));
}

void Rla(const std::string& dir)
{
    rlatest::RlaFile f;
    f.Right = 7, f.Top = 4;
    f.Rows = rlatest::Pattern(8, 5, 3);
    Write(dir, "rgb8.rla", rlatest::Build(f));
    f.MatteChannels = 1;
    f.Rows = rlatest::Pattern(8, 5, 4);
    Write(dir, "rgba8.rla", rlatest::Build(f));
    f.ColorChannels = 1, f.MatteChannels = 0;
    f.Rows = rlatest::Pattern(8, 5, 1);
    Write(dir, "grey8.rla", rlatest::Build(f));
}

// Dr. Halo: width, height, reserved word, rows of packets each behind its
// byte count and closed by 0; a run packet 0x80|n then a byte, a literal
// packet n then n bytes.
void Cut(const std::string& dir)
{
    Bytes out = {8, 0, 3, 0, 0, 0};
    for (int y = 0; y < 3; ++y) {
        const Bytes row = {0x84, uint8_t(y + 1), 4, 9, 8, 7, 6, 0};
        out.push_back(uint8_t(row.size())), out.push_back(0);
        out.insert(out.end(), row.begin(), row.end());
    }
    Write(dir, "rows.cut", out);
}

// Autodesk: 32-byte header (magic 0x9119, width, height), a 768-byte palette
// of 6-bit entries, then one byte a pixel.
void Autodesk(const std::string& dir)
{
    Bytes out(800, 0);
    out[0] = 0x19, out[1] = 0x91, out[2] = 4, out[4] = 3, out[10] = 8;
    for (size_t i = 0; i < 768; ++i)
        out[32 + i] = uint8_t((i * 7) % 64);
    for (uint8_t p = 0; p < 12; ++p)
        out.push_back(p);
    Write(dir, "pal8.pic", out);
}

// Photo-CD overview file: signature at 0, the count at 10, the first
// 192 x 128 image from sector 5, rows in pairs of luma then the two chroma
// rows at half width.
void PhotoCd(const std::string& dir)
{
    Bytes out(5 * 2048, 0);
    const char signature[] = "PCD_OPA";
    std::copy(signature, signature + 7, out.begin());
    out[11] = 1;
    for (int y = 0; y < 128; y += 2) {
        for (int x = 0; x < 2 * 192; ++x)
            out.push_back(uint8_t(x + y));
        for (int c = 0; c < 2; ++c)
            for (int x = 0; x < 192; x += 2)
                out.push_back(uint8_t(120 + c * 30 + (x & 15)));
    }
    Write(dir, "overview.pcd", out);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string corpus = argc > 1 ? argv[1] : "corpus";
    PaintShopPro(corpus + "/psp");
    Rla(corpus + "/rla");
    Cut(corpus + "/cut");
    Autodesk(corpus + "/pic");
    PhotoCd(corpus + "/pcd");
    return 0;
}
