#!/usr/bin/env bash
# Regenerates the seed corpora in fuzz/corpus/ from small valid files made by
# independent tools (ImageMagick, netpbm, libtiff tools, cjpeg) and, for the
# decoder targets, from short byte strings. Small on purpose: seeds, not tests.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 13x9 gradient:red-blue -depth 8 "$work/rgb.ppm"
convert -size 13x9 gradient:white-black -depth 8 "$work/grey.pgm"
convert -size 13x9 plasma:fractal -seed 3 -depth 8 "$work/plasma.ppm" 2>/dev/null || cp "$work/rgb.ppm" "$work/plasma.ppm"
convert "$work/plasma.ppm" -colors 16 "$work/pal16.png"
convert "$work/plasma.ppm" -alpha set -channel A -evaluate set 50% "$work/rgba.png"

seed() { mkdir -p "corpus/$1"; cp "$2" "corpus/$1/$3"; }

# BMP and icons.
convert "$work/plasma.ppm" "BMP3:$work/a.bmp"; seed bmp "$work/a.bmp" rgb24.bmp
convert "$work/pal16.png" -type palette "BMP3:$work/b.bmp"; seed bmp "$work/b.bmp" pal8.bmp
convert "$work/pal16.png" -type palette -compress RLE "BMP3:$work/c.bmp"; seed bmp "$work/c.bmp" rle8.bmp
convert "$work/rgba.png" "BMP:$work/d.bmp"; seed bmp "$work/d.bmp" v5alpha.bmp
convert "$work/plasma.ppm" -monochrome "BMP3:$work/e.bmp"; seed bmp "$work/e.bmp" mono.bmp
convert "$work/plasma.ppm" -resize 16x16! "$work/a.ico"; seed ico "$work/a.ico" a.ico
convert "$work/pal16.png" -resize 16x16! -type palette "$work/b.ico"; seed ico "$work/b.ico" pal.ico

# JPEG.
cjpeg -quality 80 "$work/plasma.ppm" > "$work/a.jpg"; seed jpg "$work/a.jpg" baseline.jpg
cjpeg -progressive "$work/plasma.ppm" > "$work/b.jpg"; seed jpg "$work/b.jpg" progressive.jpg
cjpeg -grayscale -restart 1 "$work/grey.pgm" > "$work/c.jpg"; seed jpg "$work/c.jpg" grey_restart.jpg
cjpeg -sample 1x1 "$work/plasma.ppm" > "$work/d.jpg"; seed jpg "$work/d.jpg" s444.jpg

# TIFF.
convert "$work/plasma.ppm" -compress none "$work/a.tif"; seed tif "$work/a.tif" none.tif
convert "$work/plasma.ppm" -compress rle "$work/b.tif"; seed tif "$work/b.tif" packbits.tif
convert "$work/plasma.ppm" -compress zip -define tiff:predictor=2 "$work/c.tif"; seed tif "$work/c.tif" deflate_pred.tif
convert "$work/plasma.ppm" -compress jpeg "$work/d.tif"; seed tif "$work/d.tif" jpeg.tif
convert "$work/plasma.ppm" -monochrome -compress fax "$work/e.tif"; seed tif "$work/e.tif" g3.tif
convert "$work/pal16.png" -type palette "$work/f.tif"; seed tif "$work/f.tif" palette.tif
convert "$work/plasma.ppm" -colorspace cmyk "$work/g.tif"; seed tif "$work/g.tif" cmyk.tif
# Strips and tiles enough for several decoding threads.
convert "$work/plasma.ppm" -compress lzw -define tiff:rows-per-strip=1 "$work/h.tif"; seed tif "$work/h.tif" lzw_rows.tif
convert -size 40x48 plasma:fractal -seed 5 -depth 8 "$work/tall.ppm" 2>/dev/null || cp "$work/plasma.ppm" "$work/tall.ppm"
convert "$work/tall.ppm" -compress none "$work/tall.tif"
tiffcp -c jpeg -r 16 "$work/tall.tif" "$work/i.tif"; seed tif "$work/i.tif" jpeg_strips.tif
tiffcp -c zip -t -w 16 -l 16 "$work/tall.tif" "$work/j.tif"; seed tif "$work/j.tif" deflate_tiles.tif
convert "$work/plasma.ppm" -define tiff:tile-geometry=16x16 "$work/h.tif"; seed tif "$work/h.tif" tiled.tif
convert "$work/grey.pgm" -depth 16 -endian MSB "$work/i.tif"; seed tif "$work/i.tif" grey16be.tif
convert "$work/plasma.ppm" -colorspace Lab -compress none "$work/lab.tif"; seed tif "$work/lab.tif" lab.tif
# Scan-archive codings and BigTIFF, written by libtiff's tiffcp.
convert "$work/plasma.ppm" -monochrome "$work/bw.pbm"; convert "$work/bw.pbm" -compress none "$work/bw.tif"
tiffcp -c lzw "$work/a.tif" "$work/j.tif"; seed tif "$work/j.tif" lzw.tif
tiffcp -c lzw:2 -r 4 "$work/a.tif" "$work/k.tif"; seed tif "$work/k.tif" lzw_pred.tif
tiffcp -c g4 "$work/bw.tif" "$work/l.tif"; seed tif "$work/l.tif" g4.tif
tiffcp -c g3:2d:fill -f lsb2msb "$work/bw.tif" "$work/m.tif"; seed tif "$work/m.tif" g3_2d.tif
tiffcp -8 -c lzw:2 "$work/a.tif" "$work/n.tif"; seed tif "$work/n.tif" bigtiff_lzw.tif
tiffcp -8 -B -c g4 "$work/bw.tif" "$work/o.tif"; seed tif "$work/o.tif" bigtiff_be_g4.tif
# The codings GIS tools write today (tiffcp, gdal_translate) and 12-bit grey;
# PW_FUZZ_SEEDS='zstd_*' (lzma_*, webp_*) directs fuzz/run.sh at one of them.
convert "$work/grey.pgm" -compress none "$work/g8.tif"
convert "$work/rgba.png" -compress none "$work/rgba.tif"
gdal_translate -q -ot UInt16 -scale 0 255 0 4095 -co NBITS=12 "$work/grey.pgm" "$work/g12.tif"
seed tif "$work/g12.tif" grey12.tif
for c in zstd lzma; do
  tiffcp -c $c:2 -r 4 "$work/a.tif" "$work/p.tif"; seed tif "$work/p.tif" ${c}_rgb_pred.tif
  tiffcp -c $c:2 "$work/rgba.tif" "$work/p.tif"; seed tif "$work/p.tif" ${c}_rgba_pred.tif
  tiffcp -B -c $c -t -w 16 -l 16 "$work/g8.tif" "$work/p.tif"; seed tif "$work/p.tif" ${c}_grey_be_tiled.tif
  tiffcp -B -c $c:2 "$work/i.tif" "$work/p.tif"; seed tif "$work/p.tif" ${c}_grey16be_pred.tif
  tiffcp -c $c -r 4 "$work/g12.tif" "$work/p.tif"; seed tif "$work/p.tif" ${c}_grey12.tif
done
tiffcp -c webp -r 4 "$work/a.tif" "$work/p.tif"; seed tif "$work/p.tif" webp_rgb.tif
tiffcp -B -c webp:p100 -t -w 16 -l 16 "$work/rgba.tif" "$work/p.tif"; seed tif "$work/p.tif" webp_rgba_lossless_be_tiled.tif
gdal_translate -q -co COMPRESS=WEBP -co WEBP_LOSSLESS=YES "$work/a.tif" "$work/p.tif"; seed tif "$work/p.tif" webp_rgb_lossless.tif
gdal_translate -q -co COMPRESS=WEBP -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 "$work/rgba.tif" "$work/p.tif"
seed tif "$work/p.tif" webp_rgba_tiled.tif

# EPS with a TIFF preview: the binary header, a tiny PostScript part and the TIFF.
/usr/bin/python3 - "$work/a.tif" "$work/a.eps" <<'PY'
import struct, sys
tiff = open(sys.argv[1], 'rb').read()
ps = b"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 13 9\nshowpage\n"
header_size = 30
open(sys.argv[2], 'wb').write(struct.pack('<IIIIIIIH', 0xC6D3D0C5, header_size, len(ps), 0, 0,
                                          header_size + len(ps), len(tiff), 0xFFFF) + ps + tiff)
PY
seed eps "$work/a.eps" preview.eps

# PNG; the wide one is unfiltered by several threads in stripes.
convert "$work/plasma.ppm" "$work/a.png"; seed png "$work/a.png" rgb.png
convert -size 1100x4 gradient:white-black -depth 8 "$work/wide.png"; seed png "$work/wide.png" grey-wide.png
convert "$work/plasma.ppm" -interlace PNG "$work/b.png"; seed png "$work/b.png" adam7.png
seed png "$work/pal16.png" palette.png
seed png "$work/rgba.png" rgba.png
convert "$work/grey.pgm" -depth 16 "$work/c.png"; seed png "$work/c.png" grey16.png
convert "$work/plasma.ppm" -monochrome "$work/d.png"; seed png "$work/d.png" mono.png
# PIL keeps zlib's 32 KB window, which plain images need to be inflated whole.
/usr/bin/python3 -c 'import sys; from PIL import Image; im = Image.open(sys.argv[1]); im.save(sys.argv[2]); im.convert("L").save(sys.argv[3])' \
  "$work/plasma.ppm" "$work/e.png" "$work/f.png"
seed png "$work/e.png" rgb-window32k.png
seed png "$work/f.png" grey-window32k.png

# Targa, PCX, Photoshop, SGI and portable any-maps from ImageMagick and netpbm.
convert "$work/plasma.ppm" "$work/a.tga"; seed tga "$work/a.tga" rgb24.tga
convert "$work/plasma.ppm" -compress RLE "$work/b.tga"; seed tga "$work/b.tga" rgb24_rle.tga
convert "$work/pal16.png" -type palette -compress RLE "$work/c.tga"; seed tga "$work/c.tga" pal8_rle.tga
convert "$work/grey.pgm" "$work/d.tga"; seed tga "$work/d.tga" grey8.tga
ppmtopcx -24bit "$work/plasma.ppm" > "$work/a.pcx" 2>/dev/null; seed pcx "$work/a.pcx" rgb24.pcx
convert "$work/pal16.png" -type palette "$work/b.pcx"; seed pcx "$work/b.pcx" pal8.pcx
pnmquant 16 "$work/plasma.ppm" 2>/dev/null | ppmtopcx -planes 4 > "$work/c.pcx" 2>/dev/null; seed pcx "$work/c.pcx" planes4.pcx
convert "$work/plasma.ppm" -monochrome "$work/d.pcx"; seed pcx "$work/d.pcx" mono.pcx
convert "$work/plasma.ppm" "$work/a.psd"; seed psd "$work/a.psd" rgb.psd
convert "$work/plasma.ppm" -compress RLE "$work/b.psd"; seed psd "$work/b.psd" rgb_rle.psd
convert "$work/grey.pgm" -depth 16 "$work/c.psd"; seed psd "$work/c.psd" grey16.psd
convert "$work/pal16.png" -type palette "$work/d.psd"; seed psd "$work/d.psd" palette.psd
convert "$work/plasma.ppm" -colorspace cmyk "$work/e.psd"; seed psd "$work/e.psd" cmyk.psd
# L*a*b* planes, 8 and 16 bits: RGB files with the colour mode (header byte 25)
# set to 9, whose channels then read as L*, a* and b*.
convert "$work/plasma.ppm" "$work/f.psd"; convert "$work/plasma.ppm" -depth 16 "$work/g.psd"
for f in f g; do
  /usr/bin/python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[25] = 9; open(sys.argv[1], "wb").write(b)' "$work/$f.psd"
done
seed psd "$work/f.psd" lab.psd; seed psd "$work/g.psd" lab16.psd
convert "$work/plasma.ppm" -compress none "$work/a.sgi"; seed sgi "$work/a.sgi" rgb.sgi
convert "$work/plasma.ppm" -compress RLE "$work/b.sgi"; seed sgi "$work/b.sgi" rgb_rle.sgi
convert "$work/grey.pgm" -depth 16 -compress RLE "$work/c.sgi"; seed sgi "$work/c.sgi" grey16_rle.sgi
convert "$work/rgba.png" "$work/d.sgi"; seed sgi "$work/d.sgi" rgba.sgi
seed ppm "$work/plasma.ppm" raw.ppm
pnmtoplainpnm "$work/grey.pgm" > "$work/a.pgm"; seed ppm "$work/a.pgm" plain.pgm
pgmtopbm "$work/grey.pgm" > "$work/a.pbm" 2>/dev/null; seed ppm "$work/a.pbm" raw.pbm
pnmtoplainpnm "$work/a.pbm" > "$work/b.pbm"; seed ppm "$work/b.pbm" plain.pbm
convert "$work/grey.pgm" -depth 16 "$work/b.pgm"; seed ppm "$work/b.pgm" raw16.pgm
printf 'P3\n# comment\n2 1 255\n255 0 0  0 0 255\n' > corpus/ppm/plain.ppm
# JPEG 2000: boxed files and bare codestreams, one tile and several, lossless
# and lossy, 8 and 16 bits, with alpha.
convert "$work/rgba.png" "$work/rgba.pam"
opj_compress -i "$work/plasma.ppm" -o "$work/a.jp2" -n 3 >/dev/null; seed jp2 "$work/a.jp2" rgb.jp2
opj_compress -i "$work/b.pgm" -o "$work/b.jp2" -t 8,8 -n 2 -r 4 >/dev/null; seed jp2 "$work/b.jp2" grey16_tiled.jp2
opj_compress -i "$work/rgba.pam" -o "$work/c.jp2" -n 2 >/dev/null; seed jp2 "$work/c.jp2" rgba.jp2
opj_compress -i "$work/plasma.ppm" -o "$work/a.j2k" -t 8,4 -n 2 -I -r 10 -p RPCL >/dev/null; seed j2k "$work/a.j2k" tiled_lossy.j2k
opj_compress -i "$work/grey.pgm" -o "$work/b.j2k" -c [8,8] -b 4,4 -n 3 >/dev/null; seed j2k "$work/b.j2k" grey_precincts.j2k
# Photo-CD image packs are large (the base image alone is 768 x 512); the
# overview file from the seed writer stands for the format.

# Formats no installed tool writes: hand-built by the seed writer.
g++ -std=c++20 -O1 -I.. make_seeds.cpp -lz -o "$work/make_seeds"
"$work/make_seeds" corpus

# Decoder families: the first bytes choose width, rows and scheme (see decoder_fuzzer.cpp).
mkdir -p corpus/run_length corpus/ccitt corpus/deflate corpus/thunder corpus/lzw corpus/ccitt_g4
printf '\x10\x00\x04\x00\xfd\x41\x02\x01\x02\x03\x80\xff\x07' > corpus/run_length/packbits
printf '\x10\x00\x04\x01\x02\x83\x01\x02\x03\x01\x05\x06' > corpus/run_length/targa
printf '\x10\x00\x04\x02\xc5\x07\x08\xc1\xc1' > corpus/run_length/pcx
printf '\x10\x00\x04\x03\x00\x83\x01\x02\x03\x05\x09\x00' > corpus/run_length/sgi
printf '\x10\x00\x04\x04\x83\x01\x02\x03\x85\x09\x00' > corpus/run_length/cut
/usr/bin/python3 - <<'PY'
import zlib
open('corpus/deflate/stream', 'wb').write(b'\x40\x00\x04\x00' + zlib.compress(bytes(range(64)) * 4))
open('corpus/ccitt/white_rows', 'wb').write(b'\x0d\x00\x04\x00\x00' + bytes([0x00, 0x01, 0x98, 0x00, 0x19, 0x80]))
open('corpus/thunder/deltas', 'wb').write(b'\x10\x00\x04\x00' + bytes([0x0f, 0x41, 0x83, 0xc5, 0x00, 0x12]))
PY
# LZW and two-dimensional fax seeds: the first strip of the TIFF seeds above.
/usr/bin/python3 - corpus/tif <<'PY'
import struct, sys
from PIL import Image
def strip(name):
    im = Image.open(sys.argv[1] + '/' + name)
    offset, count = im.tag_v2[273][0], im.tag_v2[279][0]
    data = open(sys.argv[1] + '/' + name, 'rb').read()[offset:offset + count]
    return struct.pack('<HB', im.size[0] * (3 if im.mode == 'RGB' else 1) - 1, 15), data
for name, out, head in [('lzw.tif', 'lzw/rgb', b'\x00'), ('lzw_pred.tif', 'lzw/rgb_predictor', b'\x00'),
                        ('g4.tif', 'ccitt_g4/g4', b'\x00\x00'), ('g3_2d.tif', 'ccitt_g4/g3_2d_lsb', b'\x03\x01')]:
    size, data = strip(name)
    open('corpus/' + out, 'wb').write(size + head + data)
PY
echo "corpora written to fuzz/corpus/"
