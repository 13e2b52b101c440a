#!/usr/bin/env bash
# The program as a package installs it: the files in their places, a valid desktop entry, and a
# command line answered without a display.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=$(dirname "${ORVANE_BIN:-$PWD/build/orvanetuner}")
PREFIX=$(mktemp -d)
trap 'rm -rf "$PREFIX"' EXIT
fail() { echo "install: $*" >&2; exit 1; }

desktop-file-validate dist/orvanetuner.desktop || fail "desktop entry does not validate"
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
BIN=$PREFIX/bin/orvanetuner
[ -x "$BIN" ] || fail "no bin/orvanetuner"
[ -f "$PREFIX/share/applications/orvanetuner.desktop" ] || fail "no desktop entry"
for n in 16 32 48 128 256; do
  png=$PREFIX/share/icons/hicolor/${n}x${n}/apps/orvanetuner.png
  [ "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "${n}x${n}" ] || fail "icon $png is not ${n}x${n}"
done
zcat "$PREFIX/share/man/man1/orvanetuner.1.gz" | grep -q '^\.TH ORVANETUNER 1 .*OrvaneTuner [0-9]' || fail "no man page"

# No display at all: what each command line answers, and its exit status.
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ASAN_OPTIONS=detect_leaks=0 "$@"; }
expect() {  # status, pattern on stdout+stderr, lines at most, command...
  local want=$1 pattern=$2 lines=$3; shift 3
  local out rc=0
  out=$(nodisplay "$@" 2>&1) || rc=$?
  [ "$rc" = "$want" ] || fail "$* exited with $rc, not $want: $out"
  grep -q -- "$pattern" <<<"$out" || fail "$* did not say '$pattern': $out"
  [ "$(wc -l <<<"$out")" -le "$lines" ] || fail "$* said more than $lines lines: $out"
}
expect 0 '^Usage: orvanetuner' 20 "$BIN" --help
expect 0 '^OrvaneTuner [0-9]' 1 "$BIN" --version
expect 2 'unknown option --channel' 20 "$BIN" --channel 7
expect 1 'no display' 1 "$BIN"
expect 1 'cannot open the display :97' 1 env DISPLAY=:97 "$BIN"
# The installed program finds its English module: on an English desktop its panel says so.
find "$PREFIX" -name LangDll.so | grep -q . || fail "no language module installed"
# Run by the check below under a virtual X server: the panel's title within ten seconds.
PANEL_TITLE='
  export ORVANE_CONFIG_DIR=$(mktemp -d) XDG_RUNTIME_DIR=$(mktemp -d) ORVANE_DEVICES=virtual ORVANE_MIXER=virtual
  chmod 700 "$XDG_RUNTIME_DIR"
  cd / && LC_ALL= LANG=en_US.UTF-8 ASAN_OPTIONS=detect_leaks=0 "$0" >/dev/null 2>&1 &
  for _ in $(seq 50); do
    xwininfo -root -tree | grep -q "\"Panel Window\"" && break
    sleep 0.2
  done
  xwininfo -root -tree | grep -q "\"Panel Window\""; found=$?
  kill $! 2>/dev/null; wait $! 2>/dev/null
  rm -rf "$ORVANE_CONFIG_DIR" "$XDG_RUNTIME_DIR"
  exit $found'
xvfb-run -a -s '-screen 0 1024x768x24' bash -c "$PANEL_TITLE" "$BIN" ||
  fail "the installed program is not in English on an English desktop"
echo "install: ok"
