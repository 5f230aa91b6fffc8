# Sourced: the environment of our private Wine prefix inside a build folder.
#   QARN_BUILD_DIR  the build folder (default: ./build)
#   QARN_ARCH       x64 (default) or x86: which DLLs the prefix holds. An x86 prefix registers them
#                   with the 32-bit regsvr32 and runs scripts with the 32-bit cscript of WoW64.
: "${QARN_BUILD_DIR:=$(pwd)/build}"
: "${QARN_ARCH:=x64}"
export QARN_BUILD_DIR QARN_ARCH
export WINEPREFIX="${QARN_WINEPREFIX:-$QARN_BUILD_DIR/wineprefix}"
# Every prefix is a 64-bit one with WoW64, which runs 32-bit programs from C:\windows\syswow64.
export WINEARCH=win64
export WINEDEBUG=-all
# No installer dialogs for .NET and the HTML engine: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine passes the Unix environment through; keep the user's settings out of the tests.
unset QarnRootDir QarnLogFile
# The loaders, by name. Debian's `wine` (and every Wine program started by name through it:
# wineboot, winepath, ...) is the 32-bit loader once wine32:i386 is installed, and that loader does
# not start on a kernel without 32-bit support. Every 64-bit step therefore names the 64-bit loader;
# only the 32-bit steps of an x86 prefix use the 32-bit one.
if [ -x /usr/lib/wine/wine64 ]; then QARN_WINE64=/usr/lib/wine/wine64; else QARN_WINE64=$(command -v wine64 || echo wine); fi
if [ -x /usr/lib/wine/wine ]; then QARN_WINE32=/usr/lib/wine/wine; else QARN_WINE32=wine; fi
export QARN_WINE64 QARN_WINE32

# Runs a Windows program of ours (an .exe file) with the loader of the prefix's architecture.
qarn_wine() {
    if [ "$QARN_ARCH" = x86 ]; then "$QARN_WINE32" "$@"; else "$QARN_WINE64" "$@"; fi
}

# Runs one of Wine's own programs (cscript, regsvr32, reg, cmd) in the architecture of the
# prefix's DLLs: `qarn_wine_tool cscript //nologo script.vbs`.
qarn_wine_tool() {
    local program=$1
    shift
    if [ "$QARN_ARCH" = x86 ]; then
        "$QARN_WINE32" "C:\\windows\\syswow64\\$program.exe" "$@"
    else
        "$QARN_WINE64" "$program" "$@"
    fi
}

# The Windows form of a Unix path (64-bit winepath, whatever the prefix's architecture).
qarn_winepath() { "$QARN_WINE64" winepath -w "$1" 2>/dev/null; }
# Wine's start-up program of the prefix (prefix creation: `qarn_wineboot -i`), 64-bit.
qarn_wineboot() { "$QARN_WINE64" wineboot "$@"; }

# Makes $WINEPREFIX a working WoW64 prefix. A prefix that the 64-bit-only Wine made before the
# 32-bit loader was installed has no syswow64 folder and no longer starts ("could not load
# kernel32.dll"): it is made anew.
qarn_drop_stale_prefix() {
    if [ -f "$WINEPREFIX/system.reg" ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
        echo "the Wine prefix $WINEPREFIX was made without WoW64: making it anew"
        wineserver -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    fi
}
qarn_fresh_prefix() {
    qarn_drop_stale_prefix
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "creating Wine prefix $WINEPREFIX"
        qarn_wineboot -i >/dev/null 2>&1 </dev/null || { echo "cannot create the Wine prefix $WINEPREFIX"; return 1; }
        wineserver -w
    fi
}
