// The uninstall procedure meeting things it cannot or must not remove: a
// link out of the installation folder, a file held open, a read-only file,
// a subfolder that cannot be removed, an uninstall key with a subkey that
// cannot be deleted. Each time it ends (well within a minute: it runs on a
// thread of its own that is waited for) with its result 0, and nothing
// outside what it made is touched.
#include <gtest/gtest.h>
#include <objbase.h>

#include "app/installer_state.h"
#include "platform/system_calls.h"
#include "setup/procedures.h"
#include "tests/support/test_package.h"
#include "tests/support/win32_scratch.h"
#include "tests/support/win32_unix.h"

using namespace orlotest;

namespace {

InstallerState state;
const std::string UNINSTALL_KEY = UNINSTALL_PARENT_KEY "\\" UNINSTALL_KEY_NAME;

std::string parentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

DWORD WINAPI uninstallThread(LPVOID result) {
    *(int*)result = runUninstall(&state);
    return 0;
}

// Counters of the injected calls, so that a loop shows as a count too.
std::string refusedFolder, refusedKey;
int removeCalls = 0, keyDeleteCalls = 0;

BOOL WINAPI refuseOneFolder(HANDLE handle) {
    removeCalls++;
    if (lstrcmpiA(pathOfHandle(handle).c_str(), refusedFolder.c_str()) == 0) return FALSE;
    return markHandleForDeletion(handle);
}

LONG WINAPI refuseOneKey(HKEY root, LPCSTR path) {
    keyDeleteCalls++;
    if (lstrcmpiA(path, refusedKey.c_str()) == 0) return ERROR_ACCESS_DENIED;
    return RegDeleteKeyA(root, path);
}

class RemovalFaults : public ::testing::Test {
protected:
    void SetUp() override {
        resolveSpecialFolders();
        ASSERT_EQ(S_OK, CoInitialize(0));
        static InstallerState probe;
        clearInstallerState(&probe, 0);
        ASSERT_EQ(0, resolveTargetFolder(&probe, PRODUCT_FOLDER));
        target_ = probe.targetFolder;
        removeTraces();
        // A real install of a small package, so that every step of the
        // removal has something to do.
        package_ = buildTestPackage(sampleFiles());
        clearInstallerState(&state, (HINSTANCE)moduleWithPackage(modules_, package_));
        state.window = commands_.window;
        char self[MAX_PATH];
        GetModuleFileNameA(0, self, sizeof self);
        memcpy(state.modulePath, self, strlen(self) + 1);
        ASSERT_EQ(0, runInstall(&state));
        ASSERT_TRUE(keyExists(UNINSTALL_KEY));
        removeCalls = keyDeleteCalls = 0;
    }
    void TearDown() override {
        resetSystemCalls();
        removeTraces();
        CoUninitialize();
    }
    void removeTraces() {
        removeTree(parentOf(target_));
        removeTree(std::string(getCommonProgramsFolder()) + "\\Fen March");
        char programs[1024] = "";
        DWORD size = sizeof programs;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            if (RegQueryValueExA(key, "Programs", 0, 0, (BYTE*)programs, &size) == ERROR_SUCCESS)
                removeTree(std::string(programs) + "\\Fen March");
            RegCloseKey(key);
        }
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (UNINSTALL_KEY + "\\Stuck").c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Fen March\\Orlo-Cast");
        RegDeleteKeyA(HKEY_CURRENT_USER, "Fen March");
    }
    static bool keyExists(const std::string& path) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    // runUninstall on a thread of its own: false when it has not returned
    // within 60 seconds (a normal run takes well under one).
    bool uninstallEnds(int* result) {
        *result = 12345;
        HANDLE thread = CreateThread(0, 0, uninstallThread, result, 0, 0);
        if (!thread) return false;
        const DWORD waited = WaitForSingleObject(thread, 60000);
        if (waited != WAIT_OBJECT_0) TerminateThread(thread, 1);
        CloseHandle(thread);
        return waited == WAIT_OBJECT_0;
    }
    void expectProductGone() {
        EXPECT_FALSE(pathExists(target_ + "\\Orlocast.exe"));
        EXPECT_FALSE(pathExists(std::string(getCommonProgramsFolder()) + "\\Fen March\\Orlo-Cast"));
        int failed, ok, other;
        commands_.count(&failed, &ok, &other);
        EXPECT_EQ(0, failed);  // a completed uninstall posts no failure (the install's DONE_OK is drained here too)
    }

    ScratchFolder modules_{"removal"};
    ScratchFolder outside_{"removal-outside"};
    CommandCounter commands_;
    std::vector<uint8_t> package_;
    std::string target_;
};

TEST_F(RemovalFaults, LinkToAFolderElsewhereLeavesEveryFileThere) {
    // A folder full of files outside, and links to it in the installation
    // folder and in a subfolder, named to be listed first and last.
    CreateDirectoryA((outside_ / "Inner").c_str(), 0);
    const std::vector<std::string> files = {"a.txt", "keep.dat", "z.txt", "Inner\\deep.txt"};
    for (const std::string& name : files) writeFileBytes(outside_ / name, "kept " + name);
    CreateDirectoryA((target_ + "\\sub").c_str(), 0);
    std::vector<std::string> links = {target_ + "\\0link", target_ + "\\zlink", target_ + "\\sub\\link"};
    std::string script;
    for (const std::string& link : links) {
        const std::string unixLink = unixPathOf(link);
        ASSERT_FALSE(unixLink.empty()) << "needs Wine's Unix paths";
        script += (script.empty() ? "" : "; ") + std::string("ln -s '") + unixPathOf(outside_.path()) + "' '" + unixLink + "'";
    }
    ASSERT_TRUE(runUnixScript(script, outside_ / "marker"));
    for (const std::string& link : links) {
        const DWORD attributes = GetFileAttributesA(link.c_str());
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << link;
        ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << link << " does not list as a link";
    }

    int result;
    ASSERT_TRUE(uninstallEnds(&result)) << "the uninstall did not end within 60 s";
    EXPECT_EQ(0, result);
    for (const std::string& name : files) EXPECT_EQ("kept " + name, readWholeFile(outside_ / name)) << name;
    expectProductGone();
    EXPECT_FALSE(keyExists(UNINSTALL_KEY));

    std::string unlink;
    for (const std::string& link : links) unlink += (unlink.empty() ? "" : "; ") + std::string("rm -f '") + unixPathOf(link) + "'";
    EXPECT_TRUE(runUnixScript(unlink, outside_ / "marker"));
}

TEST_F(RemovalFaults, HeldOpenAndReadOnlyFilesStayAndTheRunEnds) {
    const std::string held = target_ + "\\readme.txt";
    const std::string readOnly = target_ + "\\settings.ini";
    writeFileBytes(readOnly, "product settings");
    ASSERT_WIN32(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();

    int result;
    const bool ended = uninstallEnds(&result);
    CloseHandle(file);
    ASSERT_TRUE(ended) << "the uninstall did not end within 60 s";
    EXPECT_EQ(0, result);
    EXPECT_TRUE(pathExists(held));
    EXPECT_EQ("product settings", readWholeFile(readOnly));
    EXPECT_TRUE(pathExists(target_));
    expectProductGone();
    EXPECT_FALSE(keyExists(UNINSTALL_KEY));
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(RemovalFaults, SubfolderThatCannotBeRemovedEndsTheFolderWork) {
    refusedFolder = target_ + "\\data";
    CreateDirectoryA(refusedFolder.c_str(), 0);
    systemCalls.markForDeletion = refuseOneFolder;

    int result;
    ASSERT_TRUE(uninstallEnds(&result)) << "the uninstall did not end within 60 s";
    EXPECT_EQ(0, result);
    EXPECT_TRUE(pathExists(refusedFolder));
    EXPECT_TRUE(pathExists(target_));
    // Each folder of the tree is tried once at most: data, the installation
    // folder, and the two Start-menu folders with their parents' walk.
    EXPECT_LE(removeCalls, 8) << "folders removed again and again";
    expectProductGone();
}

TEST_F(RemovalFaults, UninstallKeyWithASubkeyThatCannotGoEndsAndKeepsIt) {
    HKEY stuck;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, (UNINSTALL_KEY + "\\Stuck").c_str(), &stuck));
    RegCloseKey(stuck);
    refusedKey = "Stuck";
    systemCalls.regDeleteKey = refuseOneKey;

    int result;
    ASSERT_TRUE(uninstallEnds(&result)) << "the uninstall did not end within 60 s";
    EXPECT_EQ(0, result);
    EXPECT_TRUE(keyExists(UNINSTALL_KEY + "\\Stuck"));
    EXPECT_EQ(1, keyDeleteCalls) << "only the stuck subkey is tried, once";
    expectProductGone();
}

// The per-user Programs folder comes from the user's own registry, and its
// "Fen March\Orlo-Cast" may be a link that the user made. The elevated
// uninstall must not empty the link's target.
TEST_F(RemovalFaults, StartMenuFolderThatIsALinkLeavesItsTargetAlone) {
    const std::string programs = outside_ / "Programs";
    const std::string victim = outside_ / "Victim";
    CreateDirectoryA(programs.c_str(), 0);
    CreateDirectoryA((programs + "\\Fen March").c_str(), 0);
    CreateDirectoryA(victim.c_str(), 0);
    writeFileBytes(victim + "\\system.dat", "kept");
    writeFileBytes(victim + "\\Readme.LNK", "kept");
    const std::string link = programs + "\\Fen March\\Orlo-Cast";
    ASSERT_TRUE(runUnixScript("ln -s '" + unixPathOf(victim) + "' '" + unixPathOf(link) + "'", outside_ / "marker"));
    char saved[1024] = "";
    DWORD size = sizeof saved;
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, KEY_READ | KEY_SET_VALUE, &key));
    RegQueryValueExA(key, "Programs", 0, 0, (BYTE*)saved, &size);
    RegSetValueExA(key, "Programs", 0, REG_SZ, (const BYTE*)programs.c_str(), (DWORD)programs.size() + 1);

    int result;
    const bool ended = uninstallEnds(&result);
    RegSetValueExA(key, "Programs", 0, REG_SZ, (const BYTE*)saved, (DWORD)strlen(saved) + 1);
    RegCloseKey(key);
    ASSERT_TRUE(ended);
    EXPECT_EQ(0, result);
    EXPECT_EQ("kept", readWholeFile(victim + "\\system.dat"));
    EXPECT_EQ("kept", readWholeFile(victim + "\\Readme.LNK"));
    EXPECT_TRUE(pathExists(victim));
    runUnixScript("rm -f '" + unixPathOf(link) + "'", outside_ / "marker");
}

}  // namespace
