#pragma once
// Transformations from pixel to map, as a world file states them.

// One scale for both axes, no rotation: pixel (c, r) lies at map
// Y = E0 + S·c and X = N0 − S·r.
struct TWorldTransform {
    double S = 0;
    double E0 = 0;
    double N0 = 0;
};

// The general form of the six lines: pixel (c, r) lies at map
// Y = C + A·c + B·r and X = F + D·c + E·r (file order A, D, B, E, C, F).
struct TAffineTransform {
    double A = 0, D = 0, B = 0, E = 0, C = 0, F = 0;
    double MapY(double col, double row) const { return C + A * col + B * row; }
    double MapX(double col, double row) const { return F + D * col + E * row; }
};

inline TAffineTransform ToAffine(const TWorldTransform& t)
{
    return {t.S, 0, 0, -t.S, t.E0, t.N0};
}
