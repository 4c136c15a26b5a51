// The install procedure with hostile packages, on a real prefix: each ends
// with the copy failure (-10) and leaves nothing outside the installation
// folder: no file elsewhere, no shortcut, no uninstall key, no value.
#include <gtest/gtest.h>
#include <objbase.h>

#include <functional>

#include "app/installer_state.h"
#include "setup/procedures.h"
#include "tests/support/test_package.h"
#include "tests/support/win32_scratch.h"
#include "tests/support/win32_snapshot.h"

using namespace orlotest;

namespace {

InstallerState state;

std::string parentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

std::string resolvedTarget() {
    static InstallerState probe;
    clearInstallerState(&probe, 0);
    resolveTargetFolder(&probe, PRODUCT_FOLDER);
    return probe.targetFolder;
}

std::string userPrograms() {
    char value[1024] = "";
    DWORD size = sizeof value;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(key, "Programs", 0, 0, (BYTE*)value, &size) != ERROR_SUCCESS) value[0] = 0;
        RegCloseKey(key);
    }
    return value;
}

struct Hostile {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
};

TEST(HostileInstall, FailsWithMinusTenAndWritesOnlyInsideTheTargetFolder) {
    resolveSpecialFolders();
    const std::string target = resolvedTarget();
    ASSERT_FALSE(target.empty());
    const std::string fm = parentOf(target);
    // Places a hostile name would reach, all outside the target folder.
    const std::string outside = "orlo-hostile-" + std::to_string(GetCurrentProcessId()) + ".txt";
    const std::string absolute = "C:\\" + outside;
    auto cleanUp = [&] {
        removeTree(fm);
        removeTree(userPrograms() + "\\Fen March");
        removeTree(std::string(getCommonProgramsFolder()) + "\\Fen March");
        DeleteFileA(absolute.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_PARENT_KEY "\\" UNINSTALL_KEY_NAME);
    };
    cleanUp();

    const std::vector<uint8_t> valid = buildTestPackage(sampleFiles());
    ASSERT_FALSE(valid.empty());
    const uint32_t end = (uint32_t)valid.size();
    const std::vector<Hostile> cases = {
        {"dot-dot", [&](std::vector<uint8_t>& p) { setEntryName(p, 1, "..\\" + outside); }},
        {"dot-dot deeper", [&](std::vector<uint8_t>& p) { setEntryName(p, 1, "docs\\..\\..\\..\\..\\" + outside); }},
        {"drive", [&](std::vector<uint8_t>& p) { setEntryName(p, 1, absolute); }},
        {"drive-relative", [&](std::vector<uint8_t>& p) { setEntryName(p, 1, "C:" + outside); }},
        {"colon (stream)", [&](std::vector<uint8_t>& p) { setEntryName(p, 1, "readme.txt:" + outside); }},
        {"leading backslash", [&](std::vector<uint8_t>& p) { setEntryName(p, 1, "\\" + outside); }},
        {"forward slash", [&](std::vector<uint8_t>& p) { setEntryName(p, 1, "../" + outside); }},
        {"overlapping regions", [&](std::vector<uint8_t>& p) { entryAt(p, 2)->offset = entryAt(p, 1)->offset; }},
        {"offset wraps 32 bits", [&](std::vector<uint8_t>& p) { entryAt(p, 1)->offset = 0xFFFFFFFFu - 15; entryAt(p, 1)->size = 32; }},
        {"size wraps 32 bits", [&](std::vector<uint8_t>& p) { entryAt(p, 0)->size = 0xFFFFFFFFu - entryAt(p, 0)->offset + 2; }},
        {"size past the end", [&](std::vector<uint8_t>& p) { entryAt(p, 2)->size = end - entryAt(p, 2)->offset + 1; }},
        {"size 0", [&](std::vector<uint8_t>& p) { entryAt(p, 1)->size = 0; }},
        {"name without terminator", [&](std::vector<uint8_t>& p) { setEntryName(p, 0, std::string(128, 'n')); }},
    };

    ASSERT_EQ(S_OK, CoInitialize(0));
    const Snapshot before = takeSnapshot();
    ScratchFolder modules("hostile");
    CommandCounter commands;
    for (const Hostile& hostile : cases) {
        std::vector<uint8_t> package = valid;
        hostile.damage(package);
        clearInstallerState(&state, (HINSTANCE)moduleWithPackage(modules, package));
        state.window = commands.window;
        char self[MAX_PATH];
        GetModuleFileNameA(0, self, sizeof self);
        memcpy(state.modulePath, self, strlen(self) + 1);

        EXPECT_EQ(-10, runInstall(&state)) << hostile.what;
        int failed, ok, other;
        commands.count(&failed, &ok, &other);
        EXPECT_EQ(1, failed) << hostile.what;
        EXPECT_EQ(0, ok + other) << hostile.what;

        const Snapshot after = takeSnapshot();
        Snapshot outsideTarget;
        for (const std::string& entry : added(before, after)) {
            const bool inside = entry == "folder " + lower(fm) || entry == "folder " + lower(target) ||
                                entry.rfind("file " + lower(target) + "\\", 0) == 0 ||
                                entry.rfind("folder " + lower(target) + "\\", 0) == 0;
            if (!inside) outsideTarget.insert(entry);
        }
        EXPECT_EQ(show({}), show(outsideTarget)) << hostile.what;
        EXPECT_EQ(show({}), show(added(after, before))) << hostile.what << ": something was removed";
        EXPECT_FALSE(pathExists(fm + "\\" + outside)) << hostile.what;
        cleanUp();
    }
    CoUninitialize();
    EXPECT_EQ(show({}), show(added(before, takeSnapshot()))) << "the test could not restore the prefix";
}

}  // namespace
