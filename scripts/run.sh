#!/usr/bin/env bash
# The main job: installs what is missing, builds the bootstrapper and the sample release,
# serves that release from the local update server, and runs Setup.exe interactively
# under Wine in a fresh prefix of its own, then shows what the run did.
#
#   scripts/run.sh                                  interactive INSTALL (no switches)
#   scripts/run.sh --mode download                  only fetch the components
#   scripts/run.sh --mode appliance 'C:\medium'     prepare an appliance medium in the prefix
#   scripts/run.sh --mode check                     ask the server whether an update exists
#   scripts/run.sh --mode uninstall                 remove what the last INSTALL put in the prefix
#
# Options: --keep-prefix reuses the prefix of the last run (uninstall always does);
# --timeout SECONDS bounds the run (default 300); anything after "--" is passed to
# Setup.exe as further switches (for example: -- /viewer).
# Environment: NORLO_BUILD_DIR (default build/, or build64/ on a host that runs no 32-bit
# x86 code), DISPLAY (an Xvfb display is started when it is unset).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=host-probe.sh
. "$root/scripts/host-probe.sh"

usage() { sed -n '2,16p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }
say() { printf '\n== %s\n' "$*"; }
die() { printf 'run.sh: %s\n' "$*" >&2; exit 2; }

mode=install
target=""
keep_prefix=0
limit=300
extra=()
while [ $# -gt 0 ]; do
  case $1 in
    --mode)
      [ $# -ge 2 ] || die "--mode needs a value"
      mode=$2; shift 2
      if [ "$mode" = appliance ]; then
        [ $# -ge 1 ] && [ "${1#--}" = "$1" ] || die "--mode appliance needs a target folder inside the prefix, e.g. 'C:\\medium'"
        target=$1; shift
      fi ;;
    --keep-prefix) keep_prefix=1; shift ;;
    --timeout)
      [ $# -ge 2 ] && [[ $2 =~ ^[0-9]+$ ]] || die "--timeout needs a number of seconds"
      limit=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    --) shift; extra=("$@"); break ;;
    *) die "unknown argument '$1' (see --help)" ;;
  esac
done
case $mode in
  install|check|download|uninstall) ;;
  appliance) [[ $target =~ ^[A-Za-z]:\\ ]] || die "the appliance target must be a Windows path such as 'C:\\medium'" ;;
  *) die "unknown mode '$mode' (install, download, appliance, check, uninstall)" ;;
esac
[ "$mode" = uninstall ] && keep_prefix=1

# --- set up and build -------------------------------------------------------------------
# The product is the 32-bit build; a host that cannot run 32-bit x86 code (so neither
# Wine's 32-bit loader) runs the 64-bit build of the same sources, as its tests do.
if host_executes_i386; then
  bits=32
  build=${NORLO_BUILD_DIR:-$root/build}
  "$root/scripts/deps.sh"
else
  bits=64
  build=${NORLO_BUILD_DIR:-$root/build64}
  echo "This host runs no 32-bit x86 code: building and running the 64-bit build of the same sources in $build."
  NORLO_TARGETS=x86_64 "$root/scripts/deps.sh"
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  # The same configuration scripts/build.sh makes, so this tree can also run the tests.
  toolchain=mingw-i686.cmake
  [ "$bits" = 64 ] && toolchain=mingw-x86_64.cmake
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel
fi
# Only what the run needs: the product, the sample release it installs, the watcher.
cmake --build "$build" --target setup norlo_release_documents run_watcher -j"$(nproc)"

artifacts=$build/run-artifacts
rm -rf "$artifacts"
mkdir -p "$artifacts/shots"
server=$(sed -n 's/^#define NORLO_UPDATE_SERVER "\(.*\)"$/\1/p' "$build/generated/BuildConfig.h")
www=$build/release/www

export WINEPREFIX=$build/run-prefix
export WINEARCH=win64 WINEDEBUG=-all
# The packaged "wine" always picks the 32-bit loader; a 64-bit build needs the other one.
[ "$bits" = 64 ] && export PATH="$root/tests/harness/wine64:$PATH"
# No Mono/Gecko prompts, and no menu entries or file associations in the host's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

xvfb_pid="" http_pid="" shots_pid=""
desktop=640x400
stop() { if [ -n "$1" ]; then kill "$1" 2>/dev/null || true; fi; }
cleanup() {
  stop "$shots_pid"
  wineserver -k 2>/dev/null || true
  stop "$http_pid"
  stop "$xvfb_pid"
}
trap cleanup EXIT

# --- display ----------------------------------------------------------------------------
if [ -z "${DISPLAY:-}" ]; then
  n=95
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$artifacts/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  echo "started Xvfb on $DISPLAY"
fi

# --- local update server ----------------------------------------------------------------
if [[ $server =~ ^http://127\.0\.0\.1:([0-9]+)$ ]]; then
  port=${BASH_REMATCH[1]}
  python3 "$root/tests/harness/httpserver.py" --detailed "$www" "$artifacts/http.port" "$artifacts/requests.log" "$port" \
    >"$artifacts/http.log" 2>&1 &
  http_pid=$!
  for _ in $(seq 1 100); do [ -f "$artifacts/http.port" ] || ! kill -0 "$http_pid" 2>/dev/null && break; sleep 0.1; done
  if [ ! -f "$artifacts/http.port" ]; then
    cat "$artifacts/http.log" >&2
    die "could not serve the sample release on 127.0.0.1:$port (is a test run of this build tree using it? stop it or use another NORLO_BUILD_DIR)"
  fi
  echo "serving $www at $server"
else
  echo "the build's update server is $server; no local server is started"
fi

# --- Wine prefix ------------------------------------------------------------------------
if [ "$keep_prefix" = 0 ] || [ ! -f "$WINEPREFIX/.norlo-run-ready" ]; then
  [ "$mode" = uninstall ] && die "no prefix with an install to remove: run 'scripts/run.sh' first"
  rm -rf "$WINEPREFIX"
  echo "creating a fresh Wine prefix in $WINEPREFIX"
  wineboot --init >"$artifacts/wineboot.log" 2>&1 </dev/null
  # A virtual desktop gives every window a title bar, so the screenshots show the caption.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$desktop" /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.norlo-run-ready"
else
  echo "reusing the Wine prefix $WINEPREFIX"
fi
drive_c=$WINEPREFIX/drive_c
# The user's copy of the bootstrapper, as if downloaded.
mkdir -p "$drive_c/Downloads"
cp "$build/bin/Setup.exe" "$drive_c/Downloads/Setup.exe"
cp "$build/bin/RunWatcher.exe" "$drive_c/windows/RunWatcher.exe"

case $mode in
  install) switches=() ;;
  appliance) switches=("/appliance=$target") ;;
  *) switches=("/$mode") ;;
esac
switches+=("${extra[@]}")

# Only this run's part of the setup log is shown; a kept prefix holds earlier runs' lines.
log="$drive_c/ProgramData/Norlo 5/log/setup.log"
log_before=0
[ -f "$log" ] && log_before=$(wc -l <"$log")

# --- the run ----------------------------------------------------------------------------
# Start the desktop first, so the first screenshot is the empty one later ones are
# compared with.
wine explorer.exe "/desktop=Default,$desktop" >/dev/null 2>&1 </dev/null &
sleep 3
# On the run's own display only the virtual desktop is worth keeping.
crop=()
[ -n "$xvfb_pid" ] && crop=(-crop "$desktop+0+0" +repage)
shoot() {
  local i=0
  while :; do
    import -display "$DISPLAY" -window root "${crop[@]}" "$artifacts/shots/$(printf 'shot-%03d.png' $i)" 2>/dev/null
    i=$((i + 1))
    sleep 1
  done
}
shoot & shots_pid=$!
sleep 1.5

say "running C:\\Downloads\\Setup.exe ${switches[*]} (interactive, at most ${limit}s)"
set +e
timeout --kill-after=10 $((limit + 30)) wine "C:\\windows\\RunWatcher.exe" "$limit" 'C:\Downloads\Setup.exe' "${switches[@]}" \
  </dev/null 2>&1 | tee "$artifacts/watch.log"
code=${PIPESTATUS[0]}
set -e
sleep 1.5
kill "$shots_pid" 2>/dev/null; wait "$shots_pid" 2>/dev/null || true; shots_pid=""
# The watcher says "[watch] started" before anything else: without that line Wine never ran
# it, and its status is Wine's, not an exit code of the program.
if ! grep -q '^\[watch\] ' "$artifacts/watch.log"; then
  say "Wine could not start the run (status $code): $(grep -v '^[[:space:]]*$' "$artifacts/watch.log" | tail -n 1)"
  echo "artifacts: $artifacts (watch.log)"
  exit 3
fi
signed=$code; [ "$code" -gt 127 ] && signed=$((code - 256))
case $code in
  98) meaning="time-out: the run was ended" ;;
  97) meaning="Setup.exe could not be started" ;;
  0) meaning="success" ;;
  1) meaning="success with restart request, or up to date" ;;
  255) meaning="failure" ;;
  *) meaning="unexpected" ;;
esac
say "exit code: $signed ($meaning)"

# --- evidence ---------------------------------------------------------------------------
reg64() {
  local key=$1
  echo "-- $key"
  wine reg query "$key" /reg:64 2>/dev/null | tr -d '\r' | sed '/^$/d' || echo "   (missing)"
}
list_tree() {
  local dir=$1
  echo "-- ${2:-$dir}"
  if [ -d "$dir" ]; then
    (cd "$dir" && find . -type f -printf '%10s  %p\n' | sort -k2)
  else
    echo "   (missing)"
  fi
}

program_files="$drive_c/Program Files/Norlo 5"
setup_files="$drive_c/ProgramData/Norlo 5/SetupFiles"
case $mode in
  install|uninstall)
    say "installed files"
    list_tree "$program_files" 'C:\Program Files\Norlo 5'
    list_tree "$setup_files" 'C:\ProgramData\Norlo 5\SetupFiles'
    say "key store (64-bit view)"
    reg64 'HKLM\SOFTWARE\Norlo\Norlo 5\Setup'
    reg64 'HKLM\SOFTWARE\Norlo\Norlo 5\uninstall'
    ;;
  download)
    say "setup-files directory"
    list_tree "$setup_files" 'C:\ProgramData\Norlo 5\SetupFiles'
    ;;
  appliance)
    say "appliance medium $target"
    wine cmd.exe /c attrib "$target\\Norlo" </dev/null 2>/dev/null | tr -d '\r'
    wine cmd.exe /c attrib "$target\\Norlo\\SetupFiles" </dev/null 2>/dev/null | tr -d '\r'
    wine cmd.exe /c attrib "$target\\Norlo\\SetupFiles\\*" </dev/null 2>/dev/null | tr -d '\r'
    list_tree "$(winepath -u "$target" 2>/dev/null)/Norlo/SetupFiles" "$target\\Norlo\\SetupFiles"
    ;;
  check)
    say "update check"
    if [ "$code" = 0 ]; then echo "an update is available"; elif [ "$code" = 1 ]; then echo "the software is up to date"; fi
    ;;
esac
say "requests the update server answered"
if [ -f "$artifacts/requests.log" ]; then sed 's/^/   /' "$artifacts/requests.log"; else echo "   (none)"; fi

say "last lines of C:\\ProgramData\\Norlo 5\\log\\setup.log (this run)"
if [ -f "$log" ]; then
  tail -n +$((log_before + 1)) "$log" | tr -d '\r' >"$artifacts/setup.log"
  tail -n 40 "$artifacts/setup.log"
else
  echo "(no log)"
fi

# Keep the screenshots that show something new: not the empty desktop, not a repeat.
say "screenshots"
declare -A seen=()
empty=""
kept=0
for shot in "$artifacts"/shots/shot-*.png; do
  [ -f "$shot" ] || continue
  sum=$(identify -format '%#' "$shot" 2>/dev/null || echo broken)
  [ -z "$empty" ] && empty=$sum
  if [ "$sum" = broken ] || [ "$sum" = "$empty" ] || [ -n "${seen[$sum]:-}" ]; then
    rm -f "$shot"
    continue
  fi
  seen[$sum]=1
  kept=$((kept + 1))
  mv "$shot" "$artifacts/$(basename "$shot")"
done
rm -rf "$artifacts/shots"
if [ "$kept" = 0 ]; then echo "no screenshot showed a window"; else ls -1 "$artifacts"/shot-*.png; fi
echo
echo "artifacts: $artifacts (watch.log, setup.log, requests.log, screenshots)"
exit "$code"
