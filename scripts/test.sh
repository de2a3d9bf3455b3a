#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test under Wine.
# Extra arguments go to ctest (for example: -R ExecutableTest).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=../tests/harness/host32.sh
. "$root/tests/harness/host32.sh"
# The packages first: which build this host can test depends on the Wine they bring.
NORLO_TARGETS="" "$root/scripts/deps.sh"
if host_runs_32bit; then
  "$root/scripts/deps.sh"
  build=${NORLO_BUILD_DIR:-$root/build}
  NORLO_BUILD_DIR=$build "$root/scripts/build.sh"
elif host_runs_64bit; then
  # The product is 32-bit; a host that cannot run 32-bit x86 code still tests the same
  # sources on the real Windows API through Wine, built for 64-bit in a tree of their own.
  build=${NORLO_BUILD_DIR:-$root/build64}
  echo "################################################################################"
  echo "This host cannot execute 32-bit x86 programs ($NORLO_WINE32_LOADER: $("$NORLO_WINE32_LOADER" --version 2>&1 | tail -n 1))."
  echo "The Wine tests run against a 64-bit build of the same sources in $build;"
  echo "what only a 32-bit program under WOW64 shows is skipped and needs a host with 32-bit code."
  echo "################################################################################"
  NORLO_TARGETS=x86_64 "$root/scripts/deps.sh"
  NORLO_TOOLCHAIN=mingw-x86_64.cmake NORLO_BUILD_DIR=$build "$root/scripts/build.sh"
else
  "$root/scripts/deps.sh"
  build=${NORLO_BUILD_DIR:-$root/build}
  NORLO_BUILD_DIR=$build "$root/scripts/build.sh"
  echo "################################################################################"
  host_32bit_notice
  echo "Only the native, fuzz and tool tests below prove anything on this host."
  echo "################################################################################"
fi
cd "$build"
ctest --output-on-failure --timeout 600 -j2 "$@"
