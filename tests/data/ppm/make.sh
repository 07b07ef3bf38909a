#!/bin/sh
# Makes the portable any-map fixtures of tests/tools/sgi_rla_ppm_cli_test.cpp
# with two independent writers, netpbm (Debian netpbm: pamtopnm for the raw
# forms, pnmtoplainpnm for the plain ones) and ImageMagick's convert (Debian
# imagemagick, with a comment line in every header), and a few headers
# rewritten here around netpbm's pixel data. Python 3 (standard library
# only) makes the sample data.
#
#   sh tests/data/ppm/make.sh
#
# Sources, 19 x 11 pixels of seeded random content: a bitmap, grey and RGB
# at maxval 255, grey and RGB at maxval 65535.
# Files:
#   nb_KIND_plain, nb_KIND_raw   netpbm, P1 to P6 (plain bitmaps carry no
#                                blanks between their digits)
#   im_KIND_plain, im_KIND_raw   convert SRC -set comment ... [-compress none]
#   hdr_oneline.ppm              "P6 19 11 255" on one line, then netpbm's data
#   hdr_oneline.pbm              "P1 19 11" on one line, then the digits
#   hdr_comments.pgm             P5 with comments after the magic, after the
#                                width, between width and height and before
#                                the maximum value
#   hdr_crlf.pgm                 plain P2 with CR LF line ends and comments
# cases.txt lists "FILE REF": REF.pam (8-bit RGB) is what the reader must
# show: bitmap 1 black and 0 white, grey repeated in red, green and blue,
# samples of maxval 255 unchanged, samples of maxval 65535 v x 255 div 65535.
# Every file is read back through ImageMagick and compared with its source.
set -eu
cd "$(dirname "$0")"
PYTHON=${PYTHON:-/usr/bin/python3}
exec "$PYTHON" - <<'PYEOF'
import os, random, subprocess, tempfile

W, H = 19, 11
TMP = tempfile.mkdtemp()

def content(channels, top, seed):
    r = random.Random(seed)
    rows = []
    for y in range(H):
        if y % 3 == 0:
            row = [[r.randint(0, top) for _ in range(channels)] for _ in range(W)]
        elif y % 3 == 1:
            row = [[(x * top // (W - 1) + c * top // 3) % (top + 1) for c in range(channels)] for x in range(W)]
        else:
            v = [r.choice((0, top, r.randint(0, top))) for _ in range(channels)]
            row = [list(v) for _ in range(W)]
        rows.append(row)
    return rows

def sample_bytes(v, top):
    return bytes([v]) if top <= 255 else bytes([v >> 8, v & 255])

def pam(rows, channels, top, tupltype):
    head = "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n" % (W, H, channels, top, tupltype)
    return head.encode() + b"".join(sample_bytes(v, top) for row in rows for px in row for v in px)

def write(path, data):
    with open(path, "wb") as f:
        f.write(data)

def run(args, stdin=None):
    return subprocess.run(args, check=True, capture_output=True, input=stdin).stdout

def pixel_data(pnm):
    """The raster of a raw netpbm file with a comment-free three- or four-field header."""
    fields = 3 if pnm[:2] == b"P4" else 4
    pos = 0
    for _ in range(fields):
        while pnm[pos:pos + 1].isspace():
            pos += 1
        while not pnm[pos:pos + 1].isspace():
            pos += 1
    return pnm[pos + 1:]

kinds = {
    "bitmap": (1, 1, "BLACKANDWHITE", ".pbm"),
    "gray": (1, 255, "GRAYSCALE", ".pgm"),
    "rgb": (3, 255, "RGB", ".ppm"),
    "gray16": (1, 65535, "GRAYSCALE", ".pgm"),
    "rgb16": (3, 65535, "RGB", ".ppm"),
}
cases, sources = [], {}

def expect(path, kind):
    """The file as ImageMagick reads it equals the source."""
    channels, top, _, _ = kinds[kind]
    rows = sources[kind]
    depth = 16 if top > 255 else 8
    raw = run(["convert", path, "-depth", str(depth), "-endian", "MSB", ("rgb:-" if channels == 3 else "gray:-")])
    if depth == 16:
        got = [(raw[i] << 8) | raw[i + 1] for i in range(0, len(raw), 2)]
    else:
        got = list(raw)
    if kind == "bitmap":  # PAM black-and-white: 1 is white; the file's 1 is black
        want = [255 * v for row in rows for px in row for v in px]
    else:
        want = [v for row in rows for px in row for v in px]
    assert got == want, path
    cases.append((path, "ref_%s.pam" % kind))

for seed, (kind, (channels, top, tupltype, ext)) in enumerate(kinds.items()):
    rows = content(channels, top, seed + 1)
    sources[kind] = rows
    src = os.path.join(TMP, kind + ".pam")
    write(src, pam(rows, channels, top, tupltype))
    ref = []
    for row in rows:
        out = []
        for px in row:
            if kind == "bitmap":
                v = [255 * px[0]]  # BLACKANDWHITE 1 is white
            else:
                v = [s * 255 // 65535 if top > 255 else s for s in px]
            out.append(v * 3 if channels == 1 else v)
        ref.append(out)
    write("ref_%s.pam" % kind, pam(ref, 3, 255, "RGB"))

    raw = run(["pamtopnm", src])
    write("nb_%s_raw%s" % (kind, ext), raw)
    write("nb_%s_plain%s" % (kind, ext), run(["pnmtoplainpnm"], raw))
    expect("nb_%s_raw%s" % (kind, ext), kind)
    expect("nb_%s_plain%s" % (kind, ext), kind)
    if top <= 255 or kind == "rgb16":
        for form, extra in (("raw", []), ("plain", ["-compress", "none"])):
            out = "im_%s_%s%s" % (kind, form, ext)
            run(["convert", src, "-depth", "16" if top > 255 else "8", "-set", "comment",
                 "written by ImageMagick"] + extra + [out])
            expect(out, kind)

rgb = pixel_data(open("nb_rgb_raw.ppm", "rb").read())
write("hdr_oneline.ppm", b"P6 19 11 255\n" + rgb)
expect("hdr_oneline.ppm", "rgb")
bits = "".join("".join(str(1 - px[0]) for px in row) for row in sources["bitmap"])
write("hdr_oneline.pbm", b"P1 19 11\n" + "\n".join(bits[i:i + 60] for i in range(0, len(bits), 60)).encode() + b"\n")
expect("hdr_oneline.pbm", "bitmap")
gray = pixel_data(open("nb_gray_raw.pgm", "rb").read())
write("hdr_comments.pgm", b"P5\n# after the magic\n19 # the width\n# between width and height\n11\n"
      b"# before the maximum value\n255\n" + gray)
expect("hdr_comments.pgm", "gray")
text = ["P2", "# a comment line", "19 11", "255"]
text += [" ".join(str(px[0]) for px in row) for row in sources["gray"]]
write("hdr_crlf.pgm", ("\r\n".join(text) + "\r\n").encode())
expect("hdr_crlf.pgm", "gray")

magic = {"nb_bitmap_plain": b"P1", "nb_bitmap_raw": b"P4", "nb_gray_plain": b"P2", "nb_gray_raw": b"P5",
         "nb_rgb_plain": b"P3", "nb_rgb_raw": b"P6"}
for stem, m in magic.items():
    path = [c for c, _ in cases if c.startswith(stem + ".")][0]
    assert open(path, "rb").read(2) == m, path
assert b" " not in open("nb_bitmap_plain.pbm", "rb").read().split(b"\n", 2)[2]
for path, _ in cases:
    if path.startswith("im_"):
        assert b"#written by ImageMagick" in open(path, "rb").read(64), path

with open("cases.txt", "w") as f:
    for path, ref in cases:
        f.write("%s %s\n" % (path, ref))
PYEOF
