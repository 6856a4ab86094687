#!/usr/bin/env bash
# Drives the real window under a private X server and session bus, as a screen reader would,
# and checks the copied plan against the command line's plan for the same items.
# usage: window_e2e.sh QUILLET_PROGRAM PICTURES_DIR
# Exit 77 (skipped) only when there is no X server to run; any other missing tool fails.
set -euo pipefail

program=${1:?usage: window_e2e.sh QUILLET_PROGRAM PICTURES_DIR}
pictures=${2:?usage: window_e2e.sh QUILLET_PROGRAM PICTURES_DIR}
[[ -x "$program" ]] || { echo "window e2e: no program at $program" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v Xvfb >/dev/null; then
  echo "window e2e: skipped, Xvfb is not installed (scripts/setup installs it)"
  exit 77
fi
missing=()
for tool in dbus-run-session xclip xdotool import; do command -v "$tool" >/dev/null || missing+=("$tool"); done
[[ -x /usr/libexec/at-spi-bus-launcher ]] || missing+=(at-spi-bus-launcher)
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || missing+=(python3-pyatspi)
((${#missing[@]} == 0)) || { echo "window e2e: missing ${missing[*]}; run scripts/setup" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-e2e.XXXXXX")
xvfb_pid="" session_pid=""
# Everything this script started goes, with its process group, on every way out.
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  for file in "$work"/*.pgid; do
    [[ -s "$file" ]] && kill -KILL -- "-$(cat "$file")" 2>/dev/null || true
  done
  [[ -n "$session_pid" ]] && kill -KILL -- "-$session_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill -TERM "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The fixture home: two projects under a suggested project folder and package caches.
home="$work/home"
fill() { mkdir -p "$(dirname "$1")" && head -c "$2" /dev/zero | tr '\0' 'q' >"$1"; }
mkdir -p "$home/projects/site" "$home/projects/engine/src"
echo '{"name": "site"}' >"$home/projects/site/package.json"
fill "$home/projects/site/node_modules/left-pad/index.js" 300000
fill "$home/projects/site/node_modules/.package-lock.json" 4000
printf '[package]\nname = "engine"\n' >"$home/projects/engine/Cargo.toml"
fill "$home/projects/engine/target/debug/engine" 900000
fill "$home/.npm/_cacache/content-v2/sha512/aa" 50000
fill "$home/.cache/yarn/v6/npm-left-pad" 120000

mkdir -p "$pictures" && rm -f "$pictures"/*.png

# A server on a display number of its own choosing, so parallel runs never collide.
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s "$work/display" ]] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "window e2e: Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
[[ -s "$work/display" ]] || { echo "window e2e: Xvfb gave no display within 10 s" >&2; exit 1; }
display=":$(head -n1 "$work/display")"

# A clean environment: the program and the command line must see the same home and no
# desktop settings of whoever runs the test.
setsid env -i PATH="$PATH" HOME="$home" DISPLAY="$display" LANG=C.UTF-8 LC_ALL=C.UTF-8 \
  TMPDIR="$work" XDG_RUNTIME_DIR="$work" \
  QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  dbus-run-session -- /usr/bin/python3 "$here/window_e2e.py" \
    --program "$program" --home "$home" --pictures "$pictures" --work "$work" &
session_pid=$!
wait "$session_pid"
