#!/usr/bin/env bash
# A private Dovecot (IMAP and POP3, in clear with STARTTLS/STLS and over TLS,
# 127.0.0.1 only) for the tests, the benchmark and the demo. Everything of an
# instance lives in the folder it is given: configuration, users, mail,
# certificates, sockets, state and log. The system's own Dovecot configuration
# and service are never used.
#
# Run by a normal user, Dovecot runs wholly as that user, in DIR. Run by root,
# Dovecot's helpers and mail access run as the dovecot and dovenull users (its
# login processes refuse root), which may be unable to enter DIR (a checkout
# in /root, say): so the instance then lives in a private folder under /tmp
# made for it, DIR is a link to that folder, and stop removes both.
#
# Beside Dovecot runs a stand-in OAuth2 authorization server
# (tests/support/oauth_server.py, in DIR/oauth): Dovecot asks it whether an
# XOAUTH2 or OAUTHBEARER token is live, and tests and the demo sign in with it.
set -euo pipefail
# As root, Dovecot's mail processes run as the dovecot user and must read what we write.
umask 022
as_root=
[ "$(id -u)" -ne 0 ] || as_root=1
readonly private_prefix=/tmp/tidewell-dovecot.

usage() {
  cat >&2 <<'EOF'
usage: dovecot.sh start DIR                             start a fresh instance in DIR (stops a running one first)
       dovecot.sh stop DIR                              stop the instance of DIR, if any
       dovecot.sh user DIR NAME PASSWORD                add a user, or give an existing one a new password
       dovecot.sh deliver DIR NAME COUNT [unseen|seen]  put COUNT messages into the user's INBOX
       dovecot.sh empty DIR NAME                        remove every message of the user
EOF
  exit 2
}
bad_argument() { echo "dovecot.sh: $*" >&2; usage; }
fail() { echo "dovecot.sh: $*" >&2; exit 1; }

readonly start_wait_seconds=10 stop_wait_tenths=100 max_messages=1000000
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly oauth_server=$here/../tests/support/oauth_server.py
# Companion instances serve the same users and mail with a certificate a
# client must refuse, each on ports of its own (Dovecot picks a certificate by
# local address or SNI name, never by port, and 127.0.0.1 is our only address).
readonly refused_kinds=(other-name expired untrusted)

check_name() {
  [[ $1 =~ ^[A-Za-z0-9][A-Za-z0-9._-]{0,63}$ ]] ||
    bad_argument "user name '$1': use 1 to 64 letters, digits, '.', '_' or '-', starting with a letter or digit"
}

# --- processes --------------------------------------------------------------

running() { [[ $1 =~ ^[0-9]+$ ]] && [ -d "/proc/$1" ] && ! grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }

# Our master is the dovecot binary started with this folder's configuration;
# a stale pid file must never make us signal anything else.
is_our_master() {
  local pid=$1 dir=$2
  running "$pid" || return 1
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$(readlink -f "$(command -v dovecot)")" ] || return 1
  local arguments
  arguments=$(tr '\0' '\n' < "/proc/$pid/cmdline" 2>/dev/null) || return 1
  grep -qxF -- "$dir/dovecot.conf" <<< "$arguments"
}

# The pid in the master's pid file, once Dovecot has written it whole: the
# daemon writes it after `dovecot` returned.
master_pid() {
  local pid
  { read -r pid < "$1/run/master.pid"; } 2>/dev/null && [[ $pid =~ ^[0-9]+$ ]] && echo "$pid"
}

wait_gone() {
  local pid=$1 tenths=$2
  while running "$pid" && [ "$tenths" -gt 0 ]; do sleep 0.1; tenths=$((tenths - 1)); done
  ! running "$pid"
}

# The folder under /tmp that start made for DIR as root, or nothing.
private_folder() {
  local target
  [ -n "$as_root" ] && [ -L "$1" ] || return 0
  target=$(readlink "$1")
  [[ $target == "$private_prefix"* && ${target#"$private_prefix"} =~ ^[A-Za-z0-9]{10}$ ]] &&
    [ -d "$target" ] && [ ! -L "$target" ] && [ -O "$target" ] && printf '%s' "$target"
  return 0
}

# The instance's real folder: DIR itself, or the private folder it links to.
real_folder() {
  local private
  private=$(private_folder "$1")
  printf '%s' "${private:-$1}"
}

cmd_stop() {
  local link=$1 dir private kind
  private=$(private_folder "$link")
  dir=${private:-$link}
  for kind in "${refused_kinds[@]}"; do stop_instance "$dir/$kind"; done
  stop_instance "$dir"
  # It checks that the pid in DIR/oauth/pid is its own before signalling it.
  [ ! -d "$dir/oauth" ] || /usr/bin/python3 "$oauth_server" stop "$dir/oauth"
  if [ -n "$private" ]; then
    rm -rf "$private"
    rm -f "$link"
  fi
}

stop_instance() {
  local dir=$1 pid
  pid=$(master_pid "$dir") || true
  if [ -n "$pid" ] && is_our_master "$pid" "$dir"; then
    kill -TERM "$pid" 2>/dev/null || true
    if ! wait_gone "$pid" "$stop_wait_tenths"; then
      echo "dovecot.sh: Dovecot (pid $pid) did not stop within 10 s; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
      wait_gone "$pid" 20 || fail "Dovecot (pid $pid) survived SIGKILL"
    fi
  fi
  rm -f "$dir/run/master.pid" 2>/dev/null || true
}

# --- ports ------------------------------------------------------------------

port_in_use() {
  awk -v port="$(printf ':%04X' "$1")" '
    substr($2, length($2) - 4) == port { found = 1 } END { exit !found }' /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# A free port other than the ports given.
free_port() {
  local port
  while :; do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    [[ " $* " != *" $port "* ]] && ! port_in_use "$port" && { echo "$port"; return; }
  done
}

# The first line a server on 127.0.0.1:PORT sends, or nothing.
greeting() {
  local fd line=
  exec {fd}<> "/dev/tcp/127.0.0.1/$1" || return 0
  IFS= read -r -t 2 line <&"$fd" || true
  exec {fd}>&-
  printf '%s' "$line"
}

# --- configuration ----------------------------------------------------------

# The login services' listeners on ports IMAP POP3 IMAPS POP3S.
listeners() {
  cat <<EOF
service imap-login {
  inet_listener imap {
    port = $1
  }
  inet_listener imaps {
    port = $3
  }
}
service pop3-login {
  inet_listener pop3 {
    port = $2
  }
  inet_listener pop3s {
    port = $4
  }
}
EOF
}

# Who Dovecot's processes run as, and the only owner of mail it accepts.
write_users() {
  local user group uid
  if [ -n "$as_root" ]; then
    uid=$(id -u dovecot)
    cat <<EOF
# Running as root: helpers and mail access use the unprivileged users.
default_login_user = dovenull
default_internal_user = dovecot
mail_uid = dovecot
mail_gid = dovecot
EOF
  else
    user=$(id -un) group=$(id -gn) uid=$(id -u)
    cat <<EOF
# Running as $user: every process stays $user, and none can chroot.
default_login_user = $user
default_internal_user = $user
default_internal_group = $group
mail_uid = $user
mail_gid = $group
EOF
    local service
    for service in anvil ipc imap-login pop3-login; do
      printf 'service %s {\n  chroot =\n}\n' "$service"
    done
  fi
  printf 'first_valid_uid = %s\nlast_valid_uid = %s\n' "$uid" "$uid"
}

write_config() {
  local dir=$1 oauth_http=$2 imap=$3 pop3=$4 imaps=$5 pop3s=$6 token=$7
  cat > "$dir/oauth2.conf" <<EOF
introspection_mode = post
introspection_url = http://127.0.0.1:$oauth_http/introspect
force_introspection = yes
username_attribute = username
active_attribute = active
active_value = true
EOF
  cat > "$dir/dovecot.conf" <<EOF
# Written by scripts/dovecot.sh for one test instance; rewritten on every start.
instance_name = tidewell-$token
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
auth_verbose = yes

listen = 127.0.0.1
protocols = imap pop3
# TLS on the imaps and pop3s ports, STARTTLS and STLS offered on the plain ones.
ssl = yes
ssl_cert = <$dir/tls/server.pem
ssl_key = <$dir/tls/server.key
ssl_min_protocol = TLSv1.2
disable_plaintext_auth = no
auth_mechanisms = plain login xoauth2 oauthbearer
login_greeting = Tidewell test server $token ready
# Tests try wrong passwords on purpose: answer them at once, and never slow
# down later logins from 127.0.0.1 for them.
auth_failure_delay = 0

$(write_users)

# One passwd file per user, so adding a user never rewrites a file another
# login may be reading, and Dovecot sees new users at once.
passdb {
  driver = passwd-file
  mechanisms = plain login
  args = scheme=PLAIN $dir/users/%u
}
# Bearer tokens are live when the stand-in OAuth2 server says so.
passdb {
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = $dir/oauth2.conf
}
userdb {
  driver = static
  args = home=$dir/mail/%u
}
mail_location = maildir:$dir/mail/%u

service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
$(listeners "$imap" "$pop3" "$imaps" "$pop3s")
EOF
}

# A companion: the main configuration with its own folders, certificate and
# ports.
write_companion_config() {
  local dir=$1 kind=$2 imap=$3 pop3=$4 imaps=$5 pop3s=$6 token=$7 chain=$2
  [ "$kind" != untrusted ] || chain=untrusted-chain
  mkdir -p "$dir/$kind/state"
  cat > "$dir/$kind/dovecot.conf" <<EOF
# Written by scripts/dovecot.sh: serves $dir's users and mail with the
# certificate $kind.pem; rewritten on every start.
!include $dir/dovecot.conf
instance_name = tidewell-$token
base_dir = $dir/$kind/run
state_dir = $dir/$kind/state
log_path = $dir/$kind/dovecot.log
info_log_path = $dir/$kind/dovecot.log
login_greeting = Tidewell test server $token ready
ssl_cert = <$dir/tls/$chain.pem
ssl_key = <$dir/tls/$kind.key
$(listeners "$imap" "$pop3" "$imaps" "$pop3s")
EOF
}

# Appends one instance's ports: to ports.env as PREFIXIMAP_PORT..., to
# ports.ini as section [SECTION] with ImapPort....
write_ports() {
  local dir=$1 prefix=$2 section=$3 imap=$4 pop3=$5 imaps=$6 pop3s=$7
  printf '%sIMAP_PORT=%s\n%sPOP3_PORT=%s\n%sIMAPS_PORT=%s\n%sPOP3S_PORT=%s\n' \
    "$prefix" "$imap" "$prefix" "$pop3" "$prefix" "$imaps" "$prefix" "$pop3s" >> "$dir/ports.env"
  printf '[%s]\r\nImapPort=%s\r\nPop3Port=%s\r\nImapsPort=%s\r\nPop3sPort=%s\r\n' \
    "$section" "$imap" "$pop3" "$imaps" "$pop3s" >> "$dir/ports.ini"
}

log_tail() { [ -f "$1/dovecot.log" ] && tail -n 20 "$1/dovecot.log" >&2 || true; }

# 0: both ports greet with our token; 1: the master died or another server
# answers; 2: no answer in time.
wait_until_ours() {
  local dir=$1 imap=$2 pop3=$3 token=$4 pid imap_line pop3_line
  # A port that accepts but never greets costs seconds a round: count time, not rounds.
  local deadline=$((EPOCHSECONDS + start_wait_seconds))
  while [ "$EPOCHSECONDS" -lt "$deadline" ]; do
    pid=$(master_pid "$dir") || true
    [ -z "$pid" ] || is_our_master "$pid" "$dir" || return 1
    imap_line=$(greeting "$imap" 2>/dev/null)
    pop3_line=$(greeting "$pop3" 2>/dev/null)
    if [ -n "$imap_line" ] && [ -n "$pop3_line" ]; then
      [[ $imap_line == *"$token"* && $pop3_line == *"$token"* ]] && return 0
      echo "dovecot.sh: another server answers on port $imap or $pop3" >&2
      return 1
    fi
    sleep 0.1
  done
  return 2
}

# Starts the instance whose folder is DIR (its dovecot.conf, run/, start.err)
# with a configuration written by COMMAND..., called with four free ports
# (IMAP, POP3, IMAPS, POP3S) and TOKEN, the text its greeting holds; tried
# again on other ports when another program took one meanwhile. Leaves the
# ports of the running instance in the array `ports`.
launch() {
  local dir=$1 token=$2 attempt status i
  shift 2
  for attempt in 1 2 3 4 5; do
    ports=()
    for i in 1 2 3 4; do ports+=("$(free_port "${ports[@]}")"); done
    "$@" "${ports[@]}" "$token"
    if ! dovecot -c "$dir/dovecot.conf" 2> "$dir/start.err"; then
      # Another program may take a port between our check and the bind.
      grep -q 'Address already in use' "$dir/start.err" && continue
      cat "$dir/start.err" >&2
      fail "Dovecot did not start"
    fi
    status=0
    wait_until_ours "$dir" "${ports[0]}" "${ports[1]}" "$token" || status=$?
    if [ "$status" -eq 0 ]; then
      rm -f "$dir/start.err"
      return 0
    fi
    stop_instance "$dir"
    if [ "$status" -eq 2 ]; then
      log_tail "$dir"
      fail "Dovecot did not answer on ports ${ports[0]} and ${ports[1]} within 10 s"
    fi
  done
  cat "$dir/start.err" >&2
  log_tail "$dir"
  fail "Dovecot did not start after $attempt attempts"
}

# What start puts into an instance's folder.
readonly instance_files=(run state users mail tls oauth "${refused_kinds[@]}" dovecot.log dovecot.conf
                         oauth2.conf ports.env ports.ini start.err)

# As root, DIR becomes a link to a new private folder; prints the folder.
make_private_folder() {
  local link=$1 private
  if [ -d "$link" ] && [ ! -L "$link" ]; then
    (cd "$link" && rm -rf -- "${instance_files[@]}")
    rmdir -- "$link" 2>/dev/null ||
      fail "$link holds files of its own; as root the instance lives under /tmp and $link becomes a link to it: give a new or empty folder"
  elif [ -L "$link" ] && [[ $(readlink "$link") == "$private_prefix"* ]]; then
    rm -f "$link"  # left by an instance whose folder is gone
  elif [ -e "$link" ] || [ -L "$link" ]; then
    fail "$link is in the way: it is neither a folder nor an instance's link"
  fi
  private=$(mktemp -d "${private_prefix}XXXXXXXXXX") || fail "cannot make a folder under /tmp"
  chmod 0755 "$private"
  ln -s "$private" "$link" || { rmdir "$private"; fail "cannot make the link $link"; }
  printf '%s' "$private"
}

cmd_start() {
  local dir=$1 token kind ports main
  local -A refused
  command -v dovecot >/dev/null || fail "dovecot is not installed (run scripts/setup.sh)"
  cmd_stop "$dir"
  if [ -n "$as_root" ]; then
    dir=$(make_private_folder "$dir")
  else
    mkdir -p "$dir"
    (cd "$dir" && rm -rf -- "${instance_files[@]}")
  fi
  mkdir -p "$dir/state" "$dir/users" "$dir/mail"
  if [ -n "$as_root" ]; then
    chown dovecot:dovecot "$dir/mail"
    chmod 0777 "$dir/mail"
  fi
  "$here/certificates.sh" "$dir/tls" || fail "the test certificates could not be made"
  token=$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')
  # First, so that Dovecot's ports, chosen at random, avoid the ones the system gave it.
  /usr/bin/python3 "$oauth_server" start "$dir/oauth" "$dir/tls/server.pem" "$dir/tls/server.key" ||
    fail "the stand-in OAuth2 server did not start"
  local OAUTH_HTTP_PORT OAUTH_HTTPS_PORT
  # shellcheck source=/dev/null # written by oauth_server.py
  . "$dir/oauth/ports"
  launch "$dir" "$token" write_config "$dir" "$OAUTH_HTTP_PORT"
  main=("${ports[@]}")
  for kind in "${refused_kinds[@]}"; do
    launch "$dir/$kind" "$token-$kind" write_companion_config "$dir" "$kind"
    refused[$kind]=${ports[*]}
  done
  write_ports "$dir" "" dovecot "${main[@]}"
  for kind in "${refused_kinds[@]}"; do
    # shellcheck disable=SC2086 # four port numbers
    write_ports "$dir" "$(tr a-z- A-Z_ <<< "$kind")_" "$kind" ${refused[$kind]}
  done
  printf 'OAUTH_HTTP_PORT=%s\nOAUTH_HTTPS_PORT=%s\n' "$OAUTH_HTTP_PORT" "$OAUTH_HTTPS_PORT" >> "$dir/ports.env"
  printf '[oauth]\r\nHttpPort=%s\r\nHttpsPort=%s\r\n' "$OAUTH_HTTP_PORT" "$OAUTH_HTTPS_PORT" >> "$dir/ports.ini"
  printf 'IMAP_PORT=%s\nPOP3_PORT=%s\nIMAPS_PORT=%s\nPOP3S_PORT=%s\n' "${main[@]}"
}

# --- users and mail ---------------------------------------------------------

instance() {
  [ -f "$1/dovecot.conf" ] || fail "$1 holds no Dovecot instance: run 'dovecot.sh start $1' first"
}

maildir_of() {
  local maildir=$1/mail/$2
  [ -d "$maildir/new" ] || fail "no user '$2' in $1: add it with 'dovecot.sh user'"
  printf '%s' "$maildir"
}

wait_past_second() {
  while [ "$EPOCHSECONDS" -le "$1" ]; do sleep 0.05; done
}

cmd_user() {
  local dir=$1 name=$2 password=$3 file replacing=
  check_name "$name"
  [[ -n $password && $password != *[:$'\n\r']* ]] ||
    bad_argument "password: must not be empty nor hold ':' or line breaks"
  instance "$dir"
  file=$dir/users/$name
  # Dovecot looks at a passwd file at most once a second and rereads it only
  # when its time stamp (in whole seconds) or size changed. So a new password
  # gets a time stamp of its own, and counts once the next second began.
  if [ -f "$file" ]; then
    replacing=1
    wait_past_second "$(stat -c %Y "$file")"
  fi
  printf '%s:{PLAIN}%s\n' "$name" "$password" > "$file.new"
  mv -f "$file.new" "$file"
  [ -z "$replacing" ] || wait_past_second "$(stat -c %Y "$file")"
  local maildir=$dir/mail/$name
  mkdir -p "$maildir/cur" "$maildir/new" "$maildir/tmp"
  if [ -n "$as_root" ]; then
    chown dovecot:dovecot "$maildir" "$maildir/cur" "$maildir/new" "$maildir/tmp"
    # Tests under Wine write and remove message files here as root.
    chmod 0777 "$maildir" "$maildir/cur" "$maildir/new" "$maildir/tmp"
  fi
}

cmd_deliver() {
  local dir=$1 name=$2 count=$3 kind=${4:-unseen} maildir target suffix stage date now i
  check_name "$name"
  [[ $count =~ ^[0-9]{1,7}$ ]] && [ "$((10#$count))" -le "$max_messages" ] ||
    bad_argument "COUNT '$count': a whole number from 0 to $max_messages"
  count=$((10#$count))
  case "$kind" in
    unseen) target=new suffix= ;;
    seen) target=cur suffix=':2,S' ;;
    *) bad_argument "'$kind': say unseen or seen" ;;
  esac
  instance "$dir"
  maildir=$(maildir_of "$dir" "$name")
  [ "$count" -gt 0 ] || return 0
  # Written in a private folder and moved in at once, so Dovecot never reads
  # a message half written.
  stage=$(mktemp -d "$maildir/tmp/deliver.XXXXXX")
  date=$(date -R)
  now=$(date +%s.%N)
  local base="${now%.*}.M${now#*.}P$$Q"
  for ((i = 1; i <= count; i++)); do
    printf 'From: Tidewell tests <sender@tidewell.test>\nTo: %s@tidewell.test\nSubject: Test message %d\nDate: %s\nMessage-ID: <%s%d@tidewell.test>\nMIME-Version: 1.0\nContent-Type: text/plain; charset=us-ascii\n\nTest message %d of %d.\n' \
      "$name" "$i" "$date" "$base" "$i" "$i" "$count" > "$stage/$base$i.tidewell$suffix"
  done
  find "$stage" -mindepth 1 -maxdepth 1 -exec mv -t "$maildir/$target" -- {} +
  rmdir "$stage"
}

cmd_empty() {
  local dir=$1 name=$2 maildir
  check_name "$name"
  instance "$dir"
  maildir=$(maildir_of "$dir" "$name")
  # Dovecot may rename a file (new to cur, or to add a flag) while we remove.
  local attempt
  for attempt in 1 2 3 4 5; do
    find "$maildir/new" "$maildir/cur" "$maildir/tmp" -mindepth 1 -delete 2>/dev/null && return 0
  done
  fail "the messages of '$name' kept moving while being removed"
}

[ $# -ge 2 ] || usage
command=$1 dir=$2
case "$command:$#" in
  start:2 | stop:2 | user:4 | deliver:4 | deliver:5 | empty:3) ;;
  start:* | stop:* | user:* | deliver:* | empty:*) usage ;;
  *) bad_argument "unknown command '$command'" ;;
esac
[ -n "$dir" ] || bad_argument "DIR must not be empty"
if [ "$command" = start ]; then
  # The path goes unquoted into Dovecot's configuration, and its sockets in
  # DIR/run and DIR/other-name/run (the longest is
  # other-name/run/token-login/imap-urlauth) must fit the 107 characters of a
  # Unix socket address.
  full=$dir
  [[ $full == /* ]] || full=$PWD/$dir
  [[ $full =~ ^[A-Za-z0-9/._+-]+$ ]] ||
    bad_argument "DIR '$full': its path may hold only letters, digits and / . _ + -"
  [ "${#full}" -le 68 ] || bad_argument "DIR '$full': its path may be at most 68 characters long"
  mkdir -p "$(dirname "$full")"
fi
# Dovecot's configuration and our checks of its pid need one absolute path:
# the folder above DIR without links, then DIR itself for start and stop
# (as root, the link they make and remove), its real folder for the others.
parent=$(dirname "$dir")
[ ! -d "$parent" ] || dir=$(cd "$parent" && pwd -P)/$(basename "$dir")
case "$command" in
  start | stop) ;;
  *) dir=$(real_folder "$dir") ;;
esac
shift 2
"cmd_$command" "$dir" "$@"
