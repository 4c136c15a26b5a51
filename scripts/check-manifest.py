#!/usr/bin/python3
"""check-manifest.py MANIFEST_DIR INSTALLER URL VERSION: checks the package manager's manifest that
scripts/release.sh wrote (multi-file, 1.10.0) against the published schema for the fields the release
writes (and no field besides), the three files against each other, and the installer entry against the
installer's file, its URL and version. Prints nothing when all hold, else one line and exits 1.
Run with Debian's /usr/bin/python3 (python3-jsonschema, python3-yaml)."""
import hashlib, pathlib, sys
import jsonschema, yaml


def text(low, high): return {"type": "string", "minLength": low, "maxLength": high}
def one_of(*values): return {"enum": list(values)}
def strict(properties, required):
    return {"type": "object", "properties": properties, "required": required, "additionalProperties": False}
def manifest(kind, properties, required):
    common = {"PackageIdentifier": IDENTIFIER, "PackageVersion": VERSION, "ManifestType": {"const": kind},
              "ManifestVersion": {"const": "1.10.0"}}
    return strict({**common, **properties}, list(common) + required)


PART = r'[^\.\s\\/:\*\?"<>\|\x01-\x1f]{1,32}'
IDENTIFIER = {"type": "string", "maxLength": 128, "pattern": rf"^{PART}(\.{PART}){{1,7}}$"}
VERSION = {"type": "string", "maxLength": 128, "pattern": r'^[^\\/:\*\?"<>\|\x01-\x1f]+$'}
LOCALE = {"type": "string", "maxLength": 20,
          "pattern": r"^([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*$"}
URL = {"type": "string", "maxLength": 2048, "pattern": r"^([Hh][Tt][Tt][Pp][Ss]?)://.+$"}
RETURN_CODE = {"type": "integer", "not": {"enum": [0]}, "minimum": -2147483648, "maximum": 4294967295}
RESPONSE = one_of("packageInUse", "packageInUseByApplication", "installInProgress", "fileInUse", "missingDependency",
                  "diskFull", "insufficientMemory", "invalidParameter", "noNetwork", "contactSupport", "custom",
                  "rebootRequiredToFinish", "rebootRequiredForInstall", "rebootInitiated", "cancelledByUser",
                  "alreadyInstalled", "downgrade", "blockedByPolicy", "systemNotSupported")
SCHEMAS = {
    "version": manifest("version", {"DefaultLocale": LOCALE}, ["DefaultLocale"]),
    "defaultLocale": manifest("defaultLocale", {
        "PackageLocale": LOCALE, "Publisher": text(2, 256), "PackageName": text(2, 256), "License": text(3, 512),
        "Copyright": text(3, 512), "ShortDescription": text(3, 256)},
        ["PackageLocale", "Publisher", "PackageName", "License", "ShortDescription"]),
    "installer": manifest("installer", {
        "InstallerType": one_of("msix", "msi", "appx", "exe", "zip", "inno", "nullsoft", "wix", "burn", "pwa",
                                "portable", "advinstExe", "advinstMsi"),
        "Scope": one_of("user", "machine"),
        "ElevationRequirement": one_of("elevationRequired", "elevationProhibited", "elevatesSelf"),
        "InstallModes": {"type": "array", "uniqueItems": True, "items": one_of("interactive", "silent",
                                                                               "silentWithProgress")},
        "InstallerSwitches": strict({"Silent": text(1, 512), "SilentWithProgress": text(1, 512)}, []),
        "UnsupportedArguments": {"type": "array", "uniqueItems": True, "items": one_of("log", "location")},
        "UpgradeBehavior": one_of("install", "uninstallPrevious", "deny"),
        "ProductCode": text(1, 255),
        "AppsAndFeaturesEntries": {"type": "array", "maxItems": 128, "items": strict(
            {"DisplayName": text(1, 256), "Publisher": text(1, 256), "ProductCode": text(1, 255)}, [])},
        "ExpectedReturnCodes": {"type": "array", "maxItems": 128, "items": strict(
            {"InstallerReturnCode": RETURN_CODE, "ReturnResponse": RESPONSE},
            ["InstallerReturnCode", "ReturnResponse"])},
        "Installers": {"type": "array", "minItems": 1, "maxItems": 1024, "items": strict({
            "Architecture": one_of("x86", "x64", "arm", "arm64", "neutral"), "InstallerUrl": URL,
            "InstallerSha256": {"type": "string", "pattern": "^[A-Fa-f0-9]{64}$"}},
            ["Architecture", "InstallerUrl", "InstallerSha256"])}},
        ["InstallerType", "Installers"]),  # InstallerType: here, or in each installer
}
FILES = {"version": "Fenmarch.OrloCast.yaml", "defaultLocale": "Fenmarch.OrloCast.locale.en-US.yaml",
         "installer": "Fenmarch.OrloCast.installer.yaml"}


def problem(folder, installer, url, version):
    """What is wrong with the manifest in folder, or None."""
    docs = {kind: yaml.safe_load((pathlib.Path(folder) / name).read_text("utf-8")) for kind, name in FILES.items()}
    for kind, doc in docs.items():
        errors = [error.message for error in jsonschema.Draft7Validator(SCHEMAS[kind]).iter_errors(doc)]
        if errors:
            return f"{FILES[kind]}: " + "; ".join(errors)
    if {(d["PackageIdentifier"], d["PackageVersion"]) for d in docs.values()} != {("Fenmarch.OrloCast", version)} or \
            docs["version"]["DefaultLocale"] != docs["defaultLocale"]["PackageLocale"]:
        return f"the three files are not all of Fenmarch.OrloCast {version} in the same locale"
    setup = docs["installer"]["Installers"][0]
    digest = hashlib.sha256(pathlib.Path(installer).read_bytes()).hexdigest()
    if setup["InstallerSha256"].lower() != digest or setup["InstallerUrl"] != url:
        return f"the installer entry is not {url} with SHA-256 {digest}"
    if any(entry.get("ProductCode") != docs["installer"].get("ProductCode")
           for entry in docs["installer"].get("AppsAndFeaturesEntries", [])):
        return "an uninstall entry's product code differs from the installer's"
    return None


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    found = problem(*sys.argv[1:])
    if found:
        sys.exit(" ".join(found.split("\n")))
