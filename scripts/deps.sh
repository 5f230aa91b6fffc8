#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when some are missing: the 64-bit
# packages, then Wine's 32-bit loader (wine32:i386) beside the 64-bit one, so that 32-bit programs
# run in WoW64 prefixes. Safe to run again: it only installs what is not there. It never runs the
# 32-bit loader but through scripts/x86-probe.sh, once at the end, and says what it found: on a
# kernel without 32-bit support the loader is installed all the same and the x86 tests are skipped.
set -euo pipefail
packages=(
    cmake make
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
    wine wine64 libwine-dev
    googletest
    xvfb xauth
    wixl msitools zip unzip python3
    clang libclang-rt-dev
)
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

updated=0
update() {
    [ $updated = 1 ] && return 0
    updated=1
    # An index that fails to download (a mirror in sync) is reported and left out; what the
    # installs below need is checked by the installs themselves.
    $sudo_cmd apt-get update -q || echo "deps: apt-get update reported errors (see above); going on with the indexes it has"
}

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    update
    $sudo_cmd apt-get install -y -q "${missing[@]}"
fi

# --- Wine's 32-bit loader ---------------------------------------------------------------------------
# wine32:i386 needs the i386 versions of shared libraries at exactly the versions of their amd64
# counterparts. On these machines the i386 index of the security suite may fail to download; the
# plain install then finds no matching versions and is refused. The second attempt takes the main
# suite's versions (-t <release>) and names libgstreamer-plugins-base1.0-0 (newer in the security
# suite) at the i386 candidate's version for both architectures. The install would otherwise drop
# the 64-bit Wine packages: they are named every time.
wine_loaders_ok() { [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wine64 ]; }
wine_packages=(wine32:i386 wine wine64 libwine:amd64 libwine-dev wine64-tools)
if ! installed wine32:i386 || ! wine_loaders_ok; then
    echo "installing Wine's 32-bit loader (wine32:i386)"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo_cmd dpkg --add-architecture i386
        updated=0
    fi
    update
    if ! $sudo_cmd apt-get install -y -q --no-install-recommends "${wine_packages[@]}"; then
        gst=$(apt-cache policy libgstreamer-plugins-base1.0-0:i386 | awk '/Candidate:/ {print $2}')
        if [ -z "$gst" ] || [ "$gst" = "(none)" ]; then
            echo "deps: FAILED: no i386 package index (libgstreamer-plugins-base1.0-0:i386 has no candidate)" >&2
            exit 1
        fi
        release=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
        echo "deps: the plain install was refused; trying again with the versions of the $release suite"
        if ! $sudo_cmd apt-get install -y -q --no-install-recommends --allow-downgrades -t "$release" \
            "${wine_packages[@]}" "libgstreamer-plugins-base1.0-0:i386=$gst" "libgstreamer-plugins-base1.0-0:amd64=$gst"; then
            echo "deps: FAILED: wine32:i386 could not be installed beside the 64-bit Wine" >&2
            exit 1
        fi
    fi
fi
if ! wine_loaders_ok || ! installed wine64 || ! installed libwine-dev; then
    echo "deps: FAILED: both Wine loaders are needed (/usr/lib/wine/wine and /usr/lib/wine/wine64)" >&2
    exit 1
fi
if reason=$("$(dirname "$0")/x86-probe.sh"); then
    echo "deps: Wine $(/usr/lib/wine/wine64 --version 2>/dev/null); this machine runs 32-bit programs: the x86 tests run"
else
    echo "deps: Wine $(/usr/lib/wine/wine64 --version 2>/dev/null); 32-bit programs cannot run here ($reason): the 64-bit tests and the demo run, the x86 tests are skipped"
fi
