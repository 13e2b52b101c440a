#!/usr/bin/env bash
# The video window as a user sees it on a machine without a card: the framed, moving picture of
# the virtual card, zoomed and restored by double clicks.
source "$(dirname "$0")/lib.bash"

run() {
  start_and_wait
  sleep 2
  snap video-1
  sleep 0.7
  snap video-2
  # The frame at the window's corner, the fill colour inside the frame's band.
  [ "$(pixel "$OUT/video-1.png" 193 145)" != "srgb(0,0,0)" ] || fail "no frame at the window's corner"
  local fill
  fill=$(pixel "$OUT/video-1.png" $((192 + 300)) $((144 + 16)))
  [ "$fill" = "srgb(135,161,110)" ] || fail "frame fill colour missing above the picture: $fill"
  # The picture starts at the inset (9, 18) and moves from frame to frame.
  [ "$(pixel "$OUT/video-1.png" $((192 + 9)) $((144 + 18)))" != "$fill" ] || fail "no picture at the inset"
  local diff
  diff=$(compare -metric AE -crop 622x446+201+162 "$OUT/video-1.png" "$OUT/video-2.png" null: 2>&1 || true)
  [ "${diff%% *}" -gt 0 ] || fail "the picture does not move"

  for want in "0 0 1024 768" "192 144 640 480"; do
    xdotool mousemove 400 300 click --repeat 2 --delay 80 1
    sleep 1
    local w
    w=$(window "$VIDEO_TITLE")
    [ "${w#* }" = "$want" ] || fail "a double click did not bring the video window to $want: $w"
    snap "video-$want"
  done
  kill -TERM "$PID"
  expect_exit "SIGTERM"
  echo "video: ok"
}
e2e_main "$@"
