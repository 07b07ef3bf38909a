#!/usr/bin/env python3
"""A map series georeferenced without clicks, checked against its truth.

    bench/frame_series.py BUILD_DIR WORK_DIR [--sheets N] [--unframed N] [--megapixels MP]

make_sheet_series draws the series into WORK_DIR (sheets of 10' x 6' at
1:25,000 whose corners are listed in degrees, ETRS89), pinwright-cli georef
--batch georeferences it from that one list into ETRS89 / UTM 32N with an
affine fit to the four map-frame corners it finds on each sheet, and each
GeoTIFF written is read back with gdalinfo. Its corner coordinates are
compared with the truth: the same fit to where the generator drew the
frame's corners, the degrees converted by gdaltransform. Prints the batch's
report, one line per GeoTIFF with the worst of its four corners in pixels,
and a summary; exit status 1 when a GeoTIFF is off by more than 2 pixels or
a sheet with a frame has none.
"""
import csv
import json
import os
import subprocess
import sys


def solve3(a, b):
    """Gaussian elimination of a 3 x 3 system."""
    m = [row[:] + [v] for row, v in zip(a, b)]
    for i in range(3):
        p = max(range(i, 3), key=lambda r: abs(m[r][i]))
        m[i], m[p] = m[p], m[i]
        for r in range(3):
            if r != i:
                f = m[r][i] / m[i][i]
                m[r] = [x - f * y for x, y in zip(m[r], m[i])]
    return [m[i][3] / m[i][i] for i in range(3)]


def affine(pixels, maps):
    """Least-squares affine map (col, row) -> (x, y) as two rows of 3."""
    ata = [[sum(p[i] * p[j] for p in [(c, r, 1.0) for c, r in pixels]) for j in range(3)] for i in range(3)]
    rows = []
    for k in range(2):
        atb = [sum(p[i] * m[k] for p, m in zip([(c, r, 1.0) for c, r in pixels], maps)) for i in range(3)]
        rows.append(solve3(ata, atb))
    return rows


def invert(rows):
    (a, b, c), (d, e, f) = rows
    det = a * e - b * d
    return lambda x, y: ((e * (x - c) - b * (y - f)) / det, (-d * (x - c) + a * (y - f)) / det)


def to_utm(points):
    text = "".join(f"{lon} {lat}\n" for lon, lat in points)
    out = subprocess.run(["gdaltransform", "-s_srs", "EPSG:4258", "-t_srs", "EPSG:25832", "-output_xy"],
                         input=text, capture_output=True, text=True, check=True).stdout
    return [tuple(float(v) for v in line.split()[:2]) for line in out.splitlines() if line.strip()]


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    build, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    options = sys.argv[3:]
    subprocess.run([os.path.join(build, "bin", "make_sheet_series"), work] + options, check=True,
                   stderr=subprocess.DEVNULL)
    os.makedirs(os.path.join(work, "out"), exist_ok=True)
    batch = subprocess.run([os.path.join(build, "bin", "pinwright-cli"), "georef", "--batch", "series.csv",
                            "--jobs", "2"], cwd=work, capture_output=True, text=True)
    print(batch.stdout, end="")
    truth = {row["sheet"]: row for row in csv.DictReader(open(os.path.join(work, "truth.csv")))}
    worst, checked, off, missing = 0.0, 0, [], []
    for name, row in sorted(truth.items()):
        target = os.path.join(work, "out", name + ".tif")
        if not os.path.exists(target):
            if row["framed"] == "1":
                missing.append(name)
            continue
        info = json.loads(subprocess.run(["gdalinfo", "-json", target], capture_output=True, text=True,
                                         check=True).stdout)
        width, height = info["size"]
        w, n, e, s = (float(row[k]) for k in ("west", "north", "east", "south"))
        maps = to_utm([(w, n), (e, n), (e, s), (w, s)])
        pixels = [(float(row[c + "_col"]), float(row[c + "_row"])) for c in ("ul", "ur", "lr", "ll")]
        to_pixel = invert(affine(pixels, maps))
        # gdalinfo's corners are those of the raster: pixel centres lie at
        # whole numbers, so its upper left corner is (-0.5, -0.5).
        corners = info["cornerCoordinates"]
        expected = {"upperLeft": (-0.5, -0.5), "upperRight": (width - 0.5, -0.5),
                    "lowerRight": (width - 0.5, height - 0.5), "lowerLeft": (-0.5, height - 0.5)}
        error = 0.0
        for key, (col, row_) in expected.items():
            c, r = to_pixel(*corners[key])
            error = max(error, ((c - col) ** 2 + (r - row_) ** 2) ** 0.5)
        print(f"{name}: corners within {error:.3f} pixels of the truth")
        worst = max(worst, error)
        checked += 1
        if error > 2:
            off.append(name)
    print(f"{checked} GeoTIFFs checked, worst corner {worst:.3f} pixels, {len(off)} off by more than 2 pixels, "
          f"{len(missing)} framed sheets without a GeoTIFF")
    sys.exit(1 if off or missing else 0)


if __name__ == "__main__":
    main()
