# Sourced: the environment of our private Wine prefix inside a build folder.
#   QARN_BUILD_DIR  the build folder (default: ./build)
: "${QARN_BUILD_DIR:=$(pwd)/build}"
export WINEPREFIX="${QARN_WINEPREFIX:-$QARN_BUILD_DIR/wineprefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# No installer dialogs for .NET and the HTML engine: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine passes the Unix environment through; keep the user's settings out of the tests.
unset QarnRootDir QarnLogFile
