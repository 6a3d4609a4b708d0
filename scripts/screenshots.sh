#!/usr/bin/env bash
# Screenshots of the programs' windows for the README, taken on a virtual X
# display (Xvfb) with the windows driven from the keyboard (xdotool) against
# the receiver emulator.  One function per program (<program>_shots), each
# writing its PNGs to the output folder.
#
#   bash scripts/screenshots.sh                 every program, into docs/screenshots
#   bash scripts/screenshots.sh torvix          one program (torvix, channels, updater)
#   SCALE=2 OUT=/tmp/shots bash scripts/screenshots.sh    at 200 %, elsewhere
set -euo pipefail
cd "$(dirname "$0")/.."

programs=("$@")
[ ${#programs[@]} -eq 0 ] && programs=(torvix channels updater)

if [ -z "${SCREENSHOTS_ON_XVFB:-}" ]; then
  bash scripts/deps.sh
  tools=(xvfb xauth imagemagick xdotool)
  missing=()
  for p in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
  fi
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/release --target torvix torvix-channels channel-list-sample updater receiver-emulator
  exec env SCREENSHOTS_ON_XVFB=1 xvfb-run -a -s "-screen 0 1600x1200x24" bash "$0" "${programs[@]}"
fi

out=${OUT:-docs/screenshots}
scale=${SCALE:-1}
mkdir -p "$out"
work=$(mktemp -d)
started=()
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The id of the visible window titled exactly $1, once there is one.
window() { xdotool search --sync --onlyvisible --name "^$1\$" | head -1; }
# Gives window $1 the keyboard and presses the keys that follow.
keys() {
  local id=$1
  shift
  xdotool windowfocus --sync "$id"
  xdotool key "$@"
}
# Waits until no visible window is titled $1.
gone() { while xdotool search --onlyvisible --name "^$1\$" >/dev/null; do sleep 0.1; done; }
shot() {
  import -window "$1" "$out/$2"
  echo "$out/$2"
}
# Waits until path $1 exists (a program's pseudo-terminal).
appears() {
  for _ in $(seq 100); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  echo "$1 did not appear" >&2
  return 1
}

# TORVIX: the main window after a connect, and the progress window during a
# database download (paced, so that it stays on screen).
torvix_shots() {
  local dir=$work/torvix
  mkdir -p "$dir/config/KALMER"
  printf '[General]\nPort=1\n' >"$dir/config/KALMER/TORVIX.conf"
  build/release/emulator/receiver-emulator link "$dir/receiver" --paced >"$dir/emulator.log" 2>&1 &
  started+=($!)
  appears "$dir/receiver"
  XDG_CONFIG_HOME="$dir/config" COM1="$dir/receiver" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" \
    build/release/torvix/app/torvix >"$dir/torvix.log" 2>&1 &
  started+=($!)

  local main
  main=$(window 'MeridLink - 4.0')
  keys "$main" alt+s                              # Setup Comm
  keys "$(window 'Communication Setup')" Return   # OK: connect
  sleep 2                                         # the connect and its half second of full bar
  gone 'Connect to the receiver'
  shot "$main" torvix-main.png

  keys "$main" alt+r                              # Read User Data
  keys "$(window TORVIX)" Return                  # the receiver is on
  keys "$(window 'Save As')" ctrl+a
  xdotool type "$dir/factory_data.txt"
  xdotool key Return
  local progress
  progress=$(window 'Read User Data')
  sleep 5                                         # a few blocks at 19200 bit/s
  shot "$progress" torvix-progress.png
  keys "$progress" Escape                         # Cancel
  gone 'Read User Data'
  keys "$main" alt+e                              # Exit MeridLink
}

# The channel editor on a realistic KVRS list (channel-list-sample), the
# services of the second satellite shown.
channels_shots() {
  local dir=$work/channels
  mkdir -p "$dir/config"
  build/release/torvix/channels/channel-list-sample --layout kvrs --satellites 8 --transponders 160 \
    --services 900 --antennas 8 --seed 3 "$dir/factory_data.txt"
  XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" \
    build/release/torvix/channels/app/torvix-channels "$dir/factory_data.txt" >"$dir/channels.log" 2>&1 &
  local app=$!
  started+=($app)
  local main
  main=$(window 'factory_data.txt - TORVIX Channel Editor')
  xdotool windowsize --sync "$main" 1280 800
  keys "$main" alt+a Down                         # the satellites table: the second satellite
  keys "$main" alt+w Down                         # Show: services of the selected satellite
  sleep 1
  shot "$main" torvix-channels.png
  kill "$app" 2>/dev/null || true
}

# Prints bytes given as numbers 0..255.
bytes() {
  local b
  for b in "$@"; do printf "\\x$(printf %02x "$b")"; done
}

# A software file: header 55 AA with the record count, then `count` records
# of `length` payload bytes each.
make_wsw() {
  local file=$1 count=$2 length=$3 i
  {
    bytes 0x55 0xAA 1 2 3 4 5 6 7 8 $((count >> 8)) $((count & 255)) 0 0 0 0
    for ((i = 0; i < count; i++)); do
      bytes 0x5A 0x5A $((i >> 8)) $((i & 255)) 9 9 9 9 0 0 $((length >> 8)) $((length & 255))
      head -c $((length + 4)) /dev/urandom
    done
  } >"$file"
}

# Updater during a software update: the emulator takes the update at the
# line's real pace while the window shows the records going out.
updater_shots() {
  local dir=$work/updater
  mkdir -p "$dir"
  make_wsw "$dir/Q5100.wsw" 120 2000
  build/release/emulator/receiver-emulator updater --role update "$dir/receiver" --paced --sessions 1 \
    >"$dir/emulator.log" 2>&1 &
  started+=($!)
  appears "$dir/receiver"
  COM1="$dir/receiver" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" \
    build/release/updater/app/updater "$dir/Q5100.wsw" >"$dir/updater.log" 2>&1 &
  local app=$!
  started+=($app)
  local main
  main=$(window 'Q5100 Updater 1.00')
  keys "$main" Return                             # start the update
  sleep 6                                         # about a third of the records have gone out
  shot "$main" updater.png
  kill "$app" 2>/dev/null || true
}

for program in "${programs[@]}"; do
  "${program}_shots"
done
