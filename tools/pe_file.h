// Reading resources out of a Windows PE file (32- or 64-bit) on any host.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace orlo {

struct PeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct PeResource {
    uint32_t type = 0;
    uint32_t id = 0;  // integer identifier (named resources are skipped)
    uint32_t language = 0;
    std::vector<uint8_t> bytes;
};

// True when the bytes start like a PE image ("MZ").
bool looksLikePe(const std::vector<uint8_t>& file);

// Every integer-identified resource of the file. Throws PeError when the file
// is not a well-formed PE image (a section or the signature reaching past the
// file's end, more than 96 sections) or its resource tree is damaged: tables
// that share bytes, ID entries out of order or wider than 16 bits, data past
// its section, more data than the file holds. The work done is bounded by
// the file's size, whatever its shape.
std::vector<PeResource> readPeResources(const std::vector<uint8_t>& file);

// The first resource of that type and id, in any language.
std::optional<PeResource> findPeResource(const std::vector<uint8_t>& file, uint32_t type, uint32_t id);

// "RT_ICON", "RT_BITMAP", ... for the predefined types, "type N" otherwise.
std::string resourceTypeName(uint32_t type);

// What the bytes of an icon image, icon group or bitmap hold, in one line
// ("icon image 16x16, 4 bpp", "bitmap 900x424, 24 bpp, BI_RGB, bottom-up");
// empty for every other type. Throws PeError when the bytes are too short
// for what their header declares.
std::string describeResource(const PeResource& resource);

// A version block (VS_VERSIONINFO), as far as inspection needs it.
struct VersionInfo {
    bool hasFixedPart = false;
    uint32_t fileVersionHigh = 0, fileVersionLow = 0;
    uint32_t productVersionHigh = 0, productVersionLow = 0;
    uint32_t flagsMask = 0, flags = 0, os = 0, type = 0, subtype = 0;
    struct StringTable {
        std::string key;                                           // e.g. "000004b0"
        std::vector<std::pair<std::string, std::string>> strings;  // name, value (UTF-8)
    };
    std::vector<StringTable> stringTables;
    std::vector<uint32_t> translations;  // each: language in the low word, code page in the high word
};

// Parses VS_VERSIONINFO -> StringFileInfo -> StringTable -> String and
// VarFileInfo -> Var "Translation". Throws PeError when a block's length or
// key does not fit inside its parent.
VersionInfo parseVersionInfo(const std::vector<uint8_t>& block);

// An application manifest, as far as inspection needs it.
struct ManifestInfo {
    std::vector<std::pair<std::string, std::string>> assemblyIdentity;  // attributes in document order
    std::vector<std::string> descriptions;
    std::vector<std::string> executionLevels;  // each requestedExecutionLevel's level
    std::vector<std::string> supportedOs;      // each supportedOS's Id
};

// Scans the manifest's UTF-8 XML (element names match with or without a
// namespace prefix). Throws PeError when a tag, comment or attribute is not
// closed, or the text is not UTF-8.
ManifestInfo parseManifest(const std::vector<uint8_t>& xml);

}  // namespace orlo
