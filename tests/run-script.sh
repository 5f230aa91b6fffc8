#!/usr/bin/env bash
# Runs one script test with cscript in the build's Wine prefix. cscript under Wine ends silently
# with exit code 0 on an uncaught error, so the script's own last line decides: it must read
# "N passed, 0 failed". The prelude of its language (tests/scripts/prelude: counters, the check
# routine, text helpers) is joined in front of the script first.
set -uo pipefail
: "${QARN_BUILD_DIR:?QARN_BUILD_DIR must name the build folder}"
source "$(dirname "$0")/../scripts/wine-env.sh"
script=$1
joined_dir="$QARN_BUILD_DIR/script-tests"
mkdir -p "$joined_dir"
joined="$joined_dir/$(basename "$script")"
cat "$(dirname "$script")/prelude/prelude.${script##*.}" "$script" > "$joined"
out=$(qarn_wine_tool cscript //nologo "$(qarn_winepath "$joined")" 2>&1 | tr -d '\r')
echo "$out"
last=$(printf '%s\n' "$out" | grep -v '^\s*$' | tail -n 1)
if [[ "$last" =~ ^([0-9]+)\ passed,\ 0\ failed$ ]] && [ "${BASH_REMATCH[1]}" -gt 0 ]; then
    exit 0
fi
echo "FAILED: the script did not end with its summary line (last line: '$last')"
exit 1
