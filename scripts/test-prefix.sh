#!/usr/bin/env bash
# Creates the private Wine prefix of a build folder and registers our DLLs in it (setup), or
# stops its wine server (cleanup). With QARN_ARCH=x86 the folder holds the 32-bit build, and its
# DLLs are registered with the 32-bit regsvr32.
#   test-prefix.sh setup|cleanup <build dir>
set -euo pipefail
mode=$1
export QARN_BUILD_DIR=$(cd "$2" && pwd)
source "$(dirname "$0")/wine-env.sh"

case "$mode" in
setup)
    qarn_fresh_prefix || exit 1
    # One persistent server for the whole run: every Wine process then starts quickly.
    wineserver -p >/dev/null 2>&1 </dev/null || true
    dlls=("$QARN_BUILD_DIR"/bin/QarnComDatatypes.dll "$QARN_BUILD_DIR"/bin/QarnComConnector.dll)
    # Test doubles of outside components belong to the test prefix only.
    [ "${QARN_WITH_DOUBLES:-1}" = 1 ] && dlls+=("$QARN_BUILD_DIR"/bin/doubles/*.dll)
    for dll in "${dlls[@]}"; do
        [ -f "$dll" ] || continue
        qarn_wine_tool regsvr32 /s "$(qarn_winepath "$dll")" || { echo "regsvr32 failed for $dll"; exit 1; }
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
