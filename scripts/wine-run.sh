#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix of the build tree.
#   wine-run.sh PREFIX_ROOT PROGRAM.exe [ARGS...]
# ORLO_WINE_ARCH picks the prefix: win32 (default) or win64; ORLO_WINE_LANG
# (a Linux locale such as ja_JP.UTF-8, which sets Windows' ANSI code page)
# gives a prefix of its own, named after the language. Each prefix is
# made once per build tree and reused; creation is serialised with a lock so
# that parallel tests do not race. Without a DISPLAY the program runs under
# a private Xvfb server.
set -euo pipefail
root=$1
shift
arch=${ORLO_WINE_ARCH:-win32}
case "$arch" in win32|win64) ;; *) echo "wine-run: ORLO_WINE_ARCH must be win32 or win64" >&2; exit 2;; esac
mkdir -p "$root"
root=$(cd "$root" && pwd)
name=$arch
if [ -n "${ORLO_WINE_LANG:-}" ]; then
  export LANG="$ORLO_WINE_LANG" LC_ALL="$ORLO_WINE_LANG"
  name="$arch-${ORLO_WINE_LANG%%_*}"
fi
export WINEPREFIX="$root/$name"
export WINEARCH="$arch"
export WINEDEBUG="${WINEDEBUG:--all}"
# Never let Wine copy Start-menu entries into the Linux desktop.
export WINEDLLOVERRIDES="winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
unset WINELOADER WINESERVER

"$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX" "$arch"

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$@"
fi
exec wine "$@"
