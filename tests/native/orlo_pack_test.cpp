// The packaging tool as a release engineer uses it: build, inspect, verify
// and extract, and a one-line error for every kind of bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "package/package.h"
#include "tests/support/test_package.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int exitCode;
    std::string output;  // stdout and stderr together
};

class OrloPack : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("orlo-pack-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        files_ = orlotest::sampleFiles();
        for (const auto& f : files_) write(f.name, f.bytes);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path path(const std::string& name) const { return dir_ / name; }

    void write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream out(path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
    }
    std::vector<uint8_t> read(const fs::path& p) const {
        std::ifstream in(p, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    ToolRun run(const std::string& arguments) const {
        const std::string command = std::string(ORLO_PACK_PATH) + " " + arguments + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ToolRun result{-1, ""};
        if (!pipe) return result;
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, n);
        const int status = pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    std::string buildArguments(const std::string& out) const {
        std::string args = "build -o " + path(out).string();
        for (const auto& f : files_) args += " " + f.name + "=" + path(f.name).string();
        return args;
    }

    fs::path dir_;
    std::vector<orlotest::TestFile> files_;
};

TEST_F(OrloPack, BuildVerifyExtractGivesTheFilesBackByteForByte) {
    ToolRun built = run(buildArguments("p.pkg"));
    ASSERT_EQ(0, built.exitCode) << built.output;
    // The tool's package is the in-memory builder's package, byte for byte.
    EXPECT_EQ(read(path("p.pkg")), orlotest::buildTestPackage(files_));

    ToolRun verified = run("verify " + path("p.pkg").string());
    EXPECT_EQ(0, verified.exitCode) << verified.output;

    ToolRun inspected = run("inspect " + path("p.pkg").string());
    EXPECT_EQ(0, inspected.exitCode) << inspected.output;
    EXPECT_NE(std::string::npos, inspected.output.find("OrloCastOnTheShow.pdf"));
    EXPECT_NE(std::string::npos, inspected.output.find("offset        468"));

    ToolRun extracted = run("extract " + path("p.pkg").string() + " " + path("out").string());
    ASSERT_EQ(0, extracted.exitCode) << extracted.output;
    for (const auto& f : files_) EXPECT_EQ(read(path("out") / f.name), f.bytes) << f.name;
}

TEST_F(OrloPack, VerifyNamesEveryEntryThatFails) {
    ASSERT_EQ(0, run(buildArguments("p.pkg")).exitCode);
    const std::vector<uint8_t> good = read(path("p.pkg"));
    PackageHeader header;
    memcpy(&header, good.data(), sizeof header);

    struct Flip {
        std::string what;
        size_t at;
        std::vector<int> failing;
    };
    std::vector<Flip> flips;
    for (int i = 0; i < 3; i++) {
        const PackageEntry& e = header.entries[i];
        std::vector<int> spread;
        for (int k = i; k < 3; k++) spread.push_back(k);  // stored bytes: this and every later entry
        flips.push_back({"first stored byte of entry " + std::to_string(i), e.offset, spread});
        flips.push_back({"last stored byte of entry " + std::to_string(i), e.offset + e.size - 1, spread});
        flips.push_back({"digest of entry " + std::to_string(i), (size_t)156 * i + 136 + 15, {i}});
    }
    for (const Flip& flip : flips) {
        std::vector<uint8_t> damaged = good;
        damaged[flip.at] ^= 0x01;
        write("d.pkg", damaged);
        ToolRun verified = run("verify " + path("d.pkg").string());
        EXPECT_EQ(1, verified.exitCode) << flip.what << "\n" << verified.output;
        for (int i = 0; i < 3; i++) {
            const std::string line = "entry " + std::to_string(i) + " " + files_[i].name + ": ";
            const bool shouldFail = std::find(flip.failing.begin(), flip.failing.end(), i) != flip.failing.end();
            EXPECT_NE(std::string::npos, verified.output.find(line + (shouldFail ? "FAILED" : "ok")))
                << flip.what << "\n" << verified.output;
        }
        // verify changes nothing in the file it reads.
        EXPECT_EQ(read(path("d.pkg")), damaged);
    }
}

TEST_F(OrloPack, ExtractWritesOnlyVerifiedEntriesAndNothingOutside) {
    std::vector<orlotest::TestFile> files = files_;
    std::vector<uint8_t> image = orlotest::buildTestPackage(files);
    // A hostile name that climbs out of the output folder; digests still match.
    orlotest::setEntryName(image, 1, "..\\..\\escaped.txt");
    write("hostile.pkg", image);
    ToolRun extracted = run("extract " + path("hostile.pkg").string() + " " + path("out").string());
    EXPECT_EQ(1, extracted.exitCode) << extracted.output;
    EXPECT_NE(std::string::npos, extracted.output.find("entry 1")) << extracted.output;
    EXPECT_TRUE(fs::exists(path("out") / files[0].name));
    EXPECT_FALSE(fs::exists(dir_ / "escaped.txt"));
    EXPECT_FALSE(fs::exists(dir_.parent_path() / "escaped.txt"));
    EXPECT_EQ(1, run("verify " + path("hostile.pkg").string()).exitCode);
}

TEST_F(OrloPack, BadInputGetsOneLineErrorAndNonZeroExit) {
    write("empty.bin", {});
    write("short.pkg", std::vector<uint8_t>(468, 0));
    write("notpe.exe", {'M', 'Z', 0, 0});
    const std::string a = "a=" + path(files_[0].name).string();
    const std::string b = "b=" + path(files_[1].name).string();
    struct Case {
        std::string arguments;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {"", "usage"},
        {"frobnicate", "unknown command"},
        {"build " + a + " " + b + " c=" + path(files_[2].name).string(), "-o"},
        {"build -o " + path("x").string() + " " + a + " " + b, "exactly three"},
        {"build -o " + path("x").string() + " " + a + " " + b + " c=" + path("missing").string(), "missing"},
        {"build -o " + path("x").string() + " " + a + " " + b + " c=" + path("empty.bin").string(), "empty"},
        {"build -o " + path("x").string() + " " + a + " " + b + " " + std::string(128, 'n') + "=" +
             path(files_[2].name).string(),
         "at most 127"},
        {"build -o " + path("x").string() + " " + a + " " + b + " '..\\c=" + path(files_[2].name).string() + "'",
         "relative"},
        {"build -o " + path("x").string() + " " + a + " " + b + " A=" + path(files_[2].name).string(),
         "same name"},
        {"build -o " + path("x").string() + " " + a + " " + b + " noequals", "NAME=PATH"},
        {"verify " + path("short.pkg").string(), "truncated"},
        {"inspect " + path("missing").string(), "cannot open"},
        {"inspect " + path("notpe.exe").string(), "PE"},
        {"verify " + dir_.string(), "folder"},
        {"extract " + path("short.pkg").string(), "FILE and DIR"},
    };
    for (const Case& c : cases) {
        ToolRun r = run(c.arguments);
        EXPECT_NE(0, r.exitCode) << c.arguments;
        EXPECT_NE(std::string::npos, r.output.find("orlo-pack: error: ")) << c.arguments << "\n" << r.output;
        EXPECT_NE(std::string::npos, r.output.find(c.mentions)) << c.arguments << "\n" << r.output;
    }
    EXPECT_FALSE(fs::exists(path("x")));
}

// The installer's order: entry k is descrambled, checked and written before
// entry k+1's region is touched, so an overlapping later region never
// changes the bytes of a file already checked.
TEST_F(OrloPack, ExtractWritesEachEntryBeforeTouchingTheNextRegion) {
    const std::vector<uint8_t> good = orlotest::buildTestPackage(files_);
    for (const bool matchingDigest : {false, true}) {
        std::vector<uint8_t> image = good;
        PackageEntry* second = orlotest::entryAt(image, 1);
        second->offset = orlotest::entryAt(image, 0)->offset;
        second->size = 100;
        // The chain as the installer runs it; entry 1's digest made to match
        // or not, and entry 2 scrambled afresh for the chain's new key.
        std::vector<uint8_t> copy = image;
        PackageChain chain;
        startPackageChain(&chain);
        for (int i = 0; i < 2; i++)
            unpackEntryInPlace(copy.data(), (uint32_t)copy.size(), orlotest::entryAt(image, i), &chain);
        if (matchingDigest) md5Digest(copy.data() + second->offset, 100, second->digest);
        const PackageEntry* third = orlotest::entryAt(image, 2);
        std::copy(files_[2].bytes.begin(), files_[2].bytes.end(), image.begin() + third->offset);
        scramblePackageBytes(chain.seed, image.data() + third->offset, third->size, chain.key);
        write("o.pkg", image);
        fs::remove_all(path("out"));
        const ToolRun extracted = run("extract " + path("o.pkg").string() + " " + path("out").string());
        EXPECT_EQ(matchingDigest ? 0 : 1, extracted.exitCode) << extracted.output;
        EXPECT_EQ(matchingDigest ? 0 : 1, run("verify " + path("o.pkg").string()).exitCode);
        EXPECT_EQ(read(path("out") / files_[0].name), files_[0].bytes) << matchingDigest;
        EXPECT_EQ(read(path("out") / files_[2].name), files_[2].bytes) << matchingDigest;
        EXPECT_EQ(matchingDigest, fs::exists(path("out") / files_[1].name));
        if (matchingDigest) {
            uint8_t digest[16];
            const std::vector<uint8_t> written = read(path("out") / files_[1].name);
            md5Digest(written.data(), (uint32_t)written.size(), digest);
            EXPECT_EQ(0, memcmp(digest, second->digest, 16));
        }
    }
}

// An entry that cannot be written is counted and the others are still
// written (exit 1); links in the output folder are never written through.
TEST_F(OrloPack, ExtractGoesOnPastEntriesItCannotWriteAndNeverFollowsLinks) {
    std::vector<orlotest::TestFile> nested = files_;
    nested[0].name = "docs";
    nested[1].name = "docs\\readme.txt";
    write("nested.pkg", orlotest::buildTestPackage(nested));
    std::vector<orlotest::TestFile> sub = files_;
    sub[1].name = "docs\\readme.txt";
    write("sub.pkg", orlotest::buildTestPackage(sub));
    write("good.pkg", orlotest::buildTestPackage(files_));
    const fs::path out = path("out"), victim = path("victim");
    struct Case {
        std::string what, package;
        std::function<void()> plant;
        int failingEntry;  // -1: all three written
        std::string mentions;
    };
    const std::vector<Case> cases = {
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
        write("victim/f", {'k', 'e', 'e', 'p'});
        c.plant();
        const ToolRun r = run("extract " + path(c.package).string() + " " + out.string());
        EXPECT_EQ(c.failingEntry < 0 ? 0 : 1, r.exitCode) << c.what << "\n" << r.output;
        EXPECT_NE(std::string::npos, r.output.find(c.mentions)) << c.what << "\n" << r.output;
        if (c.failingEntry >= 0)
            EXPECT_NE(std::string::npos, r.output.find("orlo-pack: error: entry " + std::to_string(c.failingEntry)))
                << c.what << "\n" << r.output;
        // Every other entry was written; nothing reached the link's target.
        EXPECT_EQ(read(out / files_[2 - (c.failingEntry == 2)].name), files_[2 - (c.failingEntry == 2)].bytes) << c.what;
        EXPECT_EQ(read(victim / "f"), std::vector<uint8_t>({'k', 'e', 'e', 'p'})) << c.what;
        EXPECT_EQ(1u, (size_t)std::distance(fs::directory_iterator(victim), fs::directory_iterator())) << c.what;
    }
    // build's output: a link at the old temporary name or at the output's name.
    for (const std::string link : {"p.pkg.orlo-tmp", "p.pkg"}) {
        fs::remove_all(path("p.pkg"));
        fs::remove_all(path("p.pkg.orlo-tmp"));
        fs::create_symlink(victim / "f", path(link));
        const ToolRun built = run(buildArguments("p.pkg"));
        EXPECT_EQ(0, built.exitCode) << link << "\n" << built.output;
        EXPECT_EQ(read(victim / "f"), std::vector<uint8_t>({'k', 'e', 'e', 'p'})) << link;
        EXPECT_FALSE(fs::is_symlink(path("p.pkg"))) << link;
    }
}

}  // namespace
