#!/usr/bin/env bash
# Builds what the benchmarks need (optimised, without sanitizers), runs them
# and prints a report, which it also writes into docs/benchmarks.md:
#   1. the extraction core, native (Google Benchmark), with OpenSSL's MD5 as
#      the reference, and the same core as the installer is built, under Wine;
#   2. the installer's size overhead against the NSIS x86 stub, section by
#      section, now and as it was at an earlier commit ("before");
#   3. unattended install and removal under Wine against NSIS installers of
#      the same three files (uncompressed and LZMA), less Wine's start-up;
#   4. the installer's peak working set during an unattended install;
#   5. time from process start to the first painted window, against a bare
#      window of the same size, and one start of each traced call by call.
#
#   scripts/bench.sh [BUILD_DIR]          (default: build-bench)
#   ORLO_BENCH_ROUNDS=9     Wine rounds (each: a fresh prefix per installer)
#   ORLO_BENCH_REPS=11      Google Benchmark repetitions
#   ORLO_BENCH_DOC=path     where the report goes (default docs/benchmarks.md)
#   ORLO_BENCH_BEFORE=068bacc  the commit whose installer is "before" (built
#                           from this clone's history); empty: none
#
# Everything runs on this machine, under BUILD_DIR: its own Wine prefixes
# and its own Xvfb display; no network. It prints figures and passes or
# fails nothing. About 5 to 10 minutes on 2 cores.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
mkdir -p "$build"
build=$(cd "$build" && pwd)
rounds=${ORLO_BENCH_ROUNDS:-9}
reps=${ORLO_BENCH_REPS:-11}
doc=${ORLO_BENCH_DOC:-$here/docs/benchmarks.md}
out="$build/bench-results"
rm -rf "$out"
mkdir -p "$out"
say() { echo "bench: $*" >&2; }

# Everything, NSIS and OpenSSL's headers among it, comes from the bootstrap.
"$here/scripts/bootstrap.sh"

{
  echo "started=$(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1)"
  echo "cores=$(nproc)"
  echo "mem=$(free -g | awk '/^Mem:/ {print $2}') GB"
  echo "kernel=$(uname -r)"
  echo "os=$(. /etc/os-release && echo "$PRETTY_NAME")"
  echo "gcc=$(g++ -dumpfullversion)"
  echo "mingw=$(i686-w64-mingw32-g++ -dumpfullversion)"
  echo "wine=$(wine --version 2>/dev/null)"
  echo "nsis=$(makensis -VERSION)"
  echo "openssl=$(openssl version 2>/dev/null || dpkg-query -W -f='${Version}' libssl-dev)"
  echo "load_start=$(cut -d' ' -f1-3 /proc/loadavg)"
} >"$out/machine.txt"

# --- Native tree: the benchmark, the host tools --------------------------------
say "building the native tree ($build)"
cmake -S "$here" --preset bench -B "$build" >/dev/null
cmake --build "$build" --target package_bench orlo-pack orlo-gen-assets orlo-links >/dev/null

# --- Windows tree: the installer, carrying a package of the sizes in use --------
win="$build/windows"
data="$build/bench-data"
say "cross-building OrloCastSetup.exe ($win)"
cmake -S "$here" -B "$win" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.toolchain.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DORLO_PACK_EXE="$build/tools/orlo-pack" -DORLO_GEN_ASSETS_EXE="$build/tools/orlo-gen-assets" \
  -DORLO_PACKAGE="$data/orlocast-bench.pkg" >/dev/null
cmake --build "$win" --target orlocast_product >/dev/null
python3 "$here/bench/make_bench_files.py" "$win/product/Orlocast.exe" "$data/files"
"$build/tools/orlo-pack" build -o "$data/orlocast-bench.pkg" \
  Orlocast.exe="$data/files/Orlocast.exe" readme.txt="$data/files/readme.txt" \
  OrloCastOnTheShow.pdf="$data/files/OrloCastOnTheShow.pdf" >/dev/null
cmake --build "$win" --target OrloCastSetup >/dev/null
installer="$win/app/OrloCastSetup.exe"

# --- The installer as it was at an earlier commit, with the same package ---------
before_ref=${ORLO_BENCH_BEFORE-068bacc}
before=""
if [ -n "$before_ref" ] && git -C "$here" cat-file -e "$before_ref^{commit}" 2>/dev/null; then
  say "cross-building OrloCastSetup.exe as it was at $before_ref"
  rm -rf "$build/before-src"
  mkdir -p "$build/before-src"
  git -C "$here" archive "$before_ref" | tar -x -C "$build/before-src"
  cmake -S "$build/before-src" -B "$build/before-windows" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$build/before-src/cmake/mingw-i686.toolchain.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DORLO_PACK_EXE="$build/tools/orlo-pack" -DORLO_GEN_ASSETS_EXE="$build/tools/orlo-gen-assets" \
    -DORLO_PACKAGE="$data/orlocast-bench.pkg" >/dev/null
  cmake --build "$build/before-windows" --target OrloCastSetup >/dev/null
  before="$build/before-windows/app/OrloCastSetup.exe"
elif [ -n "$before_ref" ]; then
  say "no commit $before_ref in this clone: no before figures"
fi

# --- Win32 helpers and the NSIS installers --------------------------------------
tools="$build/wine-tools"
mkdir -p "$tools"
i686-w64-mingw32-g++ -Os -s -mwindows -static-libgcc "$here/bench/wine/noop.cpp" -o "$tools/noop.exe"
i686-w64-mingw32-g++ -Os -s -mwindows -static-libgcc "$here/bench/wine/bare_window.cpp" -o "$tools/bare_window.exe"
i686-w64-mingw32-g++ -O2 -s -static-libgcc -static-libstdc++ "$here/bench/wine/measure.cpp" \
  -o "$tools/measure.exe" -lpsapi
# The extraction core with the installer's compiler: with the code generation
# the installer has now (as cmake/windows.cmake gives it, less link-time
# optimisation), with the -Os it had before, and with -O2.
declare -A flavour=(
  [Oz]="-Oz -mno-accumulate-outgoing-args -mno-stack-arg-probe -fstack-clash-protection -fomit-frame-pointer -mpreferred-stack-boundary=2"
  [Os]="-Os" [O2]="-O2")
for opt in Oz Os O2; do
  # shellcheck disable=SC2086
  i686-w64-mingw32-g++ -std=c++17 ${flavour[$opt]} -s -static -fno-exceptions -fno-rtti -I"$here" -DFLAVOUR="\"$opt\"" \
    "$here/bench/wine/unpack_win32.cpp" "$here/package/md5.cpp" "$here/package/scramble.cpp" \
    "$here/package/package_image.cpp" "$here/platform/bounded_text.cpp" -o "$tools/unpack_win32_$opt.exe"
done
nsis="$build/nsis"
mkdir -p "$nsis"
makensis -V1 -DOUTFILE="$nsis/empty.exe" "$here/bench/nsis_empty.nsi"
for c in none lzma; do
  makensis -V1 -DFILES="$data/files" -DOUTFILE="$nsis/orlocast-nsis-$c.exe" -DCOMPRESS=$c \
    "$here/bench/orlocast_bench.nsi"
done

# --- 1. Extraction core, native ------------------------------------------------
say "native benchmark ($reps repetitions)"
"$build/bench/package_bench" --benchmark_repetitions="$reps" --benchmark_min_time=0.2 \
  --benchmark_enable_random_interleaving=true \
  --benchmark_out="$out/native.json" --benchmark_out_format=json >/dev/null 2>&1

# --- 2. Sizes --------------------------------------------------------------------
{
  echo "installer=$(stat -c %s "$installer")"
  echo "package=$(stat -c %s "$data/orlocast-bench.pkg")"
  echo "bitmap_file=$(stat -c %s "$win/resources/background.bmp")"
  echo "nsis_stub=$(stat -c %s "$nsis/empty.exe")"
  echo "nsis_none=$(stat -c %s "$nsis/orlocast-nsis-none.exe")"
  echo "nsis_lzma=$(stat -c %s "$nsis/orlocast-nsis-lzma.exe")"
  i686-w64-mingw32-objdump -h "$installer" | awk '$1 ~ /^[0-9]+$/ {print $2, $3}' |
    while read -r name hex; do echo "section$name=$((16#$hex))"; done
  if [ -n "$before" ]; then
    echo "before_ref=$before_ref"
    echo "before_installer=$(stat -c %s "$before")"
    i686-w64-mingw32-objdump -h "$before" | awk '$1 ~ /^[0-9]+$/ {print $2, $3}' |
      while read -r name hex; do echo "before_section$name=$((16#$hex))"; done
  fi
} >"$out/sizes.txt"

# --- Wine: a private display, a template prefix, fresh copies of it ---------------
unset WINELOADER WINESERVER
export WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
template="$build/wine-template/win32"
say "Wine template prefix ($template)"
"$here/scripts/wine-prefix.sh" "$template" win32

xvfb_pid=""
prefix=""
cleanup() {
  if [ -n "$prefix" ] && [ -d "$prefix" ]; then WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; rm -rf "$prefix"; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
: >"$out/xvfb-display"
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$out/xvfb-display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -s "$out/xvfb-display" ] && break; sleep 0.1; done
export DISPLAY=":$(tr -d '[:space:]' <"$out/xvfb-display")"

# A fresh prefix: hard links to the template's files (Wine never writes into
# them), private copies of the registry files, which it rewrites.
fresh_prefix() {
  prefix="$build/wine-runs/$1"
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  cp -al "$template" "$prefix"
  rm -f "$prefix"/*.reg
  cp "$template"/*.reg "$prefix"/
  mkdir -p "$prefix/drive_c/bench"
  cp "$tools/measure.exe" "$tools/noop.exe" "$tools/bare_window.exe" "$installer" "$nsis"/orlocast-nsis-*.exe "$prefix/drive_c/bench/"
  [ -z "$before" ] || cp "$before" "$prefix/drive_c/bench/OrloCastSetup-before.exe"
  export WINEPREFIX="$prefix"
  wineserver -p
  wine 'C:\bench\noop.exe' >/dev/null 2>&1 || true   # starts Wine's services
}
end_prefix() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$prefix"
  prefix=""
}
measure() { wine 'C:\bench\measure.exe' "$@" 2>/dev/null | tr -d '\r' | grep '^ms=' || echo "ms=nan exit=nan peak_ws=0"; }
installed() { [ -f "$prefix/drive_c/Program Files/FM/Orlo-Cast/Orlocast.exe" ] && echo 1 || echo 0; }

dir='C:\Program Files\FM\Orlo-Cast'
printf 'round\tsystem\tphase\tresult\tfiles_present\n' >"$out/wine.tsv"
systems="ours${before:+ before} nsis-none nsis-lzma"
say "Wine install and removal: $rounds rounds of $systems"
for round in $(seq 1 "$rounds"); do
  for system in $systems; do
    fresh_prefix "$system-$round"
    floor=$(measure 'C:\bench\noop.exe')
    case $system in
      ours | before)
        # The installer leaves its copy under the name it was started with.
        name=OrloCastSetup.exe
        [ "$system" = ours ] || name=OrloCastSetup-before.exe
        inst=$(measure "C:\\bench\\$name" -h -i); after_install=$(installed)
        floor2=$(measure 'C:\bench\noop.exe')
        rem=$(measure --cmd "\"$dir\\$name\" -h -u"); after_removal=$(installed) ;;
      nsis-*)
        inst=$(measure "C:\\bench\\orlocast-$system.exe" /S); after_install=$(installed)
        floor2=$(measure 'C:\bench\noop.exe')
        rem=$(measure --cmd "\"$dir\\uninst.exe\" /S _?=$dir"); after_removal=$(installed) ;;
    esac
    printf '%s\t%s\tfloor\t%s\t\n' "$round" "$system" "$floor" >>"$out/wine.tsv"
    printf '%s\t%s\tinstall\t%s\t%s\n' "$round" "$system" "$inst" "$after_install" >>"$out/wine.tsv"
    printf '%s\t%s\tfloor2\t%s\t\n' "$round" "$system" "$floor2" >>"$out/wine.tsv"
    printf '%s\t%s\tremove\t%s\t%s\n' "$round" "$system" "$rem" "$after_removal" >>"$out/wine.tsv"
    end_prefix
  done
done

# The programs whose first painted window is timed: the bare window, ours,
# and ours as it was before.
program_file() {
  case $1 in
    bare) echo bare_window.exe ;;
    ours) echo OrloCastSetup.exe ;;
    before) echo OrloCastSetup-before.exe ;;
  esac
}
program_class() { if [ "$1" = bare ]; then echo OrloBenchBareWindow; else echo FMOrlo-Cast0Installer0MainWindow0; fi; }
start_program() { measure --window "$(program_class "$1")" "C:\\bench\\$(program_file "$1")"; }
programs=(bare ours ${before:+before})
say "start-up to the first painted window: $rounds rounds of ${programs[*]}"
printf 'round.pass\tprogram\tresult\n' >"$out/startup.tsv"
for round in $(seq 1 "$rounds"); do
  fresh_prefix "window-$round"
  # The first window of a prefix pays for Wine's display driver once; open
  # and close one bare window before measuring, as a desktop already runs.
  start_program bare >/dev/null
  # Each five times; the order turns with the round and runs backwards
  # every other time, so that no program always comes first or after the
  # same one.
  n=${#programs[@]}
  for pass in 0 1 2 3 4; do
    for k in $(seq 0 $((n - 1))); do
      if [ $((pass % 2)) -eq 0 ]; then j=$(((k + round) % n)); else j=$(((n - 1 - k + round) % n)); fi
      program=${programs[$j]}
      printf '%s.%s\t%s\t%s\n' "$round" "$pass" "$program" "$(start_program "$program")" >>"$out/startup.tsv"
    done
  done
  end_prefix
done

# One start of each, traced by Wine: when each program makes the calls that
# mark its way to the first picture (the relay of those calls only, and the
# libraries as they load), in a fresh prefix after one bare window.
say "start-up traced: ${programs[*]}"
traced="kernel32.CreateProcessA;kernel32.CreateMutexA;user32.EnumWindows;user32.RegisterClassA;user32.CreateWindowExA"
traced="$traced;gdi32.CreateFontIndirectA;user32.LoadBitmapA;user32.LoadCursorA;kernel32.LoadLibraryA"
traced="$traced;user32.SetWindowPos;user32.ShowWindow;user32.BeginPaint;user32.EndPaint"
for program in "${programs[@]}"; do
  fresh_prefix "trace-$program"
  wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d "$traced" /f >/dev/null 2>&1
  start_program bare >/dev/null
  WINEDEBUG=+timestamp,+relay,+loaddll wine 'C:\bench\measure.exe' --window "$(program_class "$program")" \
    "C:\\bench\\$(program_file "$program")" 2>&1 >/dev/null | tr -d '\r' |
    grep -E ':(Call|Ret) |Loaded ' >"$out/trace-$program.txt" || true
  end_prefix
done

say "extraction core as the installer is built, under Wine"
fresh_prefix unpack
cp "$tools"/unpack_win32_*.exe "$prefix/drive_c/bench/"
for opt in Oz Os O2; do
  wine "C:\\bench\\unpack_win32_$opt.exe" 2>/dev/null | tr -d '\r' >>"$out/win32_unpack.txt" || true
done
end_prefix

echo "load_end=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"
echo "finished=$(date -u '+%Y-%m-%d %H:%M UTC')" >>"$out/machine.txt"
python3 "$here/bench/report.py" "$out" "$doc"
