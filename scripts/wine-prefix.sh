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
if [ ! -f "$prefix/.orlo-ready" ]; then
  rm -rf "$prefix"
  WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all \
    WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
  touch "$prefix/.orlo-ready"
fi
