#!/usr/bin/env bash
# The program as a user starts it under a virtual X server: both windows at their places, a second
# copy refused with its box, SIGTERM saving the placement.
source "$(dirname "$0")/lib.bash"

run() {
  start_program first.log
  local pid=$PID
  wait_for_window "판넬 윈도" || fail "no window \"판넬 윈도\""
  local tree; tree=$(xwininfo -root -tree)
  echo "$tree" | grep -q '"Orvane Tuner( WIN2000 )".* 640x480+192+144' || fail "video window not at (192,144) 640x480: $tree"
  echo "$tree" | grep -q '"판넬 윈도".* 550x150+237+309' || fail "panel not at (237,309) 550x150"
  import -window root "$OUT/startup.png" 2>/dev/null || true

  # A second copy shows its box and ends with 0 once the box is answered.
  LC_ALL= LANG=ko_KR.UTF-8 "$BIN" >"$OUT/second.log" 2>&1 &
  local second=$!
  local box=""
  for _ in $(seq 50); do
    box=$(xdotool search --onlyvisible --name '^Orvane Tuner Execute$' 2>/dev/null | head -1) && [ -n "$box" ] && break
    sleep 0.2
  done
  [ -n "$box" ] || fail "second copy showed no 'Orvane Tuner Execute' box"
  import -window root "$OUT/second-copy.png" 2>/dev/null || true
  xdotool windowfocus "$box" 2>/dev/null || true
  sleep 0.3
  xdotool key Return
  local rc=0
  wait $second || rc=$?
  [ $rc -eq 0 ] || fail "second copy exited with $rc"
  kill -0 $pid 2>/dev/null || fail "first copy ended"

  kill -TERM $pid
  rc=0
  wait $pid || rc=$?
  [ $rc -eq 0 ] || fail "first copy exited with $rc after SIGTERM"
  grep -q '"Video_width"=dword:00000280' "$ORVANE_CONFIG_DIR/registry.reg" || fail "placement not saved: $(cat "$ORVANE_CONFIG_DIR/registry.reg")"
  grep -q '"Panel_left"=dword:000000ed' "$ORVANE_CONFIG_DIR/registry.reg" || fail "panel placement not saved"
  echo "startup: ok"
}
e2e_main "$@"
