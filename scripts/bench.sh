#!/usr/bin/env bash
# The benchmark: check-cycle time against curl and a floor client, delivery to
# label of an account waiting in IDLE, how soon a silent path under it is
# noticed and its mail shown once the path is back, time on the host's thread in OnCreate
# and OnDestroy (also while a server talks on), and the processor time, memory
# and frame pace of animating items, also net of the stand-in host's
# journaling and with a badge. Sets up and builds what it needs, starts a
# private Dovecot, a silent server, a server that writes each reply in two
# pieces, a server that talks without pause, the black-hole proxy and a Wine server of its own
# (127.0.0.1 only), stops them by pid, and prints one table (see
# docs/performance.md).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  echo "usage: $0 [--rounds N] [--cpu-seconds S] [--only PART[,PART...]]" >&2
  echo "  defaults: 7 cycles or deliveries per figure, 30 s per CPU figure, every part;" >&2
  echo "  parts: cycles, two-piece, idle, dead-path, entries, teardown, animation" >&2
  exit 2
}
options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds | --cpu-seconds)
      [ $# -ge 2 ] && [[ $2 =~ ^[1-9][0-9]{0,3}$ ]] || { echo "bench: $1 needs a whole number from 1 to 9999" >&2; usage; }
      options+=("$1" "$2")
      shift 2 ;;
    --only)
      [ $# -ge 2 ] && [[ $2 =~ ^(cycles|two-piece|idle|dead-path|entries|teardown|animation)(,(cycles|two-piece|idle|dead-path|entries|teardown|animation))*$ ]] ||
        { echo "bench: --only needs parts separated by commas" >&2; usage; }
      options+=("$1" "$2")
      shift 2 ;;
    --help | -h) usage ;;
    *) echo "bench: unknown argument '$1'" >&2; usage ;;
  esac
done

"$top/scripts/setup.sh"
if ! output=$("$top/scripts/build.sh" win TidewellDocklet tidewell-host 2>&1) ||
  ! output=$({ cmake -S "$top/bench" -B "$top/build/bench/native" -G Ninja >/dev/null &&
               cmake --build "$top/build/bench/native"; } 2>&1); then
  echo "$output" >&2
  echo "bench: the build failed" >&2
  exit 1
fi

bench=$top/build/bench
mail=$bench/dovecot
export WINEPREFIX=$bench/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
wineserver_pid= silent_pid= two_piece_pid= talking_pid= blackhole_pid= dovecot_started= driver_pid=

stop() {
  if [ -n "$driver_pid" ]; then kill "$driver_pid" 2>/dev/null || true; fi
  if [ -n "$silent_pid" ]; then kill "$silent_pid" 2>/dev/null || true; fi
  if [ -n "$two_piece_pid" ]; then kill "$two_piece_pid" 2>/dev/null || true; fi
  if [ -n "$talking_pid" ]; then kill "$talking_pid" 2>/dev/null || true; fi
  if [ -n "$blackhole_pid" ]; then kill "$blackhole_pid" 2>/dev/null || true; fi
  if [ -n "$dovecot_started" ]; then "$top/scripts/dovecot.sh" stop "$mail" || true; fi
  if [ -n "$wineserver_pid" ]; then
    # Ends the Wine processes of this prefix with their server; the pid is the fallback.
    wineserver -k 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$wineserver_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$wineserver_pid" 2>/dev/null || true
  fi
}
trap stop EXIT
trap 'exit 130' INT TERM

rm -rf "$bench/run"
mkdir -p "$bench/run/built"
# Others may build in this tree meanwhile: every measurement uses this copy.
cp "$top/dist/TidewellDocklet/"{TidewellDocklet.dll,NoMail.png,NewMail.png} \
  "$top/build/win/host/tidewell-host.exe" "$bench/run/built/"
# A prefix of its own: its Wine server serves the benchmark alone, so its
# processor time can be read, and tests running meanwhile do not share it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "bench: making the Wine prefix (once)" >&2
  wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
fi
wineserver -f -p >/dev/null 2>&1 </dev/null &
wineserver_pid=$!
sleep 0.2
if ! kill -0 "$wineserver_pid" 2>/dev/null; then
  wineserver_pid=
  echo "bench: a Wine server of $WINEPREFIX is already running (a run that was killed?); stop it with" >&2
  echo "  WINEPREFIX=$WINEPREFIX wineserver -k" >&2
  exit 1
fi
wine cmd /c exit >/dev/null 2>&1 </dev/null || true

dovecot_started=1
"$top/scripts/dovecot.sh" start "$mail" >/dev/null
# shellcheck source=/dev/null
. "$mail/ports.env"

python3 -B "$top/bench/silent_server.py" > "$bench/run/silent.port" &
silent_pid=$!
for _ in $(seq 50); do [ -s "$bench/run/silent.port" ] && break; sleep 0.1; done
silent_port=$(head -n 1 "$bench/run/silent.port")
[ -n "$silent_port" ] || { echo "bench: the silent server did not start" >&2; exit 1; }

# Replies in two pieces with Nagle on, with the Dovecot's certificate, so the same CA file serves.
/usr/bin/python3 -B "$top/bench/two_piece_server.py" "$mail/tls/server.pem" "$mail/tls/server.key" \
  --trace "$bench/run/two-piece-trace.txt" > "$bench/run/two-piece.ports" &
two_piece_pid=$!
for _ in $(seq 50); do [ -s "$bench/run/two-piece.ports" ] && break; sleep 0.1; done
two_piece_ports=$(head -n 1 "$bench/run/two-piece.ports")
[[ $two_piece_ports =~ ^[0-9]+\ [0-9]+\ [0-9]+\ [0-9]+\ [0-9]+$ ]] ||
  { echo "bench: the two-piece server did not start" >&2; exit 1; }

# Servers that talk on while an item is removed: IDLE lines without pause, a 12 MB UIDL listing.
python3 -B "$top/bench/talking_server.py" --trace "$bench/run/talking-trace.txt" > "$bench/run/talking.ports" &
talking_pid=$!
for _ in $(seq 50); do [ -s "$bench/run/talking.ports" ] && break; sleep 0.1; done
talking_ports=$(head -n 1 "$bench/run/talking.ports")
[[ $talking_ports =~ ^[0-9]+\ [0-9]+$ ]] || { echo "bench: the talking server did not start" >&2; exit 1; }

# Routes to Dovecot that can stop forwarding without closing (a router that forgets a connection).
python3 -B "$top/tests/support/blackhole_proxy.py" serve > "$bench/run/blackhole.port" &
blackhole_pid=$!
for _ in $(seq 50); do [ -s "$bench/run/blackhole.port" ] && break; sleep 0.1; done
blackhole_port=$(head -n 1 "$bench/run/blackhole.port")
[[ $blackhole_port =~ ^[0-9]+$ ]] || { echo "bench: the black-hole proxy did not start" >&2; exit 1; }

# In the background, so that a signal reaches the trap at once rather than
# when the driver ends; the trap stops the driver too.
python3 -B "$top/bench/run.py" "${options[@]}" \
  --work "$bench/run" --host-exe "$bench/run/built/tidewell-host.exe" \
  --dist "$bench/run/built" --floor "$bench/native/tidewell-floor" \
  --dovecot-script "$top/scripts/dovecot.sh" --dovecot-dir "$mail" \
  --imap-port "$IMAP_PORT" --pop3-port "$POP3_PORT" --silent-port "$silent_port" \
  --two-piece-ports "$two_piece_ports" --two-piece-trace "$bench/run/two-piece-trace.txt" \
  --talking-ports "$talking_ports" --talking-trace "$bench/run/talking-trace.txt" \
  --blackhole-port "$blackhole_port" \
  --imaps-port "$IMAPS_PORT" --pop3s-port "$POP3S_PORT" --ca-file "$mail/tls/ca.pem" \
  --wineprefix "$WINEPREFIX" --wineserver-pid "$wineserver_pid" &
driver_pid=$!
status=0
wait "$driver_pid" || status=$?
driver_pid=
exit "$status"
