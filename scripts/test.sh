#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test under Wine.
# Extra arguments go to ctest (for example: -R ExecutableTest).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=host-probe.sh
. "$root/scripts/host-probe.sh"
# shellcheck source=../tests/harness/host32.sh
. "$root/tests/harness/host32.sh"
# The packages first: which build this host can test depends on the Wine they bring.
NORLO_TARGETS="" "$root/scripts/deps.sh"
if host_executes_i386 && host_runs_32bit; then
  # The tested build is the product itself: the i686.* checks examine it.
  "$root/scripts/deps.sh"
  build=${NORLO_BUILD_DIR:-$root/build}
  NORLO_BUILD_DIR=$build "$root/scripts/build.sh"
elif host_runs_64bit; then
  # The product is 32-bit; a host that cannot run 32-bit x86 code still tests the same
  # sources on the real Windows API through Wine, built for 64-bit in a tree of their own,
  # and builds the shipped i686 Setup.exe as a release would, for the i686.* checks.
  build=${NORLO_BUILD_DIR:-$root/build64}
  product=${NORLO_PRODUCT_BUILD_DIR:-$root/build-i686}
  echo "################################################################################"
  echo "This host cannot execute 32-bit x86 programs (the set-up's probe said so)."
  echo "The Wine tests run against a 64-bit build of the same sources in $build;"
  echo "what only a 32-bit program under WOW64 shows is skipped and needs a host with 32-bit code."
  echo "The shipped i686 Setup.exe is built in $product and checked by the i686.* tests."
  echo "################################################################################"
  NORLO_TARGETS="x86_64 i686" "$root/scripts/deps.sh"
  NORLO_BUILD_DIR=$product "$root/scripts/build.sh" -DNORLO_BUILD_TESTS=OFF -DNORLO_ALLOW_TEST_SERVERS=ON
  NORLO_TOOLCHAIN=mingw-x86_64.cmake NORLO_BUILD_DIR=$build "$root/scripts/build.sh" \
    -DNORLO_PRODUCT_BUILD_DIR="$product"
else
  "$root/scripts/deps.sh"
  build=${NORLO_BUILD_DIR:-$root/build}
  NORLO_BUILD_DIR=$build "$root/scripts/build.sh"
  echo "################################################################################"
  host_32bit_notice
  echo "Only the native, fuzz, tool and i686 product tests below prove anything on this host."
  echo "################################################################################"
fi
cd "$build"
ctest --output-on-failure --timeout 600 -j2 "$@"
