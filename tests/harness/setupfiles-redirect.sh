#!/usr/bin/env bash
# Points the product's setup-files folder of the test prefix at the small drive (on) or
# puts the real folder back (off). The fault tests start it from inside Wine, which runs
# Unix programs directly, so the redirection lasts only as long as one test.
#   setupfiles-redirect.sh HARNESS on|off
set -uo pipefail
harness=$1
action=$2
# shellcheck source=env.sh
. "$(dirname "$0")/env.sh" "$harness"
data="$WINEPREFIX/drive_c/ProgramData/Norlo 5"
folder="$data/SetupFiles"
aside="$data/SetupFiles.faults-aside"
target="$harness/smalldrive/SetupFiles"

case $action in
  on)
    mountpoint -q "$harness/smalldrive" || { echo "small drive not mounted" >&2; exit 1; }
    mkdir -p "$data" "$target"
    if [ -e "$folder" ] && [ ! -L "$folder" ]; then
      rm -rf "$aside"
      mv "$folder" "$aside"
    fi
    ln -sfn "$target" "$folder"
    ;;
  off)
    [ -L "$folder" ] && rm -f "$folder"
    [ -d "$aside" ] && [ ! -e "$folder" ] && mv "$aside" "$folder"
    [ -d "$target" ] && rm -rf "$target"
    ;;
  *)
    echo "usage: $0 HARNESS on|off" >&2
    exit 2
    ;;
esac
exit 0
