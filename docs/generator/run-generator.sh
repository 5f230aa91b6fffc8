#!/usr/bin/env bash
# Runs TypeLibReference under Wine in the build's own prefix (created on first use).
#   run-generator.sh <build dir> <TypeLibReference.exe> <arguments...>
# The program's output goes through a file: Wine's helper processes, started with the first
# program of a new prefix, would otherwise keep the build tool's output pipe open.
# The wine server: when none runs for the prefix, we start one that ends with our program and
# wait for it to end, so that no server of ours lingers when the tests start their persistent one
# (which would then fail to start). When one already runs (the tests' server), we use it and
# leave it alone.
set -uo pipefail
export QARN_BUILD_DIR=$(cd "$1" && pwd)
source "$(dirname "$0")/../../scripts/wine-env.sh"
exe=$2
shift 2
if ! command -v "$QARN_WINE64" >/dev/null; then
    echo "run-generator.sh: Wine's 64-bit loader is not installed; it is needed to write docs/reference.md" >&2
    exit 1
fi
# The server needs the prefix folder; Wine fills an empty one on first use.
qarn_drop_stale_prefix >&2
[ -f "$WINEPREFIX/system.reg" ] || echo "creating Wine prefix $WINEPREFIX"
mkdir -p "$WINEPREFIX"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
own_server=0
wineserver -p0 </dev/null >/dev/null 2>&1 && own_server=1
"$QARN_WINE64" "$exe" "$@" </dev/null >"$log" 2>&1
status=$?
[ $own_server = 1 ] && timeout 30 wineserver -w </dev/null >/dev/null 2>&1
# Wine's own notices ("wine: created the configuration directory", ...) are not errors.
grep -v '^wine: \|^wineserver: \|^[0-9a-f]*:err:\|^[0-9a-f]*:fixme:' "$log" >&2
exit $status
