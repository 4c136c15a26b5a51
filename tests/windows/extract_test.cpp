// Extraction from a real resource module: valid and damaged packages,
// onlyName, subfolders, and names that would leave the target folder.
#include <gtest/gtest.h>

#include "app/installer_state.h"
#include "package/package.h"
#include "tests/support/test_package.h"
#include "tests/support/win32_scratch.h"

using namespace orlotest;

namespace {

InstallerState state;

class Extract : public ::testing::Test {
protected:
    void SetUp() override {
        files_ = sampleFiles();
        package_ = buildTestPackage(files_);
        ASSERT_FALSE(package_.empty());
        clearInstallerState(&state, 0);
        textTarget(scratch_ / "target");
    }
    void textTarget(const std::string& folder) {
        ASSERT_LT(folder.size(), sizeof state.targetFolder);
        memcpy(state.targetFolder, folder.c_str(), folder.size() + 1);
    }
    int extract(const std::vector<uint8_t>& package, const char* onlyName = nullptr) {
        state.instance = (HINSTANCE)moduleWithPackage(modules_, package);
        return extractPackage(&state, onlyName);
    }
    std::string target(const std::string& name) const { return scratch_.path() + "\\target\\" + name; }
    std::string bytesOf(int i) const { return std::string(files_[i].bytes.begin(), files_[i].bytes.end()); }
    // Which of the three files exist in the target folder, e.g. "1-1".
    std::string written() const {
        std::string out;
        for (int i = 0; i < 3; i++) out += pathExists(target(files_[i].name)) ? "1" : "-";
        return out;
    }

    ScratchFolder modules_{"modules"};
    ScratchFolder scratch_{"extract"};
    std::vector<TestFile> files_;
    std::vector<uint8_t> package_;
};

TEST_F(Extract, ValidPackageWritesAndOverwritesTheThreeFiles) {
    CreateDirectoryA((scratch_ / "target").c_str(), 0);
    writeFileBytes(target("readme.txt"), "an older read-me that is longer than nothing");
    EXPECT_EQ(0, extract(package_));
    for (int i = 0; i < 3; i++) EXPECT_EQ(bytesOf(i), readWholeFile(target(files_[i].name))) << files_[i].name;
    // The header copy is refreshed from the package.
    EXPECT_STREQ("OrloCastOnTheShow.pdf", state.packageEntries.entries[2].name);
}

TEST_F(Extract, DamageGivesItsResultAndWritesOnlyVerifiedEntries) {
    struct Case {
        const char* what;
        void (*damage)(std::vector<uint8_t>&);
        int result;
        const char* written;
    };
    const Case cases[] = {
        {"entry 1 digest altered", [](std::vector<uint8_t>& p) { entryAt(p, 1)->digest[0] ^= 1; }, -101, "1-1"},
        {"one stored byte of entry 1 altered", [](std::vector<uint8_t>& p) { p[entryAt(p, 1)->offset + 9] ^= 4; },
         -102, "1--"},
        {"entry 0 out of bounds", [](std::vector<uint8_t>& p) { entryAt(p, 0)->offset = (uint32_t)p.size(); }, -103,
         "---"},
        {"entry 2 wraps 32 bits",
         [](std::vector<uint8_t>& p) {
             entryAt(p, 2)->offset = 0xFFFFFFF0u;
             entryAt(p, 2)->size = 0x20;
         },
         -101, "11-"},
        {"entry 1 empty", [](std::vector<uint8_t>& p) { entryAt(p, 1)->size = 0; }, -102, "1--"},
    };
    for (const Case& c : cases) {
        removeTree(scratch_ / "target");
        CreateDirectoryA((scratch_ / "target").c_str(), 0);
        std::vector<uint8_t> damaged = package_;
        c.damage(damaged);
        EXPECT_EQ(c.result, extract(damaged)) << c.what;
        EXPECT_EQ(c.written, written()) << c.what;
    }
}

TEST_F(Extract, FailedDigestLeavesAnExistingFileAsItWas) {
    CreateDirectoryA((scratch_ / "target").c_str(), 0);
    writeFileBytes(target("readme.txt"), "keep me");
    std::vector<uint8_t> damaged = package_;
    entryAt(damaged, 1)->digest[15] ^= 0x80;
    EXPECT_EQ(-101, extract(damaged));
    EXPECT_EQ("keep me", readWholeFile(target("readme.txt")));
}

TEST_F(Extract, MissingPackageWritesNothing) {
    EXPECT_EQ(-1, extract({}));
    EXPECT_FALSE(pathExists(scratch_ / "target"));
}

TEST_F(Extract, OnlyNameWritesOneEntryButCountsEveryFailure) {
    CreateDirectoryA((scratch_ / "target").c_str(), 0);
    EXPECT_EQ(0, extract(package_, "OrloCastOnTheShow.pdf"));
    EXPECT_EQ("--1", written());
    EXPECT_EQ(bytesOf(2), readWholeFile(target(files_[2].name)));

    removeTree(scratch_ / "target");
    CreateDirectoryA((scratch_ / "target").c_str(), 0);
    EXPECT_EQ(0, extract(package_, "no such entry"));
    EXPECT_EQ("---", written());
    EXPECT_EQ(0, extract(package_, "orlocastontheshow.pdf"));  // case counts
    EXPECT_EQ("---", written());

    std::vector<uint8_t> damaged = package_;
    entryAt(damaged, 0)->digest[3] ^= 1;
    EXPECT_EQ(-101, extract(damaged, "OrloCastOnTheShow.pdf"));
    EXPECT_EQ("--1", written());
}

TEST_F(Extract, SubfolderNamesCreateTheirFolders) {
    std::vector<TestFile> files = files_;
    files[1].name = "docs\\guide\\readme.txt";
    std::vector<uint8_t> package = buildTestPackage(files);
    CreateDirectoryA((scratch_ / "target").c_str(), 0);
    EXPECT_EQ(0, extract(package));
    EXPECT_EQ(bytesOf(1), readWholeFile(target("docs\\guide\\readme.txt")));
}

TEST_F(Extract, TargetFolderWithTrailingBackslash) {
    CreateDirectoryA((scratch_ / "target").c_str(), 0);
    textTarget(scratch_ / "target\\");
    EXPECT_EQ(0, extract(package_));
    EXPECT_EQ("111", written());
}

// Names that would put a file outside the target folder: the entry still
// verifies and the chain goes on, but nothing is written for it.
TEST_F(Extract, HostileNamesAreNeverWritten) {
    const std::string escaped = scratch_.path() + "\\escaped.txt";
    const std::string nameInsideScratch = std::string(scratch_.path().c_str() + 2) + "\\rooted.txt";  // "\..."
    const std::vector<std::string> names = {
        "..\\escaped.txt",
        "docs\\..\\..\\escaped.txt",
        scratch_.path() + "\\absolute.txt",   // C:\...
        "C:escaped.txt",
        nameInsideScratch,
        "sub/..\\..\\escaped.txt",
        "readme.txt:stream",
        "",
        "CON",
    };
    for (const std::string& name : names) {
        removeTree(scratch_ / "target");
        CreateDirectoryA((scratch_ / "target").c_str(), 0);
        std::vector<uint8_t> package = package_;
        setEntryName(package, 1, name);
        EXPECT_EQ(-101, extract(package)) << "'" << name << "'";
        EXPECT_EQ("1-1", written()) << "'" << name << "'";
        EXPECT_FALSE(pathExists(escaped)) << name;
        EXPECT_FALSE(pathExists(scratch_ / "absolute.txt")) << name;
        EXPECT_FALSE(pathExists(scratch_ / "rooted.txt")) << name;
    }

    // A name field with no terminator inside its 128 bytes.
    std::vector<uint8_t> package = package_;
    memset(entryAt(package, 0)->name, 'n', 128);
    removeTree(scratch_ / "target");
    CreateDirectoryA((scratch_ / "target").c_str(), 0);
    EXPECT_EQ(-101, extract(package));
    EXPECT_EQ("-11", written());
}

TEST_F(Extract, DestinationPathThatDoesNotFitIsAFailedEntry) {
    // The folder fits its 1024 bytes; no name fits after it.
    textTarget(scratch_.path() + "\\" + std::string(1023 - scratch_.path().size() - 1 - 4, 'f'));
    EXPECT_EQ(-103, extract(package_));
}

}  // namespace
