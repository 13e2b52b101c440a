#!/usr/bin/env bash
# Program CPU of the live picture zoomed to the whole screen, as a user has it: each program given
# starts on the virtual card under Xvfb (1280x1024) with Openbox, a double-click on the picture zooms
# the video window, and the program's user and system time is read from /proc over a stretch of
# seconds. The programs take turns, so that what else the machine does falls on all of them alike.
# Usage: bash tools/preview-cpu.sh [-d] [-r runs] [-s seconds] [program...]
#   -d  DeinterlacePreview=1; programs default to build/orvanetuner. Screenshots go to build/preview-cpu,
#   and with PREVIEW_CPU_PERF=1 in the environment a perf profile of each run beside them (perf record's
#   options from PREVIEW_CPU_PERF_ARGS, -g by default).
set -euo pipefail
SELF=$(realpath "$0")
ROOT=$(dirname "$SELF")/..
if [ -z "${PREVIEW_CPU_INNER:-}" ]; then
  DEINTERLACE=0 RUNS=3 SECONDS_=20
  while getopts dr:s: o; do
    case $o in
      d) DEINTERLACE=1 ;;
      r) RUNS=$OPTARG ;;
      s) SECONDS_=$OPTARG ;;
      *) sed -n '6,10p' "$SELF" >&2; exit 2 ;;
    esac
  done
  shift $((OPTIND - 1))
  [ $# -gt 0 ] || set -- "$ROOT/build/orvanetuner"
  BINS=()
  for b in "$@"; do
    [ -x "$b" ] || { echo "preview-cpu: no program $b" >&2; exit 1; }
    BINS+=("$(realpath "$b")")
  done
  export PREVIEW_CPU_INNER=1 DEINTERLACE RUNS SECONDS_
  exec xvfb-run -a -s '-screen 0 1280x1024x24' bash "$SELF" "${BINS[@]}"
fi

# The end-to-end scripts' looks and moves (window, start_and_wait, start_wm); their OUT is ours.
ORVANE_E2E_OUT=$ROOT/build source "$ROOT/tests/e2e/lib.bash"
export ORVANE_DEVICES=virtual ORVANE_MIXER=virtual LANG=C.UTF-8 LC_ALL=C.UTF-8
TICK=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }  # user + system, all threads

# One run of one program: prints its CPU in ms a second.
measure() {  # program name
  BIN=$1
  export ORVANE_CONFIG_DIR XDG_RUNTIME_DIR HOME
  ORVANE_CONFIG_DIR=$(mktemp -d) XDG_RUNTIME_DIR=$(mktemp -d) HOME=$(mktemp -d)
  chmod 700 "$XDG_RUNTIME_DIR"
  printf '[orvane]\nDeinterlacePreview=%s\n' "$DEINTERLACE" >"$ORVANE_CONFIG_DIR/win.ini"
  start_and_wait "$2"
  sleep 1
  xdotool mousemove --sync $((VX + 300)) $((VY + 60)) click --repeat 2 --delay 100 1
  sleep 2
  local place
  place=$(window "$VIDEO_TITLE" | cut -d' ' -f2-)
  [ "$place" = "0 0 1280 1024" ] || fail "$2: the video window did not zoom (it is at $place)"
  xdotool mousemove --sync 1270 1010
  sleep 1
  local t0 t1
  local perf=0
  [ -n "${PREVIEW_CPU_PERF:-}" ] && { perf record -q ${PREVIEW_CPU_PERF_ARGS:--g} -o "$OUT/$2.perf" -p "$PID" >/dev/null 2>&1 & perf=$!; }
  t0=$(cpu_ticks "$PID")
  sleep "$SECONDS_"
  t1=$(cpu_ticks "$PID")
  [ "$perf" -ne 0 ] && { kill -INT "$perf"; wait "$perf" || true; }
  snap "$2"
  kill -TERM "$PID"
  expect_exit "$2"
  rm -rf "$ORVANE_CONFIG_DIR" "$XDG_RUNTIME_DIR" "$HOME"
  awk -v d=$((t1 - t0)) -v t="$TICK" -v s="$SECONDS_" 'BEGIN { printf "%.1f", d * 1000 / t / s }'
}

start_wm
echo "preview-cpu: DeinterlacePreview=$DEINTERLACE, ${SECONDS_} s zoomed to 1280x1024, load $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A all
for run in $(seq "$RUNS"); do
  i=0
  for bin in "$@"; do
    i=$((i + 1))
    ms=$(measure "$bin" "p$i-run$run")
    all[$i]+="$ms "
    echo "run $run, program $i ($bin): $ms ms of CPU a second (load $(cut -d' ' -f1 /proc/loadavg))"
  done
done
i=0
for bin in "$@"; do
  i=$((i + 1))
  echo "program $i: ${all[$i]}ms/s, median $(tr ' ' '\n' <<<"${all[$i]}" | grep . | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}') ($bin)"
done
stop_wm
