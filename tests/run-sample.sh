#!/usr/bin/env bash
# Runs one sample in the build's Wine prefix, as a user would run it: a script with cscript, a
# program (.exe) directly; no
# prelude, QarnRootDir pointing at the sample installation. cscript under Wine ends silently with
# exit code 0 on an uncaught error, so the sample's own last line decides: it must read "done".
# A line with cscript's error marker ("file(line, column) ... error") or a crash report fails too.
set -uo pipefail
: "${QARN_BUILD_DIR:?QARN_BUILD_DIR must name the build folder}"
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../scripts/wine-env.sh"
sample=$1
[ -f "$sample" ] || { echo "FAILED: no sample $sample"; exit 1; }
export QarnRootDir="$(qarn_winepath "$here/../samples/installation")"
if [[ "$sample" == *.exe ]]; then
    out=$(qarn_wine "$sample" 2>&1 | tr -d '\r')
else
    out=$(qarn_wine_tool cscript //nologo "$(qarn_winepath "$sample")" 2>&1 | tr -d '\r')
fi
echo "$out"
if printf '%s\n' "$out" | grep -Eq '^([A-Za-z]:\\.*\([0-9]+, ?[0-9]+\) |wine: Unhandled|Script error)'; then
    echo "FAILED: the sample reported a script error or crashed"
    exit 1
fi
last=$(printf '%s\n' "$out" | grep -v '^\s*$' | tail -n 1)
if [ "$last" = "done" ]; then
    exit 0
fi
echo "FAILED: the sample did not end with the line 'done' (last line: '$last')"
exit 1
