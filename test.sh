#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest: the
# Release build, then the hostile-input tests under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
pw_install_missing

jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs")

# The library, its readers and decoders once more under ASan and UBSan, with
# every fuzz corpus and kept crash input replayed (no GUI needed there).
sanitized="platform_tests color_tests compression_tests imaging_tests reader_tests metafile_tests"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Sanitize -DPW_BUILD_GUI=OFF -DPW_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize --target $sanitized fuzz_all
(cd build-sanitize && ctest --output-on-failure -j "$jobs" -L "${sanitized// /|}|fuzz_replay")
