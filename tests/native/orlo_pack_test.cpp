// The packaging tool as a release engineer uses it: build, inspect, verify
// and extract on packages and on installers built here, and a one-line
// error with a defined exit code for every kind of bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "package/package.h"
#include "tests/support/test_package.h"
#include "tests/support/test_pe.h"

namespace fs = std::filesystem;
using namespace orlotest;

namespace {

struct ToolRun {
    int exitCode;
    std::string out, err;
    std::string all() const { return out + err; }
};

class OrloPack : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("orlo-pack-test-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        files_ = sampleFiles();
        for (const auto& f : files_) write(f.name, f.bytes);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path path(const std::string& name) const { return dir_ / name; }
    void write(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
    }
    Bytes read(const fs::path& p) const {
        std::ifstream in(p, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    ToolRun run(const std::string& arguments) const {
        const int status = std::system((std::string(ORLO_PACK_PATH) + " " + arguments + " >" + path("stdout").string() +
                                        " 2>" + path("stderr").string()).c_str());
        const Bytes out = read(path("stdout")), err = read(path("stderr"));
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
    }

    std::string buildArguments(const std::string& out) const {
        std::string args = "build -o " + path(out).string();
        for (const auto& f : files_) args += " " + f.name + "=" + path(f.name).string();
        return args;
    }

    fs::path dir_;
    std::vector<TestFile> files_;
};

// Exit 2, nothing on stdout, one error line that mentions `what`.
::testing::AssertionResult refused(const ToolRun& r, const std::string& what) {
    if (r.exitCode == 2 && r.out.empty() && r.err.rfind("orlo-pack: error: ", 0) == 0 &&
        r.err.find('\n') == r.err.size() - 1 && r.err.find(what) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit " << r.exitCode << "\nstdout:\n" << r.out << "stderr:\n" << r.err;
}

TEST_F(OrloPack, BuildVerifyExtractGivesTheFilesBackByteForByte) {
    const ToolRun built = run(buildArguments("p.pkg"));
    ASSERT_EQ(0, built.exitCode) << built.all();
    // The tool's package is the in-memory builder's package, byte for byte.
    EXPECT_EQ(read(path("p.pkg")), buildTestPackage(files_));
    EXPECT_EQ(0, run("verify " + path("p.pkg").string()).exitCode);
    const ToolRun inspected = run("inspect " + path("p.pkg").string());
    EXPECT_EQ(0, inspected.exitCode) << inspected.all();
    EXPECT_NE(std::string::npos, inspected.out.find("OrloCastOnTheShow.pdf"));
    EXPECT_NE(std::string::npos, inspected.out.find("offset        468"));
    const ToolRun extracted = run("extract " + path("p.pkg").string() + " " + path("out").string());
    ASSERT_EQ(0, extracted.exitCode) << extracted.all();
    for (const auto& f : files_) EXPECT_EQ(read(path("out") / f.name), f.bytes) << f.name;
}

TEST_F(OrloPack, VerifyNamesEveryEntryThatFails) {
    const Bytes good = buildTestPackage(files_);
    struct Flip {
        std::string what;
        size_t at;
        int firstFailing, lastFailing;
    };
    std::vector<Flip> flips;
    for (int i = 0; i < 3; i++) {
        const PackageEntry& e = *reinterpret_cast<const PackageEntry*>(good.data() + 156 * i);
        // A stored byte changes this entry and, through the key chain, every later one.
        flips.push_back({"first stored byte of entry " + std::to_string(i), e.offset, i, 2});
        flips.push_back({"last stored byte of entry " + std::to_string(i), e.offset + e.size - 1, i, 2});
        flips.push_back({"digest of entry " + std::to_string(i), (size_t)156 * i + 136 + 15, i, i});
    }
    for (const Flip& flip : flips) {
        Bytes damaged = good;
        damaged[flip.at] ^= 0x01;
        write("d.pkg", damaged);
        const ToolRun verified = run("verify " + path("d.pkg").string());
        EXPECT_EQ(1, verified.exitCode) << flip.what << "\n" << verified.all();
        for (int i = 0; i < 3; i++) {
            const bool fails = i >= flip.firstFailing && i <= flip.lastFailing;
            const std::string line = "entry " + std::to_string(i) + " " + files_[i].name + ": " + (fails ? "FAILED" : "ok");
            EXPECT_NE(std::string::npos, verified.out.find(line)) << flip.what << "\n" << verified.out;
        }
        EXPECT_EQ(read(path("d.pkg")), damaged) << "verify changed the file it reads";
    }
}

TEST_F(OrloPack, BadUsageAndUnreadableInputExitTwoWithOneErrorLine) {
    write("empty.bin", {});
    write("short.pkg", Bytes(468, 0));
    write("notpe.exe", {'M', 'Z', 0, 0});
    const std::string o = "build -o " + path("x").string() + " ";
    const std::string ab = "a=" + path(files_[0].name).string() + " b=" + path(files_[1].name).string() + " ";
    const std::string c = path(files_[2].name).string();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "no command"},
        {"frobnicate", "unknown command"},
        {"build " + ab + "c=" + c, "-o"},
        {o + ab, "exactly three"},
        {o + ab + "c=" + path("missing").string(), "missing"},
        {o + ab + "c=" + path("empty.bin").string(), "empty"},
        {o + ab + std::string(128, 'n') + "=" + c, "at most 127"},
        {o + ab + "'..\\c=" + c + "'", "relative"},
        {o + ab + "A=" + c, "same name"},
        {o + ab + "noequals", "NAME=PATH"},
        {"build -o " + dir_.string() + " " + ab + "c=" + c, "is a folder"},
        {"verify " + path("short.pkg").string(), "truncated"},
        {"inspect " + path("missing").string(), "cannot open"},
        {"inspect " + path("notpe.exe").string(), "PE"},
        {"verify " + dir_.string(), "folder"},
        {"extract " + path("short.pkg").string(), "FILE and DIR"},
        {"extract " + path(files_[0].name).string() + " " + path(files_[1].name).string(), "cannot create"},
    };
    for (const auto& [arguments, mentions] : cases) {
        const ToolRun r = run(arguments);
        EXPECT_EQ(2, r.exitCode) << arguments;
        // Usage errors add the usage text after the error line.
        EXPECT_EQ(0u, r.err.rfind("orlo-pack: error: ", 0)) << arguments << "\n" << r.err;
        EXPECT_NE(std::string::npos, r.err.substr(0, r.err.find('\n')).find(mentions)) << arguments << "\n" << r.err;
    }
    EXPECT_FALSE(fs::exists(path("x")));
}

// The installer's order: entry k is descrambled, checked and written before
// entry k+1's region is touched, so an overlapping later region never
// changes the bytes of a file already checked.
TEST_F(OrloPack, ExtractWritesEachEntryBeforeTouchingTheNextRegion) {
    for (const bool matchingDigest : {false, true}) {
        Bytes image = buildTestPackage(files_);
        PackageEntry* second = entryAt(image, 1);
        second->offset = entryAt(image, 0)->offset;
        second->size = 100;
        // The chain as the installer runs it; entry 1's digest made to match
        // or not, and entry 2 scrambled afresh for the chain's new key.
        Bytes copy = image;
        PackageChain chain;
        startPackageChain(&chain);
        for (int i = 0; i < 2; i++) unpackEntryInPlace(copy.data(), (uint32_t)copy.size(), entryAt(image, i), &chain);
        if (matchingDigest) md5Digest(copy.data() + second->offset, 100, second->digest);
        const PackageEntry* third = entryAt(image, 2);
        std::copy(files_[2].bytes.begin(), files_[2].bytes.end(), image.begin() + third->offset);
        scramblePackageBytes(chain.seed, image.data() + third->offset, third->size, chain.key);
        write("o.pkg", image);
        fs::remove_all(path("out"));

        const ToolRun extracted = run("extract " + path("o.pkg").string() + " " + path("out").string());
        EXPECT_EQ(matchingDigest ? 0 : 1, extracted.exitCode) << extracted.all();
        EXPECT_EQ(matchingDigest ? 0 : 1, run("verify " + path("o.pkg").string()).exitCode);
        EXPECT_EQ(read(path("out") / files_[0].name), files_[0].bytes) << matchingDigest;
        EXPECT_EQ(read(path("out") / files_[2].name), files_[2].bytes) << matchingDigest;
        EXPECT_EQ(matchingDigest, fs::exists(path("out") / files_[1].name));
        if (matchingDigest) {
            uint8_t digest[16];
            const Bytes written = read(path("out") / files_[1].name);
            md5Digest(written.data(), (uint32_t)written.size(), digest);
            EXPECT_EQ(0, memcmp(digest, second->digest, 16));
        }
    }
}

// An entry that cannot be written is counted and the others are still
// written (exit 1); links in the output folder are never written through.
TEST_F(OrloPack, ExtractGoesOnPastEntriesItCannotWriteAndNeverFollowsLinks) {
    const auto package = [&](const std::string& file, const std::string& first, const std::string& second) {
        std::vector<TestFile> renamed = files_;
        renamed[0].name = first;
        renamed[1].name = second;
        Bytes image = buildTestPackage(renamed);
        setEntryName(image, 1, second);  // may be a name build refuses
        write(file, image);
    };
    package("good.pkg", files_[0].name, files_[1].name);
    package("nested.pkg", "docs", "docs\\readme.txt");
    package("sub.pkg", files_[0].name, "docs\\readme.txt");
    package("climbing.pkg", files_[0].name, "..\\..\\escaped.txt");
    const fs::path out = path("out"), victim = path("victim");
    const Bytes kept = {'k', 'e', 'p', 't'};
    struct Case {
        std::string what, package;
        std::function<void()> plant;
        int failing;  // the entry not written, -1 for none
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {"a name climbing out of the folder", "climbing.pkg", [] {}, 1, "name would leave"},
        {"a file where a folder is needed", "nested.pkg", [] {}, 1, "docs"},
        {"a folder where the file goes", "good.pkg", [&] { fs::create_directories(out / files_[2].name); }, 2,
         files_[2].name},
        {"a subfolder that is a link", "sub.pkg", [&] { fs::create_directory_symlink(victim, out / "docs"); }, 1,
         (out / "docs").string() + " is a link"},
        {"a link at the old temporary name", "good.pkg",
         [&] { fs::create_symlink(victim / "f", out / (files_[0].name + ".orlo-tmp")); }, -1, ""},
        {"a link at the file's own name", "good.pkg", [&] { fs::create_symlink(victim / "f", out / files_[0].name); },
         -1, ""},
    };
    for (const Case& c : cases) {
        fs::remove_all(out);
        fs::remove_all(victim);
        fs::create_directories(out);
        fs::create_directories(victim);
        write("victim/f", kept);
        c.plant();
        const ToolRun r = run("extract " + path(c.package).string() + " " + out.string());
        EXPECT_EQ(c.failing < 0 ? 0 : 1, r.exitCode) << c.what << "\n" << r.all();
        if (c.failing >= 0)
            EXPECT_EQ(0u, r.err.find("orlo-pack: error: entry " + std::to_string(c.failing))) << c.what << "\n" << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.mentions)) << c.what << "\n" << r.err;
        // The last entry not refused was written; nothing reached a link's target or left the folder.
        const int last = c.failing == 2 ? 1 : 2;
        EXPECT_EQ(read(out / files_[last].name), files_[last].bytes) << c.what;
        EXPECT_EQ(read(victim / "f"), kept) << c.what;
        EXPECT_EQ(1, std::distance(fs::directory_iterator(victim), fs::directory_iterator())) << c.what;
        EXPECT_FALSE(fs::exists(dir_ / "escaped.txt") || fs::exists(dir_.parent_path() / "escaped.txt")) << c.what;
    }
    // build's output: a link at the old temporary name or at the output's name.
    for (const std::string link : {"p.pkg.orlo-tmp", "p.pkg"}) {
        fs::remove(path("p.pkg"));
        fs::remove(path("p.pkg.orlo-tmp"));
        fs::create_symlink(victim / "f", path(link));
        EXPECT_EQ(0, run(buildArguments("p.pkg")).exitCode) << link;
        EXPECT_EQ(read(victim / "f"), kept) << link;
        EXPECT_EQ(read(path("p.pkg")), buildTestPackage(files_)) << link;
        EXPECT_FALSE(fs::is_symlink(path("p.pkg"))) << link;
    }
}

// ---------------------------------------------------------------------------
// Installers: the package is resource RT_RCDATA 100.

TEST_F(OrloPack, InspectDecodesAnInstallersResourcesAndVerifyPassesIt) {
    write("setup.exe", buildPe(installerResources(buildTestPackage(files_))).file);
    const auto size = [](size_t n) { return std::string(10 - std::to_string(n).size(), ' ') + std::to_string(n); };
    const std::vector<std::string> expected = {
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
        "manifest supportedOS: {one}",
    };
    const ToolRun r = run("inspect " + path("setup.exe").string());
    ASSERT_EQ(0, r.exitCode) << r.err;
    // The package's lines come first, exactly as for the package file.
    write("p.pkg", buildTestPackage(files_));
    std::string whole = run("inspect " + path("p.pkg").string()).out;
    for (const std::string& line : expected) whole += line + "\n";
    EXPECT_EQ(whole, r.out);
    EXPECT_EQ(0, run("verify " + path("setup.exe").string()).exitCode);

    write("bare.exe", buildPe({{10, 100, 1033, buildTestPackage(files_)}}).file);
    const ToolRun bare = run("inspect " + path("bare.exe").string());
    EXPECT_NE(std::string::npos, bare.out.find("\nversion: none\nmanifest: none\n")) << bare.out;
}

// Executables whose package Windows could read otherwise than the tool, or
// whose reading would not end: inspect, verify and extract refuse each one
// with exit 2 and one line, at once.
TEST_F(OrloPack, RefusesExecutablesItCannotReadAsWindowsWould) {
    for (const CraftedExecutable& c : refusedExecutables(buildTestPackage(files_), true)) {
        write("x.exe", c.file);
        for (const std::string command : {"inspect ", "verify ", "extract "}) {
            const std::string output = command == "extract " ? " " + path("out").string() : "";
            EXPECT_TRUE(refused(run(command + path("x.exe").string() + output), c.refusal)) << command << c.what;
        }
    }
    EXPECT_FALSE(fs::exists(path("out") / files_[0].name));
}

}  // namespace
