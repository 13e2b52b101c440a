#!/usr/bin/env bash
# The control panel as a user drives it under a virtual X server: the lid closed at start, channel
# keys with the live picture following, the volume bar, the source cycle with the picture following
# the input, the lid opened by a double-click, channel digits clicked with the mouse, and Alt with
# keypad + ending the program with the source and channels saved.
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
labels() { grab "$1" 269 30 50 47; }
focus_panel() { xdotool windowfocus --sync "$PANEL" 2>/dev/null || xdotool windowfocus "$PANEL"; }

run() {
  start_and_wait
  sleep 1
  snap start
  # The lid is closed: a click where digit 5 lies changes nothing.
  digits d-start
  grab lid-closed 84 110 350 40
  click 161 131
  digits d-covered-click
  same d-start d-covered-click "a click on the closed lid reached the digit button"
  focus_panel
  sleep 0.3

  # Channel up and down (terrestrial 11 -> 13 -> 11); the picture follows.
  local p11 p13
  p11=$(picture)
  keys Up
  digits d-13
  changed d-start d-13 "Up did not change the channel shown"
  p13=$(picture)
  [ "$p11" != "$p13" ] || fail "the picture did not follow channel up ($p11)"
  keys Down
  digits d-11
  same d-start d-11 "Down did not bring channel 11 back"
  [ "$p11" = "$(picture)" ] || fail "the picture did not come back to channel 11"

  # The volume bar follows Left and Right.
  keys $(printf 'Left %.0s' $(seq 20))
  grab v-0 353 84 60 7
  keys Right Right Right Right
  grab v-4 353 84 60 7
  changed v-0 v-4 "Right did not move the volume bar"

  # Keypad / cycles TV, CableTV, Video, S-Video and back to TV; lit labels and picture follow.
  local pictures=("$(picture)")
  labels s-0
  for i in 1 2 3 4; do
    keys KP_Divide
    labels s-$i
    digits d-s$i
    pictures+=("$(picture)")
    [ $i -eq 4 ] || changed s-$((i - 1)) s-$i "keypad / did not light the next source ($i)"
  done
  same s-0 s-4 "keypad / did not come back to TV"
  [ "${pictures[1]}" != "${pictures[2]}" ] || fail "the picture did not follow the switch to Video"
  [ "${pictures[2]}" != "${pictures[3]}" ] || fail "the picture did not follow the switch to S-Video"
  [ "${pictures[0]}" = "${pictures[4]}" ] || fail "the picture did not come back to the TV channel"
  changed d-s1 d-s2 "the channel digits stayed lit on Video"
  same d-s2 d-s3 "S-Video shows channel digits"

  # A double-click on the lid opens it; the digit buttons under it then work with the mouse.
  open_lid
  grab lid-open 84 110 350 40
  changed lid-closed lid-open "a double-click did not open the lid"
  click 112 131
  click 161 131
  digits d-25
  changed d-13 d-25 "clicking digits 2 and 5 did not show channel 25"

  # Cable channel 11 -> 13, then Alt with keypad + ends the program.
  focus_panel
  keys KP_Divide Up
  snap before-exit
  xdotool key alt+KP_Add
  expect_exit "Alt with keypad +"
  saved '"Source"=dword:00000001' "source cable"
  saved '"TVChannel"=dword:00000019' "terrestrial channel 25"
  saved '"CATVChannel"=dword:0000000d' "cable channel 13"
  saved '"TV"="0010001101010100' "terrestrial list"
  echo "panel: ok"
}
e2e_main "$@"
