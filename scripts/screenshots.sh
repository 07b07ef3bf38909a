#!/bin/sh
# Screenshots of the workbench for the README, taken from an X server of its
# own (Xvfb): the sample map with both control points picked and their map
# coordinates typed, at fit and at 1:1. Writes docs/workbench-fit.png and
# docs/workbench-1-1.png. Usage: scripts/screenshots.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target workbench_probe -j2
mkdir -p "$root/docs"
xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb \
    "$build/bin/workbench_probe" "$root/samples/sample_map.bmp" \
    --shot "$root/docs/workbench.png" --size 700,520 --points 100,100,500,400 --level Fit --level 1:1
