#!/usr/bin/env bash
# Fails unless the zip holds exactly the docklet folder, the read-me and the
# user guide's page, each entry byte for byte the file it was made from, the
# docklet folder's shipped files as they are in package/, the page made from
# the guide as it stands, and the text files as Notepad shows them: CRLF line
# ends and ASCII only; that the guide's page shows its tables as tables and
# names every line the sign-in code writes to Debug.log; and that the DLL goes
# without debug information or symbols, naming the file beside the build that
# keeps them.
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
# A table the Markdown reader did not take whole shows as text: rows cut off
# from their header by a blank line or a paragraph become a paragraph of
# pipes, and a line of prose right under a table becomes a row with text in
# its first cell alone.
while IFS= read -r broken; do
  fail "UserGuide.html shows a table as text at $broken"
done < <(awk '{ sub(/\r$/, "") }
  /^<p>\|/ { print "line " NR ": " substr($0, 1, 100); next }
  /^<tr>$/ { cells = 0; filled = 0; firstFilled = 0; row = NR; next }
  /^<t[dh][ >]/ { cells++
                  if ($0 !~ /^<t[dh][^>]*><\/t[dh]>$/) { filled++; if (cells == 1) firstFilled = 1 }
                  if (cells == 1) text = $0
                  next }
  /^<\/tr>$/ { if (cells > 1 && filled == 1 && firstFilled) print "line " row ": " substr(text, 1, 100) }' "$page")
# The guide's table of sign-in lines names every line the sign-in code
# writes to Debug.log: the longest fixed stretch of each line's format.
while IFS= read -r missing; do
  fail "the guide does not name the Debug.log line $missing"
done < <(/usr/bin/python3 - "$sources/../src/signin" "$guide" <<'PY'
import pathlib, re, sys
guide = pathlib.Path(sys.argv[2]).read_text(encoding="utf-8")
call = re.compile(r'\b(?:Log|WriteDebugLog)\(\s*instance,\s*(?:index,\s*)?"((?:[^"\\]|\\.)*)"')
sources = sorted(pathlib.Path(sys.argv[1]).glob("*.cpp"))
if not sources:
    print(f"of the sign-in code: no sources found in {sys.argv[1]}")
for source in sources:
    for line_format in call.findall(source.read_text(encoding="utf-8")):
        fixed = max((piece.strip() for piece in re.split(r"%[-+ #0-9.]*[a-z]+", line_format)), key=len)
        if fixed and fixed not in guide:
            print(f'"{line_format}" ({source.name})')
PY
)
[ "$status" -eq 0 ] && echo "$(basename "$zip"): $(echo $expected)"
exit $status
