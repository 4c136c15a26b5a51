// What a full install and a full removal leave on a real Wine prefix,
// compared file for file and value for value with snapshots taken before.
//
// Run with --orlo-uninstall, this executable plays the installer's copy in
// the installation folder: it runs the uninstall from inside that folder.
#include <gtest/gtest.h>
#include <objbase.h>

#include "app/installer_state.h"
#include "setup/procedures.h"
#include "tests/support/win32_scratch.h"
#include "tests/support/win32_snapshot.h"

using namespace orlotest;

namespace {

InstallerState state;

std::string ownPath() {
    char path[MAX_PATH];
    GetModuleFileNameA(0, path, sizeof path);
    return path;
}

std::string ownName() {
    const std::string path = ownPath();
    return path.substr(path.find_last_of('\\') + 1);
}

std::string userProgramsFolder() {
    char value[1024] = "";
    DWORD size = sizeof value, type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, "Programs", 0, &type, (BYTE*)value, &size);
        RegCloseKey(key);
    }
    return value;
}

std::string targetFolder() {
    static InstallerState probe;
    clearInstallerState(&probe, 0);
    resolveTargetFolder(&probe, PRODUCT_FOLDER);
    return probe.targetFolder;
}

std::string parentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

// Everything that a test run may have left: the product's folders, keys
// and settings, so that every run starts from the same prefix.
void removeProductTraces() {
    removeTree(parentOf(targetFolder()));  // ...\FM
    removeTree(userProgramsFolder() + "\\Fen March");
    removeTree(std::string(getCommonProgramsFolder()) + "\\Fen March");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Fen March\\Orlo-Cast");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Fen March");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_PARENT_KEY "\\" UNINSTALL_KEY_NAME);
}

bool runningInWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    IsWow64ProcessFn isWow64 =
        (IsWow64ProcessFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

// Runs program with arguments and returns its full 32-bit exit code.
DWORD runAndWait(const std::string& program, const std::string& arguments) {
    std::string commandLine = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], 0, 0, FALSE, 0, 0, parentOf(program).c_str(), &startup,
                        &process)) {
        ADD_FAILURE() << "CreateProcessA(" << program << ") GLE=" << GetLastError();
        return 0xDEADBEEF;
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 120000));
    DWORD code = 0xDEADBEEF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

std::string fileEntry(const std::string& path) { return "file " + lower(path); }
std::string folderEntry(const std::string& path) { return "folder " + lower(path); }

TEST(Footprint, InstallThenUninstallFromTheCopy) {
    resolveSpecialFolders();
    removeProductTraces();
    const std::string target = targetFolder();
    const std::string userMenu = userProgramsFolder() + "\\Fen March";
    const std::string commonMenu = std::string(getCommonProgramsFolder()) + "\\Fen March";
    ASSERT_FALSE(target.empty());
    ASSERT_FALSE(userProgramsFolder().empty());
    ASSERT_FALSE(std::string(getCommonProgramsFolder()).empty());
    if (runningInWow64()) EXPECT_NE(std::string::npos, target.find("Program Files (x86)")) << target;

    const Snapshot before = takeSnapshot();

    ScratchFolder modules("footprint");
    CommandCounter commands;
    clearInstallerState(&state, (HINSTANCE)moduleWithPackage(modules, packageOf(GetModuleHandleA(0))));
    state.window = commands.window;
    const std::string self = ownPath();
    memcpy(state.modulePath, self.c_str(), self.size() + 1);
    ASSERT_EQ(S_OK, CoInitialize(0));
    EXPECT_EQ(0, runInstall(&state));
    CoUninitialize();
    int failed, ok, other;
    commands.count(&failed, &ok, &other);
    EXPECT_EQ(1, ok);
    EXPECT_EQ(0, failed);

    const std::string key = "hklm\\software\\microsoft\\windows\\currentversion\\uninstall\\fm:orlo-cast {5c7e2b91-3fa4-4d6e}";
    const std::string copy = target + "\\" + ownName();
    Snapshot expected = {
        folderEntry(parentOf(target)),
        folderEntry(target),
        fileEntry(target + "\\Orlocast.exe"),
        fileEntry(target + "\\readme.txt"),
        fileEntry(target + "\\OrloCastOnTheShow.pdf"),
        fileEntry(copy),
        "key " + key,
        "value " + key + "\\displayname = sz:Orlo-Cast, Broadcast Stream Server",
        "value " + key + "\\publisher = sz:Fenmarch Software",
        "value " + key + "\\uninstallstring = sz:\"" + copy + "\"",
    };
    for (const std::string& menu : {userMenu, commonMenu}) {
        expected.insert(folderEntry(menu));
        expected.insert(folderEntry(menu + "\\Orlo-Cast"));
        expected.insert(fileEntry(menu + "\\Orlo-Cast\\Readme.LNK"));
        expected.insert(fileEntry(menu + "\\Orlo-Cast\\OrloCast.LNK"));
    }
    const Snapshot installed = takeSnapshot();
    EXPECT_EQ(show(expected), show(added(before, installed)));
    EXPECT_EQ(show({}), show(added(installed, before))) << "install removed something";

    // The copy is the running installer, byte for byte.
    EXPECT_EQ(readWholeFile(self), readWholeFile(copy));
    if (runningInWow64()) {
        HKEY wow;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" UNINSTALL_KEY_NAME,
                                0, KEY_READ | KEY_WOW64_64KEY, &wow));
        RegCloseKey(wow);
    }

    // Removal, run by the copy from inside the installation folder.
    EXPECT_EQ(0u, runAndWait(copy, "--orlo-uninstall"));
    const Snapshot removed = takeSnapshot();
    const Snapshot left = {
        folderEntry(parentOf(target)),
        folderEntry(target),
        fileEntry(copy),
        folderEntry(userMenu),
        folderEntry(commonMenu),
        "key hkcu\\fen march",
        "key hkcu\\fen march\\orlo-cast",
        "value hkcu\\fen march\\orlo-cast\\systray = dword:0",
        "value hkcu\\fen march\\orlo-cast\\systrayshowonrun = dword:0",
    };
    EXPECT_EQ(show(left), show(added(before, removed)));
    EXPECT_EQ(show({}), show(added(removed, before))) << "uninstall removed something it did not make";

    removeProductTraces();
    EXPECT_EQ(show({}), show(added(before, takeSnapshot()))) << "the test could not restore the prefix";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--orlo-uninstall") {
        resolveSpecialFolders();
        clearInstallerState(&state, GetModuleHandleA(0));
        return runUninstall(&state);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
