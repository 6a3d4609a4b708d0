#!/usr/bin/env bash
# The whole test run: installs what is missing, then builds and runs the suite
# twice, once as a normal build and once under AddressSanitizer and
# UndefinedBehaviorSanitizer (halting on the first error), and then runs every
# fuzz target for a few seconds (a clang build of the readers and the
# targets only).  ThreadSanitizer has its own script, scripts/tsan.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

jobs=$(nproc)
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export QT_QPA_PLATFORM=offscreen

run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs"
  ctest --test-dir "$dir" --output-on-failure --parallel "$jobs" --timeout 300
}

echo "== normal build =="
# Line tables only (-g1): file and line in a backtrace, at a fraction of the
# build time of full debugging information.
run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DRT_WERROR=ON
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DRT_SANITIZE=ON -DRT_WERROR=ON
echo "== fuzz targets, a short run each =="
cmake -S . -B build/fuzz -G Ninja -DRT_FUZZ=ON -DRT_WERROR=ON -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build/fuzz --target fuzzers --parallel "$jobs"
ctest --test-dir build/fuzz -L fuzz --output-on-failure --parallel "$jobs" --timeout 120
