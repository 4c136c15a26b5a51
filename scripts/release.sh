#!/usr/bin/env bash
# Builds a release of OrloCastSetup.exe around the maker's product files,
# optionally signs it (Authenticode, with osslsigncode), verifies it and
# writes a release record beside it.
#
#   scripts/release.sh [options] NAME=PATH NAME=PATH NAME=PATH
#   scripts/release.sh [options] --package FILE
#
# Options:
#   --build DIR       build tree (default: build-release in the source folder)
#   --out DIR         where the installer and its record go (default: DIR/release of the build tree)
#   --cert FILE       code-signing certificate (PEM or DER); signs the installer
#   --key FILE        its private key (PEM or DER)
#   --pass-file FILE  the key's passphrase, if it has one
#   --ca FILE         certificates that verification trusts (default: the --cert file)
#
# The three NAME=PATH files are packed with orlo-pack in package order (the
# program, the readme, the manual). No timestamp server is contacted: the
# signature carries no countersignature.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

usage() { sed -n '2,/^set /s/^# \{0,1\}//p' "$0" | sed '$d' >&2; exit "${1:-2}"; }
fail() { echo "release: error: $*" >&2; exit 1; }
absolute() { [ -e "$1" ] || fail "$1: no such file"; realpath "$1"; }

build=$here/build-release
out=""
package=""
cert=""
key=""
pass_file=""
ca=""
files=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=${2:?}; shift 2 ;;
    --out) out=${2:?}; shift 2 ;;
    --package) package=$(absolute "${2:?}"); shift 2 ;;
    --cert) cert=$(absolute "${2:?}"); shift 2 ;;
    --key) key=$(absolute "${2:?}"); shift 2 ;;
    --pass-file) pass_file=$(absolute "${2:?}"); shift 2 ;;
    --ca) ca=$(absolute "${2:?}"); shift 2 ;;
    -h|--help) usage 0 ;;
    *=*) name=${1%%=*}; files+=("$name=$(absolute "${1#*=}")"); shift ;;
    *) echo "release: unknown argument '$1'" >&2; usage ;;
  esac
done
if [ -n "$package" ]; then
  [ ${#files[@]} -eq 0 ] || fail "give either --package or three NAME=PATH files, not both"
else
  [ ${#files[@]} -eq 3 ] || fail "give --package FILE or exactly three NAME=PATH files (got ${#files[@]})"
fi
if { [ -n "$cert" ] && [ -z "$key" ]; } || { [ -z "$cert" ] && [ -n "$key" ]; }; then
  fail "signing needs both --cert and --key"
fi
[ -n "$cert" ] || [ -z "$pass_file$ca" ] || fail "--pass-file and --ca only go with --cert and --key"
[ -n "$ca" ] || ca=$cert

"$here/scripts/bootstrap.sh" >&2
mkdir -p "$build"
build=$(realpath "$build")
out=${out:-$build/release}
mkdir -p "$out"
out=$(realpath "$out")
installer=$out/OrloCastSetup.exe
record=$out/OrloCastSetup-release.txt
rm -f "$installer" "$record"

# The package: the given one, or one packed from the three files (kept
# beside the installer; no older one is left there).
if [ -z "$package" ]; then
  package=$out/orlocast.pkg
elif [ "$package" != "$out/orlocast.pkg" ]; then
  rm -f "$out/orlocast.pkg"
fi
echo "== configuring $build" >&2
cmake -S "$here" --preset release -B "$build" -DORLO_PACKAGE="$package" >/dev/null
cmake --build "$build" -j2 --target orlo-pack >/dev/null
pack=$build/tools/orlo-pack
if [ ${#files[@]} -eq 3 ]; then
  "$pack" build -o "$package" "${files[@]}" >&2
fi
"$pack" verify "$package" >/dev/null || fail "$package does not verify"

echo "== building the installer around $package" >&2
cmake --build "$build" -j2 --target windows-configure >/dev/null
cmake --build "$build/windows" -j2 --target OrloCastSetup >/dev/null
built=$build/windows/app/OrloCastSetup.exe

subject=""
if [ -n "$cert" ]; then
  echo "== signing with $cert" >&2
  sign=(osslsigncode sign -h sha256 -n "OrloCastSetup" -certs "$cert" -key "$key")
  [ -z "$pass_file" ] || sign+=(-readpass "$pass_file")
  "${sign[@]}" -in "$built" -out "$installer" >/dev/null || fail "signing failed"
  subject=$(openssl x509 -in "$cert" -noout -subject 2>/dev/null ||
            openssl x509 -inform DER -in "$cert" -noout -subject)
  subject=${subject#subject=}
  subject=${subject# }
else
  cp "$built" "$installer"
fi

echo "== verifying $installer" >&2
"$pack" verify "$installer" >&2 || fail "the installer's package does not verify"
if [ -n "$cert" ]; then
  osslsigncode verify -in "$installer" -CAfile "$ca" >/dev/null ||
    fail "the signature does not verify against $ca"
fi

{
  echo "installer: $(basename "$installer")"
  echo "sha256: $(sha256sum "$installer" | cut -d' ' -f1)"
  echo "size: $(stat -c %s "$installer")"
  "$pack" inspect "$installer" | sed -n \
    's/^entry \([0-2]\): \(.*[^ ]\) *offset *[0-9]* *size *\([0-9]*\) *md5 \([0-9a-f]*\)$/entry \1: md5 \4  size \3  \2/p'
  if [ -n "$cert" ]; then
    echo "signed: yes"
    echo "signer: $subject"
  else
    echo "signed: no"
  fi
} >"$record"
[ "$(grep -c '^entry ' "$record")" -eq 3 ] || fail "could not read the package's entries"

echo "== release: $installer" >&2
cat "$record"
