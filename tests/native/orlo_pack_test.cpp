// The packaging tool as a release engineer uses it: build, inspect, verify
// and extract on packages and on installers built here, and a one-line
// error with a defined exit code for every kind of bad input.
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
Bytes read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Exit 2, nothing on stdout, one error line naming `word` (a usage error adds the usage text after it).
::testing::AssertionResult refused(const ToolRun& r, const std::string& word) {
    const size_t end = r.err.find('\n');
    return ::testing::AssertionResult(r.exitCode == 2 && r.out.empty() && r.err.rfind("orlo-pack: error: ", 0) == 0 &&
                                      has(r.err.substr(0, end), word) &&
                                      (end + 1 == r.err.size() || r.err.compare(end + 1, 7, "usage: ") == 0))
           << r;
}

class OrloPack : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        for (const auto& f : files_) write(f.name, f.bytes), build_ += " " + f.name + "=" + path(f.name);
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

    const std::string dir_ = (fs::temp_directory_path() / "orlo-pack-test-").string() + std::to_string(getpid()) + "-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::vector<TestFile> files_ = sampleFiles();
    std::string build_ = "build -o " + path("p.pkg");  // and the three files
};

TEST_F(OrloPack, BuildInspectAndExtractGiveTheFilesBackAndVerifyNamesEachEntryThatFails) {
    ASSERT_EQ(0, run(build_).exitCode);
    EXPECT_EQ(read(path("p.pkg")), buildTestPackage(files_));  // the in-memory builder's package, byte for byte
    EXPECT_EQ(0, run("verify " + path("p.pkg")).exitCode);
    EXPECT_TRUE(has(run("inspect " + path("p.pkg")).out, "Orlocast.exe                     offset        468"));
    ASSERT_EQ(0, run("extract " + path("p.pkg") + " " + path("out")).exitCode);
    for (const auto& f : files_) EXPECT_EQ(read(path("out/" + f.name)), f.bytes) << f.name;

    // A stored byte fails its entry and, through the key chain, every later
    // one; a digest byte only its own entry.
    Bytes good = read(path("p.pkg"));
    for (int flipped = 0; flipped < 3; flipped++) {
        const PackageEntry e = *entryAt(good, flipped);
        for (const size_t at : {(size_t)e.offset, (size_t)e.offset + e.size - 1, (size_t)156 * flipped + 151}) {
            Bytes damaged = good;
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
    for (const auto& [arguments, word] : cases) EXPECT_TRUE(refused(run(arguments), word)) << arguments;
    EXPECT_FALSE(fs::exists(path("x")));
}

// The installer's order: entry k is descrambled, checked and written before
// entry k+1's region is touched, so an overlapping later region never
// changes the bytes of a file already checked. Entry 1 here is entry 0's
// first 100 stored bytes, its digest made to match them or not.
TEST_F(OrloPack, ExtractWritesEachEntryBeforeTouchingTheNextRegion) {
    for (const bool matching : {false, true}) {
        Bytes image = buildTestPackage(files_);
        PackageEntry *second = entryAt(image, 1), *third = entryAt(image, 2);
        second->offset = entryAt(image, 0)->offset;
        second->size = 100;
        // The chain as the installer runs it, and entry 2 scrambled afresh for its new key.
        Bytes copy = image;
        PackageChain chain;
        startPackageChain(&chain);
        for (int i = 0; i < 2; i++) unpackEntryInPlace(copy.data(), (uint32_t)copy.size(), entryAt(image, i), &chain);
        if (matching) md5Digest(copy.data() + second->offset, 100, second->digest);
        std::copy(files_[2].bytes.begin(), files_[2].bytes.end(), image.begin() + third->offset);
        scramblePackageBytes(chain.seed, image.data() + third->offset, third->size, chain.key);
        write("o.pkg", image);
        fs::remove_all(path("out"));

        const ToolRun r = run("extract " + path("o.pkg") + " " + path("out"));
        EXPECT_EQ(matching ? 0 : 1, r.exitCode) << r;
        EXPECT_EQ(matching ? 0 : 1, run("verify " + path("o.pkg")).exitCode);
        for (int i : {0, 2}) EXPECT_EQ(read(path("out/" + files_[i].name)), files_[i].bytes) << matching << i;
        // Entry 1 as the installer's order leaves it, when it verifies; no file when not.
        const Bytes entry1(copy.begin() + second->offset, copy.begin() + second->offset + 100);
        EXPECT_EQ(read(path("out/" + files_[1].name)), matching ? entry1 : Bytes()) << matching;
    }
}

// An entry that cannot be written is reported and counted, and the others
// are still written (exit 1); links in the output folder are never written
// through, nor is a link at build's output.
TEST_F(OrloPack, ExtractGoesOnPastEntriesItCannotWriteAndNeverFollowsLinks) {
    const std::string out = path("a/out"), victim = path("victim"), a = files_[0].name, b = files_[1].name;
    const Bytes kept = {'k', 'e', 'p', 't'};
    // Entry names (which build may refuse), what is planted, the entry not written (-1 for none), a word of its error.
    const std::tuple<std::string, std::string, std::function<void()>, int, std::string> cases[] = {
        {a, "..\\..\\escaped.txt", [] {}, 1, "leave"},
        {"docs", "docs\\readme.txt", [] {}, 1, "docs"},  // a file where a folder is needed
        {a, b, [&] { fs::create_directories(out + "/" + files_[2].name); }, 2, files_[2].name},
        {a, "docs\\readme.txt", [&] { fs::create_directory_symlink(victim, out + "/docs"); }, 1, "link"},
        {a, b, [&] { fs::create_symlink(victim + "/f", out + "/" + a + ".orlo-tmp"); }, -1, ""},
        {a, b, [&] { fs::create_symlink(victim + "/f", out + "/" + a); }, -1, ""}};
    for (const auto& [first, second, plant, failing, word] : cases) {
        Bytes image = buildTestPackage(files_);
        setEntryName(image, 0, first);
        setEntryName(image, 1, second);
        write("p.pkg", image);
        for (const std::string& folder : {out, victim}) fs::remove_all(folder), fs::create_directories(folder);
        write("victim/f", kept);
        plant();
        const ToolRun r = run("extract " + path("p.pkg") + " " + out);
        SCOPED_TRACE(second + " " + std::to_string(failing) + "\n" + ::testing::PrintToString(r.err));
        EXPECT_EQ(failing < 0 ? 0 : 1, r.exitCode);
        if (failing >= 0) EXPECT_EQ(0u, r.err.find("orlo-pack: error: entry " + std::to_string(failing)));
        EXPECT_TRUE(has(r.err, word));
        // The last entry not refused was written; nothing reached a link's target or left the folder.
        const int last = failing == 2 ? 1 : 2;
        EXPECT_EQ(read(out + "/" + files_[last].name), files_[last].bytes);
        EXPECT_EQ(read(victim + "/f"), kept);
        EXPECT_EQ(1, std::distance(fs::directory_iterator(victim), fs::directory_iterator()));
        EXPECT_FALSE(fs::exists(path("escaped.txt")));  // two folders above the output
    }
    for (const std::string link : {"p.pkg.orlo-tmp", "p.pkg"}) {
        for (const char* name : {"p.pkg", "p.pkg.orlo-tmp"}) fs::remove(path(name));
        fs::create_symlink(victim + "/f", path(link));
        EXPECT_EQ(0, run(build_).exitCode) << link;
        EXPECT_EQ(read(path("p.pkg")), buildTestPackage(files_)) << link;
        EXPECT_TRUE(read(victim + "/f") == kept && !fs::is_symlink(path("p.pkg"))) << link;
    }
}

// Installers: the package is resource RT_RCDATA 100.
TEST_F(OrloPack, InspectDecodesAnInstallersResourcesAndVerifyPassesIt) {
    Bytes installer = buildPe(installerResources(buildTestPackage(files_)));
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
    // The package's lines come first, exactly as for the package file.
    write("p.pkg", buildTestPackage(files_));
    std::string expected = run("inspect " + path("p.pkg")).out;
    for (const std::string& line : lines) expected += line + "\n";
    EXPECT_EQ(expected, run("inspect " + path("setup.exe")).out);
    EXPECT_EQ(0, run("verify " + path("setup.exe")).exitCode);

    put16(installer, SECTION_OFFSET + 14, 3);  // the first three types only: no version, no manifest
    write("bare.exe", installer);
    EXPECT_TRUE(has(run("inspect " + path("bare.exe")).out, "\nversion: none\nmanifest: none\n"));
}

// Executables whose package Windows could read otherwise than the tool, or
// whose reading would not end: inspect, verify and extract refuse each one
// with exit 2 and one line, at once.
TEST_F(OrloPack, RefusesExecutablesItCannotReadAsWindowsWould) {
    for (const auto& [what, file, refusal] : refusedExecutables(buildTestPackage(files_), true)) {
        write("x.exe", file);
        for (const std::string command : {"inspect ", "verify ", "extract "}) {
            const std::string output = command == "extract " ? " " + path("out") : "";
            EXPECT_TRUE(refused(run(command + path("x.exe") + output), refusal)) << command << what;
        }
    }
    EXPECT_FALSE(fs::exists(path("out/" + files_[0].name)));
}

}  // namespace
