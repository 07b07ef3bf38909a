// snap_accuracy: how close the feature snap lands to the true crossing or
// corner, how often it answers, how often it is wrong, and how long it takes,
// over generated patches (snap_patches.h) and on 120-megapixel bitmaps.
//
//   snap_accuracy [--positives N] [--negatives N] [--seed S] [--large N]
//                 [--misses FOLDER] [--case N]
//
// A positive counts as ambiguous when another crossing of two drawn straight
// lines lies under its click (Ambiguous); the misses are reported over the
// others, the ambiguous ones in their own row.
//
// --large N places N patches into 20000 x 6000 bitmaps (24-bit and 8-bit)
// and times the snap there; --misses writes each wrong, missed, dishonest or falsely
// answered patch as a PPM file with a line describing it (whether it is
// ambiguous, and how far the nearest other crossing of straight lines lies
// from its truth); --case N snaps on case N alone and prints its scene, its
// strokes and the lines it draws.
#include "analysis/feature_snap.h"
#include "bench/quantile.h"
#include "bench/snap_patches.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

struct TOutcome {
    bool Answered = false;
    double Error = 0; // pixels from the truth
    double Sigma = 0;
    bool KindRight = false;
    double Milliseconds = 0;
};

// Two printed crossings closer than this, pixels, lie under one click.
constexpr double SameClick = 4;
// A crossing farther from the click than another by less than this,
// pixels, is about as near: the click does not tell which it meant.
constexpr double AsNear = 1;

// Whether a positive's click may as well have meant another crossing of two
// straight drawn lines: one within SameClick of the truth, or about as near
// the click. (A curve's crossing with a line is no such place: a user
// clicking near a grid crossing means the crossing of two straight lines.)
bool Ambiguous(const TSnapCase& c)
{
    const double truth = std::hypot(c.ClickX - c.TruthX, c.ClickY - c.TruthY);
    for (const TDrawnCrossing& k : OtherCrossings(c))
        if (!k.Curved &&
            (std::hypot(k.X - c.TruthX, k.Y - c.TruthY) < SameClick ||
                std::hypot(k.X - c.ClickX, k.Y - c.ClickY) < truth + AsNear))
            return true;
    return false;
}

struct TTally {
    int Cases = 0, Answered = 0, Wrong = 0, KindRight = 0, WithinSigma = 0, Honest = 0;
    std::vector<double> Errors;
};

TOutcome Snap(const TBitmap& bitmap, const TSnapCase& c, double offsetX = 0, double offsetY = 0)
{
    TOutcome out;
    const auto start = std::chrono::steady_clock::now();
    const std::optional<TSnappedFeature> f = SnapToFeature(bitmap, c.ClickX + offsetX, c.ClickY + offsetY);
    out.Milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (f) {
        out.Answered = true;
        out.Error = std::hypot(f->Column - offsetX - c.TruthX, f->Row - offsetY - c.TruthY);
        out.Sigma = f->Sigma;
        out.KindRight = f->Kind == c.Kind;
    }
    return out;
}

void WriteMiss(const std::string& folder, int index, const TSnapCase& c, const TOutcome& o)
{
    const std::vector<uint8_t> rgb = RenderScene(c.Scene);
    const std::string name = folder + "/case" + std::to_string(index) + ".ppm";
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
        std::fprintf(f, "P6\n%d %d\n255\n", c.Scene.Width, c.Scene.Height);
        std::fwrite(rgb.data(), 1, rgb.size(), f);
        std::fclose(f);
    }
    double nearest = INFINITY;
    for (const TDrawnCrossing& k : OtherCrossings(c))
        if (!k.Curved)
            nearest = std::min(nearest, std::hypot(k.X - c.TruthX, k.Y - c.TruthY));
    std::printf("case %d%s (%s%s%s): other crossing %.2f px; click %.2f,%.2f truth %.2f,%.2f; %s error %.3f sigma %.3f; blur %.2f noise %.1f jpeg %d "
                "format %d\n",
        index, c.Positive && Ambiguous(c) ? " ambiguous" : "", c.Category.c_str(), c.Variation.empty() ? "" : ", ",
        c.Variation.c_str(), nearest, c.ClickX, c.ClickY, c.TruthX, c.TruthY, o.Answered ? "answered" : "nothing", o.Error,
        o.Sigma, c.Scene.Blur, c.Scene.Noise, c.Scene.JpegQuality, static_cast<int>(c.Scene.Format));
}

void PrintTally(const std::string& name, const TTally& t, bool positive)
{
    if (positive)
        std::printf("| %s | %d | %.1f %% | %.3f | %.3f | %.2f %% | %.1f %% | %.1f %% | %.1f %% |\n", name.c_str(),
            t.Cases, 100.0 * t.Answered / t.Cases, Quantile(t.Errors, 0.5), Quantile(t.Errors, 0.95),
            t.Answered ? 100.0 * t.Wrong / t.Answered : 0.0, t.Answered ? 100.0 * t.KindRight / t.Answered : 0.0,
            t.Answered ? 100.0 * t.WithinSigma / t.Answered : 0.0, t.Answered ? 100.0 * t.Honest / t.Answered : 0.0);
    else
        std::printf("| %s | %d | %.1f %% |\n", name.c_str(), t.Cases, 100.0 * (t.Cases - t.Answered) / t.Cases);
}

void TimeLarge(const std::vector<TSnapCase>& cases, int count)
{
    std::mt19937 random(7);
    for (const TBitmapFormat format : {bf24Bit, bf8Bit}) {
        TBitmap large;
        large.SetPixelFormat(format);
        large.SetSize(20000, 6000);
        std::vector<double> times;
        int same = 0, compared = 0;
        for (const TSnapCase& c : cases) {
            if (static_cast<int>(times.size()) >= count)
                break;
            if (c.Scene.Format != format)
                continue;
            const int left = std::uniform_int_distribution<int>(0, 20000 - c.Scene.Width)(random);
            const int top = std::uniform_int_distribution<int>(0, 6000 - c.Scene.Height)(random);
            PutPatch(large, left, top, c.Scene, RenderScene(c.Scene));
            const TOutcome big = Snap(large, c, left, top);
            TBitmap small;
            DrawScene(small, c.Scene);
            const TOutcome alone = Snap(small, c);
            ++compared;
            // The big bitmap's positions are large numbers, which round the
            // last bits of the fits differently.
            same += big.Answered == alone.Answered && std::fabs(big.Error - alone.Error) < 1e-3;
            times.push_back(big.Milliseconds);
        }
        std::printf(
            "20000 x 6000, %s: %zu snaps, mean %.2f ms, median %.2f ms, 95th percentile %.2f ms, longest %.2f ms; "
            "%d of %d answers as on the patch alone (within 0.001 px)\n",
            format == bf24Bit ? "24-bit" : "8-bit", times.size(),
            times.empty() ? 0 : std::accumulate(times.begin(), times.end(), 0.0) / times.size(), Quantile(times, 0.5),
            Quantile(times, 0.95), Quantile(times, 1.0), same, compared);
    }
}

} // namespace

int main(int argc, char** argv)
{
    int positives = 1200, negatives = 600, large = 0, only = -1;
    uint32_t seed = 2024;
    std::string misses;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--positives" && hasValue)
            positives = std::atoi(argv[++i]);
        else if (arg == "--negatives" && hasValue)
            negatives = std::atoi(argv[++i]);
        else if (arg == "--seed" && hasValue)
            seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--large" && hasValue)
            large = std::atoi(argv[++i]);
        else if (arg == "--case" && hasValue)
            only = std::atoi(argv[++i]);
        else if (arg == "--misses" && hasValue)
            misses = argv[++i];
        else {
            std::fprintf(stderr,
                "Usage: snap_accuracy [--positives N] [--negatives N] [--seed S] [--large N] [--misses FOLDER] "
                "[--case N]\n");
            return 2;
        }
    }
    const std::vector<TSnapCase> cases = MakeSnapCases(positives, negatives, seed);
    std::map<std::string, TTally> byCategory, byVariation;
    TTally allPositive, allNegative, clean, hard, unambiguous, ambiguous;
    std::map<std::string, TTally> byScan; // positives by pixel format, JPEG and blur
    std::vector<double> times;
    for (size_t i = 0; i < cases.size(); ++i) {
        const TSnapCase& c = cases[i];
        if (only >= 0 && static_cast<int>(i) != only)
            continue;
        if (only >= 0) {
            const TScene& k = c.Scene;
            std::printf("scene: seed %u, paper %.0f,%.0f,%.0f, blur %.17g, noise %.17g, JPEG %d, format %d\n", k.Seed,
                k.Paper.R, k.Paper.G, k.Paper.B, k.Blur, k.Noise, k.JpegQuality, static_cast<int>(k.Format));
            std::printf("click %.6f,%.6f truth %.6f,%.6f\n", c.ClickX, c.ClickY, c.TruthX, c.TruthY);
            for (const TStroke& t : k.Strokes)
                std::printf("stroke %.17g,%.17g to %.17g,%.17g width %.17g ink %.0f,%.0f,%.0f\n", t.X0, t.Y0, t.X1,
                    t.Y1, t.Width, t.Ink.R, t.Ink.G, t.Ink.B);
        }
        if (only >= 0)
            for (const TDrawnLine& l : c.Lines)
                std::printf("drawn %s at %.6f,%.6f angle %.6f from %.6f to %.6f radius %.6f width %.6f\n",
                    l.Arc ? "arc" : "line", l.X, l.Y, l.Angle, l.From, l.To, l.Radius, l.Width);
        TBitmap bitmap;
        DrawScene(bitmap, c.Scene);
        const TOutcome o = Snap(bitmap, c);
        times.push_back(o.Milliseconds);
        const bool isHard = c.Category.find(',') != std::string::npos;
        const bool varied = c.Positive && !c.Variation.empty();
        const std::string format = c.Scene.Format == bf1Bit ? "1-bit (bilevel)"
            : c.Scene.Format == bf8Bit                      ? "8-bit grey palette"
            : c.Scene.Format == bf32Bit                     ? "32-bit"
                                                            : "24-bit";
        TTally* scan[3] = {c.Positive ? &byScan[format] : nullptr,
            c.Positive && c.Scene.JpegQuality > 0 ? &byScan["JPEG-compressed"] : nullptr,
            c.Positive && c.Scene.Blur == 0 ? &byScan["not blurred"] : nullptr};
        TTally* click = c.Positive ? (Ambiguous(c) ? &ambiguous : &unambiguous) : nullptr;
        for (TTally* t :
            {varied ? &byVariation[c.Variation] : &byCategory[c.Positive ? c.Category : "negative: " + c.Category],
                c.Positive ? &allPositive : &allNegative,
                c.Positive && !varied ? (isHard ? &hard : &clean) : nullptr, scan[0], scan[1], scan[2], click}) {
            if (!t)
                continue;
            ++t->Cases;
            if (!o.Answered)
                continue;
            ++t->Answered;
            if (c.Positive) {
                t->Errors.push_back(o.Error);
                t->Wrong += o.Error > 1;
                t->KindRight += o.KindRight;
                // 95 % of a round normal error with this deviation per axis.
                t->WithinSigma += o.Error <= 2.448 * o.Sigma;
                // Honest: within three stated errors and 0.05 pixel.
                t->Honest += o.Error <= 3 * o.Sigma + 0.05;
            }
        }
        const bool miss = c.Positive ? (!o.Answered || o.Error > 3 * o.Sigma + 0.05) : o.Answered;
        if (!misses.empty() && miss)
            WriteMiss(misses, static_cast<int>(i), c, o);
    }
    std::printf("| patches | cases | found | median error (px) | 95th percentile (px) | wrong (> 1 px) | kind right | "
                "within 2.45 sigma | within 3 sigma + 0.05 px |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const auto& [name, t] : byCategory)
        if (name.rfind("negative: ", 0) != 0)
            PrintTally(name, t, true);
    PrintTally("**clean (no clutter)**", clean, true);
    PrintTally("**other lines, symbols or contours within 6 px**", hard, true);
    for (const auto& [name, t] : byVariation)
        PrintTally(name, t, true);
    PrintTally("**all positives**", allPositive, true);
    PrintTally("**unambiguous positives**", unambiguous, true);
    for (const auto& [name, t] : byScan)
        PrintTally(name, t, true);
    std::printf("\nAmbiguous: another crossing of two straight lines within %.0f px of the truth, or nearer the "
                "click than the truth and %.0f px.\n\n",
        SameClick, AsNear);
    std::printf("| positives | cases | declined | right | wrong (> 1 px) | misses |\n|---|---:|---:|---:|---:|---:|\n");
    for (const auto& [name, t] : {std::pair {"unambiguous", &unambiguous}, std::pair {"ambiguous", &ambiguous}})
        std::printf("| %s | %d | %d | %d | %d | %.1f %% |\n", name, t->Cases, t->Cases - t->Answered,
            t->Answered - t->Wrong, t->Wrong, t->Cases ? 100.0 * (t->Cases - t->Answered) / t->Cases : 0.0);
    std::printf("\n| negatives | cases | answered nothing |\n|---|---:|---:|\n");
    for (const auto& [name, t] : byCategory)
        if (name.rfind("negative: ", 0) == 0)
            PrintTally(name.substr(10), t, false);
    PrintTally("**all negatives**", allNegative, false);
    std::printf("\nTime per snap on the %zu patches: median %.2f ms, 95th percentile %.2f ms, longest %.2f ms\n",
        times.size(), Quantile(times, 0.5), Quantile(times, 0.95), Quantile(times, 1.0));
    if (large > 0)
        TimeLarge(cases, large);
    return 0;
}
