#!/usr/bin/env bash
# Configures and builds one architecture.
#   build.sh [x86_64|i686] [build dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-x86_64}
dir=${2:-$root/build}
shift $(( $# > 2 ? 2 : $# ))
cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
