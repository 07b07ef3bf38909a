#!/usr/bin/env bash
# Long fuzzing campaign for one target: fuzz/run.sh TARGET SECONDS [RUNS]
# (stops after SECONDS or after RUNS executions, whichever comes first).
# Builds the libFuzzer programs with clang-14 (ASan+UBSan, no recovery) in
# build-fuzz/, then fuzzes TARGET with its seed corpus and dictionary. New
# inputs go to build-fuzz/corpus/TARGET; crashes to build-fuzz/crashes/TARGET
# (copy each into fuzz/regressions/TARGET/ once it is fixed).
# PW_FUZZ_WIDEST=avx2 or sse4 fuzzes the vector forms of processors without
# AVX-512 or without AVX2.
# PW_FUZZ_SEEDS=PATTERN starts from the seeds whose names match only (for
# instance 'zstd_*' of the tif target), so that the campaign stays with that
# kind of file; its inputs go to build-fuzz/corpus/TARGET-PATTERN.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz/run.sh TARGET SECONDS [RUNS]}
seconds=${2:?usage: fuzz/run.sh TARGET SECONDS [RUNS]}
runs=${3:--1}

flags="-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_FUZZ=ON -DPW_BUILD_GUI=OFF \
  -DPW_BUILD_BENCH=OFF -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build build-fuzz --target "fuzz_$target"

seeds="fuzz/corpus/$target"
corpus="build-fuzz/corpus/$target"
if [ -n "${PW_FUZZ_SEEDS:-}" ]; then
  kind=${PW_FUZZ_SEEDS//[^A-Za-z0-9]/}
  seeds="build-fuzz/seeds/$target-$kind"
  corpus="build-fuzz/corpus/$target-$kind"
  rm -rf "$seeds"
  mkdir -p "$seeds"
  find "fuzz/corpus/$target" -maxdepth 1 -type f -name "$PW_FUZZ_SEEDS" -exec cp {} "$seeds/" \;
  [ -n "$(ls -A "$seeds")" ] || { echo "no seeds match $PW_FUZZ_SEEDS" >&2; exit 2; }
fi
mkdir -p "$corpus" "build-fuzz/crashes/$target"
dict=()
[ -f "fuzz/dict/$target.dict" ] && dict=(-dict="fuzz/dict/$target.dict")
exec build-fuzz/fuzz/"fuzz_$target" "$corpus" "$seeds" \
  "${dict[@]}" -max_total_time="$seconds" -runs="$runs" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
  -artifact_prefix="build-fuzz/crashes/$target/" -print_final_stats=1
