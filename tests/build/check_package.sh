#!/usr/bin/env bash
# Fails unless the zip holds exactly the docklet folder and the read-me, each
# entry byte for byte the file it was made from, the docklet folder's shipped
# files as they are in package/, and the read-me as Notepad shows it: CRLF
# line ends and ASCII only.
set -euo pipefail
zip=$1 dist=$2 sources=$3 readme=$4

# entry in the zip | the file it must equal | the file that one is copied from
table="TidewellDocklet/TidewellDocklet.dll|$dist/TidewellDocklet.dll|
TidewellDocklet/TidewellDocklet.ini|$dist/TidewellDocklet.ini|$sources/TidewellDocklet.ini
TidewellDocklet/NoMail.png|$dist/NoMail.png|$sources/NoMail.png
TidewellDocklet/NewMail.png|$dist/NewMail.png|$sources/NewMail.png
ReadMe.txt|$readme|"

listed=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
expected=$(cut -d'|' -f1 <<<"$table" | sort)
if [ "$listed" != "$expected" ]; then
  echo "the zip's entries differ from the docklet folder and the read-me:"
  diff <(echo "$expected") <(echo "$listed") || true
  exit 1
fi

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$zip")
status=0
while IFS='|' read -r entry built source; do
  cmp -s "$unpacked/$entry" "$built" || { echo "$entry differs from $built"; status=1; }
  if [ -n "$source" ] && ! cmp -s "$built" "$source"; then
    echo "$built is stale: it differs from $source"
    status=1
  fi
done <<<"$table"

text=$unpacked/ReadMe.txt
if LC_ALL=C grep -qv $'\r$' "$text" || [ -n "$(tail -c1 "$text")" ]; then
  echo "ReadMe.txt has a line that does not end in CRLF"
  status=1
fi
if LC_ALL=C grep -q $'[^\t\r -~]' "$text"; then
  echo "ReadMe.txt has a character outside printable ASCII:"
  LC_ALL=C grep -n $'[^\t\r -~]' "$text" | head -3
  status=1
fi
[ "$status" -eq 0 ] && echo "$(basename "$zip"): $(echo $expected)"
exit $status
