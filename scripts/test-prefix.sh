#!/usr/bin/env bash
# Creates the private Wine prefix of a build folder and registers our DLLs in it (setup), or
# stops its wine server (cleanup).
#   test-prefix.sh setup|cleanup <build dir>
set -euo pipefail
mode=$1
export QARN_BUILD_DIR=$(cd "$2" && pwd)
source "$(dirname "$0")/wine-env.sh"

winpath() { winepath -w "$1" 2>/dev/null; }

case "$mode" in
setup)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "creating Wine prefix $WINEPREFIX"
        wineboot -i >/dev/null 2>&1 </dev/null
    fi
    # One persistent server for the whole run: every Wine process then starts quickly.
    wineserver -p >/dev/null 2>&1 </dev/null || true
    dlls=("$QARN_BUILD_DIR"/bin/QarnComDatatypes.dll "$QARN_BUILD_DIR"/bin/QarnComConnector.dll)
    # Test doubles of outside components belong to the test prefix only.
    [ "${QARN_WITH_DOUBLES:-1}" = 1 ] && dlls+=("$QARN_BUILD_DIR"/bin/doubles/*.dll)
    for dll in "${dlls[@]}"; do
        [ -f "$dll" ] || continue
        wine regsvr32 /s "$(winpath "$dll")" || { echo "regsvr32 failed for $dll"; exit 1; }
        echo "registered $(basename "$dll")"
    done
    ;;
cleanup)
    wineserver -k 2>/dev/null || true
    ;;
*)
    echo "usage: $0 setup|cleanup <build dir>" >&2
    exit 2
    ;;
esac
