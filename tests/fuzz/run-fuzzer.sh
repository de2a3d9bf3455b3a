#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time, or replays saved inputs once each.
#   run-fuzzer.sh FUZZER SECONDS WORKDIR SEEDDIR...  fuzz; new inputs go to WORKDIR/corpus,
#                                                    a crashing input to WORKDIR/artifacts
#   run-fuzzer.sh --replay FUZZER DIR                run every file of DIR once
# Exits non-zero on any crash, leak, time-out or sanitizer report.
set -euo pipefail
# A sanitizer report is a failure, never a warning.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

if [ "${1:-}" = --replay ]; then
  fuzzer=$2
  dir=$3
  shopt -s nullglob
  inputs=("$dir"/*)
  if [ ${#inputs[@]} -eq 0 ]; then
    echo "no saved inputs in $dir" >&2
    exit 1
  fi
  exec "$fuzzer" -timeout=60 -rss_limit_mb=2048 "${inputs[@]}"
fi

fuzzer=$1
seconds=$2
work=$3
shift 3
mkdir -p "$work/corpus" "$work/artifacts"
seeds=()
for dir in "$@"; do
  [ -d "$dir" ] && seeds+=("$dir")
done
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "${seeds[@]}"
