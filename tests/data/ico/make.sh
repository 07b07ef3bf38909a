#!/bin/sh
# Makes the icon fixtures with netpbm (ppmtowinicon, pamtowinicon) from small
# images written by the Python below. Each icon decodes to the RGBA source
# named in the tests' table: alpha 0 where the icon is transparent, 255 where
# it is opaque (1/4/8-bit icons through their AND mask), the alpha channel
# itself for 32-bit icons.
set -e
cd "$(dirname "$0")"

python3 - <<'PY'
def pam(name, w, h, pixel):
    data = bytearray()
    for y in range(h):
        for x in range(w):
            data += bytes(pixel(x, y))
    head = b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, h)
    open(name, "wb").write(head + data)

def ppm_and_mask(stem, w, h, pixel, opaque):
    data = bytearray()
    mask = bytearray()
    for y in range(h):
        for x in range(w):
            data += bytes(pixel(x, y))
            mask.append(255 if opaque(x, y) else 0)
    open(stem + ".ppm", "wb").write(b"P6\n%d %d\n255\n" % (w, h) + data)
    open(stem + "_mask.pgm", "wb").write(b"P5\n%d %d\n255\n" % (w, h) + mask)
    pam(stem + ".pam", w, h, lambda x, y: pixel(x, y) + ((255,) if opaque(x, y) else (0,)))

ppm_and_mask("mono", 16, 16, lambda x, y: (255, 0, 0) if (x // 3 + y // 2) % 2 else (0, 0, 80),
             lambda x, y: (x * y) % 7 != 3)
ppm_and_mask("pal256", 32, 32, lambda x, y: ((x % 16) * 17, (y % 8) * 36, 100 if x < 16 else 180),
             lambda x, y: x + y > 6)
# 15 colours and a 0/255 alpha channel: pamtowinicon writes 4 bits per pixel
pam("pal16.pam", 16, 16, lambda x, y: ((x % 4) * 85, (y % 4) * 85, 40, 0 if (x + y) % 5 == 0 else 255))
pam("argb.pam", 24, 24, lambda x, y: (x * 10, y * 10, 100, (x * y * 7) % 256))
pam("small.pam", 16, 16, lambda x, y: (200, x * 15, y * 15, 255))
pam("wide.pam", 48, 8, lambda x, y: (x * 5, 90, y * 30, 255))
PY

ppmtowinicon -andpgms mono.ppm mono_mask.pgm > mono_1.ico
ppmtowinicon -andpgms pal256.ppm pal256_mask.pgm > pal_8.ico
pamtowinicon pal16.pam > pal_4.ico
pamtowinicon argb.pam > argb_32.ico
# the largest image is the 24 x 24 one, between a smaller and a flatter one
cat small.pam argb.pam wide.pam | pamtowinicon > multi.ico
pamtowinicon -pngthreshold=16 argb.pam > png.ico
rm -f mono.ppm mono_mask.pgm pal256.ppm pal256_mask.pgm small.pam wide.pam
