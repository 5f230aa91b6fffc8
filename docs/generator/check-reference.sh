#!/usr/bin/env bash
# Fails when the committed docs/reference.md is not the page the build generated, so that a change
# of the type library or of docs/generator/subsystems.md is not committed without its page.
#   check-reference.sh <source dir> <generated reference.md>
set -uo pipefail
src=$1
generated=$2
if [ ! -s "$generated" ]; then
    echo "$generated is missing: build the target 'reference' first"
    exit 1
fi
committed=$(mktemp)
trap 'rm -f "$committed"' EXIT
if git -C "$src" rev-parse --verify -q HEAD >/dev/null 2>&1; then
    if ! git -C "$src" show HEAD:docs/reference.md >"$committed" 2>/dev/null; then
        echo "docs/reference.md is not committed; the build wrote it into the source tree: commit it"
        exit 1
    fi
else
    # A source tree without history: compare with the file as it lies there.
    cp "$src/docs/reference.md" "$committed" 2>/dev/null || { echo "$src/docs/reference.md is missing"; exit 1; }
fi
if ! diff -u --label "committed docs/reference.md" --label "generated" "$committed" "$generated" >"$committed.diff"; then
    echo "docs/reference.md is stale: the build wrote the new page into the source tree; commit it."
    head -n 60 "$committed.diff"
    rm -f "$committed.diff"
    exit 1
fi
rm -f "$committed.diff"
echo "docs/reference.md is the generated page"
