#!/usr/bin/env bash
# Installs what the build and the tests need, only when it is missing.
# Safe to run again: a machine that already has everything is left as it is.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# Host side: compilers, CMake, GoogleTest, Google Benchmark, clang + libFuzzer runtime.
for p in g++ cmake ninja-build googletest libgtest-dev libbenchmark-dev clang libclang-rt-dev \
         libssl-dev python3; do
  have_pkg "$p" || need+=("$p")
done
# Release: Authenticode signing, time stamps and throwaway test certificates
# (ca-certificates: the authorities a time stamp is checked against), and
# checking the package-manager manifests it writes.
for p in osslsigncode openssl ca-certificates python3-yaml python3-jsonschema; do
  have_pkg "$p" || need+=("$p")
done
# Source layout check (scripts/check-format.sh).
have_pkg clang-format || need+=(clang-format)
# Benchmarks (scripts/bench.sh, one short pass of which the test command
# runs): NSIS, the installer they are compared with.
have_pkg nsis || need+=(nsis)
# Cross side: MinGW i686 toolchain.
for p in g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64-i686; do
  have_pkg "$p" || need+=("$p")
done
# Wine (32- and 64-bit) and a virtual display.
want_i386=0
have_pkg wine32:i386 || { need+=(wine32:i386); want_i386=1; }
for p in wine wine64 xvfb xauth; do
  have_pkg "$p" || need+=("$p")
done

# The Japanese locale, under which Wine's ANSI code page is 932 (double-byte).
have_ja() { locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; }
have_ja || have_pkg locales || need+=(locales)

if [ ${#need[@]} -eq 0 ]; then
  have_ja || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  echo "bootstrap: everything is installed"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ $want_i386 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "bootstrap: installing ${need[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
have_ja || $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
echo "bootstrap: done"
