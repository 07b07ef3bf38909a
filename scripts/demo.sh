#!/usr/bin/env bash
# The headless demo: georeferences the sample map into out/ with the same
# code as the workbench's Save, shows the world file and the GeoTIFF's tags,
# and says how to start the workbench. run.sh calls it when there is no
# display; it expects the Release build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

cli=build/bin/pinwright-cli
if [ ! -x "$cli" ]; then
  echo "Build first: cmake -S . -B build -G Ninja && cmake --build build" >&2
  exit 1
fi
mkdir -p out

echo "== The sample: samples/sample_map.bmp, a synthetic scanned map (640 x 480)"
echo "   control points: P1 at column 100, row 100; P2 at column 500, row 400"
echo "   their map coordinates (samples/sample_map_points.txt: number, Y, X):"
sed 's/^/     /' samples/sample_map_points.txt | tr -d '\r'
echo

echo "== pinwright-cli georef ... --out out/sample_map.tif  (target type \"TIFF + TFW\")"
"$cli" georef samples/sample_map.bmp --p1 100,100 --p2 500,400 \
  --points samples/sample_map_points.txt --out out/sample_map.tif >/dev/null
echo "-- out/sample_map.tfw:"
tr -d '\r' < out/sample_map.tfw
echo
if command -v listgeo >/dev/null; then
  echo "-- listgeo out/sample_map.tif:"
  listgeo out/sample_map.tif 2>/dev/null
  echo
fi

echo "== The JPEG of the same map, target type \"JGW\" (world file only):"
"$cli" georef samples/sample_map.jpg --p1 100,100 --p2 500,400 \
  --map 3501000,5404000,3505000,5401000 --out out/sample_map.jgw >/dev/null
echo "-- out/sample_map.jgw:"
tr -d '\r' < out/sample_map.jgw
echo

echo "== A click a few pixels off P1 snapped to the grid crossing under it:"
echo "   pinwright-cli snap samples/sample_map.bmp 103,98   (column row sigma kind)"
"$cli" snap samples/sample_map.bmp 103,98 | sed 's/^/     /'
echo

echo "== Nine points fitted affine, one of them a check point (samples/sample_map_9.points):"
"$cli" georef samples/sample_map.bmp --points samples/sample_map_9.points --transform affine \
  --out out/sample_map_9.tif 2>&1 >/dev/null | sed 's/^/   /'
echo

echo "== Made in out/:"
ls -l out/sample_map.tif out/sample_map.tfw out/sample_map.jgw out/sample_map_9.tif out/sample_map_9.tfw
echo
cat <<'EOF'
== The workbench
On a desktop start it with:          build/bin/pinwright
Without a display, under Xvfb:       xvfb-run -a build/bin/pinwright
Then: Open samples/sample_map.bmp, click P1 and then P2 on the map, load
samples/sample_map_points.txt with the notepad button, and Save as
"TIFF + TFW" or "JGW". Points shows the points table; with Snap on, a click
near a grid crossing lands on it.
EOF
