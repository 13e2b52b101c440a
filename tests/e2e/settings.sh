#!/usr/bin/env bash
# The settings sheet as a user works it: open the lid, open the sheet from the panel, register two
# channels, accept; channel up on the panel then stops at them.
source "$(dirname "$0")/lib.bash"

run() {
  start_program settings.log
  local pid=$PID
  wait_for_window "판넬 윈도" || fail "no window \"판넬 윈도\""
  sleep 1.5
  # The panel sits at (237, 309): open the lid, then press the settings button.
  xdotool mousemove 496 439 click --repeat 2 --delay 80 1
  sleep 0.5
  xdotool mousemove 625 442 click 1
  local line=""
  for _ in $(seq 50); do
    line=$(xwininfo -root -tree | grep '"환경설정"' | head -1) && [ -n "$line" ] && break
    sleep 0.2
  done
  [ -n "$line" ] || fail "the settings sheet did not open"
  sleep 0.5
  # "... 484x325+270+221  +270+221": the sheet's place on the screen.
  local geo; geo=$(echo "$line" | grep -o '[0-9]*x[0-9]*+[0-9]*+[0-9]*' | head -1)
  X=$(echo "$geo" | cut -d+ -f2)
  Y=$(echo "$geo" | cut -d+ -f3)
  # Unregistered list starts with 3 4 5 8 10 12 14 ...: pick 12 and 14, then ">".
  xdotool mousemove $((X + 99)) $((Y + 134 + 15 * 5 + 7)) click 1
  xdotool mousemove $((X + 99)) $((Y + 134 + 15 * 6 + 7)) click 1
  xdotool mousemove $((X + 243)) $((Y + 145)) click 1
  sleep 0.3
  import -window root "$OUT/settings-sheet.png"
  xdotool mousemove $((X + 358)) $((Y + 306)) click 1   # OK
  sleep 0.7
  xwininfo -root -tree | grep -q '"환경설정"' && fail "the sheet did not close on OK"
  # Keys on the panel: channel up three times from 11.
  xdotool mousemove $((237 + 150)) $((309 + 60)) click 1
  xdotool key Up Up Up
  sleep 0.5
  import -window root "$OUT/settings-after.png"
  xdotool key alt+KP_Add
  local rc=0
  wait $pid || rc=$?
  [ $rc -eq 0 ] || fail "exit code $rc"
  local reg="$ORVANE_CONFIG_DIR/registry.reg"
  grep -q '"TVChannel"=dword:0000000e' "$reg" || fail "channel up did not stop at 12 and 14: $(grep -i channel "$reg")"
  local tv; tv=$(sed -n 's/^"TV"="\(.*\)"$/\1/p' "$reg")
  [ "${tv:12:1}${tv:14:1}" = "11" ] || fail "12 and 14 not registered: $tv"
  echo "settings: ok"
}

e2e_main "$@"
