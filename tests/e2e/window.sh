#!/usr/bin/env bash
# The video window with the mouse, under a window manager as users have one: a click on the picture
# leaves the window where it is, a drag moves it by the drag, a double-click zooms and another one
# puts it back, the border sizes it, and a right click calls the minimised panel back. Then the
# same drag and click without a window manager, where the program moves the window itself.
source "$(dirname "$0")/lib.bash"

place() { window "$VIDEO_TITLE" | cut -d' ' -f2-; }  # "x y w h"
expect_place() {  # "x y w h" what [pixels either way]
  local now
  now=$(place)
  awk -v a="$now" -v b="$1" -v t="${3:-0}" 'BEGIN { n = split(a, x); split(b, y)
    for (i = 1; i <= 4; i++) if (n != 4 || x[i] - y[i] > t || y[i] - x[i] > t) exit 1 }' ||
    { snap "$(echo "$2" | tr ' ' -)"; fail "$2: the window is at $now, not $1"; }
}
# Presses at (x, y) on the screen, drags by (dx, dy) a few pixels at a time as a hand does, releases.
# A window manager takes over once the pointer has gone a few pixels (the drag distance), and moves
# the window with the pointer from there: WM_LAG is how far behind the drag the window may then be.
WM_LAG=12
drag() {  # x y dx dy
  xdotool mousemove --sync "$1" "$2" mousedown 1
  sleep 0.2
  for i in $(seq 20); do
    xdotool mousemove --sync $(($1 + $3 * i / 20)) $(($2 + $4 * i / 20))
    sleep 0.02
  done
  sleep 0.2
  xdotool mouseup 1
  sleep 0.5
}
# A click at (x, y), then the pointer goes elsewhere with no button held.
click_and_leave() {  # x y
  xdotool mousemove --sync "$1" "$2" click 1
  sleep 0.3
  xdotool mousemove --sync $(($1 + 150)) $(($2 + 120))
  sleep 0.2
  xdotool mousemove --sync $(($1 + 200)) $(($2 + 160))
  sleep 0.5
}

run() {
  start_and_wait
  sleep 1
  # A point of the picture that the panel does not cover.
  local x=$((VX + 300)) y=$((VY + 60))
  expect_place "$VX $VY 640 480" "at start"

  click_and_leave $x $y
  expect_place "$VX $VY 640 480" "a click on the picture moved the window"
  click_and_leave $((VX + 300)) $((VY + 6))
  expect_place "$VX $VY 640 480" "a click on the frame moved the window"

  drag $x $y 60 40
  expect_place "$((VX + 60)) $((VY + 40)) 640 480" "press, drag, release on the picture" $WM_LAG
  read -r VX VY _ _ <<<"$(place)"
  xdotool mousemove --sync 50 50
  sleep 0.5
  expect_place "$VX $VY 640 480" "the pointer moved after the drag"

  # The lower right corner of the border: 4 pixels wide.
  drag $((VX + 638)) $((VY + 478)) 40 30
  expect_place "$VX $VY 680 510" "a drag on the lower right corner" $WM_LAG
  local w h
  read -r _ _ w h <<<"$(place)"

  xdotool mousemove --sync $((VX + 300)) $((VY + 60)) click --repeat 2 --delay 100 1
  sleep 1
  expect_place "0 0 1024 768" "a double-click on the picture did not zoom"
  snap zoomed
  xdotool mousemove --sync 500 400 click --repeat 2 --delay 100 1
  sleep 1
  expect_place "$VX $VY $w $h" "a double-click on the zoomed picture did not put it back"

  # A right click on the picture brings the minimised panel back.
  xdotool windowminimize --sync "$PANEL"
  sleep 0.5
  ! shown "$PANEL_TITLE" || fail "the panel did not minimise"
  xdotool mousemove --sync $((VX + 300)) $((VY + 60)) click 3
  sleep 1
  shown "$PANEL_TITLE" || fail "a right click did not call the panel back"
  snap panel-back

  kill -TERM "$PID"
  expect_exit "SIGTERM"

  # No window manager (Qt asks which one there is when it starts): the program moves the window by
  # the drag of the picture or of the frame, and sizes it by the border; a click moves nothing.
  stop_wm
  start_and_wait second
  sleep 1
  read -r _ _ w h <<<"$(place)"
  click_and_leave $((VX + 300)) $((VY + 60))
  expect_place "$VX $VY $w $h" "without a window manager, a click on the picture moved the window"
  drag $((VX + 300)) $((VY + 60)) -50 30
  expect_place "$((VX - 50)) $((VY + 30)) $w $h" "without a window manager, a drag on the picture"
  drag $((VX - 50 + 300)) $((VY + 30 + 6)) 20 -20
  expect_place "$((VX - 30)) $((VY + 10)) $w $h" "without a window manager, a drag on the frame"
  read -r VX VY _ _ <<<"$(place)"
  drag $((VX + w - 2)) $((VY + h - 2)) -40 -30
  expect_place "$VX $VY $((w - 40)) $((h - 30))" "without a window manager, a drag on the lower right corner"
  kill -TERM "$PID"
  expect_exit "SIGTERM without a window manager"
  echo "window: ok"
}
e2e_main "$@"
