#!/usr/bin/env bash
# Draws the guide's pictures from the running program, so they can be made again whenever the
# windows change: build/orvanetuner (the RelWithDebInfo tree) in English on the virtual card, with
# fresh settings, under Xvfb with Openbox as the window manager. Each picture is cropped to its
# windows, frames included. Usage: bash tools/screenshots.sh [folder]  (default docs/screenshots)
set -euo pipefail
SELF=$(realpath "$0")
cd "$(dirname "$SELF")/.."
BIN=${ORVANE_BIN:-$PWD/build/orvanetuner}
DEST=$(realpath -m "${1:-docs/screenshots}")

if [ -z "${SHOTS_INNER:-}" ]; then
  [ -x "$BIN" ] || { echo "No $BIN: build it first (./run, or cmake --build build)." >&2; exit 1; }
  command -v openbox >/dev/null || { echo "No openbox: run tools/deps.sh as root." >&2; exit 1; }
  mkdir -p "$DEST"
  SHOTS_INNER=1 exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$SELF" "$DEST"
fi

# A home folder whose name reads well in the capture dialog.
export ORVANE_CONFIG_DIR=$(mktemp -d) XDG_RUNTIME_DIR=$(mktemp -d) HOME=$(mktemp -d /tmp/home-XXXX)
export ORVANE_DEVICES=virtual ORVANE_MIXER=virtual LC_ALL=C.UTF-8 LANG=C.UTF-8
chmod 700 "$XDG_RUNTIME_DIR"
PID=0 WM=0 LOG=$(mktemp)
cleanup() {
  [ "$PID" -ne 0 ] && kill "$PID" 2>/dev/null
  [ "$WM" -ne 0 ] && kill "$WM" 2>/dev/null
  rm -rf "$ORVANE_CONFIG_DIR" "$XDG_RUNTIME_DIR" "$HOME" "$LOG"
}
trap cleanup EXIT
die() { echo "screenshots: $*" >&2; cat "$LOG" >&2; import -window root "$DEST/failed.png" 2>/dev/null || true; exit 1; }

# The client window with exactly this title, or nothing.
window_id() { xdotool search --onlyvisible --name "^$(sed 's/[][()*.+?^$|\\]/\\&/g' <<<"$1")\$" 2>/dev/null | head -1; }
wait_id() {  # title
  local id
  for _ in $(seq 50); do
    id=$(window_id "$1")
    [ -n "$id" ] && { sleep 0.4; echo "$id"; return 0; }
    sleep 0.1
  done
  die "no window \"$1\""
}
# A window's place on the screen: "x y width height" (xwininfo's: xdotool's counts the frame twice).
place() {  # id
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF} END {print x, y, w, h}'
}
# The same with the frame Openbox draws around it: "x0 y0 x1 y1".
framed() {  # id
  local x y w h l=0 r=0 t=0 b=0 ext
  read -r x y w h <<<"$(place "$1")"
  ext=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')
  [ -n "$ext" ] && IFS=, read -r l r t b <<<"$ext"
  echo "$((x - l)) $((y - t)) $((x + w + r)) $((y + h + b))"
}
# Saves the smallest rectangle that holds all the given windows, as a small PNG.
shot() {  # name id...
  local name=$1 x0=99999 y0=99999 x1=0 y1=0 a b c d
  shift
  for id in "$@"; do
    read -r a b c d <<<"$(framed "$id")"
    ((a < x0)) && x0=$a; ((b < y0)) && y0=$b; ((c > x1)) && x1=$c; ((d > y1)) && y1=$d
  done
  ((x0 < 0)) && x0=0; ((y0 < 0)) && y0=0
  import -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage -strip \
    -define png:compression-level=9 "$DEST/$name.png"
  echo "$DEST/$name.png: $((x1 - x0))x$((y1 - y0))"
}
click_at() { xdotool mousemove --sync "$1" "$2" click "${3:-1}"; sleep 0.5; }

openbox >/dev/null 2>&1 &
WM=$!
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done
LC_ALL= LANG=en_US.UTF-8 "$BIN" >"$LOG" 2>&1 &
PID=$!
PANEL=$(wait_id "Panel Window")
VIDEO=$(wait_id "Orvane Tuner( WIN2000 )")
sleep 1

# The picture at the top of the screen with the panel below it, as a user would place them.
xdotool windowmove --sync "$VIDEO" 192 0 2>/dev/null || true
xdotool windowmove --sync "$PANEL" 237 488 2>/dev/null || true
sleep 0.5
read -r PX PY _ <<<"$(place "$PANEL")"
# Video input (Composite) as for a VCR: keypad / twice from TV, through Cable TV.
xdotool windowactivate --sync "$PANEL" 2>/dev/null || true
xdotool key KP_Divide; sleep 0.3; xdotool key KP_Divide; sleep 0.5
# The panel with its lid shut, as it starts, and opened by a double-click on the lid.
shot panel-closed "$PANEL"
xdotool mousemove --sync $((PX + 259)) $((PY + 130)) click --repeat 2 --delay 120 1
xdotool mousemove --sync $((PX + 200)) $((PY + 60))  # no tooltip over the lid's buttons
sleep 0.6
shot panel-open "$PANEL"

# The settings sheet from the panel's Settings button ("CFG"): its Devices page, then the Recording
# page with the lossless format chosen (Tab from the tabs into the list, two down) and kept by Enter.
click_at $((PX + 388)) $((PY + 133))
SHEET=$(wait_id "Settings")
tab() {  # x from the sheet's left edge
  local SX SY
  read -r SX SY _ <<<"$(place "$SHEET")"
  click_at $((SX + $1)) $((SY + 20))
}
tab 336
shot devices "$SHEET"
tab 418
xdotool key Tab Down Down; sleep 0.5
shot record-format "$SHEET"
xdotool key Return; sleep 0.6

# The Capture button opens the capture settings: the moment a recording starts.
xdotool windowactivate --sync "$PANEL" 2>/dev/null || true
click_at $((PX + 358)) $((PY + 133))
DLG=$(wait_id "Capture Settings")
# Over the picture rather than the panel, so the panel's buttons and its lit CAP show.
xdotool windowmove --sync "$DLG" 296 60 2>/dev/null || true
sleep 0.5
shot recording "$PANEL" "$VIDEO" "$DLG"
xdotool key Escape; sleep 0.5

xdotool windowactivate --sync "$PANEL" 2>/dev/null || true
xdotool key alt+KP_Add
wait "$PID" || die "the program did not end cleanly"
PID=0
