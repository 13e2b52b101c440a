# Shared by the end-to-end scripts: the program to run, where pictures go, and a virtual X server
# with a fresh settings folder for each script. A script sources this, defines run(), and ends
# with `e2e_main "$@"`.
set -euo pipefail
E2E_SCRIPT=$(realpath "$0")
cd "$(dirname "$0")/../.."
BIN=${ORVANE_BIN:-$PWD/build/orvanetuner}
OUT=${ORVANE_E2E_OUT:-$PWD/build/e2e}
mkdir -p "$OUT"

if [ "${1:-}" = "--inner" ]; then
  export ORVANE_CONFIG_DIR=$(mktemp -d) XDG_RUNTIME_DIR=$(mktemp -d)
  # The tools run in a plain UTF-8 locale; the program itself gets a Korean one.
  export ORVANE_DEVICES=virtual ORVANE_MIXER=virtual LANG=C.UTF-8 LC_ALL=C.UTF-8
  chmod 700 "$XDG_RUNTIME_DIR"
  trap 'rm -rf "$ORVANE_CONFIG_DIR" "$XDG_RUNTIME_DIR"' EXIT
fi

PID=0
# Stops the script with a screenshot of the moment and the program killed.
fail() {
  echo "FAIL: $*"
  import -window root "$OUT/fail-$(basename "$E2E_SCRIPT" .sh).png" 2>/dev/null || true
  [ "$PID" -ne 0 ] && kill -9 "$PID" 2>/dev/null || true
  exit 1
}

# Starts the program in Korean, its output in $OUT/<log>; its pid in PID.
start_program() {  # log
  LC_ALL= LANG=ko_KR.UTF-8 "$BIN" >"$OUT/$1" 2>&1 &
  PID=$!
}

# Waits until a window with exactly this title exists.
wait_for_window() {  # title
  for _ in $(seq 50); do
    xwininfo -root -tree | grep -q "\"$1\"" && return 0
    sleep 0.2
  done
  return 1
}

# Colour of a screenshot's pixel, as srgb(r,g,b).
pixel() { convert "$1" -format "%[pixel:p{$2,$3}]" info:; }

e2e_main() {
  if [ "${1:-}" = "--inner" ]; then
    run
  else
    xvfb-run -a -s '-screen 0 1024x768x24' bash "$E2E_SCRIPT" --inner
  fi
}
