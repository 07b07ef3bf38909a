#!/usr/bin/env python3
"""Drawn sheets whose corner coordinates are printed as real text.

    bench/label_sheets.py OUT_DIR [--sheets N] [--seed S] [--small] [--grid]
    bench/label_sheets.py OUT_DIR [SHEET...] --check-grid CLI

Each sheet: paper, a thin neatline around a map face of lines and place
names, its sides continued as rules into the margin (stacked layout), a double
outer frame,
and beside every corner its longitude and latitude in one of four layouts
the series use:
  stacked  degrees in the corner box, minutes across the continued rule
           (the longitude on one line across the meridian, the latitude's
           degrees over its minutes across the parallel); no letters
  inline   "87°45'E" centred on the meridian above or below the corner,
           "24°30'N" beside it centred on the parallel
  partial  inline, but the upper right and lower left corners print the
           minutes only, their degrees standing at the other corners
  turned   inline longitudes; the latitudes turned along the sides, reading
           upward on both, or upward on the left and downward on the right
in a DejaVu typeface (sans, sans bold, serif, serif bold, mono) of 22 to 44
pixels (about 16 to 32 to the digits' top), on sheets of 15', 30' or 1 degree anywhere on
the globe, then turned up to half a degree, blurred and saved as JPEG of
quality 55 to 90. Beside each SHEET.jpg, SHEET_truth.txt gives the corners
as the real scans' truth files do (origin at the top-left pixel's corner):
    CORNER NW x y 0 0  24 30' N 87 45' E
so that labels_bench reads both alike. --grid also draws a projected grid
turned up to 3 degrees to the frame, in black or red, with its values in
thousands at the lines' ends in the margin, and writes the grid's
coordinates of the corners (GRID and GRIDCORNER lines); --check-grid runs
`CLI grid SHEET --known labels --label-unit 1000` on each and measures the
world file at the corners against them. --small draws sheets of about
700 x 800 pixels, grey PNG with few levels, for the tests' fixtures. Needs python3-pil and
fonts-dejavu-core.
"""
import math
import os
import random
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

FONTS = ["DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSerif.ttf", "DejaVuSerif-Bold.ttf", "DejaVuSansMono.ttf"]
FONT_DIR = "/usr/share/fonts/truetype/dejavu"
SPANS = [15, 30, 60]  # minutes
LAYOUTS = ["stacked", "inline", "partial", "turned"]
NAMES = ["Rampur", "Kalan", "Nadi", "Hill 212", "Ford", "Mill", "Church", "Bridge", "Wood", "Marsh"]


def dm(value):
    """Absolute degrees and minutes of a value in whole minutes."""
    minutes = round(abs(value) * 60)
    return minutes // 60, minutes % 60


def label(value, letters, with_degrees=True):
    d, m = dm(value)
    text = (f"{d}\u00b0{m:02d}'" if with_degrees else f"{m:02d}'")
    return text + letters if letters else text


def clip(px, py, dx, dy, x0, y0, x1, y1):
    """The part of the line through (px, py) along (dx, dy) inside the box."""
    lo, hi = -1e9, 1e9
    for p, d, a, b in ((px, dx, x0, x1), (py, dy, y0, y1)):
        if abs(d) < 1e-12:
            if p < a or p > b:
                return None
            continue
        t0, t1 = sorted(((a - p) / d, (b - p) / d))
        lo, hi = max(lo, t0), min(hi, t1)
    return None if lo >= hi else ((px + lo * dx, py + lo * dy), (px + hi * dx, py + hi * dy))


def draw_grid(rng, d, font, h, x0, y0, x1, y1):
    """A projected grid turned up to 3 degrees to the frame, its values
    printed at the lines' ends in the margin (in thousands: --label-unit
    1000). Returns the map coordinates of a pixel, and what the bench needs."""
    spacing = rng.choice([1000, 2000, 5000])
    step = rng.uniform(160, 320)  # pixels between lines
    metres = spacing / step
    theta = math.radians(rng.uniform(-3, 3))
    e0 = rng.randrange(100, 900) * spacing
    n0 = rng.randrange(100, 5000) * spacing
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    ox, oy = rng.uniform(0, step), rng.uniform(0, step)  # a crossing's offset from the centre
    c, s = math.cos(theta), math.sin(theta)

    def to_map(px, py):
        u, v = px - cx - ox, py - cy - oy
        return e0 + metres * (c * u + s * v), n0 - metres * (-s * u + c * v)

    colour = rng.choice([(20, 20, 20), (200, 40, 40)])
    keep = 0.12 * min(x1 - x0, y1 - y0)
    labels = []
    for k in range(-40, 41):
        for east in (True, False):
            # the line through the crossing k steps away, along the grid's other axis
            if east:
                px, py = cx + ox + k * step * c, cy + oy + k * step * s
                dx, dy = -s, c
                value = e0 + k * spacing
            else:
                px, py = cx + ox + k * step * s, cy + oy - k * step * c
                dx, dy = c, s
                value = n0 + k * spacing
            seg = clip(px, py, dx, dy, x0, y0, x1, y1)
            if not seg:
                continue
            d.line(seg, fill=colour, width=2)
            text = "%d" % (value // 1000)
            for (ex, ey) in seg:
                if east and abs(ey - y0) < 1 and x0 + keep < ex < x1 - keep:
                    labels.append((text, ex, y0 - 0.6 * h, "mb"))
                elif east and abs(ey - y1) < 1 and x0 + keep < ex < x1 - keep:
                    labels.append((text, ex, y1 + 0.6 * h, "mt"))
                elif not east and abs(ex - x0) < 1 and y0 + keep < ey < y1 - keep:
                    labels.append((text, x0 - 0.6 * h, ey, "rm"))
                elif not east and abs(ex - x1) < 1 and y0 + keep < ey < y1 - keep:
                    labels.append((text, x1 + 0.6 * h, ey, "lm"))
    for text, x, y, anchor in labels:
        d.text((x, y), text, font=font, fill=colour, anchor=anchor)
    return to_map, spacing


def draw_sheet(rng, index, out_dir, small=False, grid=False):
    span = rng.choice(SPANS)
    lat_span = span / 60
    lon_span = span / 60 * rng.choice([1, 1, 1.5]) if span == 60 else span / 60
    south = rng.randrange(-70 * 60 // span, 70 * 60 // span) * lat_span
    west = rng.randrange(-180 * 60 // span, 180 * 60 // span - 1) * (span / 60)
    north, east = south + lat_span, west + lon_span
    mid = math.radians((north + south) / 2)
    height = rng.randint(500, 600) if small else rng.randint(2200, 3400)
    width = int(round(height * lon_span * math.cos(mid) / lat_span))
    least, most = (400, 800) if small else (1400, 4000)
    if width < least or width > most:
        width = max(least, min(most, width))
        # keep the shape the spans draw: the sheet is then scaled along y
        height = int(round(width * lat_span / (lon_span * math.cos(mid))))
    layout = rng.choice(LAYOUTS)
    font_name = rng.choice(FONTS)
    size = rng.randint(18, 20) if small else rng.randint(22, 44)
    font = ImageFont.truetype(os.path.join(FONT_DIR, font_name), size)
    digit_height = font.getbbox("0")[3] - font.getbbox("0")[1]
    widest = max(font.getlength(label(v, "W")) for v in (west, east, north, south))
    gap = int(max(digit_height * 4.2, widest + digit_height * 2.5))  # neatline to outer frame
    margin = gap + (40 if small else 120)
    W, H = width + 2 * margin, height + 2 * margin
    paper = tuple(rng.randint(225, 250) for _ in range(3))
    img = Image.new("RGB", (W, H), paper)
    d = ImageDraw.Draw(img)
    x0, y0, x1, y1 = margin, margin, margin + width, margin + height
    ink = (20, 20, 20)
    # map face: a few roads, rivers, names
    for _ in range(rng.randint(8, 20)):
        pts = [(rng.randint(x0 + 5, x1 - 5), rng.randint(y0 + 5, y1 - 5)) for _ in range(rng.randint(2, 5))]
        colour = rng.choice([(180, 90, 30), (60, 90, 200), (40, 40, 40)])
        d.line(pts, fill=colour, width=rng.randint(1, 4))
    name_font = ImageFont.truetype(os.path.join(FONT_DIR, "DejaVuSans-Oblique.ttf"), max(10, size // 2))
    for _ in range(rng.randint(5, 15)):
        d.text((rng.randint(x0 + 10, x1 - 200), rng.randint(y0 + 10, y1 - 60)), rng.choice(NAMES), font=name_font,
               fill=ink)
    # neatline, its sides continued as rules to the outer frame, outer frame
    d.rectangle([x0, y0, x1, y1], outline=ink, width=3)
    for x in (x0, x1) if layout == "stacked" else ():
        d.line([(x, y0 - gap), (x, y0)], fill=ink, width=2)
        d.line([(x, y1), (x, y1 + gap)], fill=ink, width=2)
    for y in (y0, y1) if layout == "stacked" else ():
        d.line([(x0 - gap, y), (x0, y)], fill=ink, width=2)
        d.line([(x1, y), (x1 + gap, y)], fill=ink, width=2)
    d.rectangle([x0 - gap, y0 - gap, x1 + gap, y1 + gap], outline=ink, width=2)
    d.rectangle([x0 - gap - 10, y0 - gap - 10, x1 + gap + 10, y1 + gap + 10], outline=ink, width=8)
    if not small:
        d.text((W // 2 - 300, y0 - gap - 100), "SHEET %d" % (index + 1), font=font, fill=ink)
    to_map = None
    if grid:
        to_map, grid_spacing = draw_grid(rng, d, font, digit_height, x0, y0, x1, y1)

    corners = {"NW": (x0, y0, west, north), "NE": (x1, y0, east, north), "SE": (x1, y1, east, south),
               "SW": (x0, y1, west, south)}
    h = digit_height

    def put(text, x, y, anchor):
        d.text((x, y), text, font=font, fill=ink, anchor=anchor)

    # turned latitudes read upward on both sides, or upward on the left and
    # downward on the right (facing out)
    facing = rng.random() < 0.5

    def put_turned(text, x, y, left, clear):
        box = font.getbbox(text)
        tw, th = box[2] - box[0] + 8, box[3] - box[1] + 8
        piece = Image.new("L", (tw, th), 0)
        ImageDraw.Draw(piece).text((4 - box[0], 4 - box[1]), text, font=font, fill=255)
        upward = left or not facing
        piece = piece.transpose(Image.ROTATE_90 if upward else Image.ROTATE_270)
        # centred on the parallel, clear of the longitude centred on the meridian
        px = int(x - piece.size[0] - clear) if left else int(x + clear)
        py = int(y - piece.size[1] / 2)
        img.paste(Image.new("RGB", piece.size, ink), (px, py), piece)

    for name, (cx, cy, lon, lat) in corners.items():
        up = name[0] == "N"
        left = name[1] == "W"
        ew = "E" if lon >= 0 else "W"
        ns = "N" if lat >= 0 else "S"
        if layout == "stacked":
            ld, lm = dm(lon)
            ad, am = dm(lat)
            # longitude across the meridian rule, in the top or bottom margin
            ly = cy - 2.6 * h if up else cy + 2.6 * h
            put(f"{ld}\u00b0", cx - 0.4 * h, ly, "rm")
            put(f"{lm:02d}'" if lm else "0'", cx + 0.4 * h, ly, "lm")
            # latitude's degrees over its minutes across the parallel rule
            lx = cx - 1.6 * h if left else cx + 1.6 * h
            anchor_x = "r" if left else "l"
            put(f"{ad}\u00b0", lx, cy - 0.35 * h, anchor_x + "s")
            put(f"{am:02d}'" if am else "0'", lx, cy + 0.35 * h, anchor_x + "t")
        elif layout == "turned":
            put(label(lon, ew), cx, cy - 1.2 * h if up else cy + 1.2 * h, "mb" if up else "mt")
            put_turned(label(lat, ns), cx, cy, left, font.getlength(label(lon, ew)) / 2 + 0.5 * h)
        else:
            degrees = not (layout == "partial" and name in ("NE", "SW"))
            put(label(lon, ew, degrees), cx, cy - 1.2 * h if up else cy + 1.2 * h, "mb" if up else "mt")
            put(label(lat, ns, degrees), cx - 1.0 * h if left else cx + 1.0 * h, cy, "rm" if left else "lm")

    # the scan: turned a little, blurred, JPEG
    angle = 0 if small else rng.uniform(-0.5, 0.5)
    img = img.rotate(angle, resample=Image.BICUBIC, expand=False, fillcolor=paper)
    blur = 0.5 if small else rng.uniform(0.0, 1.2)
    if blur > 0.2:
        img = img.filter(ImageFilter.GaussianBlur(blur))
    quality = 85 if small else rng.randint(55, 90)
    stem = os.path.join(out_dir, "label_sheet_%03d" % (index + 1))
    if small:  # a test fixture: grey, few levels, PNG
        img = img.convert("L").point(lambda v: 0 if v < 90 else 255 if v > 200 else v // 16 * 16)
        img.save(stem + ".png", optimize=True)
    else:
        img.save(stem + ".jpg", quality=quality)
    # PIL turns counter-clockwise about the centre by angle degrees
    a = math.radians(angle)
    cxm, cym = W / 2, H / 2
    with open(stem + "_truth.txt", "w") as f:
        shown = layout + (" (%s)" % ("facing out" if facing else "upward") if layout == "turned" else "")
        f.write("# drawn by bench/label_sheets.py: layout %s, %s %d px, blur %.2f, JPEG quality %d, turned %.3f deg\n"
                % (shown, font_name, size, blur, quality, angle))
        for name, (cx, cy, lon, lat) in corners.items():
            # the neatline's centre: its 3-px lines are drawn inward from cx, cy
            px = cx + 1.0 if name[1] == "W" else cx - 1.0
            py = cy + 1.0 if name[0] == "N" else cy - 1.0
            dx, dy = px - cxm, py - cym
            rx = cxm + dx * math.cos(a) + dy * math.sin(a)
            ry = cym - dx * math.sin(a) + dy * math.cos(a)
            ad, am = dm(lat)
            od, om = dm(lon)
            f.write("CORNER %s %.2f %.2f 0 0  %d %02d' %s %d %02d' %s\n"
                    % (name, rx + 0.5, ry + 0.5, ad, am, "N" if lat >= 0 else "S", od, om, "E" if lon >= 0 else "W"))
        if to_map:
            # the grid's coordinates of the neatline's corners, as GRIDCORNER x y E N
            f.write("GRID spacing %d unit 1000\n" % grid_spacing)
            for name, (cx, cy, lon, lat) in corners.items():
                px = cx + 1.0 if name[1] == "W" else cx - 1.0
                py = cy + 1.0 if name[0] == "N" else cy - 1.0
                dx, dy = px - cxm, py - cym
                rx = cxm + dx * math.cos(a) + dy * math.sin(a)
                ry = cym - dx * math.sin(a) + dy * math.cos(a)
                e, n = to_map(px, py)
                f.write("GRIDCORNER %s %.2f %.2f %.3f %.3f\n" % (name, rx + 0.5, ry + 0.5, e, n))
    return stem + (".png" if small else ".jpg")


def check_grid(cli, sheets):
    """Runs `grid SHEET --known labels` on each sheet with a grid and measures
    the world file at the neatline's corners against the truth, in pixels."""
    import subprocess
    import tempfile
    import time
    done = wrong = 0
    worst = 0.0
    seconds = 0.0
    for sheet in sheets:
        truth = sheet.rsplit(".", 1)[0] + "_truth.txt"
        lines = open(truth).read().split("\n")
        spacing = [l.split()[2] for l in lines if l.startswith("GRID ")]
        points = [l.split()[2:6] for l in lines if l.startswith("GRIDCORNER")]
        if not spacing:
            continue
        with tempfile.TemporaryDirectory() as tmp:
            start = time.time()
            r = subprocess.run([cli, "grid", sheet, "--spacing", spacing[0], "--known", "labels", "--label-unit",
                                "1000", "--out", os.path.join(tmp, "g.jgw")], capture_output=True, text=True)
            seconds += time.time() - start
            if r.returncode != 0:
                print("%s: refused: %s" % (sheet, r.stderr.strip().split("\n")[-1]))
                continue
            a, dd, b, e, c, f = [float(v) for v in open(os.path.join(tmp, "g.jgw")).read().split()]
        pixel = math.sqrt(abs(a * e - b * dd))
        err = 0.0
        for x, y, east, north in points:
            col, row = float(x) - 0.5, float(y) - 0.5
            gx, gy = a * col + b * row + c, dd * col + e * row + f
            err = max(err, math.hypot(gx - float(east), gy - float(north)) / pixel)
        worst = max(worst, err) if err < 20 else worst
        if err >= 20:
            wrong += 1
            print("%s: WRONG, corners %.0f px off" % (sheet, err))
        else:
            done += 1
            print("%s: georeferenced, corners within %.2f px" % (sheet, err))
    print("grid sheets georeferenced from their labels %d, wrongly %d, worst corner %.2f px, %.1f s a sheet"
          % (done, wrong, worst, seconds / max(1, len(sheets))))
    return 1 if wrong else 0


def main():
    args = sys.argv[1:]
    if not args:
        print(__doc__)
        return 2
    out_dir = args[0]
    sheets, seed = 40, 1
    if "--sheets" in args:
        sheets = int(args[args.index("--sheets") + 1])
    if "--seed" in args:
        seed = int(args[args.index("--seed") + 1])
    small = "--small" in args
    grid = "--grid" in args
    if "--check-grid" in args:
        return check_grid(args[args.index("--check-grid") + 1], args[1:args.index("--check-grid")] or
                          sorted(os.path.join(out_dir, n) for n in os.listdir(out_dir) if n.endswith(".jpg")))
    os.makedirs(out_dir, exist_ok=True)
    rng = random.Random(seed)
    for i in range(sheets):
        print(draw_sheet(rng, i, out_dir, small, grid))
    return 0


if __name__ == "__main__":
    sys.exit(main())
