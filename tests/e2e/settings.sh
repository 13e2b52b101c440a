#!/usr/bin/env bash
# The settings sheet as a user works it: open the lid, open the sheet from the panel, register two
# channels, accept; channel up on the panel then stops at them.
source "$(dirname "$0")/lib.bash"

run() {
  start_and_wait
  sleep 1.5
  open_lid
  click 388 133  # the settings button under the lid
  local sheet X Y
  sheet=$(wait_window "환경설정") || fail "the settings sheet did not open"
  read -r _ X Y _ _ <<<"$sheet"
  sleep 0.5
  # Unregistered list starts with 3 4 5 8 10 12 14 ...: pick 12 and 14, then ">".
  xdotool mousemove $((X + 99)) $((Y + 134 + 15 * 5 + 7)) click 1
  xdotool mousemove $((X + 99)) $((Y + 134 + 15 * 6 + 7)) click 1
  xdotool mousemove $((X + 243)) $((Y + 145)) click 1
  sleep 0.3
  snap settings-sheet
  xdotool mousemove $((X + 358)) $((Y + 306)) click 1  # OK
  sleep 0.7
  shown "환경설정" && fail "the sheet did not close on OK"
  # Keys on the panel: channel up three times from 11.
  click 150 60
  keys Up Up Up
  snap settings-after
  xdotool key alt+KP_Add
  expect_exit "Alt with keypad +"
  saved '"TVChannel"=dword:0000000e' "channel 14 (up from 11 stopping at 12 and 14)"
  local tv
  tv=$(sed -n 's/^"TV"="\(.*\)"$/\1/p' "$ORVANE_CONFIG_DIR/registry.reg")
  [ "${tv:12:1}${tv:14:1}" = "11" ] || fail "12 and 14 not registered: $tv"
  echo "settings: ok"
}
e2e_main "$@"
