// createFolderChain, deleteFolderTree, writeWholeFile and fileExists on a
// real file system, with the folder and file calls logged (and made to fail
// where a test needs it) through the system-call table.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform_ops.h"
#include "platform/system_calls.h"
#include "tests/support/win32_check.h"
#include "tests/support/win32_scratch.h"
#include "tests/support/win32_unix.h"

using orlotest::runUnixScript;
using orlotest::unixPathOf;

namespace {

// ---- Logged system calls ----------------------------------------------------

std::vector<std::string> createCalls;
std::vector<std::string> removeCalls;
std::vector<std::string> deleteCalls;
bool pretendCreate = false;       // log only, touch nothing, report success
std::string failCreateOn;         // this path fails with ERROR_ACCESS_DENIED
std::string failRemoveOn;         // this path fails with ERROR_ACCESS_DENIED

BOOL WINAPI loggedCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
    createCalls.push_back(path);
    if (path == failCreateOn) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (pretendCreate) return TRUE;
    return CreateDirectoryA(path, attributes);
}

BOOL WINAPI loggedRemoveDirectory(HANDLE handle) {
    const std::string path = orlotest::pathOfHandle(handle);
    removeCalls.push_back(path);
    if (lstrcmpiA(path.c_str(), failRemoveOn.c_str()) == 0) return FALSE;
    return markHandleForDeletion(handle);
}

BOOL WINAPI loggedDeleteFile(LPCSTR path) {
    deleteCalls.push_back(path);
    return DeleteFileA(path);
}

class FileSystemTest : public ::testing::Test {
public:
    orlotest::ScratchFolder scratch{"files"};

    void SetUp() override {
        ASSERT_TRUE(orlotest::pathExists(scratch.path())) << "no scratch folder";
        createCalls.clear();
        removeCalls.clear();
        deleteCalls.clear();
        pretendCreate = false;
        failCreateOn.clear();
        failRemoveOn.clear();
        systemCalls.createDirectory = loggedCreateDirectory;
        systemCalls.markForDeletion = loggedRemoveDirectory;
        systemCalls.deleteFile = loggedDeleteFile;
    }

    void TearDown() override { resetSystemCalls(); }

    std::string at(const std::string& relative) const { return scratch / relative; }

    void makeFolder(const std::string& relative) { ASSERT_WIN32(CreateDirectoryA(at(relative).c_str(), 0)); }

    void makeFile(const std::string& relative, const std::string& content = "x") {
        HANDLE file = CreateFileA(at(relative).c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << relative << ", GLE=" << GetLastError();
        DWORD written = 0;
        WriteFile(file, content.data(), (DWORD)content.size(), &written, 0);
        CloseHandle(file);
    }

    bool isFolder(const std::string& relative) const {
        const DWORD attributes = GetFileAttributesA(at(relative).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    bool present(const std::string& relative) const {
        return GetFileAttributesA(at(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string readFile(const std::string& relative) const {
        HANDLE file = CreateFileA(at(relative).c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
        if (file == INVALID_HANDLE_VALUE) return "<missing>";
        char bytes[256];
        DWORD got = 0;
        ReadFile(file, bytes, sizeof bytes, &got, 0);
        CloseHandle(file);
        return std::string(bytes, got);
    }

    // Names in folder in the order the platform lists them.
    std::vector<std::string> listing(const std::string& relative) const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA entry;
        const HANDLE found = FindFirstFileA(at(relative + "\\*.*").c_str(), &entry);
        if (found == INVALID_HANDLE_VALUE) return names;
        do {
            const std::string name = entry.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(found, &entry));
        FindClose(found);
        return names;
    }
};

// ---- createFolderChain --------------------------------------------------------

using CreateFolderChain = FileSystemTest;

TEST_F(CreateFolderChain, RefusesAbsentShortAndOverlongPaths) {
    pretendCreate = true;
    const std::string overlong = "D:\\" + std::string(1021, 'a');  // 1024 characters
    const std::string longest = "D:\\" + std::string(1020, 'a');   // 1023: fits with its terminator
    EXPECT_EQ(0, createFolderChain(nullptr));
    EXPECT_EQ(0, createFolderChain(""));
    EXPECT_EQ(0, createFolderChain("D:\\"));
    EXPECT_EQ(0, createFolderChain("D:\\x"));
    EXPECT_EQ(0, createFolderChain(overlong.c_str()));
    EXPECT_EQ(0u, createCalls.size());

    EXPECT_EQ(1, createFolderChain("D:\\ab"));
    EXPECT_EQ(1, createFolderChain(longest.c_str()));
    const std::vector<std::string> expected = {"D:\\ab", longest};
    EXPECT_EQ(expected, createCalls);
}

TEST_F(CreateFolderChain, MakesEachLevelBelowTheRootInOrder) {
    const std::string path = at("A\\B\\C");
    EXPECT_EQ(1, createFolderChain(path.c_str()));
    ASSERT_GE(createCalls.size(), 3u);
    const size_t n = createCalls.size();
    EXPECT_EQ(at("A"), createCalls[n - 3]);
    EXPECT_EQ(at("A\\B"), createCalls[n - 2]);
    EXPECT_EQ(path, createCalls[n - 1]);
    // The levels above the scratch folder are asked for too (and exist),
    // from the first one below the drive root downwards.
    EXPECT_GT(createCalls[0].size(), 3u) << createCalls[0];
    EXPECT_EQ(std::string::npos, createCalls[0].find('\\', 3)) << createCalls[0];
    for (size_t i = 1; i < n; i++) EXPECT_EQ(0u, createCalls[i].find(createCalls[i - 1] + "\\")) << createCalls[i];
    EXPECT_TRUE(isFolder("A\\B\\C"));

    createCalls.clear();
    EXPECT_EQ(1, createFolderChain(path.c_str()));
    EXPECT_EQ(n, createCalls.size());
}

TEST_F(CreateFolderChain, TrailingBackslashCostsNoFurtherCall) {
    EXPECT_EQ(1, createFolderChain(at("A\\B\\").c_str()));
    ASSERT_FALSE(createCalls.empty());
    EXPECT_EQ(at("A\\B"), createCalls.back());
    for (const std::string& call : createCalls) EXPECT_NE('\\', call.back()) << call;
    EXPECT_TRUE(isFolder("A\\B"));
}

TEST_F(CreateFolderChain, DoubledBackslashCostsOneAcceptedCall) {
    EXPECT_EQ(1, createFolderChain(at("A\\\\B").c_str()));
    ASSERT_GE(createCalls.size(), 3u);
    const size_t n = createCalls.size();
    EXPECT_EQ(at("A"), createCalls[n - 3]);
    EXPECT_EQ(at("A\\"), createCalls[n - 2]);
    EXPECT_TRUE(isFolder("A\\B"));
}

TEST_F(CreateFolderChain, FileInTheChainIsAcceptedThenTheNextLevelFails) {
    makeFile("F");
    EXPECT_EQ(0, createFolderChain(at("F\\G\\H").c_str()));
    ASSERT_GE(createCalls.size(), 2u);
    EXPECT_EQ(at("F"), createCalls[createCalls.size() - 2]);
    EXPECT_EQ(at("F\\G"), createCalls.back());
    EXPECT_FALSE(isFolder("F"));
}

TEST_F(CreateFolderChain, StopsAtTheFirstLevelThatCannotBeMade) {
    failCreateOn = at("A\\B");
    EXPECT_EQ(0, createFolderChain(at("A\\B\\C\\D").c_str()));
    EXPECT_EQ(failCreateOn, createCalls.back());
    EXPECT_TRUE(isFolder("A"));  // the levels made before stay
    EXPECT_FALSE(present("A\\B"));
}

TEST_F(CreateFolderChain, UncPathsCreateNothingAtOrAboveTheShare) {
    pretendCreate = true;
    EXPECT_EQ(1, createFolderChain("\\\\server\\share"));
    EXPECT_EQ(1, createFolderChain("\\\\server\\share\\"));
    EXPECT_TRUE(createCalls.empty());
    EXPECT_EQ(1, createFolderChain("\\\\server\\share\\x"));
    EXPECT_EQ(1, createFolderChain("\\\\server\\share\\dir\\sub"));
    const std::vector<std::string> expected = {"\\\\server\\share\\x", "\\\\server\\share\\dir",
                                               "\\\\server\\share\\dir\\sub"};
    EXPECT_EQ(expected, createCalls);
}

TEST_F(CreateFolderChain, TextWithoutABackslashAfterItsStartCreatesNothing) {
    pretendCreate = true;
    EXPECT_EQ(1, createFolderChain("folder"));
    EXPECT_EQ(1, createFolderChain("C:dir"));
    EXPECT_EQ(1, createFolderChain("C:dir\\"));  // nothing follows the root's backslash
    EXPECT_TRUE(createCalls.empty());
}

// ---- deleteFolderTree ---------------------------------------------------------

DWORD WINAPI deleteTreeThread(LPVOID path) { return (DWORD)deleteFolderTree((const char*)path); }

// Runs deleteFolderTree on its own thread: false when it did not end within
// ten seconds (a loop), else the result is in *result.
bool deleteTreeEnds(const std::string& path, int* result) {
    HANDLE thread = CreateThread(0, 0, deleteTreeThread, (LPVOID)path.c_str(), 0, 0);
    if (!thread) return false;
    const bool ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    DWORD code = 0;
    if (ended) GetExitCodeThread(thread, &code);
    else TerminateThread(thread, 1);
    CloseHandle(thread);
    *result = (int)code;
    return ended;
}

int timesIn(const std::vector<std::string>& calls, const std::string& path) {
    return (int)std::count(calls.begin(), calls.end(), path);
}

using DeleteFolderTree = FileSystemTest;

TEST_F(DeleteFolderTree, MissingFolderChangesNothing) {
    makeFile("sibling.txt");
    EXPECT_EQ(1, deleteFolderTree(at("missing").c_str()));
    EXPECT_TRUE(present("sibling.txt"));
    EXPECT_TRUE(deleteCalls.empty());
    EXPECT_EQ(1, deleteFolderTree(at("sibling.txt").c_str()));  // a file is no folder
    EXPECT_TRUE(present("sibling.txt"));
}

TEST_F(DeleteFolderTree, RemovesNestedFilesAndFoldersThenTheFolder) {
    // Spelled with and without a trailing backslash.
    for (const char* suffix : {"", "\\"}) {
        makeFolder("T");
        makeFile("T\\a.txt");
        makeFile("T\\.dotfile");
        makeFolder("T\\S1");
        makeFile("T\\S1\\b.txt");
        makeFolder("T\\S1\\S2");
        makeFile("T\\S1\\S2\\c.txt");
        makeFolder("T\\S3");
        int result = 0;
        ASSERT_TRUE(deleteTreeEnds(at("T") + suffix, &result));
        EXPECT_EQ(1, result);
        EXPECT_FALSE(present("T")) << "suffix '" << suffix << "'";
        // Deepest folders first, each removed once.
        EXPECT_EQ(1, timesIn(removeCalls, at("T\\S1\\S2")));
        EXPECT_LT(std::find(removeCalls.begin(), removeCalls.end(), at("T\\S1\\S2")),
                  std::find(removeCalls.begin(), removeCalls.end(), at("T\\S1")));
        EXPECT_EQ(at("T"), removeCalls.back());
        removeCalls.clear();
    }
}

TEST_F(DeleteFolderTree, ReadOnlyFileEndsTheWorkOnItsFolder) {
    makeFolder("T");
    for (const char* name : {"f1", "f2", "f3", "f4", "f5"}) makeFile(std::string("T\\") + name);
    ASSERT_WIN32(SetFileAttributesA(at("T\\f3").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::vector<std::string> before = listing("T");
    const size_t stuck = std::find(before.begin(), before.end(), "f3") - before.begin();

    int result = 0;
    ASSERT_TRUE(deleteTreeEnds(at("T"), &result));
    EXPECT_EQ(1, result);
    for (size_t i = 0; i < before.size(); i++) {
        EXPECT_EQ(i >= stuck, present("T\\" + before[i])) << before[i] << " listed at " << i << ", f3 at " << stuck;
    }
    EXPECT_TRUE(isFolder("T"));
    EXPECT_EQ(1, timesIn(deleteCalls, at("T\\f3")));
}

TEST_F(DeleteFolderTree, DotNamedFolderIsLeftAndSoIsItsParent) {
    makeFolder("T");
    makeFolder("T\\.keep");
    makeFile("T\\.keep\\inner.txt");
    makeFile("T\\.dotfile");
    makeFile("T\\plain.txt");
    int result = 0;
    ASSERT_TRUE(deleteTreeEnds(at("T"), &result));
    EXPECT_EQ(1, result);
    EXPECT_TRUE(present("T\\.keep\\inner.txt"));
    EXPECT_FALSE(present("T\\.dotfile"));
    EXPECT_FALSE(present("T\\plain.txt"));
    EXPECT_TRUE(isFolder("T"));
    EXPECT_EQ(0, timesIn(removeCalls, at("T\\.keep")));
}

// A subfolder that survives its removal ends the work on its parent, and
// on every folder above it: each is tried once, nothing is listed again.
TEST_F(DeleteFolderTree, SurvivingSubfolderEndsTheWorkOnItsParents) {
    makeFolder("T");
    makeFolder("T\\Mid");
    makeFolder("T\\Mid\\Sub");
    makeFile("T\\Mid\\Sub\\locked.txt");
    ASSERT_WIN32(SetFileAttributesA(at("T\\Mid\\Sub\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    makeFile("T\\Mid\\other.txt");
    const std::vector<std::string> mid = listing("T\\Mid");
    const size_t sub = std::find(mid.begin(), mid.end(), "Sub") - mid.begin();

    int result = 0;
    ASSERT_TRUE(deleteTreeEnds(at("T"), &result)) << "deleteFolderTree did not return";
    EXPECT_EQ(1, result);
    EXPECT_TRUE(present("T\\Mid\\Sub\\locked.txt"));
    EXPECT_EQ(sub == 0, present("T\\Mid\\other.txt"));
    EXPECT_EQ(1, timesIn(deleteCalls, at("T\\Mid\\Sub\\locked.txt")));
    const std::vector<std::string> expected = {at("T\\Mid\\Sub"), at("T\\Mid"), at("T")};
    EXPECT_EQ(expected, removeCalls);
}

TEST_F(DeleteFolderTree, EmptySubfolderThatCannotBeRemovedEndsTheWork) {
    makeFolder("T");
    makeFolder("T\\Sub");
    failRemoveOn = at("T\\Sub");
    int result = 0;
    ASSERT_TRUE(deleteTreeEnds(at("T"), &result)) << "deleteFolderTree did not return";
    EXPECT_EQ(1, result);
    EXPECT_TRUE(isFolder("T\\Sub"));
    const std::vector<std::string> expected = {at("T\\Sub"), at("T")};
    EXPECT_EQ(expected, removeCalls);
}

bool listsAsFolderLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const DWORD wanted = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & wanted) == wanted;
}

// Makes link a junction to the folder target. True when link now lists as
// a folder with a reparse point.
bool makeJunction(const std::string& link, const std::string& target) {
    struct MountPointData {
        DWORD tag;
        WORD dataLength;
        WORD reserved;
        WORD substituteOffset, substituteLength, printOffset, printLength;
        WCHAR names[MAX_PATH + 16];
    } data = {};
    const int length = MultiByteToWideChar(CP_ACP, 0, ("\\??\\" + target).c_str(), -1, data.names, MAX_PATH) - 1;
    if (length <= 0 || !CreateDirectoryA(link.c_str(), 0)) return false;
    data.tag = IO_REPARSE_TAG_MOUNT_POINT;
    data.substituteLength = (WORD)(length * sizeof(WCHAR));
    data.printOffset = (WORD)((length + 1) * sizeof(WCHAR));  // empty print name
    data.dataLength = (WORD)(8 + (length + 2) * sizeof(WCHAR));
    HANDLE folder = CreateFileA(link.c_str(), GENERIC_WRITE, 0, 0, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, 0);
    DWORD returned = 0;
    const BOOL made = folder != INVALID_HANDLE_VALUE &&
                      DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &data, 8 + data.dataLength, 0, 0, &returned, 0);
    if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    if (made && listsAsFolderLink(link)) return true;
    RemoveDirectoryA(link.c_str());
    return false;
}

// Makes T\link a junction (Windows) or a Unix symbolic link (Wine) to the
// folder Outside. False when the platform can make neither.
bool makeFolderLink(FileSystemTest* test, std::string* unixLink) {
    const std::string link = test->at("T\\link");
    if (makeJunction(link, test->at("Outside"))) return true;
    *unixLink = unixPathOf(link);
    const std::string unixTarget = unixPathOf(test->at("Outside"));
    return !unixLink->empty() && !unixTarget.empty() &&
           runUnixScript("ln -s '" + unixTarget + "' '" + *unixLink + "'", test->at("marker")) &&
           listsAsFolderLink(link);
}

// A link is neither entered nor removed: it stays like an entry that cannot
// be deleted, and so does its folder. Its target, full or empty, is never
// touched (on Wine, removing a Unix link to an empty folder would remove
// that folder).
TEST_F(DeleteFolderTree, LinkToAFolderOutsideIsNeverEnteredNorRemoved) {
    for (const bool emptyTarget : {false, true}) {
        makeFolder("Outside");
        if (!emptyTarget) {
            makeFile("Outside\\keep.txt", "kept");
            makeFolder("Outside\\Inner");
        }
        makeFolder("T");
        makeFile("T\\plain.txt");
        const std::string link = at("T\\link");
        std::string unixLink;
        if (!makeFolderLink(this, &unixLink)) GTEST_SKIP() << "this platform makes neither junctions nor symbolic links";
        RecordProperty("link", unixLink.empty() ? "junction" : "unix symbolic link");
        const std::vector<std::string> before = listing("T");
        const bool linkFirst = before[0] == "link";

        removeCalls.clear();
        deleteCalls.clear();
        int result = 0;
        ASSERT_TRUE(deleteTreeEnds(at("T"), &result));
        EXPECT_EQ(1, result);
        EXPECT_TRUE(isFolder("Outside")) << "empty target: " << emptyTarget;
        if (!emptyTarget) {
            EXPECT_EQ("kept", readFile("Outside\\keep.txt"));
            EXPECT_TRUE(isFolder("Outside\\Inner"));
        }
        EXPECT_EQ(0, timesIn(removeCalls, link));
        for (const std::string& call : deleteCalls) EXPECT_NE(0u, call.find(link)) << call;
        EXPECT_TRUE(present("T\\link"));
        EXPECT_TRUE(present("T"));
        EXPECT_EQ(linkFirst, present("T\\plain.txt"));
        if (!unixLink.empty())
            EXPECT_TRUE(runUnixScript("rm -f '" + unixLink + "'", at("marker"))) << "the test's link stays: " << unixLink;
        else
            RemoveDirectoryA(link.c_str());
        DeleteFileA(at("T\\plain.txt").c_str());
        RemoveDirectoryA(at("T").c_str());
        DeleteFileA(at("Outside\\keep.txt").c_str());
        RemoveDirectoryA(at("Outside\\Inner").c_str());
        RemoveDirectoryA(at("Outside").c_str());
    }
}

// ---- writeWholeFile and fileExists --------------------------------------------

using WholeFile = FileSystemTest;

TEST_F(WholeFile, CreatesOverwritesAndTruncates) {
    const std::string path = at("data.bin");
    const char text[] = "hello, world";
    EXPECT_EQ(1, writeWholeFile(path.c_str(), text, 12));
    EXPECT_EQ("hello, world", readFile("data.bin"));
    EXPECT_EQ(1, writeWholeFile(path.c_str(), "abc", 3));
    EXPECT_EQ("abc", readFile("data.bin"));
    EXPECT_EQ(1, writeWholeFile(path.c_str(), text, 0));
    EXPECT_EQ("", readFile("data.bin"));
    EXPECT_EQ(0, writeWholeFile(at("missing\\data.bin").c_str(), text, 12));
    EXPECT_FALSE(present("missing"));
}

TEST_F(WholeFile, FileExistsOnlyWhenItCanBeReadWithOthersReading) {
    makeFile("f.txt");
    makeFolder("folder");
    const std::string path = at("f.txt");
    EXPECT_EQ(1, fileExists(path.c_str()));
    EXPECT_EQ(0, fileExists(at("folder").c_str()));
    EXPECT_EQ(0, fileExists(at("missing.txt").c_str()));

    struct Holder {
        DWORD access, share;
        int expected;
    } holders[] = {
        {GENERIC_READ, FILE_SHARE_READ, 1},                      // only reading: still there
        {GENERIC_WRITE, 0, 0},                                   // held exclusively
        {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0},  // held open for writing
        {GENERIC_READ, 0, 0},                                    // others may not read
    };
    for (const Holder& holder : holders) {
        HANDLE held = CreateFileA(path.c_str(), holder.access, holder.share, 0, OPEN_EXISTING, 0, 0);
        ASSERT_NE(INVALID_HANDLE_VALUE, held) << "GLE=" << GetLastError();
        EXPECT_EQ(holder.expected, fileExists(path.c_str())) << "access " << std::hex << holder.access << " share "
                                                             << holder.share;
        CloseHandle(held);
    }
    EXPECT_EQ(1, fileExists(path.c_str()));
}

}  // namespace
