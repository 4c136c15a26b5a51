// File-system helpers: folder chains, folder trees, whole files.
//
// The deleting helpers run elevated in folders that an ordinary user can
// write (the per-user Start menu), so no path is trusted between a check and
// its use. Every folder from below the root of a path down to the folder
// being worked in is held open as itself (never through a link) and without
// FILE_SHARE_DELETE: no other program can rename it or put a link in its
// place until the work has left it. A folder is deleted through a handle
// that is checked to hold the very folder that was emptied.
#include "platform/bounded_text.h"
#include "platform/path_rules.h"
#include "platform/platform_ops.h"
#include "platform/system_calls.h"

namespace {

const int CHAIN_PATH_SIZE = 1024;
const int TREE_PATH_SIZE = 2048;
// ANSI paths end at MAX_PATH characters, and every level takes at least
// two, so no path that the ANSI calls accept is deeper than this.
const int HELD_FOLDER_LIMIT = 160;

// A folder held open, and what names and identifies it.
struct HeldFolder {
    HANDLE handle;
    int pathLength;  // the path text naming this folder is this long
    DWORD volume, indexHigh, indexLow;
};

struct HeldChain {
    int count;
    HeldFolder folders[HELD_FOLDER_LIMIT];
};

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
    if (length > 0 && textFindLastChar(destination, '\\') != length - 1 &&
        !textAppend(destination, destinationSize, "\\"))
        return 0;
    return textAppend(destination, destinationSize, name);
}

int readIdentity(HANDLE handle, HeldFolder* held) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return 0;
    held->volume = info.dwVolumeSerialNumber;
    held->indexHigh = info.nFileIndexHigh;
    held->indexLow = info.nFileIndexLow;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Opens path as a folder onto the chain. Refused: more folders than the
// chain holds, anything that is not a folder, and a link. The handle's own
// attributes show a junction or symbolic link on Windows; API oddity: Wine
// (8.0) follows a Unix symbolic link even with FILE_FLAG_OPEN_REPARSE_POINT
// and shows it as a link only by path, so both are asked, after the handle
// is held. The handle does not share deletion: no other program can rename
// or delete the folder while it is held. It asks no DELETE access itself,
// since a listing (FindFirstFileA) cannot be opened beside such a handle.
int holdFolder(HeldChain* chain, const char* path, int pathLength) {
    if (chain->count >= HELD_FOLDER_LIMIT) return 0;
    const HANDLE handle =
        CreateFileA(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, 0);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    HeldFolder* held = &chain->folders[chain->count];
    const DWORD byPath = GetFileAttributesA(path);
    if (!readIdentity(handle, held) || byPath == INVALID_FILE_ATTRIBUTES || (byPath & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(handle);
        return 0;
    }
    held->handle = handle;
    held->pathLength = pathLength;
    chain->count++;
    return 1;
}

void releaseChain(HeldChain* chain) {
    while (chain->count > 0) CloseHandle(chain->folders[--chain->count].handle);
}

// Holds every folder of path below its root, down to path itself. A
// trailing backslash is cut off path. 0, with nothing held, when path is not
// rooted, or a folder on the way is missing, not a folder, a link, or cannot
// be held.
int holdPath(HeldChain* chain, char* path) {
    chain->count = 0;
    if (!pathIsRooted(path)) return 0;
    int length = textLength(path, TREE_PATH_SIZE);
    int i = folderRootEnd(path, length);
    // A trailing backslash names the same folder.
    while (length - 1 > i && textFindLastChar(path, '\\') == length - 1) path[--length] = 0;
    while (i < length) {
        i++;  // past a backslash
        while (i < length && path[i] != '\\') i += textCharBytes(path + i);
        if (path[i - 1] == '\\') continue;  // an empty level ("\\\\" or a trailing backslash)
        const char saved = path[i];
        path[i] = 0;
        const int held = holdFolder(chain, path, i);
        path[i] = saved;
        if (!held) {
            releaseChain(chain);
            return 0;
        }
    }
    return chain->count > 0;
}

// 1 when path still leads to the innermost held folder (same volume and
// file index). Windows refuses to rename a held folder, so this holds
// there; it also catches a folder swapped by a program that sharing modes
// do not bind (under Wine, a Unix process) before it can lead a deletion
// elsewhere.
int pathReachesHeld(const char* path, const HeldChain* chain) {
    const HeldFolder* held = &chain->folders[chain->count - 1];
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    HeldFolder reached;
    const int read = readIdentity(handle, &reached);
    CloseHandle(handle);
    return read && reached.volume == held->volume && reached.indexHigh == held->indexHigh &&
           reached.indexLow == held->indexLow;
}

// Lets the innermost held folder go and deletes it, path naming it. It is
// opened again as itself, with DELETE access, and deleted through that
// handle only when it is still the very folder that was emptied (same
// volume and file index, not a link): a folder swapped in the moment
// between is left alone. 1 when the deletion was accepted (the folder was
// empty).
int deleteInnermost(HeldChain* chain, const char* path) {
    const HeldFolder held = chain->folders[--chain->count];
    CloseHandle(held.handle);
    const HANDLE handle =
        CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, 0);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    HeldFolder again;
    const DWORD byPath = GetFileAttributesA(path);
    const int same = readIdentity(handle, &again) && again.volume == held.volume && again.indexHigh == held.indexHigh &&
                     again.indexLow == held.indexLow && byPath != INVALID_FILE_ATTRIBUTES &&
                     !(byPath & FILE_ATTRIBUTE_REPARSE_POINT);
    const int deleted = same && systemCalls.markForDeletion(handle);
    CloseHandle(handle);  // the deletion happens as the handle closes
    return deleted;
}

// What the work on the current folder of deleteFolderTree does next.
enum TreeStep {
    TREE_ENTRY_DELETED,   // a file or link went: list the folder afresh
    TREE_ENTERED,         // folder now names a real subfolder to empty first
    TREE_FOLDER_FINISHED  // nothing more can go: delete the folder itself
};

// Lists folder from its first entry and deals with the first entry that is
// not a dot-named folder. folder has TREE_PATH_SIZE bytes and names the
// innermost held folder.
TreeStep workOnFirstEntry(char* folder, HeldChain* chain) {
    if (!pathReachesHeld(folder, chain)) return TREE_FOLDER_FINISHED;
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

    // A name that would lead elsewhere, or a child path that does not fit,
    // is an entry that cannot be deleted.
    if (!listedNameIsPlain(entry.cFileName)) return TREE_FOLDER_FINISHED;
    if (!joinChild(child, sizeof child, folder, entry.cFileName)) return TREE_FOLDER_FINISHED;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A junction or a symbolic link to a folder is never entered and
        // left in place, like an entry that cannot be deleted: its target
        // lies elsewhere.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return TREE_FOLDER_FINISHED;
        if (!holdFolder(chain, child, textLength(child, sizeof child))) return TREE_FOLDER_FINISHED;
        textCopy(folder, TREE_PATH_SIZE, child);  // fits: child has the same size
        return TREE_ENTERED;
    }
    // A file, or a symbolic link to a file: DeleteFileA removes the link, not
    // its target, and fails on a folder put in the file's place.
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

    int last = rootEnd;  // the last separator seen
    for (int i = rootEnd + 1; i < length; i += textCharBytes(chain + i)) {
        if (chain[i] != '\\') continue;
        last = i;
        chain[i] = 0;
        const int made = makeFolder(chain);
        chain[i] = '\\';
        if (!made) return 0;
    }
    // A trailing backslash: its folder was made in the loop.
    if (last == length - 1) return 1;
    return makeFolder(chain);
}

int isFolderLink(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Works through the tree with one path buffer instead of recursion: entering
// a subfolder holds it and appends its name; finishing it deletes it and
// cuts the path back to the parent's remembered length.
//
// A subfolder that survives (something in it could not be deleted) ends the
// work on its parent, exactly as an undeletable file does: the parent's
// deletion is attempted and fails, and so on up to the folder given. The
// tree is therefore never listed again after a survivor and the operation
// cannot loop.
int deleteFolderTree(const char* path) {
    char folder[TREE_PATH_SIZE];
    // An empty text would list the current folder: nothing is done.
    if (!path || !path[0] || !textCopy(folder, sizeof folder, path)) return 1;
    // The folder given, and every folder above it, held as themselves; a
    // folder given as a link is not entered: its contents lie elsewhere.
    HeldChain chain;
    if (!holdPath(&chain, folder)) return 1;
    const int base = chain.count;

    int survivorBelow = 0;
    for (;;) {
        TreeStep step = TREE_FOLDER_FINISHED;
        if (!survivorBelow) step = workOnFirstEntry(folder, &chain);
        if (step != TREE_FOLDER_FINISHED) continue;

        // This folder is done as far as it goes.
        survivorBelow = !deleteInnermost(&chain, folder);
        if (chain.count < base) break;
        folder[chain.folders[chain.count - 1].pathLength] = 0;
    }
    releaseChain(&chain);
    return 1;
}

int deleteFileInFolder(const char* folder, const char* name) {
    char path[TREE_PATH_SIZE];
    // Only from a rooted folder: an empty or relative one would name the
    // current drive's root or the current folder.
    if (!folder || !name || !pathIsRooted(folder) || !joinChild(path, sizeof path, folder, name)) return 0;
    // Every level of the name is a plain name: no "..", no drive, no colon.
    const int nameStart = textLength(path, sizeof path) - textLength(name, sizeof path);
    for (int i = nameStart, levelStart = nameStart;; i += textCharBytes(path + i)) {
        if (path[i] != '\\' && path[i] != 0) continue;
        const char saved = path[i];
        path[i] = 0;
        const int plain = listedNameIsPlain(path + levelStart);
        path[i] = saved;
        if (!plain) return 0;
        if (saved == 0) break;
        levelStart = i + 1;
    }
    const int fileStart = textFindLastChar(path, '\\') + 1;
    if (fileStart < nameStart || fileStart == 0) return 0;  // no separator before the name
    path[fileStart - 1] = 0;
    HeldChain chain;
    if (!holdPath(&chain, path)) return 0;
    const int reached = pathReachesHeld(path, &chain);
    path[fileStart - 1] = '\\';
    const int deleted = reached && systemCalls.deleteFile(path);
    releaseChain(&chain);
    return deleted ? 1 : 0;
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

namespace {

const int WIDE_PATH_SIZE = 1024;

int wideEqual(const WCHAR* first, const WCHAR* second) {
    while (*first != 0 && *first == *second) {
        first++;
        second++;
    }
    return *first == *second;
}

// The file name part of the running program's UTF-16 path, as an ANSI name
// the code page spells exactly (no best-fit look-alikes), or the default
// name.
void spellableProgramName(const WCHAR* widePath, char* name, int nameSize) {
    const WCHAR* start = widePath;
    for (const WCHAR* p = widePath; *p != 0; p++) {
        if (*p == L'\\') start = p + 1;
    }
    BOOL usedDefault = FALSE;
    const int converted = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, start, -1, name, nameSize, 0, &usedDefault);
    if (converted == 0 || usedDefault || !listedNameIsPlain(name)) textCopy(name, nameSize, "OrloCastSetup.exe");
}

}  // namespace

int copyRunningProgram(const char* modulePath, const char* folder, char* copyPath, int copyPathSize) {
    copyPath[0] = 0;
    WCHAR program[WIDE_PATH_SIZE];
    const DWORD length = GetModuleFileNameW(0, program, WIDE_PATH_SIZE);
    if (length == 0 || length >= (DWORD)WIDE_PATH_SIZE) program[0] = 0;
    WCHAR fromAnsi[WIDE_PATH_SIZE];
    const int exact = modulePath[0] != 0 && program[0] != 0 &&
                      MultiByteToWideChar(CP_ACP, 0, modulePath, -1, fromAnsi, WIDE_PATH_SIZE) != 0 &&
                      wideEqual(fromAnsi, program);
    if (!exact && program[0] == 0) return 0;

    char name[CHAIN_PATH_SIZE];
    if (exact) {
        const int last = textFindLastChar(modulePath, '\\');
        textCopy(name, sizeof name, modulePath + last + 1);
    } else {
        spellableProgramName(program, name, sizeof name);
    }
    if (name[0] == 0 || !joinChild(copyPath, copyPathSize, folder, name)) {
        copyPath[0] = 0;
        return 0;
    }
    BOOL copied;
    if (exact) {
        copied = CopyFileA(modulePath, copyPath, FALSE);
    } else {
        // The platform has no ANSI form for a path the code page cannot spell.
        WCHAR wideCopy[WIDE_PATH_SIZE];
        copied = MultiByteToWideChar(CP_ACP, 0, copyPath, -1, wideCopy, WIDE_PATH_SIZE) != 0 &&
                 CopyFileW(program, wideCopy, FALSE);
    }
    if (copied) SetFileAttributesA(copyPath, FILE_ATTRIBUTE_NORMAL);  // clears read-only and the like
    const DWORD attributes = GetFileAttributesA(copyPath);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int fileExists(const char* path) {
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(file);
    return 1;
}
