#!/usr/bin/env bash
# Sets up what is missing, builds OrloCastSetup.exe, then installs and
# removes the product unattended in a fresh scratch Wine prefix and shows
# what each step put where. Exits 1 when the install or the removal did not
# exit 0.
#   scripts/demo.sh [BUILD_DIR]      (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}

"$here/scripts/bootstrap.sh"
cmake -S "$here" --preset default -B "$build" >/dev/null
cmake --build "$build"

exe="$build/windows/app/OrloCastSetup.exe"
pack="$build/tools/orlo-pack"
echo
echo "== $exe ($(stat -c %s "$exe") bytes)"
"$pack" verify "$exe"

root="$build/demo-wine"
rm -rf "$root"
export ORLO_WINE_ARCH=win32
run() { "$here/scripts/wine-run.sh" "$root" "$@" 2> >(grep -v '^X connection' >&2); }
prefix="$root/win32"
drive="$prefix/drive_c"
show() {
  echo "-- files of the product:"
  (cd "$drive" && find "Program Files/FM" "ProgramData/Microsoft/Windows/Start Menu/Programs/Fen March" \
     users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs/"Fen March" 2>/dev/null | sed 's/^/   C:\\/' | tr / '\\') || true
  echo "-- registry:"
  WINEPREFIX="$prefix" WINEDEBUG=-all wine reg query \
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\FM:Orlo-Cast {5C7E2B91-3FA4-4d6e}' 2>/dev/null | grep -v '^reg:' | sed 's/^/   /' || true
  WINEPREFIX="$prefix" WINEDEBUG=-all wine reg query 'HKCU\Fen March\Orlo-Cast' 2>/dev/null | grep -v '^reg:' | sed 's/^/   /' || true
}

echo
echo "== install: OrloCastSetup.exe -h -i   (scratch prefix $prefix)"
set +e
run "$exe" -h -i
code=$?
set -e
echo "exit code: $code"
installed=$code
show

copy="C:\\Program Files\\FM\\Orlo-Cast\\OrloCastSetup.exe"
echo
echo "== remove: \"$copy\" -h -u"
set +e
run "$drive/Program Files/FM/Orlo-Cast/OrloCastSetup.exe" -h -u
code=$?
set -e
echo "exit code: $code"
show
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
[ "$installed $code" = "0 0" ] || { echo "demo: error: the install exited $installed, the removal $code" >&2; exit 1; }
