#!/usr/bin/env bash
# A nearly full drive for the fault tests: a tiny tmpfs below the harness directory,
# mapped as drive K: of the test prefix (a letter no other test takes for a missing drive).
#   smalldrive.sh mount HARNESS     mounts it (exit 77, reported as skipped, when the
#                                   machine does not let us mount)
#   smalldrive.sh unmount HARNESS   puts the setup-files folder back and unmounts it
# The size leaves room for the small packages of the sample release but not for the
# 100 KiB redistributables.
set -uo pipefail
action=$1
harness=$2
# shellcheck source=env.sh
. "$(dirname "$0")/env.sh" "$harness"
drive=$harness/smalldrive
letter=$WINEPREFIX/dosdevices/k:
size=${NORLO_SMALL_DRIVE_SIZE:-64k}

# shellcheck source=host32.sh
. "$(dirname "$0")/host32.sh"

case $action in
  mount)
    host_runs_test_build || { host_32bit_notice; exit 77; }
    mkdir -p "$drive" || { echo "SKIPPED: cannot create $drive"; exit 77; }
    if ! mountpoint -q "$drive"; then
      if ! mount -t tmpfs -o "size=$size,mode=0777" tmpfs "$drive" 2>"$harness/smalldrive.err"; then
        echo "SKIPPED: this machine does not allow mounting a tmpfs: $(cat "$harness/smalldrive.err")"
        rmdir "$drive" 2>/dev/null
        exit 77
      fi
    fi
    ln -sfn "$drive" "$letter"
    echo "small drive of $size mounted at $drive as K:"
    ;;
  unmount)
    # A test that died half-way may have left the setup-files folder redirected.
    "$(dirname "$0")/setupfiles-redirect.sh" "$harness" off
    [ -L "$letter" ] && rm -f "$letter"
    if mountpoint -q "$drive"; then
      umount "$drive" || { echo "could not unmount $drive" >&2; exit 1; }
    fi
    rmdir "$drive" 2>/dev/null
    echo "small drive removed"
    ;;
  *)
    echo "usage: $0 mount|unmount HARNESS" >&2
    exit 2
    ;;
esac
exit 0
