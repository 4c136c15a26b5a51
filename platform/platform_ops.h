// Platform helpers: the small stateless operations through which the
// procedures reach files, the registry, shell links and system facts.
// Results are 1 for success and 0 for failure unless stated otherwise.
// Every call is the ANSI variant; every path is an ANSI text.
#ifndef ORLO_PLATFORM_PLATFORM_OPS_H
#define ORLO_PLATFORM_PLATFORM_OPS_H

#include <windows.h>

#include "platform/os_class.h"

// ---- Files and folders -----------------------------------------------------

// Creates every folder of path below its root (drive or \\server\share).
// 1 when all exist afterwards or there was nothing to create; 0 when the
// path is absent, shorter than 5 characters, 1024 bytes or longer, or a
// level can neither be created nor already exists.
int createFolderChain(const char* path);

// Deletes the folder with its files and subfolders as far as it can, then
// the folder itself. Never enters a folder whose name begins with a dot, a
// junction or symbolic link (left in place, never its target), nor an entry
// whose listed name is not a plain name (a best-fit "\" or ".."); each of
// these stops the work on its folder like a file that cannot be deleted,
// and so does a subfolder that survives. Every folder from below the root
// of path down to the one being worked in is held open without sharing
// deletion, so that none can be renamed or replaced by a link meanwhile;
// folders are deleted through their handles. Nothing is done when path is
// not rooted or any folder of it is a link. Always 1.
int deleteFolderTree(const char* path);

// Deletes folder\name (name may hold subfolders, each a plain name) with
// every folder of the way held open as above. 0 when folder is empty or not
// rooted, a folder on the way is missing or a link, or the file cannot be
// deleted.
int deleteFileInFolder(const char* folder, const char* name);

// 1 when path is a folder that is a junction or symbolic link.
int isFolderLink(const char* path);

// Creates or truncates the file and writes count bytes in one call.
// 1 only when every byte was written.
int writeWholeFile(const char* path, const void* bytes, DWORD count);

// 1 when the file can be opened for reading with others reading too.
int fileExists(const char* path);

// Copies the running program (the process's executable) into folder as the
// installer's copy, replacing a file of that name, and clears the copy's
// attributes; copyPath (copyPathSize bytes) receives the copy's path.
// modulePath is the program's ANSI path. When it does not name the program
// exactly (the ANSI code page cannot spell a character of its folder, and
// the ANSI path then holds "?" or a look-alike), the program is read through
// its UTF-16 path instead, and the copy keeps the program's file name if
// the code page can spell it, else "OrloCastSetup.exe". 1 when a file of
// copyPath's name exists afterwards (also when the program already lies
// there and cannot copy itself onto itself); 0 otherwise, copyPath empty
// when no path could be formed.
int copyRunningProgram(const char* modulePath, const char* folder, char* copyPath, int copyPathSize);

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

// Creates folder\name.LNK pointing at target (COM must be initialised on the
// calling thread). arguments may be null. Returns S_OK or the first failing
// status of CoCreateInstance, QueryInterface or IPersistFile::Save; a
// shortcut path of 2048 bytes or more gives
// HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE) and nothing is made.
HRESULT createShortcut(const char* target, const char* folder, const char* name, const char* arguments);

// Deletes folder\name.LNK. Non-zero when the file was deleted.
int deleteShortcut(const char* folder, const char* name);

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
