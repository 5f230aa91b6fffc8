#!/usr/bin/env bash
# The main job: builds the DLLs, registers them in a private Wine prefix and runs the sample
# scripts against them, as a Windows user would with regsvr32 and cscript.
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
export QarnRootDir="$(winepath -w "$root/samples/installation")"
status=0
for script in "$root"/samples/*.vbs "$root"/samples/*.js; do
    [ -f "$script" ] || continue
    echo "== $(basename "$script")"
    wine cscript //nologo "$(winepath -w "$script")" | tr -d '\r' || status=1
done
"$root/scripts/test-prefix.sh" cleanup "$root/build"
exit $status
