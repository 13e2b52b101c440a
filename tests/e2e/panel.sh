#!/usr/bin/env bash
# The control panel as a user drives it under a virtual X server: the lid closed at start, channel
# keys with the live picture following, the volume bar, the source cycle with the picture following
# the input, the lid opened by a double-click, channel digits clicked with the mouse, and Alt with
# keypad + ending the program with the source and channels saved.
source "$(dirname "$0")/lib.bash"
OUT=$OUT/panel
mkdir -p "$OUT"

PX=0 PY=0 VX=0 VY=0

# A part of the panel, in panel client coordinates, saved as a picture.
grab() {  # name x y w h
  import -window root -crop "$4x$5+$((PX + $2))+$((PY + $3))" +repage "$OUT/$1.png" 2>/dev/null
}
# Number of pixels that differ between two grabs.
differ() { compare -metric AE "$OUT/$1.png" "$OUT/$2.png" null: 2>&1 | cut -d' ' -f1 || true; }
same() { [ "$(differ "$1" "$2")" = "0" ] || fail "$3 ($1 and $2 differ)"; }
changed() { [ "$(differ "$1" "$2")" != "0" ] || fail "$3 ($1 and $2 are the same)"; }

# Colours of the live picture at three points clear of the panel and of the moving element: the
# virtual card paints its background by channel and its inputs differently.
picture() {
  sleep 0.4
  local out=""
  for p in 18,276 618,276 308,26; do
    out+=$(convert x:root -crop 1x1+$((VX + ${p%,*}))+$((VY + ${p#*,})) -format '%[pixel:p{0,0}]' info: 2>/dev/null)" "
  done
  echo "$out"
}
digits() { grab "$1" 345 51 56 28; }
volume() { grab "$1" 353 84 60 7; }
labels() { grab "$1" 269 30 50 47; }
lid() { grab "$1" 84 110 350 40; }
keys() {
  for k in "$@"; do xdotool key "$k"; sleep 0.08; done
  sleep 0.4
}
click() {  # x y in panel client coordinates
  xdotool mousemove --sync $((PX + $1)) $((PY + $2)) click 1
  sleep 0.4
}

run() {
  LC_ALL= LANG=ko_KR.UTF-8 "$BIN" >"$OUT/run.log" 2>&1 &
  PID=$!
  local line=""
  for _ in $(seq 50); do
    line=$(xwininfo -root -tree | grep '"판넬 윈도"' || true)
    [ -n "$line" ] && break
    sleep 0.2
  done
  [ -n "$line" ] || fail "no panel window"
  local id; id=$(echo "$line" | awk '{print $1}')
  local at; at=$(echo "$line" | grep -o '+[0-9-]*+[0-9-]*$')
  PX=$(echo "$at" | cut -d+ -f2)
  PY=$(echo "$at" | cut -d+ -f3)
  local vat; vat=$(xwininfo -root -tree | grep '"Orvane Tuner( WIN2000 )"' | grep -o '+[0-9-]*+[0-9-]*$')
  VX=$(echo "$vat" | cut -d+ -f2)
  VY=$(echo "$vat" | cut -d+ -f3)
  sleep 1
  import -window root "$OUT/start.png" 2>/dev/null

  # The lid is closed: a click where digit 5 lies changes nothing.
  digits d-start
  lid lid-closed
  click 161 131
  digits d-after-covered-click
  same d-start d-after-covered-click "a click on the closed lid reached the digit button"

  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  sleep 0.3

  # Channel up and down (terrestrial 11 -> 13 -> 11 -> 9 -> 11); the picture follows.
  local p11 p13 p11b
  p11=$(picture)
  keys Up
  digits d-13
  changed d-start d-13 "Up did not change the channel shown"
  p13=$(picture)
  [ "$p11" != "$p13" ] || fail "the picture did not follow channel up ($p11)"
  keys Down
  digits d-11
  same d-start d-11 "Down did not bring channel 11 back"
  p11b=$(picture)
  [ "$p11" = "$p11b" ] || fail "the picture did not come back to channel 11 ($p11 / $p11b)"
  keys Down
  digits d-9
  changed d-11 d-9 "Down did not change the channel shown"
  keys Up Up
  digits d-13b
  same d-13 d-13b "Up Up from 9 did not reach 13"

  # The volume bar follows Right and Left.
  keys $(printf 'Left %.0s' $(seq 20))
  volume v-0
  keys $(printf 'Right %.0s' $(seq 10))
  volume v-10
  changed v-0 v-10 "Right did not move the volume bar"
  keys Right Right Right
  volume v-13
  changed v-10 v-13 "Right at level 10 did not move the volume bar"
  keys $(printf 'Left %.0s' $(seq 13))
  volume v-0b
  same v-0 v-0b "Left did not bring the bar back to empty"
  keys Right Right Right Right
  volume v-4

  # Keypad / cycles TV, CableTV, Video, S-Video and back to TV; the picture follows the input.
  local ptv pcatv pvideo psvideo ptv2
  labels s-tv
  ptv=$(picture)
  keys KP_Divide
  labels s-catv
  pcatv=$(picture)
  digits d-catv
  changed s-tv s-catv "keypad / did not light CableTV"
  keys KP_Divide
  labels s-video
  digits d-video
  pvideo=$(picture)
  [ "$pvideo" != "$pcatv" ] || fail "the picture did not follow the switch to Video"
  changed s-catv s-video "keypad / did not light Video"
  changed d-catv d-video "the channel digits stayed lit on Video"
  keys KP_Divide
  labels s-svideo
  digits d-svideo
  psvideo=$(picture)
  [ "$psvideo" != "$pvideo" ] || fail "the picture did not follow the switch to S-Video"
  changed s-video s-svideo "keypad / did not light S-Video"
  same d-video d-svideo "S-Video shows channel digits"
  keys KP_Divide
  labels s-tv2
  same s-tv s-tv2 "keypad / did not come back to TV"
  ptv2=$(picture)
  [ "$ptv2" = "$ptv" ] || fail "the picture did not come back to the TV channel ($ptv / $ptv2)"

  # A double-click on the lid opens it; the digit buttons under it then work with the mouse.
  xdotool mousemove --sync $((PX + 259)) $((PY + 130)) click --repeat 2 --delay 120 1
  sleep 0.5
  lid lid-open
  changed lid-closed lid-open "a double-click did not open the lid"
  import -window root "$OUT/lid-open.png" 2>/dev/null
  click 112 131
  click 161 131
  digits d-25
  changed d-13 d-25 "clicking digits 2 and 5 did not show channel 25"

  # Cable channel 11 -> 13, then Alt with keypad + ends the program.
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  keys KP_Divide Up
  import -window root "$OUT/before-exit.png" 2>/dev/null
  xdotool key alt+KP_Add
  local rc=0
  for _ in $(seq 50); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
  kill -0 $PID 2>/dev/null && fail "Alt with keypad + did not end the program"
  wait $PID || rc=$?
  PID=0
  [ $rc -eq 0 ] || fail "the program exited with $rc"
  local reg="$ORVANE_CONFIG_DIR/registry.reg"
  grep -q '"Source"=dword:00000001' "$reg" || fail "source not saved as cable: $(cat "$reg")"
  grep -q '"TVChannel"=dword:00000019' "$reg" || fail "terrestrial channel 25 not saved: $(cat "$reg")"
  grep -q '"CATVChannel"=dword:0000000d' "$reg" || fail "cable channel 13 not saved: $(cat "$reg")"
  grep -q '"TV"="0010001101010100' "$reg" || fail "terrestrial list not saved"
  echo "panel: ok"
}
e2e_main "$@"
