#include "bench/grid_sheets.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

namespace {

struct TRandom {
    std::mt19937 Engine;
    explicit TRandom(uint32_t seed) : Engine(seed) {}
    double Uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(Engine); }
    double Normal() { return std::normal_distribution<double>(0, 1)(Engine); }
};

bool InsideQuad(const std::array<TSheetPoint, 4>& q, TSheetPoint p, double margin)
{
    for (int k = 0; k < 4; ++k) {
        const TSheetPoint a = q[size_t(k)], b = q[size_t((k + 1) % 4)];
        const double length = std::hypot(b.X - a.X, b.Y - a.Y);
        // Corners turn clockwise on the screen (y down): the inside is to the right.
        if (((b.X - a.X) * (p.Y - a.Y) - (b.Y - a.Y) * (p.X - a.X)) / length < margin)
            return false;
    }
    return true;
}

// Where a second grid is drawn, the first's line of constant East 0 is
// broken this far either side of the crossing one step north.
constexpr double SecondBreak = 14;

} // namespace

TGridSheet DrawGridSheet(const TGridSheetPlan& plan)
{
    TRandom random(plan.Seed);
    TSheetCanvas canvas(plan.Width, plan.Height, {246, 242, 232, 1});
    const double w = plan.Width, h = plan.Height;
    const double inset = plan.Frame ? std::max(40.0, 0.06 * std::min(w, h)) : 0;
    TGridSheet sheet;
    sheet.Face = {TSheetPoint{inset, inset}, {w - 1 - inset, inset}, {w - 1 - inset, h - 1 - inset},
                  {inset, h - 1 - inset}};

    // The lattice: the known crossing near the centre, a little off it.
    const TSheetPoint centre{w / 2 + random.Uniform(-0.3, 0.3) * plan.Step,
                             h / 2 + random.Uniform(-0.3, 0.3) * plan.Step};
    const double turn = plan.TurnDegrees * M_PI / 180;
    const double dx = random.Uniform(-1, 1), dy = random.Uniform(-1, 1);
    auto distort = [=](TSheetPoint p) {
        if (plan.Distortion <= 0)
            return p;
        const double u = p.X / w, v = p.Y / h;
        return TSheetPoint{p.X + plan.Distortion * (0.6 * std::sin(M_PI * (u + 0.3 * dx)) * std::sin(M_PI * v) +
                                                     0.4 * (u - 0.5) * (v - 0.5) * 4 * dx),
                           p.Y + plan.Distortion * (0.6 * std::sin(M_PI * u) * std::sin(M_PI * (v + 0.3 * dy)) +
                                                     0.4 * (u - 0.5) * (u - 0.5) * 4 * dy)};
    };
    sheet.Place = [=](double east, double north) {
        TSheetPoint p;
        if (plan.Graticule) {
            // Meridians through an apex above the sheet, parallels round it.
            const TSheetPoint apex{centre.X, centre.Y - plan.ApexDistance};
            const double radius = plan.ApexDistance - north * plan.Step;
            const double angle = east * plan.Step / plan.ApexDistance;
            p = {apex.X + radius * std::sin(angle), apex.Y + radius * std::cos(angle)};
            // Turned round the centre.
            const double x = p.X - centre.X, y = p.Y - centre.Y;
            p = {centre.X + x * std::cos(turn) - y * std::sin(turn), centre.Y + x * std::sin(turn) + y * std::cos(turn)};
        } else {
            const double x = east * plan.Step, y = -north * plan.Step;
            p = {centre.X + x * std::cos(turn) - y * std::sin(turn), centre.Y + x * std::sin(turn) + y * std::cos(turn)};
        }
        return distort(p);
    };

    // Coloured areas under everything.
    if (plan.Fills || plan.Faint) {
        const int fills = int(w * h / 90000) + 2;
        for (int k = 0; k < fills; ++k) {
            const TSheetPoint c{random.Uniform(0, w), random.Uniform(0, h)};
            const double r = random.Uniform(40, 160);
            std::vector<TSheetPoint> polygon;
            for (int a = 0; a < 7; ++a) {
                const double angle = a * 2 * M_PI / 7 + random.Uniform(-0.3, 0.3);
                polygon.push_back({c.X + r * std::cos(angle), c.Y + r * std::sin(angle)});
            }
            const bool green = random.Uniform(0, 1) < 0.5;
            canvas.FillConvex(polygon, green ? TInk{150, 200, 140, 0.7} : TInk{170, 200, 235, 0.7});
        }
    }

    // Places of the lattice that lie inside the face.
    int reach = 1;
    while (true) {
        bool any = false;
        for (int k = -reach; k <= reach && !any; ++k)
            for (const auto& q : {std::pair{k, reach}, std::pair{k, -reach}, std::pair{reach, k}, std::pair{-reach, k}})
                any = any || InsideQuad(sheet.Face, sheet.Place(q.first, q.second), -plan.Step);
        if (!any || reach > 400)
            break;
        ++reach;
    }
    const int missing = plan.MissingLine ? (random.Uniform(0, 1) < 0.5 ? 2 : -2) : 1 << 20;

    const TInk ink = plan.Faint ? TInk{200, 60, 60, 0.35} : TInk{40, 40, 40, 1};
    // A line as short strokes through its samples, stopped at the face.
    auto drawLine = [&](bool constantEast, int value) {
        const double step = 0.05;
        double along = 0; // arclength, for dashes
        const double dash = plan.Step * 0.16, gap = plan.Step * 0.06;
        const double phase = random.Uniform(0, dash + gap);
        for (double t = -reach; t < reach; t += step) {
            const TSheetPoint a = constantEast ? sheet.Place(value, t) : sheet.Place(t, value);
            const TSheetPoint b = constantEast ? sheet.Place(value, t + step) : sheet.Place(t + step, value);
            const double length = std::hypot(b.X - a.X, b.Y - a.Y);
            const bool inA = InsideQuad(sheet.Face, a, 0), inB = InsideQuad(sheet.Face, b, 0);
            along += length;
            if (plan.MarginTicks) {
                // Only the piece just outside the neatline, up to a third of the margin.
                const double tick = -0.3 * inset;
                if (!inA && !inB && InsideQuad(sheet.Face, a, tick) && InsideQuad(sheet.Face, b, tick))
                    canvas.Stroke(a, b, plan.LineWidth, ink);
                continue;
            }
            if (!inA || !inB)
                continue;
            if (plan.Dashed && std::fmod(along + phase, dash + gap) > dash)
                continue;
            if (plan.SecondStep > 0 && constantEast && value == 0) {
                const TSheetPoint broken = sheet.Place(0, 1);
                if (std::hypot(a.X - broken.X, a.Y - broken.Y) < SecondBreak)
                    continue;
            }
            canvas.Stroke(a, b, plan.LineWidth, ink);
        }
    };
    for (int k = -reach; k <= reach; ++k) {
        if (k != missing)
            drawLine(true, k);
        drawLine(false, k);
    }

    // The second grid, through the face.
    if (plan.SecondStep > 0) {
        const double turn2 = turn + plan.SecondTurnDegrees * M_PI / 180;
        const TSheetPoint north = sheet.Place(0, 1);
        const TSheetPoint through{north.X + plan.SecondOffset * std::cos(turn), north.Y + plan.SecondOffset * std::sin(turn)};
        const TSheetPoint ux{std::cos(turn2), std::sin(turn2)}, uy{-std::sin(turn2), std::cos(turn2)};
        const double span = std::hypot(w, h);
        for (int k = -int(span / plan.SecondStep) - 1; k <= int(span / plan.SecondStep) + 1; ++k)
            {
                const bool columns = true;
                const TSheetPoint across = columns ? ux : uy, along = columns ? uy : ux;
                const TSheetPoint o{through.X + k * plan.SecondStep * across.X, through.Y + k * plan.SecondStep * across.Y};
                for (double t = -span; t < span; t += 2) {
                    const TSheetPoint a{o.X + t * along.X, o.Y + t * along.Y};
                    const TSheetPoint b{o.X + (t + 2) * along.X, o.Y + (t + 2) * along.Y};
                    if (InsideQuad(sheet.Face, a, 0) && InsideQuad(sheet.Face, b, 0))
                        canvas.Stroke(a, b, plan.LineWidth, {200, 60, 60, 1});
                }
            }
    }

    // The neatline and the outer frame.
    if (plan.Frame) {
        for (int k = 0; k < 4; ++k) {
            const TSheetPoint a = sheet.Face[size_t(k)], b = sheet.Face[size_t((k + 1) % 4)];
            const double length = std::hypot(b.X - a.X, b.Y - a.Y);
            const double ux = (b.X - a.X) / length, uy = (b.Y - a.Y) / length;
            canvas.Stroke({a.X - ux, a.Y - uy}, {b.X + ux, b.Y + uy}, 2, {20, 20, 20, 1});
        }
        const double o = 0.45 * inset;
        const TSheetPoint c[4] = {{inset - o, inset - o}, {w - 1 - inset + o, inset - o},
                                  {w - 1 - inset + o, h - 1 - inset + o}, {inset - o, h - 1 - inset + o}};
        for (int k = 0; k < 4; ++k)
            canvas.Stroke(c[k], c[(k + 1) % 4], 5, {20, 20, 20, 1});
    }

    // Lettering: rows of short strokes, some over the lines.
    if (plan.Lettering) {
        const int words = int(w * h / 40000) + 3;
        for (int k = 0; k < words; ++k) {
            const TSheetPoint at{random.Uniform(inset, w - inset), random.Uniform(inset, h - inset)};
            const int letters = int(random.Uniform(3, 9));
            const double size = random.Uniform(8, 16);
            for (int l = 0; l < letters; ++l) {
                const double x = at.X + l * size * 0.8;
                for (int s = 0; s < 3; ++s) {
                    const TSheetPoint a{x + random.Uniform(0, size * 0.6), at.Y + random.Uniform(0, size)};
                    const TSheetPoint b{x + random.Uniform(0, size * 0.6), at.Y + random.Uniform(0, size)};
                    canvas.Stroke(a, b, 1.6, {30, 30, 30, 1});
                }
            }
        }
    }

    // Truth: every place inside the face, then roads near some of them.
    for (int i = -reach; i <= reach; ++i)
        for (int j = -reach; j <= reach; ++j) {
            const TSheetPoint p = sheet.Place(i, j);
            if (!InsideQuad(sheet.Face, p, 1))
                continue;
            sheet.Crossings.push_back({i, j, p.X, p.Y, i != missing, false});
        }
    std::stable_sort(sheet.Crossings.begin(), sheet.Crossings.end(), [](const TGridTruth& a, const TGridTruth& b) {
        return (a.East == 0 && a.North == 0) > (b.East == 0 && b.North == 0);
    });
    for (int k = 0; k < plan.Roads; ++k) {
        // Through a point on a grid line a few pixels from a crossing, at a steep angle to it.
        TGridTruth& c = sheet.Crossings[size_t(1 + random.Engine() % (sheet.Crossings.size() - 1))];
        const double offset = random.Uniform(3, 6) * (random.Uniform(0, 1) < 0.5 ? -1 : 1);
        const TSheetPoint a = sheet.Place(c.East, c.North), b = sheet.Place(c.East + 1, c.North);
        const double ux = (b.X - a.X) / plan.Step, uy = (b.Y - a.Y) / plan.Step;
        const TSheetPoint through{a.X + offset * ux, a.Y + offset * uy};
        const double angle = std::atan2(uy, ux) + random.Uniform(50, 70) * M_PI / 180;
        const double half = plan.Step * 0.4;
        canvas.Stroke({through.X - half * std::cos(angle), through.Y - half * std::sin(angle)},
                      {through.X + half * std::cos(angle), through.Y + half * std::sin(angle)}, 2.2,
                      {120, 70, 40, 1});
        c.Crossed = true;
    }

    canvas.Blur(plan.Blur);
    canvas.Shade(0, 0, plan.Width - 1, plan.Height - 1, [&](int, int, uint8_t* rgb) {
        const double n = plan.Noise * random.Normal();
        for (int c = 0; c < 3; ++c)
            rgb[c] = uint8_t(std::clamp(std::lround(rgb[c] + n), 0L, 255L));
    });
    sheet.Bitmap = canvas.Release();
    return sheet;
}

std::string DescribeGridPlan(const TGridSheetPlan& plan)
{
    std::ostringstream text;
    text << plan.Width << "x" << plan.Height << " step " << plan.Step << " turned " << plan.TurnDegrees
         << (plan.Graticule ? " graticule" : "") << (plan.Dashed ? " dashed" : "")
         << (plan.Lettering ? " lettering" : "") << (plan.Fills ? " fills" : "") << (plan.Faint ? " faint" : "")
         << " roads " << plan.Roads << (plan.MissingLine ? " missing-line" : "") << (plan.MarginTicks ? " margin-ticks" : "") << " distortion "
         << plan.Distortion;
    if (plan.SecondStep > 0)
        text << " second grid " << plan.SecondStep << " turned " << plan.SecondTurnDegrees;
    return text.str();
}
