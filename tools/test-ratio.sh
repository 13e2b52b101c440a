#!/usr/bin/env bash
# Prints the size of the tests against the size of the code: non-blank lines of the C++ and shell
# sources under tests/ against those in the rest of the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
sources() { git ls-files -- '*.cpp' '*.h' '*.sh' '*.bash' | grep "$@" || true; }
count() { xargs -r cat | grep -cv '^[[:space:]]*$' || true; }
tests=$(sources '^tests/' | count)
code=$(sources -v '^tests/' | count)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d, code %d, ratio %.2f\n", t, c, t / c }'
