#!/usr/bin/env bash
# A card unplugged as a user meets it: during the live picture its box says so; during a capture the
# same box comes, and the file ends when the card went, not when the box is answered seconds later.
source "$(dirname "$0")/lib.bash"

# The card goes 3 seconds into each run of its stream.
export ORVANE_VIRTUAL_CARD='{"unplug_at_s": 3}'

run() {
  printf '[orvane]\nRecordFormat=lossless\n' >"$ORVANE_CONFIG_DIR/win.ini"
  start_and_wait
  wait_window "오류" 80 >/dev/null || fail "no box when the card went during the live picture"
  snap live-lost
  answer "오류"
  sleep 0.5
  open_lid
  open_dialog
  xdotool windowfocus --sync "${DLG%% *}" 2>/dev/null || true
  xdotool key Return
  wait_window "캡처상황" >/dev/null || fail "Enter in the capture settings dialog did not start a capture"
  wait_window "오류" 80 >/dev/null || fail "no box when the card went during the capture"
  snap capture-lost
  sleep 4  # the user reads it
  answer "오류"
  answer "동영상 캡처완료" 50
  panel_to_front

  # Matroska, whose sound timeline would fill the time until the answer with the last picture.
  local mkv="$HOME/Capture.mkv" duration errors
  [ -s "$mkv" ] || fail "no $mkv"
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$mkv")
  awk -v d="$duration" 'BEGIN { exit !(d > 2.5 && d < 4) }' || fail "the file lasts $duration s, not until the card went"
  errors=$(ffmpeg -nostdin -v error -i "$mkv" -f null - 2>&1) && [ -z "$errors" ] || fail "decoding failed: $errors"

  xdotool windowfocus --sync "$PANEL" 2>/dev/null || true
  xdotool key alt+KP_Add
  expect_exit "Alt with keypad +"
  [ "$(tail -1 "$mkv.log.jsonl" | jq -r .reason)" = device_gone ] || fail "the log does not end with device_gone"
  echo "unplug: ok ($duration s)"
}
e2e_main "$@"
