// Folder resolution: the special-folder table, resolved once at start-up,
// and the installation folder, asked of the shell anew on every call.
//
// The shell functions are looked up by name at run time in libraries loaded
// from the system folder only (systemCalls.loadSystemLibrary), never linked:
// SHGetSpecialFolderPathA is missing from the oldest shells, and a library
// found beside the installer or in the current folder is never trusted.
#include "setup/folders.h"

#include <windows.h>

#include "platform/bounded_text.h"
#include "platform/system_calls.h"
#include "setup/installer_state.h"

namespace {

typedef BOOL(WINAPI* GetSpecialFolderPathFunction)(HWND owner, LPSTR path, int csidl, BOOL create);
typedef HRESULT(WINAPI* GetFolderPathFunction)(HWND owner, int csidl, HANDLE token, DWORD flags, LPSTR path);

const int CSIDL_PROGRAM_FILES_ID = 38;
const int CSIDL_PERSONAL_ID = 5;
const int CSIDL_APPDATA_ID = 26;
const int CSIDL_COMMON_APPDATA_ID = 35;
const int CSIDL_COMMON_PROGRAMS_ID = 23;
const int CSIDL_STARTUP_ID = 7;

const int FOLDER_COUNT = 6;
// Fallbacks are built here before they are copied into their entry.
const int FALLBACK_SIZE = 2048;
const UINT WINDOWS_FOLDER_LIMIT = 2000;

const char SHELL_LIBRARY[] = "SHELL32.DLL";
const char SHELL_FUNCTION[] = "SHGetSpecialFolderPathA";
const char FOLDER_LIBRARY[] = "SHFOLDER.DLL";
const char FOLDER_FUNCTION[] = "SHGetFolderPathA";
const char FALLBACK_DRIVE[] = "C:";
// Joined after the root with joinPath, which supplies the one backslash in
// front: "D:\" and "C:" both get exactly one.
const char PROGRAM_FILES_NAME[] = "Program Files\\";
const char COMMON_APP_DATA_NAME[] = "Fenmarch\\CommonAPP";

// Table order is the order in which the shell is asked.
struct FolderSlot {
    int csidl;
    BOOL create;
};
const FolderSlot FOLDER_SLOTS[FOLDER_COUNT] = {
    {CSIDL_PROGRAM_FILES_ID, FALSE}, {CSIDL_PERSONAL_ID, TRUE},        {CSIDL_APPDATA_ID, TRUE},
    {CSIDL_COMMON_APPDATA_ID, TRUE}, {CSIDL_COMMON_PROGRAMS_ID, TRUE}, {CSIDL_STARTUP_ID, TRUE},
};

// Zero-filled at load (no bytes in the file). Resolution starts the Startup
// entry as "Startup", the text it keeps when no library finds the folder.
SpecialFolderTable specialFolders;
int specialFoldersResolved = 0;

// The entry that holds slot `index` of FOLDER_SLOTS.
char* folderEntry(int index) {
    switch (index) {
        case 0: return specialFolders.programFilesFolder;
        case 1: return specialFolders.personalFolder;
        case 2: return specialFolders.appDataFolder;
        case 3: return specialFolders.commonAppDataFolder;
        case 4: return specialFolders.commonProgramsFolder;
        default: return specialFolders.startupFolder;
    }
}

// GetProcAddress hands back a generic function pointer; void (*)(void) is
// the one type the compiler accepts as a go-between for any other.
GetSpecialFolderPathFunction findSpecialFolderPath(HMODULE library) {
    const FARPROC found = systemCalls.getProcAddress(library, SHELL_FUNCTION);
    return reinterpret_cast<GetSpecialFolderPathFunction>(reinterpret_cast<void (*)(void)>(found));
}

GetFolderPathFunction findFolderPath(HMODULE library) {
    const FARPROC found = systemCalls.getProcAddress(library, FOLDER_FUNCTION);
    return reinterpret_cast<GetFolderPathFunction>(reinterpret_cast<void (*)(void)>(found));
}

// Both shell functions write at most MAX_PATH bytes, which every buffer here
// can take; a text that is nevertheless not terminated inside its buffer is
// treated as a failure.
int askSpecialFolderPath(GetSpecialFolderPathFunction function, char* out, int outSize, int csidl, BOOL create) {
    out[0] = 0;
    // Success is exactly 1: any other value, true or not, counts as failure.
    if (function(0, out, csidl, create) == 1 && textLength(out, outSize) < outSize) return 1;
    out[0] = 0;
    return 0;
}

int askFolderPath(GetFolderPathFunction function, char* out, int outSize, int csidl) {
    out[0] = 0;
    // Flags 0: the folder's current path, never created. S_FALSE is a failure.
    if (function(0, csidl, 0, 0, out) == 0 && textLength(out, outSize) < outSize) return 1;
    out[0] = 0;
    return 0;
}

// The Windows folder in `out` (FALLBACK_SIZE bytes): 1, or 0 when it cannot
// be read. A result of 0 is failure; a result of the limit or more is the
// size the call would need, and then nothing was stored.
int readWindowsFolder(char* out) {
    out[0] = 0;
    out[FALLBACK_SIZE - 1] = 0;
    const UINT length = systemCalls.getWindowsDirectory(out, WINDOWS_FOLDER_LIMIT);
    if (length == 0 || length >= WINDOWS_FOLDER_LIMIT || (int)length != textLength(out, (int)WINDOWS_FOLDER_LIMIT)) {
        out[0] = 0;
        return 0;
    }
    return 1;
}

// Root of the Windows folder (cut with `cutToRoot`) joined with
// "\Program Files\", or "C:\Program Files\" when the folder cannot be read.
// The result goes into destination only when it fits; otherwise the
// destination is left empty.
void buildProgramFilesFallback(char* destination, int destinationSize, int (*cutToRoot)(char* path)) {
    char text[FALLBACK_SIZE];
    destination[0] = 0;
    // A Windows folder that gives no root is as good as one that cannot be read.
    if (!readWindowsFolder(text) || (cutToRoot(text) == 0 && text[0] == 0)) {
        textCopy(text, sizeof text, FALLBACK_DRIVE);
    }
    if (!joinPath(text, sizeof text, PROGRAM_FILES_NAME)) return;
    textCopy(destination, destinationSize, text);
}

// First pass: SHGetSpecialFolderPathA for all six entries. 1 when every
// call succeeded, 0 when a second pass is needed (also when the function
// is missing). -1 when SHELL32.DLL cannot be loaded: then no second pass.
int askShell() {
    const HMODULE library = systemCalls.loadSystemLibrary(SHELL_LIBRARY);
    if (library == 0) return -1;
    int allFound = 0;
    const GetSpecialFolderPathFunction function = findSpecialFolderPath(library);
    if (function != 0) {
        allFound = 1;
        for (int i = 0; i < FOLDER_COUNT; i++) {
            if (!askSpecialFolderPath(function, folderEntry(i), SPECIAL_FOLDER_SIZE, FOLDER_SLOTS[i].csidl,
                                      FOLDER_SLOTS[i].create)) {
                allFound = 0;
            }
        }
    }
    systemCalls.freeLibrary(library);
    return allFound;
}

// Second pass: SHGetFolderPathA for every entry that is still empty.
void askFolderLibrary() {
    const HMODULE library = systemCalls.loadSystemLibrary(FOLDER_LIBRARY);
    if (library == 0) return;
    const GetFolderPathFunction function = findFolderPath(library);
    if (function != 0) {
        for (int i = 0; i < FOLDER_COUNT; i++) {
            char* entry = folderEntry(i);
            if (entry[0] == 0) askFolderPath(function, entry, SPECIAL_FOLDER_SIZE, FOLDER_SLOTS[i].csidl);
        }
    }
    systemCalls.freeLibrary(library);
}

// The current folder into the entry, or an empty entry when it does not fit.
// GetCurrentDirectoryA answers a buffer that is too small with the size it
// needs (terminator included), which is never below the buffer's size.
void readCurrentFolder(char* entry) {
    entry[0] = 0;
    const DWORD length = systemCalls.getCurrentDirectory(SPECIAL_FOLDER_SIZE, entry);
    if (length == 0 || length >= (DWORD)SPECIAL_FOLDER_SIZE || (int)length != textLength(entry, SPECIAL_FOLDER_SIZE)) {
        entry[0] = 0;
    }
}

// Fallbacks for the entries still empty, in this order. The all-users
// Programs and the Startup folder have none.
void applyFallbacks() {
    SpecialFolderTable* table = &specialFolders;
    if (table->programFilesFolder[0] == 0) {
        buildProgramFilesFallback(table->programFilesFolder, SPECIAL_FOLDER_SIZE, keepDriveRoot);
    }
    if (table->personalFolder[0] == 0) readCurrentFolder(table->personalFolder);
    if (table->appDataFolder[0] == 0) textCopy(table->appDataFolder, SPECIAL_FOLDER_SIZE, table->personalFolder);
    if (table->commonAppDataFolder[0] == 0) {
        char text[FALLBACK_SIZE];
        // Without a rooted Program Files folder there is no drive to put it on.
        if (textCopy(text, sizeof text, table->programFilesFolder) && keepDriveRoot(text) &&
            joinPath(text, sizeof text, COMMON_APP_DATA_NAME)) {
            textCopy(table->commonAppDataFolder, SPECIAL_FOLDER_SIZE, text);
        }
    }
}

}  // namespace

void resolveSpecialFolders() {
    // Set first: a resolution is never repeated, whatever it found.
    if (specialFoldersResolved) return;
    specialFoldersResolved = 1;

    specialFolders.programFilesFolder[0] = 0;
    specialFolders.personalFolder[0] = 0;
    specialFolders.appDataFolder[0] = 0;
    specialFolders.commonAppDataFolder[0] = 0;
    textCopy(specialFolders.startupFolder, SPECIAL_FOLDER_SIZE, "Startup");

    const int shellResult = askShell();
    if (shellResult == 0) askFolderLibrary();
    applyFallbacks();
}

const char* getCommonProgramsFolder() { return specialFolders.commonProgramsFolder; }

const char* getStartupFolder() { return specialFolders.startupFolder; }

const SpecialFolderTable* getSpecialFolderTable() { return &specialFolders; }

void resetSpecialFoldersForTests() {
    specialFoldersResolved = 0;
    for (int i = 0; i < FOLDER_COUNT; i++) folderEntry(i)[0] = 0;
    textCopy(specialFolders.startupFolder, SPECIAL_FOLDER_SIZE, "Startup");
}

int resolveTargetFolder(InstallerState* state, const char* relativeFolder) {
    char* target = state->targetFolder;
    const int targetSize = (int)sizeof state->targetFolder;
    target[0] = 0;

    // Always with the create flag 0: the Program Files folder is only looked up.
    HMODULE library = systemCalls.loadSystemLibrary(SHELL_LIBRARY);
    if (library != 0) {
        const GetSpecialFolderPathFunction function = findSpecialFolderPath(library);
        if (function != 0) askSpecialFolderPath(function, target, targetSize, CSIDL_PROGRAM_FILES_ID, FALSE);
        systemCalls.freeLibrary(library);
    }
    // Tried even when SHELL32.DLL could not be loaded.
    if (target[0] == 0) {
        library = systemCalls.loadSystemLibrary(FOLDER_LIBRARY);
        if (library != 0) {
            const GetFolderPathFunction function = findFolderPath(library);
            if (function != 0) askFolderPath(function, target, targetSize, CSIDL_PROGRAM_FILES_ID);
            systemCalls.freeLibrary(library);
        }
    }
    if (target[0] == 0) buildProgramFilesFallback(target, targetSize, keepRootPrefix);
    if (target[0] == 0) return -1;

    // A target that does not fit is no target: never leave Program Files alone
    // in targetFolder for a caller to work on.
    if (!joinPath(target, targetSize, relativeFolder)) {
        target[0] = 0;
        return -1;
    }
    return 0;
}
