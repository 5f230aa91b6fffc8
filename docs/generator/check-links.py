#!/usr/bin/env python3
"""Fails on a link between the user pages that leads nowhere.

Checks every relative Markdown link in README.md, CHANGELOG.md and docs/*.md (the pages of the
zip) and in docs/dev/*.md: the file must exist, and a #fragment must be the anchor of a heading
of that file (GitHub's rule: lower case, punctuation dropped, blanks to hyphens). The user pages
must not link into docs/dev or docs/generator, which the zip does not carry.

  check-links.py <source dir>
"""
import pathlib
import re
import sys

LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")


def anchors(path):
    found, fenced = set(), False
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith("```"):
            fenced = not fenced
        if fenced or not line.startswith("#"):
            continue
        title = line.lstrip("#").strip().lower()
        anchor = re.sub(r"[^\w\- ]", "", title).replace(" ", "-")
        base, n = anchor, 1
        while anchor in found:
            anchor, n = f"{base}-{n}", n + 1
        found.add(anchor)
    return found


def main(argv):
    if len(argv) != 2:
        raise SystemExit(__doc__)
    root = pathlib.Path(argv[1]).resolve()
    user = [root / "README.md", root / "CHANGELOG.md", *sorted((root / "docs").glob("*.md"))]
    pages = user + sorted((root / "docs" / "dev").glob("*.md"))
    problems, count, cache = [], 0, {}
    for page in pages:
        text = re.sub(r"```.*?```", "", page.read_text(encoding="utf-8"), flags=re.S)
        for target in LINK.findall(text):
            if re.match(r"[a-z]+:", target):
                continue
            count += 1
            file, _, fragment = target.partition("#")
            dest = (page.parent / file).resolve() if file else page
            where = f"{page.relative_to(root)}: {target}"
            if not dest.exists():
                problems.append(f"{where}: no such file")
                continue
            inside = dest.relative_to(root).as_posix() if dest.is_relative_to(root) else ""
            if page in user and inside.startswith(("docs/dev/", "docs/generator/")):
                problems.append(f"{where}: a user page links to contributor material the zip does not carry")
            if fragment and dest.suffix == ".md":
                if dest not in cache:
                    cache[dest] = anchors(dest)
                if fragment not in cache[dest]:
                    problems.append(f"{where}: no heading with the anchor #{fragment}")
    for problem in problems:
        print(problem)
    print(f"links: {count} checked in {len(pages)} pages, {len(problems)} broken")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
