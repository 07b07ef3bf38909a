#include "analysis/grid_finder.h"

#include "analysis/feature_snap.h"
#include "analysis/grid_crossing.h"
#include "analysis/grid_face.h"
#include "analysis/grid_line_follow.h"
#include "analysis/grid_spacing.h"
#include "analysis/grid_ticks.h"
#include "analysis/map_frame.h"
#include "analysis/median.h"
#include "platform/bitmap.h"
#include "platform/thread_pool.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <set>
#include <utility>

namespace {

// The known crossing may be picked this far off.
constexpr double KnownRadius = 12;
// A place predicted from this many crossings found around it is snapped
// within this radius (pixels): the less picture a snap reads, the sooner
// it is done.
constexpr int WellPredicted = 3;
constexpr double NearRadius = 6;
// A crossing's lines may turn this far from the grid's there, degrees.
constexpr double ArmTolerance = 4;
// A place predicted from this many crossings found around it is measured
// first along the lattice's lines alone, and taken so when the fit lands
// this near the prediction at this standard error or better; else it is
// snapped. From WellKnown crossings on, the fit reaches QuickReach pixels
// either side; with fewer (the tips of the lattice growing along the known
// crossing's lines), over most of the way to the next crossing: on faint
// lines the shorter fit is less sure there than a snap.
constexpr int LatticeKnown = 4;
constexpr int WellKnown = 5;
constexpr double QuickReach = 24;
constexpr double QuickMiss = 1;
constexpr double QuickSigma = 0.1;
// Places in a row without a crossing that the lattice grows across (a line
// missing, lettering over a crossing).
constexpr int MaxMisses = 2;
// A crossing stands apart when its neighbours put it farther than this
// (pixels), or than this many of the sheet's typical deviations.
constexpr double MinApart = 0.6;
constexpr double ApartDeviations = 5;
// Steps from quarter to quarter of the sheet may differ by this share.
constexpr double MaxStepChange = 0.1;
// The spacing measured and the one the known crossings give may differ by this share.
constexpr double MaxSpacingMisfit = 0.04;
// The steps' ratio and the spacing's may differ by this share.
constexpr double MaxRatioMisfit = 0.1;
constexpr size_t MaxPlaces = 200000;
// While the map frame is still being looked for, the lattice grows up to
// this share of the picture's smaller side from its edges.
constexpr double FrameRoom = 0.12;
// A crossing lies beside a line followed to it when farther than this
// (pixels), or than this many standard errors of the two.
constexpr double MinOffLine = 1.5;
constexpr double OffLineDeviations = 4;
// A line is followed to the next crossing on it across at most this many places.
constexpr int MaxFollowPlaces = MaxMisses + 1;
// Steps measured again inside the map frame that differ from those the
// lattice grows by less than this share do not make it grow again.
constexpr double SameStep = 0.01;
// A lattice numbering fewer than this tries the other steps its lines fit.
constexpr size_t EnoughCrossings = 10;

using TPlace = std::pair<int, int>; // (i to the image's right, j down the image)

struct TNode {
    bool Ok = false;
    bool Outside = false;
    int Misses = 0;
    double X = 0, Y = 0, Sigma = 0; // snapped
    double PX = 0, PY = 0;          // predicted
    bool Snapped = false;           // the snap found something
    // Width and blur of its row-wise and column-wise line where measured
    // along the lattice's lines (0 where the snap took it).
    double Width[2] = {0, 0}, Blur[2] = {0, 0};
};

struct TLocal {
    double X = 0, Y = 0;             // position at the place
    TGridPoint StepI, StepJ;         // pixel steps to the next place along i and j
    int Points = 0;
};

std::string Fixed(double value, int decimals = 1)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A smooth lattice through the found crossings near a place: position,
// steps and their change (a quadratic in the place), with the grid's steps
// as the prior that holds where few crossings are found.
TLocal FitLocal(const std::map<TPlace, TNode>& nodes, TPlace at, int reach, bool skipSelf, TGridPoint stepI,
                TGridPoint stepJ, std::optional<TPlace> skip = std::nullopt)
{
    Eigen::Matrix<double, 6, 6> normal = Eigen::Matrix<double, 6, 6>::Zero();
    Eigen::Matrix<double, 6, 2> rhs = Eigen::Matrix<double, 6, 2>::Zero();
    int points = 0;
    for (int i = at.first - reach; i <= at.first + reach; ++i)
        for (int j = at.second - reach; j <= at.second + reach; ++j) {
            const auto it = nodes.find({i, j});
            if (it == nodes.end() || !it->second.Ok || (skipSelf && TPlace{i, j} == at) || TPlace{i, j} == skip)
                continue;
            const double di = i - at.first, dj = j - at.second;
            Eigen::Matrix<double, 6, 1> row;
            row << 1, di, dj, di * di, di * dj, dj * dj;
            const double w = 1 / (1 + di * di + dj * dj);
            normal += w * row * row.transpose();
            rhs.col(0) += w * row * it->second.X;
            rhs.col(1) += w * row * it->second.Y;
            ++points;
        }
    // Priors: the grid's steps, and no bending.
    constexpr double StepPrior = 1e-3, BendPrior = 1e-3;
    normal(1, 1) += StepPrior, normal(2, 2) += StepPrior;
    rhs(1, 0) += StepPrior * stepI.X, rhs(1, 1) += StepPrior * stepI.Y;
    rhs(2, 0) += StepPrior * stepJ.X, rhs(2, 1) += StepPrior * stepJ.Y;
    for (int k = 3; k < 6; ++k)
        normal(k, k) += BendPrior;
    normal(0, 0) += 1e-9;
    const Eigen::Matrix<double, 6, 2> solution = normal.ldlt().solve(rhs);
    TLocal local;
    local.X = solution(0, 0), local.Y = solution(0, 1);
    local.StepI = {solution(1, 0), solution(1, 1)};
    local.StepJ = {solution(2, 0), solution(2, 1)};
    local.Points = points;
    return local;
}

double LineAngle(TGridPoint d)
{
    double a = std::atan2(d.Y, d.X) * 180 / M_PI;
    a = std::fmod(a + 360, 180);
    return a;
}

double AngleApart(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 180);
    return std::min(d, 180 - d);
}

bool ArmsRunAs(const std::vector<double>& arms, double first, double second)
{
    auto has = [&](double angle) {
        for (const double arm : arms)
            if (AngleApart(arm, angle) <= ArmTolerance)
                return true;
        return false;
    };
    return arms.size() == 4 && has(first) && has(second);
}

// The two lines of a snapped crossing: the one nearer the rows first.
bool CrossingLines(const TSnappedFeature& f, TGridPoint& along, TGridPoint& across)
{
    if (f.Kind != TFeatureKind::Crossing || f.Arms.size() != 4)
        return false;
    const double first = std::fmod(f.Arms[0], 180);
    double second = -1;
    for (const double arm : f.Arms)
        if (AngleApart(arm, first) > 20)
            second = std::fmod(arm, 180);
    if (second < 0)
        return false;
    const bool firstRows = AngleApart(first, 0) < AngleApart(second, 0);
    const double rows = (firstRows ? first : second) * M_PI / 180;
    const double columns = (firstRows ? second : first) * M_PI / 180;
    along = {std::cos(rows), std::sin(rows)};
    if (along.X < 0)
        along = {-along.X, -along.Y};
    across = {std::cos(columns), std::sin(columns)};
    if (across.Y < 0)
        across = {-across.X, -across.Y};
    return true;
}

struct TSnapJob {
    TPlace Place;
    TLocal Local;
    std::optional<TSnappedFeature> Feature;
    // Measured along the lattice's own directions where the snap found none.
    std::optional<TMeasuredCrossing> Measured;
    // The lines' shapes as neighbours on them measured them (0: not known).
    double Width[2] = {0, 0}, Blur[2] = {0, 0};
};

TGridCrossingGuess GuessAt(double x, double y, TGridPoint stepI, TGridPoint stepJ, double reach)
{
    const double li = std::hypot(stepI.X, stepI.Y), lj = std::hypot(stepJ.X, stepJ.Y);
    return {x, y, stepI.X / li, stepI.Y / li, stepJ.X / lj, stepJ.Y / lj, reach};
}

// The fits along the lattice reach most of the way to the next crossing.
double MeasureReach(double stepEast, double stepNorth)
{
    return std::clamp(0.4 * std::min(stepEast, stepNorth), 8.0, 60.0);
}

} // namespace

const char* GridRefusalText(TGridRefusal reason)
{
    switch (reason) {
    case TGridRefusal::NotGridLines:
        return "its lines do not run as the grid's";
    case TGridRefusal::Neighbours:
        return "it stands apart from its lattice neighbours";
    case TGridRefusal::Unchecked:
        return "too few neighbours to check it against";
    case TGridRefusal::OffItsLines:
        return "it lies beside its lines as followed from its neighbours";
    }
    return "";
}

TGrid FindGrid(const TBitmap& bitmap, const TGridRequest& request, const std::function<void(size_t crossings)>& progress)
{
    TGrid grid;
    const std::string picked = Fixed(request.Column, 0) + "," + Fixed(request.Row, 0);
    const std::optional<TSnappedFeature> known =
        SnapToFeature(bitmap, request.Column, request.Row, {KnownRadius, TSnapTarget::Crossing});
    TGridPoint along, across;
    std::optional<TSnappedFeature> measuredKnown;
    const bool snapped = known && CrossingLines(*known, along, across);
    if (!snapped) {
        // Lines too thin or broken for the snap alone: measured along the
        // image's axes turned a few degrees, the surest fit kept.
        std::optional<TMeasuredCrossing> best;
        TGridPoint bestAlong, bestAcross;
        for (const double a : {0, -3, 3, -6, 6})
            for (const double b : {0, -3, 3, -6, 6}) {
                const TGridPoint ga{std::cos(a * M_PI / 180), std::sin(a * M_PI / 180)};
                const TGridPoint gb{-std::sin(b * M_PI / 180), std::cos(b * M_PI / 180)};
                const auto m = MeasureGridCrossing(bitmap, {request.Column, request.Row, ga.X, ga.Y, gb.X, gb.Y, 30});
                if (m && (!best || m->Sigma < best->Sigma) &&
                    std::hypot(m->X - request.Column, m->Y - request.Row) <= KnownRadius)
                    best = m, bestAlong = ga, bestAcross = gb;
            }
        if (best) {
            TSnappedFeature f;
            f.Column = best->X, f.Row = best->Y, f.Sigma = best->Sigma;
            measuredKnown = f;
            along = bestAlong, across = bestAcross;
        }
    }
    const std::optional<TSnappedFeature>& start = snapped ? known : measuredKnown;
    if (!start) {
        grid.Refusal = "No crossing of two lines within " + Fixed(KnownRadius, 0) + " pixels of the known crossing at " +
                       picked;
        // A grid printed only as ticks in the margin has no crossing on the
        // face: its lines join the ticks across it.
        if (request.UseFrame) {
            const TMapFrame frame = FindMapFrame(bitmap);
            TGridFace framed;
            for (int k = 0; k < 4; ++k) {
                framed.Corners[size_t(2 * k)] = frame.Corners[size_t(k)].Col;
                framed.Corners[size_t(2 * k + 1)] = frame.Corners[size_t(k)].Row;
            }
            framed.Framed = frame.Found;
            TTickGrid ticks = GridFromTicks(bitmap, framed, request, KnownRadius);
            if (ticks.Grid)
                return std::move(*ticks.Grid);
            if (ticks.KnownFound)
                grid.Refusal = ticks.Refusal;
            else if (!ticks.Refusal.empty())
                grid.Refusal += ", and " + ticks.Refusal;
        }
        return grid;
    }
    grid.KnownColumn = start->Column;
    grid.KnownRow = start->Row;
    const TGridPoint origin{start->Column, start->Row};

    // The map frame, when one is found around the known crossing, is the face.
    TGridFace face = PictureFace(bitmap.Width(), bitmap.Height(), 0);
    auto faceOf = [&](const TMapFrame& frame) {
        TGridFace framed;
        for (int k = 0; k < 4; ++k) {
            framed.Corners[size_t(2 * k)] = frame.Corners[size_t(k)].Col;
            framed.Corners[size_t(2 * k + 1)] = frame.Corners[size_t(k)].Row;
        }
        framed.Framed = true;
        return frame.Found && framed.Inside(origin.X, origin.Y) > KnownRadius ? framed : face;
    };
    // With more than one thread the frame is looked for beside the lattice's
    // growth (on a large sheet it takes a sixth of the time): the crossings
    // near the known one lie inside any frame, and once it is known the
    // places outside it are left out as if it had been known from the start.
    const unsigned threads = pwthreads::ThreadCount();
    std::future<TMapFrame> pendingFrame;
    if (request.UseFrame) {
        if (threads > 1 && !request.Second)
            pendingFrame = std::async(std::launch::async, [&bitmap] { return FindMapFrame(bitmap); });
        else
            face = faceOf(FindMapFrame(bitmap));
    }

    // Steps along both lines through the known crossing.
    std::vector<TMeasuredSpacing> easts, norths;
    double stepEast = 0, stepNorth = 0;
    auto measureSteps = [&] {
        easts = MeasureSpacings(bitmap, face, {origin, along, across});
        norths = MeasureSpacings(bitmap, face, {origin, across, along});
        stepEast = easts.empty() ? 0 : easts[0].Pixels, stepNorth = norths.empty() ? 0 : norths[0].Pixels;
    };
    auto settleSteps = [&] {
        if (stepEast <= 0)
            stepEast = stepNorth;
        if (stepNorth <= 0)
            stepNorth = stepEast;
    };
    measureSteps();
    if (request.Second) {
        // The second crossing's offset in the two line directions.
        const TGridSecondKnown& s = *request.Second;
        if (std::fabs(s.StepsEast - std::round(s.StepsEast)) > 1e-6 ||
            std::fabs(s.StepsNorth - std::round(s.StepsNorth)) > 1e-6) {
            grid.Refusal = "The second known crossing's coordinates are not a whole number of spacings from the "
                           "first's (" + Fixed(s.StepsEast, 3) + " and " + Fixed(s.StepsNorth, 3) + ")";
            return grid;
        }
        const double dx = s.Column - origin.X, dy = s.Row - origin.Y;
        const double det = along.X * across.Y - along.Y * across.X;
        const double p = (dx * across.Y - dy * across.X) / det, q = (along.X * dy - along.Y * dx) / det;
        // The step the two crossings give, when the lines on the sheet show
        // it: the likeliest step measured, another the lines also fit, or a
        // second grid's (then the known crossings tell the two grids apart).
        auto agree = [&](double measured, const std::vector<TMeasuredSpacing>& candidates, double steps,
                         double offset, const char* where) {
            if (std::fabs(std::round(steps)) < 1)
                return measured;
            const double given = std::fabs(offset) / std::fabs(std::round(steps));
            if (measured <= 0)
                return given;
            auto fits = [&](double step) { return step > 0 && std::fabs(given - step) <= MaxSpacingMisfit * step; };
            if (fits(measured))
                return measured;
            for (size_t k = 1; k < candidates.size(); ++k)
                if (fits(candidates[k].Pixels))
                    return candidates[k].Pixels;
            if (fits(candidates.front().RivalPixels))
                return given;
            grid.Refusal = "The known crossings put the grid's lines " + Fixed(given) + " pixels apart " + where +
                           ", but the lines on the sheet are " + Fixed(measured) +
                           " pixels apart: check the spacing and the known coordinates";
            return measured;
        };
        // Two grids along a line that the second crossing does not step along.
        const bool rivalEast = !easts.empty() && easts[0].RivalPixels > 0;
        const bool rivalNorth = !norths.empty() && norths[0].RivalPixels > 0;
        if ((rivalEast && std::fabs(std::round(s.StepsEast)) < 1) ||
            (rivalNorth && std::fabs(std::round(s.StepsNorth)) < 1)) {
            grid.Refusal = "Two grids are printed, with steps of " + Fixed(rivalEast ? stepEast : stepNorth) +
                           " and " + Fixed(rivalEast ? easts[0].RivalPixels : norths[0].RivalPixels) +
                           " pixels: give a second known crossing off both lines of the first";
            return grid;
        }
        stepEast = agree(stepEast, easts, s.StepsEast, p, "along the rows");
        if (grid.Refusal.empty())
            stepNorth = agree(stepNorth, norths, s.StepsNorth, q, "down the columns");
        if (!grid.Refusal.empty())
            return grid;
    }
    if (stepEast <= 0 && stepNorth <= 0 && pendingFrame.valid()) {
        face = faceOf(pendingFrame.get());
        if (face.Framed)
            measureSteps();
    }
    if (stepEast <= 0 && stepNorth <= 0) {
        grid.Refusal = "No lines cross the known crossing's lines at a steady spacing";
        return grid;
    }
    // Lines of two grids cross the known crossing's line, and one known
    // crossing cannot tell which grid it belongs to: the second fixes the step.
    if (!request.Second)
        for (const auto* measured : {&easts, &norths})
            if (!measured->empty() && measured->front().RivalPixels > 0) {
                grid.Refusal = "Two grids are printed, with steps of " + Fixed(measured->front().Pixels) + " and " +
                               Fixed(measured->front().RivalPixels) + " pixels: give a second known crossing";
                return grid;
            }
    settleSteps();
    double radius = 0, margin = 0;
    auto gridLike = [](const TSnapJob& job) {
        return job.Feature && job.Feature->Kind == TFeatureKind::Crossing &&
               ArmsRunAs(job.Feature->Arms, LineAngle(job.Local.StepI), LineAngle(job.Local.StepJ));
    };
    auto snapAll = [&](std::vector<TSnapJob>& jobs, double snapRadius, bool measure) {
        pwthreads::TOrderedWork work;
        work.Count = jobs.size();
        work.Work = [&](size_t k, unsigned) {
            TSnapJob& job = jobs[k];
            const double r = job.Local.Points >= WellPredicted ? std::min(snapRadius, NearRadius) : snapRadius;
            if (measure && job.Local.Points >= LatticeKnown) {
                // Where the lattice around says where the crossing lies and
                // how its lines run, the two lines are fitted there alone.
                TGridCrossingGuess guess = GuessAt(job.Local.X, job.Local.Y, job.Local.StepI, job.Local.StepJ,
                                                   job.Local.Points >= WellKnown
                                                       ? std::min(MeasureReach(stepEast, stepNorth), QuickReach)
                                                       : MeasureReach(stepEast, stepNorth));
                for (int k = 0; k < 2; ++k)
                    guess.Width[k] = job.Width[k], guess.Blur[k] = job.Blur[k];
                const auto m = MeasureGridCrossing(bitmap, guess);
                if (m && m->Sigma <= QuickSigma && std::hypot(m->X - job.Local.X, m->Y - job.Local.Y) <= QuickMiss) {
                    job.Measured = m;
                    return;
                }
            }
            job.Feature = SnapToFeature(bitmap, job.Local.X, job.Local.Y, {r, TSnapTarget::Crossing});
            if (measure && !gridLike(job))
                job.Measured = MeasureGridCrossing(
                    bitmap, GuessAt(job.Local.X, job.Local.Y, job.Local.StepI, job.Local.StepJ,
                                    MeasureReach(stepEast, stepNorth)));
        };
        work.Commit = [](size_t) {};
        pwthreads::RunOrdered(work, pendingFrame.valid() ? threads - 1 : threads);
    };

    // The lattice grows outward in waves, each predicted from the last.
    std::map<TPlace, TNode> nodes;
    TGridPoint stepI, stepJ;
    auto grow = [&] {
        radius = std::clamp(0.25 * std::min(stepEast, stepNorth), 4.0, KnownRadius);
        margin = radius + 4;
        stepI = {stepEast * along.X, stepEast * along.Y};
        stepJ = {stepNorth * across.X, stepNorth * across.Y};
        nodes.clear();
        TNode first;
        first.Ok = first.Snapped = true;
        first.X = first.PX = origin.X, first.Y = first.PY = origin.Y, first.Sigma = start->Sigma;
        nodes[{0, 0}] = first;
        std::vector<TPlace> frontier{{0, 0}};
        // The frame once found: false when the steps measured inside it
        // differ from those the lattice grows by, so that it grows again.
        auto takeFrame = [&](bool wait) {
            if (!pendingFrame.valid() ||
                (!wait && pendingFrame.wait_for(std::chrono::seconds(0)) != std::future_status::ready))
                return true;
            face = faceOf(pendingFrame.get());
            if (!face.Framed)
                return true;
            const double usedEast = stepEast, usedNorth = stepNorth;
            measureSteps();
            if (stepEast <= 0 && stepNorth <= 0)
                stepEast = usedEast, stepNorth = usedNorth;
            settleSteps();
            // Steps that differ by a hair (the same lines, measured over
            // less of them) keep what has grown: the lattice predicts from
            // its crossings, the steps only hold where it has few.
            auto alike = [](double measured, double used) {
                return std::fabs(measured - used) <= SameStep * used;
            };
            if (!alike(stepEast, usedEast) || !alike(stepNorth, usedNorth))
                return false;
            if (stepEast != usedEast || stepNorth != usedNorth) {
                radius = std::clamp(0.25 * std::min(stepEast, stepNorth), 4.0, KnownRadius);
                margin = radius + 4;
                stepI = {stepEast * along.X, stepEast * along.Y};
                stepJ = {stepNorth * across.X, stepNorth * across.Y};
            }
            for (auto& [place, node] : nodes)
                if (place != TPlace{0, 0} && !node.Outside && face.Inside(node.PX, node.PY) < margin)
                    node.Outside = true, node.Ok = node.Snapped = false;
            std::erase_if(frontier, [&](const TPlace& p) { return nodes[p].Outside; });
            return true;
        };
        while (!frontier.empty() && nodes.size() < MaxPlaces) {
            if (!takeFrame(false))
                return false;
            std::map<TPlace, int> candidates; // place: misses of its parent
            for (const TPlace& p : frontier) {
                const TNode& node = nodes[p];
                if (node.Misses >= MaxMisses)
                    continue;
                for (const TPlace& n : {TPlace{p.first + 1, p.second}, TPlace{p.first - 1, p.second},
                                        TPlace{p.first, p.second + 1}, TPlace{p.first, p.second - 1}}) {
                    if (nodes.count(n))
                        continue;
                    const auto c = candidates.find(n);
                    if (c == candidates.end())
                        candidates[n] = node.Misses;
                    else
                        c->second = std::min(c->second, node.Misses);
                }
            }
            std::vector<TSnapJob> jobs;
            for (const auto& [place, misses] : candidates) {
                TNode node;
                const TLocal local = FitLocal(nodes, place, 2, false, stepI, stepJ);
                const TLocal wide = local.Points >= 3 ? local : FitLocal(nodes, place, 4, false, stepI, stepJ);
                node.PX = wide.X, node.PY = wide.Y;
                node.Misses = misses + 1;
                nodes[place] = node;
                TSnapJob job{place, wide, std::nullopt, std::nullopt};
                // Each line's shape from a neighbour on it.
                for (int k = 0; k < 2; ++k)
                    for (const int side : {-1, 1}) {
                        const TPlace on = k == 0 ? TPlace{place.first + side, place.second}
                                                 : TPlace{place.first, place.second + side};
                        const auto it = nodes.find(on);
                        if (job.Width[k] <= 0 && it != nodes.end() && it->second.Ok && it->second.Width[k] > 0)
                            job.Width[k] = it->second.Width[k], job.Blur[k] = it->second.Blur[k];
                    }
                jobs.push_back(job);
            }
            // Near the picture's edges, where a frame may run, it is waited for.
            if (pendingFrame.valid()) {
                const TGridFace picture = PictureFace(bitmap.Width(), bitmap.Height(), 0);
                const double room = FrameRoom * std::min(bitmap.Width(), bitmap.Height()) + margin;
                if (std::any_of(jobs.begin(), jobs.end(), [&](const TSnapJob& job) {
                        return picture.Inside(job.Local.X, job.Local.Y) < room;
                    }) &&
                    !takeFrame(true))
                    return false;
            }
            std::erase_if(jobs, [&](const TSnapJob& job) {
                TNode& node = nodes[job.Place];
                node.Outside = face.Inside(node.PX, node.PY) < margin;
                return node.Outside;
            });
            snapAll(jobs, radius, true);
            frontier.clear();
            for (const TSnapJob& job : jobs) {
                TNode& node = nodes[job.Place];
                frontier.push_back(job.Place);
                if (job.Measured && !gridLike(job)) {
                    node.Snapped = node.Ok = true, node.Misses = 0;
                    node.X = job.Measured->X, node.Y = job.Measured->Y, node.Sigma = job.Measured->Sigma;
                    for (int k = 0; k < 2; ++k)
                        node.Width[k] = job.Measured->Width[k], node.Blur[k] = job.Measured->Blur[k];
                    continue;
                }
                if (!job.Feature)
                    continue;
                node.Snapped = true;
                node.X = job.Feature->Column, node.Y = job.Feature->Row, node.Sigma = job.Feature->Sigma;
                if (gridLike(job))
                    node.Ok = true, node.Misses = 0;
            }
            if (progress)
                progress(size_t(std::count_if(nodes.begin(), nodes.end(), [](const auto& n) { return n.second.Ok; })));
        }
        return takeFrame(true);
    };
    // A step measured as a whole multiple of the grid's leaves lines out
    // between the crossings found: looked for at a share of the step
    // between found neighbours, and the lattice grown again when they are there.
    auto finer = [&](bool rows) {
        std::vector<std::pair<const TNode*, const TNode*>> pairs;
        for (const auto& [place, node] : nodes) {
            const auto next = nodes.find(rows ? TPlace{place.first + 1, place.second} : TPlace{place.first, place.second + 1});
            if (node.Ok && next != nodes.end() && next->second.Ok)
                pairs.push_back({&node, &next->second});
        }
        const size_t keep = 6;
        if (pairs.size() > keep) {
            std::vector<std::pair<const TNode*, const TNode*>> spread;
            for (size_t k = 0; k < keep; ++k)
                spread.push_back(pairs[k * pairs.size() / keep]);
            pairs = spread;
        }
        for (const int parts : {2, 3}) {
            std::vector<TSnapJob> jobs;
            for (const auto& [a, b] : pairs)
                {
                    // A third of the way finds a step three times too long
                    // (and a half twice), without snapping at every share.
                    const double f = 1.0 / parts;
                    TSnapJob job;
                    job.Local.X = a->X + f * (b->X - a->X), job.Local.Y = a->Y + f * (b->Y - a->Y);
                    job.Local.StepI = stepI, job.Local.StepJ = stepJ;
                    jobs.push_back(job);
                }
            if (jobs.empty())
                return 1;
            snapAll(jobs, std::max(2.0, std::min(radius, 0.2 * (rows ? stepEast : stepNorth) / parts)), false);
            // The snap alone judges: a fit along given directions could
            // take lettering beside a line for a crossing line.
            const size_t found = size_t(std::count_if(jobs.begin(), jobs.end(), gridLike));
            if (2 * found >= jobs.size())
                return parts;
        }
        return 1;
    };
    // A step measured too short numbers every second (or third) place
    // only: all crossings found at even places means the lines are twice
    // as far apart.
    auto coarser = [&](bool rows) {
        for (const int parts : {2, 3}) {
            int off = 0, on = 0;
            for (const auto& [place, node] : nodes) {
                const int k = rows ? place.first : place.second;
                if (!node.Ok || k == 0)
                    continue;
                (k % parts == 0 ? on : off) += 1;
            }
            if (on >= 4 && off == 0)
                return parts;
        }
        return 1;
    };
    std::map<TPlace, TGridRefusal> refused;
    // Each line followed from crossing to crossing: one crossing beside the
    // line where its neighbours lie on it is refused; of two that disagree
    // with nothing else to tell, both (never the known one).
    auto followLines = [&] {
        struct TEdge {
            TPlace From, To;
            bool Rows = false; // along a row-wise line (i changes)
            std::vector<TGridPoint> Between;
            std::optional<TLineFollowed> Followed, Back;
        };
        std::vector<TEdge> edges;
        auto offLine = [&](const TLineFollowed& followed, TPlace end) {
            const double sigma = std::hypot(followed.Sigma, nodes.at(end).Sigma);
            return std::fabs(followed.Offset) > std::max(MinOffLine, OffLineDeviations * sigma);
        };
        auto place = [&](TPlace p) -> TGridPoint {
            const TNode& node = nodes[p];
            return node.Ok ? TGridPoint{node.X, node.Y} : TGridPoint{node.PX, node.PY};
        };
        for (const auto& [p, node] : nodes) {
            if (!node.Ok)
                continue;
            for (const bool rows : {true, false}) {
                std::vector<TPlace> between;
                for (int k = 1; k <= MaxFollowPlaces; ++k) {
                    const TPlace q = rows ? TPlace{p.first + k, p.second} : TPlace{p.first, p.second + k};
                    const auto it = nodes.find(q);
                    if (it == nodes.end())
                        break;
                    if (!it->second.Ok) {
                        between.push_back(q);
                        continue;
                    }
                    // From the end nearer the known crossing.
                    auto far = [](TPlace a) { return std::abs(a.first) + std::abs(a.second); };
                    TEdge edge{p, q, rows, {}, std::nullopt, std::nullopt};
                    if (far(q) < far(p))
                        std::swap(edge.From, edge.To);
                    for (const TPlace& b : between)
                        edge.Between.push_back(place(b));
                    edges.push_back(std::move(edge));
                    break;
                }
            }
        }
        // The line's heading at a crossing, as the lattice around it gives
        // it without the crossing at the other end.
        auto heading = [&](TPlace at, TPlace other, bool rows) {
            const TLocal local = FitLocal(nodes, at, 2, false, stepI, stepJ, other);
            TGridPoint h = rows ? local.StepI : local.StepJ;
            const double length = std::hypot(h.X, h.Y);
            h = {h.X / length, h.Y / length};
            const TNode &a = nodes.at(at), &b = nodes.at(other);
            if (h.X * (b.X - a.X) + h.Y * (b.Y - a.Y) < 0)
                h = {-h.X, -h.Y};
            return h;
        };
        auto follow = [&](TEdge& e, bool back) {
            const TPlace from = back ? e.To : e.From, to = back ? e.From : e.To;
            const TNode &a = nodes.at(from), &b = nodes.at(to);
            (back ? e.Back : e.Followed) =
                FollowGridLine(bitmap, {a.X, a.Y}, {b.X, b.Y}, heading(from, to, e.Rows), e.Between);
        };
        auto followAll = [&](bool back) {
            std::vector<TEdge*> work;
            for (TEdge& e : edges)
                if (!back || (e.Followed && offLine(*e.Followed, e.To)))
                    work.push_back(&e);
            pwthreads::TOrderedWork pieces;
            pieces.Count = work.size();
            pieces.Work = [&](size_t k, unsigned) { follow(*work[k], back); };
            pieces.Commit = [](size_t) {};
            pwthreads::RunOrdered(pieces, threads);
        };
        // Followed the other way only when beside the line the first way:
        // where two lines cross at a small angle, the one followed from a
        // crossing may not be the grid's.
        followAll(false);
        followAll(true);
        // Per crossing and line: edges that arrive on it and beside it.
        for (;;) {
            std::map<std::pair<TPlace, bool>, std::pair<int, int>> counts; // (on, off)
            for (const TEdge& e : edges) {
                if (!e.Followed || !nodes[e.From].Ok || !nodes[e.To].Ok)
                    continue;
                // Beside the line only when so both ways; on it only when so
                // the first way.
                const bool off = offLine(*e.Followed, e.To) && e.Back && offLine(*e.Back, e.From);
                if (!off && offLine(*e.Followed, e.To))
                    continue;
                for (const TPlace& p : {e.From, e.To})
                    (off ? counts[{p, e.Rows}].second : counts[{p, e.Rows}].first) += 1;
            }
            int worst = 0;
            for (const auto& [key, c] : counts)
                if (key.first != TPlace{0, 0} && c.second > 0 && c.second >= c.first)
                    worst = std::max(worst, c.second - c.first + 1);
            if (worst == 0)
                break;
            for (const auto& [key, c] : counts)
                if (key.first != TPlace{0, 0} && c.second > 0 && c.second - c.first + 1 == worst) {
                    nodes[key.first].Ok = false;
                    refused[key.first] = TGridRefusal::OffItsLines;
                }
        }
    };
    auto build = [&] {
        while (!grow()) {
        }
        for (int round = 0; round < 3; ++round) {
            const int finerEast = finer(true), finerNorth = finer(false);
            const int coarserEast = coarser(true), coarserNorth = coarser(false);
            if (finerEast == 1 && finerNorth == 1 && coarserEast == 1 && coarserNorth == 1)
                break;
            stepEast = stepEast / finerEast * coarserEast, stepNorth = stepNorth / finerNorth * coarserNorth;
            grow(); // the frame is known by now
        }

        // Crossings that stand apart from their neighbours go, the worst of each
        // neighbourhood first, until none is left.
        refused.clear();
        for (const auto& [place, node] : nodes)
            if (node.Snapped && !node.Ok)
                refused[place] = TGridRefusal::NotGridLines;
        for (;;) {
            std::map<TPlace, double> apart;
            std::vector<double> all;
            for (const auto& [place, node] : nodes) {
                if (!node.Ok)
                    continue;
                TLocal local = FitLocal(nodes, place, 2, true, stepI, stepJ);
                if (local.Points < 4)
                    local = FitLocal(nodes, place, 3, true, stepI, stepJ);
                if (local.Points < 4) {
                    apart[place] = -1;
                    continue;
                }
                const double d = std::hypot(local.X - node.X, local.Y - node.Y);
                apart[place] = d;
                all.push_back(d);
            }
            const double tolerance = std::max(MinApart, ApartDeviations * 1.4826 * Median(all));
            std::vector<TPlace> drop;
            for (const auto& [place, d] : apart) {
                if (d < 0) {
                    drop.push_back(place);
                    continue;
                }
                if (d <= tolerance)
                    continue;
                bool worst = true;
                for (int i = place.first - 2; i <= place.first + 2 && worst; ++i)
                    for (int j = place.second - 2; j <= place.second + 2; ++j) {
                        const auto other = apart.find({i, j});
                        if (other != apart.end() && other->second > d) {
                            worst = false;
                            break;
                        }
                    }
                if (worst)
                    drop.push_back(place);
            }
            if (drop.empty())
                break;
            for (const TPlace& place : drop) {
                nodes[place].Ok = false;
                refused[place] = apart[place] < 0 ? TGridRefusal::Unchecked : TGridRefusal::Neighbours;
            }
        }
        followLines();

    };
    auto numbered = [&] {
        return size_t(std::count_if(nodes.begin(), nodes.end(), [](const auto& n) { return n.second.Ok; }));
    };
    auto agrees = [&] {
        return request.StepRatio <= 0 || std::fabs(stepEast / stepNorth / request.StepRatio - 1) <= MaxRatioMisfit;
    };
    build();
    // With few crossings numbered, the other steps the lines also fit are
    // tried, and the lattice that numbers most is kept, one whose steps
    // agree with the spacing first.
    if (!request.Second && numbered() < EnoughCrossings) {
        const double firstEast = stepEast, firstNorth = stepNorth;
        auto bestNodes = nodes;
        auto bestRefused = refused;
        double bestEast = stepEast, bestNorth = stepNorth;
        bool bestAgrees = agrees();
        for (size_t e = 0; e < std::max<size_t>(easts.size(), 1); ++e)
            for (size_t n = 0; n < std::max<size_t>(norths.size(), 1); ++n) {
                if (e == 0 && n == 0)
                    continue;
                stepEast = e < easts.size() ? easts[e].Pixels : firstEast;
                stepNorth = n < norths.size() ? norths[n].Pixels : firstNorth;
                build();
                const bool agreeing = agrees();
                if ((agreeing && !bestAgrees) ||
                    (agreeing == bestAgrees &&
                     numbered() > size_t(std::count_if(bestNodes.begin(), bestNodes.end(),
                                                       [](const auto& k) { return k.second.Ok; })))) {
                    bestNodes = nodes, bestRefused = refused;
                    bestEast = stepEast, bestNorth = stepNorth, bestAgrees = agreeing;
                }
            }
        nodes = std::move(bestNodes), refused = std::move(bestRefused);
        stepEast = bestEast, stepNorth = bestNorth;
        stepI = {stepEast * along.X, stepEast * along.Y};
        stepJ = {stepNorth * across.X, stepNorth * across.Y};
    }
    grid.StepEast = stepEast;
    grid.StepNorth = stepNorth;
    grid.Framed = face.Framed;
    if (!request.Second && !agrees()) {
        grid.Refusal = "The lines found lie " + Fixed(stepEast) + " pixels apart along the rows and " +
                       Fixed(stepNorth) + " down the columns, a ratio of " + Fixed(stepEast / stepNorth, 2) +
                       ", but the spacing gives " + Fixed(request.StepRatio, 2) +
                       ": lines of another kind were taken for the grid's";
        return grid;
    }

    // One lattice: its steps the same across the sheet.
    std::vector<std::pair<TPlace, const TNode*>> found;
    for (const auto& [place, node] : nodes)
        if (node.Ok)
            found.push_back({place, &node});
    if (found.size() >= 8) {
        std::vector<double> is, js;
        for (const auto& f : found)
            is.push_back(f.first.first), js.push_back(f.first.second);
        const double mi = Median(is), mj = Median(js);
        for (const bool rows : {true, false}) {
            std::vector<double> quarter[4];
            for (const auto& [place, node] : found) {
                const TPlace next = rows ? TPlace{place.first + 1, place.second} : TPlace{place.first, place.second + 1};
                const auto it = nodes.find(next);
                if (it == nodes.end() || !it->second.Ok)
                    continue;
                const int q = (place.first >= mi ? 1 : 0) + (place.second >= mj ? 2 : 0);
                quarter[q].push_back(std::hypot(it->second.X - node->X, it->second.Y - node->Y));
            }
            double low = 1e18, high = 0;
            for (const auto& steps : quarter)
                if (steps.size() >= 3) {
                    low = std::min(low, Median(steps));
                    high = std::max(high, Median(steps));
                }
            if (high > 0 && high > (1 + MaxStepChange) * low) {
                grid.Refusal = std::string("The lattice's steps change across the sheet, from ") + Fixed(low) +
                               " to " + Fixed(high) + " pixels " + (rows ? "along the rows" : "down the columns") +
                               ": not one grid";
                return grid;
            }
        }
    }

    // The second known crossing fixes which way the numbers grow.
    int signEast = 1, signNorth = -1;
    if (request.Second) {
        const TGridSecondKnown& s = *request.Second;
        const std::optional<TSnappedFeature> second =
            SnapToFeature(bitmap, s.Column, s.Row, {KnownRadius, TSnapTarget::Crossing});
        const TGridPoint at = second ? TGridPoint{second->Column, second->Row} : TGridPoint{s.Column, s.Row};
        const TPlace* place = nullptr;
        for (const auto& f : found)
            if (std::hypot(f.second->X - at.X, f.second->Y - at.Y) <= 2)
                place = &f.first;
        const std::string where = Fixed(s.Column, 0) + "," + Fixed(s.Row, 0);
        if (!place) {
            grid.Refusal = "The second known crossing at " + where + " is not one of the grid's crossings found";
            return grid;
        }
        const int se = int(std::round(s.StepsEast)), sn = int(std::round(s.StepsNorth));
        const int i1 = place->first, j1 = place->second;
        if (std::abs(se) != std::abs(i1) || std::abs(sn) != std::abs(j1)) {
            grid.Refusal = "The second known crossing lies " + std::to_string(std::abs(i1)) + " lines across and " +
                           std::to_string(std::abs(j1)) + " lines down from the first on the sheet, but " +
                           std::to_string(std::abs(se)) + " and " + std::to_string(std::abs(sn)) +
                           " spacings away by its coordinates: the spacing disagrees with the known crossings";
            return grid;
        }
        if (i1 != 0)
            signEast = se / i1;
        if (j1 != 0)
            signNorth = sn / j1;
    }

    grid.Found = true;
    for (const auto& [place, node] : found)
        grid.Crossings.push_back({signEast * place.first, signNorth * place.second, node->X, node->Y, node->Sigma});
    std::stable_sort(grid.Crossings.begin(), grid.Crossings.end(), [](const TGridCrossing& a, const TGridCrossing& b) {
        const bool ka = a.East == 0 && a.North == 0, kb = b.East == 0 && b.North == 0;
        if (ka != kb)
            return ka;
        return a.North != b.North ? a.North > b.North : a.East < b.East;
    });
    for (const auto& [place, reason] : refused) {
        const TNode& node = nodes[place];
        grid.Refused.push_back({signEast * place.first, signNorth * place.second, node.X, node.Y, reason});
    }
    for (const auto& [place, node] : nodes)
        if (!node.Outside && !node.Snapped)
            ++grid.Unsnapped;
    std::map<int, int> columns, rows;
    for (const TGridCrossing& c : grid.Crossings)
        ++columns[c.East], ++rows[c.North];
    for (const auto& [line, count] : columns)
        grid.LinesEast += count >= 2;
    for (const auto& [line, count] : rows)
        grid.LinesNorth += count >= 2;
    return grid;
}
