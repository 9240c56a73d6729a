#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's
# packages only. Safe to run again: it returns at once when all is present.
set -euo pipefail

packages=(
  cmake ninja-build make pkg-config
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
  googletest
  clang libclang-rt-14-dev
  dovecot-core dovecot-imapd dovecot-pop3d
  fonts-dejavu-core
  python3 python3-pil
  curl procps
  openssl libssl-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: these Debian packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# Services in these packages must not start on their own here: the tests and
# the demo start their own Dovecot on 127.0.0.1 with a private configuration.
policy=/usr/sbin/policy-rc.d
created_policy=
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' > "$policy"
  chmod +x "$policy"
  created_policy=1
fi
trap '[ -n "$created_policy" ] && rm -f "$policy"' EXIT
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
