#!/usr/bin/env bash
# Makes the README's pictures of the dock item, as the stand-in host saves
# them (the current frame with the label under it): docs/item-no-mail.png
# with no account to check, and docs/item-new-mail.png after a check that
# found mail on a tiny IMAP server of its own (python3, 127.0.0.1 only), then
# the same with Badge=1 (docs/item-badge.png); both new-mail pictures also
# shrunk to 64 and 48 pixels as a dock shows them (-64.png, -48.png).
# Usage: scripts/readme-pictures.sh [BUILD_DIR]   (default: build/win, made by scripts/build.sh)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

if [ $# -gt 1 ]; then
  echo "usage: $0 [BUILD_DIR]" >&2
  exit 2
fi
if [ $# -eq 1 ]; then
  build=$(cd "$1" && pwd)
  cmake --build "$build" --target TidewellDocklet tidewell-host >/dev/null
else
  "$top/scripts/setup.sh"
  build=$top/build/win
  "$top/scripts/build.sh" win TidewellDocklet tidewell-host >/dev/null
fi

work=$top/build/readme-pictures
folder=$work/TidewellDocklet
server=
stop() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
}
trap stop EXIT

rm -rf "$work"
mkdir -p "$folder" "$top/docs"
cp "$top"/dist/TidewellDocklet/{TidewellDocklet.dll,NoMail.png,NewMail.png} "$folder/"

windows() { printf 'Z:%s' "${1//\//\\}"; }

# Shows one item with the given settings until its label reads LABEL, waits
# WAIT ms, then saves its picture at each of the SIDES given (128 as the
# frame is); fails when the label never comes or the frame saved is not one
# of STRIP ("badged": a new-mail frame with the count drawn on, of no strip).
picture() {
  local name=$1 label=$2 wait=$3 strip=$4 settings=$5 sides=${6:-128}
  printf '%s' "$settings" > "$folder/TidewellDocklet.ini"
  local journal=$work/$name.journal.txt
  local saves=() side
  for side in $sides; do
    if [ "$side" = 128 ]; then
      saves+=(save 1 "$(windows "$top/docs/$name.png")")
    else
      saves+=(save 1 "$(windows "$top/docs/$name-$side.png")" "$side")
    fi
  done
  "$build/wine-run" "$build/host/tidewell-host.exe" --journal "$(windows "$journal")" \
    create 1 "$(windows "$work")\\" "TidewellDocklet\\" \
    waitlabel 1 "$label" 20000 wait "$wait" "${saves[@]}" destroy 1
  if ! grep -q "waitlabel.*reached" "$journal"; then
    echo "readme-pictures: the item never showed \"$label\"; see $journal" >&2
    exit 1
  fi
  local saved
  saved=$(awk -F'\t' '$4 == "DockletSetImage" { shown = $5 } $4 == "save" { print shown; exit }' "$journal")
  if [ "$strip" = badged ]; then
    if [[ "$saved" == *" frame="* ]]; then
      echo "readme-pictures: the picture saved has no badge; see $journal" >&2
      exit 1
    fi
  elif [[ "$saved" != *" frame=$strip#"* ]]; then
    echo "readme-pictures: the picture saved is no frame of $strip; see $journal" >&2
    exit 1
  fi
  for side in $sides; do
    [ "$side" = 128 ] && echo "docs/$name.png" || echo "docs/$name-$side.png"
  done
}

picture item-no-mail "No new mail" 300 NoMail.png "$(printf '%s\r\n' '[Common]' 'NbAccount=0' \
  'stringNoMsg=No new mail')"

# Answers every check with three unseen messages. It prints its port once it
# listens.
python3 -u - > "$work/imap-port" <<'PY' &
import socket

listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(4)
print(listener.getsockname()[1])
answers = {
    "LOGIN": "{tag} OK Logged in\r\n",
    "EXAMINE": "* 3 EXISTS\r\n{tag} OK [READ-ONLY] Examine completed\r\n",
    "SEARCH": "* SEARCH 1 2 3\r\n{tag} OK Search completed\r\n",
    "LOGOUT": "* BYE Logging out\r\n{tag} OK Logout completed\r\n",
}
while True:
    client, _ = listener.accept()
    with client, client.makefile("rb") as lines:
        client.sendall(b"* OK [CAPABILITY IMAP4rev1] Ready\r\n")
        for line in lines:
            words = line.decode("latin-1").split()
            if len(words) < 2:
                break
            answer = answers.get(words[1].upper(), "{tag} BAD Unknown command\r\n")
            client.sendall(answer.format(tag=words[0]).encode())
            if words[1].upper() == "LOGOUT":
                break
PY
server=$!
for _ in $(seq 50); do
  [ -s "$work/imap-port" ] && break
  sleep 0.1
done
port=$(head -n1 "$work/imap-port")
if [ -z "$port" ]; then
  echo "readme-pictures: the IMAP server did not start" >&2
  exit 1
fi

# The new-mail strip opens with the envelope's hop: 450 ms in, it is at the top.
account=$(printf '%s\r\n' 'NbAccount=1' 'stringCheck=Checking mail...' 'stringNoMsg=No new mail' \
  'stringOneMsg=1 new message' 'stringHaveMsg=%d new messages' '[account0]' 'Type=IMAP' \
  'Address=127.0.0.1' "Port=$port" 'Login=someone' 'Password=secret')
picture item-new-mail "3 new messages" 450 NewMail.png "[Common]"$'\r\n'"$account" "128 64 48"
picture item-badge "3 new messages" 450 badged "[Common]"$'\r\nBadge=1\r\n'"$account" "128 64 48"
