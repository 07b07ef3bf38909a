#!/usr/bin/env python3
"""Writes the "lying header" set: small valid files whose width and height are
raised to the largest the format and the image size limit allow, and the same
files (and the untouched originals) cut short at several points.

    bench/lying_headers.py SEEDS OUT [--max-bytes N] [--max-side N]

SEEDS holds one folder per picture extension (fuzz/corpus/ has that shape);
OUT gets the same folders, one file per variant:
    NAME.wide.EXT  width at its largest, height as large as the limit allows
    NAME.tall.EXT  height at its largest, width as large as the limit allows
    NAME[.wide|.tall].cutP.EXT  the file cut to P per cent of its length
The limits default to the readers' (4 GiB bitmap, 2^20 pixels a side).
"""
import argparse
import os
import re
import struct
import sys
import zlib

CUTS = (10, 25, 50, 75, 95)


def bitmap_bits(name):
    """Bits per pixel of the bitmap a seed decodes to, guessed from its name."""
    n = name.lower()
    if "mono" in n or "g3" in n or n.endswith(".pbm"):
        return 1
    if "rgba" in n or "alpha" in n or "cmyk" in n:
        return 32
    if any(k in n for k in ("rgb", "baseline", "progressive", "s444", "jpeg", "deflate", "none", "packbits",
                            "tiled", "preview", "photo", "psp_rgb", "a.ico", ".ppm", "rla", "lab")):
        return 24
    return 8


def sides(field_max, bits, max_bytes, max_side, tall):
    """Largest (width, height) with one side at the field's maximum."""
    big = min(field_max, max_side)
    def rows_for(width):
        row = ((width * bits + 31) // 32) * 4
        return max(1, min(big, max_bytes // row))
    if not tall:
        return big, rows_for(big)
    # The tallest image: height at its largest, then the widest row that fits.
    width = min(big, (max_bytes // big) * 8 // bits)
    while width > 1 and ((width * bits + 31) // 32) * 4 * big > max_bytes:
        width -= 1
    return max(width, 1), big


def put(data, fmt, offset, value):
    struct.pack_into(fmt, data, offset, value)


def patch_png(data, w, h):
    put(data, ">I", 16, w)
    put(data, ">I", 20, h)
    put(data, ">I", 29, zlib.crc32(bytes(data[12:29])) & 0xFFFFFFFF)


def patch_bmp_at(data, at, w, h):
    old_h = struct.unpack_from("<i", data, at + 8)[0]
    put(data, "<i", at + 4, w)
    put(data, "<i", at + 8, -h if old_h < 0 else h)


def patch_ico(data, w, h):
    offset = struct.unpack_from("<I", data, 6 + 12)[0]
    if data[offset:offset + 4] == b"\x89PNG":
        sub = bytearray(data[offset:])
        patch_png(sub, w, h)
        data[offset:] = sub
    else:
        patch_bmp_at(data, offset, w, 2 * h)  # icons store twice the height (colour and mask)


def patch_pcx(data, w, h):
    bits, planes = data[3], data[65]
    line = (w * bits + 7) // 8
    line += line & 1
    put(data, "<H", 4, 0)
    put(data, "<H", 6, 0)
    put(data, "<H", 8, w - 1)
    put(data, "<H", 10, h - 1)
    put(data, "<H", 66, min(line, 0xFFFF))


def patch_psp(data, w, h):
    major = struct.unpack_from("<H", data, 32)[0]
    at = 36 + (14 if major == 3 else 10) + (4 if major > 3 else 0)
    put(data, "<I", at, w)
    put(data, "<I", at + 4, h)


def patch_rla(data, w, h):
    for at, value in ((0, 0), (2, w - 1), (4, 0), (6, h - 1), (8, 0), (10, w - 1), (12, 0), (14, h - 1)):
        put(data, ">h", at, value)


def patch_ppm(data, w, h):
    text = bytes(data)
    tokens = list(re.finditer(rb"(#[^\n]*\n)|(\S+)", text))
    numbers = [m for m in tokens if m.group(2)][1:3]
    (a, b) = numbers
    data[:] = text[:a.start()] + str(w).encode() + text[a.end():b.start()] + str(h).encode() + text[b.end():]


def patch_jpg(data, w, h):
    i = 2
    while i + 9 < len(data):
        if data[i] != 0xFF:
            i += 1
            continue
        marker = data[i + 1]
        if marker in (0xC0, 0xC1, 0xC2):
            put(data, ">H", i + 5, h)
            put(data, ">H", i + 7, w)
            return
        i += 2 + struct.unpack_from(">H", data, i + 2)[0]


def patch_tiff_at(data, base, w, h):
    big = data[base:base + 2] == b"MM"
    e = ">" if big else "<"
    ifd = base + struct.unpack_from(e + "I", data, base + 4)[0]
    count = struct.unpack_from(e + "H", data, ifd)[0]
    for k in range(count):
        at = ifd + 2 + 12 * k
        tag, kind = struct.unpack_from(e + "HH", data, at)
        if tag in (256, 257):
            value = w if tag == 256 else h
            if kind == 3:
                put(data, e + "H", at + 8, min(value, 0xFFFF))
            else:
                put(data, e + "I", at + 8, value)


def patch_eps(data, w, h):
    offset = struct.unpack_from("<I", data, 20)[0]
    patch_tiff_at(data, offset, w, h)


def tiff_field_max(data, base=0):
    big = data[base:base + 2] == b"MM"
    e = ">" if big else "<"
    ifd = base + struct.unpack_from(e + "I", data, base + 4)[0]
    count = struct.unpack_from(e + "H", data, ifd)[0]
    for k in range(count):
        tag, kind = struct.unpack_from(e + "HH", data, ifd + 2 + 12 * k)
        if tag == 256:
            return 0xFFFF if kind == 3 else 0xFFFFFFFF
    return 0xFFFF


def patch_j2k(data, w, h):
    # The size marker follows the codestream's first marker; the tile grid stays.
    at = bytes(data).index(b"\xff\x4f\xff\x51")
    put(data, ">I", at + 8, w)
    put(data, ">I", at + 12, h)


# extension: (largest value of the size fields, patcher); None: no size to raise.
FORMATS = {
    "bmp": (0x7FFFFFFF, lambda d, w, h: patch_bmp_at(d, 14, w, h)),
    "ico": (0x7FFFFFFF, patch_ico),
    "png": (0x7FFFFFFF, patch_png),
    "jpg": (0xFFFF, patch_jpg),
    "tif": (None, lambda d, w, h: patch_tiff_at(d, 0, w, h)),
    "eps": (None, patch_eps),
    "tga": (0xFFFF, lambda d, w, h: (put(d, "<H", 12, w), put(d, "<H", 14, h))),
    "pcx": (0xFFFF, patch_pcx),
    "psd": (30000, lambda d, w, h: (put(d, ">I", 14, h), put(d, ">I", 18, w))),
    "psp": (0xFFFFFFFF, patch_psp),
    "sgi": (0xFFFF, lambda d, w, h: (put(d, ">H", 6, w), put(d, ">H", 8, h))),
    "rla": (0x7FFF, patch_rla),
    "ppm": (0xFFFFFFFF, patch_ppm),
    "cut": (0xFFFF, lambda d, w, h: (put(d, "<H", 0, w), put(d, "<H", 2, h))),
    "pic": (0xFFFF, lambda d, w, h: (put(d, "<H", 2, w), put(d, "<H", 4, h))),
    "pcd": (0, None),  # always 768 x 512: only cut
    "jp2": (0xFFFFFFFF, patch_j2k),
    "j2k": (0xFFFFFFFF, patch_j2k),
}


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("seeds")
    parser.add_argument("out")
    parser.add_argument("--max-bytes", type=int, default=4 << 30)
    parser.add_argument("--max-side", type=int, default=1 << 20)
    args = parser.parse_args()
    written = 0
    for ext, (field_max, patch) in sorted(FORMATS.items()):
        folder = os.path.join(args.seeds, ext)
        if not os.path.isdir(folder):
            continue
        out = os.path.join(args.out, ext)
        os.makedirs(out, exist_ok=True)
        for name in sorted(os.listdir(folder)):
            seed = open(os.path.join(folder, name), "rb").read()
            stem, dot, suffix = name.rpartition(".")
            variants = {"": seed}
            try:
                limit = field_max
                if patch and limit is None:
                    limit = tiff_field_max(seed, struct.unpack_from("<I", seed, 20)[0] if ext == "eps" else 0)
                for label, tall in (("wide", False), ("tall", True)) if patch else ():
                    w, h = sides(limit, bitmap_bits(name), args.max_bytes, args.max_side, tall)
                    data = bytearray(seed)
                    patch(data, w, h)
                    variants["." + label] = bytes(data)
            except (struct.error, ValueError, IndexError):
                pass  # a layout the patcher does not know (BigTIFF, say): cut only
            for label, data in variants.items():
                if label:
                    write(os.path.join(out, f"{stem}{label}.{suffix}"), data)
                    written += 1
                for percent in CUTS:
                    cut = data[:len(data) * percent // 100]
                    write(os.path.join(out, f"{stem}{label}.cut{percent}.{suffix}"), cut)
                    written += 1
    print(f"wrote {written} files under {args.out}", file=sys.stderr)


if __name__ == "__main__":
    main()
