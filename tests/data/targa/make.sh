#!/bin/sh
# Makes the Targa fixtures of tests/tools/targa_pcx_cli_test.cpp with two
# independent writers, ImageMagick's convert (Debian imagemagick) and netpbm's
# ppmtotga and pamtotga (Debian netpbm), plus files built byte by byte here for
# what neither writes (15- and 16-bit pixels, 16- and 32-bit colour maps, a map
# that starts past index 0, a grey image that declares a map, packets that
# cross row ends).
#
#   sh tests/data/targa/make.sh
#
# cases.txt lists "FILE REF.ppm": REF holds the colours the reader must show.
# 8-bit samples and 24- and 32-bit map entries are shown unchanged, a 5-bit
# pixel component v as (v << 3) | (v >> 2) (the 15-bit bitmap), a 5-bit map
# component v as v << 3; alpha is not shown. Every writer's file is checked
# for the header it must have and read back through netpbm's tgatoppm.
set -eu
cd "$(dirname "$0")"
PYTHON=${PYTHON:-/usr/bin/python3}
exec "$PYTHON" - <<'PYEOF'
import os, random, struct, subprocess, tempfile

W, H = 21, 13
TMP = tempfile.mkdtemp()
r = random.Random(2141)

def ppm_bytes(pixels, w=W, h=H):
    return b'P6\n%d %d\n255\n' % (w, h) + bytes(c for p in pixels for c in p)

def save(name, data):
    with open(name, 'wb') as f:
        f.write(data)

def tmp(name, data):
    path = os.path.join(TMP, name)
    save(path, data)
    return path

# Contents, top row first.
rgb = []
for y in range(H):
    for x in range(W):
        if y % 4 == 1:  # runs of one colour across the whole row
            rgb.append((200, 30 + y, 7))
        elif y % 4 == 3:
            rgb.append((x * 12, 255 - x * 12, (x * y) % 256))
        else:
            rgb.append((r.randrange(256), r.randrange(256), r.randrange(256)))
alpha = [1 + (i * 37) % 255 for i in range(W * H)]
gray = [(x * 12 + y) % 256 if y % 2 else r.randrange(256) for y in range(H) for x in range(W)]
palette = [(63, 0, 252), (255, 63, 0), (0, 0, 0), (255, 255, 255)]
while len(palette) < 16:
    c = (r.randrange(256), r.randrange(256), r.randrange(256))
    if c not in palette:
        palette.append(c)
pal_index = [(x // 3 + y) % 16 if y % 3 else r.randrange(16) for y in range(H) for x in range(W)]
pal = [palette[i] for i in pal_index]

save('ref_rgb.ppm', ppm_bytes(rgb))
save('ref_gray.ppm', ppm_bytes([(g, g, g) for g in gray]))
save('ref_pal.ppm', ppm_bytes(pal))
SRC_RGB = tmp('rgb.ppm', ppm_bytes(rgb))
SRC_PAL = tmp('pal.ppm', ppm_bytes(pal))
SRC_GRAY = tmp('gray.pgm', b'P5\n%d %d\n255\n' % (W, H) + bytes(gray))
SRC_GRAY_PPM = tmp('gray.ppm', ppm_bytes([(g, g, g) for g in gray]))
SRC_RGBA = tmp('rgba.pam', b'P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n' % (W, H)
               + bytes(c for p, a in zip(rgb, alpha) for c in p + (a,)))

CASES = []

def header(name):
    d = open(name, 'rb').read(18)
    return {'type': d[2], 'map': d[1], 'depth': d[16], 'topdown': bool(d[17] & 0x20)}

def writer(name, ref, args, want, stdout=False):
    if stdout:
        with open(name, 'wb') as f:
            subprocess.run(args, stdout=f, stderr=subprocess.DEVNULL, check=True)
    else:
        subprocess.run(args + [name], check=True)
    got = header(name)
    for k, v in want.items():
        assert got[k] == v, (name, k, got[k], v)
    back = subprocess.run(['tgatoppm', name], capture_output=True, check=True).stdout
    assert back == open(ref, 'rb').read(), name + ': tgatoppm reads it differently'
    CASES.append((name, ref))

# ImageMagick: every image type it writes, plain and run-length, both row orders.
# Its writer stores the rows in the order it holds them and only labels the
# order, so the bottom-up files are written from a flipped image.
writer('im_rgb24.tga', 'ref_rgb.ppm', ['convert', SRC_RGB, '-flip', '-compress', 'None'], {'type': 2, 'depth': 24, 'topdown': False})
writer('im_rgb24_rle.tga', 'ref_rgb.ppm', ['convert', SRC_RGB, '-flip', '-compress', 'RLE'], {'type': 10, 'depth': 24})
writer('im_rgb24_topdown.tga', 'ref_rgb.ppm', ['convert', SRC_RGB, '-orient', 'TopLeft', '-compress', 'None'],
       {'type': 2, 'topdown': True})
writer('im_rgb24_topdown_rle.tga', 'ref_rgb.ppm', ['convert', SRC_RGB, '-orient', 'TopLeft', '-compress', 'RLE'],
       {'type': 10, 'topdown': True})
writer('im_rgba32.tga', 'ref_rgb.ppm', ['convert', SRC_RGBA, '-flip', '-compress', 'None'], {'type': 2, 'depth': 32})
writer('im_rgba32_rle.tga', 'ref_rgb.ppm', ['convert', SRC_RGBA, '-flip', '-compress', 'RLE'], {'type': 10, 'depth': 32})
writer('im_gray8.tga', 'ref_gray.ppm', ['convert', SRC_GRAY, '-flip', '-compress', 'None'], {'type': 3, 'depth': 8})
writer('im_gray8_rle.tga', 'ref_gray.ppm', ['convert', SRC_GRAY, '-flip', '-compress', 'RLE'], {'type': 11, 'depth': 8})
writer('im_pal8.tga', 'ref_pal.ppm', ['convert', SRC_PAL, '-flip', '-type', 'Palette', '-compress', 'None'],
       {'type': 1, 'map': 1, 'depth': 8})
writer('im_pal8_rle.tga', 'ref_pal.ppm', ['convert', SRC_PAL, '-flip', '-type', 'Palette', '-compress', 'RLE'],
       {'type': 9, 'map': 1})

# netpbm (its files carry an identification field).
writer('nb_rgb24.tga', 'ref_rgb.ppm', ['ppmtotga', '-name=netpbm', '-rgb', '-norle', SRC_RGB], {'type': 2, 'depth': 24}, True)
writer('nb_rgb24_rle.tga', 'ref_rgb.ppm', ['ppmtotga', '-name=netpbm', '-rgb', SRC_RGB], {'type': 10, 'depth': 24}, True)
writer('nb_pal8.tga', 'ref_pal.ppm', ['ppmtotga', '-name=netpbm', '-cmap', '-norle', SRC_PAL], {'type': 1, 'map': 1}, True)
writer('nb_pal8_rle.tga', 'ref_pal.ppm', ['ppmtotga', '-name=netpbm', '-cmap', SRC_PAL], {'type': 9, 'map': 1}, True)
writer('nb_gray8.tga', 'ref_gray.ppm', ['ppmtotga', '-name=netpbm', '-mono', '-norle', SRC_GRAY_PPM], {'type': 3}, True)
writer('nb_gray8_rle.tga', 'ref_gray.ppm', ['ppmtotga', '-name=netpbm', '-mono', SRC_GRAY_PPM], {'type': 11}, True)
writer('nb_rgba32_rle.tga', 'ref_rgb.ppm', ['pamtotga', '-name=netpbm', SRC_RGBA], {'type': 10, 'depth': 32}, True)

# Built here.
def tga(image_type, depth, descriptor=0, map_type=0, map_start=0, map_entries=b'', map_length=0, map_size=0,
        ident=b''):
    return struct.pack('<BBBHHBHHHHBB', len(ident), map_type, image_type, map_start, map_length, map_size,
                       0, 0, W, H, depth, descriptor) + ident + map_entries

def stored_order(pixels, topdown):
    rows = [pixels[y * W:(y + 1) * W] for y in range(H)]
    return [p for row in (rows if topdown else rows[::-1]) for p in row]

def rle(pixels, size):
    """Packets over the whole image, crossing row ends freely."""
    out, i = bytearray(), 0
    while i < len(pixels):
        n = 1
        while i + n < len(pixels) and n < 128 and pixels[i + n] == pixels[i]:
            n += 1
        if n > 1:
            out += bytes([0x80 | (n - 1)]) + pixels[i]
            i += n
            continue
        n = 1
        while i + n < len(pixels) and n < 128 and (i + n + 1 >= len(pixels) or pixels[i + n] != pixels[i + n + 1]):
            n += 1
        out += bytes([n - 1]) + b''.join(pixels[i:i + n])
        i += n
    return bytes(out)

def rep5(v):
    return (v << 3) | (v >> 2)

# 15- and 16-bit pixels: 5-5-5 words, the top bit not shown.
words = [((x * 3 + y) % 32) << 10 | ((x + y * 2) % 32) << 5 | ((x * y) % 32) | (0x8000 if (x + y) % 2 else 0)
         if y % 3 else 0x4210 for y in range(H) for x in range(W)]
save('ref_words.ppm', ppm_bytes([(rep5(w >> 10 & 31), rep5(w >> 5 & 31), rep5(w & 31)) for w in words]))
packed = [struct.pack('<H', w) for w in words]
save('hb_rgb15.tga', tga(2, 15, ident=b'fifteen') + b''.join(stored_order(packed, False)))
CASES.append(('hb_rgb15.tga', 'ref_words.ppm'))
save('hb_rgb16_rle_topdown.tga', tga(10, 16, 0x21) + rle(stored_order(packed, True), 2))
CASES.append(('hb_rgb16_rle_topdown.tga', 'ref_words.ppm'))

# A 16-bit map starting at pixel value 3, top row first.
map_words = [((i * 5) % 32) << 10 | ((31 - i) % 32) << 5 | (i * 2) % 32 for i in range(16)]
map_bytes = b''.join(struct.pack('<H', w) for w in map_words)
save('ref_map16.ppm', ppm_bytes([((map_words[i] >> 10 & 31) << 3, (map_words[i] >> 5 & 31) << 3,
                                  (map_words[i] & 31) << 3) for i in pal_index]))
save('hb_map16_start3_topdown.tga', tga(1, 8, 0x20, 1, 3, map_bytes, 16, 16)
     + b"".join(stored_order([bytes([i + 3]) for i in pal_index], True)))
CASES.append(('hb_map16_start3_topdown.tga', 'ref_map16.ppm'))

# A 32-bit map (blue, green, red, alpha) under run-length pixels.
map32 = b''.join(bytes((c[2], c[1], c[0], 0x55)) for c in palette)
save('hb_map32_rle.tga', tga(9, 8, 0, 1, 0, map32, 16, 32) + rle(stored_order([bytes([i]) for i in pal_index], False), 1))
CASES.append(('hb_map32_rle.tga', 'ref_pal.ppm'))

# A grey image that declares a 24-bit map: the map is passed over.
save('hb_gray_with_map.tga', tga(3, 8, 0, 1, 0, bytes(range(12)), 4, 24) + b"".join(stored_order([bytes([g]) for g in gray], False)))
CASES.append(('hb_gray_with_map.tga', 'ref_gray.ppm'))

with open('cases.txt', 'w') as f:
    for name, ref in CASES:
        f.write('%s %s\n' % (name, ref))
print('%d Targa cases' % len(CASES))
PYEOF
