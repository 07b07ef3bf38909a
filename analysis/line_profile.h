#pragma once
// The darkness a scanner records across a straight printed line: a band of
// ink Width pixels wide, blurred by a Gaussian of deviation Blur, seen
// through square pixels. A pixel whose centre lies at signed distance d from
// the line's centre records Amplitude * Value(d) above the paper. The square
// pixel, projected on the line's normal, is the convolution of two boxes of
// widths |cos| and |sin| of the normal's angle, so the profile is a band
// convolved with two boxes and a Gaussian, which has a closed form; fitted
// to the pixels it finds the centre without the bias of a centroid.

#include <vector>

struct TProfileValue {
    double Value = 0;   // share of the pixel covered, 0 to 1
    double Slope = 0;   // derivative by d
    double ByWidth = 0; // derivative by the width
    double ByBlur = 0;  // derivative by the blur
};

class TLineProfile {
public:
    // normalAngle: direction of the line's normal, radians from the column
    // axis towards the row axis. width > 0, blur > 0 (pixels). A rough
    // profile takes the pixel and the blur together as one Gaussian: a
    // quarter of the work, for finding the line, not for measuring it.
    TLineProfile(double width, double blur, double normalAngle, bool rough = false);

    TProfileValue At(double d) const;
    // Distance beyond which the profile is zero to double precision.
    double Reach() const;

private:
    double FWidth;
    double FBlur;
    bool FRough;
    double FRoughBlur;    // the Gaussian of a rough profile
    double FFootprint[2]; // the pixel's two box widths along the normal, larger first
};

// A blurred profile sampled every eighth of a pixel across its reach, and
// read between the samples by cubic Hermite interpolation of the value (to
// better than 1e-4 of the line's darkness for a blur of 0.3 pixel or more)
// and linear interpolation of the slopes: a fit evaluates it at every pixel
// of a strip, many times more pixels than samples.
class TProfileTable {
public:
    static constexpr double MinBlur = 0.3;

    explicit TProfileTable(const TLineProfile& profile);
    TProfileValue At(double d) const;

private:
    static constexpr double Step = 0.125;
    double FReach;
    std::vector<TProfileValue> FSamples;
};
