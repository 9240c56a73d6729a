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
check "18 ports, none twice (4 of the instance, 4 for each refused certificate, 2 of OAuth2)" 18 "$all_ports"
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
while read -r variable key; do
  check "ports.ini [oauth] $key is $variable" "${!variable}" \
    "$(sed -n '/^\[oauth\]/,/^\[/p' "$dir/ports.ini" | tr -d '\r' | sed -n "s/^$key=//p")"
  check "$variable listens on 127.0.0.1 only" "$(printf '0100007F:%04X' "${!variable}")" "$(listen_address "${!variable}")"
done <<'TABLE'
OAUTH_HTTP_PORT HttpPort
OAUTH_HTTPS_PORT HttpsPort
TABLE
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

echo "== OAuth2"
oauth=http://127.0.0.1:$OAUTH_HTTP_PORT redirect=http://127.0.0.1:5999/
control() { curl -s --max-time 10 "$oauth/control?$1"; }
b64url() { base64 -w0 | tr '+/' '-_' | tr -d '='; }
field() { /usr/bin/python3 -c 'import json, sys; print(json.load(sys.stdin).get(sys.argv[1], ""))' "$1"; }
# Where the stand-in sends the browser for login hint $1 and PKCE challenge $2.
authorize() {
  curl -s --max-time 10 -o /dev/null -w '%{redirect_url}' -G "$oauth/authorize" -d response_type=code \
    -d client_id=tidewell-test-client --data-urlencode "redirect_uri=$redirect" -d "code_challenge=$2" \
    -d code_challenge_method=S256 -d state=s1 -d "login_hint=$1"
}
code_in() { sed -n 's/^[^?]*?code=\([A-Za-z0-9_-]*\)&.*/\1/p' <<< "$1"; }
token() {
  curl -s --max-time 10 --cacert "$dir/tls/ca.pem" "https://127.0.0.1:$OAUTH_HTTPS_PORT/token" \
    -d client_id=tidewell-test-client "$@"
}
redeem() { token -d grant_type=authorization_code -d "code=$1" --data-urlencode "redirect_uri=$redirect" -d "code_verifier=$2"; }
refresh() { token -d grant_type=refresh_token --data-urlencode "refresh_token=$1"; }
# Dovecot's answer to an XOAUTH2 login of user $2 with token $3 in style $1:
# imap-ir (SASL-IR), imap (the command, "+ ", then the line) or pop3. "OK" or
# "NO", after a failure challenge the client answered with an empty line.
xoauth2() {
  local style=$1 fd line challenge= sasl port=$IMAP_PORT
  sasl=$(printf 'user=%s\001auth=Bearer %s\001\001' "$2" "$3" | base64 -w0)
  [ "$style" != pop3 ] || port=$POP3_PORT
  exec {fd}<> "/dev/tcp/127.0.0.1/$port"
  read -r -t 10 _ <&"$fd"
  case $style in
    imap-ir) printf 'a AUTHENTICATE XOAUTH2 %s\r\n' "$sasl" >&"$fd" ;;
    imap) printf 'a AUTHENTICATE XOAUTH2\r\n' >&"$fd" ;;
    pop3) printf 'AUTH XOAUTH2\r\n' >&"$fd" ;;
  esac
  if [ "$style" != imap-ir ]; then
    IFS= read -r -t 10 line <&"$fd"
    [ "$line" = $'+ \r' ] || { echo "no '+ ' but '$line'"; exec {fd}>&-; return; }
    printf '%s\r\n' "$sasl" >&"$fd"
  fi
  IFS= read -r -t 10 line <&"$fd"
  if [[ $line == "+ "* ]]; then
    challenge="$(base64 -d <<< "${line:2}" 2>/dev/null) "
    printf '\r\n' >&"$fd"
    IFS= read -r -t 10 line <&"$fd"
  fi
  exec {fd}>&-
  case $line in
    "a OK "* | "+OK "*) echo "${challenge}OK" ;;
    "a NO "* | "-ERR "*) echo "${challenge}NO" ;;
    *) echo "${challenge}'$line'" ;;
  esac
}
verifier=$(head -c 32 /dev/urandom | b64url)
challenge=$(printf %s "$verifier" | openssl dgst -binary -sha256 | b64url)
location=$(authorize Carol "$challenge")
check "authorize sends the browser back with a code and the state" yes \
  "$([[ $location =~ ^http://127\.0\.0\.1:5999/\?code=[A-Za-z0-9_-]{64}\&state=s1$ ]] && echo yes || echo no)"
check "a wrong code_verifier gets invalid_grant" invalid_grant \
  "$(redeem "$(code_in "$location")" "${verifier}x" | field error)"
check "a code counts once, even after a failure" invalid_grant "$(redeem "$(code_in "$location")" "$verifier" | field error)"
granted=$(redeem "$(code_in "$(authorize Carol "$challenge")")" "$verifier")
access=$(field access_token <<< "$granted") first_refresh=$(field refresh_token <<< "$granted")
check "access tokens are over 1 KB long" yes "$([ "${#access}" -gt 1024 ] && echo yes || echo no)"
check "the token says when it expires" 3600 "$(field expires_in <<< "$granted")"
refused='{"status":"401","schemes":"bearer","scope":"mail"} NO'
for style in imap-ir imap pop3; do
  check "$style: the stand-in's token logs carol in" OK "$(xoauth2 "$style" carol "$access")"
  check "$style: a bad token gets the failure challenge, then NO" "$refused" "$(xoauth2 "$style" carol "x$access")"
done
check "a token for carol does not log dave in" "$refused" "$(xoauth2 imap-ir dave "$access")"
renewed=$(refresh "$first_refresh")
check "a refresh gives an access token that logs in" OK "$(xoauth2 pop3 carol "$(field access_token <<< "$renewed")")"
check "after rotation the old refresh token gets invalid_grant" invalid_grant "$(refresh "$first_refresh" | field error)"
control rotation=off >/dev/null
second_refresh=$(field refresh_token <<< "$renewed")
check "without rotation a refresh brings no new refresh token" "" "$(refresh "$second_refresh" | field refresh_token)"
check "without rotation the refresh token keeps working" yes \
  "$([ -n "$(refresh "$second_refresh" | field access_token)" ] && echo yes || echo no)"
control revoke=1 >/dev/null
check "revoked refresh tokens get invalid_grant" invalid_grant "$(refresh "$second_refresh" | field error)"
control introspection=reject >/dev/null
check "tokens the stand-in rejects are refused" "$refused" "$(xoauth2 imap-ir carol "$access")"
check "the log names tokens by serial, never by value" \
  "token grant=refresh_token refresh=R1 client_secret=no ok access=A2 refresh=R2" \
  "$(control format=text | sed -n 's/^log \(.*refresh=R1.*ok.*\)/\1/p')"
check "the log holds no token" 0 "$(control format=text | grep -cF -- "${access:0:40}")"
control authorize=wrong_state >/dev/null
check "authorize=wrong_state sends another state back" yes \
  "$([[ $(authorize carol "$challenge") =~ \&state=[A-Za-z0-9_-]{22}$ ]] && echo yes || echo no)"
check "an unknown redirect_uri gets no redirect" "" "$(redirect=http://evil.test/ authorize carol "$challenge")"
# What a refresh gets: the HTTP status and the error, "token" or "-" (no JSON).
refresh_outcome() {
  local reply
  reply=$(token --max-time 2 -w '\n%{http_code}' -d grant_type=refresh_token --data-urlencode "refresh_token=$1")
  echo "${reply##*$'\n'} $(/usr/bin/python3 -c 'import json, sys
try:
    reply = json.loads(sys.stdin.read())
    print(reply.get("error") or ("token" if reply.get("access_token") else "?"))
except ValueError:
    print("-")' <<< "${reply%$'\n'*}")"
}
# A fault, what a refresh then gets, and what the same refresh token gets
# once the token endpoint answers again: a fault that loses the answer must
# not have used the grant up.
while IFS='|' read -r setting first then; do
  control "reset=1&$setting" >/dev/null
  grant=$(control issue=carol)
  check "$setting: a refresh" "$first" "$(refresh_outcome "$(field refresh_token <<< "$grant")")"
  control token=ok >/dev/null
  check "$setting: the same refresh once the endpoint answers" "$then" "$(refresh_outcome "$(field refresh_token <<< "$grant")")"
done <<'TABLE'
token=ok|200 token|400 invalid_grant
token=chunked|200 token|400 invalid_grant
token=slow&slow_seconds=1|200 token|400 invalid_grant
token=error500|500 -|200 token
token=silent|000 -|200 token
client_secret=S|401 invalid_client|401 invalid_client
TABLE
control reset=1 >/dev/null

echo "== restart and stop"
first=$(master)
"$script" start "$dir" >/dev/null
source "$dir/ports.env"
check "starting again stops the running instance" no "$(alive "$first")"
check "the new instance answers" yes "$(answers "$IMAP_PORT")"
/usr/bin/python3 "$(dirname "$script")/../tests/support/oauth_server.py" stop "$dir/oauth"
check "the stand-in stops when its folder is named through DIR" no "$(answers "$OAUTH_HTTP_PORT")"
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
check "stop ends the stand-in OAuth2 server" "no no" "$(answers "$OAUTH_HTTP_PORT") $(answers "$OAUTH_HTTPS_PORT")"
check "stopping again is quiet" "0:" "$("$script" stop "$dir" 2>&1 && echo "0:")"
sleep 60 & bystander=$!
mkdir -p "$dir/run"
echo "$bystander" > "$dir/run/master.pid"
mkdir -p "$dir/oauth"
echo "$bystander" > "$dir/oauth/pid"
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
