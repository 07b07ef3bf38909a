#!/usr/bin/env bash
# The decoding threads under ThreadSanitizer: builds the thread pool's, the
# decoders' and the readers' tests with -fsanitize=thread in build-tsan/ and
# runs them on two and on three threads, so that every multi-strip TIFF and
# every striped PNG of the tests goes through the threaded paths. A race or
# a lock-order problem stops the run with TSan's report. About ten minutes
# on two cores; not a stage of ./test.sh, whose time it would add to.
set -euo pipefail
cd "$(dirname "$0")/.."
flags="-O1 -g -fno-omit-frame-pointer -fsanitize=thread"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_BUILD_GUI=OFF -DPW_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
programs="platform_tests compression_tests reader_tests"
cmake --build build-tsan --target $programs
for threads in 2 3; do
  for program in $programs; do
    echo "== $program, $threads threads"
    PINWRIGHT_THREADS=$threads TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
      build-tsan/bin/"$program" --gtest_brief=1
  done
done
