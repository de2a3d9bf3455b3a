#!/usr/bin/env bash
# Configures and builds the executable and the test programs into build/ (or $NORLO_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${NORLO_BUILD_DIR:-$root/build}
# NORLO_TOOLCHAIN: cmake/mingw-i686.cmake (the product) or cmake/mingw-x86_64.cmake (the test
# build of a host that runs no 32-bit x86 code, see scripts/test.sh).
toolchain=${NORLO_TOOLCHAIN:-mingw-i686.cmake}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=MinSizeRel "$@"
elif [ $# -gt 0 ]; then
  cmake "$build" "$@"
fi
cmake --build "$build" -j"$(nproc)"
