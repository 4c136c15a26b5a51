/* A DLL planted beside a program under the name of a system DLL
   (shfolder.dll). Loaded by any process, it appends a line to the file that
   ORLO_PLANT_MARKER names; the function the installer would look up fails. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    char marker[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("ORLO_PLANT_MARKER", marker, sizeof marker);
    (void)instance, (void)reserved;
    if (reason == DLL_PROCESS_ATTACH && length > 0 && length < sizeof marker) {
        HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_ALWAYS, 0, 0);
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE) WriteFile(file, "loaded\n", 7, &written, 0), CloseHandle(file);
    }
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI SHGetFolderPathA(HWND owner, int csidl, HANDLE token, DWORD flags, LPSTR path) {
    (void)owner, (void)csidl, (void)token, (void)flags;
    if (path) path[0] = 0;
    return E_FAIL;
}
