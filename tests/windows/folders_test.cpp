// Folder resolution under Wine: the shell's own answers in a normal prefix,
// and every later stage reached by making libraries, functions or the
// Windows folder fail through the system-call table. Fake shell functions
// log what they are asked, so the order of the stages can be checked.
#include "setup/folders.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "app/installer_state.h"
#include "platform/bounded_text.h"
#include "platform/system_calls.h"
#include "tests/support/win32_check.h"

namespace {

const char PRODUCT_FOLDER[] = "FM\\Orlo-Cast";

typedef BOOL(WINAPI* SpecialFolderPathFunction)(HWND, LPSTR, int, BOOL);
typedef HRESULT(WINAPI* FolderPathFunction)(HWND, int, HANDLE, DWORD, LPSTR);

// ---- What the fakes were asked, and how they answer ------------------------

struct ShellCall {
    int csidl;
    int createOrFlags;
    bool ownerOrTokenGiven;
};

struct FakeWorld {
    std::vector<std::string> loads;  // every loadSystemLibrary name, in order
    int loadedCount;                 // handles handed out and not yet freed
    int freeCount;
    std::vector<ShellCall> specialCalls;
    std::vector<ShellCall> folderCalls;
    bool specialMissing;  // getProcAddress answers 0 for SHGetSpecialFolderPathA
    bool folderMissing;
    bool fakeSpecial;  // getProcAddress answers with the fake functions below
    bool fakeFolder;
    std::vector<std::string> refuse;  // libraries that cannot be loaded
    int specialFailsFor;              // CSIDL the fake special function fails for, or -1
    BOOL specialFailure;              // what it returns then
    int folderFailsFor;
    HRESULT folderFailure;
    std::string programFilesAnswer;  // what both fakes give for CSIDL 38, when set
    std::string windowsFolder;       // fake GetWindowsDirectoryA text
    int windowsFolderResult;         // -1: the true length of windowsFolder
    std::string currentFolder;
};

FakeWorld world;

std::string fakeFolderText(const char* prefix, int csidl) {
    if (csidl == 38 && !world.programFilesAnswer.empty()) return world.programFilesAnswer;
    return std::string(prefix) + std::to_string(csidl);
}

BOOL WINAPI fakeSpecialFolderPath(HWND owner, LPSTR path, int csidl, BOOL create) {
    world.specialCalls.push_back({csidl, (int)create, owner != 0});
    if (csidl == world.specialFailsFor) {
        textCopy(path, MAX_PATH, "Q:\\left behind");  // the caller must not keep this
        return world.specialFailure;
    }
    textCopy(path, MAX_PATH, fakeFolderText("S:\\special\\", csidl).c_str());
    return TRUE;
}

HRESULT WINAPI fakeFolderPath(HWND owner, int csidl, HANDLE token, DWORD flags, LPSTR path) {
    world.folderCalls.push_back({csidl, (int)flags, owner != 0 || token != 0});
    if (csidl == world.folderFailsFor) {
        textCopy(path, MAX_PATH, "Q:\\left behind");
        return world.folderFailure;
    }
    textCopy(path, MAX_PATH, fakeFolderText("F:\\folder\\", csidl).c_str());
    return S_OK;
}

HMODULE WINAPI loggingLoadSystemLibrary(LPCSTR name) {
    world.loads.push_back(name);
    for (const std::string& refused : world.refuse) {
        if (refused == name) return 0;
    }
    const HMODULE module = loadLibraryFromSystemFolder(name);
    if (module != 0) world.loadedCount++;
    return module;
}

BOOL WINAPI loggingFreeLibrary(HMODULE module) {
    world.freeCount++;
    world.loadedCount--;
    return FreeLibrary(module);
}

FARPROC WINAPI fakeGetProcAddress(HMODULE module, LPCSTR name) {
    const std::string wanted = name;
    if (wanted == "SHGetSpecialFolderPathA") {
        if (world.specialMissing) return 0;
        if (world.fakeSpecial) return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(fakeSpecialFolderPath));
    }
    if (wanted == "SHGetFolderPathA") {
        if (world.folderMissing) return 0;
        if (world.fakeFolder) return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(fakeFolderPath));
    }
    return GetProcAddress(module, name);
}

UINT WINAPI fakeWindowsDirectory(LPSTR buffer, UINT size) {
    const std::string& text = world.windowsFolder;
    if (text.size() + 1 > size) return (UINT)text.size() + 1;  // the size it would need
    memcpy(buffer, text.c_str(), text.size() + 1);
    return world.windowsFolderResult >= 0 ? (UINT)world.windowsFolderResult : (UINT)text.size();
}

UINT WINAPI failingWindowsDirectory(LPSTR, UINT) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

DWORD WINAPI fakeCurrentDirectory(DWORD size, LPSTR buffer) {
    const std::string& text = world.currentFolder;
    if (text.size() + 1 > size) return (DWORD)text.size() + 1;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return (DWORD)text.size();
}

// ---- Reference answers from the platform itself -----------------------------

std::string shellFolder(int csidl) {
    const HMODULE shell = LoadLibraryA("shell32.dll");
    if (shell == 0) return "";
    const SpecialFolderPathFunction function = reinterpret_cast<SpecialFolderPathFunction>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(shell, "SHGetSpecialFolderPathA")));
    char path[MAX_PATH] = "";
    const BOOL found = function != 0 && function(0, path, csidl, FALSE);
    FreeLibrary(shell);
    return found ? path : "";
}

std::string currentFolder() {
    char path[MAX_PATH] = "";
    const DWORD length = GetCurrentDirectoryA(sizeof path, path);
    return length > 0 && length < sizeof path ? path : "";
}

bool runsOn64BitWindows() {
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    const IsWow64ProcessFunction isWow64 = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 != 0 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

struct Folders {
    std::string programFiles, personal, appData, commonAppData, commonPrograms, startup;
};

Folders tableNow() {
    const SpecialFolderTable* table = getSpecialFolderTable();
    return {table->programFilesFolder,   table->personalFolder,       table->appDataFolder,
            table->commonAppDataFolder, table->commonProgramsFolder, table->startupFolder};
}

// A state record of bytes 0x5a, so that any write outside targetFolder shows.
struct GuardedState {
    InstallerState state;
    char after[64];
};

void fillGuarded(GuardedState* guarded) { memset(guarded, 0x5a, sizeof *guarded); }

// Every byte outside targetFolder is still 0x5a, and targetFolder holds a
// terminated text.
void expectOnlyTargetWritten(const GuardedState& guarded) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&guarded);
    const size_t begin = offsetof(InstallerState, targetFolder);
    const size_t end = begin + sizeof guarded.state.targetFolder;
    for (size_t i = 0; i < sizeof guarded; i++) {
        if (i >= begin && i < end) continue;
        ASSERT_EQ(0x5a, bytes[i]) << "byte " << i << " outside targetFolder was written";
    }
    const int size = (int)sizeof guarded.state.targetFolder;
    EXPECT_LT(textLength(guarded.state.targetFolder, size), size);
}

class FolderResolution : public ::testing::Test {
protected:
    void SetUp() override {
        world = FakeWorld();
        world.specialFailsFor = -1;
        world.specialFailure = FALSE;
        world.folderFailsFor = -1;
        world.folderFailure = E_FAIL;
        world.windowsFolderResult = -1;
        resetSpecialFoldersForTests();
        systemCalls.loadSystemLibrary = loggingLoadSystemLibrary;
        systemCalls.freeLibrary = loggingFreeLibrary;
        systemCalls.getProcAddress = fakeGetProcAddress;
    }
    void TearDown() override {
        resetSystemCalls();
        resetSpecialFoldersForTests();
        // A library is freed once after its last use, whatever the path taken.
        EXPECT_EQ(0, world.loadedCount) << "libraries left loaded";
    }
    void withoutLibraries() { world.refuse = {"SHELL32.DLL", "SHFOLDER.DLL"}; }
    void withWindowsFolder(const std::string& text) {
        world.windowsFolder = text;
        systemCalls.getWindowsDirectory = fakeWindowsDirectory;
    }
};

// ---- The table, from the shell -----------------------------------------------

TEST_F(FolderResolution, NormalPrefixGivesTheShellsFolders) {
    resolveSpecialFolders();
    const Folders found = tableNow();
    const Folders shell = {shellFolder(38), shellFolder(5), shellFolder(26),
                           shellFolder(35), shellFolder(23), shellFolder(7)};
    ASSERT_NE("", shell.programFiles);
    EXPECT_EQ(shell.programFiles, found.programFiles);
    EXPECT_EQ(shell.personal, found.personal);
    EXPECT_EQ(shell.appData, found.appData);
    EXPECT_EQ(shell.commonAppData, found.commonAppData);
    EXPECT_EQ(shell.commonPrograms, found.commonPrograms);
    EXPECT_EQ(shell.startup, found.startup);
    EXPECT_EQ(found.commonPrograms, getCommonProgramsFolder());
    EXPECT_EQ(found.startup, getStartupFolder());
    EXPECT_NE("Startup", found.startup);
    if (runsOn64BitWindows()) EXPECT_NE(std::string::npos, found.programFiles.find("Program Files (x86)"));
}

TEST_F(FolderResolution, FirstPassAsksAllSixInTableOrderAndSecondLibraryIsNeverLoaded) {
    world.fakeSpecial = true;
    resolveSpecialFolders();
    const int order[] = {38, 5, 26, 35, 23, 7};
    ASSERT_EQ(6u, world.specialCalls.size());
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(order[i], world.specialCalls[i].csidl);
        // Program Files is only looked up; every other folder may be created.
        EXPECT_EQ(i == 0 ? 0 : 1, world.specialCalls[i].createOrFlags) << order[i];
        EXPECT_FALSE(world.specialCalls[i].ownerOrTokenGiven);
    }
    EXPECT_EQ(std::vector<std::string>{"SHELL32.DLL"}, world.loads);
    EXPECT_TRUE(world.folderCalls.empty());
    const Folders found = tableNow();
    EXPECT_EQ("S:\\special\\38", found.programFiles);
    EXPECT_EQ("S:\\special\\5", found.personal);
    EXPECT_EQ("S:\\special\\26", found.appData);
    EXPECT_EQ("S:\\special\\35", found.commonAppData);
    EXPECT_EQ("S:\\special\\23", found.commonPrograms);
    EXPECT_EQ("S:\\special\\7", found.startup);
}

TEST_F(FolderResolution, SecondPassAsksOnlyForWhatTheFirstMissed) {
    world.fakeSpecial = true;
    world.fakeFolder = true;
    world.specialFailsFor = 35;
    resolveSpecialFolders();
    EXPECT_EQ(6u, world.specialCalls.size());
    ASSERT_EQ(1u, world.folderCalls.size());
    EXPECT_EQ(35, world.folderCalls[0].csidl);
    EXPECT_EQ(0, world.folderCalls[0].createOrFlags);
    EXPECT_FALSE(world.folderCalls[0].ownerOrTokenGiven);
    EXPECT_EQ((std::vector<std::string>{"SHELL32.DLL", "SHFOLDER.DLL"}), world.loads);
    EXPECT_EQ("F:\\folder\\35", tableNow().commonAppData);
    EXPECT_EQ("S:\\special\\23", tableNow().commonPrograms);
}

TEST_F(FolderResolution, OnlyAResultOfExactlyOneIsSuccess) {
    // A true value other than 1 fails like FALSE, and its text is not kept.
    world.fakeSpecial = true;
    world.fakeFolder = true;
    world.specialFailsFor = 23;
    world.specialFailure = 2;
    world.folderFailsFor = 23;
    world.folderFailure = S_FALSE;  // non-zero, though not an error code
    resolveSpecialFolders();
    ASSERT_EQ(1u, world.folderCalls.size());
    EXPECT_EQ(23, world.folderCalls[0].csidl);
    EXPECT_EQ("", tableNow().commonPrograms);
    EXPECT_EQ("", std::string(getCommonProgramsFolder()));
}

TEST_F(FolderResolution, WithoutSpecialFolderPathTheSecondLibraryAnswersAndStartupStays) {
    world.specialMissing = true;
    world.fakeFolder = true;
    resolveSpecialFolders();
    EXPECT_TRUE(world.specialCalls.empty());
    const int order[] = {38, 5, 26, 35, 23};
    ASSERT_EQ(5u, world.folderCalls.size());
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(order[i], world.folderCalls[i].csidl);
        EXPECT_EQ(0, world.folderCalls[i].createOrFlags);
    }
    const Folders found = tableNow();
    EXPECT_EQ("F:\\folder\\38", found.programFiles);
    EXPECT_EQ("F:\\folder\\5", found.personal);
    EXPECT_EQ("F:\\folder\\26", found.appData);
    EXPECT_EQ("F:\\folder\\35", found.commonAppData);
    EXPECT_EQ("F:\\folder\\23", found.commonPrograms);
    EXPECT_EQ("Startup", found.startup);
    EXPECT_EQ(2, world.freeCount);
}

TEST_F(FolderResolution, WithoutSpecialFolderPathTheRealSecondLibraryGivesTheShellsFolders) {
    world.specialMissing = true;
    resolveSpecialFolders();
    const Folders found = tableNow();
    EXPECT_EQ(shellFolder(38), found.programFiles);
    EXPECT_EQ(shellFolder(23), found.commonPrograms);
    EXPECT_EQ("Startup", found.startup);
    EXPECT_EQ((std::vector<std::string>{"SHELL32.DLL", "SHFOLDER.DLL"}), world.loads);
}

TEST_F(FolderResolution, WithoutShell32TheSecondLibraryIsNotTried) {
    world.refuse = {"SHELL32.DLL"};
    world.fakeFolder = true;
    withWindowsFolder("D:\\WINDOWS");
    resolveSpecialFolders();
    EXPECT_EQ(std::vector<std::string>{"SHELL32.DLL"}, world.loads);
    EXPECT_TRUE(world.folderCalls.empty());
    EXPECT_EQ("D:\\Program Files\\", tableNow().programFiles);
}

TEST_F(FolderResolution, MissingSecondFunctionFallsBackAndFreesBothLibraries) {
    world.specialMissing = true;
    world.folderMissing = true;
    withWindowsFolder("D:\\WINDOWS");
    resolveSpecialFolders();
    EXPECT_EQ((std::vector<std::string>{"SHELL32.DLL", "SHFOLDER.DLL"}), world.loads);
    EXPECT_EQ(2, world.freeCount);
    EXPECT_EQ("D:\\Program Files\\", tableNow().programFiles);
    EXPECT_EQ("Startup", tableNow().startup);
}

// ---- The table, from the fallbacks -------------------------------------------

TEST_F(FolderResolution, NeitherLibraryGivesTheWindowsFolderFallbacks) {
    withoutLibraries();
    withWindowsFolder("D:\\WINDOWS");
    resolveSpecialFolders();
    const Folders found = tableNow();
    const std::string current = currentFolder();
    ASSERT_NE("", current);
    EXPECT_EQ("D:\\Program Files\\", found.programFiles);
    EXPECT_EQ(current, found.personal);
    EXPECT_EQ(current, found.appData);
    EXPECT_EQ("D:\\Fenmarch\\CommonAPP", found.commonAppData);
    EXPECT_EQ("", found.commonPrograms);
    EXPECT_EQ("Startup", found.startup);
}

TEST_F(FolderResolution, UnreadableWindowsFolderGivesDriveC) {
    withoutLibraries();
    systemCalls.getWindowsDirectory = failingWindowsDirectory;
    resolveSpecialFolders();
    EXPECT_EQ("C:\\Program Files\\", tableNow().programFiles);
    EXPECT_EQ("C:\\Fenmarch\\CommonAPP", tableNow().commonAppData);
}

TEST_F(FolderResolution, WindowsFolderReadCountsOnlyWhenItsLengthMatches) {
    struct Case {
        std::string windows;
        int result;  // -1: the true length
        const char* programFiles;
        const char* commonAppData;
    };
    const Case cases[] = {
        {"D:\\WINDOWS", 5, "C:\\Program Files\\", "C:\\Fenmarch\\CommonAPP"},       // a length it did not store
        {std::string(2000, 'w'), -1, "C:\\Program Files\\", "C:\\Fenmarch\\CommonAPP"},  // needs more than 2000
        {"E:", -1, "E:\\Program Files\\", "E:\\Fenmarch\\CommonAPP"},
        {"\\\\srv\\share\\WINDOWS", -1, "\\\\srv\\Program Files\\", "\\\\srv\\Fenmarch\\CommonAPP"},
        // A Windows folder without a drive gives no root: as if unreadable.
        {"WINDOWS", -1, "C:\\Program Files\\", "C:\\Fenmarch\\CommonAPP"},
    };
    for (const Case& c : cases) {
        resetSpecialFoldersForTests();
        withoutLibraries();
        withWindowsFolder(c.windows);
        world.windowsFolderResult = c.result;
        resolveSpecialFolders();
        EXPECT_EQ(c.programFiles, tableNow().programFiles) << c.windows.substr(0, 40);
        EXPECT_EQ(c.commonAppData, tableNow().commonAppData) << c.windows.substr(0, 40);
    }
}

TEST_F(FolderResolution, FallbacksThatDoNotFitLeaveTheirEntryEmpty) {
    // "D:" and n more characters without a backslash: the whole text is the
    // root. Program Files takes 15 more characters, CommonAPP 19 more.
    struct Case {
        int length;
        bool programFilesFits;
        bool commonAppDataFits;
    };
    const Case cases[] = {{492, true, true}, {493, true, false}, {496, true, false}, {497, false, false},
                          {1000, false, false}};
    for (const Case& c : cases) {
        resetSpecialFoldersForTests();
        withoutLibraries();
        const std::string windows = "D:" + std::string(c.length - 2, 'w');
        withWindowsFolder(windows);
        world.currentFolder = std::string(40, 'c');
        systemCalls.getCurrentDirectory = fakeCurrentDirectory;
        resolveSpecialFolders();
        const Folders found = tableNow();
        EXPECT_EQ(c.programFilesFits ? windows + "\\Program Files\\" : "", found.programFiles) << c.length;
        EXPECT_EQ(c.commonAppDataFits ? windows + "\\Fenmarch\\CommonAPP" : "", found.commonAppData) << c.length;
        // The neighbours of each entry are whole: nothing ran over.
        EXPECT_EQ(world.currentFolder, found.personal) << c.length;
        EXPECT_EQ(world.currentFolder, found.appData) << c.length;
        EXPECT_EQ("", found.commonPrograms) << c.length;
        EXPECT_EQ("Startup", found.startup) << c.length;
    }
}

TEST_F(FolderResolution, CurrentFolderThatDoesNotFitLeavesPersonalAndAppDataEmpty) {
    systemCalls.getCurrentDirectory = fakeCurrentDirectory;
    for (int length : {510, 511, 512, 700}) {
        resetSpecialFoldersForTests();
        withoutLibraries();
        withWindowsFolder("D:\\WINDOWS");
        world.currentFolder = "Z:\\" + std::string(length - 3, 'c');
        resolveSpecialFolders();
        const std::string expected = length <= 511 ? world.currentFolder : "";
        EXPECT_EQ(expected, tableNow().personal) << length;
        EXPECT_EQ(expected, tableNow().appData) << length;
        EXPECT_EQ("D:\\Program Files\\", tableNow().programFiles) << length;
        EXPECT_EQ("D:\\Fenmarch\\CommonAPP", tableNow().commonAppData) << length;
    }
}

TEST_F(FolderResolution, FallbacksFillOnlyWhatTheShellLeftEmpty) {
    world.fakeSpecial = true;
    world.fakeFolder = true;
    world.specialFailsFor = 38;
    world.folderFailsFor = 38;
    withWindowsFolder("D:\\WINDOWS");
    resolveSpecialFolders();
    const Folders found = tableNow();
    EXPECT_EQ("D:\\Program Files\\", found.programFiles);
    EXPECT_EQ("S:\\special\\5", found.personal);
    EXPECT_EQ("S:\\special\\26", found.appData);
    EXPECT_EQ("S:\\special\\35", found.commonAppData);
}

TEST_F(FolderResolution, SecondCallChangesNothingEvenAfterEmptyEntries) {
    withoutLibraries();
    withWindowsFolder("D:\\WINDOWS");
    resolveSpecialFolders();
    const Folders first = tableNow();
    ASSERT_EQ("", first.commonPrograms);

    // Everything would work now; nothing is asked again.
    world = FakeWorld();
    world.fakeSpecial = true;
    world.specialFailsFor = -1;
    world.folderFailsFor = -1;
    world.windowsFolderResult = -1;
    systemCalls.getWindowsDirectory = GetWindowsDirectoryA;
    resolveSpecialFolders();
    EXPECT_TRUE(world.loads.empty());
    EXPECT_TRUE(world.specialCalls.empty());
    const Folders second = tableNow();
    EXPECT_EQ(first.programFiles, second.programFiles);
    EXPECT_EQ(first.personal, second.personal);
    EXPECT_EQ(first.appData, second.appData);
    EXPECT_EQ(first.commonAppData, second.commonAppData);
    EXPECT_EQ("", second.commonPrograms);
    EXPECT_EQ("Startup", second.startup);
}

// ---- The installation folder -------------------------------------------------

TEST_F(FolderResolution, TargetFolderIsProgramFilesJoinedWithTheProductFolder) {
    GuardedState guarded;
    fillGuarded(&guarded);
    ASSERT_EQ(0, resolveTargetFolder(&guarded.state, PRODUCT_FOLDER));
    const std::string programFiles = shellFolder(38);
    ASSERT_NE("", programFiles);
    EXPECT_EQ(programFiles + "\\FM\\Orlo-Cast", guarded.state.targetFolder);
    if (runsOn64BitWindows()) {
        EXPECT_NE(nullptr, strstr(guarded.state.targetFolder, "\\Program Files (x86)\\FM\\Orlo-Cast"));
    } else {
        EXPECT_EQ(nullptr, strstr(guarded.state.targetFolder, "(x86)"));
    }
    expectOnlyTargetWritten(guarded);
    EXPECT_EQ(std::vector<std::string>{"SHELL32.DLL"}, world.loads);
}

TEST_F(FolderResolution, TargetFolderNeverCreatesAndNeverReadsTheTable) {
    world.fakeSpecial = true;
    resolveSpecialFolders();  // the table now says S:\special\38
    world.specialCalls.clear();
    world.programFilesAnswer = "E:\\Apps\\";
    InstallerState state;
    ASSERT_EQ(0, resolveTargetFolder(&state, PRODUCT_FOLDER));
    // A shell path ending in a backslash gets no second one.
    EXPECT_STREQ("E:\\Apps\\FM\\Orlo-Cast", state.targetFolder);
    ASSERT_EQ(1u, world.specialCalls.size());
    EXPECT_EQ(38, world.specialCalls[0].csidl);
    EXPECT_EQ(0, world.specialCalls[0].createOrFlags);

    // Asked anew on every call.
    world.programFilesAnswer = "G:\\Other";
    ASSERT_EQ(0, resolveTargetFolder(&state, PRODUCT_FOLDER));
    EXPECT_STREQ("G:\\Other\\FM\\Orlo-Cast", state.targetFolder);
    EXPECT_EQ(2u, world.specialCalls.size());
}

TEST_F(FolderResolution, TargetFolderTriesSecondLibraryEvenWithoutShell32) {
    world.refuse = {"SHELL32.DLL"};
    InstallerState state;
    ASSERT_EQ(0, resolveTargetFolder(&state, PRODUCT_FOLDER));
    EXPECT_EQ(shellFolder(38) + "\\FM\\Orlo-Cast", state.targetFolder);
    EXPECT_EQ((std::vector<std::string>{"SHELL32.DLL", "SHFOLDER.DLL"}), world.loads);
}

TEST_F(FolderResolution, TargetFolderSecondLibraryAfterAFailedFirst) {
    world.fakeSpecial = true;
    world.fakeFolder = true;
    world.specialFailsFor = 38;
    world.specialFailure = 2;
    world.programFilesAnswer = "F:\\Programs\\";
    InstallerState state;
    ASSERT_EQ(0, resolveTargetFolder(&state, PRODUCT_FOLDER));
    EXPECT_STREQ("F:\\Programs\\FM\\Orlo-Cast", state.targetFolder);
    ASSERT_EQ(1u, world.folderCalls.size());
    EXPECT_EQ(38, world.folderCalls[0].csidl);
    EXPECT_EQ(0, world.folderCalls[0].createOrFlags);
    EXPECT_FALSE(world.folderCalls[0].ownerOrTokenGiven);
}

TEST_F(FolderResolution, TargetFolderFallsBackToTheWindowsFolderRoot) {
    struct Case {
        std::string windows;
        bool readable;
        const char* target;
    };
    const Case cases[] = {
        {"D:\\WINDOWS", true, "D:\\Program Files\\FM\\Orlo-Cast"},
        {"\\\\srv\\share\\WINDOWS", true, "\\\\srv\\Program Files\\FM\\Orlo-Cast"},
        {"D:", true, "D:\\Program Files\\FM\\Orlo-Cast"},
        {"", false, "C:\\Program Files\\FM\\Orlo-Cast"},
    };
    for (const Case& c : cases) {
        world.refuse = {"SHELL32.DLL", "SHFOLDER.DLL"};
        if (c.readable) {
            withWindowsFolder(c.windows);
        } else {
            systemCalls.getWindowsDirectory = failingWindowsDirectory;
        }
        GuardedState guarded;
        fillGuarded(&guarded);
        ASSERT_EQ(0, resolveTargetFolder(&guarded.state, PRODUCT_FOLDER)) << c.windows;
        EXPECT_STREQ(c.target, guarded.state.targetFolder) << c.windows;
        expectOnlyTargetWritten(guarded);
    }
}

TEST_F(FolderResolution, TargetFolderThatDoesNotFitIsNoTarget) {
    // "D:" and more characters without a backslash: the whole text is kept,
    // then "\Program Files\" (15) and "FM\Orlo-Cast" (12) follow.
    struct Case {
        int length;
        int result;
    };
    const Case cases[] = {{996, 0}, {997, -1}, {1008, -1}, {1009, -1}, {1999, -1}};
    for (const Case& c : cases) {
        world.refuse = {"SHELL32.DLL", "SHFOLDER.DLL"};
        const std::string windows = "D:" + std::string(c.length - 2, 'w');
        withWindowsFolder(windows);
        GuardedState guarded;
        fillGuarded(&guarded);
        EXPECT_EQ(c.result, resolveTargetFolder(&guarded.state, PRODUCT_FOLDER)) << c.length;
        if (c.result == 0) {
            EXPECT_EQ(windows + "\\Program Files\\FM\\Orlo-Cast", guarded.state.targetFolder);
            EXPECT_EQ(1023u, strlen(guarded.state.targetFolder));
        } else {
            EXPECT_STREQ("", guarded.state.targetFolder) << c.length;
        }
        expectOnlyTargetWritten(guarded);
    }
}

}  // namespace
