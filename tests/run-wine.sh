#!/usr/bin/env bash
# Runs a Windows program of the build in the build's Wine prefix (the emulator of our tests).
set -euo pipefail
: "${QARN_BUILD_DIR:?QARN_BUILD_DIR must name the build folder}"
source "$(dirname "$0")/../scripts/wine-env.sh"
# The prefix's service processes inherit the standard handles of the Wine process that starts
# them, and a captured output would then never end: start them, when a test before has ended
# them, with no output attached.
qarn_wine_tool cmd /c exit >/dev/null 2>&1 </dev/null
qarn_wine "$@"
