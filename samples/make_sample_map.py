#!/usr/bin/env python3
"""Draws the synthetic "scanned map" of the samples folder.

    /usr/bin/python3 samples/make_sample_map.py    (needs python3-pil)
    /usr/bin/python3 samples/make_sample_map.py --points    (the point files only)

writes samples/sample_map.bmp (8-bit palette), samples/sample_map.jpg,
samples/sample_map_points.txt and samples/sample_map_9.points. The map is 10
map units per pixel: pixel column 0 lies at Y 3500000, pixel row 0 at
X 5405000, with a grid line every 100 pixels (1000 units), one pixel wide, so
that a crossing's centre is the centre of the pixel at its column and row.
The two control points are marked on grid crossings: P1 at column 100, row
100 and P2 at column 500, row 400. sample_map_9.points holds nine crossings
spread over the sheet in the layout GIS georeferencers share, P1 and P2
first and the last a check point.
"""
import math
import os
import random
import sys

WIDTH, HEIGHT = 640, 480
SCALE, Y0, X0 = 10, 3500000, 5405000
POINTS = [(1, 100, 100), (2, 500, 400)]  # number, column, row
NINE_POINTS = [(100, 100), (500, 400), (300, 100), (500, 100), (100, 200), (300, 200), (500, 200), (100, 400),
               (300, 400)]  # column, row of grid crossings

HERE = os.path.dirname(os.path.abspath(__file__))
PAPER = (236, 228, 204)
INK = (60, 50, 40)


def font(size, bold=False):
    from PIL import ImageFont
    name = "DejaVuSans-Bold.ttf" if bold else "DejaVuSans.ttf"
    try:
        return ImageFont.truetype(os.path.join("/usr/share/fonts/truetype/dejavu", name), size)
    except OSError:
        return ImageFont.load_default()


def map_y(col):
    return Y0 + SCALE * col


def map_x(row):
    return X0 - SCALE * row


def draw_map():
    from PIL import Image, ImageDraw, ImageFilter
    rng = random.Random(2007)
    image = Image.new("RGB", (WIDTH, HEIGHT), PAPER)
    draw = ImageDraw.Draw(image)

    # Woods and a lake under everything else.
    for _ in range(7):
        cx, cy, r = rng.randint(40, 600), rng.randint(40, 440), rng.randint(25, 55)
        blob = [(cx + r * (0.7 + 0.3 * rng.random()) * math.cos(a), cy + r * (0.7 + 0.3 * rng.random()) * math.sin(a))
                for a in [i * math.pi / 10 for i in range(20)]]
        draw.polygon(blob, fill=(190, 214, 160))
    draw.ellipse((420, 60, 540, 130), fill=(170, 200, 230), outline=(70, 110, 170))

    # A river winding down the sheet and two roads.
    river = [(int(80 + 60 * math.sin(t / 45.0) + t * 0.9), t) for t in range(0, HEIGHT + 1, 4)]
    draw.line(river, fill=(70, 110, 170), width=5)
    draw.line([(0, 300), (180, 260), (330, 280), (640, 200)], fill=(200, 80, 50), width=4)
    draw.line([(300, 0), (320, 150), (300, 280), (360, 480)], fill=(120, 110, 100), width=3)

    # A village: a few blocks along the roads.
    for _ in range(14):
        x, y = rng.randint(250, 380), rng.randint(220, 320)
        draw.rectangle((x, y, x + rng.randint(6, 12), y + rng.randint(6, 12)), fill=(150, 60, 60))
    draw.text((390, 300), "Lindholm", fill=INK, font=font(13, bold=True))

    # The grid with its labels in map units.
    for col in range(0, WIDTH, 100):
        draw.line([(col, 0), (col, HEIGHT)], fill=(110, 100, 90), width=1)
        draw.text((col + 3, HEIGHT - 14), str(map_y(col)), fill=INK, font=font(9))
    for row in range(0, HEIGHT, 100):
        draw.line([(0, row), (WIDTH, row)], fill=(110, 100, 90), width=1)
        draw.text((3, row + 2), str(map_x(row)), fill=INK, font=font(9))

    # The control points: crosses on the grid crossings.
    for number, col, row in POINTS:
        draw.line([(col - 8, row), (col + 8, row)], fill=(200, 0, 0), width=2)
        draw.line([(col, row - 8), (col, row + 8)], fill=(200, 0, 0), width=2)
        draw.ellipse((col - 5, row - 5, col + 5, row + 5), outline=(200, 0, 0))
        draw.text((col + 8, row - 20), f"P{number}", fill=(200, 0, 0), font=font(12, bold=True))

    # Title block and north arrow.
    left, top = 12, 216
    draw.rectangle((left, top, left + 160, top + 78), fill=PAPER, outline=INK, width=2)
    draw.text((left + 10, top + 6), "Sample sheet 7", fill=INK, font=font(14, bold=True))
    draw.text((left + 10, top + 27), "1 : 25 000 (synthetic)", fill=INK, font=font(10))
    draw.text((left + 10, top + 42), "grid 1000 m", fill=INK, font=font(10))
    draw.line([(left + 10, top + 64), (left + 110, top + 64)], fill=INK, width=3)
    draw.text((left + 115, top + 57), "1 km", fill=INK, font=font(10))
    draw.polygon([(605, 20), (595, 50), (605, 44), (615, 50)], fill=INK)
    draw.text((600, 52), "N", fill=INK, font=font(12, bold=True))

    # A scanner's look: a little blur and grain.
    image = image.filter(ImageFilter.GaussianBlur(0.6))
    pixels = image.load()
    for y in range(HEIGHT):
        for x in range(WIDTH):
            n = rng.randint(-6, 6)
            r, g, b = pixels[x, y]
            pixels[x, y] = (max(0, min(255, r + n)), max(0, min(255, g + n)), max(0, min(255, b + n)))
    return image


def write_point_files():
    with open(os.path.join(HERE, "sample_map_points.txt"), "w", newline="\r\n") as points:
        for number, col, row in POINTS:
            points.write(f"{number} {map_y(col)} {map_x(row)}\n")
    # The source position counts from the image's corner: the centre of
    # pixel (c, r) is (c + 0.5, -(r + 0.5)).
    with open(os.path.join(HERE, "sample_map_9.points"), "w") as points:
        points.write("mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n")
        for index, (col, row) in enumerate(NINE_POINTS):
            enable = 0 if index == len(NINE_POINTS) - 1 else 1
            points.write(f"{map_y(col)},{map_x(row)},{col + 0.5},{-(row + 0.5)},{enable},0,0,0\n")


def main():
    if "--points" in sys.argv[1:]:
        write_point_files()
        return
    from PIL import Image
    image = draw_map()
    image.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE).save(
        os.path.join(HERE, "sample_map.bmp"))
    image.save(os.path.join(HERE, "sample_map.jpg"), quality=85)
    write_point_files()


if __name__ == "__main__":
    main()
