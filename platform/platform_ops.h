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
// the folder itself. Never enters a folder whose name begins with a dot, nor
// a junction or symbolic link (the link itself is removed, never its
// target). Stops work on a folder at the first entry that survives, a
// subfolder that survives its removal included; the removal of every folder
// above it is still attempted. Always 1.
int deleteFolderTree(const char* path);

// 1 when path is a folder that is a junction or symbolic link.
int isFolderLink(const char* path);

// Creates or truncates the file and writes count bytes in one call.
// 1 only when every byte was written.
int writeWholeFile(const char* path, const void* bytes, DWORD count);

// 1 when the file can be opened for reading with others reading too.
int fileExists(const char* path);

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

// OS class code of the running Windows (see os_class.h), -1 when unknown.
int classifyOs();

// Frame metrics in pixels, each delivered only where a place is given.
// Bit 0 of frameFlags set: fixed frame, else sizing frame.
void getFrameMetrics(int* borderWidth, int* captionHeight, int* menuHeight, DWORD frameFlags);

#endif
