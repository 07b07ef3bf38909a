// georef_accuracy [TRIALS]: how close the fits come to the truth on
// synthetic sheets, how reliably a mistyped coordinate is named, and how
// well check points show the true error. Not a timing: it prints Markdown
// tables of errors in pixels (see bench/README.md).
//
// Each trial draws a sheet of 8000 x 6000 pixels at 2.5 map units a pixel,
// scaled 0.2 to 0.6 % differently along its axes, turned by up to 3 degrees
// and sheared by up to 0.1 degree; the control points lie spread over the
// sheet as a user picks them (corners first, so that two-point gets the
// diagonal), picked with a noise of 0.3 pixel along each axis.
#include "georef/fit_methods.h"
#include "georef/fit_quality.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int Width = 8000;
constexpr int Height = 6000;
constexpr double PixelSize = 2.5;
constexpr double PickingNoise = 0.3;
constexpr int CheckGrid = 21; // independent positions along each side

struct TTruth {
    TAffineTransform T;
    double East(double c, double r) const { return T.MapY(c, r); }
    double North(double c, double r) const { return T.MapX(c, r); }
};

TTruth DrawTruth(std::mt19937& random)
{
    std::uniform_real_distribution<double> unit(-1, 1);
    const double base = PixelSize * (1 + 0.01 * unit(random));
    const double difference = (0.002 + 0.002 * (1 + unit(random))) * (unit(random) < 0 ? -1 : 1);
    const double sx = base * (1 + difference / 2), sy = base * (1 - difference / 2);
    const double turn = 3 * unit(random) * std::numbers::pi / 180;
    const double shear = std::tan(0.1 * unit(random) * std::numbers::pi / 180);
    // (east, north) = origin + R(turn) · [1 shear; 0 1] · diag(sx, sy) · (col, −row)
    const double m00 = sx, m01 = shear * sy, m10 = 0, m11 = sy;
    const double c = std::cos(turn), s = std::sin(turn);
    const double a = c * m00 - s * m10, b = c * m01 - s * m11;
    const double d = s * m00 + c * m10, e = s * m01 + c * m11;
    TTruth truth;
    truth.T = {a, d, -b, -e, 3500000 + 1000 * unit(random), 5400000 + 1000 * unit(random)};
    return truth;
}

// Where a user picks n points: corners first (two-point gets the diagonal),
// then edges and the middle, each a little off its ideal place.
std::vector<std::pair<double, double>> PointPlaces(int n, std::mt19937& random)
{
    static const double Ideal[][2] = {{0.08, 0.08}, {0.92, 0.92}, {0.92, 0.08}, {0.08, 0.92}, {0.5, 0.5},
                                      {0.5, 0.08},  {0.5, 0.92},  {0.08, 0.5},  {0.92, 0.5}};
    static const int Order4[] = {0, 1, 2, 3};
    static const int Order5[] = {0, 1, 2, 3, 4};
    static const int Order6[] = {0, 1, 2, 3, 5, 6};
    static const int Order9[] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    const int* order = n == 4 ? Order4 : n == 5 ? Order5 : n == 6 ? Order6 : Order9;
    std::uniform_real_distribution<double> jitter(-0.04, 0.04);
    std::vector<std::pair<double, double>> places;
    for (int i = 0; i < n; ++i)
        places.emplace_back((Ideal[order[i]][0] + jitter(random)) * Width,
                            (Ideal[order[i]][1] + jitter(random)) * Height);
    return places;
}

TControlPoint Picked(int id, double col, double row, const TTruth& truth, TPointRole role, std::mt19937& random)
{
    std::normal_distribution<double> noise(0, PickingNoise);
    return {id, col + noise(random), row + noise(random), truth.East(col, row), truth.North(col, row), role};
}

// Errors in pixels at the independent positions.
void SheetErrors(const TFitModel& fit, const TTruth& truth, std::vector<double>& errors)
{
    for (int j = 0; j < CheckGrid; ++j)
        for (int i = 0; i < CheckGrid; ++i) {
            const double c = (Width - 1) * i / (CheckGrid - 1.0), r = (Height - 1) * j / (CheckGrid - 1.0);
            const TMapPosition at = fit.Map(c, r);
            errors.push_back(std::hypot(at.East - truth.East(c, r), at.North - truth.North(c, r)) / PixelSize);
        }
}

double Rms(const std::vector<double>& values)
{
    double sum = 0;
    for (const double v : values)
        sum += v * v;
    return values.empty() ? 0 : std::sqrt(sum / static_cast<double>(values.size()));
}

double Quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1))];
}

void AccuracyTable(int trials)
{
    std::printf("| transformation | points | RMS error (px) | 95 %% (px) | worst (px) |\n|---|---:|---:|---:|---:|\n");
    for (const char* method : {"two-point", "helmert", "affine"}) {
        for (const int n : {4, 6, 9}) {
            std::mt19937 random(1000 + n);
            std::vector<double> errors;
            for (int t = 0; t < trials; ++t) {
                const TTruth truth = DrawTruth(random);
                TControlPoints points;
                for (const auto& [c, r] : PointPlaces(n, random))
                    points.push_back(Picked(static_cast<int>(points.size()) + 1, c, r, truth, TPointRole::Fitted, random));
                SheetErrors(*FitControlPoints(method, points).Model, truth, errors);
            }
            std::printf("| %s | %d | %.3f | %.3f | %.3f |\n", method, n, Rms(errors), Quantile(errors, 0.95),
                        Quantile(errors, 1.0));
        }
    }
}

void BlunderTable(int trials)
{
    std::printf("\n| transformation | points | largest left-out error is the mistyped point | named in the warning "
                "(alone + among others) | a warning without a mistake |\n|---|---:|---:|---:|---:|\n");
    for (const char* method : {"helmert", "affine"}) {
        for (const int n : {5, 6, 9}) {
            std::mt19937 random(2000 + n);
            int largest = 0, named = 0, namedAmong = 0, falseAlarms = 0;
            for (int t = 0; t < trials; ++t) {
                const TTruth truth = DrawTruth(random);
                TControlPoints points;
                for (const auto& [c, r] : PointPlaces(n, random))
                    points.push_back(Picked(static_cast<int>(points.size()) + 1, c, r, truth, TPointRole::Fitted, random));
                // The clean sheet first: any warning naming a point is a false alarm.
                const TFitResult clean = FitControlPoints(method, points);
                for (const auto& w : AssessFit(clean, points, {Width, Height}).Warnings)
                    falseAlarms += w.rfind("Point ", 0) == 0 ? 1 : 0;

                std::uniform_int_distribution<int> which(0, n - 1);
                std::uniform_real_distribution<double> size(50, 200);
                const size_t bad = static_cast<size_t>(which(random));
                const double mistake = size(random) * (random() % 2 ? 1 : -1);
                (random() % 2 ? points[bad].East : points[bad].North) += mistake;
                const TFitResult fit = FitControlPoints(method, points);
                const TFitQuality quality = AssessFit(fit, points, {Width, Height});
                size_t worst = 0;
                for (size_t i = 0; i < points.size(); ++i)
                    if (quality.LeaveOneOut[i].value_or(0) > quality.LeaveOneOut[worst].value_or(0))
                        worst = i;
                largest += worst == bad ? 1 : 0;
                const std::string id = std::to_string(points[bad].Id);
                // "Point 3 may be ..." alone, or "Point 1, point 3 or point 4 may be ..." among others.
                for (const auto& w : quality.Warnings) {
                    const size_t end = w.find(" may be mistyped");
                    if (w.rfind("Point ", 0) != 0 || end == std::string::npos)
                        continue;
                    const std::string names = w.substr(0, end) + ",";
                    if (names.find("oint " + id + ",") != std::string::npos ||
                        names.find("oint " + id + " ") != std::string::npos)
                        ++(names.find(" or ") != std::string::npos ? namedAmong : named);
                }
            }
            std::printf("| %s | %d | %d of %d | %d + %d of %d | %d of %d |\n", method, n, largest, trials, named,
                        namedAmong, trials, falseAlarms, trials);
        }
    }
}

void CheckPointTable(int trials)
{
    constexpr int Checks = 4;
    std::printf("\n| transformation | fitted + check points | median shown / expected | within a factor of 2 "
                "|\n|---|---:|---:|---:|\n");
    for (const char* method : {"two-point", "helmert", "affine"}) {
        for (const int n : {4, 6, 9}) {
            std::mt19937 random(3000 + n);
            std::vector<double> ratios;
            int within = 0;
            for (int t = 0; t < trials; ++t) {
                const TTruth truth = DrawTruth(random);
                TControlPoints points;
                for (const auto& [c, r] : PointPlaces(n, random))
                    points.push_back(Picked(static_cast<int>(points.size()) + 1, c, r, truth, TPointRole::Fitted, random));
                std::uniform_real_distribution<double> anywhere(0.05, 0.95);
                std::vector<std::pair<double, double>> checks;
                for (int k = 0; k < Checks; ++k) {
                    checks.emplace_back(anywhere(random) * Width, anywhere(random) * Height);
                    points.push_back(Picked(static_cast<int>(points.size()) + 1, checks.back().first,
                                            checks.back().second, truth, TPointRole::Check, random));
                }
                const TFitResult fit = FitControlPoints(method, points);
                const TFitQuality quality = AssessFit(fit, points, {Width, Height});
                double trueSquares = 0;
                for (const auto& [c, r] : checks) {
                    const TMapPosition at = fit.Model->Map(c, r);
                    const double e = std::hypot(at.East - truth.East(c, r), at.North - truth.North(c, r)) / PixelSize;
                    trueSquares += e * e;
                }
                // Picking noise along both axes adds 2·σ² to every squared distance.
                const double expected = std::sqrt(trueSquares / Checks + 2 * PickingNoise * PickingNoise);
                const double ratio = quality.CheckRms->Pixels / expected;
                ratios.push_back(ratio);
                within += ratio >= 0.5 && ratio <= 2 ? 1 : 0;
            }
            std::printf("| %s | %d + %d | %.2f | %d of %d |\n", method, n, Checks, Quantile(ratios, 0.5), within,
                        trials);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    AccuracyTable(trials);
    BlunderTable(trials);
    CheckPointTable(trials);
    return 0;
}
