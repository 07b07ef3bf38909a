#!/bin/sh
# Makes the Targa fixtures that PIL (Debian python3-pil) writes or reads and
# the other writers do not: 16-bit grey (grey plus alpha, image types 3 and
# 11) as PIL writes it, and pixels stored right to left (descriptor bit 4)
# for every image type with and without run-length coding. PIL does not
# write right to left: its file of the mirrored image gets the bit set, and
# PIL's reading of that file (which honours the bit) is the reference.
#
#   sh tests/data/targa/make_pil.sh
#
# Appends nothing: the lines for cases.txt are listed at the end.
set -eu
cd "$(dirname "$0")"
exec /usr/bin/python3 - <<'PYEOF'
from PIL import Image, ImageOps

W, H = 21, 13
rgb = Image.new("RGB", (W, H))
rgb.putdata([((x * 12) % 256, (y * 19 + x) % 256, (x * y * 7) % 256) if y % 3 else (200, 30 + y, 7)
             for y in range(H) for x in range(W)])
grey = rgb.convert("L")
alpha = Image.new("L", (W, H))
alpha.putdata([1 + (i * 37) % 255 for i in range(W * H)])
grey_alpha = Image.merge("LA", (grey, alpha))
pal = rgb.quantize(16)

def reference(name, im):
    im.convert("RGB").save(name)

for name, im in (("pil_gray16", grey_alpha),):
    for rle in (False, True):
        file = name + ("_rle" if rle else "") + ".tga"
        im.save(file, compression="tga_rle" if rle else None)
        reference("pil_ref_gray16.ppm", Image.open(file))
        print(file, "pil_ref_gray16.ppm")

for name, im in (("pal8", pal), ("rgb24", rgb), ("gray8", grey), ("gray16", grey_alpha)):
    for rle in (False, True):
        for top_down in (False, True):
            file = "pil_rtl_%s%s%s.tga" % (name, "_rle" if rle else "", "_topdown" if top_down else "")
            ImageOps.mirror(im).save(file, compression="tga_rle" if rle else None,
                                     orientation=1 if top_down else -1)
            data = bytearray(open(file, "rb").read())
            data[17] |= 0x10
            open(file, "wb").write(data)
            ref = "pil_ref_%s.ppm" % name
            reference(ref, Image.open(file))
            print(file, ref)
PYEOF
