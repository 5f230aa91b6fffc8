#!/usr/bin/env bash
# Builds the Windows packages into dist/ from a 64-bit and a 32-bit build folder:
#   dist/QarnComConnector-<release>.zip      x64/ and x86/ (DLLs, type libraries, the DLLs'
#                                            assembly manifests, register.cmd, unregister.cmd,
#                                            QarnTool.exe when built), include/ (the headers and
#                                            identifiers made from the type libraries), idl/,
#                                            samples/ (text files with CR LF), docs/, README.md,
#                                            CHANGELOG.md
#   dist/QarnComConnector-<release>-x64.msi  installs to Program Files and registers both DLLs
#   dist/QarnComConnector-<release>-x86.msi  the same for 32-bit
# The MSIs' COM registration is what DllRegisterServer writes: both 64-bit DLLs are registered in
# a scratch Wine prefix (<x64 build>/package-prefix) and the new HKCR keys become Registry rows
# (scripts/package/msi-registry.py); the listing is kept in <x64 build>/package/registry.tsv. The
# assembly manifests (Qarn.ComConnector.manifest, Qarn.ComDatatypes.manifest) are made from the same
# listing, so registration-free activation offers exactly what registration does.
#   package.sh <x64 build dir> <i686 build dir>
# One MSI of another release from a folder laid out as a zip's architecture folder and the listing
# of an earlier full run (the package test makes an older package this way):
#   package.sh --msi <x64|x86> <release> <folder> <output.msi> <x64 build dir>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "package.sh: $*" >&2; exit 1; }
msi_only=()
if [ "${1:-}" = --msi ]; then
    [ $# -eq 6 ] || fail "usage: package.sh --msi <x64|x86> <release> <folder> <output.msi> <x64 build dir>"
    msi_only=("$2" "$3" "$(cd "$4" && pwd)" "$(cd "$(dirname "$5")" && pwd)/$(basename "$5")")
    x64=$(cd "$6" 2>/dev/null && pwd) || fail "no build folder $6"
else
    [ $# -eq 2 ] || fail "usage: package.sh <x64 build dir> <i686 build dir>"
    x64=$(cd "$1" 2>/dev/null && pwd) || fail "no build folder $1"
    x86=$(cd "$2" 2>/dev/null && pwd) || fail "no build folder $2"
fi
for tool in wixl msiinfo zip python3 wineserver; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
done

source "$root/scripts/package/versions.sh" "$root" || exit 1
version=$qarn_version
# Stable per architecture: a package of a higher release replaces the installed one (MajorUpgrade).
upgrade_x64="02E44844-F61A-46AE-AA85-27443CCC9759"
upgrade_x86="D3D3E6EF-D1C5-4481-9BEE-0613E066A7B4"

dlls=(QarnComDatatypes.dll QarnComConnector.dll)  # registration order: data types first
tlbs=(QarnComDatatypes.tlb QarnComConnector.tlb)
# The side-by-side assembly of each DLL, for registration-free activation: <name>.manifest beside it.
declare -A assemblies=([QarnComDatatypes.dll]=Qarn.ComDatatypes [QarnComConnector.dll]=Qarn.ComConnector)

# The MSI of one architecture and release from the files of <folder> (DLLs, type libraries,
# QarnTool.exe when there, the assembly manifests), with the registry rows of the listing.
#   build_msi <arch> <release> <folder> <output.msi> <folder for the WiX source>
build_msi() {
    local arch=$1 release=$2 folder=$3 msi=$4 wxs=$5/QarnComConnector-$1.wxs upgrade=$upgrade_x64 f files=()
    [ "$arch" = x86 ] && upgrade=$upgrade_x86
    for f in "${dlls[@]}" "${tlbs[@]}" QarnTool.exe; do
        if [ -f "$folder/$f" ]; then files+=("$folder/$f"); fi
    done
    files+=("$folder/"*.manifest)
    python3 "$root/scripts/package/msi-registry.py" wxs "$x64/package/registry.tsv" $arch "$release" "$upgrade" "$wxs" "${files[@]}"
    # wixl takes the files from the current folder.
    (cd "$folder" && wixl -a $arch -o "$msi" "$wxs") || fail "wixl failed for $wxs"
    echo "built $msi"
}
if [ ${#msi_only[@]} -gt 0 ]; then
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    build_msi "${msi_only[0]}" "${msi_only[1]}" "${msi_only[2]}" "${msi_only[3]}" "$scratch"
    exit 0
fi

# The files of one architecture: "<path>" lines, DLLs first.
arch_files() {
    local build=$1 f
    for f in "${dlls[@]}"; do
        [ -f "$build/bin/$f" ] || fail "$build/bin/$f is missing (build first)"
        echo "$build/bin/$f"
    done
    for f in "${tlbs[@]}"; do
        [ -f "$build/idl/$f" ] || fail "$build/idl/$f is missing (build first)"
        echo "$build/idl/$f"
    done
    if [ -f "$build/bin/QarnTool.exe" ]; then echo "$build/bin/QarnTool.exe"; fi
}
mapfile -t files_x64 < <(arch_files "$x64")
mapfile -t files_x86 < <(arch_files "$x86")
[ ${#files_x64[@]} -ge 4 ] && [ ${#files_x86[@]} -ge 4 ] || exit 1

dist=$root/dist
mkdir -p "$dist"
rm -f "$dist"/QarnComConnector-*.zip "$dist"/QarnComConnector-*.msi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# --- registration of the 64-bit DLLs in a scratch prefix ------------------------------------------
work=$x64/package
rm -rf "$work"
mkdir -p "$work"
# The common Wine settings and qarn_wine_tool (the 64-bit regsvr32 here), in a scratch prefix.
source "$root/scripts/wine-env.sh"
command -v "$QARN_WINE64" >/dev/null || fail "Wine's 64-bit loader is missing (scripts/deps.sh installs it)"
export WINEPREFIX=$x64/package-prefix
rm -rf "$WINEPREFIX"
qarn_wineboot -i >/dev/null 2>&1 </dev/null || fail "cannot create the Wine prefix $WINEPREFIX"
wineserver -w
folder=$WINEPREFIX/drive_c/QarnPackage
mkdir -p "$folder"
cp "$x64/bin/QarnComDatatypes.dll" "$x64/bin/QarnComConnector.dll" "$folder/"
cp "$WINEPREFIX/system.reg" "$work/0.reg"
captures=()
n=0
for f in "${dlls[@]}"; do
    # Each step ends the server, which writes the registry to disk.
    qarn_wine_tool regsvr32 /s "C:\\QarnPackage\\$f" </dev/null || fail "regsvr32 failed for $f"
    wineserver -w
    n=$((n + 1))
    cp "$WINEPREFIX/system.reg" "$work/$n.reg"
    captures+=("$f" "$work/$((n - 1)).reg" "$work/$n.reg")
done
python3 "$root/scripts/package/msi-registry.py" capture "$work/registry.tsv" 'C:\QarnPackage' "${captures[@]}"
rm -rf "$WINEPREFIX" "$work"/*.reg

# --- zip ---------------------------------------------------------------------------------------
for arch in x64 x86; do
    mkdir -p "$stage/$arch"
    if [ $arch = x64 ]; then files=("${files_x64[@]}"); else files=("${files_x86[@]}"); fi
    cp "${files[@]}" "$stage/$arch/"
    for cmd in register unregister; do
        # Windows line endings; the architecture decides which regsvr32 runs.
        sed "s/@ARCH@/$arch/" "$root/scripts/package/$cmd.cmd" | sed 's/\r*$/\r/' > "$stage/$arch/$cmd.cmd"
    done
    # Registration-free activation: each DLL's assembly manifest, from what it registers.
    for f in "${dlls[@]}"; do
        assembly=${assemblies[$f]}
        deps=()
        [ "$f" = QarnComConnector.dll ] && deps=("${assemblies[QarnComDatatypes.dll]}")
        python3 "$root/scripts/package/msi-registry.py" manifest "$work/registry.tsv" $arch "$version" \
            "$f" "$assembly" "$stage/$arch/$assembly.manifest" "${deps[@]}" || fail "no manifest for $f"
    done
done
# The kit for C and C++ clients: the headers and identifiers widl made from the type libraries
# (the same for both architectures), and the type library sources.
mkdir -p "$stage/include" "$stage/idl"
for name in QarnComDatatypes QarnComConnector; do
    cp "$x64/idl/$name.h" "$x64/idl/${name}_i.c" "$stage/include/"
done
cp "$root/datatypes/QarnComDatatypes.idl" "$root/server/QarnComConnector.idl" "$stage/idl/"
cp -r "$root/samples" "$root/docs" "$root/README.md" "$root/CHANGELOG.md" "$stage/"
# The samples are opened and built on Windows: their text files get Windows line endings.
find "$stage/samples" -type f -exec grep -Iq . {} \; -exec sed -i 's/\r*$/\r/' {} +
# The contributors' pages and the reference page's generator are not for users.
rm -rf "$stage/docs/dev" "$stage/docs/generator"
zip_file=$dist/QarnComConnector-$qarn_release.zip
(cd "$stage" && zip -q -r -X "$zip_file" x64 x86 include idl samples docs README.md CHANGELOG.md)
echo "built $zip_file"

# --- MSIs ---------------------------------------------------------------------------------------
for arch in x64 x86; do
    build_msi $arch "$qarn_release" "$stage/$arch" "$dist/QarnComConnector-$qarn_release-$arch.msi" "$work"
done
