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
#   --build DIR       build tree (default: build-release in the source folder)
#   --out DIR         where the installer and its record go (default: DIR/release of the build tree)
#   --cert FILE       code-signing certificate (PEM or DER); signs the installer
#   --key FILE        its private key (PEM or DER)
#   --pass-file FILE  the key's passphrase, if it has one
#   --ca FILE         certificates that verification trusts (default: the --cert file)
#   --timestamp URL   RFC 3161 time-stamping authority that countersigns the signature
#   --tsa-ca FILE     certificates the time stamp is checked against
#                     (default: the system's, /etc/ssl/certs/ca-certificates.crt)
#   --manifest-url URL  where the installer will be downloadable from: also writes
#                     the package manager's manifest (winget/ beside the installer),
#                     checked by scripts/check-manifest.py before the record is written
#
# The three NAME=PATH files are packed with orlo-pack in package order (the
# program, the readme, the manual). Without --timestamp the signature stops
# verifying when the certificate expires: the command warns.
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
timestamp=""
tsa_ca=""
manifest_url=""
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
    --timestamp) timestamp=${2:?}; shift 2 ;;
    --tsa-ca) tsa_ca=$(absolute "${2:?}"); shift 2 ;;
    --manifest-url) manifest_url=${2:?}; shift 2 ;;
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
[ -n "$cert" ] || [ -z "$pass_file$ca$timestamp" ] ||
  fail "--pass-file, --ca and --timestamp only go with --cert and --key"
[ -n "$timestamp" ] || [ -z "$tsa_ca" ] || fail "--tsa-ca only goes with --timestamp"
[ -n "$ca" ] || ca=$cert
[ -n "$tsa_ca" ] || tsa_ca=/etc/ssl/certs/ca-certificates.crt
web_address() { [[ $1 =~ ^[Hh][Tt][Tt][Pp][Ss]?://[^[:space:]]+$ ]] && [ ${#1} -le 2048 ]; }
[ -z "$timestamp" ] || web_address "$timestamp" ||
  fail "--timestamp needs an http:// or https:// address without blanks, not '$timestamp'"
[ -z "$manifest_url" ] || web_address "$manifest_url" ||
  fail "--manifest-url needs an http:// or https:// address without blanks, not '$manifest_url'"

"$here/scripts/bootstrap.sh" >&2
mkdir -p "$build"
build=$(realpath "$build")
out=${out:-$build/release}
mkdir -p "$out"
out=$(realpath "$out")
installer=$out/OrloCastSetup.exe
record=$out/OrloCastSetup-release.txt
manifests=$out/winget
rm -f "$installer" "$record" "$manifests"/Fenmarch.OrloCast.*yaml
[ ! -d "$manifests" ] || rmdir --ignore-fail-on-non-empty "$manifests"

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

certificate() {  # certificate FILE OPENSSL_X509_OPTIONS...: of a PEM or DER certificate
  local file=$1
  shift
  openssl x509 -in "$file" -noout "$@" 2>/dev/null || openssl x509 -inform DER -in "$file" -noout "$@"
}
subject=""
if [ -n "$cert" ]; then
  echo "== signing with $cert${timestamp:+, time stamp from $timestamp}" >&2
  sign=(osslsigncode sign -h sha256 -n "OrloCastSetup" -certs "$cert" -key "$key")
  [ -z "$pass_file" ] || sign+=(-readpass "$pass_file")
  [ -z "$timestamp" ] || sign+=(-ts "$timestamp")
  "${sign[@]}" -in "$built" -out "$installer" >"$build/signing.log" 2>&1 ||
    fail "signing${timestamp:+ with a time stamp from $timestamp} failed (see $build/signing.log)"
  subject=$(certificate "$cert" -subject)
  subject=${subject#subject=}
  subject=${subject# }
  [ -n "$timestamp" ] || echo "release: warning: no --timestamp: the signature stops verifying when the" \
    "certificate expires ($(certificate "$cert" -enddate | sed 's/^notAfter=//'))" >&2
else
  cp "$built" "$installer"
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

echo "== verifying $installer" >&2
"$pack" verify "$installer" >&2 || fail "the installer's package does not verify"
if [ -n "$cert" ]; then
  verify=(osslsigncode verify -in "$installer" -CAfile "$ca")
  [ -z "$timestamp" ] || verify+=(-TSA-CAfile "$tsa_ca")
  "${verify[@]}" >/dev/null 2>&1 || fail "the signature does not verify against $ca${timestamp:+ and $tsa_ca}"
fi
stamp=""
if [ -n "$timestamp" ]; then
  stamp=$(read_timestamp "$installer" "$build/timestamp-check") ||
    fail "the signature carries no time stamp that verifies against $tsa_ca (see $build/timestamp-check)"
fi
sha256=$(sha256sum "$installer" | cut -d' ' -f1)
inspect=$("$pack" inspect "$installer")

# The package manager's manifest, in its multi-file form (version, default
# locale, installer) for manifest version 1.10.0. The uninstall entry's
# key, display name and publisher are those the installer writes
# (setup/procedures.h, setup/install.cpp); docs/deploying.md explains the
# return codes.
quoted() { printf "'%s'" "${1//\'/\'\'}"; }  # a YAML single-quoted scalar
manifest_file() {  # manifest_file NAME TYPE: starts $manifests/NAME as file; the caller appends the rest
  file=$manifests/$1
  written+=("$file")
  printf '# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.1.10.0.schema.json\n' "$2" >"$file"
  printf 'PackageIdentifier: Fenmarch.OrloCast\nPackageVersion: %s\n' "$(quoted "$version")" >>"$file"
}
write_manifest() {  # write_manifest VERSION COPYRIGHT URL SHA256 (an empty copyright is left out)
  local version=$1 file key="FM:Orlo-Cast {5C7E2B91-3FA4-4d6e}"
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
  [ -z "$2" ] || echo "Copyright: $(quoted "$2")" >>"$file"

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
  InstallerUrl: $(quoted "$3")
  InstallerSha256: '$4'
ManifestType: installer
ManifestVersion: 1.10.0
EOF_INSTALLER
}
written=()
if [ -n "$manifest_url" ]; then
  version=$(sed -n 's/^version: file [0-9.]*, product \([0-9.]*\),.*/\1/p' <<<"$inspect")
  [ -n "$version" ] || fail "the installer has no version block to take the package version from"
  copyright=$(sed -n 's/^  LegalCopyright = "\(.*\)"$/\1/p' <<<"$inspect")
  mkdir -p "$manifests"
  write_manifest "$version" "$copyright" "$manifest_url" "${sha256^^}"
  # The gate: the schema, the three files against each other and against
  # this installer (scripts/check-manifest.py; Debian's python, whatever PATH says).
  problem=$(/usr/bin/python3 "$here/scripts/check-manifest.py" "$manifests" "$installer" "$manifest_url" \
    "$version" 2>&1) || fail "the manifest in $manifests does not validate: ${problem##*$'\n'}"
fi

{
  echo "installer: $(basename "$installer")"
  echo "sha256: $sha256"
  echo "size: $(stat -c %s "$installer")"
  sed -n <<<"$inspect" \
    's/^entry \([0-2]\): \(.*[^ ]\) *offset *[0-9]* *size *\([0-9]*\) *md5 \([0-9a-f]*\)$/entry \1: md5 \4  size \3  \2/p'
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
  for file in "${written[@]}"; do echo "manifest: ${file#"$out"/}"; done
} >"$record"
[ "$(grep -c '^entry ' "$record")" -eq 3 ] || fail "could not read the package's entries"

echo "== release: $installer" >&2
cat "$record"
