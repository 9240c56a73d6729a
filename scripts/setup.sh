#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's
# packages only. Safe to run again: it returns at once when all is present.
set -euo pipefail

packages=(
  cmake ninja-build make pkg-config
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
  googletest
  libjsmn-dev
  clang libclang-rt-14-dev
  dovecot-core dovecot-imapd dovecot-pop3d
  fonts-dejavu-core
  python3 python3-pil python3-markdown
  curl procps
  openssl libssl-dev
  xvfb
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

# Only the package steps need root: as root they run directly, otherwise
# through sudo, which asks for the user's password when it needs one.
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: these Debian packages are missing: ${missing[*]}" >&2
    echo "setup: installing them needs root, and sudo is not installed: run scripts/setup.sh as root once" >&2
    exit 1
  fi
  echo "setup: installing the missing Debian packages needs root: asking sudo"
  if ! sudo -v; then
    echo "setup: sudo refused; ask an administrator to run scripts/setup.sh as root, or to install: ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
# Services in these packages must not start on their own here: the tests and
# the demo start their own Dovecot on 127.0.0.1 with a private configuration.
policy=/usr/sbin/policy-rc.d
created_policy=
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${as_root[@]}" tee "$policy" >/dev/null
  "${as_root[@]}" chmod +x "$policy"
  created_policy=1
fi
trap '[ -z "$created_policy" ] || "${as_root[@]}" rm -f "$policy"' EXIT
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
