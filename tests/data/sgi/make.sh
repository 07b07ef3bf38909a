#!/bin/sh
# Makes the SGI fixtures of tests/tools/sgi_rla_ppm_cli_test.cpp with two
# independent writers: ImageMagick's convert (Debian imagemagick) and
# netpbm's pnmtosgi (Debian netpbm). Python 3 (no modules beyond the standard
# library) makes the sample data.
#
#   sh tests/data/sgi/make.sh
#
# Sources (seeded random content: noise rows, flat rows, ramps and short
# runs, so that run-length files hold both run and literal packets):
#   grey, RGB and RGBA at 8 and 16 bits per sample, 19 x 11 pixels.
# Files:
#   im_*  convert SRC -depth D -compress RLE|None  (ImageMagick writes
#         16-bit files verbatim only)
#   nb_*  pnmtosgi -rle|-verbatim SRC  (grey and RGB; 16-bit when the
#         source's maxval is 65535)
# cases.txt lists "FILE REF": REF.pam (8-bit RGB or RGB_ALPHA) is what the
# reader must show: grey repeated in red, green and blue, 8-bit samples
# unchanged, 16-bit samples v x 255 div 65535. Every channel of every file
# is read back through netpbm's sgitopnm and compared with the samples it
# was made from.
set -eu
cd "$(dirname "$0")"
PYTHON=${PYTHON:-/usr/bin/python3}
exec "$PYTHON" - <<'PYEOF'
import os, random, subprocess, tempfile

W, H = 19, 11
TMP = tempfile.mkdtemp()

def content(channels, depth, seed):
    r = random.Random(seed)
    top = (1 << depth) - 1
    rows = []
    for y in range(H):
        kind = y % 4
        if kind == 0:
            row = [[r.randint(0, top) for _ in range(channels)] for _ in range(W)]
        elif kind == 1:
            v = [r.randint(0, top) for _ in range(channels)]
            row = [list(v) for _ in range(W)]
        elif kind == 2:
            row = [[(x * top // (W - 1) + c * top // 5) % (top + 1) for c in range(channels)] for x in range(W)]
        else:
            row = []
            while len(row) < W:
                v = [r.randint(0, top) for _ in range(channels)]
                row += [list(v) for _ in range(r.randint(1, 5))]
            row = row[:W]
        rows.append(row)
    return rows

def sample_bytes(v, depth):
    return bytes([v]) if depth == 8 else bytes([v >> 8, v & 255])

def write_pam(path, rows, channels, depth, tupltype=None):
    types = {1: "GRAYSCALE", 3: "RGB", 4: "RGB_ALPHA"}
    head = "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n" % (
        W, H, channels, (1 << depth) - 1, tupltype or types[channels])
    data = b"".join(sample_bytes(v, depth) for row in rows for px in row for v in px)
    with open(path, "wb") as f:
        f.write(head.encode() + data)

def write_pnm(path, rows, channels, depth):
    head = "%s\n%d %d\n%d\n" % ("P5" if channels == 1 else "P6", W, H, (1 << depth) - 1)
    data = b"".join(sample_bytes(v, depth) for row in rows for px in row for v in px)
    with open(path, "wb") as f:
        f.write(head.encode() + data)

def read_pgm(data):
    """Samples of a binary PGM: (width, height, maxval, samples)."""
    parts, pos = [], 0
    while len(parts) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        parts.append(data[pos:end].decode())
        pos = end
    raw = data[pos + 1:]
    maxval = int(parts[3])
    if maxval > 255:
        samples = [(raw[i] << 8) | raw[i + 1] for i in range(0, len(raw), 2)]
    else:
        samples = list(raw)
    return int(parts[1]), int(parts[2]), maxval, samples

def reference(rows, channels, depth):
    """What the reader shows, as 8-bit RGB or RGB_ALPHA."""
    out = []
    for row in rows:
        for px in row:
            v = [s if depth == 8 else s * 255 // 65535 for s in px]
            out.append(v * 3 if channels == 1 else v)
    return out

def check(path, rows, channels, depth):
    """Each channel as netpbm's sgitopnm reads it back equals the source."""
    for k in range(channels):
        data = subprocess.run(["sgitopnm", "-channel", str(k), path], check=True, capture_output=True).stdout
        w, h, maxval, samples = read_pgm(data)
        assert (w, h, maxval) == (W, H, (1 << depth) - 1), (path, w, h, maxval)
        assert samples == [px[k] for row in rows for px in row], (path, k)

cases = []
names = {1: "gray", 3: "rgb", 4: "rgba"}
for channels in (1, 3, 4):
    for depth in (8, 16):
        name = "%s%d" % (names[channels], depth)
        rows = content(channels, depth, channels * 100 + depth)
        ref = "ref_%s.pam" % name
        write_pam(ref, [reference([row], channels, depth) for row in rows], 4 if channels == 4 else 3, 8)
        src_pam = os.path.join(TMP, name + ".pam")
        write_pam(src_pam, rows, channels, depth)
        ext = {1: "bw", 3: "rgb" if depth == 16 else "sgi", 4: "rgba"}[channels]
        for compress in (("RLE", "None") if depth == 8 else ("None",)):
            out = "im_%s_%s.%s" % (name, "rle" if compress == "RLE" else "raw", ext)
            subprocess.run(["convert", src_pam, "-depth", str(depth), "-compress", compress, "sgi:" + out],
                           check=True)
            check(out, rows, channels, depth)
            cases.append((out, ref))
        if channels != 4:
            src_pnm = os.path.join(TMP, name + (".pgm" if channels == 1 else ".ppm"))
            write_pnm(src_pnm, rows, channels, depth)
            for option in ("-rle", "-verbatim"):
                out = "nb_%s_%s.%s" % (name, "rle" if option == "-rle" else "raw", ext)
                with open(out, "wb") as f:
                    subprocess.run(["pnmtosgi", option, src_pnm], check=True, stdout=f, stderr=subprocess.DEVNULL)
                check(out, rows, channels, depth)
                cases.append((out, ref))

# Storage byte 1 (run-length) and bytes per sample, as the files say.
for out, _ in cases:
    with open(out, "rb") as f:
        head = f.read(4)
    assert head[:2] == b"\x01\xda", out
    assert head[2] == (1 if "_rle" in out else 0), out
    assert head[3] == (2 if "16_" in out else 1), out

with open("cases.txt", "w") as f:
    for out, ref in cases:
        f.write("%s %s\n" % (out, ref))
PYEOF
