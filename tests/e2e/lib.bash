# Shared by the end-to-end scripts: a virtual X server with fresh settings and home folders, and a
# user's looks and moves. A script sources this, defines run(), and ends with `e2e_main "$@"`.
set -euo pipefail
E2E_SCRIPT=$(realpath "$0")
cd "$(dirname "$0")/../.."
BIN=${ORVANE_BIN:-$PWD/build/orvanetuner}
OUT=${ORVANE_E2E_OUT:-$PWD/build/e2e}/$(basename "$0" .sh)
mkdir -p "$OUT"
if [ "${1:-}" = "--inner" ]; then
  export ORVANE_CONFIG_DIR=$(mktemp -d) XDG_RUNTIME_DIR=$(mktemp -d) HOME=$(mktemp -d)
  export ORVANE_DEVICES=virtual ORVANE_MIXER=virtual LANG=C.UTF-8 LC_ALL=C.UTF-8
  chmod 700 "$XDG_RUNTIME_DIR"
  trap 'rm -rf "$ORVANE_CONFIG_DIR" "$XDG_RUNTIME_DIR" "$HOME"' EXIT
fi
PID=0 PANEL="" PX=0 PY=0 VX=0 VY=0
VIDEO_TITLE="Orvane Tuner( WIN2000 )" PANEL_TITLE="판넬 윈도"

# Stops the script with a screenshot of the moment and the program killed.
fail() { echo "FAIL: $*"; snap fail; [ "$PID" -ne 0 ] && kill -9 "$PID" 2>/dev/null || true; exit 1; }
snap() { import -window root "$OUT/$1.png" 2>/dev/null || true; }

# Starts the program in Korean, its output in $OUT/<log>.log; its pid in PID.
start_program() { LC_ALL= LANG=ko_KR.UTF-8 "$BIN" >"$OUT/${1:-run}.log" 2>&1 & PID=$!; }  # log
# Starts it and waits for both windows: the panel's id in PANEL, the windows' places in PX PY, VX VY.
start_and_wait() {
  start_program "$@"
  local w
  w=$(wait_window "$PANEL_TITLE") || fail "no window \"$PANEL_TITLE\""
  read -r PANEL PX PY _ _ <<<"$w"
  w=$(wait_window "$VIDEO_TITLE") || fail "no window \"$VIDEO_TITLE\""
  read -r _ VX VY _ _ <<<"$w"
}
expect_exit() { local rc=0; wait "$PID" || rc=$?; PID=0; [ $rc -eq 0 ] || fail "$1: exit code $rc"; }  # what
saved() {  # pattern what: a line the program saved in its settings
  grep -q "$1" "$ORVANE_CONFIG_DIR/registry.reg" || fail "$2 not saved: $(cat "$ORVANE_CONFIG_DIR/registry.reg")"
}

# The top-level window with exactly this title: "id x y w h" (x and y on the screen, whatever frame a
# window manager put around it), or nothing.
window() {
  xwininfo -root -tree | grep "\"$1\"" | head -1 |
    sed -E 's/^ *(0x[0-9a-f]+) .* ([0-9]+)x([0-9]+)[-+]-?[0-9]+[-+]-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*$/\1 \4 \5 \2 \3/'
}
wait_window() {  # title [tenths of a second]
  local w=""
  for _ in $(seq "${2:-50}"); do
    w=$(window "$1")
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
# Whether a window with this title is mapped (a closed dialog's may linger unmapped a while).
shown() {
  local id
  for id in $(xwininfo -root -tree | grep "\"$1\"" | awk '{print $1}'); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && return 0
  done
  return 1
}
answer() {  # title [tenths of a second]: Enter on that window, as a user answers a box
  local w
  w=$(wait_window "$@") || fail "no window \"$1\""
  xdotool windowfocus --sync "${w%% *}" 2>/dev/null || true
  sleep 0.3
  xdotool key Return
}

pixel() { convert "$1" -format "%[pixel:p{$2,$3}]" info:; }
# A part of the panel, in its client coordinates, saved as a picture; grabs compared.
grab() {  # name x y w h
  import -window root -crop "$4x$5+$((PX + $2))+$((PY + $3))" +repage "$OUT/$1.png" 2>/dev/null
}
differ() { compare -metric AE "$OUT/$1.png" "$OUT/$2.png" null: 2>&1 | cut -d' ' -f1 || true; }
same() { [ "$(differ "$1" "$2")" = "0" ] || fail "$3 ($1 and $2 differ)"; }
changed() { [ "$(differ "$1" "$2")" != "0" ] || fail "$3 ($1 and $2 are the same)"; }
keys() {
  for k in "$@"; do xdotool key "$k"; sleep 0.08; done
  sleep 0.4
}
click() {  # x y in panel client coordinates
  xdotool mousemove --sync $((PX + $1)) $((PY + $2)) click 1
  sleep 0.4
}
# Double-clicks the lid open, again if the red capture button does not show (a window manager may
# still be giving the panel the focus when the first click comes).
open_lid() {
  local r
  for _ in 1 2 3; do
    xdotool mousemove --sync $((PX + 259)) $((PY + 130)) click --repeat 2 --delay 120 1
    for _ in 1 2 3 4 5 6 7 8; do
      sleep 0.25
      import -window root -crop 1x1+$((PX + 358))+$((PY + 133)) +repage "$OUT/lid.png" 2>/dev/null
      r=$(convert "$OUT/lid.png" -format '%[fx:int(255*r)]' info: 2>/dev/null)
      [ "${r:-0}" -gt 150 ] && return 0
    done
  done
  fail "a double-click did not open the lid"
}
# Opens the settings sheet from the panel and shows the tab that far right of the sheet's left edge
# ("장치" 336, "녹화" 418); sets X and Y to the sheet's place.
open_sheet_tab() {  # x
  # A closed sheet leaves the video window in front: bring the panel up first.
  xdotool windowraise "$PANEL"
  sleep 0.3
  xdotool mousemove 625 442 click 1
  local w
  w=$(wait_window "환경설정") || fail "the settings sheet did not open"
  read -r _ X Y _ _ <<<"$w"
  sleep 0.5
  xdotool mousemove $((X + $1)) $((Y + 20)) click 1
  sleep 0.5
}

# Closing a dialog brings the video window to the front; a right click on its frame brings the panel.
panel_to_front() {
  xdotool mousemove --sync $((VX + 300)) $((VY + 6)) click 3
  sleep 0.5
}
open_dialog() {
  xdotool mousemove --sync $((PX + 358)) $((PY + 133)) click 1
  DLG=$(wait_window "캡처설정") || fail "the capture button did not open the capture settings dialog"
}
# A click on a dialog control given in dialog units (the template's 216x138 capture dialog).
click_dlu() {  # x y
  read -r _ dx dy dw dh <<<"$DLG"
  xdotool mousemove --sync $((dx + $1 * dw / 216)) $((dy + $2 * dh / 138)) click 1
  sleep 0.3
}
# From the panel: tick "캡처 시간 제한 사용", type the limit, press "캡처 시작"; a file that is there
# already is asked about, and Enter replaces it.
capture_timed() {  # seconds
  open_dialog
  click_dlu 14 97
  click_dlu 40 69
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 50 "$1"
  sleep 0.2
  click_dlu 126 121
  if [ -n "$EXPECT_REPLACE" ]; then
    wait_window "다른 이름으로 저장 확인" 20 >/dev/null || fail "starting onto $EXPECT_REPLACE did not ask first"
    answer "다른 이름으로 저장 확인"
  fi
  sleep 0.3
  [ -z "$(window "캡처설정")" ] || fail "the capture settings dialog stayed open"
}

# The desktop's window manager: Debian's openbox, as users have one; E2E_WM=none runs a script on the
# bare X server. stop_wm takes it away in the middle of a script.
WM_PID=0
start_wm() {
  [ "${E2E_WM:-openbox}" = none ] && return 0
  openbox --sm-disable >"$OUT/openbox.log" 2>&1 & WM_PID=$!
  for _ in $(seq 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.1
  done
  fail "openbox did not start: $(cat "$OUT/openbox.log")"
}
stop_wm() {
  [ "$WM_PID" -ne 0 ] || return 0
  kill "$WM_PID" 2>/dev/null || true
  wait "$WM_PID" 2>/dev/null || true
  WM_PID=0
  sleep 0.3
}

e2e_main() {
  if [ "${1:-}" = "--inner" ]; then
    start_wm
    run
    stop_wm
  else
    xvfb-run -a -s '-screen 0 1024x768x24' bash "$E2E_SCRIPT" --inner
  fi
}
