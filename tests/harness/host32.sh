# Sourced by the harness scripts. Wine runs a 32-bit Windows program through its 32-bit
# loader, a 32-bit x86 Linux program; some virtual machines run no 32-bit x86 code at all
# (the kernel refuses such programs with "Exec format error"). There scripts/test.sh
# tests a 64-bit build of the same sources through Wine's 64-bit loader instead; a Wine
# test whose build this host cannot run is reported as skipped, loudly.
NORLO_WINE32_LOADER=${NORLO_WINE32_LOADER:-/usr/lib/wine/wine}
NORLO_WINE64_LOADER=${NORLO_WINE64_LOADER:-/usr/lib/wine/wine64}

# True when this host can execute Wine's 32-bit loader.
host_runs_32bit() {
  "$NORLO_WINE32_LOADER" --version >/dev/null 2>&1
}

host_runs_64bit() {
  "$NORLO_WINE64_LOADER" --version >/dev/null 2>&1
}

# The loader the test build needs: NORLO_WINE_BITS (env.sh reads it from the build tree).
test_build_loader() {
  if [ "${NORLO_WINE_BITS:-32}" = 64 ]; then echo "$NORLO_WINE64_LOADER"; else echo "$NORLO_WINE32_LOADER"; fi
}

host_runs_test_build() {
  "$(test_build_loader)" --version >/dev/null 2>&1
}

host_32bit_notice() {
  local loader
  loader=$(test_build_loader)
  echo "SKIPPED: this host cannot execute the Wine loader of this ${NORLO_WINE_BITS:-32}-bit build ($loader: $("$loader" --version 2>&1 | tail -n 1)); the Wine tests need it and are not run here"
}
