#!/bin/sh
# Makes the BMP fixtures. Sources are small netpbm images written by the
# Python below; the bitmaps come from netpbm's ppmtobmp and ImageMagick 6
# (convert). Variants no tool writes (RLE4, top-down rows, V2/V3/V4 headers,
# bit-field masks after a 40-byte header, 16-bit BI_RGB, a packed DIB) are
# rewritten from those files by the Python at the end, which moves bytes
# only: pixels and palettes stay as the tools wrote them.
# The tests' tables name the source image each fixture decodes to.
set -e
cd "$(dirname "$0")"

python3 - <<'PY'
def netpbm(name, w, h, depth, pixel):
    data = bytearray()
    for y in range(h):
        for x in range(w):
            data += bytes(pixel(x, y))
    if depth == 3:
        head = b"P6\n%d %d\n255\n" % (w, h)
    else:
        head = b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, h)
    open(name, "wb").write(head + data)

# 5- and 6-bit levels that convert writes without loss and whose usual 8-bit
# widenings (bit repetition, rounded scaling) agree
def level5(v):
    v = [0, 4, 8, 12, 13, 16, 17, 20, 21, 22, 25, 26, 29, 30, 31][v % 15]
    return (v << 3) | (v >> 2)

def level6(v):
    v = [0, 16, 19, 21, 32, 35, 38, 40, 42, 53, 57, 60, 63][v % 13]
    return (v << 2) | (v >> 4)

netpbm("mono.ppm", 19, 5, 3, lambda x, y: (250, 240, 10) if (x // 3 + y) % 2 else (20, 0, 90))
vga = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# runs of one colour next to single pixels, so that RLE has both kinds
netpbm("pal16.ppm", 21, 9, 3, lambda x, y: vga[(y * 3 + (x // 5 if x < 12 else x)) % 16])
netpbm("pal256.ppm", 37, 11, 3,
       lambda x, y: (x * 7 % 256, y * 23 % 256, 90) if x < 16 else ((y * 40) % 256, 200, (x // 6) * 30))
netpbm("rgb.ppm", 13, 7, 3, lambda x, y: (x * 19 % 256, y * 37 % 256, (x * y * 11 + 5) % 256))
netpbm("rgb16.ppm", 13, 7, 3, lambda x, y: (level5(x + y), level6(x * 3 + y), level5(x * y + 2)))
netpbm("rgb15.ppm", 13, 7, 3, lambda x, y: (level5(x + y), level5(x * 3 + y), level5(x * y + 2)))
netpbm("rgba.pam", 9, 6, 4, lambda x, y: (x * 28, y * 50, 77, (x * 31 + y * 9) % 256 if y else 0))
PY

ppmtobmp -os2 -bpp 1 mono.ppm > core_1.bmp
ppmtobmp -os2 -bpp 4 pal16.ppm > core_4.bmp
ppmtobmp -os2 -bpp 8 pal256.ppm > core_8.bmp
ppmtobmp -os2 -bpp 24 rgb.ppm > core_24.bmp
ppmtobmp -windows -bpp 1 mono.ppm > info_1.bmp
ppmtobmp -windows -bpp 4 pal16.ppm > info_4.bmp
ppmtobmp -windows -bpp 8 pal256.ppm > info_8.bmp
convert rgb.ppm bmp3:info_24.bmp
# 32-bit BI_RGB after a 40-byte header: the fourth byte is not alpha
convert rgb.ppm -alpha set -channel A -evaluate set 50% +channel -define bmp3:alpha=true bmp3:info_32.bmp
convert pal256.ppm -type palette -compress RLE bmp3:rle8.bmp
convert rgb.ppm bmp:v5_24.bmp
convert rgb16.ppm -define bmp:subtype=RGB565 bmp:v5_565.bmp
convert rgb15.ppm -define bmp:subtype=RGB555 bmp:v5_555.bmp
convert rgba.pam bmp:v5_argb.bmp
convert rgb.ppm -alpha set -channel A -evaluate set 0 +channel bmp:v5_zero_alpha.bmp

python3 - <<'PY'
import struct

def parts(name):
    d = open(name, "rb").read()
    off = struct.unpack_from("<I", d, 10)[0]
    hsize = struct.unpack_from("<I", d, 14)[0]
    return d, off, hsize

def write(name, header, middle, bits):
    off = 14 + len(header) + len(middle)
    open(name, "wb").write(b"BM" + struct.pack("<IHHI", off + len(bits), 0, 0, off) + header + middle + bits)

def resize_header(src, dst, size, compression=None):
    d, off, hsize = parts(src)
    header = bytearray(d[14:14 + min(size, hsize)].ljust(size, b"\0"))
    struct.pack_into("<I", header, 0, size)
    if compression is not None:
        struct.pack_into("<I", header, 16, compression)
    write(dst, bytes(header), d[14 + hsize:off], d[off:])

# V4, V3 (56) and V2 (52) headers: the V5 header cut short
resize_header("v5_argb.bmp", "v4_argb.bmp", 108)
resize_header("v5_565.bmp", "v4_565.bmp", 108)
resize_header("v5_argb.bmp", "v3_argb.bmp", 56)
resize_header("v5_565.bmp", "v2_565.bmp", 52)

# 40-byte header with the three masks after it
d, off, hsize = parts("v5_565.bmp")
header = bytearray(d[14:54])
struct.pack_into("<I", header, 0, 40)
write("info_565.bmp", bytes(header), d[54:66], d[off:])

# 16-bit BI_RGB: the 5-5-5 layout without masks
d, off, hsize = parts("v5_555.bmp")
header = bytearray(d[14:54])
struct.pack_into("<I", header, 0, 40)
struct.pack_into("<I", header, 16, 0)
write("info_555.bmp", bytes(header), b"", d[off:])

# top-down rows: negative height, rows reversed
def top_down(src, dst):
    d, off, hsize = parts(src)
    w, h, planes, bits = struct.unpack_from("<iiHH", d, 18)
    stride = (w * bits + 31) // 32 * 4
    rows = [d[off + i * stride: off + (i + 1) * stride] for i in range(h)]
    header = bytearray(d[14:14 + hsize])
    struct.pack_into("<i", header, 8, -h)
    write(dst, bytes(header), d[14 + hsize:off], b"".join(reversed(rows)))

top_down("info_24.bmp", "topdown_24.bmp")
top_down("info_8.bmp", "topdown_8.bmp")
top_down("v5_argb.bmp", "topdown_argb.bmp")

# packed DIB: the same bytes without the file header
d, off, hsize = parts("info_8.bmp")
open("packed.dib", "wb").write(d[14:])

# RLE4: the indices of info_4.bmp as runs (a run of up to 255 pixels,
# alternating two indices) and absolute runs, one end of line per row
d, off, hsize = parts("info_4.bmp")
w, h = struct.unpack_from("<ii", d, 18)
stride = (w * 4 + 31) // 32 * 4
out = bytearray()
for r in range(h):
    row = d[off + r * stride: off + (r + 1) * stride]
    idx = [(row[x // 2] >> 4) if x % 2 == 0 else (row[x // 2] & 15) for x in range(w)]
    x = 0
    while x < w:
        n = 1
        while x + n < w and idx[x + n] == idx[x] and n < 255:
            n += 1
        if n >= 3 or w - x < 3:
            out += bytes((n, idx[x] << 4 | idx[x]))
            x += n
        else:
            n = min(w - x, 7)
            nib = idx[x:x + n] + [0]
            body = bytes(nib[i] << 4 | nib[i + 1] for i in range(0, n, 2))
            out += bytes((0, n)) + body + (b"\0" if len(body) % 2 else b"")
            x += n
    out += b"\0\0"
out += b"\0\1"
header = bytearray(d[14:14 + hsize])
struct.pack_into("<II", header, 16, 2, len(out))
write("rle4.bmp", bytes(header), d[14 + hsize:off], bytes(out))
PY
