// File-system helpers: folder chains, folder trees, whole files.
#include "platform/bounded_text.h"
#include "platform/folder_root.h"
#include "platform/platform_ops.h"
#include "platform/system_calls.h"

namespace {

const int CHAIN_PATH_SIZE = 1024;
const int TREE_PATH_SIZE = 2048;

// Creates one folder; one that exists already counts as made.
int makeFolder(const char* path) {
    if (systemCalls.createDirectory(path, 0)) return 1;
    // API oddity: an existing folder, and an existing file of that name as
    // well, fail with ERROR_ALREADY_EXISTS. Both count as success here.
    return GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0;
}

// destination = folder, one backslash unless folder ends in one, name.
// 0 when that does not fit destinationSize.
int joinChild(char* destination, int destinationSize, const char* folder, const char* name) {
    if (!textCopy(destination, destinationSize, folder)) return 0;
    const int length = textLength(destination, destinationSize);
    if (length > 0 && destination[length - 1] != '\\' && !textAppend(destination, destinationSize, "\\")) return 0;
    return textAppend(destination, destinationSize, name);
}

// What the work on the current folder of deleteFolderTree does next.
enum TreeStep {
    TREE_ENTRY_DELETED,   // a file or link went: list the folder afresh
    TREE_ENTERED,         // folder now names a real subfolder to empty first
    TREE_FOLDER_FINISHED  // nothing more can go: remove the folder itself
};

// Lists folder from its first entry and deals with the first entry that is
// not a dot-named folder. folder has TREE_PATH_SIZE bytes.
TreeStep workOnFirstEntry(char* folder) {
    char child[TREE_PATH_SIZE];
    if (!joinChild(child, sizeof child, folder, "*.*")) return TREE_FOLDER_FINISHED;
    WIN32_FIND_DATAA entry;
    const HANDLE listing = FindFirstFileA(child, &entry);
    if (listing == INVALID_HANDLE_VALUE) return TREE_FOLDER_FINISHED;
    // "." and "..", and any folder whose name begins with a dot, are never entered.
    while ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && entry.cFileName[0] == '.') {
        if (!FindNextFileA(listing, &entry)) {
            FindClose(listing);
            return TREE_FOLDER_FINISHED;
        }
    }
    // Nothing is deleted while a listing of the folder is open.
    FindClose(listing);

    // A child path that does not fit is an entry that cannot be deleted.
    if (!joinChild(child, sizeof child, folder, entry.cFileName)) return TREE_FOLDER_FINISHED;
    const DWORD attributes = entry.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A junction or a symbolic link to a folder: never entered, and left
        // in place like an entry that cannot be deleted, since its target lies
        // elsewhere. API oddity: Wine (8.0) lists a Unix symbolic link as a
        // reparse point, and RemoveDirectoryA on it removes the link's target
        // when that is empty, so not even the link itself is removed.
        return TREE_FOLDER_FINISHED;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        textCopy(folder, TREE_PATH_SIZE, child);  // fits: child has the same size
        return TREE_ENTERED;
    }
    // A file, or a symbolic link to a file: DeleteFileA removes the link, not its target.
    return systemCalls.deleteFile(child) ? TREE_ENTRY_DELETED : TREE_FOLDER_FINISHED;
}

}  // namespace

int createFolderChain(const char* path) {
    if (!path) return 0;
    char chain[CHAIN_PATH_SIZE];
    // A path that does not fit the buffer with its terminator is refused.
    if (!textCopy(chain, sizeof chain, path)) return 0;
    const int length = textLength(chain, sizeof chain);
    if (length < 5) return 0;

    // Nothing at or above the root is ever created.
    const int rootEnd = folderRootEnd(chain, length);
    if (rootEnd >= length - 1) return 1;

    for (int i = rootEnd + 1; i < length; i++) {
        if (chain[i] != '\\') continue;
        chain[i] = 0;
        const int made = makeFolder(chain);
        chain[i] = '\\';
        if (!made) return 0;
    }
    // A trailing backslash: its folder was made in the loop.
    if (chain[length - 1] == '\\') return 1;
    return makeFolder(chain);
}

// Works through the tree with one path buffer instead of recursion, so that
// a deep tree cannot exhaust the stack: entering a subfolder appends its name,
// finishing it cuts the name off again and lists the parent afresh.
//
// A subfolder that survives its own removal (something in it could not be
// deleted) ends the work on its parent, exactly as an undeletable file does:
// the parent's removal is attempted and fails, and so on up to the folder
// given. The tree is therefore never listed again after a survivor and the
// operation cannot loop.
int isFolderLink(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

int deleteFolderTree(const char* path) {
    char folder[TREE_PATH_SIZE];
    // An empty text would list the current folder: nothing is done.
    if (!path || !path[0] || !textCopy(folder, sizeof folder, path)) return 1;
    // A folder given as a link is not entered either: its contents lie elsewhere.
    if (isFolderLink(folder)) return 1;
    const int rootLength = textLength(folder, sizeof folder);

    int survivorBelow = 0;
    for (;;) {
        TreeStep step = TREE_FOLDER_FINISHED;
        if (!survivorBelow) step = workOnFirstEntry(folder);
        if (step != TREE_FOLDER_FINISHED) continue;

        // This folder is done as far as it goes.
        const BOOL removed = systemCalls.removeDirectory(folder);
        if (textLength(folder, sizeof folder) <= rootLength) return 1;
        survivorBelow = !removed;

        // Back to the parent. Entry names hold no backslash, so the last
        // one is the separator that was added, or the root's own trailing
        // backslash, which belongs to the root.
        int cut = textLength(folder, sizeof folder) - 1;
        while (cut > rootLength && folder[cut] != '\\') cut--;
        folder[cut] = 0;
    }
}

int writeWholeFile(const char* path, const void* bytes, DWORD count) {
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, bytes, count, &written, 0);
    CloseHandle(file);
    // A short write is a failure; the partly written file stays.
    return wrote && written == count ? 1 : 0;
}

int fileExists(const char* path) {
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(file);
    return 1;
}
