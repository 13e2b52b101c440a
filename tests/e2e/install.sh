#!/usr/bin/env bash
# The program as a package installs it: the files in their places, a valid desktop entry and
# AppStream description, and a command line answered without a display.
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
  local metainfo=("$prefix"/share/metainfo/*.metainfo.xml)
  [ -f "${metainfo[0]}" ] || fail "no metainfo installed"
  appstreamcli validate --no-net "${metainfo[0]}" >"$OUT/appstream.txt" 2>&1 ||
    fail "the metainfo does not validate: $(cat "$OUT/appstream.txt")"
  # Every screenshot it names is one the screenshot script draws into docs/screenshots.
  local shot
  for shot in $(grep -o '<image>[^<]*</image>' "${metainfo[0]}" | sed -E 's|.*/([^/<]*)</image>|\1|'); do
    [ -f "docs/screenshots/$shot" ] || fail "the metainfo names $shot, which is not in docs/screenshots"
  done
  local man; man=$(zcat "$prefix/share/man/man1/orvanetuner.1.gz")
  grep -q '^\.TH ORVANETUNER 1 .*OrvaneTuner [0-9]' <<<"$man" || fail "no man page"
  grep -q '^\.SH KEYS' <<<"$man" || fail "the man page has no KEYS section"
  expect 0 '^Usage: orvanetuner' 40 "$bin" --help
  expect 0 'Alt+keypad +' 40 "$bin" --help
  expect 0 '^OrvaneTuner [0-9]' 1 "$bin" --version
  expect 2 'unknown option --channel' 40 "$bin" --channel 7
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

  # The Debian package: it brings a Korean font where one can be had, and the same files.
  local pkgdir; pkgdir=$(mktemp -d)
  (cd "$(dirname "$BIN")" && cpack -G DEB -B "$pkgdir") >"$OUT/cpack.txt" 2>&1 || fail "cpack failed: $(cat "$OUT/cpack.txt")"
  local deb=("$pkgdir"/*.deb)
  [ "$(dpkg-deb -f "${deb[0]}" Recommends)" = "fonts-nanum | fonts-noto-cjk" ] || fail "the package does not recommend a Korean font"
  # Recording needs the FFmpeg libraries the program loads only when first used.
  local needs; needs=$(dpkg-deb -f "${deb[0]}" Depends)
  for lib in libavcodec libavformat libswresample libavfilter libswscale libasound2; do
    grep -q "$lib" <<<"$needs" || fail "the package does not depend on $lib: $needs"
  done
  dpkg-deb -c "${deb[0]}" | grep -q '/usr/share/metainfo/.*\.metainfo\.xml$' || fail "the package has no metainfo"
  rm -rf "$pkgdir"
  echo "install: ok"
}

e2e_main "$@"
