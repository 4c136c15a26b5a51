#!/usr/bin/env bash
# The release command end to end, offline (throwaway certificates, a time-stamping authority on 127.0.0.1): signature,
# time stamp and record; the manifest, valid and gated; under Wine its switches install and its uninstall key is
# written; a second release from a copy of the sources in other folders gives the same files, naming no folder.
#   signed_release.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
source=$1
rm -rf "$2" && mkdir -p "$2" && cd "$2"
scratch=$(pwd -P)
prefix=$scratch/wine/win32
tsa_pid=""
trap '[ ! -d "$prefix" ] || WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; [ -z "$tsa_pid" ] || kill "$tsa_pid"' EXIT
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY  # nothing between us and 127.0.0.1
failures=0
check() { if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }  # DESCRIPTION COMMAND...
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
import http.server as h, subprocess
class Authority(h.BaseHTTPRequestHandler):
    def do_POST(self):
        reply = subprocess.run("openssl ts -reply -config tsa.cnf -queryfile /dev/stdin -inkey tsa.key -signer tsa.crt"
            .split(), capture_output=True, input=self.rfile.read(int(self.headers["Content-Length"]))).stdout
        self.send_response(200 if reply else 500); self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers(); self.wfile.write(reply)
server = h.HTTPServer(("127.0.0.1", 0), Authority); print(server.server_port, flush=True); server.serve_forever()
' >tsa.port 2>tsa.log &
tsa_pid=$!
for _ in $(seq 100); do [ -s tsa.port ] && break; sleep 0.1; done
tsa_url=http://127.0.0.1:$(cat tsa.port)/
mkdir files && head -c 70000 /dev/urandom >files/program.bin && head -c 3000 /dev/urandom >files/manual.pdf
printf 'Orlo-Cast release test\r\n' >files/readme.txt
url=https://downloads.fenmarch.example/orlo-cast/OrloCastSetup.exe
release() { "$source/scripts/release.sh" --build "$scratch/build" "$@"; }
sign=(--cert signer.crt --key signer.key)
release --out signed "${sign[@]}" --timestamp "$tsa_url" --tsa-ca tsa.crt --manifest-url "$url" \
  Orlocast.exe=files/program.bin readme.txt=files/readme.txt 'Docs\Show.pdf=files/manual.pdf' \
  >release.out 2>release.err || { cat release.err release.out tsa.log; echo "FAILED: release.sh"; exit 1; }
installer=$scratch/signed/OrloCastSetup.exe
# The signature and its countersignature; every line of the record, its time stamp of this run.
check "signature and its time stamp by the local authority verify" sh -c 'osslsigncode verify -in "$0" \
  -CAfile signer.crt -TSA-CAfile tsa.crt >verify.out 2>&1 && grep -q "CN *= *Orlo Release Test tsa" verify.out' "$installer"
entry() { echo "entry $1: md5 $(md5sum <"files/$2" | cut -d' ' -f1)  size $(stat -c %s "files/$2")  $3"; }
check "record: the installer, its package, signer, authority and manifest" diff <(grep -v ^timestamp: signed/*.txt) \
  <(printf '%s\n' 'installer: OrloCastSetup.exe' "sha256: $(sha256sum <"$installer" | cut -d' ' -f1)" \
    "size: $(stat -c %s "$installer")" "$(entry 0 program.bin Orlocast.exe)" "$(entry 1 readme.txt readme.txt)" \
    "$(entry 2 manual.pdf 'Docs\Show.pdf')" 'signed: yes' 'signer: CN = Orlo Release Test signer, O = Fenmarch Test' \
    'timestamp authority: CN = Orlo Release Test tsa, O = Fenmarch Test' \
    manifest:\ winget/Fenmarch.OrloCast{,.locale.en-US,.installer}.yaml)
stamped=$(date -u -d "$(sed -n 's/^timestamp: //p' signed/*.txt)" +%s 2>/dev/null || echo 0)
check "record: the time stamp is of this run" test $((stamped + 5)) -ge "$(stat -c %Y tsa.port)" \
  -a "$stamped" -le "$(date -u +%s)"
# The manifest: valid and of this installer (digest, address, version; the validator refuses a required field left out
# and a return code as text); its switches, product code, display name and publisher, as a package manager reads them.
version=$(sed -nE 's/^PRODUCTVERSION ([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+)/\1.\2.\3.\4/p' "$source/resources/installer.rc.in")
validate() { /usr/bin/python3 "$source/scripts/check-manifest.py" "$1" "$installer" "$url" "$version"; }
check "manifest validates: schema, $url, version $version, SHA-256" validate signed/winget
refuses() {  # refuses SED_SCRIPT MESSAGE: the validator refuses the manifest so edited, saying MESSAGE
  rm -rf broken && cp -r signed/winget broken && sed -i "$1" broken/*.yaml && ! validate broken >broken.out 2>&1 &&
    grep -qF "$2" broken.out
}
check "validator refuses a missing PackageLocale" refuses '/^PackageLocale:/d' "'PackageLocale' is a required property"
check "validator refuses a return code as text" refuses "s/^- InstallerReturnCode: -1$/- InstallerReturnCode: '-1'/" \
  "'-1' is not of type 'integer'"
mapfile -t found < <(/usr/bin/python3 -c 'import sys, yaml; m = yaml.safe_load(open(sys.argv[1])); e = m["AppsAndFeaturesEntries"][0]
print(m["InstallerSwitches"]["Silent"], m["ProductCode"], e["DisplayName"], e["Publisher"], sep="\n")' \
  signed/winget/Fenmarch.OrloCast.installer.yaml)
# Under Wine, in a prefix of the scratch folder (a run that waits for a click is ended).
# shellcheck disable=SC2086 # the switches are words
check "installs with the manifest's silent switches (${found[0]})" \
  env ORLO_WINE_ARCH=win32 timeout 300 "$source/scripts/wine-run.sh" "$scratch/wine" "$installer" ${found[0]}
key=$(WINEPREFIX="$prefix" WINEDEBUG=-all wine reg query \
  "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${found[1]}" 2>/dev/null | tr -d '\r' || true)
value() { sed -n "s/^ *$1 *REG_SZ *//p" <<<"$key"; }
check "uninstall key '${found[1]}' holds the manifest's display name and publisher" \
  test "$(value DisplayName)|$(value Publisher)" = "${found[2]}|${found[3]}"
check "installed program is the packed file" cmp files/program.bin "$prefix/drive_c/Program Files/FM/Orlo-Cast/Orlocast.exe"
# A second release of the same package from a copy of the sources (no build trees, no history) into another build
# folder, signed without a time stamp into the same folder: one warning, "timestamp: none", no manifest left; without
# its signature, the installer of the first build, and the same product program, naming no folder of either build.
mkdir copy-with-a-longer-name && cp signed/orlocast.pkg given.pkg
tar -C "$source" --exclude='./build*' --exclude=./.git -cf - . | tar -C copy-with-a-longer-name -xf -
copy-with-a-longer-name/scripts/release.sh --build "$scratch/build-copy" --out signed --package given.pkg "${sign[@]}" \
  >release2.out 2>release2.err || cat release2.err
check "no --timestamp: one warning, 'timestamp: none', the earlier manifest gone" test \
  "$(grep -c '^release: warning: no --timestamp' release2.err) $(grep ^timestamp: signed/*.txt) $(cd signed && echo *)" = \
  "1 timestamp: none OrloCastSetup-release.txt OrloCastSetup.exe"
osslsigncode remove-signature -in signed/OrloCastSetup.exe -out stripped.exe >/dev/null
for tree in build build-copy; do cmake --build $tree/windows --target orlocast_product >/dev/null; done
printf '%s\n' "$scratch" "$source" | awk 'length >= 8' >folders.txt  # (shorter could be chance bytes)
for file in app/OrloCastSetup.exe product/Orlocast.exe; do
  check "the same $file from both builds" cmp build{,-copy}/windows/$file
  check "... naming no folder of either build" test -z "$(grep -laFf folders.txt build{,-copy}/windows/$file)"
done
check "signing changed nothing but the signature" cmp stripped.exe build/windows/app/OrloCastSetup.exe
# Refused with one error line naming the cause, and no record; the gate stops a manifest whose digest is not the
# installer's (sha256sum lies).
refused() {  # refused CAUSE ARGUMENTS...
  rm -rf refused
  ! release --out refused --package given.pkg "${@:2}" >refused.out 2>&1 && [ ! -e refused/OrloCastSetup-release.txt ] &&
    [ "$(grep -c '^release: error: ' refused.out)" -eq 1 ] && grep -q "^release: error: .*$1" refused.out
}
mkdir liar && printf '#!/bin/sh\necho %064d\n' 0 >liar/sha256sum && chmod +x liar/sha256sum
check "refused: a time stamp not from --tsa-ca" refused verif "${sign[@]}" --timestamp "$tsa_url" --tsa-ca signer.crt
check "refused: no authority answering" refused time.stamp "${sign[@]}" --timestamp http://127.0.0.1:1/
check "refused: an ftp:// manifest address" refused https:// --manifest-url ftp://downloads.fenmarch.example/x
check "refused: --timestamp without --cert" refused only.go.with.--cert --timestamp "$tsa_url"
PATH=$scratch/liar:$PATH check "refused: a manifest with a false SHA-256" refused 'manifest.*SHA-256' --manifest-url "$url"
[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
