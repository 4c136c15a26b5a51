// File-system helpers: folder chains, folders held open, folder trees,
// whole files and the running program's own file.
//
// The installer runs elevated in folders that an ordinary user can write
// (the per-user Start menu, Startup), so a path is used once, to open a
// folder; everything after goes through handles. Each entry is opened
// relative to its folder's handle, as itself (never through a link), and
// used only when the handle holds what the folder's listing named; files are
// deleted through their handles and written as new files renamed into place.
// Names stay UTF-16 from the listing to the deletion.
#include <windows.h>
#include <winternl.h>

#include "platform/bounded_text.h"
#include "platform/path_rules.h"
#include "platform/platform_ops.h"
#include "platform/system_calls.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE folder, HANDLE event, PVOID apcRoutine, PVOID apcContext,
                                               PIO_STATUS_BLOCK ioStatus, PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS informationClass, BOOLEAN singleEntry,
                                               PUNICODE_STRING mask, BOOLEAN restart);

namespace {

const int CHAIN_PATH_SIZE = 1024;
// Folders open at once in a tree's walk; deeper folders count as entries
// that cannot be deleted.
const int TREE_DEPTH_LIMIT = 128;

// Information classes of NtQueryDirectoryFile and NtQuery/SetInformationFile.
const FILE_INFORMATION_CLASS BOTH_DIRECTORY_CLASS = (FILE_INFORMATION_CLASS)3;
const FILE_INFORMATION_CLASS BASIC_CLASS = (FILE_INFORMATION_CLASS)4;
const FILE_INFORMATION_CLASS INTERNAL_CLASS = (FILE_INFORMATION_CLASS)6;
const FILE_INFORMATION_CLASS RENAME_CLASS = (FILE_INFORMATION_CLASS)10;
const FILE_INFORMATION_CLASS DISPOSITION_CLASS = (FILE_INFORMATION_CLASS)13;
const FILE_INFORMATION_CLASS ID_BOTH_DIRECTORY_CLASS = (FILE_INFORMATION_CLASS)37;
const ULONG OPEN_EXISTING_ONLY = 1, CREATE_NEW_ONLY = 2;  // FILE_OPEN, FILE_CREATE
const ULONG NON_DIRECTORY = 0x40;                         // FILE_NON_DIRECTORY_FILE
const ULONG SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A held folder may be read and written by others, never renamed or deleted.
const ULONG SHARE_HELD = FILE_SHARE_READ | FILE_SHARE_WRITE;
const ACCESS_MASK FOLDER_ACCESS = FILE_LIST_DIRECTORY | FILE_TRAVERSE;
const ULONG KIND = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// Creates one folder; one that exists already counts as made.
int makeFolder(const char* path) {
    if (systemCalls.createDirectory(path, 0)) return 1;
    // API oddity: an existing folder, and an existing file of that name as
    // well, fail with ERROR_ALREADY_EXISTS. Both count as success here.
    return GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0;
}

// Opens name relative to folder. 0 when it cannot be opened or made.
HANDLE openRelative(HANDLE folder, const UNICODE_STRING* name, ACCESS_MASK access, ULONG share, ULONG disposition,
                    ULONG options) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, (PUNICODE_STRING)name, OBJ_CASE_INSENSITIVE, folder, 0);
    IO_STATUS_BLOCK io;
    HANDLE handle = 0;
    const NTSTATUS status = systemCalls.createFile(
        &handle, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, 0, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, 0, 0);
    return status >= 0 ? handle : 0;
}

// One entry of a folder's listing. The name points into the listing's buffer.
struct Listed {
    ULONG attributes;
    LONGLONG id;  // its file ID; 0 where the listing gives none
    UNICODE_STRING name;
};

// Room for one entry with a name of 255 characters, aligned for its fields.
struct ListingBuffer {
    LONGLONG room[128];
};

// API oddity: Windows 2000 lists no file IDs (the class came with XP); it
// answers with an unknown class, and the listing without IDs is used.
int listingHasNoIds = 0;

// The next entry of folder's listing (the first on a fresh handle), limited
// to the name mask when one is given. 0 at the end or on any failure.
int nextListed(HANDLE folder, ListingBuffer* buffer, UNICODE_STRING* mask, Listed* entry) {
    IO_STATUS_BLOCK io;
    FILE_INFORMATION_CLASS listingClass = listingHasNoIds ? BOTH_DIRECTORY_CLASS : ID_BOTH_DIRECTORY_CLASS;
    NTSTATUS status =
        NtQueryDirectoryFile(folder, 0, 0, 0, &io, buffer, sizeof *buffer, listingClass, TRUE, mask, FALSE);
    if ((status == (NTSTATUS)0xC0000003L || status == (NTSTATUS)0xC000000DL) && !listingHasNoIds) {
        listingHasNoIds = 1;
        listingClass = BOTH_DIRECTORY_CLASS;
        status = NtQueryDirectoryFile(folder, 0, 0, 0, &io, buffer, sizeof *buffer, listingClass, TRUE, mask, FALSE);
    }
    if (status != 0) return 0;  // also STATUS_BUFFER_OVERFLOW: a name longer than any the system makes
    if (listingClass == BOTH_DIRECTORY_CLASS) {
        const FILE_BOTH_DIR_INFORMATION* both = (const FILE_BOTH_DIR_INFORMATION*)buffer;
        entry->attributes = both->FileAttributes;
        entry->id = 0;
        entry->name.Buffer = (PWSTR)both->FileName;
        entry->name.Length = (USHORT)both->FileNameLength;
    } else {
        const FILE_ID_BOTH_DIR_INFORMATION* both = (const FILE_ID_BOTH_DIR_INFORMATION*)buffer;
        entry->attributes = both->FileAttributes;
        entry->id = both->FileId.QuadPart;
        entry->name.Buffer = (PWSTR)both->FileName;
        entry->name.Length = (USHORT)both->FileNameLength;
    }
    entry->name.MaximumLength = entry->name.Length;
    return 1;
}

// 1 for "." and "..".
int isDotEntry(const UNICODE_STRING* name) {
    const int length = name->Length / 2;
    return name->Buffer[0] == L'.' && (length == 1 || (length == 2 && name->Buffer[1] == L'.'));
}

// 1 when name names an entry of its folder and nothing else: not empty, not
// "." or "..", no separator, colon (a stream) or wildcard.
int isPlainName(const UNICODE_STRING* name) {
    const int length = name->Length / 2;
    if (length == 0 || isDotEntry(name)) return 0;
    for (int i = 0; i < length; i++) {
        const WCHAR c = name->Buffer[i];
        if (c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'<' || c == L'>' || c == L'"')
            return 0;
    }
    return 1;
}

// Opens a listed entry of folder as itself and checks that the handle holds
// what the listing named: the same file ID where the listing gives one, and
// the same kind (folder or not, link or not). A swap between listing and
// opening is refused, and so is a link that the platform followed (API
// oddity: Wine opens the target of a Unix symbolic link even when asked for
// the link itself; only its listing shows a link).
HANDLE openListed(HANDLE folder, const Listed* entry, ACCESS_MASK access, ULONG share, ULONG options) {
    if (!isPlainName(&entry->name)) return 0;
    const HANDLE handle = openRelative(folder, &entry->name, access, share, OPEN_EXISTING_ONLY, options);
    if (handle == 0) return 0;
    IO_STATUS_BLOCK io;
    FILE_BASIC_INFORMATION basic;
    FILE_INTERNAL_INFORMATION index;
    if (NtQueryInformationFile(handle, &io, &basic, sizeof basic, BASIC_CLASS) >= 0 &&
        NtQueryInformationFile(handle, &io, &index, sizeof index, INTERNAL_CLASS) >= 0 &&
        (basic.FileAttributes & KIND) == (entry->attributes & KIND) &&
        (entry->id == 0 || entry->id == index.IndexNumber.QuadPart))
        return handle;
    CloseHandle(handle);
    return 0;
}

// Looks name up in folder's listing (a fresh handle: the first query of a
// handle fixes its mask). The listing gives the long name also for a short
// (8.3) one. 0 when it is not there.
int lookUp(HANDLE folder, UNICODE_STRING* name, ListingBuffer* buffer, Listed* entry) {
    return isPlainName(name) && nextListed(folder, buffer, name, entry);
}

// Opens the folder name of parent as itself; made when missing and create
// is set. A link, a file or a folder swapped meanwhile gives 0.
HANDLE openFolderLevel(HANDLE parent, UNICODE_STRING* name, ACCESS_MASK access, ULONG share, int create) {
    ListingBuffer buffer;
    Listed entry;
    if (lookUp(parent, name, &buffer, &entry)) {
        if ((entry.attributes & KIND) != FILE_ATTRIBUTE_DIRECTORY) return 0;
        return openListed(parent, &entry, access, share, FILE_DIRECTORY_FILE);
    }
    if (!create || !isPlainName(name)) return 0;
    // A new folder is itself: FILE_CREATE fails on anything already there.
    return openRelative(parent, name, access, share, CREATE_NEW_ONLY, FILE_DIRECTORY_FILE);
}

// Index just past the root of a rooted path ("C:\" or "\\server\share\").
int wideRootLength(const WCHAR* path) {
    if (path[1] == L':') return 3;
    int separators = 0, i = 0;
    while (path[i] != 0 && separators < 4) separators += path[i++] == L'\\';
    return i;
}

int wideLength(const WCHAR* text) {
    int length = 0;
    while (text[length] != 0) length++;
    return length;
}

// The ANSI text as UTF-16 in wide (wideSize characters). 0 when it does not fit.
int toWide(const char* text, WCHAR* wide, int wideSize) {
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide, wideSize) != 0;
}

// Deletes what handle holds as its last handle closes; then closes it.
int deleteThrough(HANDLE handle) {
    const int deleted = systemCalls.markForDeletion(handle) ? 1 : 0;
    CloseHandle(handle);
    return deleted;
}

}  // namespace

BOOL WINAPI markHandleForDeletion(HANDLE handle) {
    IO_STATUS_BLOCK io;
    BOOLEAN deleteFile = TRUE;  // FILE_DISPOSITION_INFORMATION
    // An NTSTATUS below zero is an error (STATUS_DIRECTORY_NOT_EMPTY, STATUS_CANNOT_DELETE, ...).
    return NtSetInformationFile(handle, &io, &deleteFile, sizeof deleteFile, DISPOSITION_CLASS) >= 0;
}

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

HANDLE holdFolder(const char* path, int owner, int flags) {
    WCHAR wide[CHAIN_PATH_SIZE];
    if (!pathIsRooted(path) || !toWide(path, wide, CHAIN_PATH_SIZE)) return 0;
    const int root = wideRootLength(wide);
    int length = wideLength(wide);
    while (length > root && wide[length - 1] == L'\\') wide[--length] = 0;  // names the same folder
    // What is opened by path: the root, or for the machine's folders all
    // but the last level, as the platform resolves it.
    int opened = root;
    if (owner == MACHINE_FOLDER) {
        for (int i = root; i < length; i++)
            if (wide[i] == L'\\') opened = i + 1;
        // Made as the platform resolves it, like the installation folder.
        char parent[CHAIN_PATH_SIZE];
        if ((flags & HOLD_CREATE) && opened > root && textCopy(parent, sizeof parent, path)) {
            int end = textLength(parent, sizeof parent);
            while (end > 0 && textFindLastChar(parent, '\\') == end - 1) parent[--end] = 0;
            const int cut = textFindLastChar(parent, '\\');
            if (cut > 0) parent[cut] = 0, createFolderChain(parent);
        }
    }
    if (opened >= length) return 0;  // no level below the root: nothing to hold as itself
    const int prefixEnd = opened > root ? opened - 1 : opened;
    const WCHAR saved = wide[prefixEnd];
    wide[prefixEnd] = 0;
    HANDLE folder = CreateFileW(wide, FOLDER_ACCESS, SHARE_ALL, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0);
    wide[prefixEnd] = saved;
    if (folder == INVALID_HANDLE_VALUE) return 0;

    // Every level below, as itself, the last one held.
    for (int start = opened; start < length && folder != 0;) {
        int end = start;
        while (end < length && wide[end] != L'\\') end++;
        if (end > start) {
            UNICODE_STRING name = {(USHORT)((end - start) * 2), (USHORT)((end - start) * 2), wide + start};
            const int last = end == length;
            const ACCESS_MASK access = FOLDER_ACCESS | (last && (flags & HOLD_FOR_DELETION) ? DELETE : 0);
            const HANDLE child =
                openFolderLevel(folder, &name, access, last ? SHARE_HELD : SHARE_ALL, flags & HOLD_CREATE);
            CloseHandle(folder);
            folder = child;
        }
        start = end + 1;
    }
    return folder;
}

// Works through the tree with the folders from the one given down to the
// one being listed held open, each listed through its own handle, so the
// listing goes on where it was after a subfolder is done: no entry is listed
// twice. A subfolder that survives (something in it could not be deleted)
// ends the work on its parent, exactly as an undeletable file does: the
// parent's deletion is attempted and fails, and so on up to the folder
// given.
int deleteFolderTree(const char* path, int owner) {
    HANDLE held[TREE_DEPTH_LIMIT];
    if (!path) return 1;
    held[0] = holdFolder(path, owner, HOLD_FOR_DELETION);
    if (held[0] == 0) return 1;
    int depth = 1, stopped = 0;
    ListingBuffer buffer;
    while (depth > 0) {
        const HANDLE folder = held[depth - 1];
        Listed entry;
        if (!stopped && nextListed(folder, &buffer, 0, &entry)) {
            if (isDotEntry(&entry.name)) continue;
            if ((entry.attributes & KIND) == FILE_ATTRIBUTE_DIRECTORY) {
                // A folder whose name begins with a dot is never entered.
                if (entry.name.Buffer[0] == L'.') continue;
                const HANDLE child = depth < TREE_DEPTH_LIMIT ? openListed(folder, &entry, FOLDER_ACCESS | DELETE,
                                                                           SHARE_HELD, FILE_DIRECTORY_FILE)
                                                              : 0;
                if (child != 0) held[depth++] = child;
                stopped = child == 0;
                continue;
            }
            // A file, or a link of any kind: deleted as itself, never entered.
            const HANDLE item = openListed(folder, &entry, DELETE, SHARE_ALL, 0);
            stopped = item == 0 || !deleteThrough(item);
            continue;
        }
        // This folder is done as far as it goes.
        stopped = !deleteThrough(folder);
        depth--;
    }
    return 1;
}

int deleteFileInFolder(const char* folder, int owner, const char* name) {
    WCHAR wide[CHAIN_PATH_SIZE];
    if (!folder || !name || !toWide(name, wide, CHAIN_PATH_SIZE)) return 0;
    HANDLE current = holdFolder(folder, owner, 0);
    // Each level of name a real folder, as itself; the last a file or a link.
    for (int start = 0; current != 0;) {
        int end = start;
        while (wide[end] != 0 && wide[end] != L'\\') end++;
        UNICODE_STRING level = {(USHORT)((end - start) * 2), (USHORT)((end - start) * 2), wide + start};
        if (wide[end] == 0) {
            ListingBuffer buffer;
            Listed entry;
            HANDLE item = 0;
            if (lookUp(current, &level, &buffer, &entry) && (entry.attributes & KIND) != FILE_ATTRIBUTE_DIRECTORY)
                item = openListed(current, &entry, DELETE, SHARE_ALL, 0);
            CloseHandle(current);
            return item != 0 && deleteThrough(item);
        }
        const HANDLE child = openFolderLevel(current, &level, FOLDER_ACCESS, SHARE_ALL, 0);
        CloseHandle(current);
        current = child;
        start = end + 1;
    }
    return 0;
}

HANDLE createNewFileIn(HANDLE folder) {
    static LONG counter = 0;
    const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (int attempt = 0; attempt < 16; attempt++) {
        // "~orlo" and eight hex digits and ".tmp"; a name already taken (by
        // anything: a file, a link) is passed over.
        WCHAR text[] = L"~orlo00000000.tmp";
        DWORD value = seed + (DWORD)InterlockedIncrement(&counter);
        for (int i = 12; i >= 5; i--, value >>= 4) text[i] = L"0123456789abcdef"[value & 15];
        UNICODE_STRING name = {34, 34, text};
        const HANDLE file =
            openRelative(folder, &name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, CREATE_NEW_ONLY, NON_DIRECTORY);
        if (file != 0) return file;
    }
    return 0;
}

int placeNewFile(HANDLE file, HANDLE folder, const char* name) {
    struct {
        FILE_RENAME_INFORMATION head;
        WCHAR name[MAX_PATH];
    } rename;
    int placed = 0;
    if (name != 0 && toWide(name, rename.head.FileName, MAX_PATH)) {
        UNICODE_STRING checked = {0, 0, rename.head.FileName};
        checked.Length = checked.MaximumLength = (USHORT)(wideLength(rename.head.FileName) * 2);
        rename.head.ReplaceIfExists = TRUE;
        rename.head.RootDirectory = folder;
        rename.head.FileNameLength = checked.Length;
        IO_STATUS_BLOCK io;
        // The name's entry is replaced: a link or a hard link there is never
        // written through.
        placed = isPlainName(&checked) && NtSetInformationFile(file, &io, &rename, sizeof rename, RENAME_CLASS) >= 0;
    }
    if (!placed) systemCalls.markForDeletion(file);
    CloseHandle(file);
    return placed;
}

int writeFileInFolder(HANDLE folder, const char* name, const void* bytes, DWORD count) {
    const HANDLE file = createNewFileIn(folder);
    if (file == 0) return 0;
    DWORD written = 0;
    const int wrote = WriteFile(file, bytes, count, &written, 0) && written == count;
    return placeNewFile(file, folder, wrote ? name : 0);
}

int copyFileContents(HANDLE from, HANDLE to) {
    char chunk[16384];
    if (SetFilePointer(from, 0, 0, FILE_BEGIN) != 0) return 0;
    for (;;) {
        DWORD got = 0, written = 0;
        if (!ReadFile(from, chunk, sizeof chunk, &got, 0)) return 0;
        if (got == 0) return 1;
        if (!WriteFile(to, chunk, got, &written, 0) || written != got) return 0;
    }
}

HANDLE holdRunningProgramFile() {
    WCHAR path[CHAIN_PATH_SIZE];
    const DWORD length = GetModuleFileNameW(0, path, CHAIN_PATH_SIZE);
    if (length == 0 || length >= (DWORD)CHAIN_PATH_SIZE) return 0;
    // Others may read it; no one may write, rename or delete it while held.
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    return file == INVALID_HANDLE_VALUE ? 0 : file;
}

void runningProgramName(char* name, int nameSize) {
    WCHAR path[CHAIN_PATH_SIZE];
    const DWORD length = GetModuleFileNameW(0, path, CHAIN_PATH_SIZE);
    BOOL usedDefault = FALSE;
    int converted = 0;
    if (length != 0 && length < (DWORD)CHAIN_PATH_SIZE) {
        int start = 0;
        for (DWORD i = 0; i < length; i++)
            if (path[i] == L'\\') start = i + 1;
        converted =
            WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path + start, -1, name, nameSize, 0, &usedDefault) != 0;
    }
    // A name the code page cannot spell exactly would name another file.
    if (!converted || usedDefault || !listedNameIsPlain(name)) textCopy(name, nameSize, "OrloCastSetup.exe");
}

int pathNamesFile(const char* path, HANDLE file) {
    const HANDLE other = CreateFileA(path, FILE_READ_ATTRIBUTES, SHARE_ALL, 0, OPEN_EXISTING, 0, 0);
    if (other == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION first, second;
    const int same = GetFileInformationByHandle(other, &first) && GetFileInformationByHandle(file, &second) &&
                     first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
                     first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
    CloseHandle(other);
    return same;
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
