#!/usr/bin/env bash
# The main job: installs what is missing, builds, and shows TORVIX at work
# against the receiver emulator on a pseudo-terminal, which holds a channel
# list of a realistic size (from channel-list-sample): connect, read the
# receiver's database as a factory-data text, write it back as factory data,
# and upgrade the receiver's software from a 2 MiB ROM image; then Updater:
# send a settings file, receive one, and update the software from a .wsw file.
# Every one of these operations is recorded in a service history in the
# demo's own folder; the demo ends by showing it with both command lines and
# checking the hashes it recorded against sha256sum.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --parallel "$(nproc)"

cli=./build/release/torvix/cli/torvix-cli
emulator=./build/release/emulator/receiver-emulator
updater=./build/release/updater/cli/updater-cli
sample=./build/release/torvix/channels/channel-list-sample
work=$(mktemp -d)
emulator_pid=
cleanup() {
  if [ -n "$emulator_pid" ]; then kill "$emulator_pid" 2>/dev/null || true; wait "$emulator_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# The demo's operations go into a history of its own, not the user's.
export RT_HISTORY="$work/history.sqlite"

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

step "channel-list-sample: the receiver's channel list (KVRS: 12 satellites, 200 transponders, 1500 services, 8 antennas)"
"$sample" --layout kvrs --satellites 12 --transponders 200 --services 1500 --antennas 8 --seed 2026 \
  --image "$work/receiver-database.img"

step "receiver-emulator: a receiver (hardware 0503) at $work/receiver"
"$emulator" link "$work/receiver" --database "$work/receiver-database.img" \
  --store-software "$work/received-software.bin" \
  --store-factory "$work/received-factory.img" >"$work/emulator.log" 2>&1 &
emulator_pid=$!
wait_for "$work/receiver"

step "torvix-cli connect"
"$cli" connect --device "$work/receiver"

step "torvix-cli read-user-data (the database comes at 19200 bit/s)"
"$cli" read-user-data "$work/factory_data.txt" --device "$work/receiver"
grep -v '^#' "$work/factory_data.txt" | grep -v '^\s*$' | sed -n '1,24p'
echo "... ($(grep -c '^ *[svrta] ' "$work/factory_data.txt") record lines in all)"

step "torvix-cli diff: the text read back is the receiver's list"
"$cli" diff "$work/factory_data.txt" "$work/receiver-database.img" &&
  echo "No differences between the read-back text and the receiver's database image."

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
"$cli" upgrade --mode 1 "$rom" --device "$work/receiver" --unit DEMO-0001
wait_for_log "software received"

step "what the emulator saw"
cat "$work/emulator.log"
kill "$emulator_pid"
wait "$emulator_pid" 2>/dev/null || true
emulator_pid=

# Runs one Updater session: the emulator in the given role, then updater-cli.
updater_session() {
  local role=$1
  shift
  rm -f "$work/updater"
  "$emulator" updater "$work/updater" --role "$role" --store "$work/stored" --sessions 1 \
    >"$work/updater-emulator.log" 2>&1 &
  emulator_pid=$!
  wait_for "$work/updater"
  "$updater" "$@" --device "$work/updater"
  wait "$emulator_pid"
  emulator_pid=
  cat "$work/updater-emulator.log"
}
mkdir -p "$work/stored"

step "updater-cli send: a 300001-byte settings file"
# Random settings, but never beginning with 55 AA, which marks a software file.
{ printf 'W'; head -c 300000 /dev/urandom; } >"$work/settings.wdb"
updater_session send send "$work/settings.wdb"
cmp -n 300001 "$work/settings.wdb" "$work/stored/settings-1.wdb" &&
  echo "The receiver stored the settings file byte for byte (then zero fill to whole blocks)."

step "updater-cli receive: the receiver's settings into a file"
updater_session receive receive "$work/received.wdb"
ls -l "$work/received.wdb"

step "updater-cli update: software from a .wsw file of two records"
{
  printf '\125\252\0\0\0\0\0\0\0\0\0\2\0\0\0\0'        # header: 0x55 0xAA, 2 records
  printf '\132\132\0\0\1\2\3\4\0\0\20\0'                  # record 0: 4096 bytes
  head -c 4100 /dev/urandom
  printf '\132\132\0\1\1\2\3\4\0\0\3\350'                 # record 1: 1000 bytes
  head -c 1004 /dev/urandom
} >"$work/software.wsw"
updater_session update update "$work/software.wsw" --unit DEMO-0001
cmp "$work/software.wsw" "$work/stored/software-1.wsw" &&
  echo "The receiver got the software file unchanged."

step "the service history's file hashes against sha256sum"
rows=$("$cli" history --limit 0 --json | grep -c '"id":')
if [ "$rows" -ne 7 ]; then
  echo "demo: the history holds $rows operations, not the 7 this demo ran" >&2
  exit 1
fi
# Every file of this demo is named without commas: the CSV's fields need no unquoting.
checked=0
while IFS=, read -r file sha; do
  [ -n "$file" ] || continue
  actual=$(sha256sum "$file" | cut -d' ' -f1)
  if [ "$actual" != "$sha" ]; then
    echo "demo: $file: the history says $sha, sha256sum $actual" >&2
    exit 1
  fi
  echo "$sha  $file"
  checked=$((checked + 1))
done < <("$cli" history --result ok --csv | awk -F, 'NR > 1 { print $14 "," $16 }')
echo "sha256sum agrees with the history on all $checked files of the 7 operations."

step "torvix-cli history (the history file: $RT_HISTORY)"
"$cli" history

step "updater-cli history --unit DEMO-0001 (the same file: both programs' rows)"
"$updater" history --unit DEMO-0001

step "updater-cli history"
"$updater" history
