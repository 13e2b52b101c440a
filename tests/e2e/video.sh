#!/usr/bin/env bash
# The video window as a user sees it on a machine without a card: the framed, moving picture of
# the virtual card, zoomed and restored by double clicks.
set -euo pipefail
cd "$(dirname "$0")/../.."
BIN=${ORVANE_BIN:-$PWD/build/orvanetuner}
OUT=${ORVANE_E2E_OUT:-$PWD/build/e2e}
mkdir -p "$OUT"

pixel() { convert "$1" -format "%[pixel:p{$2,$3}]" info:; }

run() {
  LC_ALL= LANG=ko_KR.UTF-8 "$BIN" >"$OUT/video.log" 2>&1 &
  local pid=$!
  fail() { echo "FAIL: $*"; kill -9 $pid 2>/dev/null || true; exit 1; }
  for _ in $(seq 50); do
    xwininfo -root -tree | grep -q '"Orvane Tuner( WIN2000 )"' && break
    sleep 0.2
  done
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

if [ "${1:-}" = "--inner" ]; then
  export ORVANE_CONFIG_DIR=$(mktemp -d) XDG_RUNTIME_DIR=$(mktemp -d)
  export ORVANE_DEVICES=virtual ORVANE_MIXER=virtual LANG=C.UTF-8 LC_ALL=C.UTF-8
  chmod 700 "$XDG_RUNTIME_DIR"
  trap 'rm -rf "$ORVANE_CONFIG_DIR" "$XDG_RUNTIME_DIR"' EXIT
  run
else
  xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" --inner
fi
