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
# Under Wine's 64-bit loader on some hosts a program now and then ends at once without
# having run a line of its own (seen: no output at all, a failure in 0.1 s). Such a start
# is tried once more, and says so; a program that wrote anything keeps its result.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
timeout --kill-after=5 "$limit" wine "$@" >"$out" 2>&1
status=$?
if [ "$status" != 0 ] && [ ! -s "$out" ]; then
  echo "run-in-wine: $1 ended with $status before writing anything; starting it once more"
  timeout --kill-after=5 "$limit" wine "$@" >"$out" 2>&1
  status=$?
fi
cat "$out"
exit "$status"
