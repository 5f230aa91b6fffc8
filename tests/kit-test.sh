#!/usr/bin/env bash
# The kit in the zip as a C++ developer meets it: the zip is unpacked into an empty folder and the
# C++ sample is configured and built from samples/cpp with CMake and the MinGW-w64 compilers, with
# nothing of the source tree or the build folders (checked: no path of theirs reaches the build).
# The program is then run as installing.md tells: beside a copy of the zip's x64 folder, with its
# host manifest, without registration, QarnRootDir at the zip's samples\installation.
#   kit-test.sh <source dir> <x64 build dir>
set -uo pipefail
root=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

source "$root/scripts/package/versions.sh" "$root" || exit 1
zip_file=$root/dist/QarnComConnector-$qarn_release.zip
[ -f "$zip_file" ] || { echo "FAILED: $zip_file is missing: run scripts/package.sh build build-i686 first"; exit 1; }

kit=$build/kit
rm -rf "$kit"
mkdir -p "$kit/zip"
unzip -q "$zip_file" -d "$kit/zip"
# The compilers are the machine's; everything else comes from the zip.
if cmake -S "$kit/zip/samples/cpp" -B "$kit/build" -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
        >"$kit/cmake.log" 2>&1 \
    && cmake --build "$kit/build" -- VERBOSE=1 >>"$kit/cmake.log" 2>&1; then
    pass "the C++ sample builds from the unpacked zip with MinGW-w64"
else
    fail "the C++ sample does not build from the unpacked zip:"; tail -30 "$kit/cmake.log"
fi
outside=$(cat "$kit/cmake.log" "$kit/build/CMakeCache.txt" | sed "s#$kit/#<kit>/#g" \
    | grep -o -e "$root[^ ]*" -e "$build[^ ]*" | sort -u | head -5)
[ -z "$outside" ] && pass "the build used nothing outside the unpacked zip" || fail "the build reached outside the zip: $outside"
exe=$kit/build/QarnClientSample.exe
[ -f "$exe" ] && [ -f "$kit/build/QarnClientSample.exe.manifest" ] || fail "no QarnClientSample.exe with its manifest"

# Run it without registration, in a clean prefix of this test's own.
source "$root/scripts/wine-env.sh"
export QARN_ARCH=x64
export WINEPREFIX=$build/kit-prefix
wineserver -k 2>/dev/null
rm -rf "$WINEPREFIX"
qarn_wineboot -i >/dev/null 2>&1 </dev/null || { echo "FAILED: cannot create $WINEPREFIX"; exit 1; }
folder=$WINEPREFIX/drive_c/Sample
mkdir -p "$folder"
cp "$kit/zip/x64/"* "$exe" "$kit/build/QarnClientSample.exe.manifest" "$folder/"
export QarnRootDir="$(qarn_winepath "$kit/zip/samples/installation")"
out=$(qarn_wine 'C:\Sample\QarnClientSample.exe' 2>&1 </dev/null | tr -d '\r')
if grep -qx "Parameter list of CreatePart:" <<<"$out" && grep -qx "  Plant                  1100" <<<"$out" \
    && grep -q "^A transaction that does not exist gives 0x80020009: " <<<"$out" && [ "$(tail -n 1 <<<"$out")" = done ]; then
    pass "the kit's program gets the parameter list of CreatePart from the zip's folder, unregistered"
else
    fail "the kit's program:"; echo "$out" | head -20
fi
wineserver -k 2>/dev/null
echo "$failures failed"
[ $failures -eq 0 ]
