#!/usr/bin/env bash
# Checks the packages of scripts/package.sh for one architecture. x64 also checks what needs no
# Wine: the zip's contents (the kit, Windows line endings in samples/) and the 32-bit MSI's tables.
# Then, in a clean WoW64 Wine prefix of its own (<build>/msi-prefix-<arch>), the architecture's MSI
# installed over an older release made by the same script - one product left, files in place
# ("Program Files" or "Program Files (x86)") and this build's, the registry exactly as
# DllRegisterServer writes it (for x86 in the 32-bit view), objects of both DLLs created by script
# clients of the same bitness, the older release refused afterwards - and uninstalled again without
# leftovers, and the zip's register.cmd and unregister.cmd of that architecture.
#   package-test.sh <source dir> <x64 build dir> <x64|x86>
set -uo pipefail
root=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
arch=$3
tool="python3 $root/scripts/package/msi-registry.py"
failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
# runs WHAT COMMAND...: the command must end with exit code 0.
runs() { local what=$1 rc; shift; "$@"; rc=$?; [ $rc -eq 0 ] && pass "$what" || fail "$what ended with $rc"; }
binaries="QarnComConnector.dll QarnComDatatypes.dll QarnComConnector.tlb QarnComDatatypes.tlb Qarn.ComConnector.manifest Qarn.ComDatatypes.manifest"

source "$root/scripts/package/versions.sh" "$root" || exit 1
release=$qarn_release
zip_file=$root/dist/QarnComConnector-$release.zip
msi64=$root/dist/QarnComConnector-$release-x64.msi
msi86=$root/dist/QarnComConnector-$release-x86.msi
listing=$build/package/registry.tsv
for f in "$zip_file" "$msi64" "$msi86" "$listing"; do
    [ -f "$f" ] || { echo "FAILED: $f is missing: run scripts/package.sh build build-i686 first"; exit 1; }
done

tables=$(mktemp -d)
trap 'rm -rf "$tables"' EXIT

if [ "$arch" = x64 ]; then
    # --- zip ---------------------------------------------------------------------------------------
    entries=$(unzip -Z1 "$zip_file")
    has() { grep -qx -- "$1" <<<"$entries"; }
    for a in x64 x86; do
        for f in $binaries register.cmd unregister.cmd; do
            has "$a/$f" || fail "zip: $a/$f missing"
        done
        # register.cmd is made for its folder's architecture and has Windows line endings.
        unzip -p "$zip_file" "$a/register.cmd" | grep -q "^set ARCH=$a"$'\r'"$" || fail "zip: $a/register.cmd is not for $a"
    done
    # Each folder holds the DLLs of its own architecture.
    machine() { unzip -p "$zip_file" "$1" > "$tables/pe" && x86_64-w64-mingw32-objdump -f "$tables/pe" | sed -n 's/.*file format //p'; }
    [ "$(machine x64/QarnComConnector.dll)" = pei-x86-64 ] || fail "zip: x64/QarnComConnector.dll is not 64-bit"
    [ "$(machine x86/QarnComDatatypes.dll)" = pei-i386 ] || fail "zip: x86/QarnComDatatypes.dll is not 32-bit"
    for f in README.md samples/installation/xml/QarnConnector.xml docs/installing.md; do
        has "$f" || fail "zip: $f missing"
    done
    # The kit for C and C++ clients, the changelog; the contributors' pages stay out.
    for f in include/QarnComConnector.h include/QarnComDatatypes.h include/QarnComConnector_i.c \
             include/QarnComDatatypes_i.c idl/QarnComConnector.idl idl/QarnComDatatypes.idl CHANGELOG.md; do
        has "$f" || fail "zip: $f missing"
    done
    grep -q '^docs/dev/\|^docs/generator/' <<<"$entries" && fail "zip: contributors' pages in docs/"
    # The changelog's newest entry is this release.
    [ "$(unzip -p "$zip_file" CHANGELOG.md | tr -d '\r' | sed -n 's/^## //p' | head -n 1)" = "$release" ] \
        || fail "zip: CHANGELOG.md does not begin with release $release"
    [ "$(grep -c '^docs/images/.' <<<"$entries")" -gt 0 ] || fail "zip: docs/images is empty"
    # Every line of every text file in samples/ ends with CR LF.
    unzip -q "$zip_file" 'samples/*' -d "$tables/zip"
    unix=$(cd "$tables/zip" && grep -rIl $'[^\r]$\|^$' samples)
    [ -z "$unix" ] && pass "zip: the samples' text files have Windows line endings" \
        || fail "zip: lines without CR LF in $(echo $unix)"
    [ "$(grep -c '^samples/.*[^/]$' <<<"$entries")" -eq "$(cd "$root" && find samples -type f | wc -l)" ] \
        || fail "zip: samples/ is not complete"

    # --- 32-bit MSI: tables --------------------------------------------------------------------
    if msidump -t -d "$tables" "$msi86" >/dev/null; then
        check "x86 msi: a 32-bit package" bash -c "msiinfo suminfo '$msi86' | grep -q '^Template: Intel;'"
        for f in $binaries; do
            grep -q "^$f	" "$tables/File.idt" || fail "x86 msi: $f not in the File table"
        done
        # Every registration row of the listing for 32-bit (win32 type library paths, no 64-bit-only keys).
        rows=$($tool expected "$listing" x86 | grep -c .)
        [ "$(tail -n +4 "$tables/Registry.idt" | grep -c .)" -eq "$rows" ] || fail "x86 msi: not $rows Registry rows"
        grep -q '\\win32		\[#QarnComConnector.dll\]' "$tables/Registry.idt" || fail "x86 msi: no win32 type library path"
        grep -qi 'win64\|Wow6432Node' "$tables/Registry.idt" && fail "x86 msi: 64-bit registry rows"
        grep -q '	256	' "$tables/Component.idt" && fail "x86 msi: 64-bit components"
    else
        fail "x86 msi: msidump cannot read it"
    fi
fi

# --- the MSI: install, use, uninstall in a clean prefix ---------------------------------------
# The common Wine settings and qarn_wine_tool (Wine's own programs of the bitness QARN_ARCH names),
# in a prefix of this test's own.
source "$root/scripts/wine-env.sh"
export QARN_ARCH=$arch
export WINEPREFIX=$build/msi-prefix-$arch
wineserver -k 2>/dev/null
rm -rf "$WINEPREFIX"
qarn_wineboot -i >/dev/null 2>&1 </dev/null || { echo "FAILED: cannot create $WINEPREFIX"; exit 1; }
# Writes the registry to disk: the server saves it when it ends.
flush() { wineserver -k 2>/dev/null; wineserver -w; }

# Creates objects of both DLLs by ProgID from a script client and calls them.
cat > "$WINEPREFIX/drive_c/installed.vbs" <<'EOF'
Dim u, n
Set u = CreateObject("QarnComConnector.CQarnUtilities")
WScript.Echo "name: " & u.GetNameByPath("C:\a\b\parts.csv")
Set n = CreateObject("QarnComDatatypes.Field")
n.Name = "weight"
n.Value = 12
WScript.Echo "field: " & n.Name & "=" & n.StringValue
WScript.Echo "done"
EOF
use_classes() {
    local out
    out=$(qarn_wine_tool cscript //nologo 'C:\installed.vbs' 2>&1 </dev/null | tr -d '\r')
    echo "$out" | sed 's/^/  cscript: /'
    grep -qx "name: parts.csv" <<<"$out" && grep -qx "field: weight=12" <<<"$out" && grep -qx "done" <<<"$out" \
        && pass "$1: $arch script clients create the classes of both DLLs" || fail "$1: $arch script clients cannot use the classes"
}
# No key of any class, interface, type library or ProgID the registration writes is left.
no_leftovers() {
    local name left=0
    flush
    while read -r name; do
        if grep -qiF -- "$name" "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"; then
            fail "$1 left registry keys of $name"
            left=$((left + 1))
        fi
    done < <($tool guids "$listing")
    [ $left -eq 0 ] && pass "$1 removes every ProgID, CLSID, IID and type library key"
}
[ "$($tool guids "$listing" | grep -c .)" -gt 20 ] || fail "too few class, interface and library names in the listing"

# One product of ours is registered for uninstalling (an Uninstall key), of release $2 (none when
# $2 is empty).
products() {
    local counts names versions
    flush
    counts=$(awk -v release="$2" '
        /^\[/ { key = $0; next }
        key !~ /\\\\Uninstall\\\\/ { next }
        /^"DisplayName"="QarnComConnector \(/ { names[key] = 1 }
        /^"DisplayVersion"=/ { v = $0; sub(/^"DisplayVersion"="/, "", v); sub(/"$/, "", v); versions[key] = v }
        END { n = 0; m = 0; for (k in names) { n++; if (versions[k] == release) m++ }; print n, m }' "$WINEPREFIX/system.reg")
    read -r names versions <<<"$counts"
    if [ -z "$2" ]; then
        [ "$names" -eq 0 ] && pass "$1: no product of ours is left" || fail "$1: $names products of ours are left"
    else
        [ "$names" -eq 1 ] && [ "$versions" -eq 1 ] && pass "$1: one product of ours, release $2" \
            || fail "$1: $names products of ours ($versions of release $2)"
    fi
}

# An older release of the package: the same packaging script makes the MSI of a lower release from
# the zip's files, its connector DLL marked by bytes after its end (so that it differs from this
# build's; the loader ignores them).
IFS=. read -r major minor patch <<<"$release"
if [ "$patch" -gt 0 ]; then older=$major.$minor.$((patch - 1)); else older=$major.$((minor - 1)).0; fi
older_files=$tables/older-$arch
unzip -q -j "$zip_file" "$arch/*" -d "$older_files"
printf 'an older build' >>"$older_files/QarnComConnector.dll"
older_msi=$tables/QarnComConnector-$older-$arch.msi
bash "$root/scripts/package.sh" --msi $arch "$older" "$older_files" "$older_msi" "$build" >/dev/null \
    || fail "package.sh --msi cannot make the $older package"

# Installs the older release, then the MSI of `arch` over it into `folder` (Windows form, below
# drive C:): one product is left, with this build's files (the connector's DLL is the zip's of that
# architecture), script clients of its bitness work, and the registry is exactly what
# DllRegisterServer writes (for x86 as 32-bit programs see it); the older package is then refused.
# Then uninstalls it and looks for leftovers.
msi_round() {
    local msi=$1 folder=$2 expected installed f
    local target="$WINEPREFIX/drive_c/${folder#C:\\}"
    target=${target//\\//}
    runs "$arch msiexec /i of release $older" qarn_wine_tool msiexec /i "$(qarn_winepath "$older_msi")" /qn </dev/null
    cmp -s "$older_files/QarnComConnector.dll" "$target/QarnComConnector.dll" || fail "$arch msi $older: its DLL is not installed"
    runs "$arch msiexec /i of release $release over $older" qarn_wine_tool msiexec /i "$(qarn_winepath "$msi")" /qn </dev/null
    products "$arch upgrade from $older" "$release"
    for f in $binaries; do
        [ -f "$target/$f" ] || fail "$arch msi: $f not in $folder"
    done
    unzip -p "$zip_file" "$arch/QarnComConnector.dll" | cmp -s - "$target/QarnComConnector.dll" \
        || fail "$arch msi: QarnComConnector.dll is not the $arch build's"
    use_classes "$arch msi"

    flush
    expected=$($tool expected "$listing" "$arch") || fail "no expected $arch listing"
    installed=$($tool installed "$listing" "$arch" "$WINEPREFIX/system.reg" "$folder") || fail "cannot read the prefix"
    if [ -n "$expected" ] && [ "$expected" = "$installed" ]; then
        pass "$arch msi: the registry equals what DllRegisterServer writes ($(grep -c . <<<"$expected") rows)"
    else
        fail "$arch msi: the registry differs from what DllRegisterServer writes (< expected, > installed):"
        diff <(echo "$expected") <(echo "$installed") | head -20
    fi

    qarn_wine_tool msiexec /i "$(qarn_winepath "$older_msi")" /qn </dev/null
    [ $? -ne 0 ] && pass "$arch msiexec /i of release $older over $release is refused" \
        || fail "$arch msiexec /i of release $older over $release succeeded"
    products "$arch downgrade refused" "$release"

    runs "$arch msiexec /x" qarn_wine_tool msiexec /x "$(qarn_winepath "$msi")" /qn </dev/null
    no_leftovers "$arch msiexec /x"
    products "$arch msiexec /x" ""
    [ ! -e "$target" ] && pass "$arch msiexec /x removes the files" || fail "$arch msiexec /x left $(ls "$target" 2>/dev/null | tr '\n' ' ')"
}
if [ "$arch" = x64 ]; then
    msi_round "$msi64" 'C:\Program Files\QarnComConnector'
else
    msi_round "$msi86" 'C:\Program Files (x86)\QarnComConnector'
fi

# --- the zip's folder with register.cmd and unregister.cmd, in the same prefix -----------------
folder="$WINEPREFIX/drive_c/Qarn (zip $arch)"
mkdir -p "$folder"
unzip -q -j "$zip_file" "$arch/*" -d "$folder"
for cmd in register unregister; do
    (cd "$folder" && qarn_wine_tool cmd /c $cmd.cmd </dev/null | tr -d '\r' | sed "s/^/  $arch $cmd.cmd: /"; exit "${PIPESTATUS[0]}") \
        && pass "$arch $cmd.cmd" || fail "$arch $cmd.cmd failed"
    [ $cmd = register ] && use_classes "$arch register.cmd"
done
no_leftovers "$arch unregister.cmd"

wineserver -k 2>/dev/null
echo "$failures failed"
[ $failures -eq 0 ]
