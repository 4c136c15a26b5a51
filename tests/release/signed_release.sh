#!/usr/bin/env bash
# The release command end to end, with a throwaway code-signing certificate:
#   1. scripts/release.sh packs three files, builds, signs and verifies the
#      installer and writes its record;
#   2. the signature verifies against that certificate and not against another;
#   3. orlo-pack still reads the signed installer's package and resources;
#   4. the signed installer installs and removes the product under Wine, and
#      its copy in the target folder is the signed file, byte for byte;
#   5. the same command given the package alone (another file) and no
#      certificate builds the same installer, unsigned.
#   signed_release.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
source=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(realpath "$scratch")
cd "$scratch"
build=$scratch/build
root=$scratch/wine
prefix=$root/win32
stop_wine() { if [ -d "$prefix" ]; then WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; fi; }
trap stop_wine EXIT

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
into() { local file=$1; shift; "$@" >"$file" 2>&1; }  # into FILE COMMAND...: its output kept aside
fails() { ! "$@"; }

# Throwaway certificates: the signer's, and an unrelated one.
for who in signer other; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout $who.key -out $who.crt \
    -subj "/CN=Orlo Release Test $who/O=Fenmarch Test" \
    -addext "keyUsage=critical,digitalSignature,keyCertSign" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
done

# Three product files, with a subfolder in one name.
mkdir files
head -c 70000 /dev/urandom >files/program.bin
printf 'Orlo-Cast release test\r\n' >files/readme.txt
head -c 3000 /dev/urandom >files/manual.pdf

"$source/scripts/release.sh" --build "$build" --out "$scratch/signed" --cert signer.crt --key signer.key \
  Orlocast.exe=files/program.bin readme.txt=files/readme.txt 'Docs\OrloCastOnTheShow.pdf=files/manual.pdf' \
  >release.out 2>release.err || { cat release.err release.out; echo "FAILED: release.sh"; exit 1; }
installer=$scratch/signed/OrloCastSetup.exe
record=$scratch/signed/OrloCastSetup-release.txt
pack=$build/tools/orlo-pack

# The record.
field() { sed -n "s/^$1: //p" "$record"; }
check "record holds the installer's SHA-256" \
  test "$(field sha256)" = "$(sha256sum <"$installer" | cut -d' ' -f1)"
entry() { printf 'md5 %s  size %s  %s' "$(md5sum <"$2" | cut -d' ' -f1)" "$(stat -c %s "$2")" "$1"; }
check "record lists the three entries with their MD5 digests" test "$(grep '^entry ' "$record")" = "$(
  printf 'entry 0: %s\nentry 1: %s\nentry 2: %s' "$(entry Orlocast.exe files/program.bin)" \
    "$(entry readme.txt files/readme.txt)" "$(entry 'Docs\OrloCastOnTheShow.pdf' files/manual.pdf)")"
check "record names the signer" grep -qx 'signer: CN = Orlo Release Test signer, O = Fenmarch Test' "$record"

# The signature.
check "signature verifies against the signing certificate" \
  into verify.out osslsigncode verify -in "$installer" -CAfile signer.crt
check "signature does not verify against another certificate" \
  fails into verify-other.out osslsigncode verify -in "$installer" -CAfile other.crt

# orlo-pack reads the signed file: its package and the resources every
# installer must carry.
check "orlo-pack verify reads the signed installer's package" into verify-package.out "$pack" verify "$installer"
for part in table version manifest; do
  check "signed installer's resources: $part" cmake -DPART=$part -DORLO_PACK_EXE="$pack" \
    -DINSTALLER="$installer" -DPACKAGE="$scratch/signed/orlocast.pkg" -P "$source/resources/check_resources.cmake"
done

# Install and remove under Wine, in a private prefix of the scratch folder.
export ORLO_WINE_ARCH=win32
target=$prefix/drive_c/Program\ Files/FM/Orlo-Cast
wine_run() { "$source/scripts/wine-run.sh" "$root" "$@" 2> >(grep -v '^X connection' >&2); }
check "signed installer installs (-h -i)" wine_run "$installer" -h -i
check "installed program is the packed file" cmp files/program.bin "$target/Orlocast.exe"
check "installed manual is the packed file" cmp files/manual.pdf "$target/Docs/OrloCastOnTheShow.pdf"
check "installer's copy in the target folder is the signed file" cmp "$installer" "$target/OrloCastSetup.exe"
check "the copy removes the product (-h -u)" wine_run 'C:\Program Files\FM\Orlo-Cast\OrloCastSetup.exe' -h -u
check "the product's files are gone" test ! -e "$target/Orlocast.exe" -a ! -e "$target/readme.txt"

# The package alone (in another file), unsigned, in the same build tree:
# the same installer as the signed one without its signature.
cp "$scratch/signed/orlocast.pkg" given.pkg
"$source/scripts/release.sh" --build "$build" --out "$scratch/unsigned" --package given.pkg \
  >release2.out 2>release2.err || { cat release2.err release2.out; echo "FAILED: release.sh --package"; exit 1; }
record=$scratch/unsigned/OrloCastSetup-release.txt
check "unsigned record says so" grep -qx 'signed: no' "$record"
check "unsigned record's SHA-256" test "$(field sha256)" = "$(sha256sum <"$scratch/unsigned/OrloCastSetup.exe" | cut -d' ' -f1)"
osslsigncode remove-signature -in "$installer" -out stripped.exe >/dev/null
check "signing changed nothing but the signature" cmp stripped.exe "$scratch/unsigned/OrloCastSetup.exe"

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
