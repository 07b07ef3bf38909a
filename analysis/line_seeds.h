#pragma once
// First guesses of the straight lines in a window: thin ink (what stands
// out from its surroundings by less than a few pixels of width, so that
// filled areas and their edges drop out) voted into a Hough accumulator of
// line directions and distances from a point.
#include <vector>

struct TDarknessWindow;

// A straight line n . p = Distance in window coordinates, n = (cos
// NormalAngle, sin NormalAngle); NormalAngle in [0, pi).
struct TStraightLine {
    double NormalAngle = 0;
    double Distance = 0;
};

struct TLineSeed {
    TStraightLine Line;
    double Strength = 0; // ink gathered along the line (darkness x pixels)
    double Width = 0;    // spread of that ink across the line, pixels
};

// Lines passing within reach of (x, y), strongest first, at most maxSeeds.
// noise: the window's noise level.
std::vector<TLineSeed> FindLineSeeds(
    const TDarknessWindow& window, double x, double y, double reach, double noise, int maxSeeds);
