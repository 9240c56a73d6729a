#!/usr/bin/env bash
# Fails unless the DLL exports exactly the five entry points, undecorated, and
# imports from Windows system DLLs only, so that it loads from its folder alone.
set -euo pipefail
objdump=$1
dll=$2
dump=$("$objdump" -p "$dll")

grep -q 'file format pei-i386' <<<"$("$objdump" -f "$dll")" || { echo "not a PE32 i386 file: $dll"; exit 1; }

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^[ \t]*\[/ {print $NF; next} on {on=0}' <<<"$dump" | sort)
expected=$(printf '%s\n' OnCreate OnDestroy OnGetInformation OnLeftButtonClick OnLeftButtonHeld | sort)
if [ "$exports" != "$expected" ]; then
  echo "exports differ from the five entry points:"
  diff <(echo "$expected") <(echo "$exports") || true
  exit 1
fi

allowed='^(KERNEL32|USER32|GDI32|GDIPLUS|WS2_32|WSOCK32|ADVAPI32|SECUR32|CRYPT32|MSVCRT|SHELL32|OLE32|WINMM|IPHLPAPI)\.DLL$'
status=0
while read -r name; do
  if ! grep -qiE "$allowed" <<<"$name"; then
    echo "imports a non-system DLL: $name"
    status=1
  fi
done < <(awk '/DLL Name:/ {print $3}' <<<"$dump")
[ "$status" -eq 0 ] && echo "exports: $(echo $exports); imports: $(awk '/DLL Name:/ {printf "%s ", $3}' <<<"$dump")"
exit $status
