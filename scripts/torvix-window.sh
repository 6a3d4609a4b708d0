#!/usr/bin/env bash
# Starts TORVIX's window against the receiver emulator: the emulator plays a
# receiver on a temporary pseudo-terminal with a channel list of a realistic
# size (from channel-list-sample), and COM1 and COM2 both lead there,
# so whichever port is chosen in "Communication Setup" reaches it.  Options
# are passed to the emulator, e.g. --paced for real transfer times.  The
# emulator's log goes to the terminal; closing the window ends both.  The
# channel editor started from the window's context menu reaches it too.
#
#   bash scripts/torvix-window.sh [--paced] [--hardware TEXT] ...
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target torvix torvix-channels receiver-emulator channel-list-sample

work=$(mktemp -d)
emulator=""
cleanup() {
  [ -n "$emulator" ] && kill "$emulator" 2>/dev/null && wait "$emulator" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

build/release/torvix/channels/channel-list-sample --layout kvrs --satellites 12 --transponders 200 \
  --services 1500 --antennas 8 --seed 2026 --image "$work/database.img"
build/release/emulator/receiver-emulator link "$work/receiver" --database "$work/database.img" "$@" &
emulator=$!
for _ in $(seq 100); do
  [ -e "$work/receiver" ] && break
  sleep 0.05
done
[ -e "$work/receiver" ] || { echo "the receiver emulator did not start" >&2; exit 1; }

# "Edit Channel List…" on the window's context menu finds the editor on the PATH.
PATH="$PWD/build/release/torvix/channels/app:$PATH" \
  COM1="$work/receiver" COM2="$work/receiver" build/release/torvix/app/torvix
