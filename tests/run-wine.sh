#!/usr/bin/env bash
# Runs a Windows program of the build in the build's Wine prefix (the emulator of our tests).
set -euo pipefail
: "${QARN_BUILD_DIR:?QARN_BUILD_DIR must name the build folder}"
source "$(dirname "$0")/../scripts/wine-env.sh"
exec wine "$@"
