#pragma once
// Long straight lines in an overview image (frame_overview.h) that run
// along its rows, within a dozen degrees: the candidates for the sides of a
// map frame, with where along its length each line is inked.
#include <vector>

struct TFrameLine {
    // y = Offset + Slope * (x - CentreX), in overview pixels.
    double Offset = 0;
    double Slope = 0;
    double CentreX = 0;
    // Inked[x]: how many of the columns 0 .. x-1 the line is inked in
    // (a mark within a row of it); Near[x] likewise for marks within two
    // rows, which also counts a line running on beside it (the second line
    // of a double frame).
    std::vector<int> Inked;
    std::vector<int> Near;

    double At(double x) const { return Offset + Slope * (x - CentreX); }
    // Share of the columns from x0 to x1 (inclusive, rounded) in which the
    // line is inked; columns outside the image count as not inked.
    double Coverage(double x0, double x1) const { return Share(Inked, x0, x1); }
    double NearCoverage(double x0, double x1) const { return Share(Near, x0, x1); }

private:
    static double Share(const std::vector<int>& counts, double x0, double x1);
};

// Lines inked along at least minShare of the image's width.
std::vector<TFrameLine> FindLongLines(const std::vector<float>& image, int width, int height, double minShare);

// The steepest line looked for, in degrees from the rows.
constexpr double MaxFrameSkewDegrees = 12.0;
