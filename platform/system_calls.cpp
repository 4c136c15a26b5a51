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

BOOL WINAPI markHandleForDeletion(HANDLE handle) {
    typedef LONG(WINAPI * SetInformationFile)(HANDLE, void* ioStatus, void* information, ULONG length, int infoClass);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const SetInformationFile setInformation =
        ntdll ? (SetInformationFile)(void*)GetProcAddress(ntdll, "NtSetInformationFile") : 0;
    if (!setInformation) return FALSE;
    struct {
        LONG status;
        ULONG_PTR information;
    } ioStatus;
    BOOLEAN deleteFile = TRUE;  // FILE_DISPOSITION_INFORMATION
    const int FILE_DISPOSITION_INFORMATION_CLASS = 13;
    // An NTSTATUS below zero is an error (STATUS_DIRECTORY_NOT_EMPTY, STATUS_CANNOT_DELETE, ...).
    return setInformation(handle, &ioStatus, &deleteFile, sizeof deleteFile, FILE_DISPOSITION_INFORMATION_CLASS) >= 0;
}

SystemCalls systemCalls = {
    loadLibraryFromSystemFolder,
    GetProcAddress,
    FreeLibrary,
    GetWindowsDirectoryA,
    GetCurrentDirectoryA,
    CreateDirectoryA,
    DeleteFileA,
    markHandleForDeletion,
    RegDeleteKeyA,
    CreateThread,
};

void resetSystemCalls() {
    systemCalls.loadSystemLibrary = loadLibraryFromSystemFolder;
    systemCalls.getProcAddress = GetProcAddress;
    systemCalls.freeLibrary = FreeLibrary;
    systemCalls.getWindowsDirectory = GetWindowsDirectoryA;
    systemCalls.getCurrentDirectory = GetCurrentDirectoryA;
    systemCalls.createDirectory = CreateDirectoryA;
    systemCalls.deleteFile = DeleteFileA;
    systemCalls.markForDeletion = markHandleForDeletion;
    systemCalls.regDeleteKey = RegDeleteKeyA;
    systemCalls.createThread = CreateThread;
}
