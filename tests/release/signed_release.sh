#!/usr/bin/env bash
# The release command end to end, offline (throwaway certificates, a time-stamping authority on 127.0.0.1 and one that
# never answers): signature, time stamp, version and record; the manifest, valid and gated; under Wine its switches
# install and its uninstall key is written; a second release from a copy of the sources in other folders gives the
# same files, naming no folder; a package replaced by one with an older time is the one shipped; every refusal is one
# line and leaves the output folder as it was.
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
certificate server critical,digitalSignature serverAuth
# The authority: OpenSSL's "ts -reply" behind an HTTP handler on a free port of 127.0.0.1; on a second port, one that
# takes each connection (noted in silent.log) and never answers.
printf '[tsa]\ndefault_tsa = t\n[t]\nserial = tsa.serial\nsigner_digest = sha256\ndigests = sha256, sha1\n%s\n' \
  'default_policy = 1.2.3.4.1' >tsa.cnf
/usr/bin/python3 -c '
import http.server as h, socket, subprocess, threading
class Authority(h.BaseHTTPRequestHandler):
    def do_POST(self):
        reply = subprocess.run("openssl ts -reply -config tsa.cnf -queryfile /dev/stdin -inkey tsa.key -signer tsa.crt"
            .split(), capture_output=True, input=self.rfile.read(int(self.headers["Content-Length"]))).stdout
        self.send_response(200 if reply else 500); self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers(); self.wfile.write(reply)
def hold(silent, held=[]):
    while True: held.append(silent.accept()); open("silent.log", "a").write("connection\n")
silent = socket.create_server(("127.0.0.1", 0)); threading.Thread(target=hold, args=(silent,), daemon=True).start()
server = h.HTTPServer(("127.0.0.1", 0), Authority); print(server.server_port, silent.getsockname()[1], flush=True)
server.serve_forever()
' >tsa.port 2>tsa.log &
tsa_pid=$!
for _ in $(seq 100); do [ -s tsa.port ] && break; sleep 0.1; done
read -r tsa_port silent_port <tsa.port
tsa_url=http://127.0.0.1:$tsa_port/ silent_url=http://127.0.0.1:$silent_port/
mkdir files && head -c 70000 /dev/urandom >files/program.bin && head -c 3000 /dev/urandom >-manual.pdf
printf 'Orlo-Cast release test\r\n' >files/readme.txt
url=https://downloads.fenmarch.example/orlo-cast/OrloCastSetup.exe
release() { "$source/scripts/release.sh" --build "$scratch/build" "$@"; }
sign=(--cert signer.crt --key signer.key)
version=2.3.4.5
release --out signed --version $version "${sign[@]}" --timestamp "$tsa_url" --tsa-ca tsa.crt --manifest-url "$url" \
  Orlocast.exe=files/program.bin readme.txt=files/readme.txt 'Docs\Show.pdf=-manual.pdf' \
  >release.out 2>release.err || { cat release.err release.out tsa.log; echo "FAILED: release.sh"; exit 1; }
cp -a signed first  # (as a finished release, the output folder of every refusal below)
installer=$scratch/signed/OrloCastSetup.exe
# The signature and its countersignature; every line of the record, its time stamp of this run.
check "signature and its time stamp by the local authority verify" sh -c 'osslsigncode verify -in "$0" \
  -CAfile signer.crt -TSA-CAfile tsa.crt >verify.out 2>&1 && grep -q "CN *= *Orlo Release Test tsa" verify.out' "$installer"
entry() { echo "entry $1: md5 $(md5sum <"$2" | cut -d' ' -f1)  size $(stat -c %s "$2")  $3"; }  # INDEX FILE NAME
check "record: the installer, its version and package, signer, authority and manifest" diff \
  <(grep -v ^timestamp: signed/*.txt) <(printf '%s\n' 'installer: OrloCastSetup.exe' "version: $version" \
    "sha256: $(sha256sum <"$installer" | cut -d' ' -f1)" "size: $(stat -c %s "$installer")" \
    "$(entry 0 files/program.bin Orlocast.exe)" "$(entry 1 files/readme.txt readme.txt)" \
    "$(entry 2 ./-manual.pdf 'Docs\Show.pdf')" 'signed: yes' 'signer: CN = Orlo Release Test signer, O = Fenmarch Test' \
    'timestamp authority: CN = Orlo Release Test tsa, O = Fenmarch Test' \
    manifest:\ winget/Fenmarch.OrloCast{,.locale.en-US,.installer}.yaml)
stamped=$(date -u -d "$(sed -n 's/^timestamp: //p' signed/*.txt)" +%s 2>/dev/null || echo 0)
check "record: the time stamp is of this run" test $((stamped + 5)) -ge "$(stat -c %Y tsa.port)" \
  -a "$stamped" -le "$(date -u +%s)"
pack=$scratch/build/tools/orlo-pack
# The title's version text is the only ASCII copy of the version (the version block's strings are UTF-16).
found=$("$pack" inspect "$installer" | grep -c "^version: file $version, product $version,\|Version = \"${version//./, }\"")
check "version $version: the version block's fixed and string parts, the window title's text" test \
  "$found $(grep -caF "$version" "$installer") $(grep -caF 1.0.0.1 "$installer")" = "3 1 0"
# The README's orlo-pack lines, run as written where build/ is this build tree and dist/ holds the product's files.
mkdir -p readme/dist && ln -s ../build readme/build && cp files/readme.txt readme/dist/
cp files/program.bin readme/dist/OrloCast.exe && cp ./-manual.pdf readme/dist/OrloCastOnTheShow.pdf
awk '/^build\/tools\/orlo-pack /{c=1} c{print; c=/\\$/}' "$source/README.md" >readme/orlo-pack.sh
check "the README's orlo-pack lines ($(grep -c ^build readme/orlo-pack.sh)) as written" sh -c \
  'cd readme && bash -e orlo-pack.sh >out.txt 2>&1 && cmp copy.pkg ../signed/orlocast.pkg && cmp out/readme.txt dist/readme.txt'
# The manifest: valid and of this installer (digest, address, version; the validator refuses a required field left out
# and a return code as text); its switches, product code, display name and publisher, as a package manager reads them.
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
# folder, signed without a time stamp into the same folder with the README's throwaway certificate, made as it says:
# one warning, "timestamp: none", no manifest left; without its signature, the installer of the first build, and the
# same product program, naming no folder of either build.
mkdir copy-with-a-longer-name && cp signed/orlocast.pkg given.pkg
tar -C "$source" --exclude='./build*' --exclude=./.git -cf - . | tar -C copy-with-a-longer-name -xf -
awk '/^openssl req /{c=1} c{print; c=/\\$/}' "$source/README.md" >readme-certificate.sh && bash readme-certificate.sh 2>/dev/null
copy-with-a-longer-name/scripts/release.sh --build "$scratch/build-copy" --out signed --package given.pkg \
  --cert try.crt --key try.key --version $version >release2.out 2>release2.err || cat release2.err
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
# A package replaced by another that kept an older time (cp -p) is the one shipped, byte for byte; the record names its
# entries byte for byte whatever the locale (here a code page 1252 name that is not UTF-8, under a UTF-8 locale).
"$pack" build -o other.pkg OrloCast.exe=files/readme.txt README.TXT=files/program.bin $'Caf\xe9.pdf=-manual.pdf' >/dev/null
"$pack" build -o wrong.pkg Orlo.exe=files/readme.txt readme.txt=files/program.bin x=-manual.pdf >/dev/null 2>&1
touch -d 2001-01-01 other.pkg && cp given.pkg replaced.pkg && release --out unsigned --package replaced.pkg >/dev/null 2>&1 || true
cp -p other.pkg replaced.pkg && LC_ALL=C.UTF-8 release --out unsigned --package replaced.pkg >/dev/null 2>&1 || true
shipped() { "$pack" package -o shipped.pkg unsigned/OrloCastSetup.exe >/dev/null && cmp shipped.pkg other.pkg &&
  cmp <(grep -a ^entry unsigned/*.txt) <(entry 0 files/readme.txt OrloCast.exe; entry 1 files/program.bin README.TXT
                                      entry 2 ./-manual.pdf $'Caf\xe9.pdf'); }
check "a replacement with an older time is shipped, and recorded byte for byte" shipped
# Refused with one error line naming the cause (bytes outside printable ASCII escaped; before the build, nothing else
# printed), the output folder left exactly as it was, a finished release or absent, and no staging folder left.
snapshot() { [ -e "$1" ] && (cd "$1" && find . -printf '%p %y %l\n' | sort && find . -type f -exec sha256sum {} + | sort); }
refused() {  # refused early|late CAUSE ARGUMENTS...; $prepare, if set, runs first in the scratch folder
  rm -rf refused && cp -a first refused && ${prepare:-:} && local before && before=$(snapshot refused || echo absent)
  if release --out refused "${@:3}" >refused.out 2>&1 || [ "$(snapshot refused || echo absent)" != "$before" ] ||
    [ -n "$(find . -maxdepth 1 -name '.OrloCastSetup-release.*')" ] || [ "$(grep -c '^release: error: ' refused.out)" != 1 ] ||
    ! grep -q "^release: error: .*$2" refused.out || { [ "$1" = early ] && [ "$(wc -l <refused.out)" != 1 ]; } ||
    LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f]\|\xc2[\x80-\x9f]' refused.out; then cat refused.out; return 1; fi
}
mkdir liar && printf '#!/bin/sh\necho %064d\n' 0 >liar/sha256sum && chmod +x liar/sha256sum
linked() { mkdir -p repository && cp first/winget/* repository/ && rm -r refused/winget && ln -s ../repository refused/winget; }
g=(--package given.pkg)
check "refused: an unknown option" refused early "unknown option '--sign' (" --sign x "${g[@]}"
check "refused: an option without its value" refused early '--cert needs a value' "${g[@]}" --cert
check "refused: --timestamp without --cert" refused early only.go.with.--cert "${g[@]}" --timestamp "$tsa_url"
check "refused: an ftp:// manifest address" refused early https:// "${g[@]}" --manifest-url ftp://fenmarch.example/x
check "refused: an address with 0x01" refused early 'x\\x01y' "${g[@]}" --manifest-url $'https://fenmarch.example/x\x01y'
check "refused: an address with U+0085" refused early '/\\xc2\\x85' "${g[@]}" --manifest-url $'https://a.example/\xc2\x85'
check "refused: an address with a line break" refused early '/\\x0a' "${sign[@]}" "${g[@]}" --timestamp $'http://a/\n'
check "refused: a name with a line break" refused early "'read\\\\x0ame.txt'" $'read\nme.txt=-manual.pdf' a=-manual.pdf
check "refused: version 1.2.3.65536" refused early 'not .1\.2\.3\.65536' "${g[@]}" --version 1.2.3.65536
check "refused: --package given the installer in the output folder" refused early 'is an installer, not a package' \
  --package refused/OrloCastSetup.exe
prepare=linked check "refused: winget/ a link (nothing deleted where it points)" refused early 'winget is a symbolic link' \
  "${g[@]}" && check "... the manifests where it points kept" diff -r first/winget repository
check "refused: a time stamp not from --tsa-ca" refused late verif "${sign[@]}" "${g[@]}" --timestamp "$tsa_url" \
  --tsa-ca signer.crt
prepare='rm -r refused' check "refused: no authority answering" refused late time.stamp "${sign[@]}" "${g[@]}" \
  --timestamp http://127.0.0.1:1/
check "refused: an authority that never answers, after --timestamp-wait 3 s" refused late 'more than 3 s: .* did not answer' \
  "${sign[@]}" "${g[@]}" --timestamp "$silent_url" --timestamp-wait 3
check "refused: a certificate without code-signing usage" refused late 'signature does not verify' \
  --cert server.crt --key server.key "${g[@]}"
check "refused: a package without OrloCast.exe" refused late 'no entry named OrloCast.exe (' --package wrong.pkg
PATH=$scratch/liar:$PATH check "refused: a manifest with a false SHA-256" refused late 'manifest.*SHA-256' "${g[@]}" \
  --manifest-url "$url"
# Stopped (SIGTERM) while signing waits for an authority that never answers: the same.
rm -rf refused && cp -a first refused && : >silent.log
"$source/scripts/release.sh" --build "$scratch/build" --out refused "${sign[@]}" "${g[@]}" --timestamp "$silent_url" \
  >killed.out 2>&1 &
for _ in $(seq 600); do [ -s silent.log ] && break; sleep 0.1; done
kill $! 2>/dev/null || true
wait $! || true
check "stopped while waiting for the authority: the output folder as it was, no staging folder left" test \
  "$(snapshot refused) $(find . -maxdepth 1 -name '.OrloCastSetup-release.*')" = "$(snapshot first) "
check "--help prints its whole text" test "$("$source/scripts/release.sh" --help | tail -1)" = \
  "$(sed -n '/^set /{x;p;q};h' "$source/scripts/release.sh" | sed 's/^# //')"
[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
