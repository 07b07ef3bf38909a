#!/bin/sh
# Makes the PCX fixtures of tests/tools/targa_pcx_cli_test.cpp with two
# independent writers, netpbm's ppmtopcx (its -24bit, -8bit, -planes and
# -packed variants and its standard palette; Debian netpbm) and ImageMagick's
# convert (Debian imagemagick), plus files built byte by byte here for what
# they do not write (version 3 with the default 16-colour palette, plain
# 4-bit data, a screen capture with a grey ramp, 2-bit grey, an 8-bit image
# without a palette block).
#
#   sh tests/data/pcx/make.sh
#
# cases.txt lists "FILE REF.ppm": REF holds the colours the reader must show.
# Palette bytes are shown as stored (a 63 stays 63); 1-bit images are black
# and white; a grey ramp of 2^n entries spreads 0..255 evenly; version 3 files
# show the 16 VGA colours. Every writer's file is checked for the header it
# must have and read back through netpbm's pcxtoppm (ImageMagick for
# uncompressed data).
set -eu
cd "$(dirname "$0")"
PYTHON=${PYTHON:-/usr/bin/python3}
exec "$PYTHON" - <<'PYEOF'
import os, random, struct, subprocess, tempfile

W, H = 21, 13
TMP = tempfile.mkdtemp()
r = random.Random(2241)

def ppm_bytes(pixels, w=W, h=H):
    return b'P6\n%d %d\n255\n' % (w, h) + bytes(c for p in pixels for c in p)

def save(name, data):
    with open(name, 'wb') as f:
        f.write(data)

def colours(n, fixed=()):
    out = list(fixed)
    while len(out) < n:
        c = (r.randrange(256), r.randrange(256), r.randrange(256))
        if c not in out:
            out.append(c)
    return out

def indices(n, w=W, h=H):
    return [(x // 2 + y) % n if y % 3 else r.randrange(n) for y in range(h) for x in range(w)]

rgb = [(r.randrange(256), r.randrange(256), r.randrange(256)) for _ in range(W * H)]
pal16 = colours(16, [(63, 0, 252), (255, 63, 0), (0, 0, 0)])
pal40 = colours(40, [(63, 63, 63), (0, 0, 0)])
pal4 = colours(4, [(0, 0, 0)])
idx16, idx40, idx4, idx2 = indices(16), indices(40), indices(4), indices(2)
images = {
    'rgb': rgb,
    'pal16': [pal16[i] for i in idx16],
    'pal40': [pal40[i] for i in idx40],
    'pal4': [pal4[i] for i in idx4],
    'bw': [(255, 255, 255) if i else (0, 0, 0) for i in idx2],
}
SRC = {}
for key, pixels in images.items():
    save('ref_%s.ppm' % key, ppm_bytes(pixels))
    SRC[key] = os.path.join(TMP, key + '.ppm')
    save(SRC[key], ppm_bytes(pixels))
# The standard palette's colours, as netpbm ships them.
std = subprocess.run(['pnmremap', '-map=/usr/share/netpbm/pcxstd.ppm', '-nofloyd', SRC['rgb']],
                     capture_output=True, check=True).stdout
save('ref_std.ppm', std)
SRC['std'] = 'ref_std.ppm'

CASES = []

def header(name):
    d = open(name, 'rb').read()
    return {'planes': d[65], 'bits': d[3], 'encoding': d[2], 'version': d[1], 'block': len(d) > 896 and d[-769] == 12}

def writer(name, ref, args, want):
    with open(name, 'wb') as f:
        subprocess.run(args, stdout=f, stderr=subprocess.DEVNULL, check=True)
    got = header(name)
    for k, v in want.items():
        assert got[k] == v, (name, k, got[k], v)
    # pcxtoppm reads run-length files only.
    reader = ['pcxtoppm', name] if got['encoding'] == 1 else ['convert', name, '-strip', 'ppm:-']
    back = subprocess.run(reader, capture_output=True, check=True).stdout
    assert back == open(ref, 'rb').read(), name + ': read back differently'
    CASES.append((name, ref))

def ppmtopcx(key, *options):
    return ['ppmtopcx'] + list(options) + [SRC[key]]

def convert(key, *options):
    return ['convert', SRC[key]] + list(options) + ['pcx:-']

writer('nb_rgb24.pcx', 'ref_rgb.ppm', ppmtopcx('rgb'), {'planes': 3, 'bits': 8})
writer('nb_pal16_24bit.pcx', 'ref_pal16.ppm', ppmtopcx('pal16', '-24bit'), {'planes': 3, 'bits': 8})
writer('nb_pal40_8bit.pcx', 'ref_pal40.ppm', ppmtopcx('pal40'), {'planes': 1, 'bits': 8, 'block': True})
writer('nb_pal16_8bit.pcx', 'ref_pal16.ppm', ppmtopcx('pal16', '-8bit'), {'planes': 1, 'bits': 8, 'block': True})
writer('nb_pal16_planes.pcx', 'ref_pal16.ppm', ppmtopcx('pal16'), {'planes': 4, 'bits': 1})
writer('nb_pal4_planes4.pcx', 'ref_pal4.ppm', ppmtopcx('pal4', '-planes=4'), {'planes': 4, 'bits': 1})
writer('nb_std_planes.pcx', 'ref_std.ppm', ppmtopcx('std', '-stdpalette'), {'planes': 4, 'bits': 1})
writer('nb_pal16_packed.pcx', 'ref_pal16.ppm', ppmtopcx('pal16', '-packed'), {'planes': 1, 'bits': 4})
writer('nb_pal4_packed.pcx', 'ref_pal4.ppm', ppmtopcx('pal4', '-packed'), {'planes': 1, 'bits': 2})
writer('nb_bw_packed.pcx', 'ref_bw.ppm', ppmtopcx('bw', '-packed'), {'planes': 1, 'bits': 1})
writer('im_rgb24.pcx', 'ref_rgb.ppm', convert('rgb'), {'planes': 3, 'bits': 8, 'encoding': 1})
writer('im_rgb24_plain.pcx', 'ref_rgb.ppm', convert('rgb', '-compress', 'None'), {'planes': 3, 'encoding': 0})
writer('im_pal40_8bit.pcx', 'ref_pal40.ppm', convert('pal40', '-type', 'Palette'), {'planes': 1, 'bits': 8, 'block': True})

# Built here.
def pcx(planes, bits, bpl, data, version=5, encoding=1, manufacturer=10, palette=b'', pinfo=1, xmin=0, ymin=0,
        w=W, h=H):
    palette = (palette + bytes(48))[:48]
    head = struct.pack('<BBBBHHHHHH', manufacturer, version, encoding, bits, xmin, ymin, xmin + w - 1, ymin + h - 1,
                       300, 300)
    head += palette + bytes([0, planes]) + struct.pack('<HH', bpl, pinfo) + bytes(58)
    return head + data

def rle(data):
    out, i = bytearray(), 0
    while i < len(data):
        n = 1
        while i + n < len(data) and n < 63 and data[i + n] == data[i]:
            n += 1
        if n > 1 or data[i] >= 0xC0:
            out += bytes([0xC0 | n, data[i]])
        else:
            out.append(data[i])
        i += n
    return bytes(out)

def pack(values, bits, bpl):
    """One row of values packed most significant first into bpl bytes."""
    row = bytearray(bpl)
    for x, v in enumerate(values):
        row[x * bits // 8] |= v << (8 - bits - x * bits % 8)
    return bytes(row)

def rows(idx, w=W, h=H):
    return [idx[y * w:(y + 1) * w] for y in range(h)]

VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
       (0, 255, 255), (255, 255, 255)]
save('ref_vga16.ppm', ppm_bytes([VGA[i] for i in idx16]))
garbage = bytes(r.randrange(256) for _ in range(48))

# Version 3: four planes (run-length) and plain 4-bit packed pixels (rows
# padded to an even length), both showing the default palette.
planar = b''.join(pack([(v >> k) & 1 for v in row], 1, 4) for row in rows(idx16) for k in range(4))
save('hb_v3_planes.pcx', pcx(4, 1, 4, rle(planar), version=3, palette=garbage))
CASES.append(('hb_v3_planes.pcx', 'ref_vga16.ppm'))
save('hb_v3_packed4_plain.pcx', pcx(1, 4, 12, b''.join(pack(row, 4, 12) for row in rows(idx16)), version=3, encoding=0,
                                    palette=garbage))
CASES.append(('hb_v3_packed4_plain.pcx', 'ref_vga16.ppm'))

# A screen capture (first byte 0xCD) with grey palette information, extents
# not starting at 0, no palette block.
gray = [(x * 12 + y * 5) % 256 for y in range(H) for x in range(W)]
save('ref_gray.ppm', ppm_bytes([(g, g, g) for g in gray]))
save('hb_scr_gray8.scr', pcx(1, 8, 22, rle(b''.join(bytes(row) + b'\0' for row in rows(gray))), manufacturer=0xCD,
                             pinfo=2, xmin=10, ymin=4))
CASES.append(('hb_scr_gray8.scr', 'ref_gray.ppm'))

# 2-bit grey: the four values spread to 0, 85, 170, 255.
save('ref_gray2.ppm', ppm_bytes([(85 * i, 85 * i, 85 * i) for i in idx4]))
save('hb_gray2_packed.pcx', pcx(1, 2, 6, rle(b''.join(pack(row, 2, 6) for row in rows(idx4))), pinfo=2))
CASES.append(('hb_gray2_packed.pcx', 'ref_gray2.ppm'))

# An 8-bit image larger than a palette block, without one: all its data are
# pixels, shown through the bitmap's own grey.
BW, BH = 40, 30
big = [(x * 7 + y * 3) % 256 for y in range(BH) for x in range(BW)]
save('ref_big_gray.ppm', ppm_bytes([(g, g, g) for g in big], BW, BH))
assert big[-769] != 12
save('hb_8bit_no_block_plain.pcx', pcx(1, 8, BW, bytes(big), encoding=0, w=BW, h=BH))
CASES.append(('hb_8bit_no_block_plain.pcx', 'ref_big_gray.ppm'))

with open('cases.txt', 'w') as f:
    for name, ref in CASES:
        f.write('%s %s\n' % (name, ref))
print('%d PCX cases' % len(CASES))
PYEOF
