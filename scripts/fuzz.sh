#!/usr/bin/env bash
# Runs one fuzz target for longer than the test run does:
#   bash scripts/fuzz.sh TARGET SECONDS
# TARGET is one of fuzz/corpus/*; FUZZ_RUNS=N also stops after N executions,
# FUZZ_JOBS=N (default 1) runs N processes.  Builds build/fuzz (clang,
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) when needed.
# New inputs collect in build/fuzz/fuzz-work/TARGET; a crashing input is
# written there too (crash-*): fix what it shows and copy it into
# fuzz/corpus/TARGET as a regression.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 2 ]; then
  echo "usage: bash scripts/fuzz.sh TARGET SECONDS   (targets: $(ls fuzz/corpus | tr '\n' ' '))" >&2
  exit 2
fi
target=$1
seconds=$2
if [ ! -d "fuzz/corpus/$target" ]; then
  echo "no fuzz target $target (targets: $(ls fuzz/corpus | tr '\n' ' '))" >&2
  exit 2
fi

bash scripts/deps.sh
cmake -S . -B build/fuzz -G Ninja -DRT_FUZZ=ON -DRT_WERROR=ON -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build/fuzz --target "$target"

work=build/fuzz/fuzz-work/$target
mkdir -p "$work"
options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/")
[ -n "${FUZZ_RUNS:-}" ] && options+=(-runs="$FUZZ_RUNS")
[ "$target" = database_writer ] && options+=(-max_len=131072)
jobs=${FUZZ_JOBS:-1}
[ "$jobs" -gt 1 ] && options+=(-jobs="$jobs" -workers="$jobs")
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
exec "build/fuzz/fuzz/$target" "${options[@]}" "$work" "fuzz/corpus/$target"
