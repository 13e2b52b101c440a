#!/usr/bin/env bash
# The device page as a user works it, with two virtual cards: the sheet has five tabs; Escape on the
# device page stores nothing; choosing the second card and Enter switches the picture to it at once.
source "$(dirname "$0")/lib.bash"

# Card B has no signal anywhere: its picture is snow, Card A's is the colour bars on channel 11.
export ORVANE_VIRTUAL_CARD='{"devices": [{"name": "Card A"},
  {"name": "Card B", "tuner": {"antenna_signal": [], "cable_signal": []}}]}'

open_device_page() { open_sheet_tab 336; }

# Whether the picture's yellow bar is there (bars) at a point of the picture's lower band.
yellow() {
  local r g b
  IFS=, read -r r g b < <(pixel "$1" 320 570 | tr -d 'srgb()')
  [ "$r" -gt 150 ] && [ "$g" -gt 150 ] && [ "$b" -lt 60 ]
}

run() {
  start_and_wait devices.log
  sleep 1.5
  snap devices-before
  yellow "$OUT/devices-before.png" || fail "no colour bars from Card A: $(pixel "$OUT/devices-before.png" 320 570)"
  open_lid
  open_device_page
  xdotool key Escape
  sleep 0.7
  shown "환경설정" && fail "Escape did not close the sheet"
  grep -q '^Region=' "$ORVANE_CONFIG_DIR/win.ini" 2>/dev/null && fail "Escape stored the device page"

  open_device_page
  xdotool mousemove $((X + 310)) $((Y + 77)) click 1     # the video device list
  sleep 0.4
  xdotool key Down Return                                 # "Card B" in the open list: the list's Enter
  sleep 0.4
  shown "환경설정" || fail "Enter in the open list closed the sheet"
  xdotool key Return
  sleep 1.5
  shown "환경설정" && fail "Enter did not close the sheet"
  snap devices-after
  yellow "$OUT/devices-after.png" && fail "the picture did not switch to Card B"
  xdotool key alt+KP_Add
  expect_exit "quitting"
  grep -q '^VideoDevice=1$' "$ORVANE_CONFIG_DIR/win.ini" || fail "VideoDevice not stored: $(cat "$ORVANE_CONFIG_DIR/win.ini")"
  grep -q '^AudioDevice=1$' "$ORVANE_CONFIG_DIR/win.ini" || fail "Card B's sound not taken"
  echo "devices: ok"
}

e2e_main "$@"
