#!/usr/bin/env bash
# Creates the Wine prefix PREFIX of kind ARCH (win32 or win64) unless it is
# already complete. Safe to call from several processes at once.
#   wine-prefix.sh PREFIX ARCH
set -euo pipefail
prefix=$1
arch=$2
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
marker="$prefix/.orlo-prefix-v2"
if [ ! -f "$marker" ]; then
  rm -rf "$prefix"
  WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all \
    WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
  # Wine links the profile's Desktop, Documents, Music ... to the Linux home
  # folder. Tests must not reach outside the prefix, so each becomes a real,
  # empty folder of the prefix.
  for link in "$prefix"/drive_c/users/*/*; do
    if [ -L "$link" ]; then
      rm -f "$link"
      mkdir -p "$link"
    fi
  done
  touch "$marker"
fi
