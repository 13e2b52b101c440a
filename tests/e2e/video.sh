#!/usr/bin/env bash
# The video window as a user sees it on a machine without a card: the framed, moving picture of
# the virtual card, zoomed and restored by double clicks.
source "$(dirname "$0")/lib.bash"

run() {
  start_program video.log
  local pid=$PID
  wait_for_window "Orvane Tuner( WIN2000 )" || fail "no window \"Orvane Tuner( WIN2000 )\""
  sleep 2
  import -window root "$OUT/video-1.png"
  sleep 0.7
  import -window root "$OUT/video-2.png"
  # The frame at the window's corner, the fill colour inside the frame's band.
  [ "$(pixel "$OUT/video-1.png" 193 145)" != "srgb(0,0,0)" ] || fail "no frame at the window's corner"
  local fill; fill=$(pixel "$OUT/video-1.png" $((192 + 300)) $((144 + 16)))
  [ "$fill" = "srgb(135,161,110)" ] || fail "frame fill colour missing above the picture: $fill"
  # The picture starts at the inset (9, 18) and moves from frame to frame.
  local inside; inside=$(pixel "$OUT/video-1.png" $((192 + 9)) $((144 + 18)))
  [ "$inside" != "srgb(135,161,110)" ] || fail "no picture at the inset"
  local diff; diff=$(compare -metric AE -crop 622x446+201+162 "$OUT/video-1.png" "$OUT/video-2.png" null: 2>&1 || true)
  [ "${diff%% *}" -gt 0 ] || fail "the picture does not move"

  xdotool mousemove 400 300 click --repeat 2 --delay 80 1
  sleep 1
  xwininfo -root -tree | grep -q '"Orvane Tuner( WIN2000 )".* 1024x768+0+0' || fail "double click did not fill the screen"
  import -window root "$OUT/video-zoomed.png"
  xdotool mousemove 400 300 click --repeat 2 --delay 80 1
  sleep 1
  xwininfo -root -tree | grep -q '"Orvane Tuner( WIN2000 )".* 640x480+192+144' || fail "second double click did not restore"

  kill -TERM $pid
  wait $pid || fail "exit code $?"
  echo "video: ok"
}

e2e_main "$@"
