#!/usr/bin/env bash
# The release command end to end, offline: throwaway certificates and a
# time-stamping authority on 127.0.0.1. The time-stamped signature and its
# record; the manifest (it validates, its gate refuses a false digest, the
# validator refuses a broken one); under Wine the installer installs with the
# manifest's switches and writes the uninstall key it names; no time stamp
# warns; failures are refused in one line.
#   signed_release.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
source=$1
rm -rf "$2" && mkdir -p "$2" && cd "$2"
scratch=$(pwd -P)
root=$scratch/wine
prefix=$root/win32
tsa_pid=""
trap '[ ! -d "$prefix" ] || WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; [ -z "$tsa_pid" ] || kill "$tsa_pid"' EXIT
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY  # nothing between us and 127.0.0.1

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
into() { local file=$1; shift; "$@" >"$file" 2>&1; }  # into FILE COMMAND...: its output kept aside

certificate() {  # certificate NAME KEY_USAGE EXTENDED_KEY_USAGE: a throwaway one
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$1.key" -out "$1.crt" \
    -subj "/CN=Orlo Release Test $1/O=Fenmarch Test" -addext "keyUsage=$2" -addext "extendedKeyUsage=$3" 2>/dev/null
}
certificate signer critical,digitalSignature,keyCertSign codeSigning
certificate tsa critical,digitalSignature critical,timeStamping
# The authority: OpenSSL's "ts -reply" behind an HTTP handler on a free port of 127.0.0.1.
printf '[tsa]\ndefault_tsa = t\n[t]\nserial = tsa.serial\nsigner_digest = sha256\ndigests = sha256, sha1\n%s\n' \
  'default_policy = 1.2.3.4.1' >tsa.cnf
/usr/bin/python3 -c '
import http.server, subprocess
class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "/dev/stdin",
                                "-inkey", "tsa.key", "-signer", "tsa.crt"], capture_output=True,
                               input=self.rfile.read(int(self.headers["Content-Length"]))).stdout
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

mkdir files
head -c 70000 /dev/urandom >files/program.bin
printf 'Orlo-Cast release test\r\n' >files/readme.txt
head -c 3000 /dev/urandom >files/manual.pdf
url=https://downloads.fenmarch.example/orlo-cast/OrloCastSetup.exe
release() { "$source/scripts/release.sh" --build "$scratch/build" "$@"; }
release --out signed --cert signer.crt --key signer.key --timestamp "$tsa_url" --tsa-ca tsa.crt --manifest-url "$url" \
  Orlocast.exe=files/program.bin readme.txt=files/readme.txt 'Docs\Show.pdf=files/manual.pdf' \
  >release.out 2>release.err || { cat release.err release.out tsa.log; echo "FAILED: release.sh"; exit 1; }
installer=$scratch/signed/OrloCastSetup.exe
record=$scratch/signed/OrloCastSetup-release.txt
cat "$record"

# The signature, its countersignature and the record.
check "signature and its time stamp verify (signer's and authority's certificates)" \
  into verify.out osslsigncode verify -in "$installer" -CAfile signer.crt -TSA-CAfile tsa.crt
check "... countersigned by the local authority" grep -q 'CN *= *Orlo Release Test tsa' verify.out
field() { sed -n "s/^$1: //p" "$record"; }
check "record: the installer's SHA-256" test "$(field sha256)" = "$(sha256sum <"$installer" | cut -d' ' -f1)"
check "record: the authority" test "$(field 'timestamp authority')" = 'CN = Orlo Release Test tsa, O = Fenmarch Test'
stamped=$(date -u -d "$(field timestamp)" +%s 2>/dev/null || echo 0)
check "record: the time stamp is of this run" test $((stamped + 5)) -ge "$(stat -c %Y tsa.port)" \
  -a "$stamped" -le "$(date -u +%s)"
check "record: the three manifest files" test "$(field manifest | tr '\n' ' ')" = \
  'winget/Fenmarch.OrloCast.yaml winget/Fenmarch.OrloCast.locale.en-US.yaml winget/Fenmarch.OrloCast.installer.yaml '
osslsigncode remove-signature -in "$installer" -out stripped.exe >/dev/null
check "signing changed nothing but the signature" cmp stripped.exe "$scratch/build/windows/app/OrloCastSetup.exe"

# The manifest: valid and of this installer (its digest, address, version); the validator refuses a
# required field left out and a return code written as text.
version=$(sed -n 's/^PRODUCTVERSION \([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\)/\1.\2.\3.\4/p' \
  "$source/resources/installer.rc.in")
validate() { /usr/bin/python3 "$source/scripts/check-manifest.py" "$1" "$installer" "$url" "$version"; }
check "manifest validates: schema, $url, version $version, SHA-256" into manifest.out validate signed/winget
refuses() {  # refuses SED_SCRIPT MESSAGE: the validator refuses the manifest so edited, saying MESSAGE
  rm -rf broken && cp -r signed/winget broken && sed -i "$1" broken/*.yaml &&
    ! validate broken >broken.out 2>&1 && grep -qF "$2" broken.out
}
check "validator refuses a missing PackageLocale" refuses '/^PackageLocale:/d' "'PackageLocale' is a required property"
check "validator refuses a return code as text" refuses "s/^- InstallerReturnCode: -1$/- InstallerReturnCode: '-1'/" \
  "'-1' is not of type 'integer'"
# Its silent switches, product code, display name and publisher, as a package manager reads them.
mapfile -t found < <(/usr/bin/python3 -c 'import sys, yaml; m = yaml.safe_load(open(sys.argv[1])); e = m["AppsAndFeaturesEntries"][0]
print(m["InstallerSwitches"]["Silent"], m["ProductCode"], e["DisplayName"], e["Publisher"], sep="\n")' \
  signed/winget/Fenmarch.OrloCast.installer.yaml)
[ ${#found[@]} -eq 4 ] || found=(none - - -)
silent=${found[0]} product_code=${found[1]}

# Under Wine, in a prefix of the scratch folder (a run that waits for a click is ended).
export ORLO_WINE_ARCH=win32
target=$prefix/drive_c/Program\ Files/FM/Orlo-Cast
wine_run() { timeout 300 "$source/scripts/wine-run.sh" "$root" "$@" 2> >(grep -v '^X connection' >&2); }
# shellcheck disable=SC2086 # the switches are words
check "installs with the manifest's silent switches ($silent)" wine_run "$installer" $silent
uninstall_value() {
  WINEPREFIX="$prefix" WINEDEBUG=-all wine reg query \
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code" /v "$1" 2>/dev/null |
    tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p"
}
check "uninstall key '$product_code' holds the manifest's display name and publisher" \
  test "$(uninstall_value DisplayName)|$(uninstall_value Publisher)" = "${found[2]}|${found[3]}"
check "installed program is the packed file" cmp files/program.bin "$target/Orlocast.exe"
check "its copy removes the product (-h -u)" wine_run 'C:\Program Files\FM\Orlo-Cast\OrloCastSetup.exe' -h -u
check "... the program is gone" test ! -e "$target/Orlocast.exe"

# Signed without a time stamp, into the same folder: one warning, "timestamp: none", no manifest left.
cp signed/orlocast.pkg given.pkg
release --out signed --package given.pkg --cert signer.crt --key signer.key >release2.out 2>release2.err ||
  { cat release2.err release2.out; echo "FAILED: release.sh without --timestamp"; exit 1; }
check "no --timestamp: one warning, 'timestamp: none', the earlier manifest gone" test \
  "$(grep -c '^release: warning: no --timestamp' release2.err) $(field timestamp) $(cd signed && echo *)" = \
  "1 none OrloCastSetup-release.txt OrloCastSetup.exe"

# Refused with one error line naming the cause, and no record.
refused() {  # refused CAUSE ARGUMENTS...
  local cause=$1
  shift
  rm -rf refused
  ! release --out refused --package given.pkg "$@" >refused.out 2>&1 && [ ! -e refused/OrloCastSetup-release.txt ] &&
    [ "$(grep -c '^release: error: ' refused.out)" -eq 1 ] && grep -q "^release: error: .*$cause" refused.out
}
mkdir liar && printf '#!/bin/sh\necho %s\n' 0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef \
  >liar/sha256sum && chmod +x liar/sha256sum
while read -r cause args; do
  # shellcheck disable=SC2086 # no blanks in the arguments
  check "refused: $args" refused "$cause" $args
done <<EOF
verif --cert signer.crt --key signer.key --timestamp $tsa_url --tsa-ca signer.crt
time.stamp --cert signer.crt --key signer.key --timestamp http://127.0.0.1:1/
https:// --manifest-url ftp://downloads.fenmarch.example/x
only.go.with.--cert --timestamp $tsa_url
EOF
# The gate: a manifest whose digest is not the installer's (sha256sum lies) stops the release.
PATH=$scratch/liar:$PATH check "refused: a manifest with a false SHA-256" refused 'manifest.*SHA-256' --manifest-url "$url"

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
