#!/usr/bin/env bash
# Makes the metafile fixtures from the SVG drawings beside this script with
# Inkscape 1.2.2 (Debian 12). Text stays text (font and text records, not
# outlines) through a private Inkscape profile. The tests rasterise the same
# SVGs with rsvg-convert and compare.
set -euo pipefail
cd "$(dirname "$0")"
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
cat > "$profile/preferences.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<inkscape version="1">
  <group id="extensions"
     org.inkscape.output.emf.textToPath="false"
     org.inkscape.output.wmf.textToPath="false" />
</inkscape>
XML
for drawing in shapes text image; do
  for type in wmf emf; do
    INKSCAPE_PROFILE_DIR="$profile" inkscape --export-type=$type --export-filename=$drawing.$type $drawing.svg
  done
done
