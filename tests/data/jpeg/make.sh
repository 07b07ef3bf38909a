#!/bin/sh
# Remakes the JPEG fixtures of tests/imaging/jpeg_image_test.cpp and
# tests/tools/jpeg_cli_test.cpp with independent tools: ImageMagick makes the
# source picture, cjpeg (libjpeg-turbo-progs) and ImageMagick encode it.
# The tests compare our decoding with djpeg's of the same files at run time.
set -eu
cd "$(dirname "$0")"
IM=$(command -v convert-im6.q16 || command -v convert)

# 61 x 37: neither side a multiple of the 16-pixel MCU.
"$IM" -seed 7 -size 61x37 plasma:fractal -depth 8 source.ppm

cjpeg -quality 85 -sample 2x2 source.ppm > baseline420.jpg
cjpeg -quality 85 -sample 1x1 source.ppm > baseline444.jpg
cjpeg -quality 85 -progressive source.ppm > progressive.jpg
cjpeg -quality 85 -restart 1 source.ppm > restart.jpg
cjpeg -quality 85 -grayscale source.ppm > gray.jpg
"$IM" source.ppm -quality 90 imagemagick.jpg
"$IM" source.ppm -quality 95 -colorspace CMYK cmyk.jpg
# Cut in the middle of the entropy-coded data.
head -c 900 baseline420.jpg > truncated.jpg
: > empty.jpg

# JPEG-compressed TIFF strips (libtiff's tiffcp, 16 rows per strip, the last
# strip 5 rows): YCbCr 2x2, RGB stored as is, and grey. ImageMagick's reading
# of each through libtiff is kept beside it as a second opinion.
"$IM" source.ppm -compress none strips_source.tif
"$IM" source.ppm -colorspace gray -compress none strips_gray_source.tif
tiffcp -c jpeg -r 16 strips_source.tif strips_ycbcr.tif
tiffcp -c jpeg:r -r 16 strips_source.tif strips_rgb.tif
tiffcp -c jpeg -r 16 strips_gray_source.tif strips_gray.tif
rm strips_source.tif strips_gray_source.tif
for f in strips_ycbcr strips_rgb; do "$IM" $f.tif -depth 8 $f.ppm; done
"$IM" strips_gray.tif -depth 8 pgm:strips_gray.pgm
