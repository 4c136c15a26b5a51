#!/usr/bin/env bash
# The release command end to end, with throwaway certificates and time-stamping
# authority (on 127.0.0.1): signature, time stamp, record and manifest (schema,
# values); under Wine the installer installs with the manifest's switches and
# writes the uninstall key it names, and its copy removes the product. Unsigned
# from the package alone it is the same installer; without a time stamp it warns;
# failing time stamps and bad addresses are refused in one line.
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
tsa_pid=""
stop() {
  [ ! -d "$prefix" ] || WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  [ -z "$tsa_pid" ] || kill "$tsa_pid"
}
trap stop EXIT
# Nothing leaves the machine: no proxy between osslsigncode and 127.0.0.1.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
into() { local file=$1; shift; "$@" >"$file" 2>&1; }  # into FILE COMMAND...: its output kept aside
fails() { ! "$@"; }

# Throwaway certificates: the signer's, an unrelated one, the time-stamping authority's.
certificate() {  # certificate NAME KEY_USAGE EXTENDED_KEY_USAGE
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$1.key" -out "$1.crt" \
    -subj "/CN=Orlo Release Test $1/O=Fenmarch Test" -addext "keyUsage=$2" -addext "extendedKeyUsage=$3" 2>/dev/null
}
certificate signer critical,digitalSignature,keyCertSign codeSigning
certificate other critical,digitalSignature,keyCertSign codeSigning
certificate tsa critical,digitalSignature critical,timeStamping

# The time-stamping authority: OpenSSL's "ts -reply" behind a small HTTP
# handler on 127.0.0.1, on a free port.
printf '[tsa]\ndefault_tsa = t\n[t]\nserial = tsa.serial\nsigner_digest = sha256\ndigests = sha256, sha1\n%s\n' \
  'default_policy = 1.2.3.4.1' >tsa.cnf
/usr/bin/python3 -c '
import http.server, subprocess
class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        open("query.tsq", "wb").write(self.rfile.read(int(self.headers["Content-Length"])))
        reply = subprocess.run("openssl ts -reply -config tsa.cnf -queryfile query.tsq -inkey tsa.key -signer tsa.crt",
                               shell=True, capture_output=True).stdout
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers()
        self.wfile.write(reply)
server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
print(server.server_port, flush=True)
server.serve_forever()' >tsa.port 2>tsa.log &
tsa_pid=$!
for _ in $(seq 100); do [ -s tsa.port ] && break; sleep 0.1; done
tsa_url=http://127.0.0.1:$(cat tsa.port)/

# Three product files, with a subfolder in one name.
mkdir files
head -c 70000 /dev/urandom >files/program.bin
printf 'Orlo-Cast release test\r\n' >files/readme.txt
head -c 3000 /dev/urandom >files/manual.pdf

url=https://downloads.fenmarch.example/orlo-cast/OrloCastSetup.exe
release() { "$source/scripts/release.sh" --build "$build" "$@"; }
release --out "$scratch/signed" --cert signer.crt --key signer.key --timestamp "$tsa_url" --tsa-ca tsa.crt \
  --manifest-url "$url" \
  Orlocast.exe=files/program.bin readme.txt=files/readme.txt 'Docs\OrloCastOnTheShow.pdf=files/manual.pdf' \
  >release.out 2>release.err || { cat release.err release.out tsa.log; echo "FAILED: release.sh"; exit 1; }
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
check "record names the time-stamping authority" \
  grep -qx 'timestamp authority: CN = Orlo Release Test tsa, O = Fenmarch Test' "$record"
stamped=$(date -u -d "$(field timestamp | sed 's/ UTC$//')" +%s 2>/dev/null || echo 0)
check "record's time stamp is the time of this run" test $((stamped + 5)) -ge "$(stat -c %Y tsa.port)" \
  -a "$stamped" -le "$(date -u +%s)"
check "record lists the three manifest files" test "$(grep '^manifest: ' "$record")" = "$(printf 'manifest: %s\n' \
  winget/Fenmarch.OrloCast.yaml winget/Fenmarch.OrloCast.locale.en-US.yaml winget/Fenmarch.OrloCast.installer.yaml)"

# The signature.
check "signature and time stamp verify against the signer's and authority's certificates" \
  into verify.out osslsigncode verify -in "$installer" -CAfile signer.crt -TSA-CAfile tsa.crt
check "osslsigncode shows the authority's countersignature" grep -q 'CN *= *Orlo Release Test tsa' verify.out
check "signature does not verify against another certificate" \
  fails into verify-other.out osslsigncode verify -in "$installer" -CAfile other.crt

# The package manager's manifest: the schema, and the installer it describes.
version=$(sed -n 's/^PRODUCTVERSION \([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\)/\1.\2.\3.\4/p' \
  "$source/resources/installer.rc.in")
check "manifest follows the schema and describes the installer (version $version)" into manifest.out \
  /usr/bin/python3 "$source/tests/release/check_manifest.py" "$scratch/signed/winget" "$installer" "$url" "$version"
# Its silent switches, product code, display name and publisher (from a manifest that passed).
mapfile -t found <manifest.out
[ ${#found[@]} -eq 4 ] || found=(none - - -)
silent=${found[0]} product_code=${found[1]} display_name=${found[2]} publisher=${found[3]}

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
# (a run that waits for a click, as without -i or -u, is ended)
wine_run() { timeout 300 "$source/scripts/wine-run.sh" "$root" "$@" 2> >(grep -v '^X connection' >&2); }
# shellcheck disable=SC2086 # the switches are words
check "signed installer installs with the manifest's silent switches ($silent)" wine_run "$installer" $silent
uninstall_value() {
  WINEPREFIX="$prefix" WINEDEBUG=-all wine reg query \
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code" /v "$1" 2>/dev/null |
    tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p"
}
check "uninstall key named by the manifest's product code holds its display name and publisher" \
  test "$(uninstall_value DisplayName)|$(uninstall_value Publisher)" = "$display_name|$publisher"
check "installed program is the packed file" cmp files/program.bin "$target/Orlocast.exe"
check "installed manual is the packed file" cmp files/manual.pdf "$target/Docs/OrloCastOnTheShow.pdf"
check "installer's copy in the target folder is the signed file" cmp "$installer" "$target/OrloCastSetup.exe"
check "the copy removes the product (-h -u)" wine_run 'C:\Program Files\FM\Orlo-Cast\OrloCastSetup.exe' -h -u
check "the product's files are gone" test ! -e "$target/Orlocast.exe" -a ! -e "$target/readme.txt"

# The package alone (in another file), unsigned, in the same build tree:
# the same installer as the signed one without its signature.
cp "$scratch/signed/orlocast.pkg" given.pkg
release --out "$scratch/unsigned" --package given.pkg \
  >release2.out 2>release2.err || { cat release2.err release2.out; echo "FAILED: release.sh --package"; exit 1; }
record=$scratch/unsigned/OrloCastSetup-release.txt
check "unsigned record says so" grep -qx 'signed: no' "$record"
check "unsigned record has no time stamp and no manifest" \
  test "$(grep -c '^timestamp: none$\|^manifest:' "$record")" -eq 1
check "unsigned record's SHA-256" test "$(field sha256)" = "$(sha256sum <"$scratch/unsigned/OrloCastSetup.exe" | cut -d' ' -f1)"
osslsigncode remove-signature -in "$installer" -out stripped.exe >/dev/null
check "signing changed nothing but the signature" cmp stripped.exe "$scratch/unsigned/OrloCastSetup.exe"

# Signed without a time stamp, into the first release's folder: one warning
# line, the record says so, and no manifest of the earlier installer is left.
release --out "$scratch/signed" --package given.pkg --cert signer.crt --key signer.key >release3.out 2>release3.err ||
  { cat release3.err release3.out; echo "FAILED: release.sh without --timestamp"; exit 1; }
check "signing without --timestamp warns" test "$(grep -c '^release: warning: no --timestamp' release3.err)" -eq 1
check "... the record says timestamp: none" grep -qx 'timestamp: none' "$scratch/signed/OrloCastSetup-release.txt"
check "... and the earlier release's manifest is gone" test ! -e "$scratch/signed/winget"
# Refused, each with one line: a time stamp that does not verify, an
# authority that does not answer, addresses that are not web addresses.
refused() {  # refused ARGUMENTS...: release.sh fails with one error line and writes no record
  rm -rf "$scratch/refused"
  ! release --out "$scratch/refused" --package given.pkg "$@" >refused.out 2>&1 &&
    [ "$(grep -c '^release: error: ' refused.out)" -eq 1 ] && [ ! -e "$scratch/refused/OrloCastSetup-release.txt" ]
}
check "refused: a time stamp that does not verify against --tsa-ca" \
  refused --cert signer.crt --key signer.key --timestamp "$tsa_url" --tsa-ca other.crt
check "refused: an authority that does not answer" \
  refused --cert signer.crt --key signer.key --timestamp http://127.0.0.1:1/
check "refused: a manifest address that is not a web address" refused --manifest-url ftp://downloads.fenmarch.example/x
check "refused: --timestamp without a certificate" refused --timestamp "$tsa_url"

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
