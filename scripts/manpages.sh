#!/usr/bin/env bash
# Re-creates the manual pages of the three command lines,
# packaging/man/<program>.1, with help2man from what the programs say:
# `<program> --help`, `<program> --version` and `<program> <command> --help`
# for every command, plus the hand-written sections in
# packaging/man/<program>.h2m.  Run it after a command or an option changes:
# the packaging tests fail while a page lists other commands or options than
# --help does, or another version.
#
#   bash scripts/manpages.sh                   builds the programs in build/release
#   BUILD=build/other bash scripts/manpages.sh
#
# The pages of the windows, torvix.1, torvix-channels.1 and updater.1, are
# written by hand.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build/release}
man=packaging/man
declare -A binaries=(
  [torvix-cli]=torvix/cli/torvix-cli
  [updater-cli]=updater/cli/updater-cli
  [receiver-emulator]=emulator/receiver-emulator
)

if ! command -v help2man >/dev/null; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends help2man
fi
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target "${!binaries[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The parts of a CLI11 help text: the description above "Usage:", the usage,
# the entries of a section ("Options:", "Positionals:", "Subcommands:") and
# the footer after the sections.
help_part() {
  local part=$1 section=${2:-}
  awk -v part="$part" -v section="$section" '
    state == "" && /^Usage: / { state = "sections"; if (part == "usage") print substr($0, 8); next }
    state == "" { if (part == "description") print; next }
    state == "footer" { if (part == "footer") print; next }
    /^[A-Z][A-Za-z ]*:$/ { current = $0; next }
    /^$/ { current = ""; next }
    current == "" && /^[^ ]/ { state = "footer"; if (part == "footer") print; next }
    current == section ":" && part == "entries" { print }
  '
}

# A CLI11 help text of one command as a roff subsection: its description,
# one tagged paragraph per argument and option, and its footer unless it
# repeats the program's own ($2).  CLI11 pads an entry's name to 30 columns
# and starts the description there, or on the next line, indented as far,
# when the name is longer; continuation lines are indented as far too.  A
# name of exactly 28 characters followed by a description of several lines
# is the one layout this reading gets wrong.
command_roff() {
  local name=$1 omit_footer=$2 help=$3
  printf '.SS %s\n' "$name"
  help_part description <<<"$help" | escape
  { help_part entries Positionals <<<"$help"; help_part entries Options <<<"$help"; } | awk '
    function esc(s,   n, parts, i, out) {
      gsub(/\\/, "\\e", s)
      gsub(/-/, "\\-", s)
      n = split(s, parts, "\n")
      for (i = 1; i <= n; i++) out = out (i > 1 ? "\n" : "") (parts[i] ~ /^[.\047]/ ? "\\&" : "") parts[i]
      return out
    }
    function flush(   words, first, rest, n, names, i) {
      if (tag == "") return
      split(tag, words, " ")
      first = words[1]
      rest = substr(tag, length(first) + 1)
      if (first ~ /^-/) {
        n = split(first, names, ",")
        first = ""
        for (i = 1; i <= n; i++) first = first (i > 1 ? "," : "") "\\fB" esc(names[i]) "\\fR"
      } else {
        first = "\\fI" esc(first) "\\fR"
      }
      print ".TP"
      print first esc(rest)
      if (text != "") print esc(text)
      tag = ""; text = ""
    }
    { lines[++count] = $0 }
    END {
      for (i = 1; i <= count; i++) {
        line = lines[i]
        if (line ~ /^  [^ ]/) {
          flush()
          short = length(line) > 30 && substr(line, 30, 1) == " " && substr(line, 31, 1) != " "
          if (short && substr(line, 29, 1) != " " && lines[i + 1] ~ /^                              /) short = 0
          if (short) { tag = substr(line, 3, 28); text = substr(line, 31) }
          else { tag = substr(line, 3); text = "" }
          sub(/ +$/, "", tag)
        } else {
          sub(/^ +/, "", line)
          text = (text == "" ? line : text "\n" line)
        }
      }
      flush()
    }
  '
  local footer
  footer=$(help_part footer <<<"$help")
  if [ -n "$footer" ] && [ "$footer" != "$omit_footer" ]; then
    printf '.PP\n'
    escape <<<"$footer"
  fi
}

escape() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }

for program in "${!binaries[@]}"; do
  binary=$build/${binaries[$program]}
  say() { (exec -a "$program" "$binary" "$@"); }
  top=$(say --help)
  mapfile -t commands < <(help_part entries Subcommands <<<"$top" | awk '/^  [^ ]/ { print $1 }')
  top_footer=$(help_part footer <<<"$top")

  # What help2man reads as the program's --help: one usage line per
  # command, the program's description and footer, its own options.
  {
    separator="Usage:"
    for command in "${commands[@]}"; do
      printf '%s %s\n' "$separator" "$(say "$command" --help | help_part usage)"
      separator="  or: "
    done
    printf '%s\n' "$separator $program --version"
    echo
    help_part description <<<"$top"
    echo
    [ -n "$top_footer" ] && printf '%s\n\n' "$top_footer"
    echo "Options:"
    help_part entries Options <<<"$top"
  } >"$work/$program.help"
  {
    echo "[COMMANDS]"
    for command in "${commands[@]}"; do
      command_roff "$command" "$top_footer" "$(say "$command" --help)"
    done
  } >"$work/$program.commands.h2m"
  cat >"$work/$program" <<EOF
#!/bin/bash
case "\$1" in
  --version) exec -a "$program" "$PWD/$binary" --version ;;
  *) cat "$work/$program.help" ;;
esac
EOF
  chmod +x "$work/$program"

  # The page's date is that of the last commit, so that pages made again from
  # unchanged sources are the same.
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s) \
    help2man --no-info --section=1 --include="$work/$program.commands.h2m" --include="$man/$program.h2m" \
    --output="$man/$program.1" "$work/$program"
  echo "$man/$program.1"
done
