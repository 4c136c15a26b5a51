// Platform helpers: the small stateless operations through which the
// procedures reach files, the registry, shell links and system facts.
// Results are 1 for success and 0 for failure unless stated otherwise.
// Every call is the ANSI variant; every path is an ANSI text.
#ifndef ORLO_PLATFORM_PLATFORM_OPS_H
#define ORLO_PLATFORM_PLATFORM_OPS_H

#include <windows.h>
#include <objbase.h>

#include "platform/os_class.h"

// ---- Files and folders -----------------------------------------------------

// Creates every folder of path below its root (drive or \\server\share).
// 1 when all exist afterwards or there was nothing to create; 0 when the
// path is absent, shorter than 5 characters, 1024 bytes or longer, or a
// level can neither be created nor already exists.
int createFolderChain(const char* path);

// Who a folder's path comes from, and so how far it may lead through links.
// The user's own folders (the per-user Programs folder, Startup) are opened
// level by level from the root, each as itself: a junction, symbolic link or
// mount point anywhere below the root refuses the folder. The machine's
// (Program Files, the all-users Programs folder) are reached as the platform
// resolves them, through whatever links and mounted volumes their owner
// made, down to the product's own folder, the last level, which must be a
// real folder itself.
enum FolderOwner { USER_FOLDER = 0, MACHINE_FOLDER = 1 };
const int HOLD_CREATE = 1;        // missing levels are made
const int HOLD_FOR_DELETION = 2;  // the handle may delete the folder itself

// Opens path's folder as described by owner and holds it: no other program
// can rename or delete it while the handle is open, and everything done in
// it goes through the handle. Levels are opened relative to their parent's
// handle and used only when the handle holds the folder that the parent's
// listing names. 0 when path is not rooted, has no level below its root, or
// a level is a link (where owner forbids it), not a folder, or cannot be
// opened or made.
HANDLE holdFolder(const char* path, int owner, int flags);

// Deletes the folder with its files and subfolders as far as it can, then
// the folder itself, walking from the folder held as holdFolder holds it.
// Each entry is opened relative to its folder's handle as itself and
// deleted through that handle; a link or junction is deleted as the link,
// never entered. A folder whose name begins with a dot is never entered.
// An entry that cannot be opened as what the listing named, or cannot be
// deleted, stops the work on its folder, and so does a subfolder that
// survives. Cost grows with the number of entries. Always 1.
int deleteFolderTree(const char* path, int owner);

// Deletes folder\name (name may hold subfolders, each a real folder) as the
// walk does. 0 when the folder cannot be held, a level is missing or a
// link, or the file cannot be deleted.
int deleteFileInFolder(const char* folder, int owner, const char* name);

// A new, empty file in the held folder under a passing name of its own, open
// for reading and writing. 0 when none could be made.
HANDLE createNewFileIn(HANDLE folder);

// Renames a file made by createNewFileIn to name in folder, replacing a
// file of that name (a link or hard link there is replaced, never written
// through), and closes it. A null name, or a failed rename, deletes the new
// file instead. 1 when it was renamed.
int placeNewFile(HANDLE file, HANDLE folder, const char* name);

// Writes count bytes as the file name of the held folder: a new file,
// renamed into place. 1 on success.
int writeFileInFolder(HANDLE folder, const char* name, const void* bytes, DWORD count);

// Copies every byte of from, read from its start, to the end of to.
int copyFileContents(HANDLE from, HANDLE to);

// Creates or truncates the file and writes count bytes in one call.
// 1 only when every byte was written.
int writeWholeFile(const char* path, const void* bytes, DWORD count);

// 1 when the file can be opened for reading with others reading too.
int fileExists(const char* path);

// The running program's own file (its UTF-16 module path), open for reading
// with sharing that lets no one write, rename or delete it for as long as
// the handle is open; 0 when it cannot be opened.
HANDLE holdRunningProgramFile();

// The running program's file name as an ANSI name that the code page spells
// exactly, else "OrloCastSetup.exe".
void runningProgramName(char* name, int nameSize);

// 1 when path names the very file that file holds.
int pathNamesFile(const char* path, HANDLE file);

// ---- Registry --------------------------------------------------------------

// REG_SZ value under HKEY_LOCAL_MACHINE; the key is created when missing.
int writeMachineString(const char* keyPath, const char* valueName, const char* text);

// REG_DWORD value under HKEY_CURRENT_USER; the key is created when missing.
int writeUserDword(const char* keyPath, const char* valueName, DWORD value);

// Reads a REG_SZ value (never REG_EXPAND_SZ) of at most 4096 bytes from
// HKEY_CURRENT_USER into destination, which has destinationSize bytes.
// 1: destination holds the terminated text; 0: missing, wrong type, too
// large, or the text does not fit destinationSize (destination untouched).
int readUserString(const char* keyPath, const char* valueName, char* destination, int destinationSize);

// Deletes the key with all its subkeys, deepest first. 1 when everything
// was deleted; 0 when the key could not be opened or something survived.
// Never loops on a subkey that survives.
int deleteKeyTree(HKEY root, const char* keyPath);

// ---- Shell shortcuts -------------------------------------------------------

// Creates name.LNK in the held folder, pointing at target (COM must be
// initialised on the calling thread): the link is saved to memory and
// written as a new file renamed into place (writeFileInFolder). arguments
// may be null. Returns S_OK or the first failing status of CoCreateInstance,
// QueryInterface or IPersistStream::Save, or
// HRESULT_FROM_WIN32(ERROR_WRITE_FAULT) when the file could not be placed.
HRESULT createShortcut(const char* target, HANDLE folder, const char* name, const char* arguments);

// Deletes folder\name.LNK (deleteFileInFolder). Non-zero when it was deleted.
int deleteShortcut(const char* folder, int owner, const char* name);

// ---- COM and the shell, loaded when first used -------------------------------

// OLE32.DLL and SHELL32.DLL are not imported: each is loaded from the system
// folder (systemCalls.loadSystemLibrary) by the first call that needs it.
// Where the library or its function cannot be found, the call answers as
// failed (E_FAIL; openWithShell does nothing) and the next call tries again.

// CoInitialize(0) for the calling thread; S_OK, S_FALSE or a failure.
HRESULT initializeCom();
// CoUninitialize for the calling thread.
void uninitializeCom();
// CoCreateInstance of an in-process server; *object is 0 on failure.
HRESULT createComObject(REFCLSID type, REFIID interfaceId, void** object);
// CreateStreamOnHGlobal: a stream over memory of its own, freed with it.
HRESULT createMemoryStream(IStream** stream);
// GetHGlobalFromStream: the memory of a stream made by createMemoryStream.
HRESULT memoryOfStream(IStream* stream, HGLOBAL* memory);
// ShellExecuteA with the verb "open", shown normally; the result is not known.
void openWithShell(HWND owner, const char* file);

// ---- System probes ---------------------------------------------------------

// Gives the bounded text operations the lead bytes of the process's ANSI
// code page, so that path texts are searched by characters. Called first
// thing at start-up, before any other thread exists.
void useAnsiCodePage();

// OS class code of the running Windows (see os_class.h), -1 when unknown.
int classifyOs();

// Frame metrics in pixels, each delivered only where a place is given.
// Bit 0 of frameFlags set: fixed frame, else sizing frame.
void getFrameMetrics(int* borderWidth, int* captionHeight, int* menuHeight, DWORD frameFlags);

#endif
