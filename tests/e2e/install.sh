#!/usr/bin/env bash
# The program as a package installs it: the files in their places, a valid desktop entry, and a
# command line answered without a display.
source "$(dirname "$0")/lib.bash"

# Without any display: a command line's exit status and what it says (pattern, at most n lines).
expect() {  # status pattern lines command...
  local want=$1 pattern=$2 lines=$3 out rc=0
  shift 3
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ASAN_OPTIONS=detect_leaks=0 "$@" 2>&1) || rc=$?
  [ "$rc" = "$want" ] || fail "$* exited with $rc, not $want: $out"
  grep -q -- "$pattern" <<<"$out" || fail "$* did not say '$pattern': $out"
  [ "$(wc -l <<<"$out")" -le "$lines" ] || fail "$* said more than $lines lines: $out"
}

run() {
  desktop-file-validate dist/orvanetuner.desktop || fail "desktop entry does not validate"
  local prefix; prefix=$(mktemp -d)
  cmake --install "$(dirname "$BIN")" --prefix "$prefix" >/dev/null
  local bin=$prefix/bin/orvanetuner
  [ -x "$bin" ] && [ -f "$prefix/share/applications/orvanetuner.desktop" ] || fail "no program or desktop entry"
  for n in 16 32 48 128 256; do
    local png=$prefix/share/icons/hicolor/${n}x${n}/apps/orvanetuner.png
    [ "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "${n}x${n}" ] || fail "icon $png is not ${n}x${n}"
  done
  zcat "$prefix/share/man/man1/orvanetuner.1.gz" | grep -q '^\.TH ORVANETUNER 1 .*OrvaneTuner [0-9]' || fail "no man page"
  expect 0 '^Usage: orvanetuner' 20 "$bin" --help
  expect 0 '^OrvaneTuner [0-9]' 1 "$bin" --version
  expect 2 'unknown option --channel' 20 "$bin" --channel 7
  expect 1 'no display' 1 "$bin"
  expect 1 'cannot open the display :97' 1 env DISPLAY=:97 "$bin"
  # The installed program finds its English module: on an English desktop its panel says so.
  find "$prefix" -name LangDll.so | grep -q . || fail "no language module installed"
  (cd / && LC_ALL= LANG=en_US.UTF-8 exec "$bin" >"$OUT/english.log" 2>&1) &
  PID=$!
  wait_window "Panel Window" >/dev/null || fail "the installed program is not in English on an English desktop"
  kill -TERM "$PID"
  expect_exit "the installed program in English"
  rm -rf "$prefix"
}

e2e_main "$@"
