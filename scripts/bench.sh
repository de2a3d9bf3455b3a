#!/usr/bin/env bash
# Measures the bootstrapper side by side with a baseline on this machine and prints a table:
#   1 size of the stripped Setup.exe, and where its bytes come from (link map)
#   2 digest throughput on a 256 MiB file: MD5 alone as a ratio to md5sum, SHA-256 alone to
#     sha256sum, and the engine's one pass of both to md5sum plus sha256sum
#   3 wall time of a CHECK run that finds an update, as a ratio to a program that only
#     downloads the same update.xml
#   4 a second INSTALL with every component cached: wall time and bytes served
#   5 start-up until the progress window is visible, as a ratio to a minimal window program
#   6 setup-log lines per second across rotations, and the peak working set
#   7 component download throughput, 256 MiB from the local server, as a ratio to curl
#   8 bytes fetched to complete a 256 MiB component whose first transfer broke at half
#   9 time until an update check against a server that never answers ends
# It uses a Wine prefix and an HTTP server of its own (BUILD/bench), serving the sample
# release on the build's update-server port: do not run it while that build's tests run.
# Usage: scripts/bench.sh [LINES_FOR_THE_LOG_BENCH]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${NORLO_BUILD_DIR:-$root/build}
bench=$build/bench
# A 64-bit build tree (a host that runs no 32-bit x86 code, see scripts/test.sh) runs its
# programs through Wine's 64-bit loader, as its tests do.
if [ "$(cat "$build/harness/wine-bits" 2>/dev/null)" = 64 ]; then
  PATH=$root/tests/harness/wine64:$PATH
fi
log_lines=${1:-20000}
work=$bench/work
mkdir -p "$work"

cmake --build "$build" --target setup HashBench LogBench FetchBench StartWatch WindowBench DownloadBench >/dev/null || exit 1

export WINEPREFIX=$bench/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
  wineserver -k 2>/dev/null || true
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  n=120
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=":$n"
  sleep 1
fi
[ -d "$WINEPREFIX" ] || { wineboot --init >/dev/null 2>&1; wineserver -w; }
wineserver -p >/dev/null 2>&1 || true
wine cmd.exe /c exit >/dev/null 2>&1

rows=()
row() { rows+=("$(printf '%-60s | %s' "$1" "$2")"); }
seconds() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }
ratio() { echo "scale=2; $1 / $2" | bc; }
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }

# 1 size
setup_exe=$build/bin/Setup.exe
row "1 Setup.exe, stripped (bytes)" "$(stat -c %s "$setup_exe")"
if [ -f "$build/bin/Setup.map" ]; then
  while read -r size what; do
    row "  of which $what (bytes, linked sections)" "$size"
  done < <(python3 "$root/tests/bench/map_breakdown.py" "$build/bin/Setup.map")
fi
read -r table stale < <(python3 "$root/tests/link/unwind_frames.py" "$setup_exe")
row "  unwind tables, all origins (bytes)" "$table"
row "    of them frames of discarded functions (bytes)" "$stale"

# 2 hashing, the median of three runs each, all from the page cache. MD5 alone and
# SHA-256 alone over the engine's block reader against md5sum and sha256sum; and the
# engine's one pass of both (what a file check costs) against md5sum plus sha256sum.
big=$work/hash-256M.bin
[ -f "$big" ] || head -c $((256 * 1024 * 1024)) /dev/urandom >"$big"
cat "$big" >/dev/null
tool_ms() {  # the milliseconds of one run of a coreutils digest tool
  local start end
  start=$(seconds); "$1" "$big" >/dev/null; end=$(seconds)
  echo "($(elapsed "$start" "$end")) * 1000" | bc
}
bench_ms() {  # the milliseconds HashBench reports, when its digest is the tool's
  local ms digest
  read -r ms digest < <(wine "$bench/HashBench.exe" "$1" "$(winepath -w "$big")" 2>/dev/null | tr -d '\r')
  [ "${digest:-}" = "$2" ] && echo "$ms"
}
md5=$(md5sum "$big" | cut -c1-32) sha256=$(sha256sum "$big" | cut -c1-64)
md5sums=() sha256sums=() md5s=() sha256s=() boths=()
for _ in 1 2 3; do
  md5sums+=("$(tool_ms md5sum)"); sha256sums+=("$(tool_ms sha256sum)")
  md5s+=("$(bench_ms md5 "$md5")"); sha256s+=("$(bench_ms sha256 "$sha256")"); boths+=("$(bench_ms both "$sha256")")
done
mbs() { echo "scale=1; 256 * 1024 * 1024 / 1000 / $1" | bc; }  # MB/s from milliseconds
md5sum_ms=$(median "${md5sums[@]}") sha256sum_ms=$(median "${sha256sums[@]}")
all_set() { local value; for value; do [ -n "$value" ] || return 1; done; }
if all_set "${md5s[@]}" "${sha256s[@]}" "${boths[@]}"; then
  md5_ms=$(median "${md5s[@]}") sha256_ms=$(median "${sha256s[@]}") both_ms=$(median "${boths[@]}")
  row "2 MD5 alone, engine's reader, 256 MiB (MB/s, median of 3)" "$(mbs "$md5_ms")"
  row "  md5sum (MB/s)" "$(mbs "$md5sum_ms")"
  row "  throughput ratio MD5 / md5sum (goal >= 0.9)" "$(ratio "$md5sum_ms" "$md5_ms")"
  row "  SHA-256 alone, engine's reader (MB/s)" "$(mbs "$sha256_ms")"
  row "  sha256sum (MB/s)" "$(mbs "$sha256sum_ms")"
  row "  throughput ratio SHA-256 / sha256sum" "$(ratio "$sha256sum_ms" "$sha256_ms")"
  row "  CalculateFileDigests, both in one pass (MB/s)" "$(mbs "$both_ms")"
  row "  throughput ratio one pass / (md5sum + sha256sum)" "$(ratio "$(echo "$md5sum_ms + $sha256sum_ms" | bc)" "$both_ms")"
else
  row "2 digests 256 MiB" "failed or wrong digest (md5 '${md5s[*]}', sha256 '${sha256s[*]}', both '${boths[*]}')"
fi

# The sample release on the build's update-server port.
server=$(sed -n 's/^#define NORLO_UPDATE_SERVER "\(.*\)"$/\1/p' "$build/generated/BuildConfig.h" | head -n 1)
port=${server##*:}
www=$work/www
rm -rf "$www" && cp -r "$build/release/www" "$www"
: >"$work/requests.log"
python3 "$root/tests/harness/httpserver.py" "$www" "$work/http.port" "$work/requests.log" "$port" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do [ -f "$work/http.port" ] && break; sleep 0.1; done

run_setup() {  # prints the wall seconds; the exit code goes to $work/exit
  local start end
  start=$(seconds)
  wine "$setup_exe" "$@" >/dev/null 2>&1
  echo $? >"$work/exit"
  end=$(seconds)
  elapsed "$start" "$end"
}

# 3 CHECK against a plain download of update.xml, the median of three runs each
checks=() fetches=() check_exit=0 fetch_exit=0
for _ in 1 2 3; do
  checks+=("$(run_setup /silent /check)")
  [ "$(cat "$work/exit")" = 0 ] || check_exit=$(cat "$work/exit")
  start=$(seconds)
  wine "$bench/FetchBench.exe" "$server/update.xml" "$(winepath -w "$work/fetched.xml")" >/dev/null 2>&1 || fetch_exit=$?
  fetches+=("$(elapsed "$start" "$(seconds)")")
done
check_s=$(median "${checks[@]}")
fetch_s=$(median "${fetches[@]}")
if [ "$check_exit" = 0 ] && [ "$fetch_exit" = 0 ] && cmp -s "$work/fetched.xml" "$www/update.xml"; then
  row "3 CHECK finding an update (s, median of 3)" "$check_s"
  row "  download of update.xml alone (s, median of 3)" "$fetch_s"
  row "  ratio CHECK / download" "$(ratio "$check_s" "$fetch_s")"
else
  row "3 CHECK finding an update" "not measured (CHECK exit $check_exit, download exit $fetch_exit)"
fi

# 4 a second INSTALL with every component cached. The published bootstrapper is made no
# newer than this one, so the runs install instead of handing over to it.
# Its digests go too (a file of another version would not match them).
sed -i 's|<version>[^<]*</version>\(<[A-Za-z0-9]*>[^<]*</[A-Za-z0-9]*>\)*<universal>yes</universal></Item></bootstrapper>|<version>0.0.0.1</version><universal>yes</universal></Item></bootstrapper>|' "$www/update.xml"
grep -q '<version>0.0.0.1</version>' "$www/update.xml" || row "  (warning)" "the published bootstrapper could not be made older"
run_setup /silent >/dev/null
first_exit=$(cat "$work/exit")
: >"$work/requests.log"
install_s=$(run_setup /silent)
install_exit=$(cat "$work/exit")
served=0
while read -r path; do
  file=$www${path%%\?*}
  [ -f "$file" ] && served=$((served + $(stat -c %s "$file")))
done <"$work/requests.log"
if [ "$first_exit" = 0 ] && [ "$install_exit" = 0 ]; then
  row "4 second INSTALL, components cached (s)" "$install_s"
  row "  bytes served / requests" "$served / $(wc -l <"$work/requests.log") ($(sort -u "$work/requests.log" | tr '\n' ' '))"
else
  row "4 second INSTALL" "not measured (exit codes $first_exit, $install_exit)"
fi

# 5 start-up until the window is visible, the median of three runs each
setups=() windows=()
for _ in 1 2 3; do
  setups+=("$(wine "$bench/StartWatch.exe" "$(winepath -w "$setup_exe")" /check 2>/dev/null | tr -d '\r')")
  windows+=("$(wine "$bench/StartWatch.exe" "$(winepath -w "$bench/WindowBench.exe")" 2>/dev/null | tr -d '\r')")
done
setup_ms=$(median "${setups[@]}")
window_ms=$(median "${windows[@]}")
if [ -n "$setup_ms" ] && [ -n "$window_ms" ]; then
  row "5 start-up to visible progress window (ms, median of 3)" "$setup_ms"
  row "  minimal window program (ms, median of 3)" "$window_ms"
  row "  ratio Setup.exe / minimal" "$(ratio "$setup_ms" "$window_ms")"
else
  row "5 start-up" "not measured (Setup.exe '${setups[*]}', minimal '${windows[*]}')"
fi

# 6 setup log: the writer queues lines and a thread of the log writes them; the process
# ends only when every queued line is in the files, so the whole run is timed too.
find "$WINEPREFIX/drive_c" -name 'setup.log*' -delete 2>/dev/null
start=$(seconds)
read -r lines log_ms peak_kib < <(/usr/bin/time -f '%M' -o "$work/log-rss" wine "$bench/LogBench.exe" "$log_lines" 2>/dev/null | tr -d '\r')
log_s=$(elapsed "$start" "$(seconds)")
if [ -n "${log_ms:-}" ]; then
  archives=$(find "$WINEPREFIX/drive_c" -name 'setup.log.*' | wc -l)
  row "6 setup log, $lines lines of ~100 bytes: queued (lines/s)" "$(echo "scale=0; $lines * 1000 / $log_ms" | bc)"
  row "  written, whole process incl. start (lines/s)" "$(echo "scale=0; $lines / $log_s" | bc)"
  row "  archives left after the rotations" "$archives"
  row "  peak working set when queued (KiB)" "$peak_kib"
  row "  peak resident size of the Wine process (KiB)" "$(tail -n 1 "$work/log-rss")"
else
  row "6 setup log" "failed"
fi

# 7 component download throughput: the same 256 MiB file from the same server, written to
# disk by curl and by the engine (the transfer alone, and DownloadItem with its checks).
ln -f "$big" "$www/transfer-256M.bin"
md5_big=$(md5sum "$big" | cut -c1-32)
transfer_url="$server/transfer-256M.bin"
curls=() plains=() items=() transfer_failures=""
for _ in 1 2 3; do
  rm -f "$work/curl.bin"
  start=$(seconds)
  curl -s -o "$work/curl.bin" "$transfer_url" || transfer_failures+=" curl"
  curls+=("$(echo "($(elapsed "$start" "$(seconds)")) * 1000" | bc)")
  rm -f "$work/plain.bin" "$work/item.bin"
  read -r ms result < <(wine "$bench/DownloadBench.exe" plain "$transfer_url" "$(winepath -w "$work/plain.bin")" 2>/dev/null | tr -d '\r')
  [ "${result:-}" = ok ] && cmp -s "$work/plain.bin" "$big" && plains+=("$ms") || transfer_failures+=" plain(${result:-none})"
  read -r ms result < <(wine "$bench/DownloadBench.exe" item "$transfer_url" "$(winepath -w "$work/item.bin")" "$md5_big" \
    "$(stat -c %s "$big")" 2>/dev/null | tr -d '\r')
  [ "${result:-}" = ok ] && items+=("$ms") || transfer_failures+=" item(${result:-none})"
done
rm -f "$work/curl.bin" "$work/plain.bin" "$work/item.bin" "$www/transfer-256M.bin"
curl_ms=$(median "${curls[@]}")
if [ ${#plains[@]} = 3 ] && [ ${#items[@]} = 3 ]; then
  plain_ms=$(median "${plains[@]}") item_ms=$(median "${items[@]}")
  row "7 download 256 MiB, osh::DownloadToFile (MB/s, median of 3)" "$(mbs "$plain_ms")"
  row "  curl, same file and server (MB/s, median of 3)" "$(mbs "$curl_ms")"
  row "  throughput ratio DownloadToFile / curl (goal >= 0.8)" "$(ratio "$curl_ms" "$plain_ms")"
  row "  DownloadItem, transfer and checks (MB/s)" "$(mbs "$item_ms")"
  row "  throughput ratio DownloadItem / curl" "$(ratio "$curl_ms" "$item_ms")"
else
  row "7 download 256 MiB" "failed:$transfer_failures"
fi

# 8 the first transfer of the component breaks at half (benchserver.py cut); the engine is
# asked for it again as a new run would until it has it, at most three times. The figure is
# the bytes served after the break, as a share of the file.
cut_root=$work/cut
mkdir -p "$cut_root" && ln -f "$big" "$cut_root/resume-256M.bin"
: >"$work/cut.log"
rm -f "$work/cut.port"
python3 "$root/tests/bench/benchserver.py" cut "$cut_root" "$work/cut.port" "$work/cut.log" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [ -f "$work/cut.port" ] && break; sleep 0.1; done
rm -f "$work/resume.bin"
attempts=0 result=""
while [ "$attempts" -lt 3 ] && [ "$result" != ok ]; do
  attempts=$((attempts + 1))
  read -r _ result < <(wine "$bench/DownloadBench.exe" item "http://127.0.0.1:$(cat "$work/cut.port")/resume-256M.bin" \
    "$(winepath -w "$work/resume.bin")" "$md5_big" "$(stat -c %s "$big")" 2>/dev/null | tr -d '\r')
done
sent_after=$(awk 'NR > 1 { total += $3 } END { print total + 0 }' "$work/cut.log")
if [ "$result" = ok ] && cmp -s "$work/resume.bin" "$big"; then
  row "8 256 MiB component broken at half: bytes fetched after the break" "$sent_after in $(($(wc -l <"$work/cut.log") - 1)) requests, $attempts DownloadItem calls"
  row "  share of the file (goal <= 0.55)" "$(ratio "$sent_after" "$(stat -c %s "$big")")"
else
  row "8 component broken at half" "not completed in $attempts calls (last: ${result:-none})"
fi
rm -f "$work/resume.bin" "$cut_root/resume-256M.bin"

# 9 an update check against a server that accepts the connection and never answers,
# bounded at 300 seconds. The key store's updateURL points the check there for this run.
rm -f "$work/silent.port"
python3 "$root/tests/bench/benchserver.py" silent "$work/silent.port" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [ -f "$work/silent.port" ] && break; sleep 0.1; done
store='HKLM\SOFTWARE\Norlo\Norlo 5\Setup'
wine reg add "$store" /v updateURL /d "http://127.0.0.1:$(cat "$work/silent.port")/update.xml" /f /reg:64 >/dev/null 2>&1
start=$(seconds)
timeout 300 wine "$setup_exe" /silent /check >/dev/null 2>&1
silent_exit=$?
silent_s=$(elapsed "$start" "$(seconds)")
wine reg delete "$store" /v updateURL /f /reg:64 >/dev/null 2>&1
if [ "$silent_exit" = 124 ]; then
  wineserver -k 2>/dev/null; wine cmd.exe /c exit >/dev/null 2>&1
  row "9 CHECK against a silent server (goal <= 65 s)" "not ended after 300 s"
else
  row "9 CHECK against a silent server, until it ends (s, goal <= 65)" "$silent_s (exit code $silent_exit)"
fi

echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') with the $(cat "$build/harness/wine-bits" 2>/dev/null || echo 32)-bit build $build on $(uname -n): $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(wine --version)"
printf '%-60s | %s\n' "figure" "value"
printf '%s\n' "${rows[@]}"
