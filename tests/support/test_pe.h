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

constexpr uint32_t SECTION_RVA = 0x1000;
constexpr size_t SECTION_OFFSET = 0x200;

// PE32 headers and one section holding `rsrc`, whose offsets count from SECTION_RVA.
inline Bytes peAround(Bytes rsrc) {
    rsrc.resize((rsrc.size() + 0x1FF) & ~(size_t)0x1FF);
    const uint32_t n = (uint32_t)rsrc.size();
    // "MZ", e_lfanew, "PE", i386, 1 section, optional header: 224 bytes, PE32, 16 directories, resources; section.
    const std::pair<size_t, uint32_t> fields[] = {
        {0, 0x5A4D}, {0x3C, 0x40},         {0x40, 0x4550}, {0x44, 0x14C},          {0x46, 1},
        {0x54, 224}, {0x58, 0x10B},        {0xB4, 16},     {0xC8, SECTION_RVA},    {0xCC, n},
        {0x140, n},  {0x144, SECTION_RVA}, {0x148, n},     {0x14C, SECTION_OFFSET}};
    Bytes f(SECTION_OFFSET, 0);
    for (const auto& [at, value] : fields) put32(f, at, value);
    f.insert(f.end(), rsrc.begin(), rsrc.end());
    return f;
}

struct Resource {
    uint32_t type, id, language;
    Bytes bytes;
};

// Resources sorted by type, one id to a type (in one language or more): the root, each type's id and language
// tables, the data entries, the data.
inline Bytes buildPe(const std::vector<Resource>& res) {
    std::vector<size_t> firsts, slots;  // each type's first resource; where each data entry's offset goes
    for (size_t i = 0; i < res.size(); i++)
        if (i == 0 || res[i].type != res[i - 1].type) firsts.push_back(i);
    Bytes r(16 + 8 * firsts.size());
    put16(r, 14, (uint32_t)firsts.size());
    firsts.push_back(res.size());
    for (size_t t = 0; t + 1 < firsts.size(); t++) {
        const size_t at = r.size(), first = firsts[t], languages = firsts[t + 1] - first;
        put32(r, 16 + 8 * t, res[first].type), put32(r, 20 + 8 * t, 0x80000000u | (uint32_t)at);
        r.resize(at + 40 + 8 * languages);
        put16(r, at + 14, 1), put32(r, at + 16, res[first].id), put32(r, at + 20, 0x80000000u | (uint32_t)(at + 24));
        put16(r, at + 38, (uint32_t)languages);
        for (size_t k = 0; k < languages; k++)
            put32(r, at + 40 + 8 * k, res[first + k].language), slots.push_back(at + 44 + 8 * k);
    }
    const size_t entries = r.size();
    r.resize(entries + 16 * res.size());
    for (size_t i = 0; i < res.size(); i++) {
        pad4(r);
        put32(r, slots[i], (uint32_t)(entries + 16 * i));
        put32(r, entries + 16 * i, SECTION_RVA + (uint32_t)r.size());
        put32(r, entries + 16 * i + 4, (uint32_t)res[i].bytes.size());
        r.insert(r.end(), res[i].bytes.begin(), res[i].bytes.end());
    }
    return peAround(r);
}

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

// File 2.3.4.5, product 1.10.11.12, a company name that needs escaping, translation 0000/04b0.
inline Bytes sampleVersion() {
    Bytes fixed = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 0, 0, 3, 0, 2, 0, 5, 0, 4, 0, 10, 0, 1, 0, 12, 0, 11, 0};
    fixed.resize(52);
    const std::u16string company = u"Caf\u00e9 \U0001F4FB \"Radio\"\t\\";
    const Bytes strings =
        versionBlock(u"000004b0", {}, 0, 1, {versionBlock(u"CompanyName", utf16z(company), company.size() + 1, 1)});
    return versionBlock(
        u"VS_VERSION_INFO", fixed, 52, 0,
        {versionBlock(u"StringFileInfo", {}, 0, 1, {strings}),
         versionBlock(u"VarFileInfo", {}, 0, 1, {versionBlock(u"Translation", {0, 0, 0xB0, 4}, 4, 0)})});
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

// Background 3x2 top-down, a 16x16 icon of 4 bpp and its group, the package, version, manifest.
inline std::vector<Resource> installerResources(const Bytes& package) {
    return {{2, 101, 1033, dib(3, -2, 24, 24)},
            {3, 1, 1033, dib(16, 32, 4, 64 + 128 + 64)},
            {10, 100, 1033, package},
            {14, 100, 1033, {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 4, 0, 0, 0, 0, 0, 1, 0}},
            {16, 1, 1033, sampleVersion()},
            {24, 1, 1033, Bytes(MANIFEST, MANIFEST + strlen(MANIFEST))}};
}

// Executables whose package Windows could read otherwise than a reader, or whose reading would multiply work, each
// with a word of its one-line error: the sound installer with a resource in two languages or a few fields changed.
using CraftedExecutable = std::tuple<std::string, Bytes, std::string>;  // what, file, refusal

inline std::vector<CraftedExecutable> refusedExecutables(const Bytes& package) {
    const std::vector<Resource> sound = installerResources(package);
    std::vector<CraftedExecutable> out;
    const char* const looked[] = {"RT_BITMAP 101", "RT_ICON 1", "RT_RCDATA 100", "RT_GROUP_ICON 100"};
    for (size_t i = 0; i < 4; i++) {  // resource i also in language 1031, one byte changed
        std::vector<Resource> all = sound;
        all.insert(all.begin() + i, all[i]);
        all[i].language = 1031;
        all[i].bytes[all[i].bytes.size() / 2] ^= 1;
        out.push_back({std::string(looked[i]) + " in two languages", buildPe(all), looked[i]});
    }
    // The root's type entries, the bitmap's language table, the data entries and the bytes of each resource.
    const Bytes pe = buildPe(sound);
    const size_t types = SECTION_OFFSET + 16, bitmapLanguages = SECTION_OFFSET + 88, entries = SECTION_OFFSET + 352;
    size_t data[6];
    for (size_t i = 0, e = entries; i < 6; i++, e += 16)
        data[i] = (pe[e] | pe[e + 1] << 8) - SECTION_RVA + SECTION_OFFSET;
    const uint32_t packageEntry = (uint32_t)(entries + 32 - SECTION_OFFSET), size = (uint32_t)package.size();
    const uint32_t cut = (uint32_t)(strstr(MANIFEST, "xmlns") - MANIFEST);
    // clang-format off
    const std::tuple<const char*, const char*, std::vector<std::pair<size_t, uint32_t>>> changes[] = {
        {"types out of order", "ascending", {{types + 8, 1}}},
        {"type wider than 16 bits", "16-bit", {{types + 16, 0x1000A}}},
        {"table that links to the root", "share", {{types + 4, 0x80000000u}}},
        {"table overlapping the end of the root", "share", {{types + 4, 0x80000038u}}},
        {"two resources with one data entry", "share", {{bitmapLanguages + 20, packageEntry}}},
        {"data adding up to more than the file", "overlap", {{entries + 4, size}, {entries + 20, size}}},
        {"data past its section", "section", {{entries + 68, 0x7FFFFF}}},
        {"version blocks past their parent", "version block", {{data[4], 100 | 52 << 16}}},
        {"manifest cut inside a tag", "manifest", {{entries + 84, cut}}},
        {"background wider than its pixels", "pixels", {{data[0] + 4, 900}}},
        {"background too large to count", "pixels", {{data[0] + 4, 1u << 30}, {data[0] + 8, 1u << 31}, {data[0] + 12, 1 | 64 << 16}}},
        {"icon group naming more images than it holds", "icon group", {{data[3] + 2, 1 | 3 << 16}}},
        {"no package (RT_RCDATA 100 is now type 11)", "no package", {{types + 16, 11}}}};
    // clang-format on
    for (const auto& [what, refusal, fields] : changes) {
        Bytes f = pe;
        for (const auto& [at, value] : fields) put32(f, at, value);
        out.push_back({what, f, refusal});
    }
    return out;
}

}  // namespace orlotest
