// Outcomes of the install and uninstall procedures: result codes, texts,
// stage left in statusText, completion commands, and what is (not) made.
#include <gtest/gtest.h>
#include <objbase.h>

#include "app/installer_state.h"
#include "platform/system_calls.h"
#include "setup/procedures.h"
#include "tests/support/test_package.h"
#include "tests/support/win32_scratch.h"

using namespace orlotest;

namespace {

InstallerState state;

std::string parentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

class Procedures : public ::testing::Test {
protected:
    void SetUp() override {
        resolveSpecialFolders();
        CoInitialize(0);
        product_ = packageOf(GetModuleHandleA(0));
        ASSERT_FALSE(product_.empty());
        target_ = resolvedTarget();
        programs_ = readPrograms();
        removeTraces();
    }
    void TearDown() override {
        resetSystemCalls();
        writePrograms(programs_);
        removeTraces();
        CoUninitialize();
    }

    static std::string resolvedTarget() {
        static InstallerState probe;
        clearInstallerState(&probe, 0);
        resolveTargetFolder(&probe, PRODUCT_FOLDER);
        return probe.targetFolder;
    }
    static std::string readPrograms() {
        char value[1024] = "";
        DWORD size = sizeof value;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            if (RegQueryValueExA(key, "Programs", 0, 0, (BYTE*)value, &size) != ERROR_SUCCESS) value[0] = 0;
            RegCloseKey(key);
        }
        return value;
    }
    // Sets the per-user Programs value; an empty text deletes it.
    static void writePrograms(const std::string& value) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, KEY_SET_VALUE, &key));
        if (value.empty())
            RegDeleteValueA(key, "Programs");
        else
            RegSetValueExA(key, "Programs", 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
        RegCloseKey(key);
    }
    void removeTraces() {
        removeTree(parentOf(target_));
        removeTree(programs_ + "\\Fen March");
        removeTree(std::string(getCommonProgramsFolder()) + "\\Fen March");
        RegDeleteKeyA(HKEY_CURRENT_USER, "Fen March\\Orlo-Cast");
        RegDeleteKeyA(HKEY_CURRENT_USER, "Fen March");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_PARENT_KEY "\\" UNINSTALL_KEY_NAME);
    }

    // A fresh state whose package is `package` (none when empty).
    void prepare(const std::vector<uint8_t>& package) {
        clearInstallerState(&state, (HINSTANCE)moduleWithPackage(modules_, package));
        state.window = commands_.window;
        char self[MAX_PATH];
        GetModuleFileNameA(0, self, sizeof self);
        memcpy(state.modulePath, self, strlen(self) + 1);
    }
    void expectCommands(int failed, int ok) {
        int f, o, other;
        commands_.count(&f, &o, &other);
        EXPECT_EQ(failed, f) << "DONE_FAILED posts";
        EXPECT_EQ(ok, o) << "DONE_OK posts";
        EXPECT_EQ(0, other);
    }
    bool uninstallKeyExists() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UNINSTALL_PARENT_KEY "\\" UNINSTALL_KEY_NAME, 0, KEY_READ, &key) != 0)
            return false;
        RegCloseKey(key);
        return true;
    }
    std::string menuLink(const std::string& programs, const char* name) const {
        return programs + "\\Fen March\\Orlo-Cast\\" + name + ".LNK";
    }

    ScratchFolder modules_{"procedures"};
    CommandCounter commands_;
    std::vector<uint8_t> product_;
    std::string target_, programs_;
};

const std::string WEB = MAKER_WEB_HOST;

HMODULE WINAPI noSystemLibrary(LPCSTR) { return 0; }

// A Windows folder on a server whose name is so long that no Program Files
// folder built from it fits the installation folder's 1024 bytes.
UINT WINAPI farAwayWindowsFolder(LPSTR buffer, UINT size) {
    const std::string folder = "\\\\" + std::string(1010, 's') + "\\share\\WINDOWS";
    if (size <= folder.size()) return (UINT)folder.size() + 1;
    memcpy(buffer, folder.c_str(), folder.size() + 1);
    return (UINT)folder.size();
}

BOOL WINAPI refuseCreateDirectory(LPCSTR, LPSECURITY_ATTRIBUTES) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(Procedures, InstallWithoutPackageFailsWithMinusOne) {
    prepare({});
    EXPECT_EQ(-1, runInstall(&state));
    EXPECT_STREQ("Orlo-Cast Installation Error", state.errorCaption);
    EXPECT_EQ("Installation package might be corrupted\nthanks to download official package at\n" + WEB + ".",
              std::string(state.errorText));
    EXPECT_STREQ("Extract Package", state.statusText);
    expectCommands(1, 0);
    EXPECT_FALSE(pathExists(target_));
}

TEST_F(Procedures, NoTargetFolderFailsWithMinusTwo) {
    systemCalls.loadSystemLibrary = noSystemLibrary;
    systemCalls.getWindowsDirectory = farAwayWindowsFolder;
    prepare(product_);
    EXPECT_EQ(-2, runInstall(&state));
    EXPECT_EQ("Failed to create target folder on system disk\nthanks to download official package at\n" + WEB + ".",
              std::string(state.errorText));
    EXPECT_STREQ("Copy Files", state.statusText);
    expectCommands(1, 0);

    prepare(product_);
    EXPECT_EQ(-2, runUninstall(&state));
    EXPECT_STREQ("Orlo-Cast Uninstallation Error", state.errorCaption);
    EXPECT_EQ("Failed to get target folder on system disk\nthanks to remove Orlo-Cast manually...",
              std::string(state.errorText));
    expectCommands(1, 0);
}

TEST_F(Procedures, InstallThatCannotCreateTheTargetFolderFailsWithMinusThree) {
    systemCalls.createDirectory = refuseCreateDirectory;
    prepare(product_);
    EXPECT_EQ(-3, runInstall(&state));
    EXPECT_EQ("Failed to create target folder on system disk\nthanks to download official package at\n" + WEB + ".",
              std::string(state.errorText));
    EXPECT_STREQ("Copy Files", state.statusText);
    expectCommands(1, 0);
}

TEST_F(Procedures, DamagedPackageFailsWithMinusTenAndMakesNothingElse) {
    std::vector<uint8_t> damaged = product_;
    entryAt(damaged, 1)->digest[7] ^= 1;
    prepare(damaged);
    EXPECT_EQ(-10, runInstall(&state));
    EXPECT_EQ("Failed to copy file(s) to destination folder...\nInstallation package might be corrupted\n"
              "thanks to download official package at\n" + WEB + ".",
              std::string(state.errorText));
    EXPECT_STREQ("Copy Files", state.statusText);
    expectCommands(1, 0);
    // What extraction wrote stays; nothing after it happened.
    EXPECT_TRUE(pathExists(target_ + "\\Orlocast.exe"));
    EXPECT_FALSE(pathExists(target_ + "\\readme.txt"));
    char self[MAX_PATH];
    GetModuleFileNameA(0, self, sizeof self);
    EXPECT_FALSE(pathExists(target_ + "\\" + std::string(strrchr(self, '\\') + 1)));
    EXPECT_FALSE(pathExists(programs_ + "\\Fen March"));
    EXPECT_FALSE(pathExists(std::string(getCommonProgramsFolder()) + "\\Fen March"));
    EXPECT_FALSE(uninstallKeyExists());
}

TEST_F(Procedures, InstallSucceedsStageByStageAndTwiceOverItself) {
    for (int run = 0; run < 2; run++) {
        prepare(product_);
        EXPECT_EQ(0, runInstall(&state)) << "run " << run;
        EXPECT_STREQ("Installation Completed", state.statusText);
        EXPECT_STREQ("Orlo-Cast Installation Error", state.errorCaption);
        EXPECT_STREQ("", state.errorText);
        expectCommands(0, 1);
        EXPECT_TRUE(pathExists(menuLink(programs_, "Readme")));
        EXPECT_TRUE(pathExists(menuLink(getCommonProgramsFolder(), "OrloCast")));
        EXPECT_TRUE(uninstallKeyExists());
    }
}

TEST_F(Procedures, WithoutProgramsValueOnlyAllUsersShortcutsAreMade) {
    writePrograms("");
    prepare(product_);
    EXPECT_EQ(0, runInstall(&state));
    EXPECT_FALSE(pathExists(programs_ + "\\Fen March"));
    EXPECT_TRUE(pathExists(menuLink(getCommonProgramsFolder(), "Readme")));
    EXPECT_TRUE(pathExists(menuLink(getCommonProgramsFolder(), "OrloCast")));
}

TEST_F(Procedures, ProgramsValueWithTrailingBackslash) {
    ScratchFolder programs("programs");
    writePrograms(programs.path() + "\\");
    prepare(product_);
    EXPECT_EQ(0, runInstall(&state));
    EXPECT_TRUE(pathExists(programs / "Fen March\\Orlo-Cast\\Readme.LNK"));
    EXPECT_TRUE(pathExists(programs / "Fen March\\Orlo-Cast\\OrloCast.LNK"));
}

TEST_F(Procedures, UninstallWithoutPackageFailsWithMinusOne) {
    prepare({});
    EXPECT_EQ(-1, runUninstall(&state));
    EXPECT_STREQ("Orlo-Cast Uninstallation Error", state.errorCaption);
    EXPECT_EQ("De-Installation package might be corrupted\nthanks to download official package at\n" + WEB + ".",
              std::string(state.errorText));
    expectCommands(1, 0);
}

TEST_F(Procedures, UninstallLeavesALockedProductFileAndStillSucceeds) {
    prepare(product_);
    ASSERT_EQ(0, runInstall(&state));
    expectCommands(0, 1);
    HANDLE locked = CreateFileA((target_ + "\\Orlocast.exe").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked) << GetLastError();

    prepare(product_);
    EXPECT_EQ(0, runUninstall(&state));
    expectCommands(0, 0);  // a successful uninstall posts nothing
    EXPECT_STREQ("", state.targetFolder);
    CloseHandle(locked);
    EXPECT_TRUE(pathExists(target_ + "\\Orlocast.exe"));
    EXPECT_FALSE(pathExists(target_ + "\\readme.txt"));
    EXPECT_FALSE(pathExists(menuLink(programs_, "Readme")));
    EXPECT_FALSE(uninstallKeyExists());
}

TEST_F(Procedures, UninstallRemovesExtraFilesOfTheInstallationFolder) {
    prepare(product_);
    ASSERT_EQ(0, runInstall(&state));
    writeFileBytes(target_ + "\\product.log", "written by the product");
    CreateDirectoryA((target_ + "\\cache").c_str(), 0);
    writeFileBytes(target_ + "\\cache\\stream.tmp", "x");

    prepare(product_);
    EXPECT_EQ(0, runUninstall(&state));
    // Not run from inside the folder, so nothing there resists deletion.
    EXPECT_FALSE(pathExists(target_));
    EXPECT_TRUE(pathExists(parentOf(target_)));  // "FM" is never removed
}

}  // namespace
