#!/usr/bin/env bash
# The main job: installs what is missing, builds the bootstrapper and starts it under Wine
# in a prefix of its own (build/run-prefix), on an Xvfb display when there is no display.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${NORLO_BUILD_DIR:-$root/build}
"$root/scripts/deps.sh"
NORLO_BUILD_DIR=$build "$root/scripts/build.sh"

export WINEPREFIX=${WINEPREFIX:-$build/run-prefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  n=95
  while [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  sleep 1
fi
[ -d "$WINEPREFIX" ] || { echo "creating Wine prefix $WINEPREFIX"; wineboot --init >/dev/null 2>&1; wineserver -w; }

echo "running $build/bin/Setup.exe $*"
set +e
wine "$build/bin/Setup.exe" "$@"
code=$?
set -e
echo "Setup.exe exit code: $code"
