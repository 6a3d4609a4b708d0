#!/usr/bin/env bash
# Screenshots of the windows for the README, taken as a person would see
# them: the program runs on a virtual X display (Xvfb) against the receiver
# emulator, keys are typed with xdotool, and ImageMagick's import grabs the
# window.  Writes docs/screenshots/*.png.  Needs a build in build/release
# (bash scripts/test.sh or scripts/demo.sh make one).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
shots=docs/screenshots

# Installs the Debian packages named when their command is missing.
need() {
  local command=$1
  shift
  command -v "$command" >/dev/null && return 0
  local sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "$@"
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
shoot_updater() {
  need xvfb-run xvfb xauth
  need import imagemagick
  need xdotool xdotool
  local work
  work=$(mktemp -d)
  make_wsw "$work/Q5100.wsw" 120 2000
  "$build/emulator/receiver-emulator" updater --role update "$work/receiver" --paced --sessions 1 \
    >"$work/emulator.log" 2>&1 &
  local emulator=$!
  for _ in $(seq 50); do [ -e "$work/receiver" ] && break; sleep 0.1; done
  mkdir -p "$shots"
  COM1="$work/receiver" xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    set -euo pipefail
    "$1" "$2" &
    app=$!
    window=$(xdotool search --sync --name "Q5100 Updater" | head -1)
    xdotool windowfocus --sync "$window" key Return
    sleep 6   # about a third of the records have gone out
    import -window "$window" "$3"
    kill "$app"
    wait "$app" 2>/dev/null || true
  ' shoot "$build/updater/app/updater" "$work/Q5100.wsw" "$shots/updater.png"
  kill "$emulator" 2>/dev/null || true
  wait "$emulator" 2>/dev/null || true
  rm -rf "$work"
  echo "$shots/updater.png"
}

main() {
  shoot_updater
}

main "$@"
