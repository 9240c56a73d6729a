#!/usr/bin/env bash
# scripts/dovecot.sh on an instance of its own: start, users and mail as an
# IMAP and a POP3 client see them, restart, stop, and bad arguments. The
# instance sits in a folder no other user may enter, as a checkout in a home
# folder does; the script must cope as root and as a normal user.
# Usage: dovecot_script_test.sh SCRIPT SCRATCH_DIR
set -euo pipefail
script=$1 top=$2
dir=$top/dir  # short: a longer path leaves too little room for the sockets
failures=0
mkdir -p "$top"
chmod 0700 "$top"
trap '"$script" stop "$dir"' EXIT

check() {
  if [ "$2" = "$3" ]; then echo "ok   $1"; else echo "FAIL $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}

# Reads reply lines up to the one tagged $2 and prints that line; with $3,
# prints instead how many numbers the "* SEARCH" line held.
imap_reply() {
  local fd=$1 tag=$2 line words count=-1
  while IFS= read -r -t 10 line <&"$fd"; do
    line=${line%$'\r'}
    if [[ $line == "* SEARCH"* ]]; then read -ra words <<< "$line"; count=$((${#words[@]} - 2)); fi
    if [[ $line == "$tag "* ]]; then
      [ -n "${3:-}" ] && echo "$count" || echo "$line"
      return
    fi
  done
  echo "no reply"
}

# Unseen messages in INBOX, or -1 when the login fails.
imap_unseen() {
  local fd
  exec {fd}<> "/dev/tcp/127.0.0.1/$IMAP_PORT"
  read -r -t 10 _ <&"$fd"
  printf 'a LOGIN %s %s\r\n' "$1" "$2" >&"$fd"
  if [[ $(imap_reply "$fd" a) == "a OK"* ]]; then
    printf 'b EXAMINE INBOX\r\nc SEARCH UNSEEN\r\n' >&"$fd"
    imap_reply "$fd" b >/dev/null
    imap_reply "$fd" c count
    printf 'd LOGOUT\r\n' >&"$fd"
  else
    echo -1
  fi
  exec {fd}>&-
}

# The message count of POP3's STAT, or -1 when the login fails.
pop3_count() {
  local fd line words
  exec {fd}<> "/dev/tcp/127.0.0.1/$POP3_PORT"
  read -r -t 10 _ <&"$fd"
  printf 'USER %s\r\n' "$1" >&"$fd"; read -r -t 10 _ <&"$fd"
  printf 'PASS %s\r\n' "$2" >&"$fd"; read -r -t 10 line <&"$fd"
  if [[ $line == "+OK"* ]]; then
    printf 'STAT\r\n' >&"$fd"; read -r -t 10 line <&"$fd"
    read -ra words <<< "$line"
    echo "${words[1]}"
    printf 'QUIT\r\n' >&"$fd"
  else
    echo -1
  fi
  exec {fd}>&-
}

# What curl sees of user carol's mail over TLS: the unseen count over IMAP or
# the message count over POP3, or curl's exit status as "error N".
# Usage: over_tls imaps|pop3s|imap|pop3 PORT [CURL OPTIONS...]; imap and pop3
# ask for STARTTLS/STLS and refuse to go on without it. The server's name is
# $tls_host (default 127.0.0.1).
over_tls() {
  local scheme=$1 port=$2 host=${tls_host:-127.0.0.1} output status=0 request
  shift 2
  [[ $scheme == imap* ]] && request=(-X 'SEARCH UNSEEN' --url "$scheme://$host:$port/INBOX") ||
    request=(--url "$scheme://$host:$port/")
  output=$(curl -s --ssl-reqd --max-time 10 -u carol:pw2 "${request[@]}" "$@") || status=$?
  if [ "$status" -ne 0 ]; then echo "error $status"
  elif [[ $scheme == imap* ]]; then echo $(($(wc -w <<< "${output#\* SEARCH}")))
  else grep -c . <<< "$output"; fi
}

answers() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2>/dev/null && echo yes || echo no; }
master() { cat "$dir/run/master.pid"; }
# One read of stat: a zombie reaped between two looks must read as gone.
alive() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) && [[ $stat != *") Z "* ]] && echo yes || echo no
}
listen_address() {
  awk -v port="$(printf ':%04X' "$1")" '$4 == "0A" && substr($2, length($2) - 4) == port { print $2 }' \
    /proc/net/tcp /proc/net/tcp6
}

echo "== start"
printed=$("$script" start "$dir")
source "$dir/ports.env"
check "start prints the ports" "IMAP_PORT=$IMAP_PORT POP3_PORT=$POP3_PORT IMAPS_PORT=$IMAPS_PORT POP3S_PORT=$POP3S_PORT" "$(echo $printed)"
all_ports=$(grep -o '[0-9]*$' "$dir/ports.env" | sort -u | wc -l)
check "16 ports, none twice (4 of the instance, 4 for each refused certificate)" 16 "$all_ports"
for section in dovecot other-name expired untrusted; do
  prefix=$(tr a-z- A-Z_ <<< "$section")_
  [ "$section" = dovecot ] && prefix=
  for key in Imap Pop3 Imaps Pop3s; do
    variable=$prefix${key^^}_PORT
    check "ports.ini [$section] $key""Port is $variable" "${!variable}" \
      "$(sed -n "/^\[$section\]/,/^\[/p" "$dir/ports.ini" | tr -d '\r' | sed -n "s/^${key}Port=//p")"
    check "$variable listens on 127.0.0.1 only" "$(printf '0100007F:%04X' "${!variable}")" "$(listen_address "${!variable}")"
  done
done
if [ "$(id -u)" -eq 0 ]; then
  private=$(readlink "$dir")
  check "as root, the instance lives in a folder of its own under /tmp" yes \
    "$([[ $private == /tmp/tidewell-dovecot.* && -d $private ]] && echo yes || echo no)"
fi

echo "== users and mail"
"$script" user "$dir" carol pw1
check "a new user has no mail (IMAP)" 0 "$(imap_unseen carol pw1)"
check "a new user has no mail (POP3)" 0 "$(pop3_count carol pw1)"
"$script" deliver "$dir" carol 3
"$script" deliver "$dir" carol 2 seen
check "unseen messages (IMAP)" 3 "$(imap_unseen carol pw1)"
check "all messages (POP3)" 5 "$(pop3_count carol pw1)"
check "a wrong password fails" -1 "$(imap_unseen carol nope)"
check "an unknown user fails" -1 "$(pop3_count dave pw1)"
"$script" user "$dir" carol pw2
check "a new password works at once" 3 "$(imap_unseen carol pw2)"
check "the old password no longer works" -1 "$(imap_unseen carol pw1)"
"$script" empty "$dir" carol
check "empty removes every message (IMAP)" 0 "$(imap_unseen carol pw2)"
check "empty removes every message (POP3)" 0 "$(pop3_count carol pw2)"
started=$EPOCHREALTIME
"$script" deliver "$dir" carol 2000
elapsed=$(( (${EPOCHREALTIME/./} - ${started/./}) / 1000 ))
echo "     delivering 2000 messages took $elapsed ms"
check "2000 messages are counted" 2000 "$(imap_unseen carol pw2)"
check "delivering 2000 messages takes less than 20 s" yes "$([ "$elapsed" -lt 20000 ] && echo yes || echo no)"
# As a normal user, a process that still tries to chroot or chown fails only here.
check "Dovecot logged no error" "" "$(grep -E '(Error|Fatal|Panic): ' "$dir/dovecot.log")"

echo "== TLS"
"$script" deliver "$dir" carol 3 seen
# scheme, port, the count that user carol's mail gives
while read -r scheme port count; do
  check "$scheme on the test CA: the same count as in clear" "$count" "$(over_tls "$scheme" "${!port}" --cacert "$dir/tls/ca.pem")"
  check "$scheme without the test CA is refused" "error 60" "$(over_tls "$scheme" "${!port}")"
done <<'TABLE'
imaps IMAPS_PORT 2000
pop3s POP3S_PORT 2003
imap IMAP_PORT 2000
pop3 POP3_PORT 2003
TABLE
check "the certificate names localhost too" 2003 \
  "$(tls_host=localhost over_tls pop3s "$POP3S_PORT" --cacert "$dir/tls/ca.pem" --resolve "localhost:$POP3S_PORT:127.0.0.1")"
# Port variable, scheme, the count: refused with the test CA (curl's 60),
# counted without verification.
while read -r port scheme count; do
  check "$port with the test CA is refused" "error 60" "$(over_tls "$scheme" "${!port}" --cacert "$dir/tls/ca.pem")"
  check "$port without verification counts" "$count" "$(over_tls "$scheme" "${!port}" --insecure)"
done <<'TABLE'
OTHER_NAME_IMAPS_PORT imaps 2000
OTHER_NAME_POP3_PORT pop3 2003
EXPIRED_IMAP_PORT imap 2000
EXPIRED_POP3S_PORT pop3s 2003
UNTRUSTED_IMAPS_PORT imaps 2000
UNTRUSTED_POP3_PORT pop3 2003
TABLE
check "the untrusted certificate comes with its own root" 2 "$(grep -c BEGIN "$dir/tls/untrusted-chain.pem")"
check "server keys are readable by their owner only" "600 600 600 600" \
  "$(stat -c %a "$dir"/tls/{server,other-name,expired,untrusted}.key | tr '\n' ' ' | sed 's/ $//')"
check "no CA key is kept" 0 "$(find "$dir/tls" -name '*ca*.key' | wc -l)"
old_ca=$(openssl x509 -in "$dir/tls/ca.pem" -noout -fingerprint)

echo "== restart and stop"
first=$(master)
"$script" start "$dir" >/dev/null
source "$dir/ports.env"
check "starting again stops the running instance" no "$(alive "$first")"
check "the new instance answers" yes "$(answers "$IMAP_PORT")"
check "starting again begins with no users" -1 "$(imap_unseen carol pw2)"
check "starting again makes a new test CA" yes "$([ "$old_ca" != "$(openssl x509 -in "$dir/tls/ca.pem" -noout -fingerprint)" ] && echo yes || echo no)"
companions=$(cat "$dir"/{other-name,expired,untrusted}/run/master.pid)
second=$(master)
"$script" stop "$dir"
check "stop ends the master" no "$(alive "$second")"
if [ "$(id -u)" -eq 0 ]; then
  check "as root, stop removes the folder under /tmp and the link" "no no" \
    "$([ -e "$private" ] && echo yes || echo no) $([ -L "$dir" ] && echo yes || echo no)"
fi
check "stop closes the IMAP port" no "$(answers "$IMAP_PORT")"
check "stop closes the POP3 port" no "$(answers "$POP3_PORT")"
check "stop ends the companions' masters" "no no no" "$(for pid in $companions; do alive "$pid"; done | tr '\n' ' ' | sed 's/ $//')"
check "stop closes the refused certificates' ports" no "$(answers "$EXPIRED_IMAPS_PORT")"
check "stopping again is quiet" "0:" "$("$script" stop "$dir" 2>&1 && echo "0:")"
sleep 60 & bystander=$!
mkdir -p "$dir/run"
echo "$bystander" > "$dir/run/master.pid"
"$script" stop "$dir"
check "a stale pid file never stops another process" yes "$(alive "$bystander")"
kill "$bystander"

rm -rf "$dir"
if [ "$(id -u)" -eq 0 ]; then
  mkdir "$dir"
  touch "$dir/keep"
  check "as root, a folder holding files of its own is left alone" "1 yes" \
    "$("$script" start "$dir" >/dev/null 2>&1 || echo $?) $([ -f "$dir/keep" ] && echo yes)"
  rm -rf "$dir"
  ln -s /tmp/tidewell-dovecot.gone "$dir"
  "$script" start "$dir" >/dev/null
  check "as root, a link left by an instance whose folder is gone is replaced" yes \
    "$([ -f "$dir/ports.env" ] && echo yes || echo no)"
  "$script" stop "$dir"
fi

echo "== bad arguments"
outcome() { local status=0; "$script" "$@" >/dev/null 2>"$top/stderr" || status=$?; echo "$status:$(grep -c '^usage:' "$top/stderr")"; }
check "no arguments" 2:1 "$(outcome)"
check "an unknown command" 2:1 "$(outcome restart "$dir")"
check "a user name with a slash" 2:1 "$(outcome user "$dir" ../x pw)"
check "a password with a colon" 2:1 "$(outcome user "$dir" erin a:b)"
check "a count that is no number" 2:1 "$(outcome deliver "$dir" carol many)"
check "a flag that does not exist" 2:1 "$(outcome deliver "$dir" carol 1 flagged)"
check "delivering to an unknown user" 1:0 "$(outcome deliver "$dir" nobody 1)"
check "a folder path with a space" 2:1 "$(outcome start "$top/a b")"
check "a folder path too long for Dovecot's sockets" 2:1 "$(outcome start "$top/$(printf '%080d' 0)")"
check "a folder without an instance" 1:0 "$(outcome empty "$top/nothing-here" carol)"

[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
