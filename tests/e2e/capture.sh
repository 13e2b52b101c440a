#!/usr/bin/env bash
# Captures as a user makes them under a virtual X server: the panel's lid opened, its capture
# button, Enter in the capture settings dialog (the capture starts, the status dialog shows and
# Enter ends it); then the dialog with a 5-second limit ticked and typed, the CAP indicator lit
# while it records, the capture button pressed again (nothing opens), one result box answered;
# then the file in the home folder is read back with ffprobe and decoded with ffmpeg.
set -euo pipefail
cd "$(dirname "$0")/../.."
BIN=${ORVANE_BIN:-$PWD/build/orvanetuner}
OUT=${ORVANE_E2E_OUT:-$PWD/build/e2e}/capture
mkdir -p "$OUT"
if [ "${1:-}" = "--inner" ]; then
  export ORVANE_CONFIG_DIR=$(mktemp -d) HOME=$(mktemp -d)
  export ORVANE_DEVICES=virtual ORVANE_MIXER=virtual LANG=C.UTF-8 LC_ALL=C.UTF-8
  export XDG_RUNTIME_DIR=$(mktemp -d)
  chmod 700 "$XDG_RUNTIME_DIR"
  trap 'rm -rf "$ORVANE_CONFIG_DIR" "$XDG_RUNTIME_DIR" "$HOME"' EXIT
fi

PX=0 PY=0 VX=0 VY=0 PID=0
fail() {
  echo "FAIL: $*"
  [ "$PID" -ne 0 ] && kill -9 "$PID" 2>/dev/null || true
  exit 1
}

# Position and size of the top-level window with this title: "id x y w h", or nothing.
window() {
  xwininfo -root -tree | grep "\"$1\"" | head -1 |
    sed -E 's/^ *(0x[0-9a-f]+) .* ([0-9]+)x([0-9]+)\+(-?[0-9]+)\+(-?[0-9]+) +\+.*$/\1 \4 \5 \2 \3/'
}
wait_window() {  # title, tenths of a second
  local w=""
  for _ in $(seq "${2:-50}"); do
    w=$(window "$1")
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
# Whether a window with this title is on screen (a closed dialog's window may linger unmapped
# until the loop it was closed in gets back control).
shown() {
  local id
  for id in $(xwininfo -root -tree | grep "\"$1\"" | awk '{print $1}'); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && return 0
  done
  return 1
}
# A click on a dialog control given in dialog units (the template's 216x138 capture dialog).
click_dlu() {  # x y
  read -r _ dx dy dw dh <<<"$DLG"
  xdotool mousemove --sync $((dx + $1 * dw / 216)) $((dy + $2 * dh / 138)) click 1
  sleep 0.3
}
grab() {  # name x y w h, in panel client coordinates
  import -window root -crop "$4x$5+$((PX + $2))+$((PY + $3))" +repage "$OUT/$1.png" 2>/dev/null
}
differ() { compare -metric AE "$OUT/$1.png" "$OUT/$2.png" null: 2>&1 | cut -d' ' -f1 || true; }
# Closing a dialog owned by the video window brings that window to the front; a right click on its
# frame brings the panel back, as a user would do it.
panel_to_front() {
  xdotool mousemove --sync $((VX + 300)) $((VY + 6)) click 3
  sleep 0.5
}

run() {
  LC_ALL= LANG=ko_KR.UTF-8 "$BIN" >"$OUT/run.log" 2>&1 &
  PID=$!
  local panel
  panel=$(wait_window "판넬 윈도") || fail "no panel window"
  read -r _ PX PY _ _ <<<"$panel"
  local video
  video=$(wait_window "Orvane Tuner( WIN2000 )") || fail "no video window"
  read -r _ VX VY _ _ <<<"$video"
  sleep 1

  # Open the lid, then press the capture button under it.
  xdotool mousemove --sync $((PX + 259)) $((PY + 130)) click --repeat 2 --delay 120 1
  sleep 0.5
  grab cap-before 344 30 23 11
  xdotool mousemove --sync $((PX + 358)) $((PY + 133)) click 1
  DLG=$(wait_window "캡처설정") || fail "the capture button did not open the capture settings dialog"
  import -window root "$OUT/dialog.png" 2>/dev/null

  # Enter at once starts a capture without a limit; Enter in its status dialog ends it.
  xdotool windowfocus --sync "${DLG%% *}" 2>/dev/null || true
  xdotool key Return
  local status
  status=$(wait_window "캡처상황") || fail "Enter in the capture settings dialog did not start a capture"
  shown "캡처상황" || fail "the status dialog is not on screen"
  ! shown "캡처설정" || fail "the capture settings dialog stayed open"
  sleep 1.5
  import -window root "$OUT/status.png" 2>/dev/null
  xdotool windowfocus --sync "${status%% *}" 2>/dev/null || true
  xdotool key Return
  local box
  box=$(wait_window "동영상 캡처완료" 50) || fail "no result box after the status dialog"
  xdotool windowfocus --sync "${box%% *}" 2>/dev/null || true
  xdotool key Return
  sleep 0.5
  [ -z "$(window "동영상 캡처완료")" ] || fail "the first result box stayed open"
  panel_to_front
  xdotool mousemove --sync $((PX + 358)) $((PY + 133)) click 1
  DLG=$(wait_window "캡처설정") || fail "the capture button did not open the capture settings dialog again"

  # Tick "캡처 시간 제한 사용", type 5 into the limit, press "캡처 시작".
  click_dlu 14 97
  click_dlu 40 69
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 50 5
  sleep 0.2
  import -window root "$OUT/dialog-filled.png" 2>/dev/null
  click_dlu 126 121
  [ -z "$(window "캡처설정")" ] || fail "the capture settings dialog stayed open"

  sleep 1
  panel_to_front
  grab cap-during 344 30 23 11
  [ "$(differ cap-before cap-during)" != "0" ] || fail "the CAP indicator is not lit during the capture"
  import -window root "$OUT/capturing.png" 2>/dev/null
  # The capture button again while it records: nothing opens and CAP stays lit.
  xdotool mousemove --sync $((PX + 358)) $((PY + 133)) click 1
  sleep 0.7
  import -window root "$OUT/pressed-again.png" 2>/dev/null
  ! shown "캡처설정" || fail "the capture button opened a second capture while one runs"
  grab cap-again 344 30 23 11
  [ "$(differ cap-during cap-again)" = "0" ] || fail "the CAP indicator went out while the capture runs"

  box=$(wait_window "동영상 캡처완료" 100) || fail "no result box after the time limit"
  import -window root "$OUT/result.png" 2>/dev/null
  xdotool windowfocus --sync "${box%% *}" 2>/dev/null || true
  xdotool key Return
  sleep 1
  ! shown "동영상 캡처완료" || fail "a result box is open after the first one was answered"
  panel_to_front
  grab cap-after 344 30 23 11
  [ "$(differ cap-before cap-after)" = "0" ] || fail "the CAP indicator stayed lit"

  # The file in the home folder: YUY2 at 14.99 frames per second with PCM sound, five seconds.
  local avi="$HOME/Capture.avi"
  [ -s "$avi" ] || fail "no $avi"
  ffprobe -v error -count_packets -show_streams -of default=nw=1 "$avi" >"$OUT/ffprobe.txt" || fail "ffprobe cannot read the file"
  grep -q '^codec_tag_string=YUY2$' "$OUT/ffprobe.txt" || fail "no YUY2 picture: $(cat "$OUT/ffprobe.txt")"
  grep -q '^avg_frame_rate=10000000/667111$' "$OUT/ffprobe.txt" || fail "not 14.99 frames per second"
  grep -q '^codec_name=pcm_s16le$' "$OUT/ffprobe.txt" || fail "no PCM sound"
  local frames
  frames=$(grep '^nb_frames=' "$OUT/ffprobe.txt" | head -1 | cut -d= -f2)
  # 5 s is 75 frames; a frame or two either way.
  [ "$frames" -ge 73 ] && [ "$frames" -le 77 ] || fail "$frames frames for a 5-second capture"
  # It plays: every packet decodes, and the pictures move.
  local errors
  errors=$(ffmpeg -nostdin -v error -i "$avi" -f null - 2>&1) || fail "ffmpeg cannot decode the file"
  [ -z "$errors" ] || fail "decoding complained: $errors"
  local distinct
  distinct=$(ffmpeg -nostdin -v error -i "$avi" -map 0:v -f framemd5 - | grep -v '^#' | awk -F, '{print $NF}' | sort -u | wc -l)
  [ "$distinct" -gt 10 ] || fail "only $distinct different pictures"
  ffmpeg -nostdin -v error -y -i "$avi" -vf "select=eq(n\,20)" -frames:v 1 "$OUT/frame-20.png" || true

  # A second capture of one second, and SIGTERM while its result box is open: the program ends
  # with 0 once the box is closed, and saves its settings as the exit key does.
  ! grep -q '"Panel_left"' "$ORVANE_CONFIG_DIR/registry.reg" || fail "the placement was saved before the end"
  panel_to_front
  xdotool mousemove --sync $((PX + 358)) $((PY + 133)) click 1
  DLG=$(wait_window "캡처설정") || fail "the capture button did not open the dialog a second time"
  click_dlu 14 97
  click_dlu 40 69
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 50 1
  click_dlu 126 121
  wait_window "동영상 캡처완료" 100 >/dev/null || fail "no result box after the second capture"
  kill -TERM $PID
  local code=0
  wait $PID || code=$?
  PID=0
  [ "$code" -eq 0 ] || fail "exit code $code after SIGTERM with the result box open"
  grep -q '"Panel_left"' "$ORVANE_CONFIG_DIR/registry.reg" || fail "the placement was not saved"
  grep -q '"TVChannel"' "$ORVANE_CONFIG_DIR/registry.reg" || fail "the channels were not saved"
  grep -q '"Bright"' "$ORVANE_CONFIG_DIR/registry.reg" || fail "the picture values were not saved"
  grep -q "^CaptureFile=$HOME/Capture.avi" "$ORVANE_CONFIG_DIR/win.ini" || fail "the capture file was not saved"
  echo "capture: ok ($frames frames)"
}
if [ "${1:-}" = "--inner" ]; then
  run
else
  xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" --inner
fi
