#!/usr/bin/env bash
# Runs the docklet in the stand-in dock host against a private mail server
# (Dovecot on 127.0.0.1) and prints what the dock item shows as it changes.
# New mail arrives during the run; Ctrl-C ends it and stops the server.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/scripts/setup.sh"
if ! output=$("$top/scripts/build.sh" win TidewellDocklet tidewell-host 2>&1); then
  echo "$output" >&2
  echo "demo: the build failed" >&2
  exit 1
fi

demo=$top/build/demo
folder=$demo/Docklets/TidewellDocklet
mail=$demo/dovecot
dovecot=$top/scripts/dovecot.sh
delivery=

stop() {
  [ -n "$delivery" ] && kill "$delivery" 2>/dev/null || true
  "$dovecot" stop "$mail" || true
}
trap stop EXIT
trap 'exit 130' INT TERM

rm -rf "$demo"
mkdir -p "$folder"
cp "$top"/dist/TidewellDocklet/{TidewellDocklet.dll,NoMail.png,NewMail.png} "$folder/"

"$dovecot" start "$mail" >/dev/null
# shellcheck source=/dev/null
. "$mail/ports.env"
# The IMAP account goes over TLS, trusting the test CA that the server's start
# made, as a user trusts their own CA: a copy in the docklet folder, in CAFile.
cp "$mail/tls/ca.pem" "$folder/demo-ca.pem"
"$dovecot" user "$mail" demo "demo password"
"$dovecot" user "$mail" pop "pop password"
"$dovecot" deliver "$mail" demo 2
"$dovecot" deliver "$mail" demo 3 seen
"$dovecot" deliver "$mail" pop 1

cat > "$folder/TidewellDocklet.ini" <<INI
[Common]
Debug=1
NbAccount=2
DelaySecond=10
TimeoutSecond=10
Link=cmd.exe /c echo The click runs the Link command: this is where the mail program would start.
stringCheck=Checking mail...
stringNoMsg=No new mail
stringOneMsg=1 new message
stringHaveMsg=%d new messages

[account0]
Type=IMAP
Address=127.0.0.1
Security=tls
Port=$IMAPS_PORT
CAFile=demo-ca.pem
Login=demo
Password=demo password

[account1]
Type=POP
Address=localhost
Port=$POP3_PORT
Login=pop
Password=pop password
INI

windows() { printf 'Z:%s' "${1//\//\\}"; }
picture=$(windows "$demo/item.png")
cat <<TEXT
Mail server: Dovecot on 127.0.0.1, IMAPS port $IMAPS_PORT (user demo: 2 unread, 3 read),
             POP3 port $POP3_PORT (user pop: 1 message)
The IMAP account is checked over TLS (Security=tls): the server's certificate comes
from a test CA made for this demo, which the account trusts through CAFile=demo-ca.pem;
the POP3 account is checked in clear. Debug.log shows the TLS line of each connection.
Docklet folder: $folder (checks every 10 s)
In a while the demo delivers 2 more messages; to deliver more yourself:
  $dovecot deliver $mail demo 1
TEXT
(sleep 8 && "$dovecot" deliver "$mail" demo 2 && echo "-- 2 new messages delivered to demo's inbox") &
delivery=$!

"$top/build/win/wine-run" "$top/build/win/host/tidewell-host.exe" --print \
  --journal "$(windows "$demo/journal.txt")" \
  create 1 "$(windows "$demo")\\" 'Docklets\TidewellDocklet\' \
  waitlabel 1 "3 new messages" 30000 save 1 "$picture" \
  waitlabel 1 "5 new messages" 30000 save 1 "$picture" \
  hold 1 wait 1500 click 1 wait 1000 destroy 1
wait "$delivery" 2>/dev/null || true
delivery=
cat <<TEXT

The item's picture: $demo/item.png
Every call between host and docklet: $demo/journal.txt
The docklet's debug log: $folder/Debug.log
TEXT
