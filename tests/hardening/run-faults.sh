#!/usr/bin/env bash
# Runs faults.exe on a 256 KB tmpfs of its own under the build folder, with a folder made immutable
# (chattr +i) that even root cannot write to (Wine ignores the read-only flag for root). The mount
# is always removed again; without the rights to mount the test says it is skipped.
#   run-faults.sh <faults.exe>
set -uo pipefail
: "${QARN_BUILD_DIR:?QARN_BUILD_DIR must name the build folder}"
exe=$1
disk="$QARN_BUILD_DIR/faults-disk"

release() {
    chattr -i "$disk/locked" 2>/dev/null
    umount "$disk" 2>/dev/null
    rmdir "$disk" 2>/dev/null
}
trap release EXIT

mkdir -p "$disk"
mountpoint -q "$disk" && release && mkdir -p "$disk"   # left over from an interrupted run
if ! mount -t tmpfs -o size=256k tmpfs "$disk" 2>/dev/null; then
    if [ -z "${QARN_FAULTS_NAMESPACE:-}" ] && unshare -rm true 2>/dev/null; then
        # A private mount namespace; it gets a Wine server of its own, stopped at the end.
        trap - EXIT
        rmdir "$disk" 2>/dev/null
        exec unshare -rm env QARN_FAULTS_NAMESPACE=1 bash "$0" "$@"
    fi
    echo "faults skipped: cannot mount a small file system (needs root or user namespaces)"
    exit 0
fi
mkdir "$disk/small" "$disk/locked"
if ! chattr +i "$disk/locked" 2>/dev/null; then
    echo "faults skipped: chattr +i is not supported on tmpfs here"
    exit 0
fi

source "$(dirname "$0")/../../scripts/wine-env.sh"
qarn_wine_tool cmd /c exit >/dev/null 2>&1 </dev/null   # services start without our output (tests/run-wine.sh)
qarn_wine "$exe" "$(qarn_winepath "$disk/small")" "$(qarn_winepath "$disk/locked")"
status=$?
[ -n "${QARN_FAULTS_NAMESPACE:-}" ] && wineserver -k 2>/dev/null
exit $status
