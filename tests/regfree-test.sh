#!/usr/bin/env bash
# Registration-free activation as a host without administrator rights uses it, in a clean WoW64
# Wine prefix of its own (<build>/regfree-prefix-<arch>) where nothing of ours is registered. The
# architecture's zip folder is unpacked into a host folder with the C++ sample, its host
# manifest (samples/cpp) and the test host tests/regfree/regfree_host.exe, then:
#   - the folder's manifests are checked against the rules of assembly manifests
#     (tests/regfree/check-manifests.py);
#   - the sample gets a parameter list; without its host manifest it finds no class at all;
#   - a plug-in host that activates our assembly's context only around its own creations gets
#     the application and a parameter list, made by the DLL outside that context;
#   - the test host creates every class of both DLLs, uses one from another apartment, and loads
#     the DLLs of its own folder while a second folder with another version runs from the same
#     files and a third copy is registered for the machine;
#   - removing the folders (and unregistering the machine's copy) leaves no key of ours.
#   regfree-test.sh <source dir> <x64 build dir> x64
#   regfree-test.sh <source dir> <x64 build dir> x86 <i686 build dir>
set -uo pipefail
root=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
arch=$3
if [ $arch = x64 ]; then bin=$build/bin; else bin=$(cd "$4" && pwd)/bin; fi
listing=$build/package/registry.tsv
failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

source "$root/scripts/package/versions.sh" "$root" || exit 1
version=$qarn_version  # the assemblies' version
zip_file=$root/dist/QarnComConnector-$qarn_release.zip
for f in "$zip_file" "$listing"; do
    [ -f "$f" ] || { echo "FAILED: $f is missing: run scripts/package.sh build build-i686 first"; exit 1; }
done
host_manifest=$root/samples/cpp/QarnClientSample.exe.manifest

source "$root/scripts/wine-env.sh"
export QARN_ARCH=$arch
export WINEPREFIX=$build/regfree-prefix-$arch
wineserver -k 2>/dev/null
rm -rf "$WINEPREFIX"
qarn_wineboot -i >/dev/null 2>&1 </dev/null || { echo "FAILED: cannot create $WINEPREFIX"; exit 1; }
export QarnRootDir="$(qarn_winepath "$root/samples/installation")"

# No key of any class, interface, type library or ProgID of ours, for the machine or the user.
no_keys() {
    local name left=0
    wineserver -k 2>/dev/null
    wineserver -w
    while read -r name; do
        if grep -qiF -- "$name" "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"; then
            fail "$1: the registry holds $name"
            left=$((left + 1))
        fi
    done < <(python3 "$root/scripts/package/msi-registry.py" guids "$listing")
    [ $left -eq 0 ] && pass "$1: no key of ours in the registry"
}
no_keys "a clean prefix"

# Runs a program of a host folder; its output, without carriage returns.
run() { qarn_wine "$@" 2>&1 </dev/null | tr -d '\r'; }

host="Host A ($arch)"
folder=$WINEPREFIX/drive_c/$host
mkdir -p "$folder"
unzip -q -j "$zip_file" "$arch/*" -d "$folder"
out=$(python3 "$root/tests/regfree/check-manifests.py" "$folder" "$host_manifest" $arch "$version")
grep -q ", 0 failed$" <<<"$out" && pass "$arch: ${out##*$'\n'}" || { fail "$arch: the manifests break rules"; echo "$out"; }

cp "$bin/QarnClientSample.exe" "$bin/tests/regfree_host.exe" "$folder/"
cp "$host_manifest" "$folder/QarnClientSample.exe.manifest"
cp "$host_manifest" "$folder/regfree_host.exe.manifest"

out=$(run "C:\\$host\\QarnClientSample.exe")
if grep -qx "Parameter list of CreatePart:" <<<"$out" && grep -qx "  Plant                  1100" <<<"$out" \
    && [ "$(tail -n 1 <<<"$out")" = done ]; then
    pass "$arch: the C++ sample gets the parameter list of CreatePart without registration"
else
    fail "$arch: the C++ sample without registration:"; echo "$out" | head -20
fi
mv "$folder/QarnClientSample.exe.manifest" "$folder/without.manifest.txt"
out=$(run "C:\\$host\\QarnClientSample.exe")
grep -q "Creating CQarnClassFactory .* failed with 0x80040154" <<<"$out" \
    && pass "$arch: without its host manifest the sample finds no class" \
    || { fail "$arch: the sample without host manifest:"; echo "$out" | head -5; }
mv "$folder/without.manifest.txt" "$folder/QarnClientSample.exe.manifest"

# A plug-in host: no manifest of its own, our assembly's context active only around its creations.
cp "$folder/regfree_host.exe" "$folder/plugin_host.exe"
out=$(run "C:\\$host\\plugin_host.exe" --plugin)
grep -q "^regfree host: [1-9][0-9]* passed, 0 failed$" <<<"$out" \
    && pass "$arch: a plug-in host's objects find our classes and the data types outside its context" \
    || { fail "$arch: the plug-in host:"; echo "$out" | head -10; }
rm "$folder/plugin_host.exe"

# A second host with another version of the assembly (the same files, renumbered), and a third
# copy registered for the machine: each host loads the DLLs of its own folder.
other="Host B ($arch)"
cp -r "$folder" "$WINEPREFIX/drive_c/$other"
sed -i "s/version=\"$version\"/version=\"9.0.0.1\"/" "$WINEPREFIX/drive_c/$other"/*.manifest
machine=$WINEPREFIX/drive_c/Machine-$arch
mkdir -p "$machine"
unzip -q -j "$zip_file" "$arch/QarnCom*.dll" -d "$machine"
for dll in QarnComDatatypes.dll QarnComConnector.dll; do
    qarn_wine_tool regsvr32 /s "C:\\Machine-$arch\\$dll" </dev/null || fail "$arch: regsvr32 $dll"
done
for h in "$host" "$other"; do
    out=$(run "C:\\$h\\regfree_host.exe")
    if grep -q "^regfree host: [1-9][0-9]* passed, 0 failed$" <<<"$out" && grep -qxF "loaded C:\\$h\\QarnComConnector.dll" <<<"$out"; then
        pass "$arch: $h: every class, ProgID and type library, another apartment, its own DLLs (${out##*: })"
    else
        fail "$arch: $h:"; echo "$out" | head -20
    fi
done
for dll in QarnComConnector.dll QarnComDatatypes.dll; do
    qarn_wine_tool regsvr32 /u /s "C:\\Machine-$arch\\$dll" </dev/null || fail "$arch: regsvr32 /u $dll"
done
rm -rf "$folder" "$WINEPREFIX/drive_c/$other" "$machine"
no_keys "$arch: after removal"

wineserver -k 2>/dev/null
rm -rf "$WINEPREFIX"
echo "regfree: $failures failed"
[ $failures -eq 0 ]
