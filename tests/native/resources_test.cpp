// orlo-pack inspect on executables: the resource table, the version block's
// strings and the manifest's values, read out of small PE files built here,
// and a one-line error (never a crash) for every kind of damage.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_package.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}
void pad4(Bytes& b) {
    while (b.size() % 4) b.push_back(0);
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---------------------------------------------------------------------------
// A version block, written from the VS_VERSIONINFO layout: wLength,
// wValueLength, wType, zero-terminated UTF-16 key, padding, value, padding,
// children.

Bytes utf16z(const std::u16string& s) {
    Bytes out;
    for (char16_t c : s) {
        out.push_back((uint8_t)c);
        out.push_back((uint8_t)(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes versionBlock(const std::u16string& key, const Bytes& value, uint16_t valueLength, uint16_t type,
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

Bytes versionString(const std::u16string& name, const std::u16string& value) {
    return versionBlock(name, utf16z(value), (uint16_t)(value.size() + 1), 1);
}

Bytes fixedFileInfo(uint32_t fileMs, uint32_t fileLs, uint32_t productMs, uint32_t productLs) {
    Bytes f(52, 0);
    put32(f, 0, 0xFEEF04BD);
    put32(f, 4, 0x00010000);
    put32(f, 8, fileMs);
    put32(f, 12, fileLs);
    put32(f, 16, productMs);
    put32(f, 20, productLs);
    put32(f, 24, 0x3F);
    put32(f, 28, 0x2);  // VS_FF_PRERELEASE
    put32(f, 32, 0x40004);
    put32(f, 36, 2);
    put32(f, 40, 0);
    return f;
}

Bytes sampleVersion() {
    Bytes translation(8, 0);
    put32(translation, 0, 0x04B00000);  // language 0x0000, code page 0x04b0
    put32(translation, 4, 0x04E40409);  // language 0x0409, code page 0x04e4
    return versionBlock(
        u"VS_VERSION_INFO", fixedFileInfo(0x00020003, 0x00040005, 0x0001000A, 0x000B000C), 52, 0,
        {versionBlock(u"StringFileInfo", {}, 0, 1,
                      {versionBlock(u"000004b0", {}, 0, 1,
                                    {versionString(u"CompanyName", u"Caf\u00e9 \U0001F4FB Radio"),
                                     versionString(u"Comments", u"say \"hi\"\ttab \\ back"),
                                     versionString(u"Lone", u"x\xD800y"),
                                     // No terminator, length overstated: the value ends with its block.
                                     versionBlock(u"Unterminated", Bytes{'a', 0, 'b', 0, 'c', 0, 'd', 0}, 10, 1),
                                     versionBlock(u"Empty", {}, 0, 1)}),
                       versionBlock(u"040904e4", {}, 0, 1, {versionString(u"ProductName", u"Second table")})}),
         versionBlock(u"VarFileInfo", {}, 0, 1, {versionBlock(u"Translation", translation, 8, 0)})});
}

// ---------------------------------------------------------------------------
// Pictures: a DIB header followed by palette and pixels, as icon images and
// bitmaps are stored in resources.

Bytes dib(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression, size_t payload) {
    Bytes b(40 + payload, 0);
    put32(b, 0, 40);
    put32(b, 4, (uint32_t)width);
    put32(b, 8, (uint32_t)height);
    put16(b, 12, 1);
    put16(b, 14, bitCount);
    put32(b, 16, compression);
    return b;
}

// A 4-bit icon image of size x size: palette, colour rows, mask rows.
Bytes iconImage(int size) {
    const size_t colour = ((size * 4 + 31) / 32) * 4 * size, mask = ((size + 31) / 32) * 4 * size;
    return dib(size, 2 * size, 4, 0, 64 + colour + mask);
}

Bytes iconGroup(const std::vector<std::array<uint32_t, 4>>& images) {  // width, height, bpp, id
    Bytes g(6 + 14 * images.size(), 0);
    put16(g, 2, 1);
    put16(g, 4, (uint32_t)images.size());
    for (size_t i = 0; i < images.size(); i++) {
        const size_t e = 6 + 14 * i;
        g[e] = (uint8_t)images[i][0];
        g[e + 1] = (uint8_t)images[i][1];
        put16(g, e + 4, 1);
        put16(g, e + 6, images[i][2]);
        put16(g, e + 12, images[i][3]);
    }
    return g;
}

const char* const SAMPLE_MANIFEST =
    "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n"
    "<!-- <requestedExecutionLevel level=\"asInvoker\"/> stays a comment -->\n"
    "<asmv1:assembly xmlns:asmv1=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion='1.0'>\n"
    "  <asmv1:assemblyIdentity name=\"A&amp;B\" version='2.0.0.0' type=\"win32\"/>\n"
    "  <description>  Fish &#x26; chips  </description>\n"
    "  <compatibility><application>\n"
    "    <supportedOS Id=\"{one}\"></supportedOS><supportedOS Id='{two}'/>\n"
    "  </application></compatibility>\n"
    "  <asmv3:trustInfo xmlns:asmv3=\"urn:schemas-microsoft-com:asm.v3\"><asmv3:security>\n"
    "    <asmv3:requestedPrivileges><asmv3:requestedExecutionLevel uiAccess=\"false\" level = \"highestAvailable\" />\n"
    "    </asmv3:requestedPrivileges></asmv3:security></asmv3:trustInfo>\n"
    "</asmv1:assembly>\n";

// ---------------------------------------------------------------------------
// A PE32 image with one section, .rsrc, holding the given resources.

struct Resource {
    uint32_t type, id, language;
    Bytes bytes;
};

struct Pe {
    Bytes file;
    std::map<std::pair<uint32_t, uint32_t>, size_t> dataEntry;  // (type, id) -> file offset of its data entry
    std::map<std::pair<uint32_t, uint32_t>, size_t> data;       // (type, id) -> file offset of its bytes
    std::vector<size_t> directories;                           // file offsets of every directory
};

constexpr uint32_t SECTION_RVA = 0x1000;
constexpr size_t SECTION_OFFSET = 0x200;

// Resources must be given sorted by type, then id; one language each.
Pe buildPe(const std::vector<Resource>& resources) {
    std::vector<uint32_t> types;
    for (const Resource& r : resources)
        if (types.empty() || types.back() != r.type) types.push_back(r.type);

    Bytes rsrc;
    auto directory = [&](size_t entries) {
        const size_t at = rsrc.size();
        rsrc.resize(at + 16 + 8 * entries, 0);
        put16(rsrc, at + 14, (uint32_t)entries);
        return at;
    };
    Pe pe;
    std::vector<size_t> languageDirs;
    const size_t root = directory(types.size());
    pe.directories.push_back(root);
    size_t next = 0;
    for (size_t t = 0; t < types.size(); t++) {
        size_t count = 0;
        while (next + count < resources.size() && resources[next + count].type == types[t]) count++;
        const size_t idDir = directory(count);
        pe.directories.push_back(idDir);
        put32(rsrc, root + 16 + 8 * t, types[t]);
        put32(rsrc, root + 16 + 8 * t + 4, 0x80000000u | (uint32_t)idDir);
        for (size_t i = 0; i < count; i++) {
            const size_t languageDir = directory(1);
            pe.directories.push_back(languageDir);
            languageDirs.push_back(languageDir);
            put32(rsrc, idDir + 16 + 8 * i, resources[next + i].id);
            put32(rsrc, idDir + 16 + 8 * i + 4, 0x80000000u | (uint32_t)languageDir);
        }
        next += count;
    }
    std::vector<size_t> entries;
    for (size_t i = 0; i < resources.size(); i++) {
        entries.push_back(rsrc.size());
        rsrc.resize(rsrc.size() + 16, 0);
        put32(rsrc, languageDirs[i] + 16, resources[i].language);
        put32(rsrc, languageDirs[i] + 20, (uint32_t)entries[i]);
    }
    for (size_t i = 0; i < resources.size(); i++) {
        pad4(rsrc);
        put32(rsrc, entries[i], SECTION_RVA + (uint32_t)rsrc.size());
        put32(rsrc, entries[i] + 4, (uint32_t)resources[i].bytes.size());
        const auto key = std::make_pair(resources[i].type, resources[i].id);
        pe.dataEntry[key] = SECTION_OFFSET + entries[i];
        pe.data[key] = SECTION_OFFSET + rsrc.size();
        rsrc.insert(rsrc.end(), resources[i].bytes.begin(), resources[i].bytes.end());
    }
    for (size_t& d : pe.directories) d += SECTION_OFFSET;
    while (rsrc.size() % 0x200) rsrc.push_back(0);

    Bytes& f = pe.file;
    f.assign(SECTION_OFFSET, 0);
    f[0] = 'M';
    f[1] = 'Z';
    put32(f, 0x3C, 0x40);
    put32(f, 0x40, 0x00004550);
    const size_t coff = 0x44, optional = coff + 20, section = optional + 224;
    put16(f, coff, 0x14C);       // i386
    put16(f, coff + 2, 1);       // one section
    put16(f, coff + 16, 224);    // optional header size
    put16(f, optional, 0x10B);   // PE32
    put32(f, optional + 92, 16);  // data directories
    put32(f, optional + 96 + 16, SECTION_RVA);
    put32(f, optional + 96 + 20, (uint32_t)rsrc.size());
    std::memcpy(&f[section], ".rsrc", 5);
    put32(f, section + 8, (uint32_t)rsrc.size());
    put32(f, section + 12, SECTION_RVA);
    put32(f, section + 16, (uint32_t)rsrc.size());
    put32(f, section + 20, SECTION_OFFSET);
    f.insert(f.end(), rsrc.begin(), rsrc.end());
    return pe;
}

Bytes samplePackage() { return orlotest::buildTestPackage(orlotest::sampleFiles()); }

// Everything inspect decodes: pictures, package, version block, manifest.
std::vector<Resource> sampleResources() {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 1, 0, 0, 0, 1, 0};
    return {
        {2, 101, 1033, dib(3, -2, 24, 0, 24)},
        {3, 1, 1033, iconImage(16)},
        {3, 2, 1033, png},
        {10, 100, 1033, samplePackage()},
        {14, 100, 1033, iconGroup({{16, 16, 4, 1}, {0, 0, 32, 2}})},
        {16, 1, 1033, sampleVersion()},
        {24, 1, 2057, text(SAMPLE_MANIFEST)},
    };
}

struct ToolRun {
    int exitCode;
    std::string out, err;
};

class InspectExecutable : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("orlo-inspect-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    ToolRun inspect(const Bytes& file) const { return inspectAll({file})[0]; }

    // Runs inspect on each file, a few processes at a time.
    std::vector<ToolRun> inspectAll(const std::vector<Bytes>& files) const {
        std::vector<ToolRun> results(files.size(), ToolRun{-1, "", ""});
        const size_t batch = 4;
        for (size_t first = 0; first < files.size(); first += batch) {
            const size_t last = std::min(files.size(), first + batch);
            std::vector<FILE*> pipes;
            for (size_t i = first; i < last; i++) {
                const fs::path exe = dir_ / ("x" + std::to_string(i - first) + ".exe");
                std::ofstream out(exe, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(files[i].data()), (std::streamsize)files[i].size());
                out.close();
                const std::string command = std::string(ORLO_PACK_PATH) + " inspect " + exe.string() + " 2>" +
                                            (dir_ / ("err" + std::to_string(i - first))).string();
                pipes.push_back(popen(command.c_str(), "r"));
            }
            for (size_t i = first; i < last; i++) {
                FILE* pipe = pipes[i - first];
                if (!pipe) continue;
                char chunk[4096];
                size_t n;
                while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) results[i].out.append(chunk, n);
                const int status = pclose(pipe);
                results[i].exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                std::ifstream in(dir_ / ("err" + std::to_string(i - first)));
                results[i].err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
        }
        return results;
    }

    // Damage must end in exit 2 with nothing on stdout and one error line.
    static ::testing::AssertionResult refused(const ToolRun& r, const std::string& mentions) {
        if (r.exitCode != 2 || !r.out.empty() || r.err.rfind("orlo-pack: error: ", 0) != 0 ||
            r.err.find('\n') != r.err.size() - 1 || r.err.find(mentions) == std::string::npos)
            return ::testing::AssertionFailure() << "exit " << r.exitCode << "\nstdout:\n" << r.out << "stderr:\n" << r.err;
        return ::testing::AssertionSuccess();
    }

    // Any input: exit 0 with a report, or exit 2 with one error line.
    static ::testing::AssertionResult handled(const ToolRun& r) {
        if (r.exitCode == 0 && r.err.empty() && r.out.rfind("package: ", 0) == 0) return ::testing::AssertionSuccess();
        if (r.exitCode == 2 && r.out.empty() && r.err.rfind("orlo-pack: error: ", 0) == 0 &&
            r.err.find('\n') == r.err.size() - 1)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "exit " << r.exitCode << "\nstdout:\n" << r.out << "stderr:\n" << r.err;
    }

    fs::path dir_;
};

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    size_t at = 0, end;
    while ((end = s.find('\n', at)) != std::string::npos) {
        out.push_back(s.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

TEST_F(InspectExecutable, ReportsResourcesVersionStringsAndManifestAfterTheEntries) {
    const Pe pe = buildPe(sampleResources());
    const ToolRun r = inspect(pe.file);
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::vector<std::string> expected = {
        "resources: 7",
        "resource RT_BITMAP         101  language  1033  size         64  bitmap 3x2, 24 bpp, BI_RGB, top-down",
        "resource RT_ICON             1  language  1033  size        296  icon image 16x16, 4 bpp",
        "resource RT_ICON             2  language  1033  size         24  icon image 256x256, PNG",
        "resource RT_RCDATA         100  language  1033  size       5276",
        "resource RT_GROUP_ICON     100  language  1033  size         34  icon group: #1 16x16 4 bpp, #2 256x256 32 bpp",
        "resource RT_VERSION          1  language  1033  size " + std::string(10 - std::to_string(sampleVersion().size()).size(), ' ') +
            std::to_string(sampleVersion().size()),
        "resource RT_MANIFEST         1  language  2057  size " +
            std::string(10 - std::to_string(std::string(SAMPLE_MANIFEST).size()).size(), ' ') +
            std::to_string(std::string(SAMPLE_MANIFEST).size()),
        "version: file 2.3.4.5, product 1.10.11.12, flags mask 0x3f, flags 0x2, os 0x40004, type 0x2, subtype 0x0",
        "version strings 000004b0:",
        "  CompanyName = \"Caf\xC3\xA9 \xF0\x9F\x93\xBB Radio\"",
        "  Comments = \"say \\\"hi\\\"\\x09tab \\\\ back\"",
        "  Lone = \"x\xEF\xBF\xBDy\"",
        "  Unterminated = \"abcd\"",
        "  Empty = \"\"",
        "version strings 040904e4:",
        "  ProductName = \"Second table\"",
        "version translation: language 0x0000, code page 0x04b0",
        "version translation: language 0x0409, code page 0x04e4",
        "manifest assemblyIdentity: name=\"A&B\" version=\"2.0.0.0\" type=\"win32\"",
        "manifest description: \"Fish & chips\"",
        "manifest requestedExecutionLevel: highestAvailable",
        "manifest supportedOS: {one}",
        "manifest supportedOS: {two}",
    };
    const std::vector<std::string> got = lines(r.out);
    // The package lines come first, exactly as for a package file.
    ASSERT_EQ(4 + expected.size(), got.size()) << r.out;
    EXPECT_EQ("package: 5276 bytes", got[0]);
    for (int i = 0; i < 3; i++) EXPECT_EQ(0u, got[1 + i].rfind("entry " + std::to_string(i) + ": ", 0)) << got[1 + i];
    for (size_t i = 0; i < expected.size(); i++) EXPECT_EQ(expected[i], got[4 + i]);
}

TEST_F(InspectExecutable, SaysNoneForAMissingVersionBlockOrManifestAndNothingExtraForAPackageFile) {
    const ToolRun bare = inspect(buildPe({{10, 100, 1033, samplePackage()}}).file);
    ASSERT_EQ(0, bare.exitCode) << bare.err;
    const std::vector<std::string> got = lines(bare.out);
    ASSERT_EQ(8u, got.size()) << bare.out;
    EXPECT_EQ("resources: 1", got[4]);
    EXPECT_EQ("version: none", got[6]);
    EXPECT_EQ("manifest: none", got[7]);

    const ToolRun package = inspect(samplePackage());
    ASSERT_EQ(0, package.exitCode) << package.err;
    EXPECT_EQ(4u, lines(package.out).size()) << package.out;
}

TEST_F(InspectExecutable, RefusesDamagedResourcesWithOneErrorLine) {
    struct Case {
        std::string what, mentions;
        std::vector<Resource> resources;
        std::function<void(Pe&)> damage;
    };
    auto with = [](uint32_t type, uint32_t id, Bytes bytes) {
        std::vector<Resource> all = sampleResources();
        for (Resource& r : all)
            if (r.type == type && r.id == id) r.bytes = std::move(bytes);
        return all;
    };
    auto none = [](Pe&) {};
    const Bytes version = sampleVersion();
    auto versionWith = [&](size_t at, uint32_t value16) {
        Bytes v = version;
        put16(v, at, value16);
        return with(16, 1, v);
    };
    // Offsets into sampleVersion(): root header, its key, fixed part, first child.
    const size_t rootKeyEnd = 6 + 2 * 16, fixed = (rootKeyEnd + 3) & ~3u, firstChild = fixed + 52;
    const Bytes unterminatedKey = {10, 0, 0, 0, 0, 0, 'V', 0, 'S', 0};
    Bytes translation(4, 0);
    Bytes shortTranslation = versionBlock(
        u"VS_VERSION_INFO", {}, 0, 0, {versionBlock(u"VarFileInfo", {}, 0, 1, {versionBlock(u"Translation", translation, 40, 0)})});

    const std::vector<Case> cases = {
        {"version block longer than its resource", "runs past its parent", versionWith(0, (uint32_t)version.size() + 4), none},
        {"version block shorter than its header", "shorter than its header", versionWith(0, 4), none},
        {"child block longer than its parent", "runs past its parent", versionWith(firstChild, 0xFFF0), none},
        {"child block shorter than its header", "shorter than its header", versionWith(firstChild, 3), none},
        {"root key unterminated", "key is not terminated", with(16, 1, unterminatedKey), none},
        {"root key not VS_VERSION_INFO", "VS_VERSION_INFO", versionWith(6, 'W'), none},
        {"fixed part signature", "signature", versionWith(fixed, 0x1234), none},
        {"fixed part too short", "fixed part", versionWith(2, 20), none},
        {"fixed part past the block", "runs past", versionWith(2, 0xFFF0), none},
        {"translation past its block", "translation list", with(16, 1, shortTranslation), none},
        {"manifest comment not closed", "comment is not closed", with(24, 1, text("<assembly><!-- open")), none},
        {"manifest tag not closed", "tag is not closed", with(24, 1, text("<assembly><supportedOS Id=\"{x}\"")), none},
        {"manifest attribute without value", "no value", with(24, 1, text("<supportedOS Id/>")), none},
        {"manifest attribute unquoted", "not quoted", with(24, 1, text("<supportedOS Id={x}/>")), none},
        {"manifest value not closed", "not closed", with(24, 1, text("<supportedOS Id=\"{x}/>")), none},
        {"manifest in UTF-16", "UTF-16", with(24, 1, Bytes{0xFF, 0xFE, '<', 0}), none},
        {"manifest not UTF-8", "UTF-8", with(24, 1, Bytes{'<', 'a', ' ', 'b', '=', '"', 0xC3, '"', '/', '>'}), none},
        {"bitmap pixels cut short", "shorter than its pixels", with(2, 101, dib(900, 424, 24, 0, 100)), none},
        {"bitmap header cut short", "BITMAPINFOHEADER", with(2, 101, Bytes(30, 0)), none},
        {"bitmap of zero width", "width", with(2, 101, dib(0, 4, 24, 0, 0)), none},
        {"icon image mask cut short", "pixels and mask", with(3, 1, dib(16, 32, 4, 0, 64 + 128)), none},
        {"icon image palette cut short", "colour table", with(3, 1, dib(16, 32, 8, 0, 100)), none},
        {"icon image height not doubled", "twice", with(3, 1, dib(16, 15, 4, 0, 400)), none},
        {"icon group list cut short", "image list", with(14, 100, Bytes{0, 0, 1, 0, 3, 0, 16, 16}), none},
        {"icon group header", "valid header", with(14, 100, Bytes{0, 0, 2, 0, 0, 0}), none},
        {"directory that links to itself", "one directory twice", sampleResources(),
         [](Pe& pe) { put32(pe.file, pe.directories[1] + 20, 0x80000000u | (uint32_t)(pe.directories[1] - SECTION_OFFSET)); }},
        {"two resources claiming the package's bytes", "overlap", sampleResources(),
         [](Pe& pe) {
             const Bytes entry(pe.file.begin() + pe.dataEntry[{10, 100}], pe.file.begin() + pe.dataEntry[{10, 100}] + 8);
             std::copy(entry.begin(), entry.end(), pe.file.begin() + pe.dataEntry[{3, 1}]);
             std::copy(entry.begin(), entry.end(), pe.file.begin() + pe.dataEntry[{24, 1}]);
         }},
        {"resource data past the section", "section", sampleResources(),
         [](Pe& pe) { put32(pe.file, pe.dataEntry[{16, 1}] + 4, 0x7FFFFF); }},
    };
    std::vector<Bytes> files;
    for (const Case& c : cases) {
        Pe pe = buildPe(c.resources);
        c.damage(pe);
        files.push_back(pe.file);
    }
    const std::vector<ToolRun> runs = inspectAll(files);
    for (size_t i = 0; i < cases.size(); i++) EXPECT_TRUE(refused(runs[i], cases[i].mentions)) << cases[i].what;
}

// Every shortened declared size of the decoded resources, and broken length
// fields throughout the version block: each run ends in a report or in one
// error line. The tool is built with AddressSanitizer, so a read past a
// buffer ends the run with a different exit code.
TEST_F(InspectExecutable, SurvivesEveryTruncationOfDecodedResourcesAndBrokenVersionLengths) {
    const Pe good = buildPe(sampleResources());
    std::vector<Bytes> files;
    std::vector<std::string> what;
    // Cut steps: every third byte of the version block (both parities of its
    // UTF-16 text), coarser for the simpler formats.
    const struct {
        uint32_t type, id, step;
    } decoded[] = {{16, 1, 3}, {24, 1, 13}, {14, 100, 2}, {3, 1, 24}, {2, 101, 8}, {3, 2, 8}};
    for (const auto& d : decoded) {
        const size_t entry = good.dataEntry.at({d.type, d.id});
        const uint32_t size = good.file[entry + 4] | good.file[entry + 5] << 8;
        for (uint32_t cut = 0; cut < size; cut += d.step) {
            Pe pe = good;
            put32(pe.file, entry + 4, cut);
            files.push_back(pe.file);
            what.push_back("type " + std::to_string(d.type) + " id " + std::to_string(d.id) + " cut to " +
                           std::to_string(cut));
        }
    }
    // wLength and wValueLength of every block, found by the keys written.
    const size_t version = good.data.at({16, 1});
    const size_t versionSize = sampleVersion().size();
    static const char* const keys[] = {"VS_VERSION_INFO", "StringFileInfo", "000004b0",    "CompanyName",
                                       "Comments",        "Lone",           "Unterminated", "Empty",
                                       "040904e4",        "ProductName",    "VarFileInfo",  "Translation"};
    std::vector<size_t> headers;
    for (size_t at = 0; at + 6 <= versionSize; at += 2) {
        for (const char* k : keys) {
            bool match = at + 6 + 2 * std::strlen(k) <= versionSize;
            for (size_t i = 0; match && k[i]; i++) match = good.file[version + at + 6 + 2 * i] == (uint8_t)k[i];
            if (match) headers.push_back(at);
        }
    }
    ASSERT_EQ(12u, headers.size());
    for (size_t header : headers) {
        for (size_t field : {0, 2}) {
            for (uint32_t value : {0u, 5u, 7u, 0x7FFFu, 0xFFFFu}) {
                Pe pe = good;
                put16(pe.file, version + header + field, value);
                files.push_back(pe.file);
                what.push_back("block at " + std::to_string(header) + " field " + std::to_string(field) + " = " +
                               std::to_string(value));
            }
        }
    }
    const std::vector<ToolRun> runs = inspectAll(files);
    for (size_t i = 0; i < runs.size(); i++) EXPECT_TRUE(handled(runs[i])) << what[i];
}

}  // namespace
