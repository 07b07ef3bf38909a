#pragma once
// Straight lines too faint to follow profile by profile (a thin neatline on
// a small, low-resolution scan) running parallel inside one side of a
// rectangle found at full resolution: the grey across the side, averaged
// along it piece by piece, shows such a line as a dip at the same distance
// in every piece.
#include "analysis/frame_side_fit.h"

#include <vector>

class TLinesInside {
public:
    // The grey from the side's line to mostGap pixels inside it (outward:
    // the sign of v towards the margin), averaged along the middle of the
    // side between u = from and u = to.
    TLinesInside(const TGreyReader& grey, const TSideFit& side, bool alongRows, int outward, double from, double to,
                 double mostGap);

    // How clearly a line runs along the side at a distance within tolerance
    // of gap: its averaged dip over the spread of the dips elsewhere, or 0
    // where none is dark enough along most of the side, or where the gap is
    // too close to the side's line to tell or beyond what was read.
    double Clearness(double gap, double tolerance) const;
    // The same for the edge of a fill (a sea tinted up to a neatline too
    // faint to show on it): the grey steps darker inward there, by its
    // step over the spread of the dips, along most of the side.
    double EdgeClearness(double gap, double tolerance) const;

private:
    struct TAverage {
        std::vector<double> Sum;
        std::vector<double> Weight;
        double Mean(int bin) const;
        int Beside(int bin, double (&beside)[2]) const;
        double Dip(int bin) const;
        double Step(int bin) const;
    };
    // Whether the dip at the bin is dark enough in the whole and shows in
    // most pieces.
    bool ShowsAlong(int bin) const;
    bool StepShowsAlong(int bin) const;
    bool ShowsAlong(int bin, double (TAverage::*measure)(int) const) const;

    std::vector<TAverage> FPieces;
    TAverage FWhole;
    int FFirstBin = 0, FLastBin = -1;
    double FCentre = 0, FSpread = 0;
    // Of each bin from FFirstBin: its dip over the spread where it shows
    // along the side, else 0.
    std::vector<double> FClearness;
};
