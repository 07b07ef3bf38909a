#!/usr/bin/env python3
"""Drawn sheets whose corner coordinates are printed as real text.

    bench/label_sheets.py OUT_DIR [--sheets N] [--seed S] [--small]

Each sheet: paper, a thin neatline around a map face of lines and place
names, its sides continued as rules into the margin (stacked layout), a double
outer frame,
and beside every corner its longitude and latitude in one of three layouts
the series use:
  stacked  degrees in the corner box, minutes across the continued rule
           (the longitude on one line across the meridian, the latitude's
           degrees over its minutes across the parallel); no letters
  inline   "87°45'E" centred on the meridian above or below the corner,
           "24°30'N" beside it centred on the parallel
  partial  inline, but the upper right and lower left corners print the
           minutes only, their degrees standing at the other corners
in a DejaVu typeface (sans, sans bold, serif, serif bold, mono) of 22 to 44
pixels (about 16 to 32 to the digits' top), on sheets of 15', 30' or 1 degree anywhere on
the globe, then turned up to half a degree, blurred and saved as JPEG of
quality 55 to 90. Beside each SHEET.jpg, SHEET_truth.txt gives the corners
as the real scans' truth files do (origin at the top-left pixel's corner):
    CORNER NW x y 0 0  24 30' N 87 45' E
so that labels_bench reads both alike. --small draws sheets of about
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
LAYOUTS = ["stacked", "inline", "partial"]
NAMES = ["Rampur", "Kalan", "Nadi", "Hill 212", "Ford", "Mill", "Church", "Bridge", "Wood", "Marsh"]


def dm(value):
    """Absolute degrees and minutes of a value in whole minutes."""
    minutes = round(abs(value) * 60)
    return minutes // 60, minutes % 60


def label(value, letters, with_degrees=True):
    d, m = dm(value)
    text = (f"{d}\u00b0{m:02d}'" if with_degrees else f"{m:02d}'")
    return text + letters if letters else text


def draw_sheet(rng, index, out_dir, small=False):
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

    corners = {"NW": (x0, y0, west, north), "NE": (x1, y0, east, north), "SE": (x1, y1, east, south),
               "SW": (x0, y1, west, south)}
    h = digit_height

    def put(text, x, y, anchor):
        d.text((x, y), text, font=font, fill=ink, anchor=anchor)

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
        f.write("# drawn by bench/label_sheets.py: layout %s, %s %d px, blur %.2f, JPEG quality %d, turned %.3f deg\n"
                % (layout, font_name, size, blur, quality, angle))
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
    return stem + (".png" if small else ".jpg")


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
    os.makedirs(out_dir, exist_ok=True)
    rng = random.Random(seed)
    for i in range(sheets):
        print(draw_sheet(rng, i, out_dir, small))
    return 0


if __name__ == "__main__":
    sys.exit(main())
