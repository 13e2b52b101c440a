#!/usr/bin/env bash
# The panel as a user drives it: channel keys and the source cycle with the live picture following,
# digits clicked on the lid opened by a double-click, and Alt with keypad + saving what was tuned.
source "$(dirname "$0")/lib.bash"

# Colours of the live picture at three points clear of the panel and the moving element.
picture() {
  for p in 18,276 618,276 308,26; do
    import -window root -crop 1x1+$((VX + ${p%,*}))+$((VY + ${p#*,})) +repage -format '%[pixel:p{0,0}] ' info: 2>/dev/null
  done
}
# The picture once it differs from $1: a loaded machine may take a while to switch (up to 5 s).
next_picture() {  # previous
  local now
  for _ in $(seq 20); do
    sleep 0.25
    now=$(picture)
    [ "$now" != "$1" ] && break
  done
  sleep 0.3  # the panel's digits are drawn with the switch; let them settle
  echo "$now"
}
digits() { grab "$1" 345 51 56 28; }

run() {
  start_and_wait
  sleep 1
  digits d-11
  xdotool windowfocus --sync "$PANEL" 2>/dev/null || xdotool windowfocus "$PANEL"
  sleep 0.3
  # Up (11 -> 13), then keypad / through cable, Video, S-Video and back to TV.
  local pictures=("$(picture)")
  for k in Up KP_Divide KP_Divide KP_Divide KP_Divide; do
    xdotool key $k
    pictures+=("$(next_picture "${pictures[-1]}")")
    digits d-$((${#pictures[@]} - 1))
  done
  changed d-11 d-1 "Up did not change the channel shown"
  same d-1 d-5 "keypad / did not come back to TV channel 13"
  changed d-2 d-3 "the channel digits stayed lit on Video"
  for i in 1 2 3 4; do
    [ "${pictures[i - 1]}" != "${pictures[i]}" ] || fail "the picture did not follow step $i (${pictures[i]})"
  done
  [ "${pictures[1]}" = "${pictures[5]}" ] || fail "the picture did not come back to TV channel 13"
  open_lid
  click 112 131
  click 161 131
  digits d-25
  changed d-1 d-25 "clicking digits 2 and 5 on the opened lid did not show channel 25"
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
