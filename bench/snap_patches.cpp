#include "bench/snap_patches.h"

#include "platform/palette.h"

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>

const TInk InkBlack {25, 25, 28}, InkGrey {115, 108, 100}, InkBlue {40, 90, 200}, InkRed {210, 50, 40},
    InkBrown {150, 90, 50};

namespace {

struct TVertex {
    double X, Y;
};

// The part of a convex polygon where a X + b Y <= c.
int ClipPolygon(const TVertex* in, int count, double a, double b, double c, TVertex* out)
{
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const TVertex& p = in[i];
        const TVertex& q = in[(i + 1) % count];
        const double fp = a * p.X + b * p.Y - c, fq = a * q.X + b * q.Y - c;
        if (fp <= 0)
            out[n++] = p;
        if ((fp < 0 && fq > 0) || (fp > 0 && fq < 0)) {
            const double t = fp / (fp - fq);
            out[n++] = {p.X + t * (q.X - p.X), p.Y + t * (q.Y - p.Y)};
        }
    }
    return n;
}

double PolygonArea(const TVertex* v, int count)
{
    double twice = 0;
    for (int i = 0; i < count; ++i) {
        const TVertex& p = v[i];
        const TVertex& q = v[(i + 1) % count];
        twice += p.X * q.Y - q.X * p.Y;
    }
    return 0.5 * std::fabs(twice);
}

// Exact share of the square of side 2 half centred at (x, y) inside the
// stroke.
double StrokeCoverage(const TStroke& s, double x, double y, double half)
{
    const double length = std::hypot(s.X1 - s.X0, s.Y1 - s.Y0);
    if (length <= 0)
        return 0;
    const double ux = (s.X1 - s.X0) / length, uy = (s.Y1 - s.Y0) / length;
    const double nx = -uy, ny = ux;
    const double along = ux * (x - s.X0) + uy * (y - s.Y0), across = nx * (x - s.X0) + ny * (y - s.Y0);
    const double h = 0.5 * s.Width;
    const double HalfDiagonal = 1.4143 * half;
    if (std::fabs(across) > h + HalfDiagonal || along < -HalfDiagonal || along > length + HalfDiagonal)
        return 0;
    if (std::fabs(across) < h - HalfDiagonal && along > HalfDiagonal && along < length - HalfDiagonal)
        return 1;
    TVertex a[8] = {{x - half, y - half}, {x + half, y - half}, {x + half, y + half}, {x - half, y + half}}, b[8];
    int n = 4;
    n = ClipPolygon(a, n, -ux, -uy, -(ux * s.X0 + uy * s.Y0), b);
    n = ClipPolygon(b, n, ux, uy, ux * s.X0 + uy * s.Y0 + length, a);
    n = ClipPolygon(a, n, nx, ny, nx * s.X0 + ny * s.Y0 + h, b);
    n = ClipPolygon(b, n, -nx, -ny, -(nx * s.X0 + ny * s.Y0) + h, a);
    return n < 3 ? 0 : PolygonArea(a, n) / (4 * half * half);
}

bool InBlob(const TBlob& b, double x, double y)
{
    const double c = std::cos(b.Angle), s = std::sin(b.Angle);
    const double u = (c * (x - b.X) + s * (y - b.Y)) / b.RadiusX, v = (-s * (x - b.X) + c * (y - b.Y)) / b.RadiusY;
    const double r = u * u + v * v;
    return r <= 1 && r >= b.Hole * b.Hole;
}

double BlobCoverage(const TBlob& b, double x, double y, double half, int samples)
{
    int inside = 0;
    for (int j = 0; j < samples; ++j)
        for (int i = 0; i < samples; ++i)
            inside += InBlob(b, x - half + 2 * half * (i + 0.5) / samples, y - half + 2 * half * (j + 0.5) / samples);
    return static_cast<double>(inside) / (samples * samples);
}

struct TPlanes {
    int Width, Height;
    std::vector<double> Channel[3];
};

// Lays ink over the planes, whose samples are `scale` to a pixel; the
// coverage is asked for at sample centres in pixel coordinates.
template <typename Coverage>
void Lay(
    TPlanes& p, int scale, const TInk& ink, double left, double top, double right, double bottom, Coverage coverage)
{
    auto sample = [&](double v) { return (v + 0.5) * scale - 0.5; };
    const int x0 = std::max(0, static_cast<int>(std::floor(sample(left)))),
              x1 = std::min(p.Width - 1, static_cast<int>(std::ceil(sample(right))));
    const int y0 = std::max(0, static_cast<int>(std::floor(sample(top)))),
              y1 = std::min(p.Height - 1, static_cast<int>(std::ceil(sample(bottom))));
    const double values[3] = {ink.R, ink.G, ink.B};
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double c = coverage((x + 0.5) / scale - 0.5, (y + 0.5) / scale - 0.5);
            if (c <= 0)
                continue;
            for (int k = 0; k < 3; ++k) {
                double& v = p.Channel[k][static_cast<size_t>(y) * p.Width + x];
                v = v * (1 - c) + values[k] * c;
            }
        }
}

void Blur(TPlanes& p, double sigma)
{
    const int radius = static_cast<int>(std::ceil(4 * sigma));
    std::vector<double> kernel(2 * radius + 1);
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[i + radius] = std::exp(-0.5 * i * i / (sigma * sigma));
    for (double& k : kernel)
        k /= sum;
    for (std::vector<double>& channel : p.Channel) {
        std::vector<double> pass(channel.size());
        for (int y = 0; y < p.Height; ++y)
            for (int x = 0; x < p.Width; ++x) {
                double v = 0;
                for (int i = -radius; i <= radius; ++i)
                    v += kernel[i + radius] *
                        channel[static_cast<size_t>(y) * p.Width + std::clamp(x + i, 0, p.Width - 1)];
                pass[static_cast<size_t>(y) * p.Width + x] = v;
            }
        for (int y = 0; y < p.Height; ++y)
            for (int x = 0; x < p.Width; ++x) {
                double v = 0;
                for (int i = -radius; i <= radius; ++i)
                    v += kernel[i + radius] *
                        pass[static_cast<size_t>(std::clamp(y + i, 0, p.Height - 1)) * p.Width + x];
                channel[static_cast<size_t>(y) * p.Width + x] = v;
            }
    }
}

void JpegRoundTrip(std::vector<uint8_t>& rgb, int width, int height, int quality)
{
    jpeg_compress_struct c {};
    jpeg_error_mgr error {};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &rgb[static_cast<size_t>(c.next_scanline) * width * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);

    jpeg_decompress_struct d {};
    d.err = jpeg_std_error(&error);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, buffer, size);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &rgb[static_cast<size_t>(d.output_scanline) * width * 3];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    free(buffer);
}

} // namespace

void AddLine(TScene& scene, double x, double y, double angle, double from, double to, double width, TInk ink,
    double dash, double gap, double phase)
{
    const double ux = std::cos(angle * M_PI / 180), uy = std::sin(angle * M_PI / 180);
    auto stroke = [&](double a, double b) {
        scene.Strokes.push_back({x + a * ux, y + a * uy, x + b * ux, y + b * uy, width, ink});
    };
    if (dash <= 0) {
        stroke(from, to);
        return;
    }
    for (double start = from - std::fmod(phase, dash + gap); start < to; start += dash + gap)
        if (start + dash > from)
            stroke(std::max(start, from), std::min(start + dash, to));
}

void AddArc(
    TScene& scene, double cx, double cy, double radius, double fromAngle, double toAngle, double width, TInk ink)
{
    const int pieces = std::max(2, static_cast<int>(std::fabs(toAngle - fromAngle) * M_PI / 180 * radius / 2));
    for (int i = 0; i < pieces; ++i) {
        const double a = (fromAngle + (toAngle - fromAngle) * i / pieces) * M_PI / 180;
        const double b = (fromAngle + (toAngle - fromAngle) * (i + 1) / pieces) * M_PI / 180;
        scene.Strokes.push_back({cx + radius * std::cos(a), cy + radius * std::sin(a), cx + radius * std::cos(b),
            cy + radius * std::sin(b), width, ink});
        // A round joint, so that the pieces make a smooth curve.
        scene.Blobs.push_back({cx + radius * std::cos(b), cy + radius * std::sin(b), width / 2, width / 2, 0, 0, ink});
    }
}

std::vector<uint8_t> RenderScene(const TScene& scene)
{
    // A blurred scene is drawn at 4 x 4 samples a pixel, blurred there and
    // averaged, so that the blur acts before the pixels take their share as
    // a scanner's optics do.
    const int scale = scene.Blur > 0 ? 4 : 1;
    const double half = 0.5 / scale;
    TPlanes p {scene.Width * scale, scene.Height * scale, {}};
    const double paper[3] = {scene.Paper.R, scene.Paper.G, scene.Paper.B};
    for (int k = 0; k < 3; ++k)
        p.Channel[k].assign(static_cast<size_t>(p.Width) * p.Height, paper[k]);
    for (const TStroke& s : scene.Strokes) {
        const double margin = s.Width / 2 + 1;
        Lay(p, scale, s.Ink, std::min(s.X0, s.X1) - margin, std::min(s.Y0, s.Y1) - margin,
            std::max(s.X0, s.X1) + margin, std::max(s.Y0, s.Y1) + margin,
            [&](double x, double y) { return StrokeCoverage(s, x, y, half); });
    }
    for (const TBlob& b : scene.Blobs) {
        const double r = std::max(b.RadiusX, b.RadiusY) + 1;
        Lay(p, scale, b.Ink, b.X - r, b.Y - r, b.X + r, b.Y + r,
            [&](double x, double y) { return BlobCoverage(b, x, y, half, 16 / scale); });
    }
    if (scene.Blur > 0) {
        Blur(p, scene.Blur * scale);
        TPlanes pixels {scene.Width, scene.Height, {}};
        for (int k = 0; k < 3; ++k) {
            pixels.Channel[k].assign(static_cast<size_t>(scene.Width) * scene.Height, 0);
            for (int y = 0; y < p.Height; ++y)
                for (int x = 0; x < p.Width; ++x)
                    pixels.Channel[k][static_cast<size_t>(y / scale) * scene.Width + x / scale] +=
                        p.Channel[k][static_cast<size_t>(y) * p.Width + x] / (scale * scale);
        }
        p = std::move(pixels);
    }
    std::mt19937 random(scene.Seed);
    std::normal_distribution<double> noise(0, scene.Noise > 0 ? scene.Noise : 1);
    std::vector<uint8_t> rgb(static_cast<size_t>(scene.Width) * scene.Height * 3);
    for (size_t i = 0; i < rgb.size() / 3; ++i)
        for (int k = 0; k < 3; ++k) {
            const double v = p.Channel[k][i] + (scene.Noise > 0 ? noise(random) : 0);
            rgb[3 * i + k] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
        }
    if (scene.JpegQuality > 0)
        JpegRoundTrip(rgb, scene.Width, scene.Height, scene.JpegQuality);
    return rgb;
}

void PutPatch(TBitmap& bitmap, int left, int top, const TScene& scene, const std::vector<uint8_t>& rgb)
{
    const TBitmapFormat format = bitmap.PixelFormat();
    if (format == bf8Bit || format == bf4Bit || format == bf1Bit) {
        const int levels = 1 << BitsPerPixelOf(format);
        std::vector<TPaletteEntry> entries;
        for (int i = 0; i < levels; ++i) {
            const uint8_t v = static_cast<uint8_t>(255 * i / (levels - 1));
            entries.push_back({v, v, v, 0});
        }
        bitmap.SetPalette(CreatePalette(entries));
    }
    for (int y = 0; y < scene.Height; ++y) {
        uint8_t* row = bitmap.ScanLine(top + y);
        for (int x = 0; x < scene.Width; ++x) {
            const uint8_t* p = &rgb[(static_cast<size_t>(y) * scene.Width + x) * 3];
            const int c = left + x;
            const double luminance = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
            switch (format) {
            case bf24Bit:
                row[3 * c] = p[2], row[3 * c + 1] = p[1], row[3 * c + 2] = p[0];
                break;
            case bf32Bit:
                row[4 * c] = p[2], row[4 * c + 1] = p[1], row[4 * c + 2] = p[0], row[4 * c + 3] = 255;
                break;
            case bf8Bit:
                row[c] = static_cast<uint8_t>(std::lround(luminance));
                break;
            case bf4Bit: {
                const uint8_t index = static_cast<uint8_t>(std::lround(luminance / 17));
                row[c >> 1] = (c & 1) ? static_cast<uint8_t>((row[c >> 1] & 0xF0) | index)
                                      : static_cast<uint8_t>((row[c >> 1] & 0x0F) | (index << 4));
                break;
            }
            case bf1Bit:
                if (luminance >= 127.5)
                    row[c >> 3] |= static_cast<uint8_t>(0x80 >> (c & 7));
                else
                    row[c >> 3] &= static_cast<uint8_t>(~(0x80 >> (c & 7)));
                break;
            default:
                throw std::invalid_argument("PutPatch: unsupported pixel format");
            }
        }
    }
}

void DrawScene(TBitmap& bitmap, const TScene& scene)
{
    bitmap.SetPixelFormat(scene.Format);
    bitmap.SetSize(scene.Width, scene.Height);
    PutPatch(bitmap, 0, 0, scene, RenderScene(scene));
}

namespace {

class TCaseMaker {
public:
    explicit TCaseMaker(uint32_t seed) : FRandom(seed) { }

    TSnapCase Positive(int index);
    TSnapCase Negative(int index);

private:
    double Uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(FRandom); }
    bool Chance(double p) { return Uniform(0, 1) < p; }
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(FRandom); }
    TInk AnyInk()
    {
        static const TInk inks[] = {InkBlack, InkGrey, InkBlue, InkRed, InkBrown};
        return inks[Pick(5)];
    }
    // Paper, blur, noise, JPEG and pixel format of a scanned sheet.
    void Scan(TScene& scene, const TInk& ink);
    void Click(TSnapCase& c, double radius);
    void Symbols(TScene& scene, double x, double y, double from, double to, int count, const TInk& ink);

    std::mt19937 FRandom;
};

void TCaseMaker::Scan(TScene& scene, const TInk& ink)
{
    scene.Seed = FRandom();
    scene.Paper = Chance(0.5) ? TInk {250, 250, 248} : TInk {236, 228, 204};
    scene.Blur = Chance(0.3) ? 0 : Uniform(0.3, 1.5);
    scene.Noise = Uniform(0, 8);
    const bool darkInk = ink.R < 120 && std::fabs(ink.R - ink.B) < 20;
    const double format = Uniform(0, 1);
    if (darkInk && format < 0.08) {
        scene.Format = bf1Bit;
        scene.Noise = std::min(scene.Noise, 3.0);
        scene.Blur = std::max(scene.Blur, 0.5);
        scene.Paper = {250, 250, 248};
        // A grey line lies so near the threshold that a thin or blurred one
        // leaves a few dots or nothing at all: a bilevel sheet is printed
        // in black.
        for (TStroke& stroke : scene.Strokes)
            if (stroke.Ink.R == InkGrey.R && stroke.Ink.G == InkGrey.G && stroke.Ink.B == InkGrey.B)
                stroke.Ink = InkBlack;
        for (TBlob& blob : scene.Blobs)
            if (blob.Ink.R == InkGrey.R && blob.Ink.G == InkGrey.G && blob.Ink.B == InkGrey.B)
                blob.Ink = InkBlack;
        return;
    }
    if (darkInk && format < 0.25)
        scene.Format = bf8Bit;
    else if (format > 0.93)
        scene.Format = bf32Bit;
    if (Chance(0.25))
        scene.JpegQuality = static_cast<int>(Uniform(50, 92));
}

void TCaseMaker::Click(TSnapCase& c, double radius)
{
    const double r = radius * std::sqrt(Uniform(0, 1)), a = Uniform(0, 2 * M_PI);
    c.ClickX = c.TruthX + r * std::cos(a);
    c.ClickY = c.TruthY + r * std::sin(a);
}

// Letters and symbols: rings, dots and short strokes between from and to
// pixels of (x, y), none of them a junction.
void TCaseMaker::Symbols(TScene& scene, double x, double y, double from, double to, int count, const TInk& ink)
{
    for (int i = 0; i < count; ++i) {
        const double a = Uniform(0, 2 * M_PI), size = Uniform(1.5, 4);
        const double d = Uniform(from, to) + size;
        const double sx = x + d * std::cos(a), sy = y + d * std::sin(a);
        switch (Pick(3)) {
        case 0:
            scene.Blobs.push_back({sx, sy, size, size * Uniform(1, 1.6), Uniform(0, M_PI), Uniform(0.4, 0.7), ink});
            break;
        case 1:
            scene.Blobs.push_back({sx, sy, size * 0.6, size * 0.6, 0, 0, ink});
            break;
        default:
            AddLine(scene, sx, sy, Uniform(0, 180), -size, size, Uniform(1, 2), ink);
            break;
        }
    }
}

TSnapCase TCaseMaker::Positive(int index)
{
    TSnapCase c;
    c.Positive = true;
    TScene& s = c.Scene;
    c.TruthX = 50 + Uniform(-0.5, 0.5);
    c.TruthY = 50 + Uniform(-0.5, 0.5);
    const int shape = index % 3; // crossing, T, L
    enum { Plain, Curved, DashGap, Faint, Turned } variation = Plain;
    switch ((index / 3) % 10) {
    case 6: variation = Curved; break;
    case 7: variation = shape == 2 ? Plain : DashGap; break;
    case 8: variation = Faint; break;
    case 9: variation = Turned; break;
    default: break;
    }
    const double rotation = variation == Turned ? 45 + Uniform(-3, 3) : Chance(0.2) ? 0 : Uniform(-8, 8);
    const double angle = Chance(0.5) || variation == Turned ? 90 : Uniform(60, 120);
    double width1 = Uniform(1, 5), width2 = Chance(0.7) ? width1 : Uniform(1, 5);
    TInk ink = AnyInk();
    const bool dashed = variation == DashGap || (shape != 2 && Chance(0.25));
    double dash = Uniform(8, 14), gap = Uniform(3, 6);
    double phase1 = Uniform(0, 20), phase2 = Uniform(0, 20);
    const double far = 90;
    if (variation == Faint) {
        width1 = Uniform(1, 1.6);
        width2 = Chance(0.7) ? width1 : Uniform(1, 1.6);
    } else if (variation == DashGap) {
        // The gap wider than the other line, the crossing in its middle: on
        // both lines, or on the first only.
        width1 = Uniform(1, 3);
        width2 = Chance(0.7) ? width1 : Uniform(1, 3);
        gap = std::max(width1, width2) + Uniform(2, 4);
        const double period = dash + gap;
        auto gapPhase = [&] { return std::fmod(std::fmod(dash + gap / 2 - far, period) + period, period); };
        phase1 = gapPhase();
        if (Chance(0.5))
            phase2 = gapPhase();
    }
    c.Kind = shape == 0 ? TFeatureKind::Crossing : TFeatureKind::Corner;
    const double a1 = rotation + (Chance(0.5) ? 0 : 180), a2 = rotation + angle;
    c.Category = shape == 0 ? "crossing" : shape == 1 ? "T" : "L";

    double clickRadius = 5;
    if (variation == Faint) {
        // A faint graticule on a tinted sheet: 10 to 25 grey levels darker
        // than the paper, in the paper's own hue.
        static const TInk tints[] = {{205, 225, 240}, {236, 222, 190}, {212, 230, 196}, {240, 216, 214}};
        const TInk tint = tints[Pick(4)];
        const double contrast = Uniform(10, 25);
        ink = {tint.R - contrast, tint.G - contrast, tint.B - contrast};
        s.Paper = tint;
        c.Variation = "faint thin line on colour";
    } else if (variation != Plain) {
        c.Variation = variation == Curved ? "curved line within 6 px"
            : variation == DashGap        ? "dashed, crossing in a gap"
                                          : "turned 45 degrees";
    }
    // A corner's lines run on across the other's width, as a frame's do.
    AddLine(s, c.TruthX, c.TruthY, a1, shape == 2 ? -width2 / 2 : -far, far, width1, ink, dashed ? dash : 0, gap,
        phase1);
    AddLine(s, c.TruthX, c.TruthY, a2, shape == 0 ? -far : (shape == 2 ? -width1 / 2 : 0), far, width2, ink,
        dashed ? dash : 0, gap, phase2);
    c.Lines.push_back({false, c.TruthX, c.TruthY, a1, shape == 2 ? -width2 / 2 : -far, far, 0, width1});
    c.Lines.push_back(
        {false, c.TruthX, c.TruthY, a2, shape == 0 ? -far : (shape == 2 ? -width1 / 2 : 0), far, 0, width2});

    if (variation == Curved) {
        // A contour or a river, an arc whose middle passes 1.5 to 6 pixels
        // from the feature, over and past both lines.
        const bool river = Chance(0.4);
        const double radius = Uniform(25, 300), pass = Uniform(1.5, 6), side = Uniform(0, 360);
        const double w = river ? Uniform(1.5, 3) : Uniform(1, 2);
        const double cx = c.TruthX + (radius + pass) * std::cos(side * M_PI / 180);
        const double cy = c.TruthY + (radius + pass) * std::sin(side * M_PI / 180);
        const double span = std::min(180.0, 90 / radius * 180 / M_PI);
        AddArc(s, cx, cy, radius, side + 180 - span, side + 180 + span, w, river ? InkBlue : InkBrown);
        c.Lines.push_back({true, cx, cy, 0, side + 180 - span, side + 180 + span, radius, w});
        clickRadius = 3;
    } else if (variation == Plain && index % 7 < 2) {
        // Something else within 6 pixels of the feature.
        clickRadius = 1.5;
        const TInk other = Chance(0.5) ? ink : AnyInk();
        switch (Pick(4)) {
        case 0: {
            const bool first = Chance(0.5);
            const double w = Uniform(1, 3);
            const double d = (first ? width1 : width2) / 2 + w / 2 + Uniform(1.5, 4);
            const double along = (first ? a1 : a2) * M_PI / 180;
            const double sign = Chance(0.5) ? 1 : -1;
            AddLine(s, c.TruthX - sign * d * std::sin(along), c.TruthY + sign * d * std::cos(along), first ? a1 : a2,
                -far, far, w, other);
            c.Lines.push_back({false, c.TruthX - sign * d * std::sin(along), c.TruthY + sign * d * std::cos(along),
                first ? a1 : a2, -far, far, 0, w});
            c.Category += ", parallel line near";
            break;
        }
        case 1: {
            const double direction = rotation + Uniform(20, 70) + (Chance(0.5) ? 90 : 0);
            const double d = std::max(width1, width2) / 2 + Uniform(3, 6), side = Uniform(0, 2 * M_PI);
            const double w = Uniform(1, 2.5);
            AddLine(s, c.TruthX + d * std::cos(side), c.TruthY + d * std::sin(side), direction, -far, far, w, other);
            c.Lines.push_back(
                {false, c.TruthX + d * std::cos(side), c.TruthY + d * std::sin(side), direction, -far, far, 0, w});
            c.Category += ", third line near";
            break;
        }
        case 2:
            Symbols(s, c.TruthX, c.TruthY, std::max(width1, width2) / 2 + 2, 6, 3 + Pick(3), other);
            c.Category += ", symbols near";
            break;
        default: {
            const double radius = Uniform(20, 80), side = Uniform(0, 2 * M_PI);
            const double d = radius + std::max(width1, width2) / 2 + Uniform(3, 6);
            const double w = Uniform(1, 2);
            AddArc(s, c.TruthX + d * std::cos(side), c.TruthY + d * std::sin(side), radius, 0, 360, w, InkBrown);
            c.Lines.push_back({true, c.TruthX + d * std::cos(side), c.TruthY + d * std::sin(side), 0, 0, 360, radius, w});
            c.Category += ", contour near";
            break;
        }
        }
    }
    const TInk paper = s.Paper;
    Scan(s, ink);
    if (variation == Faint) {
        s.Paper = paper;
        s.Format = bf24Bit;
        s.Noise = Uniform(1, 4);
        s.Blur = Uniform(0.4, 1.2);
    }
    Click(c, clickRadius);
    return c;
}

TSnapCase TCaseMaker::Negative(int index)
{
    TSnapCase c;
    TScene& s = c.Scene;
    c.TruthX = c.ClickX = 50 + Uniform(-3, 3);
    c.TruthY = c.ClickY = 50 + Uniform(-3, 3);
    const TInk ink = AnyInk();
    const double far = 90;
    switch (index % 6) {
    case 0:
        c.Category = "blank paper";
        break;
    case 1:
        AddLine(s, c.ClickX + Uniform(-6, 6), c.ClickY + Uniform(-6, 6), Uniform(0, 180), -far, far, Uniform(1, 5), ink,
            Chance(0.3) ? Uniform(8, 14) : 0, Uniform(3, 6), Uniform(0, 20));
        c.Category = "single line";
        break;
    case 2:
        AddLine(s, c.ClickX + Uniform(-4, 4), c.ClickY + Uniform(-4, 4), Uniform(0, 360), 0, far, Uniform(1, 5), ink);
        c.Category = "line ending";
        break;
    case 3: {
        const double angle = Uniform(0, 180), spacing = Uniform(5, 10), w = Uniform(1, 3);
        const double nx = -std::sin(angle * M_PI / 180), ny = std::cos(angle * M_PI / 180);
        for (const double side : {-0.5, 0.5})
            AddLine(s, c.ClickX + side * spacing * nx, c.ClickY + side * spacing * ny, angle, -far, far, w, ink);
        c.Category = "parallel lines";
        break;
    }
    case 4:
        Symbols(s, c.ClickX, c.ClickY, 0, 14, 6 + Pick(5), ink);
        c.Category = "symbols";
        break;
    default: {
        const double radius = Uniform(15, 60), side = Uniform(0, 2 * M_PI), spacing = Uniform(5, 10);
        const double cx = c.ClickX + (radius + Uniform(-4, 4)) * std::cos(side);
        const double cy = c.ClickY + (radius + Uniform(-4, 4)) * std::sin(side);
        const int count = 1 + Pick(3);
        for (int k = 0; k < count; ++k)
            AddArc(s, cx, cy, radius + k * spacing, 0, 360, Uniform(1, 2), InkBrown);
        c.Category = "contours";
        break;
    }
    }
    Scan(s, ink);
    return c;
}

} // namespace

std::vector<TDrawnCrossing> OtherCrossings(const TSnapCase& c)
{
    std::vector<TDrawnCrossing> crossings;
    auto add = [&](double x, double y, bool curved) {
        if (x < 0 || y < 0 || x > c.Scene.Width || y > c.Scene.Height)
            return;
        // (The positive's own feature, and a place found twice.)
        if (c.Positive && std::hypot(x - c.TruthX, y - c.TruthY) < 0.5)
            return;
        for (const TDrawnCrossing& k : crossings)
            if (std::hypot(x - k.X, y - k.Y) < 0.5)
                return;
        crossings.push_back({x, y, curved});
    };
    // Whether a point at `along` pixels on straight line l lies on its ink
    // (a line meeting another at its end meets it across its width).
    auto onLine = [](const TDrawnLine& l, double along, double slack) {
        return along >= l.From - slack && along <= l.To + slack;
    };
    auto onArc = [](const TDrawnLine& l, double x, double y) {
        if (l.To - l.From >= 360)
            return true;
        double a = std::atan2(y - l.Y, x - l.X) * 180 / M_PI;
        while (a < l.From)
            a += 360;
        return a <= l.To;
    };
    for (size_t i = 0; i < c.Lines.size(); ++i)
        for (size_t j = i + 1; j < c.Lines.size(); ++j) {
            const TDrawnLine& a = c.Lines[i].Arc ? c.Lines[j] : c.Lines[i];
            const TDrawnLine& b = c.Lines[i].Arc ? c.Lines[i] : c.Lines[j];
            if (a.Arc)
                continue; // (no two arcs are drawn on one patch)
            const double ux = std::cos(a.Angle * M_PI / 180), uy = std::sin(a.Angle * M_PI / 180);
            if (!b.Arc) {
                const double vx = std::cos(b.Angle * M_PI / 180), vy = std::sin(b.Angle * M_PI / 180);
                const double det = ux * vy - uy * vx;
                if (std::fabs(det) < 1e-9)
                    continue;
                // a.X + s u = b.X + t v
                const double dx = b.X - a.X, dy = b.Y - a.Y;
                const double sa = (dx * vy - dy * vx) / det, tb = (dx * uy - dy * ux) / det;
                if (onLine(a, sa, 0.5 * b.Width) && onLine(b, tb, 0.5 * a.Width))
                    add(a.X + sa * ux, a.Y + sa * uy, false);
                continue;
            }
            // |a.X + s u - centre| = radius
            const double px = a.X - b.X, py = a.Y - b.Y;
            const double half = px * ux + py * uy, rest = px * px + py * py - b.Radius * b.Radius;
            const double discriminant = half * half - rest;
            if (discriminant < 0)
                continue;
            for (const double sign : {-1.0, 1.0}) {
                const double sa = -half + sign * std::sqrt(discriminant);
                const double x = a.X + sa * ux, y = a.Y + sa * uy;
                if (onLine(a, sa, 0.5 * b.Width) && onArc(b, x, y))
                    add(x, y, true);
            }
        }
    return crossings;
}

std::vector<TSnapCase> MakeSnapCases(int positives, int negatives, uint32_t seed)
{
    TCaseMaker maker(seed);
    std::vector<TSnapCase> cases;
    for (int i = 0; i < positives; ++i)
        cases.push_back(maker.Positive(i));
    for (int i = 0; i < negatives; ++i)
        cases.push_back(maker.Negative(i));
    return cases;
}
