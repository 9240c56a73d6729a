"""Turns the user guide into one HTML page for the zip: Windows users have no
Markdown viewer, but every one of them has a browser. The page is ASCII with
CRLF line ends (every other character as a reference), like the read-me, so
that it reads the same whatever the code page.

Usage: guide_html.py GUIDE.md PAGE.html VERSION
"""
import html
import sys

import markdown

TEMPLATE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="us-ascii">
<title>{title}</title>
<style>
body {{ font-family: "Segoe UI", Tahoma, sans-serif; max-width: 52em; margin: 2em auto; padding: 0 1em; line-height: 1.45; }}
code, pre {{ font-family: Consolas, "Courier New", monospace; }}
pre {{ background: #f4f4f4; padding: 0.6em; overflow-x: auto; }}
table {{ border-collapse: collapse; margin: 1em 0; }}
th, td {{ border: 1px solid #bbb; padding: 0.3em 0.5em; vertical-align: top; text-align: left; }}
</style>
</head>
<body>
{body}
<hr>
<p>Tidewell Docklet {version}</p>
</body>
</html>
"""


def main():
    source, page, version = sys.argv[1:4]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    body = markdown.markdown(text, extensions=["tables", "fenced_code"], output_format="html")
    title = text.splitlines()[0].lstrip("# ").strip()
    document = TEMPLATE.format(title=html.escape(title), body=body, version=html.escape(version))
    ascii_only = document.encode("ascii", "xmlcharrefreplace").decode("ascii")
    with open(page, "w", encoding="ascii", newline="\r\n") as f:
        f.write(ascii_only)


if __name__ == "__main__":
    main()
