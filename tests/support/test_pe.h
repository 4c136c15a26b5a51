// Builds small Windows PE files for the tests and the fuzzers' seeds: one
// .rsrc section holding the given resources, laid out as a resource
// compiler writes them, and the damaged tree shapes the reader must bound.
#pragma once

#include <algorithm>
#include <cstdint>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace orlotest {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}
inline void put32(Bytes& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}
inline void pad4(Bytes& b) {
    while (b.size() % 4) b.push_back(0);
}

struct Resource {
    uint32_t type, id, language;
    Bytes bytes;
};

constexpr uint32_t SECTION_RVA = 0x1000;
constexpr size_t SECTION_OFFSET = 0x200;

// PE32 headers and one section, .rsrc, holding `rsrc` (offsets in it are
// relative to its start; its RVA is SECTION_RVA).
inline Bytes peAround(Bytes rsrc) {
    while (rsrc.size() % 0x200) rsrc.push_back(0);
    Bytes f(SECTION_OFFSET, 0);
    f[0] = 'M';
    f[1] = 'Z';
    put32(f, 0x3C, 0x40);
    put32(f, 0x40, 0x00004550);
    const size_t coff = 0x44, optional = coff + 20, section = optional + 224;
    put16(f, coff, 0x14C);        // i386
    put16(f, coff + 2, 1);        // one section
    put16(f, coff + 16, 224);     // optional header size
    put16(f, optional, 0x10B);    // PE32
    put32(f, optional + 92, 16);  // data directories
    put32(f, optional + 96 + 16, SECTION_RVA);
    put32(f, optional + 96 + 20, (uint32_t)rsrc.size());
    std::memcpy(&f[section], ".rsrc", 5);
    put32(f, section + 8, (uint32_t)rsrc.size());
    put32(f, section + 12, SECTION_RVA);
    put32(f, section + 16, (uint32_t)rsrc.size());
    put32(f, section + 20, SECTION_OFFSET);
    f.resize(SECTION_OFFSET + rsrc.size());
    std::memcpy(&f[SECTION_OFFSET], rsrc.data(), rsrc.size());
    return f;
}

struct Pe {
    Bytes file;
    std::vector<size_t> dataEntries;  // file offset of each resource's data entry, in the order given
    std::vector<size_t> directories;  // file offset of every directory table
};

// Resources must be sorted by type, id and language.
inline Pe buildPe(const std::vector<Resource>& resources) {
    Bytes rsrc;
    Pe pe;
    auto directory = [&](size_t entries) {
        const size_t at = rsrc.size();
        rsrc.resize(at + 16 + 8 * entries, 0);
        put16(rsrc, at + 14, (uint32_t)entries);
        pe.directories.push_back(SECTION_OFFSET + at);
        return at;
    };
    auto entry = [&](size_t dir, size_t index, uint32_t name, uint32_t target) {
        put32(rsrc, dir + 16 + 8 * index, name);
        put32(rsrc, dir + 20 + 8 * index, target);
    };
    // Ranges [first, last) of resources sharing a type, or a type and id.
    auto runs = [&](size_t first, size_t last, bool byId) {
        std::vector<std::pair<size_t, size_t>> out;
        for (size_t i = first; i < last; i++) {
            const bool same = !out.empty() && resources[i].type == resources[i - 1].type &&
                              (!byId || resources[i].id == resources[i - 1].id);
            if (same) out.back().second = i + 1;
            else out.push_back({i, i + 1});
        }
        return out;
    };
    std::vector<size_t> slot(resources.size());  // where each resource's data entry offset goes
    const auto types = runs(0, resources.size(), false);
    const size_t root = directory(types.size());
    for (size_t t = 0; t < types.size(); t++) {
        const auto ids = runs(types[t].first, types[t].second, true);
        const size_t idDir = directory(ids.size());
        entry(root, t, resources[types[t].first].type, 0x80000000u | (uint32_t)idDir);
        for (size_t i = 0; i < ids.size(); i++) {
            const size_t languageDir = directory(ids[i].second - ids[i].first);
            entry(idDir, i, resources[ids[i].first].id, 0x80000000u | (uint32_t)languageDir);
            for (size_t r = ids[i].first; r < ids[i].second; r++) {
                entry(languageDir, r - ids[i].first, resources[r].language, 0);
                slot[r] = languageDir + 20 + 8 * (r - ids[i].first);
            }
        }
    }
    std::vector<size_t> dataEntry(resources.size());
    for (size_t r = 0; r < resources.size(); r++) {
        dataEntry[r] = rsrc.size();
        rsrc.resize(rsrc.size() + 16, 0);
        put32(rsrc, slot[r], (uint32_t)dataEntry[r]);
    }
    for (size_t r = 0; r < resources.size(); r++) {
        pad4(rsrc);
        put32(rsrc, dataEntry[r], SECTION_RVA + (uint32_t)rsrc.size());
        put32(rsrc, dataEntry[r] + 4, (uint32_t)resources[r].bytes.size());
        rsrc.insert(rsrc.end(), resources[r].bytes.begin(), resources[r].bytes.end());
        pe.dataEntries.push_back(SECTION_OFFSET + dataEntry[r]);
    }
    pe.file = peAround(rsrc);
    return pe;
}

// A damaged tree whose work multiplies: type 10 lists `dirs` ids, each
// pointing at a language directory 8 bytes after the previous one. Every
// 8-byte slot after them reads as (name, named | ids << 16), so each table
// declares named + ids entries and every entry reaches one zero-sized data
// entry; `namedEntries` sets the high bit of each name.
inline Bytes overlappingDirectories(uint32_t dirs, uint16_t named, uint16_t ids, bool namedEntries) {
    const uint32_t counts = named | (uint32_t)ids << 16;
    const size_t idDir = 24, region = idDir + 16 + 8ull * dirs;
    const size_t slots = dirs + 1 + named + ids;
    Bytes rsrc(std::max(region + 8 * slots, (size_t)counts + 16), 0);
    put16(rsrc, 14, 1);
    put32(rsrc, 16, 10);
    put32(rsrc, 20, 0x80000000u | (uint32_t)idDir);
    put16(rsrc, idDir + 14, dirs);
    for (uint32_t k = 0; k < dirs; k++) {
        put32(rsrc, idDir + 16 + 8 * k, k + 1);
        put32(rsrc, idDir + 20 + 8 * k, 0x80000000u | (uint32_t)(region + 8 * k));
    }
    for (size_t s = 0; s < slots; s++) {
        put32(rsrc, region + 8 * s, namedEntries ? 0x80000000u | (uint32_t)s : 1033);
        put32(rsrc, region + 8 * s + 4, counts);
    }
    put32(rsrc, counts, SECTION_RVA);  // the data entry: size 0
    return peAround(rsrc);
}

// ---------------------------------------------------------------------------
// Resource contents.

inline Bytes utf16z(const std::u16string& s) {
    Bytes out;
    for (char16_t c : s) {
        out.push_back((uint8_t)c);
        out.push_back((uint8_t)(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

// A VS_VERSIONINFO block: wLength, wValueLength, wType, key, value, children.
inline Bytes versionBlock(const std::u16string& key, const Bytes& value, uint16_t valueLength, uint16_t type,
                          const std::vector<Bytes>& children = {}) {
    Bytes b(6, 0);
    const Bytes k = utf16z(key);
    b.insert(b.end(), k.begin(), k.end());
    pad4(b);
    b.insert(b.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        pad4(b);
        b.insert(b.end(), child.begin(), child.end());
    }
    put16(b, 0, (uint32_t)b.size());
    put16(b, 2, valueLength);
    put16(b, 4, type);
    return b;
}

inline Bytes versionString(const std::u16string& name, const std::u16string& value) {
    return versionBlock(name, utf16z(value), (uint16_t)(value.size() + 1), 1);
}

// A BITMAPINFOHEADER followed by `payload` zero bytes (palette and pixels).
inline Bytes dib(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression, size_t payload) {
    Bytes b(40 + payload, 0);
    put32(b, 0, 40);
    put32(b, 4, (uint32_t)width);
    put32(b, 8, (uint32_t)height);
    put16(b, 12, 1);
    put16(b, 14, bitCount);
    put32(b, 16, compression);
    return b;
}

// An icon group naming `ids`, each a 16x16 image of 4 bits per pixel.
inline Bytes iconGroup(const std::vector<uint16_t>& ids) {
    Bytes g(6 + 14 * ids.size(), 0);
    put16(g, 2, 1);
    put16(g, 4, (uint32_t)ids.size());
    for (size_t i = 0; i < ids.size(); i++) {
        g[6 + 14 * i] = g[7 + 14 * i] = 16;
        put16(g, 6 + 14 * i + 4, 1);
        put16(g, 6 + 14 * i + 6, 4);
        put16(g, 6 + 14 * i + 12, ids[i]);
    }
    return g;
}

// A 4-bit icon image of 16x16: palette, colour rows, mask rows.
inline Bytes iconImage() { return dib(16, 32, 4, 0, 64 + 128 + 64); }

// ---------------------------------------------------------------------------
// An installer's resources, and executables that must be refused.

const char* const MANIFEST =
    "\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- <requestedExecutionLevel level=\"asInvoker\"/> -->\n"
    "<asmv1:assembly xmlns:asmv1=\"urn:schemas-microsoft-com:asm.v1\">\n"
    "<asmv1:assemblyIdentity name=\"A&amp;B\" version='2.0.0.0'/><description> Fish &#x26; chips </description>\n"
    "<supportedOS Id=\"{one}\"/><asmv3:requestedExecutionLevel uiAccess=\"false\" level = \"highestAvailable\"/>\n"
    "</asmv1:assembly>\n";

inline Bytes sampleVersion() {
    Bytes fixed(52, 0), translation(4, 0);
    put32(fixed, 0, 0xFEEF04BD);
    put32(fixed, 8, 0x00020003);   // file 2.3.4.5
    put32(fixed, 12, 0x00040005);
    put32(fixed, 16, 0x0001000A);  // product 1.10.11.12
    put32(fixed, 20, 0x000B000C);
    put32(translation, 0, 0x04B00000);
    return versionBlock(
        u"VS_VERSION_INFO", fixed, 52, 0,
        {versionBlock(u"StringFileInfo", {}, 0, 1,
                      {versionBlock(u"000004b0", {}, 0, 1,
                                    {versionString(u"CompanyName", u"Caf\u00e9 \U0001F4FB \"Radio\"\t\\")})}),
         versionBlock(u"VarFileInfo", {}, 0, 1, {versionBlock(u"Translation", translation, 4, 0)})});
}

// What the installer holds around `package`, sorted by type, id and language.
inline std::vector<Resource> installerResources(const Bytes& package) {
    return {{2, 101, 1033, dib(3, -2, 24, 0, 24)},
            {3, 1, 1033, iconImage()},
            {10, 100, 1033, package},
            {14, 100, 1033, iconGroup({1})},
            {16, 1, 1033, sampleVersion()},
            {24, 1, 1033, Bytes(MANIFEST, MANIFEST + strlen(MANIFEST))}};
}

struct CraftedExecutable {
    std::string what;
    Bytes file;
    std::string refusal;  // words of the one-line error
};

// Executables whose package Windows could read otherwise than a reader, or
// whose reading multiplies work; `full` adds the 1.77 MB shapes of 65,535
// overlapping directories.
inline std::vector<CraftedExecutable> refusedExecutables(const Bytes& package, bool full) {
    const std::vector<Resource> sound = installerResources(package);
    const Pe pe = buildPe(sound);
    const auto with = [&](uint32_t type, uint32_t id, Bytes bytes) {
        std::vector<Resource> all = sound;
        for (Resource& r : all)
            if (r.type == type && r.id == id) r.bytes = std::move(bytes);
        return buildPe(all).file;
    };
    const auto twice = [&](size_t index) {  // the resource also in language 1031, damaged
        std::vector<Resource> all = sound;
        Resource other = all[index];
        other.language = 1031;
        other.bytes[other.bytes.size() / 2] ^= 1;
        all.insert(all.begin() + index, other);
        return buildPe(all).file;
    };
    const auto damaged = [&](std::function<void(Bytes&)> damage) {
        Bytes file = pe.file;
        damage(file);
        return file;
    };
    const size_t types = pe.directories[0] + 16, data = pe.dataEntries[2], version = pe.dataEntries[4];
    std::vector<CraftedExecutable> out = {
        {"package in two languages", twice(2), "RT_RCDATA 100 is present 2 times (languages 1031, 1033)"},
        {"background in two languages", twice(0), "RT_BITMAP 101 is present 2 times"},
        {"icon group in two languages", twice(3), "RT_GROUP_ICON 100 is present 2 times"},
        {"icon image in two languages", twice(1), "RT_ICON 1 is present 2 times"},
        {"types out of order", damaged([&](Bytes& f) { put32(f, types + 8, 1); }), "ascending"},
        {"type wider than 16 bits", damaged([&](Bytes& f) { put32(f, types + 16, 0x1000A); }), "16-bit"},
        {"directory that links to itself",
         damaged([&](Bytes& f) { put32(f, types + 4, 0x80000000u | (uint32_t)(pe.directories[0] - SECTION_OFFSET)); }),
         "share bytes"},
        {"two resources with one data entry",
         damaged([&](Bytes& f) { put32(f, pe.directories[2] + 20, (uint32_t)(data - SECTION_OFFSET)); }),
         "share bytes"},
        {"data entries adding up past the file",
         damaged([&](Bytes& f) {
             for (size_t e : {0, 1, 4}) std::copy_n(&f[data], 8, &f[pe.dataEntries[e]]);
         }),
         "overlap"},
        {"data past its section", damaged([&](Bytes& f) { put32(f, version + 4, 0x7FFFFF); }), "section"},
        {"overlapping directories", overlappingDirectories(64, 40, 1, false), "share bytes"},
        {"overlapping directories, named entries", overlappingDirectories(64, 40, 1, true), "16-bit"},
        {"version child block past its parent",
         with(16, 1, versionBlock(u"VS_VERSION_INFO", {}, 0, 0, {Bytes(8, 0xFF)})), "version block"},
        {"manifest tag not closed", with(24, 1, {'<', 'a', ' '}), "manifest: a tag is not closed"},
        {"background cut short", with(2, 101, dib(900, 424, 24, 0, 100)), "shorter than its pixels"},
        {"background too large to count", with(2, 101, dib(1 << 30, INT32_MIN, 64, 0, 0)), "shorter than its pixels"},
        {"icon group cut short", with(14, 100, {0, 0, 1, 0, 3, 0, 16, 16}), "icon group"},
        {"no package", buildPe({sound[0]}).file, "no package"},
    };
    if (full) {
        out.push_back({"65535 overlapping directories", overlappingDirectories(65535, 65535, 26, false),
                       "resource tree is damaged"});
        out.push_back({"the same, named entries", overlappingDirectories(65535, 65535, 26, true),
                       "resource tree is damaged"});
    }
    return out;
}

}  // namespace orlotest
