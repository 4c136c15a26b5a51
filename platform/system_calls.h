// The platform calls that tests need to make fail, reached through one
// table so that a test can replace an entry and put it back (fault
// injection, in the manner of SQLite's os_win.c). The installer fills the
// table first thing (resetSystemCalls) and never changes it; tests call
// resetSystemCalls() before they start and when they are done.
#ifndef ORLO_PLATFORM_SYSTEM_CALLS_H
#define ORLO_PLATFORM_SYSTEM_CALLS_H

#include <windows.h>
#include <winternl.h>

struct SystemCalls {
    // Loads a system DLL by name from the system folder only, never from
    // the installer's own folder or the current folder.
    HMODULE(WINAPI* loadSystemLibrary)(LPCSTR name);
    FARPROC(WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL(WINAPI* freeLibrary)(HMODULE module);
    UINT(WINAPI* getWindowsDirectory)(LPSTR buffer, UINT size);
    DWORD(WINAPI* getCurrentDirectory)(DWORD size, LPSTR buffer);
    BOOL(WINAPI* createDirectory)(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);
    // NtCreateFile: every open relative to a held folder.
    NTSTATUS(NTAPI* createFile)
    (PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK io, PLARGE_INTEGER size,
     ULONG fileAttributes, ULONG share, ULONG disposition, ULONG options, PVOID extended, ULONG extendedLength);
    // Marks an open file or folder for deletion as its last handle closes.
    BOOL(WINAPI* markForDeletion)(HANDLE handle);
    LONG(WINAPI* regDeleteKey)(HKEY root, LPCSTR path);
    HANDLE(WINAPI* createThread)
    (LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
     LPDWORD threadId);
};

extern SystemCalls systemCalls;

// Puts every entry to the real platform call.
void resetSystemCalls();

// The default markForDeletion: NtSetInformationFile with
// FileDispositionInformation (every Windows NT has it; the documented
// SetFileInformationByHandle came only with Windows Vista). It deletes
// exactly the object the handle holds, wherever its name now leads; a
// folder that is not empty is refused. Every deletion of the installer
// goes through it.
BOOL WINAPI markHandleForDeletion(HANDLE handle);

// The default loadSystemLibrary: the system folder joined with name.
HMODULE WINAPI loadLibraryFromSystemFolder(LPCSTR name);

#endif
