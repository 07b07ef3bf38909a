// The map-frame finder over synthetic sheets with known corners
// (sheet_drawing.h): how many sheets have all four corners within 1, 2 and
// 3 pixels, how many are refused, the worst error of a sheet accepted, and
// the time the finder takes. Usage:
//   frame_bench [--sheets N] [--first SEED] [--megapixels MP] [--save DIR] [--verbose] [--bowed] [--variations]
// Sheet i is drawn from seed FIRST + i, its size set by the seed alone so
// that one sheet of a run can be drawn again on its own: every 40th seed at
// 100 to 120 megapixels, every 8th at 25 to 50, the others at 3 to 12.
// --megapixels draws every sheet at that size instead (small, low-resolution
// scans, where a thin neatline is faintest).
// --save writes the sheets found wrong or refused to DIR as PPM files.
// --bowed bows the neatline's sides of a third of the sheets (paper that is
// not flat), each side its own way up to 0.3 % of its length; the table
// then counts those sheets on a line of their own.
// --variations gives a quarter of the sheets each a graduated border right
// outside the neatline, a sea tint up to it, or a second line merging with
// a side (AddSheetVariation), and counts the sheets of each on a line.
#include "analysis/map_frame.h"
#include "bench/sheet_drawing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

double MegapixelsOf(uint32_t seed)
{
    const uint32_t index = seed - 1;
    const double u = (seed * 2654435761u % 1000) / 1000.0;
    if (index % 40 == 39)
        return 100 + 20 * u;
    if (index % 8 == 7)
        return 25 + 25 * u;
    return 3 + 9 * u;
}

void SavePpm(const TBitmap& bitmap, const std::string& fileName)
{
    std::ofstream out(fileName, std::ios::binary);
    out << "P6\n" << bitmap.Width() << " " << bitmap.Height() << "\n255\n";
    std::vector<uint32_t> argb(size_t(bitmap.Width()));
    std::vector<char> rgb(size_t(bitmap.Width()) * 3);
    for (int y = 0; y < bitmap.Height(); ++y) {
        bitmap.RowToARGB(y, 0, bitmap.Width(), argb.data());
        for (size_t x = 0; x < argb.size(); ++x) {
            rgb[3 * x] = char(argb[x] >> 16);
            rgb[3 * x + 1] = char(argb[x] >> 8);
            rgb[3 * x + 2] = char(argb[x]);
        }
        out.write(rgb.data(), std::streamsize(rgb.size()));
    }
}

struct TResult {
    bool Found = false;
    double Error = 0; // worst corner, pixels
    double Seconds = 0;
    double Megapixels = 0;
    bool Bowed = false;
    TSheetVariation Variation = svNone;
};

} // namespace

int main(int argc, char** argv)
{
    uint32_t sheets = 200, first = 1;
    double megapixels = 0;
    std::string saveDir;
    bool verbose = false, bowed = false, variations = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sheets" && i + 1 < argc)
            sheets = uint32_t(std::atoi(argv[++i]));
        else if (arg == "--first" && i + 1 < argc)
            first = uint32_t(std::atoi(argv[++i]));
        else if (arg == "--megapixels" && i + 1 < argc && std::atof(argv[i + 1]) > 0)
            megapixels = std::atof(argv[++i]);
        else if (arg == "--save" && i + 1 < argc)
            saveDir = argv[++i];
        else if (arg == "--verbose")
            verbose = true;
        else if (arg == "--bowed")
            bowed = true;
        else if (arg == "--variations")
            variations = true;
        else {
            std::cerr << "usage: frame_bench [--sheets N] [--first SEED] [--megapixels MP] [--save DIR] [--verbose] [--bowed] [--variations]\n";
            return 2;
        }
    }

    std::vector<TResult> results;
    for (uint32_t i = 0; i < sheets; ++i) {
        const uint32_t seed = first + i;
        TSheetPlan plan = RandomSheetPlan(seed, megapixels > 0 ? megapixels : MegapixelsOf(seed));
        if (bowed)
            AddPaperBow(plan);
        TResult result;
        if (variations)
            result.Variation = AddSheetVariation(plan);
        const TSheet sheet = DrawSheet(plan);
        result.Bowed = std::any_of(plan.SideBowMm.begin(), plan.SideBowMm.end(), [](double b) { return b != 0; });
        result.Megapixels = sheet.Bitmap->Width() * double(sheet.Bitmap->Height()) / 1e6;
        const auto start = std::chrono::steady_clock::now();
        const TMapFrame frame = FindMapFrame(*sheet.Bitmap);
        result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.Found = frame.Found;
        std::string errors;
        if (frame.Found)
            for (int c = 0; c < 4; ++c) {
                const double e = std::hypot(frame.Corners[size_t(c)].Col - sheet.Corners[size_t(c)].X,
                                            frame.Corners[size_t(c)].Row - sheet.Corners[size_t(c)].Y);
                result.Error = std::max(result.Error, e);
                char text[64];
                std::snprintf(text, sizeof text, " %s %.2f (%.2f)", FrameCornerNames[c], e, frame.Corners[size_t(c)].Sigma);
                errors += text;
            }
        results.push_back(result);
        const bool bad = !frame.Found || result.Error > 2;
        if (verbose || bad) {
            std::printf("%3u %6.1f MP %6.3f s %s%s\n    %s\n", i, result.Megapixels, result.Seconds,
                        frame.Found ? "found:" : "refused: ", frame.Found ? errors.c_str() : frame.Refusal.c_str(),
                        DescribeSheet(plan).c_str());
            std::fflush(stdout);
        }
        if (bad && !saveDir.empty()) {
            std::printf("    drawn corners:");
            for (const TSheetPoint& corner : sheet.Corners)
                std::printf(" %.1f,%.1f", corner.X, corner.Y);
            std::printf("\n");
        }
        if (bad && !saveDir.empty())
            SavePpm(*sheet.Bitmap, saveDir + "/sheet_" + std::to_string(seed) + ".ppm");
    }

    const double n = double(results.size());
    auto share = [&](double limit) {
        return 100.0 * double(std::count_if(results.begin(), results.end(),
                                            [&](const TResult& r) { return r.Found && r.Error <= limit; })) / n;
    };
    double worst = 0, seconds = 0, allMegapixels = 0, largeSeconds = 0;
    int refused = 0, large = 0;
    for (const TResult& r : results) {
        if (r.Found)
            worst = std::max(worst, r.Error);
        else
            ++refused;
        seconds += r.Seconds;
        allMegapixels += r.Megapixels;
        if (r.Megapixels >= 100) {
            ++large;
            largeSeconds += r.Seconds;
        }
    }
    std::printf("%u sheets, %.0f megapixels in all\n", sheets, allMegapixels);
    std::printf("all four corners within 1 px: %.1f %%, within 2 px: %.1f %%, within 3 px: %.1f %%\n", share(1),
                share(2), share(3));
    std::printf("refused: %.1f %% (%d), worst accepted error: %.2f px\n", 100.0 * refused / n, refused, worst);
    const auto bowedCount = std::count_if(results.begin(), results.end(), [](const TResult& r) { return r.Bowed; });
    if (bowedCount) {
        long within2 = 0, refusedBowed = 0;
        double worstBowed = 0;
        for (const TResult& r : results)
            if (r.Bowed) {
                within2 += r.Found && r.Error <= 2 ? 1 : 0;
                refusedBowed += r.Found ? 0 : 1;
                if (r.Found)
                    worstBowed = std::max(worstBowed, r.Error);
            }
        std::printf("sheets with bowed sides: %ld, within 2 px: %.1f %%, refused: %ld, worst accepted error: %.2f px\n",
                    long(bowedCount), 100.0 * double(within2) / double(bowedCount), refusedBowed, worstBowed);
    }
    if (variations) {
        std::printf("| variation | sheets | within 1 px | within 2 px | within 3 px | refused | worst accepted |\n");
        for (int v = 0; v < 4; ++v) {
            long count = 0, w1 = 0, w2 = 0, w3 = 0, refusedHere = 0;
            double worstHere = 0;
            for (const TResult& r : results) {
                if (r.Variation != v)
                    continue;
                ++count;
                w1 += r.Found && r.Error <= 1;
                w2 += r.Found && r.Error <= 2;
                w3 += r.Found && r.Error <= 3;
                refusedHere += !r.Found;
                if (r.Found)
                    worstHere = std::max(worstHere, r.Error);
            }
            if (count)
                std::printf("| %s | %ld | %.1f %% | %.1f %% | %.1f %% | %ld | %.2f px |\n", SheetVariationNames[v], count,
                            100.0 * w1 / count, 100.0 * w2 / count, 100.0 * w3 / count, refusedHere, worstHere);
        }
    }
    std::printf("time: %.3f s a sheet on average, %.3f s per 100 megapixels", seconds / n, seconds / allMegapixels * 100);
    if (large)
        std::printf(", %.3f s a sheet of 100 megapixels or more (%d sheets)", largeSeconds / large, large);
    std::printf("\n");
    return 0;
}
