#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the native
# sanitizer tests and, under Wine in a fresh prefix, the Windows tests.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/scripts/setup.sh"
"$top/scripts/build.sh" all

win=$top/build/win
export WINEPREFIX=$win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
rm -rf "$WINEPREFIX"
echo "Creating the Wine prefix for this run"
"$win/wine-run" cmd /c exit >/dev/null
trap 'wineserver -k 2>/dev/null || true' EXIT

# ctest keeps a skipped test's output to itself: tell why each one did not run.
skip_reasons() {
  awk '
    / Testing: / { name = $0; sub(/^[0-9]+\/[0-9]+ Testing: /, "", name) }
    reason_next { print "  skipped " name ": " $0; reason_next = 0 }
    /: Skipped$/ { reason_next = 1 }
    /: not run: / { reason = $0; sub(/^.*: not run: /, "", reason); print "  skipped " name ": " reason }
  ' "$1/Testing/Temporary/LastTest.log" 2>/dev/null || true
}

status=0
echo "== native tests (ASan, UBSan)"
ctest --test-dir "$top/build/native" --output-on-failure -j2 || status=1
skip_reasons "$top/build/native"
echo "== Windows tests under Wine"
ctest --test-dir "$win" --output-on-failure -j4 || status=1
skip_reasons "$win"
exit $status
