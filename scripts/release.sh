#!/usr/bin/env bash
# Builds a release of OrloCastSetup.exe around the maker's product files,
# optionally signs it (Authenticode, with osslsigncode) with a time stamp,
# verifies it and writes a release record beside it, and optionally the
# Windows package manager's manifests for it.
#
#   scripts/release.sh [options] NAME=PATH NAME=PATH NAME=PATH
#   scripts/release.sh [options] --package FILE
#
# Options:
#   --version A.B.C.D the release's version, four numbers of 0 to 65535
#                     (default 1.0.0.1): the version block, the window title,
#                     the manifest and the record carry it
#   --build DIR       build tree (default: build-release in the source folder)
#   --out OUT         where the release goes (default: release/ in the build tree)
#   --cert FILE       code-signing certificate (PEM or DER); signs the installer
#   --key FILE        its private key (PEM or DER)
#   --pass-file FILE  the key's passphrase, if it has one
#   --ca FILE         certificates that verification trusts (default: the --cert file)
#   --timestamp URL   RFC 3161 time-stamping authority that countersigns the signature
#   --timestamp-wait SECONDS  how long signing waits for the authority (default 60)
#   --tsa-ca FILE     certificates the time stamp is checked against
#                     (default: the system's, /etc/ssl/certs/ca-certificates.crt)
#   --manifest-url URL  where the installer will be downloadable from: also writes
#                     the package manager's manifest (winget/ beside the installer),
#                     checked by scripts/check-manifest.py before the record is written
#   -h, --help        this text
#
# The three NAME=PATH files are packed with orlo-pack in package order (the
# program, the readme, the manual). The installer points at OrloCast.exe and
# readme.txt (names compare without case): a package without them is
# refused. Everything is built and checked in a staging folder beside OUT;
# only a release that passed every check is moved into OUT, its record
# last, so a failed one leaves OUT as it was. Without --timestamp the
# signature stops verifying when the certificate expires: the command warns.
# Exit codes: 0 released; 1 refused, or a check failed (one line,
# "release: error: ..."); 2 bad usage (one such line too).
set -euo pipefail
# Byte for byte, whatever the caller's locale: entry names in an ANSI code
# page that are not UTF-8 are text like any other.
export LC_ALL=C
here=$(cd "$(dirname "$0")/.." && pwd)

usage() { sed -n '2,/^set /s/^# \{0,1\}//p' "$0"; exit 0; }
fail() { echo "release: error: $*" >&2; exit 1; }
usage_error() { echo "release: error: $* (scripts/release.sh --help lists the options)" >&2; exit 2; }
# Text from the command line as a message shows it: a byte outside
# printable ASCII as \xNN, so that the message stays on its one line.
shown() {
  local text=$1 out="" c i
  for ((i = 0; i < ${#text}; i++)); do
    c=${text:i:1}
    [[ $c == [\ -~] ]] || printf -v c '\\x%02x' "'$c"
    out+=$c
  done
  printf '%s' "$out"
}
absolute() {  # absolute FILE: its full path, or a refusal
  [ -e "$1" ] || fail "$(shown "$1"): no such file"
  [ -f "$1" ] || fail "$(shown "$1"): not a file"
  realpath -- "$1"
}
value() { [ $# -ge 2 ] && [ -n "$2" ] || usage_error "$(shown "$1") needs a value"; }

version=1.0.0.1
build=$here/build-release
out=""
package=""
cert=""
key=""
pass_file=""
ca=""
timestamp=""
tsa_wait=60
tsa_ca=""
manifest_url=""
files=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage ;;
    --version|--build|--out|--package|--cert|--key|--pass-file|--ca|--timestamp|--timestamp-wait|--tsa-ca|--manifest-url)
      value "$@" ;;&
    --version) version=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --package) package=$(absolute "$2"); shift 2 ;;
    --cert) cert=$(absolute "$2"); shift 2 ;;
    --key) key=$(absolute "$2"); shift 2 ;;
    --pass-file) pass_file=$(absolute "$2"); shift 2 ;;
    --ca) ca=$(absolute "$2"); shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    --timestamp-wait) tsa_wait=$2; shift 2 ;;
    --tsa-ca) tsa_ca=$(absolute "$2"); shift 2 ;;
    --manifest-url) manifest_url=$2; shift 2 ;;
    -*) usage_error "unknown option '$(shown "$1")'" ;;
    *=*)
      name=${1%%=*}
      # The installer could not write such a name, and it would not print on one line.
      [[ $name != *[[:cntrl:]]* ]] || fail "the entry name '$(shown "$name")' holds a control character"
      files+=("$name=$(absolute "${1#*=}")"); shift ;;
    *) usage_error "unknown argument '$(shown "$1")'" ;;
  esac
done
if [ -n "$package" ]; then
  [ ${#files[@]} -eq 0 ] || fail "give either --package or three NAME=PATH files, not both"
  [ "$(head -c 2 -- "$package")" != MZ ] ||
    fail "$(shown "$package") is an installer, not a package (orlo-pack package -o FILE INSTALLER takes its package out)"
else
  [ ${#files[@]} -eq 3 ] || fail "give --package FILE or exactly three NAME=PATH files (got ${#files[@]})"
fi
number='(0|[1-9][0-9]{0,4})'
[[ $version =~ ^$number\.$number\.$number\.$number$ ]] &&
  [ "${BASH_REMATCH[1]}" -le 65535 ] && [ "${BASH_REMATCH[2]}" -le 65535 ] &&
  [ "${BASH_REMATCH[3]}" -le 65535 ] && [ "${BASH_REMATCH[4]}" -le 65535 ] ||
  fail "--version needs four numbers A.B.C.D, each 0 to 65535 without leading zeros, not '$(shown "$version")'"
if { [ -n "$cert" ] && [ -z "$key" ]; } || { [ -z "$cert" ] && [ -n "$key" ]; }; then
  fail "signing needs both --cert and --key"
fi
[ -n "$cert" ] || [ -z "$pass_file$ca$timestamp" ] ||
  fail "--pass-file, --ca and --timestamp only go with --cert and --key"
[ -n "$timestamp" ] || [ -z "$tsa_ca" ] || fail "--tsa-ca only goes with --timestamp"
[[ $tsa_wait =~ ^[1-9][0-9]{0,3}$ ]] || fail "--timestamp-wait needs 1 to 9999 seconds, not '$(shown "$tsa_wait")'"
[ -n "$ca" ] || ca=$cert
[ -n "$tsa_ca" ] || tsa_ca=/etc/ssl/certs/ca-certificates.crt
# Printable ASCII only (anything else percent-encoded): a control character
# or a line break in another script's encoding would change what the
# manifest's reader sees.
web_address() { [[ $1 =~ ^[Hh][Tt][Tt][Pp][Ss]?://[!-~]+$ ]] && [ ${#1} -le 2048 ]; }
[ -z "$timestamp" ] || web_address "$timestamp" ||
  fail "--timestamp needs an http:// or https:// address of printable ASCII without blanks, not '$(shown "$timestamp")'"
[ -z "$manifest_url" ] || web_address "$manifest_url" ||
  fail "--manifest-url needs an http:// or https:// address of printable ASCII without blanks, not '$(shown "$manifest_url")'"

build=$(realpath -m -- "$build")
out=$(realpath -m -- "${out:-$build/release}")
manifests=$out/winget
# What the release replaces in OUT must be files (or links, which are
# replaced, never followed); winget/ a real folder: its old manifests are
# deleted, and never through a link.
check_out() {
  [ ! -e "$out" ] || [ -d "$out" ] || fail "--out $(shown "$out") is not a folder"
  [ ! -L "$manifests" ] || fail "$(shown "$manifests") is a symbolic link: the release never deletes or writes" \
    "through one (remove the link, and copy the manifests where it pointed after the release)"
  [ ! -e "$manifests" ] || [ -d "$manifests" ] || fail "$(shown "$manifests") is not a folder"
  local name
  for name in OrloCastSetup.exe OrloCastSetup-release.txt orlocast.pkg; do
    [ -L "$out/$name" ] || [ ! -d "$out/$name" ] || fail "$(shown "$out/$name") is a folder"
  done
}
check_out

"$here/scripts/bootstrap.sh" >&2
logs=$build/release-logs
mkdir -p -- "$build" "$logs" "$build/release-input" "$(dirname "$out")"
# The staging folder, beside OUT (on its file system, so that the finished
# files are renamed into place); removed whatever happens.
stage=$(mktemp -d "$(dirname "$out")/.OrloCastSetup-release.XXXXXX") ||
  fail "cannot create a staging folder in $(shown "$(dirname "$out")")"
child=""
trap 'rm -rf -- "$stage"' EXIT
trap '[ -z "$child" ] || kill "$child" 2>/dev/null; exit 143' TERM
trap '[ -z "$child" ] || kill "$child" 2>/dev/null; exit 130' INT
trap '[ -z "$child" ] || kill "$child" 2>/dev/null; exit 129' HUP
bounded() {  # bounded SECONDS COMMAND...: exit 124 when it took longer; a signal to this script ends it at once
  timeout --foreground "$1" "${@:2}" &
  child=$!
  local status=0
  wait "$child" || status=$?
  child=""
  return $status
}

# The package, copied as it is now (the build embeds this copy, compared by
# content), or packed from the three files; its names checked before the
# installer is built around it.
input=$build/release-input/orlocast.pkg
echo "== configuring $build" >&2
cmake -S "$here" --preset release -B "$build" -DORLO_PACKAGE="$input" -DORLO_VERSION="$version" \
  >"$logs/configure.log" 2>&1 || fail "configuring $build failed (see $logs/configure.log)"
cmake --build "$build" -j2 --target orlo-pack >"$logs/build.log" 2>&1 || fail "building orlo-pack failed (see $logs/build.log)"
pack=$build/tools/orlo-pack
if [ -n "$package" ]; then
  cp -- "$package" "$input"
else
  "$pack" build -o "$input" "${files[@]}" >"$logs/pack.log" 2>&1 ||
    fail "cannot pack the files: $(sed -n 's/^orlo-pack: error: //p' "$logs/pack.log" | head -1)"
  cp -- "$input" "$stage/orlocast.pkg"
fi
given=${package:-the package}
"$pack" verify "$input" >"$logs/verify.log" 2>&1 || fail "$(shown "$given") does not verify (see $logs/verify.log)"
names=$("$pack" inspect "$input" | sed -n 's/^entry [0-2]: \(.*[^ ]\) *offset  *[0-9]*  *size .*/\1/p')
missing=""
for wanted in OrloCast.exe readme.txt; do
  grep -qixF -- "$wanted" <<<"$names" || missing+="${missing:+ or }$wanted"
done
[ -z "$missing" ] || fail "$(shown "$given") has no entry named $missing (names compare without case): the" \
  "installer's shortcuts and its check for an installed product point at OrloCast.exe and readme.txt"

echo "== building the installer $version around $(shown "$given")" >&2
{ cmake --build "$build" -j2 --target windows-configure && cmake --build "$build/windows" -j2 --target OrloCastSetup; } \
  >>"$logs/build.log" 2>&1 || fail "building the installer failed (see $logs/build.log)"
built=$build/windows/app/OrloCastSetup.exe
installer=$stage/OrloCastSetup.exe

certificate() {  # certificate FILE OPENSSL_X509_OPTIONS...: of a PEM or DER certificate
  local file=$1
  shift
  openssl x509 -in "$file" -noout "$@" 2>/dev/null || openssl x509 -inform DER -in "$file" -noout "$@"
}
subject=""
if [ -n "$cert" ]; then
  echo "== signing with $(shown "$cert")${timestamp:+, time stamp from $timestamp}" >&2
  sign=(osslsigncode sign -h sha256 -n "OrloCastSetup" -certs "$cert" -key "$key")
  [ -z "$pass_file" ] || sign+=(-readpass "$pass_file")
  [ -z "$timestamp" ] || sign+=(-ts "$timestamp")
  status=0
  bounded "$tsa_wait" "${sign[@]}" -in "$built" -out "$installer" >"$logs/signing.log" 2>&1 || status=$?
  [ $status -ne 124 ] ||
    fail "signing took more than $tsa_wait s${timestamp:+: the time-stamping authority $timestamp did not answer}"
  [ $status -eq 0 ] || fail "signing${timestamp:+ with a time stamp from $timestamp} failed (see $logs/signing.log)"
  subject=$(certificate "$cert" -subject)
  subject=${subject#subject=}
  subject=${subject# }
  [ -n "$timestamp" ] || echo "release: warning: no --timestamp: the signature stops verifying when the" \
    "certificate expires ($(certificate "$cert" -enddate | sed 's/^notAfter=//'))" >&2
else
  cp -- "$built" "$installer"
fi

# The time stamp in the installer's signature: the RFC 3161 token in the
# signer's unsigned attribute 1.3.6.1.4.1.311.3.3.1, which stamps the
# signature value just before the unsigned attributes. Checked against that
# value and the authority's certificates; prints the time, then the
# authority's subject.
der_content() {  # der_content FILE ASN1PARSE_LINE: the element's content octets
  local offset=${2%%:*} header length
  header=$(sed 's/.*hl= *\([0-9]*\).*/\1/' <<<"$2")
  length=$(sed 's/.* l= *\([0-9]*\).*/\1/' <<<"$2")
  dd if="$1" bs=1 skip=$((offset + header)) count="$length" status=none
}
read_timestamp() {  # read_timestamp INSTALLER WORK_DIR
  local dir=$2 found time
  rm -rf "$dir" && mkdir -p "$dir"
  osslsigncode extract-signature -in "$1" -out "$dir/signature.der" >/dev/null 2>&1 || return 1
  found=$(openssl asn1parse -inform DER -in "$dir/signature.der" |
          awk '{ l[NR] = $0 } /:1\.3\.6\.1\.4\.1\.311\.3\.3\.1 *$/ { print l[NR-3]; getline; print; exit }')
  [ "$(grep -c 'prim: OCTET STRING\|cons: SET' <<<"$found")" -eq 2 ] || return 1
  der_content "$dir/signature.der" "$(sed -n 1p <<<"$found")" >"$dir/signature-value.bin"
  der_content "$dir/signature.der" "$(sed -n 2p <<<"$found")" >"$dir/token.der"
  openssl ts -verify -token_in -in "$dir/token.der" -data "$dir/signature-value.bin" \
    -CAfile "$tsa_ca" >"$dir/verify.txt" 2>&1 || return 1
  openssl cms -verify -inform DER -in "$dir/token.der" -noverify -signer "$dir/authority.pem" \
    -out /dev/null 2>/dev/null || return 1
  time=$(openssl ts -reply -token_in -in "$dir/token.der" -token_out -text 2>/dev/null | sed -n 's/^Time stamp: //p')
  [ -n "$time" ] && date -u -d "$time" '+%Y-%m-%d %H:%M:%S UTC' || return 1
  openssl x509 -in "$dir/authority.pem" -noout -subject | sed 's/^subject= *//'
}

# Every check, on the finished file in the staging folder: the package
# verifies and is the given one byte for byte, the version block names the
# version, the signature and its time stamp verify.
echo "== verifying the installer" >&2
"$pack" verify "$installer" >"$logs/verify.log" 2>&1 || fail "the installer's package does not verify (see $logs/verify.log)"
"$pack" package -o "$stage/embedded.pkg" "$installer" >/dev/null 2>&1 && cmp -s "$stage/embedded.pkg" "$input" ||
  fail "the installer does not hold $(shown "$given") byte for byte"
[ -z "$package" ] || cmp -s "$input" "$package" || fail "$(shown "$package") changed while the release ran"
rm -f -- "$stage/embedded.pkg"
inspect=$("$pack" inspect "$installer")
[ "$(sed -n 's/^version: file \([0-9.]*\), product \([0-9.]*\),.*/\1 \2/p' <<<"$inspect")" = "$version $version" ] &&
  grep -qxF "  FileVersion = \"${version//./, }\"" <<<"$inspect" &&
  grep -qxF "  ProductVersion = \"${version//./, }\"" <<<"$inspect" ||
  fail "the installer's version block does not name the version $version"
if [ -n "$cert" ]; then
  verify=(osslsigncode verify -in "$installer" -CAfile "$ca")
  [ -z "$timestamp" ] || verify+=(-TSA-CAfile "$tsa_ca")
  "${verify[@]}" >"$logs/signature.log" 2>&1 ||
    fail "the signature does not verify against $(shown "$ca")${timestamp:+ and $(shown "$tsa_ca")} (see $logs/signature.log)"
fi
stamp=""
if [ -n "$timestamp" ]; then
  stamp=$(read_timestamp "$installer" "$logs/timestamp-check") ||
    fail "the signature carries no time stamp that verifies against $(shown "$tsa_ca") (see $logs/timestamp-check)"
fi
sha256=$(sha256sum "$installer" | cut -d' ' -f1)

# The package manager's manifest, in its multi-file form (version, default
# locale, installer) for manifest version 1.10.0. The uninstall entry's
# key, display name and publisher are those the installer writes
# (setup/procedures.h, setup/install.cpp); docs/deploying.md explains the
# return codes.
quoted() { printf "'%s'" "${1//\'/\'\'}"; }  # a YAML single-quoted scalar
manifest_file() {  # manifest_file NAME TYPE: starts winget/NAME as file; the caller appends the rest
  file=$stage/winget/$1
  written+=("$file")
  printf '# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.1.10.0.schema.json\n' "$2" >"$file"
  printf 'PackageIdentifier: Fenmarch.OrloCast\nPackageVersion: %s\n' "$(quoted "$version")" >>"$file"
}
write_manifest() {  # write_manifest COPYRIGHT URL SHA256 (an empty copyright is left out)
  local file key="FM:Orlo-Cast {5C7E2B91-3FA4-4d6e}"
  manifest_file Fenmarch.OrloCast.yaml version
  printf 'DefaultLocale: en-US\nManifestType: version\nManifestVersion: 1.10.0\n' >>"$file"

  manifest_file Fenmarch.OrloCast.locale.en-US.yaml defaultLocale
  cat >>"$file" <<EOF_LOCALE
PackageLocale: en-US
Publisher: Fenmarch Software
PackageName: Orlo-Cast
License: Proprietary
ShortDescription: Orlo-Cast, the broadcast stream server by Fenmarch.
ManifestType: defaultLocale
ManifestVersion: 1.10.0
EOF_LOCALE
  [ -z "$1" ] || echo "Copyright: $(quoted "$1")" >>"$file"

  manifest_file Fenmarch.OrloCast.installer.yaml installer
  cat >>"$file" <<EOF_INSTALLER
InstallerType: exe
Scope: machine
ElevationRequirement: elevationRequired
InstallModes:
- silent
- silentWithProgress
- interactive
InstallerSwitches:
  Silent: '-h -i'
  SilentWithProgress: '-i'
# The installer takes no folder and writes no log.
UnsupportedArguments:
- location
- log
# On an installed product "-i" removes it: an upgrade must never run it.
UpgradeBehavior: deny
ProductCode: $(quoted "$key")
AppsAndFeaturesEntries:
- DisplayName: 'Orlo-Cast, Broadcast Stream Server'
  Publisher: Fenmarch Software
  ProductCode: $(quoted "$key")
ExpectedReturnCodes:
# -1: another installer is running, or the package is damaged; the same
# code for both. The manager has checked the file's SHA-256 before running
# it, so a damaged download is ruled out and -1 is taken as the other installer.
- InstallerReturnCode: -1
  ReturnResponse: installInProgress
# -2: no installation folder could be formed under Program Files.
- InstallerReturnCode: -2
  ReturnResponse: contactSupport
# -3: the installation folder could not be created.
- InstallerReturnCode: -3
  ReturnResponse: contactSupport
# -10: a product file failed to extract or verify.
- InstallerReturnCode: -10
  ReturnResponse: contactSupport
Installers:
- Architecture: x86
  InstallerUrl: $(quoted "$2")
  InstallerSha256: '$3'
ManifestType: installer
ManifestVersion: 1.10.0
EOF_INSTALLER
}
written=()
if [ -n "$manifest_url" ]; then
  copyright=$(sed -n 's/^  LegalCopyright = "\(.*\)"$/\1/p' <<<"$inspect")
  mkdir "$stage/winget"
  write_manifest "$copyright" "$manifest_url" "${sha256^^}"
  # The gate: the fields and values, the three files against each other and
  # against this installer (scripts/check-manifest.py; Debian's python, whatever PATH says).
  problem=$(/usr/bin/python3 "$here/scripts/check-manifest.py" "$stage/winget" "$installer" "$manifest_url" \
    "$version" 2>&1) || fail "the manifest does not validate: ${problem##*$'\n'}"
fi

# The record, whole before it is written.
entries=$(sed -n <<<"$inspect" \
  's/^entry \([0-2]\): \(.*[^ ]\) *offset *[0-9]* *size *\([0-9]*\) *md5 \([0-9a-f]*\)$/entry \1: md5 \4  size \3  \2/p')
[ "$(grep -c '^entry ' <<<"$entries")" -eq 3 ] || fail "could not read the package's entries"
{
  echo "installer: OrloCastSetup.exe"
  echo "version: $version"
  echo "sha256: $sha256"
  echo "size: $(stat -c %s "$installer")"
  echo "$entries"
  if [ -n "$cert" ]; then
    echo "signed: yes"
    echo "signer: $subject"
  else
    echo "signed: no"
  fi
  if [ -n "$stamp" ]; then
    echo "timestamp: $(sed -n 1p <<<"$stamp")"
    echo "timestamp authority: $(sed -n 2p <<<"$stamp")"
  else
    echo "timestamp: none"
  fi
  for file in "${written[@]}"; do echo "manifest: ${file#"$stage"/}"; done
} >"$stage/OrloCastSetup-release.txt"

# Every check passed: into OUT, by renames. The old record goes first and
# the new one comes last, so OUT never holds a record beside files that are
# not its own. A package given from elsewhere leaves no older orlocast.pkg;
# manifests not written this time leave none either.
check_out
mkdir -p -- "$out"
rm -f -- "$out/OrloCastSetup-release.txt"
mv -fT -- "$installer" "$out/OrloCastSetup.exe"
if [ -z "$package" ]; then
  mv -fT -- "$stage/orlocast.pkg" "$out/orlocast.pkg"
elif ! [ "$package" -ef "$out/orlocast.pkg" ]; then
  rm -f -- "$out/orlocast.pkg"
fi
[ ! -d "$manifests" ] || rm -f -- "$manifests"/Fenmarch.OrloCast.*yaml
if [ ${#written[@]} -gt 0 ]; then
  mkdir -p -- "$manifests"
  for file in "${written[@]}"; do mv -fT -- "$file" "$manifests/${file##*/}"; done
elif [ -d "$manifests" ]; then
  rmdir --ignore-fail-on-non-empty -- "$manifests"
fi
mv -fT -- "$stage/OrloCastSetup-release.txt" "$out/OrloCastSetup-release.txt"

echo "== release: $(shown "$out")/OrloCastSetup.exe" >&2
cat "$out/OrloCastSetup-release.txt"
