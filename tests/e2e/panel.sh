#!/usr/bin/env bash
# The control panel as a user drives it under a virtual X server: the lid closed at start, channel
# keys with the live picture following, the source cycle with the picture following the input, the
# lid opened by a double-click, channel digits clicked, and Alt with keypad + ending the program
# with the source and channels saved.
source "$(dirname "$0")/lib.bash"

# Colours of the live picture at three points clear of the panel and of the moving element: the
# virtual card paints its background by channel and its inputs differently.
picture() {
  sleep 0.4
  for p in 18,276 618,276 308,26; do
    convert x:root -crop 1x1+$((VX + ${p%,*}))+$((VY + ${p#*,})) -format '%[pixel:p{0,0}] ' info: 2>/dev/null
  done
}
digits() { grab "$1" 345 51 56 28; }

run() {
  start_and_wait
  sleep 1
  # The lid is closed: a click where digit 5 lies changes nothing.
  digits d-11
  grab lid-closed 84 110 350 40
  click 161 131
  digits d-covered
  same d-11 d-covered "a click on the closed lid reached the digit button"
  xdotool windowfocus --sync "$PANEL" 2>/dev/null || xdotool windowfocus "$PANEL"
  sleep 0.3
  # Channel up (terrestrial 11 -> 13), then keypad / through CableTV, Video, S-Video and back to
  # TV: the digits and the picture follow.
  local pictures=("$(picture)")
  for k in Up KP_Divide KP_Divide KP_Divide KP_Divide; do
    keys $k
    digits d-${#pictures[@]}
    pictures+=("$(picture)")
  done
  changed d-11 d-1 "Up did not change the channel shown"
  same d-1 d-5 "keypad / did not come back to TV channel 13"
  changed d-2 d-3 "the channel digits stayed lit on Video"
  for i in 1 2 3 4; do
    [ "${pictures[i - 1]}" != "${pictures[i]}" ] || fail "the picture did not follow step $i (${pictures[i]})"
  done
  [ "${pictures[1]}" = "${pictures[5]}" ] || fail "the picture did not come back to TV channel 13"
  # A double-click on the lid opens it; the digit buttons under it then work with the mouse.
  open_lid
  grab lid-open 84 110 350 40
  changed lid-closed lid-open "a double-click did not open the lid"
  click 112 131
  click 161 131
  digits d-25
  changed d-1 d-25 "clicking digits 2 and 5 did not show channel 25"
  # Cable channel 11 -> 13, then Alt with keypad + ends the program.
  xdotool windowfocus --sync "$PANEL" 2>/dev/null || xdotool windowfocus "$PANEL"
  keys KP_Divide Up
  xdotool key alt+KP_Add
  expect_exit "Alt with keypad +"
  saved '"Source"=dword:00000001' "source cable"
  saved '"TVChannel"=dword:00000019' "terrestrial channel 25"
  saved '"CATVChannel"=dword:0000000d' "cable channel 13"
  echo "panel: ok"
}
e2e_main "$@"
