// Folder resolution: the shell's own answers in a normal prefix, and every
// later stage reached by making libraries, functions or the Windows folder
// fail through the system-call table. The fakes write what they are asked
// into one log, so each scenario is its log and the six folders it gives.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>

#include "platform/bounded_text.h"
#include "platform/system_calls.h"
#include "tests/support/win32_test.h"

using namespace orlotest;

namespace {

struct World {
    std::string log;                  // "load X", "free", "S38/1" (CSIDL/create), "F35/0" (CSIDL/flags)
    std::vector<std::string> refuse;  // libraries that cannot be loaded
    bool fakeSpecial = false, fakeFolder = false, specialMissing = false, folderMissing = false;
    int specialFailsFor = -1, folderFailsFor = -1;  // CSIDL whose call fails
    BOOL specialFailure = FALSE;
    HRESULT folderFailure = E_FAIL;
    std::string programFiles;  // both fakes' answer for CSIDL 38, when set
    std::string windows;       // the Windows folder, when set
    int windowsResult = -1;    // what GetWindowsDirectoryA returns; -1: the true length
    std::string current;       // the current folder, when set
    int loaded = 0;
};
World world;

std::string answer(const char* prefix, int csidl) {
    return csidl == 38 && !world.programFiles.empty() ? world.programFiles : prefix + std::to_string(csidl);
}
BOOL WINAPI fakeSpecial(HWND owner, LPSTR path, int csidl, BOOL create) {
    world.log += "S" + std::to_string(csidl) + "/" + std::to_string(create) + (owner ? "owner " : " ");
    textCopy(path, MAX_PATH, csidl == world.specialFailsFor ? "Q:\\left behind" : answer("S:\\", csidl).c_str());
    return csidl == world.specialFailsFor ? world.specialFailure : TRUE;
}
HRESULT WINAPI fakeFolder(HWND owner, int csidl, HANDLE token, DWORD flags, LPSTR path) {
    world.log += "F" + std::to_string(csidl) + "/" + std::to_string(flags) + (owner || token ? "owner " : " ");
    textCopy(path, MAX_PATH, csidl == world.folderFailsFor ? "Q:\\left behind" : answer("F:\\", csidl).c_str());
    return csidl == world.folderFailsFor ? world.folderFailure : S_OK;
}
HMODULE WINAPI loggedLoad(LPCSTR name) {
    world.log += std::string("load ") + name + " ";
    if (std::find(world.refuse.begin(), world.refuse.end(), name) != world.refuse.end()) return 0;
    const HMODULE module = loadLibraryFromSystemFolder(name);
    world.loaded += module != 0;
    return module;
}
BOOL WINAPI loggedFree(HMODULE module) {
    world.log += "free ";
    world.loaded--;
    return FreeLibrary(module);
}
FARPROC WINAPI fakeGetProcAddress(HMODULE module, LPCSTR name) {
    const std::string wanted = name;
    if (wanted == "SHGetSpecialFolderPathA" && (world.specialMissing || world.fakeSpecial))
        return world.specialMissing ? 0 : (FARPROC)(void*)fakeSpecial;
    if (wanted == "SHGetFolderPathA" && (world.folderMissing || world.fakeFolder))
        return world.folderMissing ? 0 : (FARPROC)(void*)fakeFolder;
    return GetProcAddress(module, name);
}
UINT WINAPI fakeWindowsFolder(LPSTR buffer, UINT size) {
    if (world.windowsResult == 0) return SetLastError(ERROR_ACCESS_DENIED), 0;
    if (world.windows.size() + 1 > size) return (UINT)world.windows.size() + 1;  // the size it would need
    memcpy(buffer, world.windows.c_str(), world.windows.size() + 1);
    return world.windowsResult >= 0 ? (UINT)world.windowsResult : (UINT)world.windows.size();
}
DWORD WINAPI fakeCurrentFolder(DWORD size, LPSTR buffer) {
    if (world.current.size() + 1 > size) return (DWORD)world.current.size() + 1;
    memcpy(buffer, world.current.c_str(), world.current.size() + 1);
    return (DWORD)world.current.size();
}

std::string shellFolder(int csidl) {  // the platform's own answer
    char path[MAX_PATH] = "";
    typedef BOOL(WINAPI * Special)(HWND, LPSTR, int, BOOL);
    const HMODULE shell = LoadLibraryA("shell32.dll");
    const Special special = (Special)(void*)GetProcAddress(shell, "SHGetSpecialFolderPathA");
    const BOOL found = special && special(0, path, csidl, FALSE);
    FreeLibrary(shell);
    return found ? path : "";
}

// The six entries in table order, joined with " | ".
std::string table() {
    const SpecialFolderTable* t = getSpecialFolderTable();
    return std::string(t->programFilesFolder) + " | " + t->personalFolder + " | " + t->appDataFolder + " | " +
           t->commonAppDataFolder + " | " + t->commonProgramsFolder + " | " + t->startupFolder;
}

class Folders : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override {
        resetSystemCalls();
        resetSpecialFoldersForTests();
        resolveSpecialFolders();
    }
    // A fresh table, fresh fakes and the logging calls.
    void fresh() {
        EXPECT_EQ(0, world.loaded) << "libraries left loaded";  // freed once after their last use
        world = World();
        resetSpecialFoldersForTests();
        resetSystemCalls();
        systemCalls.loadSystemLibrary = loggedLoad;
        systemCalls.freeLibrary = loggedFree;
        systemCalls.getProcAddress = fakeGetProcAddress;
    }
    void useFakeFolders() {
        if (!world.windows.empty() || world.windowsResult == 0) systemCalls.getWindowsDirectory = fakeWindowsFolder;
        if (!world.current.empty()) systemCalls.getCurrentDirectory = fakeCurrentFolder;
    }
};

TEST_F(Folders, TheTableStageByStage) {
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    const std::string cwd = current, s = "S:\\", f = "F:\\", longPath = "D:" + std::string(490, 'w');
    std::string shell = shellFolder(38);  // the real libraries answer what the shell answers
    for (int csidl : {5, 26, 35, 23, 7}) shell += " | " + shellFolder(csidl);
    // The table when only the fallbacks gave folders, from the root of `root`.
    auto fallbacks = [&](const std::string& root) {
        return root + "\\Program Files\\ | " + cwd + " | " + cwd + " | " + root + "\\Fenmarch\\CommonAPP |  | Startup";
    };
    // clang-format off
    const struct Scenario {
        const char* what;
        std::function<void()> setUp;
        std::string log, table;
    } scenarios[] = {
        {"the shell", [] {}, "load SHELL32.DLL free ", shell},
        {"the real second library", [] { world.specialMissing = true; },
         "load SHELL32.DLL free load SHFOLDER.DLL free ", shell.substr(0, shell.rfind(" | ")) + " | Startup"},
        {"the first library answers all", [] { world.fakeSpecial = true; },
         "load SHELL32.DLL S38/0 S5/1 S26/1 S35/1 S23/1 S7/1 free ",
         s + "38 | " + s + "5 | " + s + "26 | " + s + "35 | " + s + "23 | " + s + "7"},
        {"the second asks only what the first missed", [] { world.fakeSpecial = world.fakeFolder = true, world.specialFailsFor = 35; },
         "load SHELL32.DLL S38/0 S5/1 S26/1 S35/1 S23/1 S7/1 free load SHFOLDER.DLL F35/0 free ",
         s + "38 | " + s + "5 | " + s + "26 | " + f + "35 | " + s + "23 | " + s + "7"},
        {"only exactly 1 and 0 are success", [] {
             world.fakeSpecial = world.fakeFolder = true, world.specialFailsFor = world.folderFailsFor = 23;
             world.specialFailure = 2, world.folderFailure = S_FALSE; },
         "load SHELL32.DLL S38/0 S5/1 S26/1 S35/1 S23/1 S7/1 free load SHFOLDER.DLL F23/0 free ",
         s + "38 | " + s + "5 | " + s + "26 | " + s + "35 |  | " + s + "7"},
        {"without the first function Startup keeps its text", [] { world.specialMissing = true, world.fakeFolder = true; },
         "load SHELL32.DLL free load SHFOLDER.DLL F38/0 F5/0 F26/0 F35/0 F23/0 free ",
         f + "38 | " + f + "5 | " + f + "26 | " + f + "35 | " + f + "23 | Startup"},
        {"without SHELL32.DLL the second is not tried", [] {
             world.refuse = {"SHELL32.DLL"}, world.fakeFolder = true, world.windows = "D:\\WINDOWS"; },
         "load SHELL32.DLL ", fallbacks("D:")},
        {"fallbacks fill only what is empty", [] {
             world.fakeSpecial = world.fakeFolder = true, world.specialFailsFor = world.folderFailsFor = 38;
             world.windows = "D:\\WINDOWS"; },
         "load SHELL32.DLL S38/0 S5/1 S26/1 S35/1 S23/1 S7/1 free load SHFOLDER.DLL F38/0 free ",
         "D:\\Program Files\\ | " + s + "5 | " + s + "26 | " + s + "35 | " + s + "23 | " + s + "7"},
        {"unreadable Windows folder", [] { world.refuse = {"SHELL32.DLL"}, world.windowsResult = 0; },
         "load SHELL32.DLL ", fallbacks("C:")},
        {"a length it did not store", [] { world.refuse = {"SHELL32.DLL"}, world.windows = "D:\\WINDOWS", world.windowsResult = 5; },
         "load SHELL32.DLL ", fallbacks("C:")},
        {"fallbacks that do not fit stay empty", [&] {
             world.refuse = {"SHELL32.DLL"}, world.windows = longPath + "www", world.current = "Z:\\" + std::string(509, 'c'); },
         "load SHELL32.DLL ", longPath + "www\\Program Files\\ |  |  |  |  | Startup"},
        {"the longest that fit", [&] {
             world.refuse = {"SHELL32.DLL"}, world.windows = longPath, world.current = "Z:\\" + std::string(508, 'c'); },
         "load SHELL32.DLL ", longPath + "\\Program Files\\ | Z:\\" + std::string(508, 'c') + " | Z:\\" +
             std::string(508, 'c') + " | " + longPath + "\\Fenmarch\\CommonAPP |  | Startup"},
    };
    // clang-format on
    for (const Scenario& scenario : scenarios) {
        fresh();
        scenario.setUp();
        useFakeFolders();
        resolveSpecialFolders();
        EXPECT_EQ(scenario.log, world.log) << scenario.what;
        EXPECT_EQ(scenario.table, table()) << scenario.what;
    }
    // A second call asks nothing and changes nothing, even after empty entries.
    const std::string first = table();
    world.log.clear();
    world.fakeSpecial = true;
    resolveSpecialFolders();
    EXPECT_EQ("", world.log);
    EXPECT_EQ(first, table());
}

// A state of bytes 0x5a, so that any write outside targetFolder shows.
struct Guarded {
    InstallerState state;
    char after[64];
    Guarded() { memset(this, 0x5a, sizeof *this); }
    bool onlyTargetWritten() const {
        const unsigned char* bytes = (const unsigned char*)this;
        const size_t begin = offsetof(InstallerState, targetFolder), end = begin + sizeof state.targetFolder;
        for (size_t i = 0; i < sizeof *this; i++)
            if ((i < begin || i >= end) && bytes[i] != 0x5a) return false;
        return textLength(state.targetFolder, sizeof state.targetFolder) < (int)sizeof state.targetFolder;
    }
};

TEST_F(Folders, TheInstallationFolderIsAskedAnewNeverCreatedNeverFromTheTable) {
    const std::string shell = shellFolder(38);
    // clang-format off
    const struct Scenario {
        const char* what;
        std::function<void()> setUp;
        int result;
        std::string log, target;
    } scenarios[] = {
        {"the shell", [] {}, 0, "load SHELL32.DLL free ", shell + "\\FM\\Orlo-Cast"},
        {"one backslash", [] { world.fakeSpecial = true, world.programFiles = "E:\\Apps\\"; }, 0,
         "load SHELL32.DLL S38/0 free ", "E:\\Apps\\FM\\Orlo-Cast"},
        {"second library after a failed first", [] {
             world.fakeSpecial = world.fakeFolder = true, world.specialFailsFor = 38, world.specialFailure = 2;
             world.programFiles = "F:\\Programs"; },
         0, "load SHELL32.DLL S38/0 free load SHFOLDER.DLL F38/0 free ", "F:\\Programs\\FM\\Orlo-Cast"},
        {"second library without SHELL32.DLL", [] { world.refuse = {"SHELL32.DLL"}; }, 0,
         "load SHELL32.DLL load SHFOLDER.DLL free ", shell + "\\FM\\Orlo-Cast"},
        {"the Windows folder's root", [] { world.refuse = {"SHELL32.DLL", "SHFOLDER.DLL"}, world.windows = "D:\\WINDOWS"; },
         0, "load SHELL32.DLL load SHFOLDER.DLL ", "D:\\Program Files\\FM\\Orlo-Cast"},
        {"drive C: when unreadable", [] { world.refuse = {"SHELL32.DLL", "SHFOLDER.DLL"}, world.windowsResult = 0; },
         0, "load SHELL32.DLL load SHFOLDER.DLL ", "C:\\Program Files\\FM\\Orlo-Cast"},
        {"the longest that fits", [] { world.refuse = {"SHELL32.DLL", "SHFOLDER.DLL"}, world.windows = "D:" + std::string(994, 'w'); },
         0, "load SHELL32.DLL load SHFOLDER.DLL ", "D:" + std::string(994, 'w') + "\\Program Files\\FM\\Orlo-Cast"},
        {"one more does not fit", [] { world.refuse = {"SHELL32.DLL", "SHFOLDER.DLL"}, world.windows = "D:" + std::string(995, 'w'); },
         -1, "load SHELL32.DLL load SHFOLDER.DLL ", ""},
    };
    // clang-format on
    for (const Scenario& scenario : scenarios) {
        fresh();
        scenario.setUp();
        useFakeFolders();
        Guarded guarded;
        EXPECT_EQ(scenario.result, resolveTargetFolder(&guarded.state, PRODUCT_FOLDER)) << scenario.what;
        EXPECT_EQ(scenario.target, guarded.state.targetFolder) << scenario.what;
        EXPECT_EQ(scenario.log, world.log) << scenario.what;
        EXPECT_TRUE(guarded.onlyTargetWritten()) << scenario.what;
    }
}

}  // namespace
