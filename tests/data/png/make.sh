#!/bin/sh
# Makes the PNG fixtures of the PNG reader tests (tests/imaging/readers/png_*
# and tests/tools/png_cli_test.cpp) with two independent writers: PIL
# (Debian python3-pil) and ImageMagick's convert (Debian imagemagick).
#
#   sh tests/data/png/make.sh
#
# For every case it writes CASE.png and, shared by the cases of one content,
# a reference REF.pam (8-bit RGB_ALPHA) holding what the reader must show:
#   grey of depth 1, 2, 4: v x 255 / (2^depth - 1) (the grey palette);
#   8-bit samples unchanged; 16-bit samples v x 255 div 65535 (truncated);
#   grey + alpha: the grey only, opaque; indexed: the palette colour, opaque;
#   RGBA: colour and alpha as above; everything else opaque.
# cases.txt lists "CASE.png REF.pam GAMA KEY": GAMA is the stored gAMA value
# (0 = none; the colour channels then go through the colour manager's gamma
# table for GAMA / 100000 and display gamma 2.2), KEY the transparent colour
# RRGGBB a tRNS chunk gives the bitmap, or "-".
#
# Contents are random but seeded, rows alternate between noise, ramps, copies
# of the row above and smooth gradients so that the writers' adaptive filter
# choice uses all five filter types (checked below). Every file is read back
# through ImageMagick and compared with the samples it was made from.
set -eu
cd "$(dirname "$0")"
PYTHON=${PYTHON:-/usr/bin/python3}
exec "$PYTHON" - <<'PYEOF'
import io, os, random, struct, subprocess, tempfile, zlib
from PIL import Image

W, H = 23, 19
TMP = tempfile.mkdtemp()

def samples(depth, seed, channels):
    """Rows of W pixels, each a tuple of channel samples at depth."""
    r = random.Random(seed)
    top = (1 << depth) - 1
    rows = []
    for y in range(H):
        kind = y % 6
        row = []
        for x in range(W):
            px = []
            for c in range(channels):
                if kind == 0:
                    v = r.randint(0, top)
                elif kind == 1:
                    v = (x * (top // 22 + 1) + c * 5) % (top + 1)
                elif kind == 2:
                    v = rows[-1][x][c]
                elif kind == 3:
                    v = ((x + y) * (top + 1) // 48 + c) % (top + 1)
                elif kind == 4:
                    v = ((x * 3 + y * 2) * (top + 1) // 120 + r.randint(0, 1)) % (top + 1)
                else:
                    v = (top * (c + 1)) // 4
                px.append(v)
            row.append(tuple(px))
        rows.append(row)
    if depth == 16:  # the edges of the truncating reduction
        edge = [65535, 65534, 257, 256, 255, 0, 32896, 32895]
        for x in range(min(W, len(edge))):
            rows[0][x] = tuple(edge[(x + c) % len(edge)] for c in range(channels))
    return rows

def display(v, depth):
    if depth < 8:
        return v * (255 // ((1 << depth) - 1))
    return v if depth == 8 else v * 255 // 65535

CONTENTS = {}  # key -> (kind, depth, rows, palette)

def content(kind, depth):
    key = '%s%d' % (kind, depth)
    if key in CONTENTS:
        return key
    seed = hash(key) & 0xFFFF if False else sum(map(ord, key)) * 7919
    palette = None
    if kind == 'pal':
        r = random.Random(seed + 1)
        palette = []
        while len(palette) < (1 << depth):  # distinct colours, so that any writer keeps them
            c = (r.randrange(256), r.randrange(256), r.randrange(256))
            if c not in palette:
                palette.append(c)
        rows = samples(depth, seed, 1)
    else:
        rows = samples(depth, seed, {'gray': 1, 'ga': 2, 'rgb': 3, 'rgba': 4}[kind])
    CONTENTS[key] = (kind, depth, rows, palette)
    out = bytearray()
    for row in rows:
        for px in row:
            if kind == 'pal':
                out += bytes(palette[px[0]]) + b'\xff'
            elif kind in ('gray', 'ga'):
                g = display(px[0], depth)
                out += bytes((g, g, g, 255))
            elif kind == 'rgb':
                out += bytes(display(v, depth) for v in px) + b'\xff'
            else:
                out += bytes(display(v, depth) for v in px)
    with open('ref_%s.pam' % key, 'wb') as f:
        f.write(b'P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n' % (W, H) + out)
    return key

def pnm_source(key):
    """The content as a PGM/PPM/PAM file ImageMagick reads."""
    kind, depth, rows, palette = CONTENTS[key]
    path = os.path.join(TMP, key + ('.ppm' if kind == 'pal' else '.pam'))
    if kind == 'pal':
        body = b''.join(bytes(palette[px[0]]) for row in rows for px in row)
        data = b'P6\n%d %d\n255\n' % (W, H) + body
    else:
        maxval = (1 << depth) - 1
        fmt = '>H' if depth == 16 else 'B'
        body = b''.join(struct.pack(fmt, v) for row in rows for px in row for v in px)
        tupl = {'gray': b'GRAYSCALE', 'ga': b'GRAYSCALE_ALPHA', 'rgb': b'RGB', 'rgba': b'RGB_ALPHA'}[kind]
        data = b'P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n' % (
            W, H, len(rows[0][0]), maxval, tupl) + body
    with open(path, 'wb') as f:
        f.write(data)
    return path

COLOR_TYPE = {'gray': 0, 'rgb': 2, 'pal': 3, 'ga': 4, 'rgba': 6}

def write_im(name, key, interlace=False, extra=()):
    kind, depth, _, _ = CONTENTS[key]
    args = ['convert', pnm_source(key), '-define', 'png:color-type=%d' % COLOR_TYPE[kind],
            '-define', 'png:bit-depth=%d' % depth, '-define', 'png:exclude-chunks=all']
    args += list(extra)
    if interlace:
        args += ['-interlace', 'PNG']
    subprocess.run(args + [name], check=True)

def write_pil(name, key, **options):
    kind, depth, rows, palette = CONTENTS[key]
    flat = [v for row in rows for px in row for v in px]
    if kind == 'gray' and depth == 1:
        im = Image.frombytes('L', (W, H), bytes(v * 255 for v in flat)).convert('1')
    elif kind == 'gray' and depth == 16:
        im = Image.frombytes('I;16', (W, H), b''.join(struct.pack('<H', v) for v in flat))
    elif kind == 'pal':
        im = Image.frombytes('P', (W, H), bytes(flat))
        im.putpalette([c for entry in palette for c in entry])
        if depth < 8:
            options['bits'] = depth
    else:
        mode = {'gray': 'L', 'ga': 'LA', 'rgb': 'RGB', 'rgba': 'RGBA'}[kind]
        im = Image.frombytes(mode, (W, H), bytes(flat))
    im.save(name, 'PNG', **options)

def chunks(data):
    pos, out = 8, []
    while pos < len(data):
        n, = struct.unpack('>I', data[pos:pos + 4])
        out.append((data[pos + 4:pos + 8], data[pos + 8:pos + 8 + n]))
        pos += 12 + n
    return out

def build(chunk_list):
    out = b'\x89PNG\r\n\x1a\n'
    for t, d in chunk_list:
        out += struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
    return out

def rechunk(source, name, size, empty_at):
    """The same file with its image data cut into IDAT chunks of size bytes and
    a zero-length IDAT chunk inserted at position empty_at of the run."""
    cl = chunks(open(source, 'rb').read())
    data = b''.join(d for t, d in cl if t == b'IDAT')
    pieces = [data[i:i + size] for i in range(0, len(data), size)]
    pieces.insert(empty_at, b'')
    first = next(i for i, (t, _) in enumerate(cl) if t == b'IDAT')
    rest = [c for c in cl if c[0] != b'IDAT']
    with open(name, 'wb') as f:
        f.write(build(rest[:first] + [(b'IDAT', p) for p in pieces] + rest[first:]))

CASES = []  # (png, ref key, gama, key colour)

def case(name, key, gama=0, trns='-'):
    CASES.append((name, key, gama, trns))

LEGAL = [('gray', 1), ('gray', 2), ('gray', 4), ('gray', 8), ('gray', 16), ('rgb', 8), ('rgb', 16),
         ('pal', 1), ('pal', 2), ('pal', 4), ('pal', 8), ('ga', 8), ('ga', 16), ('rgba', 8), ('rgba', 16)]

# ImageMagick: every colour type and legal depth, plain and Adam7.
for kind, depth in LEGAL:
    key = content(kind, depth)
    write_im('im_%s.png' % key, key)
    case('im_%s.png' % key, key)
    write_im('im_%s_adam7.png' % key, key, interlace=True)
    case('im_%s_adam7.png' % key, key)

# PIL: the modes it writes.
for kind, depth in [('gray', 1), ('gray', 8), ('gray', 16), ('rgb', 8), ('pal', 1), ('pal', 2), ('pal', 4),
                    ('pal', 8), ('ga', 8), ('rgba', 8)]:
    key = content(kind, depth)
    write_pil('pil_%s.png' % key, key)
    case('pil_%s.png' % key, key)

# tRNS: a grey and an RGB key colour make the bitmap transparent; palette
# alpha changes nothing.
rows = CONTENTS['gray8'][2]
write_pil('pil_gray8_trns.png', 'gray8', transparency=rows[0][3][0])
case('pil_gray8_trns.png', 'gray8', trns='%02x%02x%02x' % ((rows[0][3][0],) * 3))
rgb = CONTENTS['rgb8'][2][0][5]
write_pil('pil_rgb8_trns.png', 'rgb8', transparency=rgb)
case('pil_rgb8_trns.png', 'rgb8', trns='%02x%02x%02x' % rgb)
write_pil('pil_pal8_trns.png', 'pal8', transparency=bytes(range(0, 256)))
case('pil_pal8_trns.png', 'pal8')
rgb16 = CONTENTS['rgb16'][2][0][0]
write_im('im_rgb16_trns.png', 'rgb16', extra=['-transparent', 'rgb(%d,%d,%d)' % tuple(v // 257 for v in rgb16),
                                               '-define', 'png:include-chunk=tRNS'])

# bKGD and gAMA (kept by ImageMagick when asked for).
write_im('im_rgb8_bkgd.png', 'rgb8', extra=['-background', '#336699', '-define', 'png:include-chunk=bKGD'])
case('im_rgb8_bkgd.png', 'rgb8')
write_im('im_gray16_bkgd_adam7.png', 'gray16', interlace=True,
         extra=['-background', 'gray(40%)', '-define', 'png:include-chunk=bKGD'])
case('im_gray16_bkgd_adam7.png', 'gray16')
for key, interlace in [('rgb8', False), ('gray4', False), ('pal8', True), ('rgba16', False)]:
    name = 'im_%s_gama%s.png' % (key, '_adam7' if interlace else '')
    write_im(name, key, interlace, extra=['-set', 'gamma', '0.5', '-define', 'png:include-chunk=gAMA'])
    gama = [d for t, d in chunks(open(name, 'rb').read()) if t == b'gAMA']
    assert gama, name + ' has no gAMA chunk'
    case(name, key, gama=struct.unpack('>I', gama[0])[0])

# Many small IDAT chunks with a zero-length one among them.
rechunk('pil_rgb8.png', 'pil_rgb8_chunked.png', 97, 1)
case('pil_rgb8_chunked.png', 'rgb8')
rechunk('im_rgba16_adam7.png', 'im_rgba16_adam7_chunked.png', 31, 0)
case('im_rgba16_adam7_chunked.png', 'rgba16')

# The ImageMagick tRNS case is kept only when the writer produced a real tRNS
# chunk for colour type 2 (it may choose an alpha channel instead).
cl = chunks(open('im_rgb16_trns.png', 'rb').read())
if cl[0][1][9] == 2 and any(t == b'tRNS' for t, _ in cl):
    key16 = tuple(v * 255 // 65535 for v in struct.unpack('>3H', [d for t, d in cl if t == b'tRNS'][0]))
    case('im_rgb16_trns.png', 'rgb16', trns='%02x%02x%02x' % key16)
else:
    os.remove('im_rgb16_trns.png')

# ---- checks ------------------------------------------------------------------
PASSES = [(0, 0, 8, 8), (0, 4, 8, 8), (4, 0, 8, 4), (0, 2, 4, 4), (2, 0, 4, 2), (0, 1, 2, 2), (1, 0, 2, 1)]
census = {}
for name, key, gama, trns in CASES:
    kind, depth, rows, palette = CONTENTS[key]
    data = open(name, 'rb').read()
    cl = chunks(data)
    w, h, bd, ct, _, _, il = struct.unpack('>IIBBBBB', cl[0][1])
    assert (w, h, bd, ct) == (W, H, depth, COLOR_TYPE[kind]), (name, w, h, bd, ct)
    raw = zlib.decompress(b''.join(d for t, d in cl if t == b'IDAT'))
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ct]
    pos = 0
    for fy, fx, sy, sx in (PASSES if il else [(0, 0, 1, 1)]):
        pw = (W - fx + sx - 1) // sx
        if pw == 0:
            continue
        size = (pw * channels * bd + 7) // 8 + 1
        for y in range(fy, H, sy):
            census.setdefault(max(1, channels * bd // 8), set()).add(raw[pos])
            pos += size
    assert pos == len(raw), name
    # ImageMagick reads it back as the samples it was made from.
    back = subprocess.run(['convert', name, '-depth', '16', 'rgba:-'], check=True, capture_output=True).stdout
    got = struct.unpack('<%dH' % (W * H * 4), back)
    i = 0
    for row in rows:
        for px in row:
            if kind == 'pal':
                want = tuple(c * 257 for c in palette[px[0]]) + (65535,)
            else:
                s = [v * 65535 // ((1 << depth) - 1) for v in px]
                if len(s) <= 2:
                    s = [s[0]] * 3 + s[1:]
                want = tuple(s) + (65535,) * (4 - len(s))
            if trns != '-' or 'trns' in name:
                want = want[:3] + (got[i + 3],)
            assert got[i:i + 4] == want, (name, i // 4, got[i:i + 4], want)
            i += 4
for pixel_bytes, types in sorted(census.items()):
    print('pixel size %d: filter types %s' % (pixel_bytes, sorted(types)))
    if pixel_bytes >= 2:
        assert types == {0, 1, 2, 3, 4}, pixel_bytes

with open('cases.txt', 'w') as f:
    for name, key, gama, trns in CASES:
        f.write('%s ref_%s.pam %d %s\n' % (name, key, gama, trns))
print('%d cases' % len(CASES))
PYEOF
