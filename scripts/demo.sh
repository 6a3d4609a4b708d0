#!/usr/bin/env bash
# The main job: installs what is missing, builds, and shows TORVIX at work
# against the receiver emulator on a pseudo-terminal: connect, read the
# receiver's database as a factory-data text, write it back as factory data,
# and upgrade the receiver's software from a 2 MiB ROM image.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --parallel "$(nproc)"

cli=./build/release/torvix/cli/torvix-cli
emulator=./build/release/emulator/receiver-emulator
work=$(mktemp -d)
emulator_pid=
cleanup() {
  if [ -n "$emulator_pid" ]; then kill "$emulator_pid" 2>/dev/null || true; wait "$emulator_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to five seconds for a path to appear.
wait_for() {
  for _ in $(seq 50); do [ -e "$1" ] && return 0; sleep 0.1; done
  echo "demo: $1 did not appear" >&2
  return 1
}

# Waits up to five seconds for the emulator to log a line with this text.
wait_for_log() {
  for _ in $(seq 50); do grep -q "$1" "$work/emulator.log" && return 0; sleep 0.1; done
  echo "demo: the emulator did not report '$1'" >&2
  return 1
}

step() { printf '\n=== %s\n' "$*"; }

step "receiver-emulator: a receiver (hardware 0503) at $work/receiver"
"$emulator" link "$work/receiver" --store-software "$work/received-software.bin" \
  --store-factory "$work/received-factory.img" >"$work/emulator.log" 2>&1 &
emulator_pid=$!
wait_for "$work/receiver"

step "torvix-cli connect"
"$cli" connect --device "$work/receiver"

step "torvix-cli read-user-data (the database comes at 19200 bit/s)"
"$cli" read-user-data "$work/factory_data.txt" --device "$work/receiver"
grep -v '^#' "$work/factory_data.txt" | grep -v '^\s*$'

step "torvix-cli write-factory-data (the receiver needs 1 s after each of 64 blocks: about 66 s)"
"$cli" write-factory-data "$work/factory_data.txt" --device "$work/receiver"
"$cli" compile "$work/factory_data.txt" "$work/compiled.img"
wait_for_log "factory data received"
cmp "$work/compiled.img" "$work/received-factory.img" &&
  echo "The receiver got exactly what 'torvix-cli compile' makes of the text."

step "torvix-cli upgrade --mode 1 (software, keeping the channel list) with a 2 MiB ROM image"
rom="$work/rom.bin"
printf 'Kalmer VELOX Series ****T**** ROM image.' >"$rom"   # hardware code 0 of this variant: 503
head -c $((2 * 1024 * 1024 - 40)) /dev/zero >>"$rom"
printf '\007' | dd of="$rom" bs=1 seek=$((0x1F0066)) conv=notrunc status=none  # partial upgrades allowed
"$cli" upgrade --mode 1 "$rom" --device "$work/receiver"
wait_for_log "software received"

step "what the emulator saw"
cat "$work/emulator.log"
