// The package read from a real resource module: its header (none, 468 and
// 469 bytes, the package this executable carries), and extraction of valid
// and damaged packages, with onlyName, subfolders, hostile names and paths
// that do not fit. Each case is its result and which of the three files it
// wrote, with their bytes.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/test_package.h"
#include "tests/support/win32_test.h"

using namespace orlotest;

namespace {

InstallerState state;

TEST(PackageHeader, NeedsMoreThan468BytesAndKeepsTheOldCopyOtherwise) {
    ScratchFolder modules("header");
    for (size_t size : {0, 468, 469}) {
        clearInstallerState(&state, moduleWithPackage(modules, std::vector<uint8_t>(size, 'A')));
        EXPECT_EQ(size > 468 ? 0 : -1, readPackageHeader(&state)) << size;
        const std::string header((const char*)&state.packageEntries, 468);
        EXPECT_EQ(std::string(468, size > 468 ? 'A' : '\0'), header) << size;
    }
    clearInstallerState(&state, GetModuleHandleA(0));
    ASSERT_EQ(0, readPackageHeader(&state));
    EXPECT_STREQ("Orlocast.exe", state.packageEntries.entries[0].name);
    EXPECT_STREQ("OrloCastOnTheShow.pdf", state.packageEntries.entries[2].name);
    EXPECT_EQ(468u, state.packageEntries.entries[0].offset);
}

TEST(Extract, EachCaseWritesOnlyWhatVerifiedAndCountsEveryFailure) {
    ScratchFolder modules("modules"), scratch("extract");
    const std::vector<TestFile> files = sampleFiles();
    const std::vector<uint8_t> valid = buildTestPackage(files);
    const std::string folder = scratch / "target";
    typedef std::function<void(std::vector<uint8_t>&)> Damage;
    const Damage none = [](std::vector<uint8_t>&) {};
    // clang-format off
    const struct Case {
        const char* what;
        Damage damage;
        const char* onlyName;
        std::string target;
        int result;
        const char* written;  // "1" for each file written with its bytes, "-" for each not written
    } cases[] = {
        {"valid, over an older file", none, nullptr, folder, 0, "111"},
        {"target with a trailing backslash", none, nullptr, folder + "\\", 0, "111"},
        {"digest of entry 1", [](std::vector<uint8_t>& p) { entryAt(p, 1)->digest[15] ^= 0x80; }, nullptr, folder, -101, "1-1"},
        {"a stored byte of entry 1", [](std::vector<uint8_t>& p) { p[entryAt(p, 1)->offset + 9] ^= 4; }, nullptr, folder,
         -102, "1--"},
        {"entry 0 out of bounds", [](std::vector<uint8_t>& p) { entryAt(p, 0)->offset = (uint32_t)p.size(); }, nullptr,
         folder, -103, "---"},
        {"entry 2 wraps 32 bits", [](std::vector<uint8_t>& p) { entryAt(p, 2)->offset = 0xFFFFFFF0u, entryAt(p, 2)->size = 32; },
         nullptr, folder, -101, "11-"},
        {"entry 1 empty", [](std::vector<uint8_t>& p) { entryAt(p, 1)->size = 0; }, nullptr, folder, -102, "1--"},
        {"only entry 2", none, "OrloCastOnTheShow.pdf", folder, 0, "--1"},
        {"only a name no entry has", none, "orlocastontheshow.pdf", folder, 0, "---"},
        {"only entry 2, entry 0 damaged", [](std::vector<uint8_t>& p) { entryAt(p, 0)->digest[3] ^= 1; },
         "OrloCastOnTheShow.pdf", folder, -101, "--1"},
        {"dot-dot", [](std::vector<uint8_t>& p) { setEntryName(p, 1, "docs\\..\\..\\escaped.txt"); }, nullptr, folder, -101, "1-1"},
        {"drive", [&](std::vector<uint8_t>& p) { setEntryName(p, 1, scratch / "escaped.txt"); }, nullptr, folder, -101, "1-1"},
        {"device", [](std::vector<uint8_t>& p) { setEntryName(p, 1, "CON"); }, nullptr, folder, -101, "1-1"},
        {"no terminator", [](std::vector<uint8_t>& p) { memset(entryAt(p, 0)->name, 'n', 128); }, nullptr, folder, -101, "-11"},
        {"no name fits the path", none, nullptr, scratch.path() + "\\" + std::string(1022 - scratch.path().size() - 4, 'f'),
         -103, "---"},
    };
    // clang-format on
    for (const Case& c : cases) {
        removeTree(folder);
        CreateDirectoryA(folder.c_str(), 0);
        writeFileBytes(folder + "\\readme.txt", "an older read-me");
        std::vector<uint8_t> package = valid;
        c.damage(package);
        clearInstallerState(&state, moduleWithPackage(modules, package));
        memcpy(state.targetFolder, c.target.c_str(), c.target.size() + 1);
        EXPECT_EQ(c.result, extractPackage(&state, c.onlyName)) << c.what;
        std::string written;
        for (int i = 0; i < 3; i++)
            written += readWholeFile(folder + "\\" + files[i].name) ==
                               std::string(files[i].bytes.begin(), files[i].bytes.end())
                           ? "1"
                           : "-";
        EXPECT_EQ(c.written, written) << c.what;
        if (c.written[1] == '-') EXPECT_EQ("an older read-me", readWholeFile(folder + "\\readme.txt")) << c.what;
        EXPECT_FALSE(pathExists(scratch / "escaped.txt")) << c.what;
    }
    EXPECT_STREQ("OrloCastOnTheShow.pdf", state.packageEntries.entries[2].name)
        << "the header copy comes from the package";

    // A missing package writes nothing; a name with subfolders makes them.
    removeTree(folder);
    clearInstallerState(&state, moduleWithPackage(modules, {}));
    memcpy(state.targetFolder, folder.c_str(), folder.size() + 1);
    EXPECT_EQ(-1, extractPackage(&state, nullptr));
    EXPECT_FALSE(pathExists(folder));
    std::vector<TestFile> nested = files;
    nested[1].name = "docs\\guide\\readme.txt";
    clearInstallerState(&state, moduleWithPackage(modules, buildTestPackage(nested)));
    memcpy(state.targetFolder, folder.c_str(), folder.size() + 1);
    CreateDirectoryA(folder.c_str(), 0);
    EXPECT_EQ(0, extractPackage(&state, nullptr));
    EXPECT_EQ(std::string(files[1].bytes.begin(), files[1].bytes.end()),
              readWholeFile(folder + "\\docs\\guide\\readme.txt"));
}

}  // namespace
