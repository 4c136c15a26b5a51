// Small Windows PE files for the tests and the fuzzers' seeds: a sound installer's resources, and the executables a
// reader must refuse.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace orlotest {

using Bytes = std::vector<uint8_t>;
inline void put16(Bytes& b, size_t at, uint32_t v) { b[at] = (uint8_t)v, b[at + 1] = (uint8_t)(v >> 8); }
inline void put32(Bytes& b, size_t at, uint32_t v) { put16(b, at, v & 0xFFFF), put16(b, at + 2, v >> 16); }
inline void pad4(Bytes& b) { b.resize((b.size() + 3) & ~(size_t)3); }

// The sound installer's resource section (offsets from its start): the root table; per type an id table and a
// language table; the data entries; the data.
constexpr uint32_t SECTION_RVA = 0x1000;
constexpr size_t SECTION_OFFSET = 0x200, TYPES = 6, ENTRIES = 16 + 8 * TYPES + 56 * TYPES;
constexpr size_t languages(size_t type) { return 16 + 8 * TYPES + 56 * type + 24; }

inline Bytes utf16z(const std::u16string& s, Bytes out = {}) {
    for (char16_t c : s + u'\0') out.push_back((uint8_t)c), out.push_back((uint8_t)(c >> 8));
    return out;
}
// A VS_VERSIONINFO block: wLength, wValueLength, wType, key, value, children.
inline Bytes versionBlock(const std::u16string& key, const Bytes& value, size_t valueLength, uint16_t type,
                          const std::vector<Bytes>& children = {}) {
    Bytes b = utf16z(key, Bytes(6, 0));
    pad4(b);
    b.insert(b.end(), value.begin(), value.end());
    for (const Bytes& child : children) pad4(b), b.insert(b.end(), child.begin(), child.end());
    put16(b, 0, (uint32_t)b.size()), put16(b, 2, (uint32_t)valueLength), put16(b, 4, type);
    return b;
}

// A BITMAPINFOHEADER (no compression) followed by `payload` zero bytes.
inline Bytes dib(int32_t width, int32_t height, uint16_t bitCount, size_t payload) {
    Bytes b(40 + payload, 0);
    put32(b, 0, 40), put32(b, 4, (uint32_t)width), put32(b, 8, (uint32_t)height), put32(b, 12, 1 | bitCount << 16);
    return b;
}
const char* const MANIFEST =
    "\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- <requestedExecutionLevel level=\"asInvoker\"/> -->\n"
    "<asmv1:assembly xmlns:asmv1=\"urn:schemas-microsoft-com:asm.v1\">\n"
    "<asmv1:assemblyIdentity name=\"A&amp;B\" version='2.0.0.0'/><description> Fish &#x26; chips </description>\n"
    "<supportedOS Id=\"{one}\"/><asmv3:requestedExecutionLevel uiAccess=\"false\" level = \"highestAvailable\"/>\n"
    "</asmv1:assembly>\n";

// The sound installer: a background 3x2 top-down, a 16x16 icon of 4 bpp and its group, the package, a version block
// (file 2.3.4.5, product 1.10.11.12, a company name that needs escaping, translation 0000/04b0) and a manifest, each
// in language 1033, and a spare copy of each with one byte changed that the second slot of its language table, not
// counted, names in language 2057. PE32 headers: "MZ", e_lfanew, "PE", i386, one section, a 224-byte optional header
// with 16 directories (resources), the section at SECTION_OFFSET and SECTION_RVA.
inline Bytes soundInstaller(const Bytes& package) {
    Bytes fixed = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 0, 0, 3, 0, 2, 0, 5, 0, 4, 0, 10, 0, 1, 0, 12, 0, 11, 0};
    fixed.resize(52);
    const std::u16string company = u"Caf\u00e9 \U0001F4FB \"Radio\"\t\\";
    const Bytes strings =
        versionBlock(u"000004b0", {}, 0, 1, {versionBlock(u"CompanyName", utf16z(company), company.size() + 1, 1)});
    const Bytes version =
        versionBlock(u"VS_VERSION_INFO", fixed, 52, 0,
                     {versionBlock(u"StringFileInfo", {}, 0, 1, {strings}),
                      versionBlock(u"VarFileInfo", {}, 0, 1, {versionBlock(u"Translation", {0, 0, 0xB0, 4}, 4, 0)})});
    const std::tuple<uint32_t, uint32_t, Bytes> res[TYPES] = {
        {2, 101, dib(3, -2, 24, 24)},
        {3, 1, dib(16, 32, 4, 64 + 128 + 64)},
        {10, 100, package},
        {14, 100, {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 4, 0, 0, 0, 0, 0, 1, 0}},
        {16, 1, version},
        {24, 1, Bytes(MANIFEST, MANIFEST + strlen(MANIFEST))}};
    Bytes r(ENTRIES + 32 * TYPES);
    put16(r, 14, TYPES);
    for (size_t i = 0; i < TYPES; i++) {
        const auto& [type, id, bytes] = res[i];
        const size_t ids = languages(i) - 24, entry = ENTRIES + 32 * i;
        put32(r, 16 + 8 * i, type), put32(r, 20 + 8 * i, 0x80000000u | (uint32_t)ids);
        put16(r, ids + 14, 1), put32(r, ids + 16, id), put32(r, ids + 20, 0x80000000u | (uint32_t)(ids + 24));
        put16(r, ids + 38, 1), put32(r, ids + 40, 1033), put32(r, ids + 44, (uint32_t)entry);
        put32(r, ids + 48, 2057), put32(r, ids + 52, (uint32_t)entry + 16);
        for (size_t at = entry; at <= entry + 16; at += 16) {  // the resource, then its spare copy
            pad4(r);
            put32(r, at, SECTION_RVA + (uint32_t)r.size()), put32(r, at + 4, (uint32_t)bytes.size());
            r.insert(r.end(), bytes.begin(), bytes.end());
        }
        r.back() ^= 1;
    }
    r.resize((r.size() + 0x1FF) & ~(size_t)0x1FF);
    const uint32_t n = (uint32_t)r.size();
    Bytes f(SECTION_OFFSET, 0);
    // clang-format off
    const std::pair<size_t, uint32_t> headers[] = {
        {0, 0x5A4D}, {0x3C, 0x40}, {0x40, 0x4550}, {0x44, 0x14C}, {0x46, 1}, {0x54, 224}, {0x58, 0x10B}, {0xB4, 16},
        {0xC8, SECTION_RVA}, {0xCC, n}, {0x140, n}, {0x144, SECTION_RVA}, {0x148, n}, {0x14C, SECTION_OFFSET}};
    // clang-format on
    for (const auto& [at, value] : headers) put32(f, at, value);
    f.insert(f.end(), r.begin(), r.end());
    return f;
}

// Executables whose package Windows could read otherwise than a reader, or whose reading would multiply work, each
// with a word of its one-line error: the sound installer with a few fields of its section changed.
using CraftedExecutable = std::tuple<std::string, Bytes, std::string>;  // what, file, refusal

inline std::vector<CraftedExecutable> refusedExecutables(const Bytes& package) {
    const Bytes pe = soundInstaller(package);
    const size_t types = 16;  // the root's entries; where the bytes of each resource start:
    size_t data[TYPES];
    for (size_t i = 0, e = SECTION_OFFSET + ENTRIES; i < TYPES; i++, e += 32)
        data[i] = (pe[e] | pe[e + 1] << 8) - SECTION_RVA;
    const uint32_t packageEntry = (uint32_t)ENTRIES + 64, size = (uint32_t)package.size();
    const uint32_t cut = (uint32_t)(strstr(MANIFEST, "xmlns") - MANIFEST);
    // clang-format off
    const std::tuple<std::string, const char*, std::vector<std::pair<size_t, uint32_t>>> changes[] = {
        {"RT_BITMAP 101 in two languages", "RT_BITMAP 101", {{languages(0) + 12, 2 << 16}}},
        {"RT_ICON 1 in two languages", "RT_ICON 1", {{languages(1) + 12, 2 << 16}}},
        {"RT_RCDATA 100 in two languages", "RT_RCDATA 100", {{languages(2) + 12, 2 << 16}}},
        {"RT_GROUP_ICON 100 in two languages", "RT_GROUP_ICON 100", {{languages(3) + 12, 2 << 16}}},
        {"types out of order", "ascending", {{types + 8, 1}}},
        {"type wider than 16 bits", "16-bit", {{types + 16, 0x1000A}}},
        {"table that links to the root", "share", {{types + 4, 0x80000000u}}},
        {"table overlapping the end of the root", "share", {{types + 4, 0x80000038u}}},
        {"two resources with one data entry", "share", {{languages(0) + 20, packageEntry}}},
        {"data adding up to more than the file", "overlap", {{ENTRIES + 4, size}, {ENTRIES + 36, size}}},
        {"data past its section", "section", {{ENTRIES + 132, 0x7FFFFF}}},
        {"version blocks past their parent", "version block", {{data[4], 100 | 52 << 16}}},
        {"manifest cut inside a tag", "manifest", {{ENTRIES + 164, cut}}},
        {"background wider than its pixels", "pixels", {{data[0] + 4, 900}}},
        {"background too large to count", "pixels", {{data[0] + 4, 1u << 30}, {data[0] + 8, 1u << 31}, {data[0] + 12, 1 | 64 << 16}}},
        {"icon group naming more images than it holds", "icon group", {{data[3] + 2, 1 | 3 << 16}}},
        {"no package (RT_RCDATA 100 is now type 11)", "no package", {{types + 16, 11}}}};
    // clang-format on
    std::vector<CraftedExecutable> out;
    for (const auto& [what, refusal, fields] : changes) {
        Bytes f = pe;
        for (const auto& [at, value] : fields) put32(f, SECTION_OFFSET + at, value);
        out.push_back({what, f, refusal});
    }
    return out;
}

}  // namespace orlotest
