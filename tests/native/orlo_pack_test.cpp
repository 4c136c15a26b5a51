// The packaging tool as a release engineer uses it: build, inspect, verify and extract on packages and installers
// built here, and a one-line error with a defined exit code for every kind of bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/support/test_package.h"
#include "tests/support/test_pe.h"

namespace fs = std::filesystem;
using namespace orlotest;

namespace {

struct ToolRun {
    int exitCode;
    std::string out, err;
};
std::ostream& operator<<(std::ostream& os, const ToolRun& r) { return os << r.exitCode << "\n" << r.out << r.err; }
bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
Bytes read(const std::string& path) {  // empty for a folder or a missing file
    std::ifstream in(path, std::ios::binary);
    return fs::is_directory(path) ? Bytes() : Bytes(std::istreambuf_iterator<char>(in), {});
}

// Exit 2, nothing on stdout, one error line naming `word` (a usage error adds the usage text after it).
bool refused(const ToolRun& r, const std::string& word) {
    const size_t end = r.err.find('\n');
    return r.exitCode == 2 && r.out.empty() && r.err.rfind("orlo-pack: error: ", 0) == 0 &&
           has(r.err.substr(0, end), word) && (end + 1 == r.err.size() || r.err.compare(end + 1, 7, "usage: ") == 0);
}

class OrloPack : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir_);
        fs::create_directories(dir_ + "/victim");
        for (const auto& f : files_) write(f.name, f.bytes), build_ += " " + f.name + "=" + path(f.name);
        write("victim/f", kept_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(path(name), std::ios::binary).write((const char*)bytes.data(), (std::streamsize)bytes.size());
    }
    ToolRun run(const std::string& arguments) const {
        const int status = std::system((ORLO_PACK_PATH " " + arguments + " >" + path("o") + " 2>" + path("e")).c_str());
        const Bytes out = read(path("o")), err = read(path("e"));
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
    }
    // Nothing was written through a link to the victim folder.
    bool victimKept() const {
        return read(path("victim/f")) == kept_ &&
               std::distance(fs::directory_iterator(path("victim")), fs::directory_iterator()) == 1;
    }

    const std::string dir_ = (fs::temp_directory_path() / "orlo-pack-test-").string() + std::to_string(getpid()) + "-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::vector<TestFile> files_ = sampleFiles();
    Bytes package_ = buildTestPackage(files_), kept_ = {'k', 'e', 'p', 't'};
    std::string build_ = "build -o " + path("p.pkg");  // and the three files
};

// Build writes the in-memory builder's package, replacing links at its output and temporary names, not following
// them; verify names each entry that fails and changes nothing.
TEST_F(OrloPack, BuildWritesThePackageAndVerifyNamesEachEntryThatFails) {
    for (const char* link : {"p.pkg", "p.pkg.orlo-tmp"}) fs::create_symlink(path("victim/f"), path(link));
    ASSERT_EQ(0, run(build_).exitCode);
    EXPECT_TRUE(read(path("p.pkg")) == package_ && !fs::is_symlink(path("p.pkg")) && victimKept());
    EXPECT_EQ(0, run("verify " + path("p.pkg")).exitCode);
    EXPECT_TRUE(has(run("inspect " + path("p.pkg")).out, "Orlocast.exe                     offset        468"));

    // A stored byte (the first, the last) fails its entry and, through the key chain, every later one; a digest byte
    // only its own entry.
    for (int flipped = 0; flipped < 3; flipped++) {
        const PackageEntry e = *entryAt(package_, flipped);
        for (const size_t at : {(size_t)e.offset, (size_t)e.offset + e.size - 1, (size_t)156 * flipped + 151}) {
            Bytes damaged = package_;
            damaged[at] ^= 1;
            write("d.pkg", damaged);
            const ToolRun r = run("verify " + path("d.pkg"));
            EXPECT_EQ(1, r.exitCode) << r;
            for (int i = 0; i < 3; i++) {
                const bool fails = i == flipped || (i > flipped && at >= PACKAGE_HEADER_SIZE);
                EXPECT_TRUE(has(r.out, files_[i].name + (fails ? ": FAILED" : ": ok"))) << i << " " << at << "\n" << r;
            }
            EXPECT_EQ(read(path("d.pkg")), damaged) << "verify changed the file it reads";
        }
    }
}

TEST_F(OrloPack, BadUsageAndUnreadableInputExitTwoWithOneErrorLine) {
    write("empty.bin", {});
    write("short.pkg", Bytes(468, 0));
    write("notpe.exe", {'M', 'Z', 0, 0});
    const std::string o = "build -o " + path("x") + " ", c = path(files_[2].name);
    const std::string ab = "a=" + path(files_[0].name) + " b=" + path(files_[1].name) + " ";
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"", "command"}, {"frobnicate", "unknown"}, {"build " + ab + "c=" + c, "-o"}, {o + ab, "three"},
        {o + ab + "c=" + path("missing"), "missing"}, {o + ab + "c=" + path("empty.bin"), "empty"},
        {o + ab + std::string(128, 'n') + "=" + c, "127"}, {o + ab + "'..\\c=" + c + "'", "relative"},
        {o + ab + "A=" + c, "same name"}, {o + ab + "noequals", "NAME=PATH"}, {"build -o " + dir_ + " " + ab + "c=" + c, "folder"},
        {"verify " + path("short.pkg"), "truncated"}, {"inspect " + path("missing"), "cannot open"},
        {"inspect " + path("notpe.exe"), "PE"}, {"verify " + dir_, "folder"}, {"extract " + path("short.pkg"), "DIR"},
        {"extract " + c + " " + path(files_[0].name), "create"}};
    // clang-format on
    for (const auto& [arguments, word] : cases) {
        const ToolRun r = run(arguments);
        EXPECT_TRUE(refused(r, word)) << arguments << "\n" << r;
    }
    EXPECT_FALSE(fs::exists(path("x")));
}

// Extract works in the installer's order: entry k is descrambled, checked and written before entry k+1's region is
// touched, so an overlapping later region never changes a file already checked. An entry that fails or cannot be
// written is named on one error line and counted (exit 1), and the others still go out; links are never followed.
TEST_F(OrloPack, ExtractWritesEachEntryInTurnGoesOnPastFailuresAndNeverFollowsLinks) {
    // Entry 1 made of entry 0's first 100 stored bytes, its digest matching them as that order leaves them, or not;
    // entry 2 scrambled afresh for the key the chain then gives.
    Bytes overlaps[2] = {package_, package_}, entry1;
    for (Bytes& image : overlaps) {
        PackageEntry *second = entryAt(image, 1), *third = entryAt(image, 2);
        second->offset = entryAt(image, 0)->offset, second->size = 100;
        Bytes copy = image;
        PackageChain chain;
        startPackageChain(&chain);
        for (int i = 0; i < 2; i++) unpackEntryInPlace(copy.data(), (uint32_t)copy.size(), entryAt(image, i), &chain);
        entry1.assign(copy.begin() + second->offset, copy.begin() + second->offset + 100);
        if (&image == overlaps) md5Digest(entry1.data(), 100, second->digest);
        std::copy(files_[2].bytes.begin(), files_[2].bytes.end(), image.begin() + third->offset);
        scramblePackageBytes(chain.seed, image.data() + third->offset, third->size, chain.key);
    }
    const std::string out = path("a/out"), victim = path("victim"), a = files_[0].name, b = files_[1].name;
    // Names of entries 0 and 1 (which build may refuse), the package, what is planted, the entry not written (-1 for
    // none) and a word of its error.
    const std::tuple<std::string, std::string, Bytes, std::function<void()>, int, std::string> cases[] = {
        {a, b, package_, [] {}, -1, ""},
        {a, b, overlaps[0], [] {}, -1, ""},
        {a, b, overlaps[1], [] {}, 1, "digest"},
        {a, "..\\..\\escaped.txt", package_, [] {}, 1, "leave"},
        {"docs", "docs\\readme.txt", package_, [] {}, 1, "docs"},  // a file where a folder is needed
        {a, b, package_, [&] { fs::create_directories(out + "/" + files_[2].name); }, 2, files_[2].name},
        {a, "docs\\readme.txt", package_, [&] { fs::create_directory_symlink(victim, out + "/docs"); }, 1, "link"},
        {a, b, package_,
         [&] {
             for (const std::string& name : {a, a + ".orlo-tmp"}) fs::create_symlink(victim + "/f", out + "/" + name);
         },
         -1, ""}};
    for (const auto& [first, second, image, plant, failing, word] : cases) {
        Bytes named = image;
        setEntryName(named, 0, first);
        setEntryName(named, 1, second);
        write("p.pkg", named);
        fs::remove_all(out);
        fs::create_directories(out);
        plant();
        const ToolRun r = run("extract " + path("p.pkg") + " " + out);
        SCOPED_TRACE(second + " " + std::to_string(failing) + "\n" + ::testing::PrintToString(r.err));
        EXPECT_EQ(failing < 0 ? 0 : 1, r.exitCode);
        if (failing >= 0) EXPECT_EQ(0u, r.err.find("orlo-pack: error: entry " + std::to_string(failing)));
        EXPECT_TRUE(has(r.err, word));
        // Each entry written whole where its name says (entry 1 of an overlap as the installer's order leaves it),
        // or nothing there; nothing reached a link's target.
        for (std::string name : {first, second, files_[2].name}) {
            const int i = name == first ? 0 : name == second ? 1 : 2;
            std::replace(name.begin(), name.end(), '\\', '/');
            const Bytes& whole = i == 1 && image != package_ ? entry1 : files_[i].bytes;
            EXPECT_EQ(read(out + "/" + name), i == failing ? Bytes() : whole) << name;
        }
        EXPECT_TRUE(victimKept());
    }
    write("o.pkg", overlaps[0]);  // verify reads the overlap as the installer does
    EXPECT_EQ(0, run("verify " + path("o.pkg")).exitCode);
}

// Installers: the package is resource RT_RCDATA 100. A sound one is decoded and verifies; one whose package Windows
// could read otherwise than the tool, or whose reading would not end, is refused by inspect, verify and extract with
// exit 2 and one line.
TEST_F(OrloPack, DecodesASoundInstallerAndRefusesThoseItCannotReadAsWindowsWould) {
    Bytes installer = buildPe(installerResources(package_));
    write("setup.exe", installer);
    const auto size = [](size_t n) { return std::string(10 - std::to_string(n).size(), ' ') + std::to_string(n); };
    // clang-format off
    const std::string lines[] = {
        "resources: 6",
        "resource RT_BITMAP         101  language  1033  size         64  bitmap 3x2, 24 bpp, BI_RGB, top-down",
        "resource RT_ICON             1  language  1033  size        296  icon image 16x16, 4 bpp",
        "resource RT_RCDATA         100  language  1033  size       5276",
        "resource RT_GROUP_ICON     100  language  1033  size         20  icon group: #1 16x16 4 bpp",
        "resource RT_VERSION          1  language  1033  size " + size(sampleVersion().size()),
        "resource RT_MANIFEST         1  language  1033  size " + size(strlen(MANIFEST)),
        "version: file 2.3.4.5, product 1.10.11.12, flags mask 0x0, flags 0x0, os 0x0, type 0x0, subtype 0x0",
        "version strings 000004b0:",
        "  CompanyName = \"Caf\xC3\xA9 \xF0\x9F\x93\xBB \\\"Radio\\\"\\x09\\\\\"",
        "version translation: language 0x0000, code page 0x04b0",
        "manifest assemblyIdentity: name=\"A&B\" version=\"2.0.0.0\"",
        "manifest description: \"Fish & chips\"",
        "manifest requestedExecutionLevel: highestAvailable",
        "manifest supportedOS: {one}"};
    // clang-format on
    write("p.pkg", package_);  // the package's lines come first, exactly as for the package file
    std::string expected = run("inspect " + path("p.pkg")).out;
    for (const std::string& line : lines) expected += line + "\n";
    EXPECT_EQ(expected, run("inspect " + path("setup.exe")).out);
    EXPECT_EQ(0, run("verify " + path("setup.exe")).exitCode);
    put16(installer, SECTION_OFFSET + 14, 3);  // the first three types only: no version, no manifest
    write("bare.exe", installer);
    EXPECT_TRUE(has(run("inspect " + path("bare.exe")).out, "\nversion: none\nmanifest: none\n"));

    for (const auto& [what, file, refusal] : refusedExecutables(package_)) {
        write("x.exe", file);
        for (const std::string command : {"inspect ", "verify ", "extract "}) {
            const ToolRun r = run(command + path("x.exe") + (command == "extract " ? " " + path("out") : ""));
            EXPECT_TRUE(refused(r, refusal)) << command << what << "\n" << r;
        }
    }
    EXPECT_FALSE(fs::exists(path("out/" + files_[0].name)));
}

}  // namespace
