#!/usr/bin/env bash
# Installs what is missing, builds Release and starts the workbench. Without a
# display it runs the headless demo instead.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
pw_install_missing

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/pinwright "$@"
fi
if [ -x scripts/demo.sh ]; then
  exec scripts/demo.sh
fi
echo "No display found. Start the workbench on a desktop with: build/bin/pinwright"
echo "or under a virtual display with: xvfb-run -a build/bin/pinwright"
