#!/usr/bin/env bash
# Builds the docklet, the stand-in host and the Windows tests (build/win), and
# the native sanitizer build of the portable code (build/native).
# Usage: scripts/build.sh [win|native|all] [TARGET...]   (default: all; every target)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-all}
case "$what" in win|native|all) ;; *) echo "usage: $0 [win|native|all] [TARGET...]" >&2; exit 2 ;; esac
shift $(( $# > 0 ? 1 : 0 ))
targets=()
for target in "$@"; do targets+=(--target "$target"); done

if [ "$what" != native ]; then
  # The client IDs the DLL carries come from the environment, as each build
  # finds it: none when these are unset (see the README).
  cmake -S "$top" -B "$top/build/win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
    -DTIDEWELL_MICROSOFT_CLIENT_ID="${TIDEWELL_MICROSOFT_CLIENT_ID-}" \
    -DTIDEWELL_GOOGLE_CLIENT_ID="${TIDEWELL_GOOGLE_CLIENT_ID-}" \
    -DTIDEWELL_GOOGLE_CLIENT_SECRET="${TIDEWELL_GOOGLE_CLIENT_SECRET-}" >/dev/null
  cmake --build "$top/build/win" "${targets[@]}"
fi
if [ "$what" != win ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$top/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$top/build/native" "${targets[@]}"
fi
