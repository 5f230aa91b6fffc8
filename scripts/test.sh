#!/usr/bin/env bash
# Everything a fresh Debian machine needs to run every test: packages, both builds (64-bit is
# tested, 32-bit is built), the zip and MSI packages, the private Wine prefix, and the tests.
# Ends with ctest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
echo "== building (x86_64)"
"$root/scripts/build.sh" x86_64 "$root/build"
echo "== building (i686, not tested)"
"$root/scripts/build.sh" i686 "$root/build-i686" -DQARN_BUILD_TESTS=OFF
echo "== checking imports"
"$root/scripts/check-imports.sh" "$root/build/bin" "$root/build-i686/bin"
echo "== packaging (dist/)"
"$root/scripts/package.sh" "$root/build" "$root/build-i686"
echo "== testing"
cd "$root/build"
# One virtual display for the whole run: the tray icon tests need it (tests/CMakeLists.txt).
xvfb-run -a ctest --output-on-failure --timeout 900
