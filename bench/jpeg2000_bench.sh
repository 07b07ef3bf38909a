#!/usr/bin/env bash
# Decodes a JPEG 2000 file in full with pinwright-cli check, opj_decompress
# and GDAL (gdalinfo -checksum reads every pixel), each on 1 and 2 threads,
# RUNS times, and prints one line per run: tool, threads, wall, user and
# system seconds, peak resident kB. Take the minimum of each.
#   bench/jpeg2000_bench.sh FILE.jp2 [CLI] [RUNS]
set -euo pipefail
file=$1
cli=${2:-build/bin/pinwright-cli}
runs=${3:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for ((run = 1; run <= runs; ++run)); do
  for threads in 1 2; do
    /usr/bin/time -f "ours $threads %e %U %S %M" env PINWRIGHT_THREADS=$threads "$cli" check "$file" >/dev/null
    /usr/bin/time -f "opj_decompress $threads %e %U %S %M" \
      opj_decompress -threads $threads -i "$file" -o "$out/x.raw" >/dev/null
    rm -f "$out/x.raw"
    /usr/bin/time -f "gdal $threads %e %U %S %M" env GDAL_NUM_THREADS=$threads gdalinfo -checksum "$file" >/dev/null
  done
done
