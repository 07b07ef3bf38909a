#!/bin/sh
# Makes zl_rgb8_trailing.png with Python's zlib: the pixels of ref_rgb8.pam as
# 8-bit RGB, every row unfiltered, in one IDAT chunk whose compressed stream
# is followed by four more bytes, as some writers leave them. Other decoders
# ignore those bytes; the image is complete.
#
#   sh tests/data/png/make_trailing.sh
set -eu
cd "$(dirname "$0")"
exec /usr/bin/python3 - <<'PYEOF'
import struct, zlib

data = open("ref_rgb8.pam", "rb").read()
header, pixels = data.split(b"ENDHDR\n", 1)
fields = dict(line.split(b" ", 1) for line in header.split(b"\n")[1:] if b" " in line)
w, h, depth = int(fields[b"WIDTH"]), int(fields[b"HEIGHT"]), int(fields[b"DEPTH"])
assert depth == 4
rows = b"".join(b"\0" + bytes(b for i in range(w) for b in pixels[(y * w + i) * 4:(y * w + i) * 4 + 3])
                for y in range(h))

def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows, 9) + b"\x00\x01\x02\x03") + chunk(b"IEND", b""))
open("zl_rgb8_trailing.png", "wb").write(png)
PYEOF
