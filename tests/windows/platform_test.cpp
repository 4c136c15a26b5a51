// The platform helpers on a real file system and registry, in scratch
// folders and keys of this process alone, and folder resolution. Calls are
// logged, or made to fail, through the system-call table.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>

#include "platform/bounded_text.h"
#include "platform/platform_ops.h"
#include "platform/system_calls.h"
#include "setup/procedures.h"
#include "tests/support/win32_test.h"

using namespace orlotest;

namespace {

std::vector<std::string> calls;  // what the logging calls below were asked, in order
bool pretend = false;            // createDirectory only logs and succeeds
std::string refuse;              // the path (or key name) whose call fails

BOOL WINAPI loggedCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
    calls.push_back(path);
    if (path == refuse) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
    return pretend || CreateDirectoryA(path, attributes);
}
BOOL WINAPI loggedMarkForDeletion(HANDLE handle) {
    const std::string path = pathOfHandle(handle);
    calls.push_back("remove " + path);
    return lstrcmpiA(path.c_str(), refuse.c_str()) != 0 && markHandleForDeletion(handle);
}
LONG WINAPI loggedRegDeleteKey(HKEY root, LPCSTR path) {
    calls.push_back(path);
    return path == refuse ? ERROR_ACCESS_DENIED : RegDeleteKeyA(root, path);
}

class Platform : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        pretend = false;
        refuse.clear();
        systemCalls.createDirectory = loggedCreateDirectory;
        systemCalls.markForDeletion = loggedMarkForDeletion;
        systemCalls.regDeleteKey = loggedRegDeleteKey;
        ASSERT_EQ(S_OK, CoInitialize(0));
    }
    void TearDown() override {
        resetSystemCalls();
        SHDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
        CoUninitialize();
    }
    // The calls made below the scratch folder, with its path shown as "~".
    std::vector<std::string> scratchCalls() const {
        std::vector<std::string> out;
        for (std::string call : calls) {
            const size_t at = call.find(scratch_.path() + "\\");
            if (at == std::string::npos) continue;
            out.push_back(call.replace(at, scratch_.path().size(), "~"));
        }
        return out;
    }
    std::string at(const std::string& relative) const { return scratch_ / relative; }
    void tree(const std::vector<std::string>& entries) {  // a trailing backslash makes a folder
        for (const std::string& e : entries)
            e.back() == '\\' ? (void)CreateDirectoryA(at(e).c_str(), 0) : writeFileBytes(at(e), "x");
    }
    ScratchFolder scratch_{"platform"};
    const std::string key_ = "Software\\OrloTest-" + std::to_string(GetCurrentProcessId());
};

using Calls = std::vector<std::string>;

TEST_F(Platform, FolderChainMakesEachLevelBelowTheRootAndStopsAtTheFirstFailure) {
    const std::string longest = "D:\\" + std::string(1020, 'a');  // 1023 characters: fits
    pretend = true;
    // clang-format off
    const struct {
        std::string path;
        int result;
        Calls made;
    } pretended[] = {{"", 0, {}}, {"D:\\", 0, {}}, {"D:\\x", 0, {}}, {longest + "a", 0, {}}, {"D:\\ab", 1, {"D:\\ab"}},
                     {longest, 1, {longest}}, {"\\\\server\\share", 1, {}}, {"\\\\server\\share\\", 1, {}},
                     {"\\\\server\\share\\dir\\x", 1, {"\\\\server\\share\\dir", "\\\\server\\share\\dir\\x"}},
                     {"folder", 1, {}}, {"C:dir\\", 1, {}}};
    // clang-format on
    for (const auto& c : pretended) {
        calls.clear();
        EXPECT_EQ(c.result, createFolderChain(c.path.c_str())) << c.path.substr(0, 40);
        EXPECT_EQ(c.made, calls) << c.path.substr(0, 40);
    }
    EXPECT_EQ(0, createFolderChain(nullptr));
    pretend = false;

    tree({"F"});
    refuse = at("R\\B");
    // clang-format off
    const struct {
        const char* path;
        int result;
        Calls made;  // below the scratch folder
    } real[] = {{"A\\B\\C", 1, {"~\\A", "~\\A\\B", "~\\A\\B\\C"}},
                {"A\\B\\C", 1, {"~\\A", "~\\A\\B", "~\\A\\B\\C"}},  // all there: asked again, accepted
                {"D\\E\\", 1, {"~\\D", "~\\D\\E"}},              // no call for the trailing backslash
                {"G\\\\H", 1, {"~\\G", "~\\G\\", "~\\G\\\\H"}},  // a doubled one costs an accepted call
                {"F\\G\\H", 0, {"~\\F", "~\\F\\G"}},             // a file is accepted, then the next level fails
                {"R\\B\\C", 0, {"~\\R", "~\\R\\B"}}};            // the levels made before stay
    // clang-format on
    for (const auto& c : real) {
        calls.clear();
        EXPECT_EQ(c.result, createFolderChain(at(c.path).c_str())) << c.path;
        EXPECT_EQ(c.made, scratchCalls()) << c.path;
    }
    EXPECT_TRUE(GetFileAttributesA(at("A\\B\\C").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(pathExists(at("R")));
    EXPECT_FALSE(pathExists(at("R\\B")));
}

// Names in listing order.
std::vector<std::string> listing(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    const HANDLE found = FindFirstFileA((folder + "\\*").c_str(), &entry);
    for (BOOL more = found != INVALID_HANDLE_VALUE; more; more = FindNextFileA(found, &entry))
        if (std::string(entry.cFileName) != "." && std::string(entry.cFileName) != "..")
            names.push_back(entry.cFileName);
    if (found != INVALID_HANDLE_VALUE) FindClose(found);
    return names;
}

// Deepest first, each folder once. What cannot go ends the work on its
// folder: the entries listed before it go, those after it stay, and the
// deletion of its folder and of every folder above is tried once.
TEST_F(Platform, FolderTreeGoesDeepestFirstAndWhatCannotGoEndsTheWorkAbove) {
    tree({"sibling.txt"});
    for (const std::string& path : {at("missing"), at("sibling.txt"), std::string("sibling.txt"), std::string("")})
        EXPECT_EQ(1, deleteFolderTree(path.c_str(), USER_FOLDER)) << path;
    EXPECT_TRUE(pathExists(at("sibling.txt"))) << "a file, a relative or an empty path is no folder to delete";
    EXPECT_EQ(Calls{}, calls);

    tree({"T\\", "T\\f1", "T\\f2", "T\\f3", "T\\f4", "T\\f5"});
    ASSERT_WIN32(SetFileAttributesA(at("T\\f3").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::vector<std::string> before = listing(at("T"));
    const size_t stuck = std::find(before.begin(), before.end(), "f3") - before.begin();
    EXPECT_EQ(1, deleteFolderTree(at("T").c_str(), USER_FOLDER));
    for (size_t i = 0; i < before.size(); i++) EXPECT_EQ(i >= stuck, pathExists(at("T\\" + before[i]))) << before[i];
    SetFileAttributesA(at("T\\f3").c_str(), FILE_ATTRIBUTE_NORMAL);
    removeTree(at("T"));

    // A dot-named folder is never entered; a dot-named file goes.
    tree({"D\\", "D\\.keep\\", "D\\.keep\\inner.txt", "D\\.dotfile", "D\\plain.txt"});
    calls.clear();
    EXPECT_EQ(1, deleteFolderTree(at("D").c_str(), MACHINE_FOLDER));
    EXPECT_EQ(Calls({"remove ~\\D\\.dotfile", "remove ~\\D\\plain.txt", "remove ~\\D"}).size(), scratchCalls().size());
    EXPECT_TRUE(pathExists(at("D\\.keep\\inner.txt")));
    EXPECT_FALSE(pathExists(at("D\\plain.txt")));

    // A subfolder that survives (a read-only file in it), one whose own
    // deletion is refused, and a whole tree given with a trailing backslash.
    tree({"M\\", "M\\Mid\\", "M\\Mid\\Sub\\", "M\\Mid\\Sub\\locked.txt", "E\\", "E\\Sub\\", "T\\", "T\\S1\\",
          "T\\S1\\S2\\"});
    ASSERT_WIN32(SetFileAttributesA(at("M\\Mid\\Sub\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    refuse = at("E\\Sub");
    calls.clear();
    for (const char* path : {"M", "E", "T\\"}) EXPECT_EQ(1, deleteFolderTree(at(path).c_str(), USER_FOLDER)) << path;
    EXPECT_EQ(Calls({"remove ~\\M\\Mid\\Sub\\locked.txt", "remove ~\\M\\Mid\\Sub", "remove ~\\M\\Mid", "remove ~\\M",
                     "remove ~\\E\\Sub", "remove ~\\E", "remove ~\\T\\S1\\S2", "remove ~\\T\\S1", "remove ~\\T"}),
              scratchCalls());
    EXPECT_FALSE(pathExists(at("T")));
    SetFileAttributesA(at("M\\Mid\\Sub\\locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A link to a folder elsewhere, full or empty, is never entered, and its
// folder never removed. Wine opens a Unix link's target even when asked for
// the link itself, so here the link stays; Windows deletes it as the link.
TEST_F(Platform, FolderTreeNeverEntersALink) {
    for (const bool emptyTarget : {false, true}) {
        tree({"Outside\\", "T\\", "T\\plain.txt"});
        if (!emptyTarget) tree({"Outside\\keep.txt", "Outside\\Inner\\"});
        UnixLinks links;
        ASSERT_TRUE(links.plant(at("T\\link"), at("Outside")));
        calls.clear();
        EXPECT_EQ(1, deleteFolderTree(at("T").c_str(), USER_FOLDER));
        for (const std::string& call : scratchCalls()) EXPECT_EQ(std::string::npos, call.find("Outside")) << call;
        EXPECT_TRUE(pathExists(at("Outside")));
        if (!emptyTarget) EXPECT_EQ("x", readWholeFile(at("Outside\\keep.txt")));
        for (int owner : {USER_FOLDER, MACHINE_FOLDER})
            EXPECT_EQ(1, deleteFolderTree(at("T\\link").c_str(), owner)) << "a link given as the folder";
        EXPECT_TRUE(pathExists(at("Outside")));
        removeTree(at("T"));
    }
}

// Where a link on the way is followed: a user's folder never, a machine's
// folder above its last level only. Missing levels are made as asked.
TEST_F(Platform, HeldFoldersFollowLinksOnlyAboveAMachineFoldersLastLevel) {
    tree({"Real\\", "Real\\Leaf\\", "File"});
    UnixLinks links;
    ASSERT_TRUE(links.plant(at("Link"), at("Real")));
    // clang-format off
    const struct {
        const char* path;
        int owner, flags;
        bool held;
    } cases[] = {{"Real\\Leaf", USER_FOLDER, 0, true}, {"Real\\Leaf\\", MACHINE_FOLDER, 0, true},
                 {"Link\\Leaf", USER_FOLDER, 0, false}, {"Link\\Leaf", MACHINE_FOLDER, 0, true},
                 {"Link", MACHINE_FOLDER, 0, false}, {"Real\\Missing", USER_FOLDER, 0, false},
                 {"Real\\New\\Newer", USER_FOLDER, HOLD_CREATE, true}, {"Link\\ByUser", USER_FOLDER, HOLD_CREATE, false},
                 {"Link\\ByMachine", MACHINE_FOLDER, HOLD_CREATE, true}, {"File\\Leaf", USER_FOLDER, HOLD_CREATE, false}};
    // clang-format on
    for (const auto& c : cases) {
        const HANDLE folder = holdFolder(at(c.path).c_str(), c.owner, c.flags);
        EXPECT_EQ(c.held, folder != 0) << c.path << " owner " << c.owner;
        if (folder) CloseHandle(folder);
    }
    EXPECT_TRUE(pathExists(at("Real\\New\\Newer")));
    EXPECT_FALSE(pathExists(at("Real\\ByUser"))) << "nothing is made through a user's link";
    EXPECT_TRUE(pathExists(at("Real\\ByMachine")));
    for (const char* path : {"", "C:\\", "C:", "relative\\dir"})
        EXPECT_EQ(0, holdFolder(path, USER_FOLDER, HOLD_CREATE)) << "no level below a root: " << path;
}

// A file written into a held folder is a new file renamed into place: a
// hard link or a link at its name is replaced, and what it led to keeps
// its bytes. Names the code page cannot spell go with the walk.
TEST_F(Platform, NewFilesReplaceWhatIsAtTheirNameAndUnspellableNamesGo) {
    tree({"F\\", "victim-hard.txt", "victim-link.txt"});
    ASSERT_WIN32(CreateHardLinkA(at("F\\hard.LNK").c_str(), at("victim-hard.txt").c_str(), 0));
    UnixLinks links;
    ASSERT_TRUE(links.plant(at("F\\link.LNK"), at("victim-link.txt")));
    const HANDLE folder = holdFolder(at("F").c_str(), USER_FOLDER, 0);
    ASSERT_NE((HANDLE)0, folder);
    for (const char* name : {"hard.LNK", "link.LNK", "fresh.LNK"})
        EXPECT_EQ(1, writeFileInFolder(folder, name, "shortcut", 8)) << name;
    EXPECT_EQ(0, writeFileInFolder(folder, "sub\\name", "x", 1)) << "one plain name only";
    CloseHandle(folder);
    for (const char* name : {"hard.LNK", "link.LNK", "fresh.LNK"})
        EXPECT_EQ("shortcut", readWholeFile(at("F\\") + name));
    EXPECT_EQ("x", readWholeFile(at("victim-hard.txt")));
    EXPECT_EQ("x", readWholeFile(at("victim-link.txt")));
    EXPECT_EQ(3u, listing(at("F")).size()) << "no scratch file is left";

    for (const wchar_t* name : {L"\\\x0915.txt", L"\\\x8868\x30BD.txt", L"\\\x0915"})
        CloseHandle(CreateFileW((wide(at("F")) + name).c_str(), GENERIC_WRITE, 0, 0, CREATE_NEW, 0, 0));
    CreateDirectoryW((wide(at("F")) + L"\\\x0915-dir").c_str(), 0);
    EXPECT_EQ(1, deleteFolderTree(at("F").c_str(), USER_FOLDER));
    EXPECT_FALSE(pathExists(at("F")));
}

// The product's program counts as there when it can be read with others
// reading only: held open for writing (being written), it counts as absent.
TEST_F(Platform, AFileHeldForWritingCountsAsAbsent) {
    tree({"held.exe", "folder.exe\\"});
    EXPECT_EQ(0, fileExists(at("folder.exe").c_str()) | fileExists(at("missing.exe").c_str()));
    for (const DWORD access : {(DWORD)0, (DWORD)GENERIC_READ, (DWORD)GENERIC_WRITE}) {
        const HANDLE holder =
            CreateFileA(at("held.exe").c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
        EXPECT_EQ(access != GENERIC_WRITE, fileExists(at("held.exe").c_str()) == 1) << std::hex << access;
        CloseHandle(holder);
    }
}

// readUserString: a REG_SZ value only, at most 4050 bytes of it, always a
// terminated text, and nothing written past the destination or when refused.
TEST_F(Platform, UserStringsAreCutOrRefusedAndNeverOverflow) {
    setValue(HKEY_CURRENT_USER, key_, "Expand", REG_EXPAND_SZ, std::string("%TEMP%\0", 7));
    setValue(HKEY_CURRENT_USER, key_, "Number", REG_DWORD, std::string(4, '\7'));
    setValue(HKEY_CURRENT_USER, key_, "Bare", REG_SZ, "abc");
    setValue(HKEY_CURRENT_USER, key_, "Inner", REG_SZ, std::string("ab\0cdef", 8));
    for (int length : {19, 4049, 4050, 4095, 4096})
        setValue(HKEY_CURRENT_USER, key_, ("L" + std::to_string(length)).c_str(), REG_SZ,
                 std::string(length, 'a') + '\0');
    // clang-format off
    const struct {
        const char* name;
        int size, result;
        std::string text;
    } cases[] = {{"L19", 1024, 1, std::string(19, 'a')}, {"L19", 20, 1, std::string(19, 'a')}, {"L19", 19, 0, ""},
                 {"L19", 0, 0, ""}, {"L4049", 8192, 1, std::string(4049, 'a')}, {"L4050", 8192, 1, std::string(4049, 'a')},
                 {"L4095", 8192, 1, std::string(4049, 'a')}, {"L4096", 8192, 0, ""}, {"Expand", 64, 0, ""},
                 {"Number", 64, 0, ""}, {"Missing", 64, 0, ""}, {"Bare", 4, 1, "abc"}, {"Inner", 5, 1, "ab"}};
    // clang-format on
    for (const auto& c : cases) {
        std::vector<char> destination(c.size + 64, 'X');
        EXPECT_EQ(c.result, readUserString(key_.c_str(), c.name, destination.data(), c.size))
            << c.name << "/" << c.size;
        const std::string written(destination.begin(), destination.end());
        const size_t end = written.find_first_of('X');
        if (c.result) EXPECT_EQ(c.text, std::string(destination.data())) << c.name << "/" << c.size;
        // Refused: untouched. Read: nothing beyond the destination, nor beyond 4050 bytes.
        EXPECT_LE(end, c.result ? (size_t)std::min(c.size, 4050) : 0) << c.name << "/" << c.size;
        EXPECT_EQ(std::string(written.size() - std::min(end, written.size()), 'X'),
                  written.substr(std::min(end, written.size())))
            << c.name << "/" << c.size;
    }
}

TEST_F(Platform, KeyTreesGoDeepestFirstAndASurvivorEndsTheWork) {
    for (const char* sub : {"A\\A1", "A\\A2\\A2x", "B"})
        setValue(HKEY_CURRENT_USER, key_ + "\\" + sub, "v", REG_SZ, "x");
    EXPECT_EQ(1, deleteKeyTree(HKEY_CURRENT_USER, key_.c_str()));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, key_));
    ASSERT_EQ(6u, calls.size()) << ::testing::PrintToString(calls);
    auto position = [](const char* name) { return std::find(calls.begin(), calls.end(), name) - calls.begin(); };
    EXPECT_LT(position("A2x"), position("A2"));
    EXPECT_LT(position("A1"), position("A"));
    EXPECT_LT(position("A2"), position("A"));
    EXPECT_EQ(key_, calls.back());
    calls.clear();
    EXPECT_EQ(0, deleteKeyTree(HKEY_CURRENT_USER, key_.c_str())) << "a missing key";
    EXPECT_EQ(Calls{}, calls);

    for (const char* sub : {"A\\A1", "A\\A2", "B"}) setValue(HKEY_CURRENT_USER, key_ + "\\" + sub, "v", REG_SZ, "x");
    refuse = "A1";
    EXPECT_EQ(0, deleteKeyTree(HKEY_CURRENT_USER, key_.c_str()));
    EXPECT_EQ(Calls{"A1"}, calls) << "the survivor is tried once and nothing above it";
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, key_ + "\\B"));
}

// Folder resolution: the shell's answers, and each later stage reached by
// failing libraries, functions or the Windows folder through the system-call
// table. Each scenario is the log of what was asked and the folders it gives.

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

// After each scenario the autostart link is removed: only from a rooted
// Startup folder, so that an empty entry, or its text at load "Startup",
// deletes nothing at the drive's root or in the current folder.
TEST_F(Folders, TheTableStageByStage) {
    char current[MAX_PATH], saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof saved, saved);
    ScratchFolder scratch("folders");
    SetCurrentDirectoryA(scratch.path().c_str());
    CreateDirectoryA((scratch / "Startup").c_str(), 0);
    const std::string planted[] = {"C:\\" AUTOSTART_LINK_NAME ".LNK", scratch / "Startup\\" AUTOSTART_LINK_NAME ".LNK",
                                   scratch / AUTOSTART_LINK_NAME ".LNK"};
    for (const std::string& path : planted) writeFileBytes(path, "not the product's");
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
        {"Startup not found", [] { world.fakeSpecial = world.fakeFolder = true, world.specialFailsFor = world.folderFailsFor = 7; },
         "load SHELL32.DLL S38/0 S5/1 S26/1 S35/1 S23/1 S7/1 free load SHFOLDER.DLL F7/0 free ",
         s + "38 | " + s + "5 | " + s + "26 | " + s + "35 | " + s + "23 | "},
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
        removeAutostart();
    }
    for (const std::string& path : planted) EXPECT_EQ("not the product's", readWholeFile(path)) << path;
    for (const std::string& path : planted) DeleteFileA(path.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, PRODUCT_SETTINGS_KEY);
    SetCurrentDirectoryA(saved);
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
