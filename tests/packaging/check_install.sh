#!/usr/bin/env bash
# Installs into a scratch DESTDIR and builds the Debian package, then checks
# both: the installed files, the installed pinwright-cli finding the installed
# converters, the desktop entry, the metainfo, the manual pages, the help
# manual, the package's fields, contents and lintian's verdict.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
same() { # what expected actual
  if [ "$2" != "$3" ]; then fail "$1"; diff <(echo "$2") <(echo "$3") | sed 's/^/    /'; fi
}

expected_files=$(sort <<'LIST'
usr/bin/pinwright
usr/bin/pinwright-cli
usr/libexec/pinwright/bmp2tiff
usr/libexec/pinwright/jpg2bmp
usr/share/applications/org.pinwright.Pinwright.desktop
usr/share/doc/pinwright/changelog.gz
usr/share/doc/pinwright/copyright
usr/share/icons/hicolor/128x128/apps/org.pinwright.Pinwright.png
usr/share/icons/hicolor/16x16/apps/org.pinwright.Pinwright.png
usr/share/icons/hicolor/24x24/apps/org.pinwright.Pinwright.png
usr/share/icons/hicolor/256x256/apps/org.pinwright.Pinwright.png
usr/share/icons/hicolor/32x32/apps/org.pinwright.Pinwright.png
usr/share/icons/hicolor/48x48/apps/org.pinwright.Pinwright.png
usr/share/icons/hicolor/64x64/apps/org.pinwright.Pinwright.png
usr/share/icons/hicolor/scalable/apps/org.pinwright.Pinwright.svg
usr/share/man/man1/pinwright-cli.1.gz
usr/share/man/man1/pinwright.1.gz
usr/share/metainfo/org.pinwright.Pinwright.metainfo.xml
usr/share/pinwright/pinwright.html
usr/share/pinwright/workbench-points-fit.png
LIST
)

# --- install ---------------------------------------------------------------
root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
same "installed files" "$expected_files" "$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)"

for size in 16 24 32 48 64 128 256; do
  same "icon ${size}x${size}" "${size}x${size}" \
    "$(identify -format '%wx%h' "$root/usr/share/icons/hicolor/${size}x${size}/apps/org.pinwright.Pinwright.png")"
done

# The installed CLI on the sample: no converter in the current folder, none
# beside the program, none on PATH (only geotifcp is there), so bmp2tiff and
# jpg2bmp can come only from the installed converter folder. The result must
# be the build tree's, byte for byte.
mkdir -p "$work/path" "$work/installed" "$work/built"
ln -s "$(command -v geotifcp)" "$work/path/geotifcp"
georef=(georef "$source/samples/sample_map.jpg" --p1 100,100 --p2 500,400
        --points "$source/samples/sample_map_points.txt" --out sheet.tif)
(cd "$work/installed" && PATH=$work/path "$root/usr/bin/pinwright-cli" "${georef[@]}" >/dev/null 2>"$work/err") ||
  fail "installed pinwright-cli georef: $(cat "$work/err")"
(cd "$work/built" && "$build/bin/pinwright-cli" "${georef[@]}" >/dev/null 2>&1) || fail "built pinwright-cli georef"
same "installed georef outputs" "sheet.tfw sheet.tif" "$(cd "$work/installed" && echo *)"
for f in sheet.tif sheet.tfw; do
  cmp -s "$work/installed/$f" "$work/built/$f" || fail "installed $f differs from the build tree's"
done
same "installed --version" "pinwright-cli 1.3" "$("$root/usr/bin/pinwright-cli" --version)"

# The workbench finds its manual in the installed data folder (its help trace says so).
(cd "$work" && QT_QPA_PLATFORM=offscreen timeout 5 "$root/usr/bin/pinwright" -debug >/dev/null 2>&1)
same "help manual found" "LoadHtmlHelp: manual /usr/share/pinwright/pinwright.html found" \
  "$(grep -o 'LoadHtmlHelp: manual .*' "$root/usr/bin/HHDebug.txt" 2>/dev/null | sed "s|$root||")"
rm -f "$root/usr/bin/HHDebug.txt"

desktop-file-validate "$root/usr/share/applications/org.pinwright.Pinwright.desktop" >"$work/out" 2>&1 ||
  fail "desktop-file-validate: $(cat "$work/out")"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.pinwright.Pinwright.metainfo.xml" >"$work/out" 2>&1 ||
  fail "appstreamcli validate: $(cat "$work/out")"
for page in pinwright pinwright-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  same "man -l $page.1 warnings" "" "$warnings"
done

# `man pinwright-cli` lists every command of `pinwright-cli --help`, each with
# every option its own --help names, in that command's part of the page.
cli=$root/usr/bin/pinwright-cli
page=$(LC_ALL=C.UTF-8 MANWIDTH=200 MANPATH=$root/usr/share/man man --nh --nj pinwright-cli 2>&1)
commands=$("$cli" --help | sed -n '/^Commands:$/,/^$/s/^  \([a-z][a-z0-9-]*\) .*/\1/p')
[ -n "$commands" ] || fail "no commands found in pinwright-cli --help"
for option in $("$cli" --help | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u); do
  grep -qF -- "$option" <<<"$page" || fail "man pinwright-cli lacks $option"
done
for command in $commands; do
  help=$("$cli" "$command" --help) || fail "pinwright-cli $command --help exits with status $?"
  part=$(awk -v heading="   The $command command:" '$0 == heading { on = 1; next } on && /^ {0,3}[^ ]/ { exit } on' <<<"$page")
  [ -n "$part" ] || fail "man pinwright-cli lacks the $command command"
  for option in $(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
    grep -qF -- "$option" <<<"$part" || fail "man pinwright-cli lacks $option of the $command command"
  done
done

# --- package ---------------------------------------------------------------
start=$(date +%s)
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pkg/pinwright_*.deb)
echo "package built in $(( $(date +%s) - start )) s: $(basename "$deb")"
same "package contents" "$expected_files" \
  "$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort)"
same "package name" "pinwright" "$(dpkg-deb --field "$deb" Package)"
depends=$(dpkg-deb --field "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort -u | tr '\n' ' ')
for needed in geotiff-bin libc6 libjpeg62-turbo libpng16-16 libqt6core6 libqt6gui6 libqt6widgets6 libstdc++6 \
              libproj25 libtiff6 zlib1g; do
  case " $depends" in *" $needed "*) ;; *) fail "Depends lacks $needed: $depends" ;; esac
done
same "package recommends" "gdal-bin" "$(dpkg-deb --field "$deb" Recommends)"
same "package section" "science" "$(dpkg-deb --field "$deb" Section)"

start=$(date +%s)
lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
echo "lintian took $(( $(date +%s) - start )) s"
grep -q '^E: ' "$work/lintian" && fail "lintian errors: $(grep '^E: ' "$work/lintian")"
sed 's/^/lintian: /' "$work/lintian"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install and package checks passed"
