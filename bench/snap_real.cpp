// snap_real: the feature snap on the printed crossings of real scanned
// sheets whose positions were measured by hand-checked line fits. Each
// crossing is clicked at several positions up to 3 pixels off it, as a user
// picks, and the answers are compared with the measurement.
//
//   snap_real [--scans FOLDER] [--verbose] [--crops FOLDER] [--only TEXT]
//
// FOLDER holds the scans with their truth: a `*_truth.txt` with `CROSS name
// x y u_x u_y ...` lines, or a `*_crossings.csv` of `label,x,y,sigma_x,
// sigma_y,...`. Their positions count from the top-left corner of the top-left
// pixel; ours from its centre, hence the half pixel taken off. --verbose
// lists every crossing; --crops writes a PPM crop of each crossing that was
// missed or answered more than 1 pixel off; --only takes the crossings whose
// sheet and name (as "s03 2710'/8405'") contain TEXT.
#include "analysis/feature_snap.h"
#include "bench/quantile.h"
#include "imaging/format_registry.h"
#include "platform/bitmap.h"
#include "platform/graphic.h"
#include "platform/picture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TTruth {
    std::string Name;
    double X = 0, Y = 0; // pixel-centre convention
    double Uncertainty = 0; // per axis, pixels
    int Index = 0;          // in its file
};

struct TSheet {
    const char* Label;
    const char* Image;
    const char* Truth;
    // The truth files' own reading of their crossings' uncertainty where it
    // is more than the fits' sigmas say (JPEG, paper grain, line width).
    double UncertaintyFloor;
};

const TSheet Sheets[] = {
    {"s01", "s01_soi_72P15_birbhum_1913.jpg", "s01_soi_72P15_birbhum_1913_truth.txt", 0},
    {"s02", "s02_soi_63P14_palamau_1918_grid.jpg", "s02_soi_63P14_palamau_1918_grid_truth.txt", 0},
    {"s03", "s03_soi_72A04_champaran_1928.jpg", "s03_soi_72A04_champaran_1928_truth.txt", 0},
    {"s04", "s04_hind1069_saigon_1946_grid.jpg", "s04_hind1069_saigon_1946_grid_truth.txt", 0},
    {"s05", "s05_uscs_1853_sketchH_gulf_coast.jpg", "s05_uscs_1853_sketchH_gulf_coast_crossings.csv", 0.15},
    {"s06", "s06_linz_nz61401_tasman_bay_chart.png", "s06_linz_nz61401_tasman_bay_chart_crossings.csv", 0.02},
    {"s07", "s07_noaa_18649_sf_bay_entrance.png", "s07_noaa_18649_sf_bay_entrance_crossings.csv", 0.05},
};

// Where the user clicks, relative to the crossing: eight positions 0.7 to
// 3 pixels off, turned from one crossing to the next.
constexpr int Clicks = 8;
constexpr double ClickRadii[Clicks] = {0.7, 3.0, 1.5, 2.3, 1.1, 2.7, 1.9, 3.0};

// Half the side of the square cut out around each crossing: the snap reads
// less than 45 pixels around a click.
constexpr int CropHalf = 100;

std::vector<TTruth> ReadTruth(const std::string& fileName, double floor)
{
    std::ifstream in(fileName);
    if (!in)
        throw std::runtime_error("Cannot read " + fileName);
    std::vector<TTruth> out;
    std::string line;
    const bool csv = fileName.size() > 4 && fileName.substr(fileName.size() - 4) == ".csv";
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        TTruth t;
        double ux = 0, uy = 0;
        if (csv) {
            if (line.empty() || line[0] == '#' || line.rfind("label,", 0) == 0)
                continue;
            std::replace(line.begin(), line.end(), ',', ' ');
            std::istringstream fields(line);
            if (!(fields >> t.Name >> t.X >> t.Y >> ux >> uy))
                throw std::runtime_error(fileName + ", line " + std::to_string(number) + ": not a crossing: " + line);
        } else {
            if (line.rfind("CROSS ", 0) != 0)
                continue;
            std::istringstream fields(line.substr(6));
            if (!(fields >> t.Name >> t.X >> t.Y >> ux >> uy))
                throw std::runtime_error(fileName + ", line " + std::to_string(number) + ": not a crossing: " + line);
        }
        t.X -= 0.5;
        t.Y -= 0.5;
        t.Uncertainty = std::max(std::sqrt(0.5 * (ux * ux + uy * uy)), floor);
        t.Index = static_cast<int>(out.size());
        out.push_back(t);
    }
    return out;
}

// The square around (x, y) as a 24-bit bitmap, and its corner in the scan.
void Crop(const TBitmap& scan, double x, double y, TBitmap& crop, int& left, int& top)
{
    left = std::max(0, static_cast<int>(std::lround(x)) - CropHalf);
    top = std::max(0, static_cast<int>(std::lround(y)) - CropHalf);
    const int right = std::min(scan.Width(), static_cast<int>(std::lround(x)) + CropHalf + 1);
    const int bottom = std::min(scan.Height(), static_cast<int>(std::lround(y)) + CropHalf + 1);
    crop.SetPixelFormat(bf24Bit);
    crop.SetSize(right - left, bottom - top);
    std::vector<uint32_t> argb(static_cast<size_t>(right - left));
    for (int row = top; row < bottom; ++row) {
        scan.RowToARGB(row, left, right - left, argb.data());
        uint8_t* out = crop.ScanLine(row - top);
        for (size_t i = 0; i < argb.size(); ++i) {
            out[3 * i] = static_cast<uint8_t>(argb[i]);
            out[3 * i + 1] = static_cast<uint8_t>(argb[i] >> 8);
            out[3 * i + 2] = static_cast<uint8_t>(argb[i] >> 16);
        }
    }
}

void SavePpm(const TBitmap& bitmap, const std::string& fileName)
{
    std::ofstream out(fileName, std::ios::binary);
    out << "P6\n" << bitmap.Width() << " " << bitmap.Height() << "\n255\n";
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            const char rgb[3] = {char(row[3 * x + 2]), char(row[3 * x + 1]), char(row[3 * x])};
            out.write(rgb, 3);
        }
    }
}

struct TTally {
    int Crossings = 0, Clicks = 0, Answered = 0, Wrong = 0, Honest = 0, CrossingsAnswered = 0;
    std::vector<double> Errors;
    double Seconds = 0;
};

void PrintRow(const char* label, const TTally& t)
{
    std::printf("| %s | %d | %d of %d | %.1f %% | %.3f | %.3f | %.3f | %d | %.1f %% |\n", label, t.Crossings,
        t.CrossingsAnswered, t.Crossings, t.Clicks ? 100.0 * t.Answered / t.Clicks : 0.0, Quantile(t.Errors, 0.5),
        Quantile(t.Errors, 0.95), Quantile(t.Errors, 1), t.Wrong, t.Answered ? 100.0 * t.Honest / t.Answered : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    std::string folder = "/work/shared/scans", crops, only;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scans" && i + 1 < argc)
            folder = argv[++i];
        else if (arg == "--crops" && i + 1 < argc)
            crops = argv[++i];
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--verbose")
            verbose = true;
        else {
            std::fprintf(stderr, "Usage: snap_real [--scans FOLDER] [--verbose] [--crops FOLDER] [--only TEXT]\n");
            return 2;
        }
    }
    InitializeImaging();
    std::vector<std::pair<std::string, TTally>> tallies;
    TTally all;
    for (const TSheet& sheet : Sheets) {
        std::vector<TTruth> truth = ReadTruth(folder + "/" + sheet.Truth, sheet.UncertaintyFloor);
        std::erase_if(truth, [&](const TTruth& t) {
            return (std::string(sheet.Label) + " " + t.Name).find(only) == std::string::npos;
        });
        if (truth.empty())
            continue;
        std::unique_ptr<TGraphic> graphic = LoadPictureFile(folder + "/" + sheet.Image);
        const TBitmap& scan = graphic->ViewBitmap();
        TTally tally;
        for (const TTruth& t : truth) {
            int left = 0, top = 0;
            TBitmap crop;
            Crop(scan, t.X, t.Y, crop, left, top);
            ++tally.Crossings;
            int answered = 0, wrong = 0;
            std::string detail;
            for (int k = 0; k < Clicks; ++k) {
                // The golden angle from click to click and crossing to crossing.
                const double angle = (t.Index * Clicks + k) * 2.39996323;
                const double cx = t.X + ClickRadii[k] * std::cos(angle), cy = t.Y + ClickRadii[k] * std::sin(angle);
                const auto start = std::chrono::steady_clock::now();
                const std::optional<TSnappedFeature> f = SnapToFeature(crop, cx - left, cy - top);
                tally.Seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                ++tally.Clicks;
                char text[64];
                if (!f) {
                    detail += "    -";
                    continue;
                }
                const double error = std::hypot(f->Column + left - t.X, f->Row + top - t.Y);
                ++answered;
                ++tally.Answered;
                tally.Errors.push_back(error);
                wrong += error > 1;
                tally.Wrong += error > 1;
                tally.Honest += error <= 3 * f->Sigma + 0.05 + 2 * t.Uncertainty;
                std::snprintf(text, sizeof text, " %.2f/%.2f%s", error, f->Sigma, f->Kind == TFeatureKind::Crossing ? "" : "c");
                detail += text;
            }
            tally.CrossingsAnswered += answered > Clicks / 2;
            if (verbose)
                std::printf("%s %-24s %7.1f %7.1f  %d/%d  error/sigma:%s\n", sheet.Label, t.Name.c_str(), t.X, t.Y,
                    answered, Clicks, detail.c_str());
            if (!crops.empty() && (answered < Clicks || wrong > 0))
                SavePpm(crop, crops + "/" + sheet.Label + "_" + std::to_string(t.Index) + ".ppm");
        }
        all.Crossings += tally.Crossings;
        all.CrossingsAnswered += tally.CrossingsAnswered;
        all.Clicks += tally.Clicks;
        all.Answered += tally.Answered;
        all.Wrong += tally.Wrong;
        all.Honest += tally.Honest;
        all.Seconds += tally.Seconds;
        all.Errors.insert(all.Errors.end(), tally.Errors.begin(), tally.Errors.end());
        tallies.emplace_back(sheet.Label, std::move(tally));
    }
    std::printf("\n| sheet | crossings | answered at most clicks | clicks answered | median error (px) | 95th "
                "percentile (px) | largest (px) | wrong (> 1 px) | honest |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const auto& [label, t] : tallies)
        PrintRow(label.c_str(), t);
    PrintRow("**all**", all);
    std::printf("\n%d clicks, %.1f ms a snap on average\n", all.Clicks, 1000 * all.Seconds / std::max(1, all.Clicks));
    FinalizeImaging();
    return 0;
}
