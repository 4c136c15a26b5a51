#include "platform/system_calls.h"

#include "platform/bounded_text.h"

HMODULE WINAPI loadLibraryFromSystemFolder(LPCSTR name) {
    char path[MAX_PATH + 64];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    // A result of 0 is failure; one of MAX_PATH or more is the size it needs.
    if (length == 0 || length >= MAX_PATH) return 0;
    if (textFindLastChar(path, '\\') != (int)length - 1 && !textAppend(path, sizeof path, "\\")) return 0;
    if (!textAppend(path, sizeof path, name)) return 0;
    return LoadLibraryA(path);
}

// Filled by resetSystemCalls when the process starts: a table of zeros
// costs no bytes in the file.
SystemCalls systemCalls;

void resetSystemCalls() {
    systemCalls.loadSystemLibrary = loadLibraryFromSystemFolder;
    systemCalls.getProcAddress = GetProcAddress;
    systemCalls.freeLibrary = FreeLibrary;
    systemCalls.getWindowsDirectory = GetWindowsDirectoryA;
    systemCalls.getCurrentDirectory = GetCurrentDirectoryA;
    systemCalls.createDirectory = CreateDirectoryA;
    systemCalls.createFile = NtCreateFile;
    systemCalls.markForDeletion = markHandleForDeletion;
    systemCalls.regDeleteKey = RegDeleteKeyA;
    systemCalls.createThread = CreateThread;
}
