// Where things go: the special-folder table resolved once at start-up, the
// installation folder, and the path-text operations.
#ifndef ORLO_SETUP_FOLDERS_H
#define ORLO_SETUP_FOLDERS_H

const int SPECIAL_FOLDER_SIZE = 512;

struct SpecialFolderTable {
    char programFilesFolder[SPECIAL_FOLDER_SIZE];    // CSIDL 38
    char personalFolder[SPECIAL_FOLDER_SIZE];        // CSIDL 5
    char appDataFolder[SPECIAL_FOLDER_SIZE];         // CSIDL 26
    char commonAppDataFolder[SPECIAL_FOLDER_SIZE];   // CSIDL 35
    char commonProgramsFolder[SPECIAL_FOLDER_SIZE];  // CSIDL 23
    char startupFolder[SPECIAL_FOLDER_SIZE];         // CSIDL 7, "Startup" until found
};

// Resolves the six folders once; every later call returns at once.
void resolveSpecialFolders();
// The all-users Programs folder; empty when none was found.
const char* getCommonProgramsFolder();
// The user's Startup folder.
const char* getStartupFolder();
// Read-only view of the whole table, for tests and diagnostics.
const SpecialFolderTable* getSpecialFolderTable();
// For tests only: puts the table back to its texts at load and clears the
// once flag, so that the next resolveSpecialFolders resolves again.
void resetSpecialFoldersForTests();

#ifdef _WIN32
struct InstallerState;
// Fills state->targetFolder with Program Files joined with relativeFolder:
// 0, or -1 when no Program Files folder results or the result does not fit.
int resolveTargetFolder(InstallerState* state, const char* relativeFolder);
#endif

// ---- Path texts (pure). folderSize / the text's buffer size bounds every write.

// Appends "\" unless folder ends in one, then name. 1, or 0 and folder
// unchanged when the result would not fit folderSize bytes.
int joinPath(char* folder, int folderSize, const char* name);
// Cuts to the root: D:\WINDOWS -> D:\ , \\srv\share\x -> \\srv\ . 1, or 0 unchanged.
int keepRootPrefix(char* path);
// Cuts to the drive root: D:\Program Files -> D:\ , D: -> D: , \\srv\share\x -> \\srv\ .
// 1 when rooted; otherwise the text becomes empty and the result is 0.
int keepDriveRoot(char* path);
// D:\dir\file.exe -> D:\dir ; \x -> "" ; file -> file.
void stripLastComponent(char* path);
// D:\downloads\setup.exe -> setup.exe ; D:\dir\ -> "".
void keepFileName(char* path);

#endif
