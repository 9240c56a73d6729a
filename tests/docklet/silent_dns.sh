#!/usr/bin/env bash
# Runs a command in a private mount namespace whose resolver configuration
# points at a DNS server on 127.0.0.1 that never answers, so that a name
# lookup blocks for a long time without a single packet leaving the machine.
# The command sees TIDEWELL_SILENT_DNS=1.
# Usage: silent_dns.sh COMMAND [ARGUMENT...]
# Exits 77 (a skipped test for ctest) when not run as root.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGUMENT...]" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ]; then
  echo "silent_dns.sh: not run: silent_dns.sh gives the test a name server on 127.0.0.1 that never answers, so that a name lookup blocks, and needs root for it, to listen on port 53 and to mount over /etc/resolv.conf in a namespace of its own" >&2
  exit 77
fi

work=$(mktemp -d)
sink=
cleanup() {
  [ -n "$sink" ] && kill "$sink" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:1\n' > "$work/resolv.conf"
/usr/bin/python3 - "$work/ready" <<'PY' &
import socket, sys
sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sink.bind(("127.0.0.1", 53))
open(sys.argv[1], "w").close()
while True:
    sink.recvfrom(4096)  # swallowed: no answer ever comes
PY
sink=$!
for _ in $(seq 50); do
  [ -e "$work/ready" ] && break
  kill -0 "$sink" 2>/dev/null || { echo "silent_dns.sh: cannot listen on 127.0.0.1:53" >&2; exit 1; }
  sleep 0.1
done
[ -e "$work/ready" ] || { echo "silent_dns.sh: the silent DNS server did not start" >&2; exit 1; }

TIDEWELL_SILENT_DNS=1 unshare --mount sh -c 'mount --bind "$0" /etc/resolv.conf && exec "$@"' \
  "$work/resolv.conf" "$@"
