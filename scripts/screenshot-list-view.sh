#!/usr/bin/env bash
# Takes the picture of the list view dialog shown in docs/list-view.md: runs
# samples/interactive/list-view.vbs on a virtual X server inside a Wine desktop window, captures
# the screen with ImageMagick, trims it to the dialog and closes the sample again.
#   screenshot-list-view.sh [build dir]     (the build must exist: scripts/build.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
if ! command -v import >/dev/null; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q imagemagick
fi
size=860x720
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 ${size}x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
sleep 1
# A prefix of its own, started on this display: the Wine desktop keeps the display it started with.
export QARN_WINEPREFIX="$build/screenshot-prefix"
QARN_WITH_DOUBLES=0 "$root/scripts/test-prefix.sh" setup "$build" >/dev/null
export QARN_BUILD_DIR=$build
source "$root/scripts/wine-env.sh"
export QarnRootDir="$(qarn_winepath "$root/samples/installation")"
"$QARN_WINE64" explorer "/desktop=shot,$size" cscript //nologo "$(qarn_winepath "$root/samples/interactive/list-view.vbs")" >/dev/null 2>&1 &
sleep "${QARN_SCREENSHOT_WAIT:-10}"
shot=$(mktemp --suffix=.png)
import -display "$display" -window root "$shot"
mkdir -p "$root/docs/images"
convert "$shot" -trim +repage "$root/docs/images/list-view.png"
rm -f "$shot"
echo "wrote docs/images/list-view.png"
