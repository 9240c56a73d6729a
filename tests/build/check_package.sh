#!/usr/bin/env bash
# Fails unless the zip holds exactly the docklet folder, the read-me and the
# user guide's page, each entry byte for byte the file it was made from, the
# docklet folder's shipped files as they are in package/, the page made from
# the guide as it stands, and the text files as Notepad shows them: CRLF line
# ends and ASCII only. The DLL goes without debug information or symbols,
# and names the file beside the build that keeps them.
set -euo pipefail
zip=$1 dist=$2 sources=$3 readme=$4 page=$5 guide=$6 objdump=$7 symbols=$8

# entry in the zip | the file it must equal | the file that one comes from | kind
table="TidewellDocklet/TidewellDocklet.dll|$dist/TidewellDocklet.dll||binary
TidewellDocklet/TidewellDocklet.ini|$dist/TidewellDocklet.ini|$sources/TidewellDocklet.ini|text
TidewellDocklet/NoMail.png|$dist/NoMail.png|$sources/NoMail.png|binary
TidewellDocklet/NewMail.png|$dist/NewMail.png|$sources/NewMail.png|binary
ReadMe.txt|$readme||text
UserGuide.html|$page||text"

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
fail() { echo "$*"; status=1; }
while IFS='|' read -r entry built source kind; do
  file=$unpacked/$entry
  cmp -s "$file" "$built" || fail "$entry differs from $built"
  if [ "$kind" = binary ]; then
    [ -z "$source" ] || cmp -s "$built" "$source" || fail "$built is stale: it differs from $source"
    continue
  fi
  # Text is shipped with CRLF line ends whatever the source has.
  [ -z "$source" ] || cmp -s <(tr -d '\r' <"$built") <(tr -d '\r' <"$source") ||
    fail "$built is stale: its lines differ from $source"
  if LC_ALL=C grep -qv $'\r$' "$file" || [ -n "$(tail -c1 "$file")" ]; then
    fail "$entry has a line that does not end in CRLF"
  fi
  if LC_ALL=C grep -q $'[^\t\r -~]' "$file"; then
    fail "$entry has a character outside printable ASCII: $(LC_ALL=C grep -n -m1 $'[^\t\r -~]' "$file")"
  fi
done <<<"$table"
dll=$unpacked/TidewellDocklet/TidewellDocklet.dll
sections=$("$objdump" -h "$dll" | awk '$1 ~ /^[0-9]+$/ {print $2}')
debug=$(grep '^\.debug' <<<"$sections" | tr '\n' ' ' || true)
[ -z "$debug" ] || fail "the DLL carries debug sections: $debug"
! "$objdump" -t "$dll" | grep -q '^\[' || fail "the DLL carries its symbol table"
grep -q '^\.gnu_debuglink$' <<<"$sections" && grep -aqF "$(basename "$symbols")" "$dll" && [ -s "$symbols" ] ||
  fail "the DLL's debug link does not name $symbols, or that file is missing"
fresh=$(mktemp)
/usr/bin/python3 "$sources/guide_html.py" "$guide" "$fresh" "$(basename "$zip" .zip | sed 's/^TidewellDocklet-//')"
cmp -s "$fresh" "$page" || fail "$page is stale: it differs from a page made from $guide now"
rm -f "$fresh"
[ "$status" -eq 0 ] && echo "$(basename "$zip"): $(echo $expected)"
exit $status
