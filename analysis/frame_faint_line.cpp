#include "analysis/frame_faint_line.h"

#include "analysis/median.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr int BinsPerPixel = 2;
// The side is read across at this many places, in this many pieces along it.
constexpr int Profiles = 960;
constexpr int Pieces = 8;
// A line lies at least this far inside the side, clear of its line.
constexpr double LeastGap = 3;
// The grey beside a line is read this far from it on both sides (pixels):
// beyond a blurred thin line, short of a neighbouring one.
constexpr double BesideFrom = 1.5, BesideTo = 2.5;
// The averaged dip must be this dark (grey levels), and show in this many
// of the pieces at least this share as dark as in the whole.
constexpr double LeastDip = 2.5;
constexpr int LeastPiecesShowing = 6;
constexpr double LeastPieceShare = 0.5;

} // namespace

double TLinesInside::TAverage::Mean(int bin) const
{
    return Weight[size_t(bin)] > 0 ? Sum[size_t(bin)] / Weight[size_t(bin)] : 0.0;
}

// The summed grey of the bins 1.5 to 2.5 pixels before and after the bin,
// and how many bins each sum holds; 0 where the bin lies too near an end
// or a bin there is empty.
int TLinesInside::TAverage::Beside(int bin, double (&beside)[2]) const
{
    const int near = int(std::lround(BesideFrom * BinsPerPixel)), far = int(std::lround(BesideTo * BinsPerPixel));
    if (bin - far < 0 || bin + far >= int(Sum.size()))
        return 0;
    beside[0] = beside[1] = 0;
    for (int d = near; d <= far; ++d)
        for (const int side : {0, 1}) {
            const int at = side ? bin + d : bin - d;
            if (Weight[size_t(at)] <= 0)
                return 0;
            beside[side] += Mean(at);
        }
    return far - near + 1;
}

// How much darker the grey at the bin is than that just beside it, or 0
// where a bin of either is empty.
double TLinesInside::TAverage::Dip(int bin) const
{
    // Darker than the grey on each side: the light halo a sharpened or
    // compressed scan leaves right beside a strong line is no line.
    double beside[2];
    const int count = Beside(bin, beside);
    if (count == 0 || Weight[size_t(bin)] <= 0)
        return 0;
    return std::min(beside[0], beside[1]) / count - Mean(bin);
}

// How much lighter the grey just outside the bin is than that just inside
// it, or 0 where a bin of either is empty.
double TLinesInside::TAverage::Step(int bin) const
{
    double beside[2];
    const int count = Beside(bin, beside);
    return count > 0 ? (beside[0] - beside[1]) / count : 0;
}

TLinesInside::TLinesInside(const TGreyReader& grey, const TSideFit& side, bool alongRows, int outward, double from,
                           double to, double mostGap)
{
    const int reach = int(std::ceil(mostGap + BesideTo)) + 2;
    const size_t bins = size_t(reach * BinsPerPixel);
    FWhole = {std::vector<double>(bins, 0.0), std::vector<double>(bins, 0.0)};
    FPieces.assign(Pieces, FWhole);
    // Along the middle of the side only: a line inside a frame ends a gap
    // short of its corners.
    const double first = from + mostGap + BesideTo, last = to - mostGap - BesideTo;
    if (last - first < 4 * Pieces)
        return;
    const int uLimit = alongRows ? grey.Width() : grey.Height();
    const int vLimit = alongRows ? grey.Height() : grey.Width();
    const int count = reach + 1;
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    for (int k = 0; k < Profiles; ++k) {
        const int u = int(std::lround(first + (last - first) * (k + 0.5) / Profiles));
        const double at = side.Line.At(u);
        // The pixels from the side's line to reach pixels inside it.
        const int low = outward < 0 ? int(std::floor(at)) : int(std::ceil(at)) - reach;
        if (u < 0 || u >= uLimit || low < 0 || low + count > vLimit)
            continue;
        if (alongRows)
            grey.Column(u, low, count, bytes.data());
        else
            grey.Row(u, low, count, bytes.data());
        TAverage& piece = FPieces[size_t(k * Pieces / Profiles)];
        // The grey at each bin's distance, between the two pixels beside it:
        // every profile counts once in every bin. (Pixels shared out
        // between the bins nearest them instead weigh the two halves of a
        // pixel by where the side's line falls in it, so that on a side
        // running nearly along the pixel grid alternate bins come from
        // different stretches of the side, and the map's content there
        // shows as a dip in every other bin.)
        for (int bin = 0; bin < int(bins); ++bin) {
            const double distance = (bin + 0.5) / BinsPerPixel;
            const double x = at - outward * distance - low;
            const int i = int(std::floor(x));
            if (i < 0 || i + 1 >= count)
                continue;
            const double t = x - i;
            const double value = (1 - t) * bytes[size_t(i)] + t * bytes[size_t(i + 1)];
            for (TAverage* average : {&piece, &FWhole}) {
                average->Sum[size_t(bin)] += value;
                average->Weight[size_t(bin)] += 1;
            }
        }
    }
    FFirstBin = int(std::ceil(std::max(LeastGap, side.Width / 2 + BesideTo) * BinsPerPixel));
    FLastBin = int(std::floor(mostGap * BinsPerPixel));
    // What the map's content or the paper's grain make of the averaged
    // grey: the spread of the dips, robust to the few lines among them.
    std::vector<double> dips;
    for (int bin = FFirstBin; bin <= FLastBin; ++bin)
        dips.push_back(FWhole.Dip(bin));
    FCentre = Median(dips);
    for (double& dip : dips)
        dip = std::abs(dip - FCentre);
    FSpread = std::max(0.1, 1.4826 * Median(dips));
    for (int bin = FFirstBin; bin <= FLastBin; ++bin)
        FClearness.push_back(ShowsAlong(bin) ? (FWhole.Dip(bin) - FCentre) / FSpread : 0.0);
}

bool TLinesInside::ShowsAlong(int bin) const
{
    return ShowsAlong(bin, &TAverage::Dip);
}

bool TLinesInside::StepShowsAlong(int bin) const
{
    return ShowsAlong(bin, &TAverage::Step);
}

// Whether the whole side's average shows a dip (or a step) at the bin, and
// enough of its pieces show one too, at it or a bin beside it.
bool TLinesInside::ShowsAlong(int bin, double (TAverage::*measure)(int) const) const
{
    const double whole = (FWhole.*measure)(bin);
    if (whole < LeastDip)
        return false;
    int showing = 0;
    for (const TAverage& piece : FPieces) {
        double strongest = 0;
        for (int near = bin - 1; near <= bin + 1; ++near)
            strongest = std::max(strongest, (piece.*measure)(near));
        showing += strongest >= LeastPieceShare * whole ? 1 : 0;
    }
    return showing >= LeastPiecesShowing;
}

double TLinesInside::EdgeClearness(double gap, double tolerance) const
{
    const int low = std::max(FFirstBin, int(std::floor((gap - tolerance) * BinsPerPixel)));
    const int high = std::min(FLastBin, int(std::ceil((gap + tolerance) * BinsPerPixel)));
    double clearest = 0;
    for (int bin = low; bin <= high; ++bin)
        if (StepShowsAlong(bin))
            clearest = std::max(clearest, FWhole.Step(bin) / FSpread);
    return clearest;
}

double TLinesInside::Clearness(double gap, double tolerance) const
{
    const int low = std::max(FFirstBin, int(std::floor((gap - tolerance) * BinsPerPixel)));
    const int high = std::min(FLastBin, int(std::ceil((gap + tolerance) * BinsPerPixel)));
    double clearest = 0;
    for (int bin = low; bin <= high; ++bin)
        clearest = std::max(clearest, FClearness[size_t(bin - FFirstBin)]);
    return clearest;
}
