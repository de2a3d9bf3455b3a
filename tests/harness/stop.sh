#!/usr/bin/env bash
# Ends the wineserver and the X display of the test run.
set -uo pipefail
harness=$1
# shellcheck source=env.sh
. "$(dirname "$0")/env.sh" "$harness"
wineserver -k 2>/dev/null || true
if [ -f "$harness/xvfb.pid" ]; then
  kill "$(cat "$harness/xvfb.pid")" 2>/dev/null || true
  rm -f "$harness/xvfb.pid" "$harness/display"
fi
if [ -f "$harness/http.pid" ]; then
  kill "$(cat "$harness/http.pid")" 2>/dev/null || true
  rm -f "$harness/http.pid" "$harness/http.port"
fi
if [ -f "$harness/https.pid" ]; then
  kill "$(cat "$harness/https.pid")" 2>/dev/null || true
  rm -f "$harness/https.pid" "$harness/https.ports"
fi
if [ -f "$harness/proxy.pid" ]; then
  kill "$(cat "$harness/proxy.pid")" 2>/dev/null || true
  rm -f "$harness/proxy.pid" "$harness/proxy.port"
fi
exit 0
