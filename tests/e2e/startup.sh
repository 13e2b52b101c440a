#!/usr/bin/env bash
# The program as a user starts it under a virtual X server: both windows at their places, a second
# copy refused with its box, SIGTERM saving the placement.
source "$(dirname "$0")/lib.bash"

run() {
  start_and_wait first
  local video panel
  video=$(window "$VIDEO_TITLE") panel=$(window "$PANEL_TITLE")
  [ "${video#* }" = "192 144 640 480" ] || fail "video window not at (192,144) 640x480: $video"
  [ "${panel#* }" = "237 309 550 150" ] || fail "panel not at (237,309) 550x150: $panel"

  # A second copy shows its box and ends with 0 once the box is answered.
  local first=$PID
  start_program second
  answer "Orvane Tuner Execute"
  expect_exit "second copy"
  PID=$first
  kill -0 "$PID" 2>/dev/null || fail "first copy ended"

  kill -TERM "$PID"
  expect_exit "first copy after SIGTERM"
  saved '"Video_width"=dword:00000280' "the video window's placement"
  saved '"Panel_left"=dword:000000ed' "the panel's placement"
  echo "startup: ok"
}
e2e_main "$@"
