#!/usr/bin/env bash
# Everything a fresh Debian machine needs to run every test: packages (Wine with its 32-bit
# loader), both builds, the zip and MSI packages, the private Wine prefixes, and the tests of both
# architectures in one CTest run. Ends with ctest's summary. On a machine that cannot run 32-bit
# programs (scripts/x86-probe.sh; QARN_NO_X86=1 acts as one) the x86 tests are reported as skipped
# and the run says so in one line just before the summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
echo "== building (x86_64)"
# Its CTest run also runs the tests of the 32-bit build folder (suffix _x86).
"$root/scripts/build.sh" x86_64 "$root/build" -DQARN_X86_BUILD_DIR="$root/build-i686"
echo "== building (i686)"
"$root/scripts/build.sh" i686 "$root/build-i686" -DQARN_BUILD_TESTS=ON
echo "== checking imports"
"$root/scripts/check-imports.sh" "$root/build/bin" "$root/build-i686/bin"
echo "== packaging (dist/)"
"$root/scripts/package.sh" "$root/build" "$root/build-i686"
echo "== testing"
cd "$root/build"
# One virtual display for the whole run: the tray icon tests need it (tests/CMakeLists.txt).
status=0
xvfb-run -a ctest --output-on-failure --timeout 900 | tee ctest-output.txt || status=$?
if [ -f x86-skipped.txt ]; then
    # The notice, then ctest's summary once more, so that the run still ends with it.
    echo
    echo "x86 tests skipped: $(cat x86-skipped.txt)"
    sed -n '/^[0-9]*% tests passed/,$p' ctest-output.txt
fi
exit $status
