#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test under Wine.
# Extra arguments go to ctest (for example: -R ExecutableTest).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${NORLO_BUILD_DIR:-$root/build}
"$root/scripts/deps.sh"
NORLO_BUILD_DIR=$build "$root/scripts/build.sh"
# shellcheck source=../tests/harness/host32.sh
. "$root/tests/harness/host32.sh"
if ! host_runs_32bit; then
  echo "################################################################################"
  host_32bit_notice
  echo "Only the native, fuzz and tool tests below prove anything on this host."
  echo "################################################################################"
fi
cd "$build"
ctest --output-on-failure --timeout 600 "$@"
