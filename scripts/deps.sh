#!/usr/bin/env bash
# Installs everything the build and the tests need, and cross-builds Poco into a
# machine-level cache outside the checkout. Idempotent: a second run builds nothing.
set -euo pipefail

POCO_VERSION=1.11.0
CACHE_ROOT=${NORLO_CACHE:-/var/cache/norlo-build}

log() { printf '[deps] %s\n' "$*"; }

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=host-probe.sh
. "$here/host-probe.sh"

# The package tools and the sources file; the set-up test replaces them with stand-ins.
APT_GET=${NORLO_APT_GET:-apt-get}
DPKG=${NORLO_DPKG:-dpkg}
DPKG_QUERY=${NORLO_DPKG_QUERY:-dpkg-query}
APT_SOURCES=${NORLO_APT_SOURCES:-/etc/apt/sources.list.d/debian.sources}
# Seconds to wait before the second and the third try of an index update.
read -r -a APT_RETRY_WAITS <<<"${NORLO_APT_RETRY_WAITS:-5 20}"

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  mingw-w64 g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64
  xvfb xdotool imagemagick x11-utils
  librapidxml-dev googletest
  osslsigncode wixl msitools openssl python3 python3-pefile python3-cryptography file dpkg-dev patch
  clang libclang-rt-14-dev libpoco-dev
)
# Wine's 32-bit loader is a 32-bit x86 program: only a host that runs such code gets it.
if host_executes_i386; then PACKAGES+=(wine32:i386); fi

packages_missing() {
  local p
  for p in "${PACKAGES[@]}"; do
    if ! $DPKG_QUERY -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      return 0
    fi
  done
  return 1
}

enable_sources() {
  if [ -f "$APT_SOURCES" ] && ! grep -q '^Types: deb deb-src' "$APT_SOURCES"; then
    $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$APT_SOURCES"
    return 0
  fi
  return 1
}

# The i386 architecture where 32-bit code runs; none where it cannot (its indexes would only
# be fetched for nothing, and fail the update when a mirror serves them badly). Answers
# whether the package indexes must be read again.
choose_architectures() {
  local has_i386=0
  $DPKG --print-foreign-architectures | grep -qx i386 && has_i386=1
  if host_executes_i386; then
    if [ "$has_i386" = 0 ]; then
      log "this host runs 32-bit x86 code: adding the i386 architecture for Wine's 32-bit loader"
      $SUDO $DPKG --add-architecture i386
      return 0
    fi
    return 1
  fi
  [ "$has_i386" = 1 ] || return 1
  local installed
  installed=$($DPKG_QUERY -W -f='${binary:Package} ${db:Status-Status}\n' 2>/dev/null |
    awk '$1 ~ /:i386$/ && $2 != "not-installed" {print $1}' | head -n 5 | tr '\n' ' ')
  if [ -n "$installed" ]; then
    log "this host runs no 32-bit x86 code, but i386 packages are installed (${installed% }): keeping the i386 architecture"
    return 1
  fi
  log "this host runs no 32-bit x86 code: removing the i386 architecture an earlier run added"
  $SUDO $DPKG --remove-architecture i386 || log "could not remove the i386 architecture; its indexes stay"
  return 0
}

# The indexes, tried three times. Indexes that still fail end nothing by themselves: the
# install then works from what is there and fails only for a package it cannot get.
update_indexes() {
  local try output status
  for try in 1 2 3; do
    status=0
    output=$($SUDO $APT_GET update -qq 2>&1) || status=$?
    if [ "$status" = 0 ] && ! grep -q '^[EW]: Failed to fetch' <<<"$output"; then
      return 0
    fi
    if [ "$try" -lt 3 ]; then
      sleep "${APT_RETRY_WAITS[$((try - 1))]:-5}"
    fi
  done
  local failed
  failed=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' <<<"$output" | sort -u | tr '\n' ' ')
  [ -n "$failed" ] || failed="(apt-get update exited with $status: $(tail -n 1 <<<"$output"))"
  log "package indexes not fetched after 3 tries, going on with those at hand: ${failed% }"
}

# Runs a download command up to three times, for a mirror that is briefly unavailable; the
# last failure ends the set-up with the command's own message.
with_retries() {
  local try
  for try in 1 2; do
    "$@" && return 0
    log "retrying in ${APT_RETRY_WAITS[$((try - 1))]:-5} s: $*"
    sleep "${APT_RETRY_WAITS[$((try - 1))]:-5}"
  done
  "$@"
}

install_packages() {
  local need_update=0
  if choose_architectures; then need_update=1; fi
  if enable_sources; then need_update=1; fi
  if packages_missing; then need_update=1; fi
  if [ "$need_update" = 1 ]; then
    log "installing Debian packages"
    update_indexes
    with_retries $SUDO env DEBIAN_FRONTEND=noninteractive $APT_GET install -y -qq --no-install-recommends "${PACKAGES[@]}" >/dev/null
  else
    log "Debian packages present"
  fi
}

# The mingw toolchain must use POSIX threads so std::thread and friends exist.
select_posix_toolchain() {
  local triplet=$1 alt
  for alt in $triplet-g++ $triplet-gcc; do
    if [ -e /usr/bin/$alt-posix ] && [ "$(readlink -f /usr/bin/$alt)" != "$(readlink -f /usr/bin/$alt-posix)" ]; then
      $SUDO update-alternatives --set $alt /usr/bin/$alt-posix >/dev/null
    fi
  done
}

# How Poco is built: the CMake build type, then the compile flags. The build type's own
# flags come after CMAKE_CXX_FLAGS and win, so only MinSizeRel really builds for size.
# LTO objects carry their machine code too (fat), so the test programs link them without LTO.
POCO_BUILD_LINE=$(head -n 1 "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake/poco-build-flags.txt")
# Applied to Poco's source before the build: its logging classes without C++ streams, so
# that the program carries no C++ locale (about a quarter of its size).
POCO_PATCH="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake/poco-size.patch"
POCO_BUILD_TYPE=${POCO_BUILD_LINE%% *}
POCO_FLAGS=${POCO_BUILD_LINE#* }

# The cache folder is named for the flags and the patch (cmake/Poco.cmake computes the same
# name), so a cache built another way is never reused.
poco_prefix() {
  local triplet=$1 cxx_version tag
  cxx_version=$($triplet-g++ -dumpversion)
  tag=$({ printf '%s' "$POCO_BUILD_LINE"; cat "$POCO_PATCH"; } | md5sum | cut -c1-8)
  echo "$CACHE_ROOT/poco-$POCO_VERSION-$triplet-gcc$cxx_version-$tag"
}

# Poco's headers include mixed-case Windows headers; mingw ships them lower case. The
# shim folder maps them, for Poco's own build and for every program that includes Poco.
write_shim() {
  local dir=$1
  mkdir -p "$dir"
  printf '#include <winsock2.h>\n' >"$dir/Winsock2.h"
  printf '#include <iphlpapi.h>\n' >"$dir/Iphlpapi.h"
  printf '#include <windows.h>\n' >"$dir/Windows.h"
}

# $1: the mingw triplet, $2: its CMake toolchain file.
build_poco() {
  local triplet=$1 toolchain=$2 prefix
  prefix=$(poco_prefix "$triplet")
  if [ -f "$prefix/.complete" ]; then
    [ -f "$prefix/shim/Winsock2.h" ] || write_shim "$prefix/shim"
    log "Poco cached in $prefix"
    return
  fi
  log "cross-building Poco $POCO_VERSION into $prefix"
  local work
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  (cd "$work" && apt-get source -qq "poco=$POCO_VERSION*" >/dev/null 2>&1 || with_retries apt-get source -qq poco >/dev/null)
  local src
  src=$(find "$work" -maxdepth 1 -type d -name 'poco-*' | head -n 1)
  patch -d "$src" -p1 -s <"$POCO_PATCH"
  write_shim "$work/shim"
  local here; here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/$toolchain" \
    -DCMAKE_MC_COMPILER=/usr/bin/$triplet-windmc \
    -DCMAKE_BUILD_TYPE="$POCO_BUILD_TYPE" \
    -DCMAKE_AR=/usr/bin/$triplet-gcc-ar -DCMAKE_RANLIB=/usr/bin/$triplet-gcc-ranlib \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_CXX_FLAGS="-I$work/shim $POCO_FLAGS" \
    -DCMAKE_C_FLAGS="-I$work/shim $POCO_FLAGS" \
    -DBUILD_SHARED_LIBS=OFF -DPOCO_STATIC=ON -DPOCO_MT=OFF \
    -DENABLE_FOUNDATION=ON -DENABLE_XML=ON -DENABLE_JSON=ON -DENABLE_UTIL=ON \
    -DENABLE_NET=OFF -DENABLE_NETSSL=OFF -DENABLE_NETSSL_WIN=OFF -DENABLE_CRYPTO=OFF \
    -DENABLE_JWT=OFF -DENABLE_DATA=OFF -DENABLE_DATA_SQLITE=OFF -DENABLE_DATA_MYSQL=OFF \
    -DENABLE_DATA_POSTGRESQL=OFF -DENABLE_DATA_ODBC=OFF -DENABLE_MONGODB=OFF \
    -DENABLE_REDIS=OFF -DENABLE_PDF=OFF -DENABLE_ZIP=OFF -DENABLE_SEVENZIP=OFF \
    -DENABLE_APACHECONNECTOR=OFF -DENABLE_CPPPARSER=OFF -DENABLE_ENCODINGS=OFF \
    -DENABLE_ENCODINGS_COMPILER=OFF -DENABLE_PAGECOMPILER=OFF \
    -DENABLE_PAGECOMPILER_FILE2PAGE=OFF -DENABLE_POCODOC=OFF -DENABLE_TESTS=OFF \
    -DENABLE_ACTIVERECORD=OFF -DENABLE_ACTIVERECORD_COMPILER=OFF -DENABLE_PROMETHEUS=OFF \
    >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
  cmake --build "$work/build" -j"$(nproc)" >"$work/build.log" 2>&1 || { tail -n 60 "$work/build.log"; exit 1; }
  $SUDO mkdir -p "$CACHE_ROOT"
  cmake --install "$work/build" >/dev/null
  write_shim "$prefix/shim"
  touch "$prefix/.complete"
  log "Poco installed"
}

install_packages
# NORLO_TARGETS: the Windows targets to cross-build Poco for. i686 is the product; x86_64 is
# the test build of a host that runs no 32-bit x86 code (scripts/test.sh asks for it).
# Set and empty: only the packages.
for target in ${NORLO_TARGETS-i686}; do
  case $target in
    i686|x86_64) ;;
    *) echo "deps.sh: unknown target '$target' (i686, x86_64)" >&2; exit 2 ;;
  esac
  select_posix_toolchain "$target-w64-mingw32"
  build_poco "$target-w64-mingw32" "mingw-$target.cmake"
done
log "done"
