#!/usr/bin/env bash
# Runs a Windows program of the build under Wine with a display: Wine makes
# no top-level window without one, and a hidden top-level window is what
# hears of power events. The display is an Xvfb of its own on a free display
# number. Wine binds a prefix's desktop to the display of the first program
# its server runs, and the other tests share build/win/wineprefix without a
# display, so the program runs in a prefix of its own (made on first use)
# with a Wine server of its own; both the server and Xvfb are stopped at the
# end, by pid. The program sees TIDEWELL_DISPLAY=1.
# Usage: with_display.sh PREFIX PROGRAM [ARGUMENT...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 PREFIX PROGRAM [ARGUMENT...]" >&2; exit 2; }
prefix=$1
shift
command -v Xvfb >/dev/null || { echo "with_display.sh: Xvfb is missing: run scripts/setup.sh" >&2; exit 1; }
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='

work=$(mktemp -d)
xvfb=
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number and writes it to the descriptor given.
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || { echo "with_display.sh: Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.05
done
[ -s "$work/display" ] || { echo "with_display.sh: Xvfb gave no display number" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
fi
wineserver -p >/dev/null 2>&1 </dev/null
TIDEWELL_DISPLAY=1 wine "$@"
