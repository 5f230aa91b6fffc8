#!/usr/bin/env bash
# The main job: builds the DLLs, registers them in a private Wine prefix and runs the scenario of
# samples/scenario.vbs against the sample installation, as a Windows user would with regsvr32 and
# cscript.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh" x86_64 "$root/build"
# A prefix of its own: the clean machine of a customer, without the test doubles.
export QARN_WINEPREFIX="$root/build/demo-prefix"
QARN_WITH_DOUBLES=0 "$root/scripts/test-prefix.sh" setup "$root/build"
export QARN_BUILD_DIR="$root/build"
source "$root/scripts/wine-env.sh"
# The sample installation is the configuration the samples read.
export QarnRootDir="$(qarn_winepath "$root/samples/installation")"
started=$(date +%s)
echo "== registered in $QARN_WINEPREFIX; QarnRootDir=$QarnRootDir"
status=0
qarn_wine_tool cscript //nologo "$(qarn_winepath "$root/samples/scenario.vbs")" | tr -d '\r' > "$root/build/demo-output.txt" || status=1
cat "$root/build/demo-output.txt"
# cscript ends with exit code 0 even when the script stops on an error: its last line tells.
[ "$(grep -v '^\s*$' "$root/build/demo-output.txt" | tail -n 1)" = "done" ] || { echo "the scenario stopped early"; status=1; }
echo "== scenario finished in $(( $(date +%s) - started )) s"
"$root/scripts/test-prefix.sh" cleanup "$root/build"
exit $status
