#!/usr/bin/env bash
# Runs one fuzz target of the native build for as long as asked:
#   scripts/fuzz.sh SequenceDocument|CommandLine SECONDS
# It starts from the project's seed corpus (tests/fuzz/corpus/TARGET), the saved inputs of
# earlier findings (tests/fuzz/regressions/TARGET) and the document the build embeds; the
# inputs it discovers collect in BUILD/fuzz/TARGET/corpus. A crashing, leaking or hanging
# input lands in BUILD/fuzz/TARGET/artifacts: after fixing the fault, copy it into
# tests/fuzz/regressions/TARGET so the test run replays it from then on.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${NORLO_BUILD_DIR:-$root/build}
if [ $# -ne 2 ]; then
  echo "usage: $0 TARGET SECONDS   (targets: $(cd "$root/tests/fuzz" && ls Fuzz*.cpp | sed 's/^Fuzz//; s/\.cpp$//' | tr '\n' ' '))" >&2
  exit 2
fi
target=${1#Fuzz}
seconds=$2
if [ ! -f "$root/tests/fuzz/Fuzz$target.cpp" ]; then
  echo "no fuzz target $target" >&2
  exit 2
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  NORLO_BUILD_DIR=$build "$root/scripts/build.sh"
else
  cmake --build "$build" --target norlo_native
fi
exec "$root/tests/fuzz/run-fuzzer.sh" "$build/native/Fuzz$target" "$seconds" "$build/fuzz/$target" \
  "$root/tests/fuzz/corpus/$target" "$root/tests/fuzz/regressions/$target" "$build/release/documents"
