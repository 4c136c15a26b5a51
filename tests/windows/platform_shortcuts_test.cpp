// createShortcut and deleteShortcut: shortcuts saved through the code under
// test are loaded back through the shell's link object and compared field
// by field.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform_ops.h"
#include "platform/system_calls.h"
#include "tests/support/win32_check.h"
#include "tests/support/win32_scratch.h"

namespace {

struct LoadedShortcut {
    HRESULT status;
    std::string target, description, workingFolder, arguments;
};

LoadedShortcut loadShortcut(const std::string& path) {
    LoadedShortcut loaded = {E_FAIL, "", "", "", ""};
    IShellLinkA* link = 0;
    loaded.status = CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&link);
    if (FAILED(loaded.status)) return loaded;
    IPersistFile* file = 0;
    loaded.status = link->QueryInterface(IID_IPersistFile, (void**)&file);
    if (SUCCEEDED(loaded.status)) {
        WCHAR widePath[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
        loaded.status = file->Load(widePath, STGM_READ);
        file->Release();
    }
    if (SUCCEEDED(loaded.status)) {
        char text[MAX_PATH] = "";
        link->GetPath(text, sizeof text, 0, SLGP_RAWPATH);
        loaded.target = text;
        text[0] = 0;
        link->GetDescription(text, sizeof text);
        loaded.description = text;
        text[0] = 0;
        link->GetWorkingDirectory(text, sizeof text);
        loaded.workingFolder = text;
        text[0] = 0;
        link->GetArguments(text, sizeof text);
        loaded.arguments = text;
    }
    link->Release();
    return loaded;
}

std::vector<std::string> deleteCalls;

BOOL WINAPI loggedDeleteFile(LPCSTR path) {
    deleteCalls.push_back(path);
    return DeleteFileA(path);
}

// Names of the files in folder.
std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    const HANDLE listing = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return names;
}

class Shortcuts : public ::testing::Test {
protected:
    orlotest::ScratchFolder scratch{"shortcuts"};
    std::string product, target, menu;

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(0)));
        product = scratch / "Product";
        target = product + "\\readme.txt";
        menu = scratch / "Menu";
        ASSERT_WIN32(CreateDirectoryA(product.c_str(), 0));
        ASSERT_WIN32(CreateDirectoryA(menu.c_str(), 0));
        orlotest::writeFileBytes(target, "read me");
        deleteCalls.clear();
    }

    void TearDown() override {
        resetSystemCalls();
        CoUninitialize();
    }
};

TEST_F(Shortcuts, SavedShortcutLoadsBackWithEveryField) {
    EXPECT_EQ(S_OK, createShortcut(target.c_str(), menu.c_str(), "Readme", "--show \"a b\""));
    // The extension is written in capitals.
    const std::vector<std::string> expectedFiles = {"Readme.LNK"};
    EXPECT_EQ(expectedFiles, filesIn(menu));
    const LoadedShortcut loaded = loadShortcut(menu + "\\Readme.LNK");
    ASSERT_EQ(S_OK, loaded.status);
    EXPECT_STRCASEEQ(target.c_str(), loaded.target.c_str());
    EXPECT_EQ("Readme", loaded.description);
    EXPECT_STRCASEEQ(product.c_str(), loaded.workingFolder.c_str());
    EXPECT_EQ("--show \"a b\"", loaded.arguments);

    // Without arguments.
    EXPECT_EQ(S_OK, createShortcut(target.c_str(), menu.c_str(), "OrloCast", nullptr));
    EXPECT_EQ("", loadShortcut(menu + "\\OrloCast.LNK").arguments);
}

TEST_F(Shortcuts, SavingTwiceLeavesOneFileWithTheSecondSettings) {
    const std::string other = scratch / "Other";
    ASSERT_WIN32(CreateDirectoryA(other.c_str(), 0));
    orlotest::writeFileBytes(other + "\\run.exe", "MZ");
    EXPECT_EQ(S_OK, createShortcut(target.c_str(), menu.c_str(), "OrloCast", "first"));
    EXPECT_EQ(S_OK, createShortcut((other + "\\run.exe").c_str(), menu.c_str(), "OrloCast", "second"));
    EXPECT_EQ(1u, filesIn(menu).size());
    const LoadedShortcut loaded = loadShortcut(menu + "\\OrloCast.LNK");
    ASSERT_EQ(S_OK, loaded.status);
    EXPECT_STRCASEEQ((other + "\\run.exe").c_str(), loaded.target.c_str());
    EXPECT_STRCASEEQ(other.c_str(), loaded.workingFolder.c_str());
    EXPECT_EQ("second", loaded.arguments);
}

// The file path has exactly one backslash before the name, however the
// folder is spelled; the deletion shows the path itself.
TEST_F(Shortcuts, FolderEndingInABackslashGetsNoSecondOne) {
    systemCalls.deleteFile = loggedDeleteFile;
    for (const std::string& folder : {menu, menu + "\\"}) {
        EXPECT_EQ(S_OK, createShortcut(target.c_str(), folder.c_str(), "Readme", nullptr)) << folder;
        EXPECT_TRUE(orlotest::pathExists(menu + "\\Readme.LNK")) << folder;
        EXPECT_NE(0, deleteShortcut(folder.c_str(), "Readme")) << folder;
        EXPECT_FALSE(orlotest::pathExists(menu + "\\Readme.LNK")) << folder;
    }
    const std::vector<std::string> expected = {menu + "\\Readme.LNK", menu + "\\Readme.LNK"};
    EXPECT_EQ(expected, deleteCalls);
}

TEST_F(Shortcuts, MissingFolderReturnsTheSaveFailure) {
    const std::string missing = scratch / "Missing";
    const HRESULT status = createShortcut(target.c_str(), missing.c_str(), "Readme", nullptr);
    EXPECT_TRUE(FAILED(status)) << std::hex << status;
    EXPECT_FALSE(orlotest::pathExists(missing));
}

TEST_F(Shortcuts, DeletingAMissingShortcutReturns0AndChangesNothing) {
    EXPECT_EQ(S_OK, createShortcut(target.c_str(), menu.c_str(), "Readme", nullptr));
    EXPECT_EQ(0, deleteShortcut(menu.c_str(), "OrloCast"));
    EXPECT_EQ(0, deleteShortcut((scratch / "Missing").c_str(), "Readme"));
    const std::vector<std::string> expected = {"Readme.LNK"};
    EXPECT_EQ(expected, filesIn(menu));
}

// folder\name.LNK must fit 2048 bytes with its terminator; a longer path
// is refused before anything is asked of the platform.
TEST_F(Shortcuts, PathOf2048BytesOrMoreIsRefused) {
    const std::string longest(2047 - 1 - 5 - 4, 'f');  // folder + "\" + "Name5" + ".LNK" = 2047
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE),
              createShortcut(target.c_str(), (longest + "f").c_str(), "Name5", nullptr));
}

struct NoComRun {
    const char *target, *folder;
    HRESULT direct, created;
};

DWORD WINAPI runWithoutCom(LPVOID parameter) {
    NoComRun* run = (NoComRun*)parameter;
    IUnknown* link = 0;
    run->direct = CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&link);
    if (SUCCEEDED(run->direct)) link->Release();
    run->created = createShortcut(run->target, run->folder, "Readme", nullptr);
    return 0;
}

TEST_F(Shortcuts, ThreadWithoutComGetsTheCreationFailureAndNoFile) {
    NoComRun run = {target.c_str(), menu.c_str(), S_OK, S_OK};
    HANDLE thread = CreateThread(0, 0, runWithoutCom, &run, 0, 0);
    ASSERT_TRUE(thread != 0);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    EXPECT_EQ(CO_E_NOTINITIALIZED, run.direct);
    EXPECT_EQ(run.direct, run.created);
    EXPECT_TRUE(filesIn(menu).empty());
}

}  // namespace
