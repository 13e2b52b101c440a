#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz, clang) in build-fuzz and runs each for a while over a
# copy of its seed corpus, niced, two at a time. ./test runs them for 30 s each.
#
#   tools/fuzz.sh [seconds per target, default 600] [target ...]   (registry profile carddesc v4l2)
#
# A finding is kept as build-fuzz/findings/<target>-crash-<hash> (or -leak-, -timeout-: an input
# that holds a target 15 s, far beyond the milliseconds one takes even niced on a busy machine) and
# ends the script with its reproduction command. New inputs the runs found are left in the
# copy, whose folder is printed; the corpus in tests/fuzz/corpus/ is only ever changed by hand.
# ORVANE_BUILD_LOCK=<file> builds under flock on that file (on a shared machine).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(registry profile carddesc v4l2)

lock=()
[ -n "${ORVANE_BUILD_LOCK:-}" ] && lock=(flock "$ORVANE_BUILD_LOCK")
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_FUZZ=ON \
  -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
"${lock[@]}" cmake --build build-fuzz --target fuzzers

work=$(mktemp -d /tmp/orvane-fuzz.XXXXXX)
mkdir -p build-fuzz/findings
# The program's own log lines (a malformed file set aside, a card call refused) would flood the
# output: the targets' stderr is closed (-close_fd_mask=2); libFuzzer and the sanitizers still report.
run() {
  local t=$1
  mkdir -p "$work/$t"
  cp tests/fuzz/corpus/"$t"/* "$work/$t/"
  local opts=()
  [ -f tests/fuzz/"$t".dict ] && opts=(-dict=tests/fuzz/"$t".dict)
  # A driver's answers take a few hundred bytes before its first buffer: no growing from tiny inputs.
  # Its streaming thread leaves allocations of the sanitizers' own across runs, so that leak checks
  # would scan the heap after nearly every one (ten times slower): the seam tests check leaks instead.
  [ "$t" = v4l2 ] && opts+=(-len_control=0 -detect_leaks=0)
  nice -n 19 build-fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=15 -close_fd_mask=2 -print_final_stats=1 \
    "${opts[@]}" -artifact_prefix=build-fuzz/findings/"$t"- "$work/$t" >"$work/$t.log" 2>&1
}

failed=()
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  for t in "${targets[@]:i:2}"; do
    run "$t" &
    pids+=("$!:$t")
  done
  for p in "${pids[@]}"; do
    t=${p#*:}
    if wait "${p%%:*}"; then
      runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log")
      echo "fuzz $t: ${runs:-?} runs in ${seconds} s, no finding"
    else
      failed+=("$t")
      echo "fuzz $t: FINDING (log: $work/$t.log)"
      grep -E "^==[0-9]+==ERROR|SUMMARY|^artifact_prefix|Test unit written" "$work/$t.log" || tail -20 "$work/$t.log"
      for a in $(sed -n 's/.*Test unit written to \(.*\)/\1/p' "$work/$t.log"); do
        echo "  reproduce: build-fuzz/fuzz/fuzz_$t $a"
      done
    fi
  done
done
echo "corpora and logs: $work"
[ ${#failed[@]} -eq 0 ]
