#!/usr/bin/env bash
# Runs one Windows program of the test run under Wine and returns its exit code.
# A program that hangs is killed shortly before CTest's own time-out would hit.
set -uo pipefail
harness=$1
shift
# shellcheck source=env.sh
. "$(dirname "$0")/env.sh" "$harness"
# shellcheck source=host32.sh
. "$(dirname "$0")/host32.sh"
# 77: reported by CTest as skipped.
if ! host_runs_test_build; then
  host_32bit_notice
  exit 77
fi
limit=${NORLO_TEST_TIMEOUT:-300}
limit=$((limit > 20 ? limit - 10 : limit))
exec timeout --kill-after=5 "$limit" wine "$@"
