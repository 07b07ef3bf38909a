// The grid finder over drawn sheets with known crossings and over the real
// scans that carry a grid or graticule: share of crossings numbered right,
// numbered wrongly, position error, time; and on sheets with paper
// distortion the georeferencing error at independent positions from every
// crossing fitted with many-point transformations against nine fitted
// affine.
//   grid_bench [--seeds N] [--scans DIR] [--megapixels M] [--two-grids SEEDS]
// GRID_BENCH_ONLY=NAME runs one drawn variation (or the real sheets whose
// name starts so), GRID_BENCH_DUMP=FILE.ppm
// writes its sheets there, GRID_BENCH_THREADS=1,2 times the large sheet on
// each thread count, GRID_BENCH_VERBOSE=1 prints each crossing
// numbered wrongly and the first truths of each sheet.
#include "analysis/grid_finder.h"
#include "bench/grid_sheets.h"
#include "georef/fit_methods.h"
#include "imaging/format_registry.h"
#include "platform/bitmap.h"
#include "platform/graphic.h"
#include "platform/picture.h"
#include "platform/thread_pool.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A numbered crossing farther than this from the truth is numbered wrongly.
constexpr double WrongDistance = 1;

struct TTally {
    int Truth = 0, Right = 0, Wrong = 0, Sheets = 0, Refused = 0;
    std::vector<double> Errors;
    double Seconds = 0;
    std::string Notes;
};

double Percentile(std::vector<double> v, double share)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(share * double(v.size())))];
}

void PrintRow(const std::string& name, const TTally& t)
{
    std::printf("| %s | %d | %d of %d (%.1f %%) | %d | %.3f | %.3f | %.2f |%s\n", name.c_str(), t.Sheets, t.Right,
                t.Truth, t.Truth ? 100.0 * t.Right / t.Truth : 0.0, t.Wrong, Percentile(t.Errors, 0.5),
                Percentile(t.Errors, 0.95), t.Sheets ? t.Seconds / t.Sheets : 0, t.Notes.empty() ? "" : (" " + t.Notes + " |").c_str());
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Processor time of the whole process, every thread: on a shared machine
// the wall clock says more about the other users than about the finder.
double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Places of the lattice found, by (east, north).
std::map<std::pair<int, int>, const TGridCrossing*> ByPlace(const TGrid& grid)
{
    std::map<std::pair<int, int>, const TGridCrossing*> places;
    for (const TGridCrossing& c : grid.Crossings)
        places[{c.East, c.North}] = &c;
    return places;
}

// Looked for: inside the face by more than the finder's margin.
bool LookedFor(const TGridSheet& sheet, const TGridTruth& t, double margin)
{
    for (int k = 0; k < 4; ++k) {
        const TSheetPoint a = sheet.Face[size_t(k)], b = sheet.Face[size_t((k + 1) % 4)];
        const double length = std::hypot(b.X - a.X, b.Y - a.Y);
        if (((b.X - a.X) * (t.Y - a.Y) - (b.Y - a.Y) * (t.X - a.X)) / length < margin)
            return false;
    }
    return true;
}

void Score(const TGridSheet& sheet, const TGrid& grid, double step, TTally& tally)
{
    ++tally.Sheets;
    const double margin = std::clamp(0.25 * step, 4.0, 12.0) + 6;
    std::map<std::pair<int, int>, const TGridTruth*> truth;
    for (const TGridTruth& t : sheet.Crossings) {
        truth[{t.East, t.North}] = &t;
        if (t.Printed && LookedFor(sheet, t, margin))
            ++tally.Truth;
    }
    if (!grid.Found) {
        ++tally.Refused;
        // The first sheet's reason (the others name their own pixels).
        if (tally.Notes.empty())
            tally.Notes = grid.Refusal + ".";
        return;
    }
    for (const TGridCrossing& c : grid.Crossings) {
        const auto t = truth.find({c.East, c.North});
        const double error =
            t == truth.end() ? 1e9 : std::hypot(c.Column - t->second->X, c.Row - t->second->Y);
        if (t == truth.end() || !t->second->Printed || error > WrongDistance) {
            ++tally.Wrong;
            if (std::getenv("GRID_BENCH_VERBOSE"))
                std::fprintf(stderr, "wrong: %d,%d at %.2f,%.2f (truth %.2f,%.2f)\n", c.East, c.North, c.Column,
                             c.Row, t == truth.end() ? -1.0 : t->second->X, t == truth.end() ? -1.0 : t->second->Y);
            continue;
        }
        if (!LookedFor(sheet, *t->second, margin))
            ++tally.Truth; // found where it was not counted on
        ++tally.Right;
        tally.Errors.push_back(error);
    }
}

// The sheet as a binary PPM, to look at.
void WritePpm(const TBitmap& bitmap, const std::string& fileName)
{
    std::ofstream out(fileName, std::ios::binary);
    out << "P6\n" << bitmap.Width() << " " << bitmap.Height() << "\n255\n";
    std::vector<uint32_t> row(size_t(bitmap.Width()));
    for (int y = 0; y < bitmap.Height(); ++y) {
        bitmap.RowToARGB(y, 0, bitmap.Width(), row.data());
        for (const uint32_t p : row)
            out.put(char(p >> 16)).put(char(p >> 8)).put(char(p));
    }
}

struct TVariation {
    const char* Name;
    TGridSheetPlan Plan;
};

std::vector<TVariation> Variations()
{
    auto plan = [](auto change) {
        TGridSheetPlan p;
        p.Width = 1600;
        p.Height = 1200;
        p.Step = 150;
        change(p);
        return p;
    };
    return {
        {"plain", plan([](TGridSheetPlan&) {})},
        {"turned 3 deg", plan([](TGridSheetPlan& p) { p.TurnDegrees = 3; })},
        {"turned -7 deg, step 90", plan([](TGridSheetPlan& p) { p.TurnDegrees = -7, p.Step = 90; })},
        {"dashed", plan([](TGridSheetPlan& p) { p.Dashed = true; })},
        {"lettering and fills", plan([](TGridSheetPlan& p) { p.Lettering = p.Fills = true; })},
        {"faint red on colour", plan([](TGridSheetPlan& p) { p.Faint = true; })},
        {"curved graticule", plan([](TGridSheetPlan& p) { p.Graticule = true, p.ApexDistance = 30000, p.TurnDegrees = 1; })},
        {"roads by crossings", plan([](TGridSheetPlan& p) { p.Roads = 12; })},
        {"a line missing", plan([](TGridSheetPlan& p) { p.MissingLine = true; })},
        {"paper distortion 4 px", plan([](TGridSheetPlan& p) { p.Distortion = 4; })},
        {"no frame", plan([](TGridSheetPlan& p) { p.Frame = false; })},
        {"thin, blurred, noisy", plan([](TGridSheetPlan& p) { p.LineWidth = 0.8, p.Blur = 1.1, p.Noise = 8; })},
        {"ticks only in the margin", plan([](TGridSheetPlan& p) { p.MarginTicks = true; })},
    };
}

TGridRequest KnownNear(const TGridSheet& sheet, std::mt19937& random)
{
    std::uniform_real_distribution<double> off(-3, 3);
    const TGridTruth& k = sheet.Crossings.front();
    if (std::getenv("GRID_BENCH_VERBOSE"))
        for (size_t i = 0; i < std::min<size_t>(6, sheet.Crossings.size()); ++i)
            std::fprintf(stderr, "truth %d,%d at %.2f,%.2f\n", sheet.Crossings[i].East, sheet.Crossings[i].North,
                         sheet.Crossings[i].X, sheet.Crossings[i].Y);
    TGridRequest request;
    request.Column = std::round(k.X + off(random));
    request.Row = std::round(k.Y + off(random));
    return request;
}

void DrawnSheets(int seeds)
{
    std::printf("| drawn variation | sheets | numbered right | numbered wrongly | median error px | 95th "
                "percentile px | processor s per sheet | refused |\n|---|---|---|---|---|---|---|---|\n");
    TTally all;
    for (const TVariation& v : Variations()) {
        if (const char* only = std::getenv("GRID_BENCH_ONLY"); only && v.Name != std::string(only))
            continue;
        TTally tally;
        for (int s = 1; s <= seeds; ++s) {
            TGridSheetPlan plan = v.Plan;
            plan.Seed = uint32_t(s * 7919 + 13);
            const TGridSheet sheet = DrawGridSheet(plan);
            if (const char* dump = std::getenv("GRID_BENCH_DUMP"))
                WritePpm(*sheet.Bitmap, dump);
            std::mt19937 random(plan.Seed);
            const double cpu = CpuSeconds();
            const TGrid grid = FindGrid(*sheet.Bitmap, KnownNear(sheet, random));
            tally.Seconds += CpuSeconds() - cpu;
            Score(sheet, grid, plan.Step, tally);
        }
        tally.Notes = tally.Refused ? std::to_string(tally.Refused) + ": " + tally.Notes : "-";
        PrintRow(v.Name, tally);
        all.Truth += tally.Truth, all.Right += tally.Right, all.Wrong += tally.Wrong, all.Sheets += tally.Sheets;
        all.Errors.insert(all.Errors.end(), tally.Errors.begin(), tally.Errors.end());
        all.Seconds += tally.Seconds;
    }
    all.Notes = "-";
    PrintRow("all", all);
}

// Georeferencing error at random positions of the face, in pixels.
struct TCheckError {
    double Rms = 0, Max = 0;
};

TCheckError CheckPositions(const TGridSheet& sheet, const TControlPoints& points, const std::string& method,
                           double step, uint32_t seed)
{
    const TFitResult fit = FitControlPoints(method, points);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(0, 1);
    double sum = 0, most = 0;
    int n = 0;
    const TSheetPoint a = sheet.Face[0], c = sheet.Face[2];
    while (n < 400) {
        // A place whose pixel lies inside the face, as the truth's lattice gives it.
        const double x = a.X + u(random) * (c.X - a.X), y = a.Y + u(random) * (c.Y - a.Y);
        // Find the lattice place of (x, y) by Newton steps on Place.
        double e = 0, nn = 0;
        for (int it = 0; it < 30; ++it) {
            const TSheetPoint p = sheet.Place(e, nn), pe = sheet.Place(e + 1e-4, nn), pn = sheet.Place(e, nn + 1e-4);
            const double j11 = (pe.X - p.X) / 1e-4, j21 = (pe.Y - p.Y) / 1e-4;
            const double j12 = (pn.X - p.X) / 1e-4, j22 = (pn.Y - p.Y) / 1e-4;
            const double det = j11 * j22 - j12 * j21, rx = x - p.X, ry = y - p.Y;
            e += (j22 * rx - j12 * ry) / det;
            nn += (j11 * ry - j21 * rx) / det;
        }
        const TMapPosition m = fit.Model->Map(x, y);
        const double error = std::hypot(m.East - e * 1000, m.North - nn * 1000) / 1000 * step;
        sum += error * error, most = std::max(most, error);
        ++n;
    }
    return {std::sqrt(sum / n), most};
}

void DistortedSheets(int seeds)
{
    std::printf("\n| paper distortion | crossings fitted | affine, 9 crossings | affine, all | polynomial2, all | "
                "polynomial3, all | tps, all |\n|---|---|---|---|---|---|---|\n");
    for (const double distortion : {2.0, 4.0, 8.0}) {
        std::map<std::string, std::vector<double>> rms, most;
        int fitted = 0;
        for (int s = 1; s <= seeds; ++s) {
            TGridSheetPlan plan;
            plan.Width = 1600, plan.Height = 1200, plan.Step = 150, plan.Distortion = distortion;
            plan.TurnDegrees = 1.5, plan.Seed = uint32_t(s * 104729 + 7);
            const TGridSheet sheet = DrawGridSheet(plan);
            std::mt19937 random(plan.Seed);
            const TGrid grid = FindGrid(*sheet.Bitmap, KnownNear(sheet, random));
            if (!grid.Found)
                continue;
            TControlPoints all;
            for (const TGridCrossing& c : grid.Crossings)
                all.push_back({int(all.size()) + 1, c.Column, c.Row, c.East * 1000.0, c.North * 1000.0,
                               TPointRole::Fitted});
            fitted += int(all.size());
            // Nine spread over the lattice found: its corners, the middles of its sides and its centre.
            int minE = 1 << 20, maxE = -(1 << 20), minN = 1 << 20, maxN = -(1 << 20);
            for (const TGridCrossing& c : grid.Crossings)
                minE = std::min(minE, c.East), maxE = std::max(maxE, c.East), minN = std::min(minN, c.North),
                maxN = std::max(maxN, c.North);
            TControlPoints nine;
            for (const int e : {minE, (minE + maxE) / 2, maxE})
                for (const int n : {minN, (minN + maxN) / 2, maxN}) {
                    const TControlPoint* best = nullptr;
                    double bestDistance = 1e18;
                    for (const TControlPoint& p : all) {
                        const double d = std::hypot(p.East / 1000 - e, p.North / 1000 - n);
                        if (d < bestDistance)
                            bestDistance = d, best = &p;
                    }
                    nine.push_back(*best);
                    nine.back().Id = int(nine.size());
                }
            const uint32_t check = plan.Seed ^ 0xABCDu;
            for (const auto& [name, points, method] :
                 {std::tuple{"affine9", &nine, "affine"}, std::tuple{"affine", &all, "affine"},
                  std::tuple{"polynomial2", &all, "polynomial2"}, std::tuple{"polynomial3", &all, "polynomial3"},
                  std::tuple{"tps", &all, "tps"}}) {
                const TCheckError e = CheckPositions(sheet, *points, method, plan.Step, check);
                rms[name].push_back(e.Rms);
                most[name].push_back(e.Max);
            }
        }
        auto cell = [&](const char* name) {
            char text[64];
            std::snprintf(text, sizeof text, "%.3f (max %.2f)", Percentile(rms[name], 0.5), Percentile(most[name], 0.5));
            return std::string(text);
        };
        std::printf("| %.0f px | %d | %s | %s | %s | %s | %s |\n", distortion, fitted, cell("affine9").c_str(),
                    cell("affine").c_str(), cell("polynomial2").c_str(), cell("polynomial3").c_str(),
                    cell("tps").c_str());
    }
}

// ---- The real scans ----

struct TRealCrossing {
    double MapX = 0, MapY = 0; // east (or longitude) and north (or latitude)
    double X = 0, Y = 0;       // pixel centres at integers
};

struct TRealGrid {
    std::string Name, File;
    double Spacing = 0;
    std::vector<TRealCrossing> Crossings;
    int OnFrame = 0; // crossings with the neatline, not looked for
};

// "24 40' N 83 50' E" or "E 2312000 yd, N 862000 yd".
bool ReadMapCoordinate(const std::string& text, double& x, double& y)
{
    std::smatch m;
    if (std::regex_search(text, m, std::regex(R"(E (\d+) yd, N (\d+) yd)"))) {
        x = std::stod(m[1]), y = std::stod(m[2]);
        return true;
    }
    if (std::regex_search(text, m, std::regex(R"((\d+) (\d+)' N (\d+) (\d+)' E)"))) {
        y = std::stod(m[1]) + std::stod(m[2]) / 60, x = std::stod(m[3]) + std::stod(m[4]) / 60;
        return true;
    }
    return false;
}

// The CROSS lines of a truth file, grid ("yd") or graticule.
TRealGrid TruthCrossings(const std::string& dir, const std::string& stem, const std::string& image, bool grid,
                         double spacing, const std::string& name)
{
    TRealGrid g{name, dir + "/" + image, spacing, {}, 0};
    std::ifstream in(dir + "/" + stem + "_truth.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("CROSS ", 0) != 0)
            continue;
        std::istringstream fields(line.substr(6));
        std::string label;
        double x = 0, y = 0;
        fields >> label >> x >> y;
        const bool isGrid = line.find(" yd") != std::string::npos;
        if (isGrid != grid)
            continue;
        // A line's crossing with the neatline is a crossing of the lattice too
        // when the neatline is itself a line of the graticule.
        if (line.find("(neatline)") != std::string::npos)
            ++g.OnFrame;
        TRealCrossing c;
        if (!ReadMapCoordinate(line, c.MapX, c.MapY))
            continue;
        c.X = x - 0.5, c.Y = y - 0.5;
        g.Crossings.push_back(c);
    }
    return g;
}

// "172d50E_40d50S,x,y,..." or "1d30W_FtMorgan_29d00N,...".
TRealGrid CsvCrossings(const std::string& dir, const std::string& stem, const std::string& image, double spacing,
                       const std::string& name)
{
    TRealGrid g{name, dir + "/" + image, spacing, {}, 0};
    std::ifstream in(dir + "/" + stem + "_crossings.csv");
    std::string line;
    const std::regex label(R"((\d+)d(\d+)([EW])_(?:\w+_)?(\d+)d(\d+)([NS]))");
    while (std::getline(in, line)) {
        std::smatch m;
        if (line.empty() || line[0] == '#' || !std::regex_search(line, m, label))
            continue;
        std::istringstream fields(line.substr(line.find(',') + 1));
        double x = 0, y = 0;
        char comma = 0;
        fields >> x >> comma >> y;
        TRealCrossing c;
        c.MapX = (std::stod(m[1]) + std::stod(m[2]) / 60) * (m[3] == "W" ? -1 : 1);
        c.MapY = (std::stod(m[4]) + std::stod(m[5]) / 60) * (m[6] == "S" ? -1 : 1);
        c.X = x - 0.5, c.Y = y - 0.5;
        g.Crossings.push_back(c);
    }
    return g;
}

void RealSheets(const std::string& dir)
{
    const double minute = 1.0 / 60;
    std::vector<TRealGrid> sheets = {
        TruthCrossings(dir, "s01_soi_72P15_birbhum_1913", "s01_soi_72P15_birbhum_1913.jpg", false, 5 * minute, "s01 graticule 5'"),
        TruthCrossings(dir, "s02_soi_63P14_palamau_1918_grid", "s02_soi_63P14_palamau_1918_grid.jpg", true, 1000, "s02 red grid 1000 yd"),
        TruthCrossings(dir, "s02_soi_63P14_palamau_1918_grid", "s02_soi_63P14_palamau_1918_grid.jpg", false, 5 * minute, "s02 graticule 5'"),
        TruthCrossings(dir, "s03_soi_72A04_champaran_1928", "s03_soi_72A04_champaran_1928.jpg", false, 5 * minute, "s03 graticule 5'"),
        TruthCrossings(dir, "s04_hind1069_saigon_1946_grid", "s04_hind1069_saigon_1946_grid.jpg", true, 1000, "s04 grid 1000 yd"),
        CsvCrossings(dir, "s05_uscs_1853_sketchH_gulf_coast", "s05_uscs_1853_sketchH_gulf_coast.jpg", 30 * minute, "s05 faint graticule 30'"),
        CsvCrossings(dir, "s06_linz_nz61401_tasman_bay_chart", "s06_linz_nz61401_tasman_bay_chart.png", 10 * minute, "s06 chart graticule 10'"),
        CsvCrossings(dir, "s07_noaa_18649_sf_bay_entrance", "s07_noaa_18649_sf_bay_entrance.png", 5 * minute, "s07 chart graticule 5'"),
    };
    std::printf("\n| real sheet | crossings measured | numbered right | numbered wrongly | refused | median error px | "
                "95th percentile px | processor s | numbered in all; lines found | what stopped the rest |\n"
                "|---|---|---|---|---|---|---|---|---|---|\n");
    for (const TRealGrid& g : sheets) {
        if (const char* only = std::getenv("GRID_BENCH_ONLY"); only && g.Name.rfind(only, 0) != 0)
            continue;
        if (g.Crossings.empty()) {
            std::printf("| %s | no truth read |\n", g.Name.c_str());
            continue;
        }
        const std::unique_ptr<TGraphic> graphic = LoadPictureFile(g.File);
        const TBitmap& bitmap = graphic->ViewBitmap();
        // The known crossing: the measured one nearest the picture's centre,
        // picked 2 px off; when the finder numbers fewer than three crossings
        // from it, the next nearest, as a user would pick another (up to eight; the
        // one that numbers most is shown).
        std::vector<const TRealCrossing*> order;
        for (const TRealCrossing& c : g.Crossings)
            order.push_back(&c);
        std::sort(order.begin(), order.end(), [&](const TRealCrossing* a, const TRealCrossing* b) {
            return std::hypot(a->X - bitmap.Width() / 2.0, a->Y - bitmap.Height() / 2.0) <
                   std::hypot(b->X - bitmap.Width() / 2.0, b->Y - bitmap.Height() / 2.0);
        });
        const TRealCrossing* known = nullptr;
        TGrid grid;
        double seconds = 0;
        int tries = 0;
        for (const TRealCrossing* k : order) {
            if (tries == 8)
                break;
            ++tries;
            TGridRequest request;
            request.Column = std::round(k->X + 2);
            request.Row = std::round(k->Y - 2);
            // The spacing's ratio, as the grid command gives it.
            const bool graticule = g.Name.find("graticule") != std::string::npos;
            request.StepRatio = graticule ? std::cos(k->MapY * M_PI / 180) : 1;
            const double cpu = CpuSeconds();
            TGrid attempt = FindGrid(bitmap, request);
            if (!known || attempt.Crossings.size() > grid.Crossings.size()) {
                seconds = CpuSeconds() - cpu;
                grid = std::move(attempt);
                known = k;
            }
            if (grid.Found && grid.Crossings.size() >= 3)
                break;
        }
        TTally t;
        t.Truth = int(g.Crossings.size());
        const auto places = ByPlace(grid);
        std::set<std::pair<int, int>> refusedPlaces;
        for (const TRefusedCrossing& r : grid.Refused)
            refusedPlaces.insert({r.East, r.North});
        int refusedMeasured = 0;
        std::string why;
        for (const TRealCrossing& c : g.Crossings) {
            const int e = int(std::lround((c.MapX - known->MapX) / g.Spacing));
            const int n = int(std::lround((c.MapY - known->MapY) / g.Spacing));
            const auto found = places.find({e, n});
            if (found == places.end()) {
                refusedMeasured += refusedPlaces.count({e, n}) ? 1 : 0;
                continue;
            }
            const double error = std::hypot(found->second->Column - c.X, found->second->Row - c.Y);
            if (error > WrongDistance) {
                ++t.Wrong;
                if (std::getenv("GRID_BENCH_VERBOSE"))
                    std::fprintf(stderr, "%s: %d,%d numbered at %.2f,%.2f, measured at %.2f,%.2f (%.2f px)\n",
                                 g.Name.c_str(), e, n, found->second->Column, found->second->Row, c.X, c.Y, error);
                continue;
            }
            ++t.Right;
            t.Errors.push_back(error);
        }
        char summary[200];
        std::snprintf(summary, sizeof summary, "%zu; %d and %d, steps %.1f and %.1f px%s; known crossing tried %d",
                      grid.Crossings.size(), grid.LinesEast, grid.LinesNorth, grid.StepEast, grid.StepNorth,
                      grid.Framed ? ", in the frame" : "", tries);
        std::map<TGridRefusal, int> refused;
        for (const TRefusedCrossing& r : grid.Refused)
            ++refused[r.Reason];
        if (!grid.Found)
            why = grid.Refusal + "; ";
        for (const auto& [reason, count] : refused)
            why += std::to_string(count) + " refused: " + GridRefusalText(reason) + "; ";
        why += std::to_string(grid.Unsnapped) + " places without a crossing to snap to";
        if (g.OnFrame)
            why += "; " + std::to_string(g.OnFrame) + " of the measured crossings on the neatline";
        std::printf("| %s | %d | %d | %d | %d | %.3f | %.3f | %.2f | %s | %s |\n", g.Name.c_str(), t.Truth, t.Right,
                    t.Wrong, refusedMeasured, Percentile(t.Errors, 0.5), Percentile(t.Errors, 0.95), seconds, summary,
                    why.c_str());
        std::fflush(stdout);
    }
}

void LargeSheet(double megapixels)
{
    TGridSheetPlan plan;
    plan.Width = int(std::sqrt(megapixels * 1e6 * 4 / 3));
    plan.Height = int(plan.Width * 3 / 4);
    plan.Step = plan.Width / 40.0;
    plan.TurnDegrees = 2;
    plan.Lettering = true;
    const auto drawStart = std::chrono::steady_clock::now();
    const TGridSheet sheet = DrawGridSheet(plan);
    std::printf("drawn %dx%d in %.1f s\n", plan.Width, plan.Height, Seconds(drawStart));
    // GRID_BENCH_THREADS=1,2 times the finder on each count in turn, on
    // the sheet drawn once.
    std::vector<unsigned> counts{0};
    if (const char* list = std::getenv("GRID_BENCH_THREADS")) {
        counts.clear();
        std::stringstream items(list);
        for (std::string item; std::getline(items, item, ',');)
            if (const unsigned count = pwthreads::ParseThreadCount(item.c_str()))
                counts.push_back(count);
        if (counts.empty())
            counts.push_back(0);
    }
    for (const unsigned count : counts) {
        pwthreads::SetThreadCount(count);
        std::mt19937 random(1);
        TTally tally;
        const auto start = std::chrono::steady_clock::now();
        const double cpu = CpuSeconds();
        const TGrid grid = FindGrid(*sheet.Bitmap, KnownNear(sheet, random));
        tally.Seconds = CpuSeconds() - cpu;
        std::printf("wall %.2f s, processor %.2f s on %u threads\n", Seconds(start), tally.Seconds,
                    pwthreads::ThreadCount());
        Score(sheet, grid, plan.Step, tally);
        PrintRow(DescribeGridPlan(plan), tally);
    }
}

// Small sheets of a 200 px grid under a dense second grid (red lines every
// 60 px, turned 2.7 deg, one 4 to 12 px beside the crossing north of the
// known one), no step ratio given: with one known crossing the finder must
// refuse (two lattices it cannot tell apart), with a second one fixing the
// pixel scale number right. Also with one known crossing and square steps
// (as pinwright-cli gives for one spacing).
void TwoGridSheets(int seeds)
{
    std::printf("| known crossings | sheets | numbered right | numbered wrongly | median error px | 95th "
                "percentile px | processor s per sheet | refused |\n|---|---|---|---|---|---|---|---|\n");
    for (const int run : {0, 1, 2}) {
        const bool second = run == 2;
        TTally tally;
        for (int s = 1; s <= seeds; ++s)
            for (const double offset : {4.0, 6.0, 9.0, 12.0}) {
                TGridSheetPlan plan;
                plan.Seed = uint32_t(s);
                plan.Width = 720, plan.Height = 560, plan.Step = 200;
                plan.SecondStep = 60, plan.SecondOffset = offset, plan.SecondTurnDegrees = 2.7;
                const TGridSheet sheet = DrawGridSheet(plan);
                TGridRequest request;
                request.StepRatio = run == 1 ? 1 : 0;
                request.Column = std::round(sheet.Crossings.front().X + 3);
                request.Row = std::round(sheet.Crossings.front().Y - 2);
                if (second)
                    for (const TGridTruth& t : sheet.Crossings)
                        if (t.Printed && t.East == 1 && t.North == -1) {
                            request.Second = TGridSecondKnown{std::round(t.X - 2), std::round(t.Y + 1), 1, -1};
                            break;
                        }
                const double cpu = CpuSeconds();
                const TGrid grid = FindGrid(*sheet.Bitmap, request);
                tally.Seconds += CpuSeconds() - cpu;
                if (std::getenv("GRID_BENCH_VERBOSE"))
                    std::fprintf(stderr, "seed %d offset %.0f: %s steps %.1f %.1f, %zu numbered\n", s, offset,
                                 grid.Found ? "found" : grid.Refusal.c_str(), grid.StepEast, grid.StepNorth,
                                 grid.Crossings.size());
                Score(sheet, grid, plan.Step, tally);
            }
        tally.Notes = tally.Refused ? std::to_string(tally.Refused) + ": " + tally.Notes : "-";
        PrintRow(run == 0 ? "one, no step ratio" : run == 1 ? "one, square steps" : "two, no step ratio", tally);
    }
}

} // namespace

int main(int argc, char** argv)
{
    int seeds = 5;
    std::string scans;
    double megapixels = 0;
    int twoGrids = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--seeds")
            seeds = std::atoi(argv[i + 1]);
        else if (arg == "--scans")
            scans = argv[i + 1];
        else if (arg == "--megapixels")
            megapixels = std::atof(argv[i + 1]);
        else if (arg == "--two-grids")
            twoGrids = std::atoi(argv[i + 1]);
    }
    InitializeImaging();
    if (twoGrids > 0) {
        TwoGridSheets(twoGrids);
    } else if (megapixels > 0) {
        LargeSheet(megapixels);
    } else if (!scans.empty()) {
        RealSheets(scans);
    } else {
        DrawnSheets(seeds);
        DistortedSheets(seeds);
    }
    FinalizeImaging();
    return 0;
}
