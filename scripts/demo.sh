#!/usr/bin/env bash
# Runs the docklet in the stand-in dock host against a private mail server
# (Dovecot on 127.0.0.1) and prints what the dock item shows as it changes.
# New mail arrives during the run; Ctrl-C or TERM ends it as the last steps
# do: the host removes the item, then the server stops.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/scripts/setup.sh"
echo "demo: building the docklet and the stand-in host (a first build takes a few minutes)"
if ! output=$("$top/scripts/build.sh" win TidewellDocklet tidewell-host standin_browser 2>&1); then
  echo "$output" >&2
  echo "demo: the build failed" >&2
  exit 1
fi

demo=$top/build/demo
folder=$demo/Docklets/TidewellDocklet
mail=$demo/dovecot
dovecot=$top/scripts/dovecot.sh
delivery=
host=
interrupted=

stop() {
  [ -n "$delivery" ] && kill "$delivery" 2>/dev/null || true
  "$dovecot" stop "$mail" || true
}
trap stop EXIT
# While the host runs, a signal asks it to end its steps (it then removes the
# item); the server stops once it is gone.
interrupt() {
  interrupted=1
  [ -n "$host" ] || exit 130
  echo "demo: interrupted: removing the item, then stopping the server"
  kill -INT "$host" 2>/dev/null || true
}
trap interrupt INT TERM

# An instance left by a demo that was killed outright goes first: as root its
# files live outside $demo.
"$dovecot" stop "$mail"
rm -rf "$demo"
mkdir -p "$folder"
cp "$top"/dist/TidewellDocklet/{TidewellDocklet.dll,NoMail.png,NewMail.png} "$folder/"
# Stands in for the user's browser: follows the sign-in page's redirect back
# to the docklet, as a user who approves would.
cp "$top/build/win/tests/support/standin_browser.exe" "$demo/"

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
# The OAuth2 account: a token from the stand-in authorization server, which
# approves whoever the sign-in page names.
"$dovecot" user "$mail" oauthdemo "never used, this account signs in with OAuth2"
"$dovecot" deliver "$mail" oauthdemo 1

windows() { printf 'Z:%s' "${1//\//\\}"; }
cat > "$folder/TidewellDocklet.ini" <<INI
[Common]
Debug=1
NbAccount=3
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
Idle=1

[account1]
Type=POP
Address=localhost
Port=$POP3_PORT
Login=pop
Password=pop password

[account2]
Type=IMAP
Address=127.0.0.1
Security=tls
Port=$IMAPS_PORT
CAFile=demo-ca.pem
Login=oauthdemo
Auth=oauth2
OAuthProvider=custom
OAuthClientId=tidewell-test-client
OAuthAuthorizeUrl=http://127.0.0.1:$OAUTH_HTTP_PORT/authorize
OAuthTokenUrl=https://127.0.0.1:$OAUTH_HTTPS_PORT/token
OAuthScope=mail offline_access
OAuthBrowser="$(windows "$demo/standin_browser.exe")" %s
INI

# How long the item is watched after the demo's own delivery showed, so that
# mail delivered by hand meanwhile shows too (two checks at least).
watch=25
picture=$(windows "$demo/item.png")
cat <<TEXT
Mail server: Dovecot on 127.0.0.1, IMAPS port $IMAPS_PORT (user demo: 2 unread, 3 read),
             POP3 port $POP3_PORT (user pop: 1 message), IMAPS for oauthdemo (1 unread)
The IMAP account is checked over TLS (Security=tls): the server's certificate comes
from a test CA made for this demo, which the account trusts through CAFile=demo-ca.pem;
the POP3 account is checked in clear. Debug.log shows the TLS line of each connection.
The third account signs in with OAuth2 (Auth=oauth2) at a stand-in authorization server
(127.0.0.1 port $OAUTH_HTTP_PORT, tokens over HTTPS on $OAUTH_HTTPS_PORT): the item first
shows "Click to sign in" beside the other accounts' count; the demo clicks, a stand-in
browser approves, and the account counts with its token (SASL XOAUTH2; Debug.log shows
"<hidden>" in its place).
Docklet folder: $folder (checks every 10 s; the first IMAP account waits in IDLE, so
             mail delivered to it shows within a second, without waiting for a check)
Once the item shows a count, the demo delivers 2 more messages, then keeps watching
for $watch s after the new count shows; to deliver more yourself meanwhile:
  $dovecot deliver $mail demo 1
TEXT
# Two more messages a few seconds after the item showed its first count
# (Wine's first start alone can take longer than a fixed pause).
(
  for _ in $(seq 1500); do
    # The first change asks for the sign-in, the second is the count after it.
    reached=$(grep -c 'waitchange.* reached' "$demo/journal.txt" 2>/dev/null || true)
    [ "${reached:-0}" -ge 2 ] && break
    sleep 0.2
  done
  sleep 3
  "$dovecot" deliver "$mail" demo 2 && echo "-- 2 new messages delivered to demo's inbox"
) &
delivery=$!
[ -f "$top/build/win/wineprefix/system.reg" ] ||
  echo "demo: starting Wine (its first start makes build/win/wineprefix: a minute)"

# Each count is awaited as a change from the one before, passing over the
# check's own label, so mail delivered by hand never stalls the demo; the
# picture is saved once it is a frame of the new-mail strip, and the item is
# watched a while longer, every change printed, before the last steps. The host runs in
# a session of its own, so that Ctrl-C and TERM reach it only as the INT this
# script sends.
setsid "$top/build/win/wine-run" "$top/build/win/host/tidewell-host.exe" --print \
  --journal "$(windows "$demo/journal.txt")" \
  create 1 "$(windows "$demo")\\" 'Docklets\TidewellDocklet\' \
  waitchange 1 "Checking mail..." 30000 click 1 \
  waitchange 1 "Checking mail..." 30000 \
  waitchange 1 "Checking mail..." 30000 waitframe 1 NewMail.png 5000 save 1 "$picture" \
  wait $((watch * 1000)) hold 1 wait 1500 click 1 wait 1000 destroy 1 &
host=$!
status=0
while :; do
  wait "$host" && status=0 || status=$?
  kill -0 "$host" 2>/dev/null || break
done
host=
[ -z "$interrupted" ] || exit 130
wait "$delivery" 2>/dev/null || true
delivery=
cat <<TEXT

The item's picture: $demo/item.png
Every call between host and docklet: $demo/journal.txt
The docklet's debug log: $folder/Debug.log
TEXT
if [ "$status" -ne 0 ]; then
  echo "demo: the stand-in host ended with status $status: see the journal" >&2
  exit "$status"
fi
