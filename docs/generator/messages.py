#!/usr/bin/env python3
"""The table of message ids in docs/errors.md, made from the shipped message store.

The table lies between the two marker lines below in docs/errors.md. It lists every message of
the store's EN section with its English text and its texts in the other languages. The English
text is the one the connector falls back to when a store has no text for an id: every id the
sources raise (THROW_STORE_MESSAGE, THROW_STORE_REPORT) must be in the store with exactly that
text, or this script fails.

  messages.py <source dir>           writes the table into docs/errors.md
  messages.py <source dir> --check   fails when docs/errors.md holds another table
"""
import pathlib
import re
import sys
import xml.etree.ElementTree as ET

STORE = "samples/installation/xml/QarnResources.xml"
PAGE = "docs/errors.md"
BEGIN = "<!-- message table: made by docs/generator/messages.py from the shipped message store; do not edit -->"
END = "<!-- end of message table -->"
SOURCES = ("server", "config", "paramlist", "documents", "util", "secure", "logon", "components")
RAISE = re.compile(r'THROW_STORE_(?:MESSAGE|REPORT)\(L"(M\d+)",\s*L"((?:[^"\\]|\\.)*)"')


def store(root):
    languages = {}
    for section in ET.parse(root / STORE).getroot():
        languages[section.tag] = {m.tag: (m.text or "") for m in section}
    if "EN" not in languages:
        raise SystemExit(f"{STORE} has no EN section")
    return languages


def raised(root):
    """id -> set of built-in default texts, from the sources."""
    found = {}
    for folder in SOURCES:
        for path in sorted((root / folder).rglob("*.cpp")) + sorted((root / folder).rglob("*.h")):
            for mid, text in RAISE.findall(path.read_text(encoding="utf-8")):
                found.setdefault(mid, set()).add(text.encode().decode("unicode_escape"))
    return found


def table(languages):
    others = [lang for lang in languages if lang != "EN"]
    cell = lambda text: "`" + text.replace("|", "\\|") + "`" if text else ""
    lines = ["| id | English (also the built-in text) | " + " | ".join(others) + " |",
             "|---|---|" + "---|" * len(others)]
    for mid, text in languages["EN"].items():
        lines.append(f"| {mid} | {cell(text)} | " + " | ".join(cell(languages[o].get(mid, "")) for o in others) + " |")
    return "\n".join(lines)


def main(argv):
    if len(argv) not in (2, 3) or (len(argv) == 3 and argv[2] != "--check"):
        raise SystemExit(__doc__)
    root = pathlib.Path(argv[1])
    languages = store(root)
    problems = []
    for mid, texts in sorted(raised(root).items()):
        stored = languages["EN"].get(mid)
        if stored is None:
            problems.append(f"{mid} is raised by the sources but not in the store's EN section")
        for text in texts - {stored}:
            problems.append(f"{mid}: the built-in text {text!r} differs from the store's {stored!r}")
    if not raised(root):
        problems.append("no THROW_STORE_MESSAGE or THROW_STORE_REPORT found in the sources")
    page = (root / PAGE).read_text(encoding="utf-8")
    if BEGIN not in page or END not in page:
        raise SystemExit(f"{PAGE} lacks the marker lines of the message table")
    head, rest = page.split(BEGIN, 1)
    current, tail = rest.split(END, 1)
    wanted = head + BEGIN + "\n" + table(languages) + "\n" + END + tail
    for problem in problems:
        print(problem)
    if len(argv) == 3:
        if wanted != page:
            print(f"{PAGE}: the message table is stale; run: python3 docs/generator/messages.py . and commit it")
            return 1
        if not problems:
            print(f"{PAGE}: the message table is current ({len(languages['EN'])} messages)")
        return 1 if problems else 0
    if wanted != page:
        (root / PAGE).write_text(wanted, encoding="utf-8")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
