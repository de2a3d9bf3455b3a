# Sourced by the harness scripts. Wine runs a 32-bit Windows program through its 32-bit
# loader, a 32-bit x86 Linux program; some virtual machines run no 32-bit x86 code at all
# (the kernel refuses such programs with "Exec format error"). There the Wine tests
# cannot run; they are reported as skipped, loudly, instead of failing one by one.
NORLO_WINE32_LOADER=${NORLO_WINE32_LOADER:-/usr/lib/wine/wine}

# True when this host can execute Wine's 32-bit loader.
host_runs_32bit() {
  "$NORLO_WINE32_LOADER" --version >/dev/null 2>&1
}

host_32bit_notice() {
  echo "SKIPPED: this host cannot execute 32-bit x86 programs ($NORLO_WINE32_LOADER: $("$NORLO_WINE32_LOADER" --version 2>&1 | tail -n 1)); the Wine tests need it and are not run here"
}
