#!/bin/sh
# Screenshots of the workbench for the README, taken from an X server of its
# own (Xvfb) with settings of their own: the sample map with both control
# points picked and their map coordinates typed, at fit and at 1:1
# (docs/workbench-fit.png, docs/workbench-1-1.png); nine points clicked a
# pixel or two off the sample's grid crossings and snapped, fitted affinely,
# with the points table (docs/workbench-points-fit.png); and a click beside
# a crossing snapped, with the magnifier at 8 times over it
# (docs/magnifier-snap.png); the same nine points with their residual
# vectors drawn over the picture (docs/workbench-residuals.png). Usage: scripts/screenshots.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target workbench_probe -j2
mkdir -p "$root/docs"
settings=$(mktemp -d)
trap 'rm -rf "$settings"' EXIT
probe() {
    timeout 300 xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$settings" \
        "$build/bin/workbench_probe" "$root/samples/sample_map.bmp" "$@"
}
probe --shot "$root/docs/workbench.png" --size 700,520 --points 100,100,500,400 --level Fit --level 1:1
probe --shot "$root/docs/workbench-points.png" --size 1000,790 --load-points "$root/samples/sample_map_9.points" \
    --transform affine --snap-points --level Fit
probe --snap-shot "$root/docs/magnifier-snap.png" --size 700,520 --click 302,198
probe --shot "$root/docs/workbench-residuals.png" --size 1000,790 --load-points "$root/samples/sample_map_9.points" \
    --transform affine --snap-points --level Fit
mv "$root/docs/workbench-residuals-fit.png" "$root/docs/workbench-residuals.png"
