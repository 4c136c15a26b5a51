/* A DLL planted beside a program under the name of a system DLL
   (shfolder.dll). When any process loads it, it appends that process's id
   to the file named by ORLO_PLANT_MARKER, and it exports the function the
   installer would look up, which always fails. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char marker[MAX_PATH];
        const DWORD length = GetEnvironmentVariableA("ORLO_PLANT_MARKER", marker, sizeof marker);
        if (length > 0 && length < sizeof marker) {
            HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, 0);
            if (file != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                WriteFile(file, "loaded\n", 7, &written, 0);
                CloseHandle(file);
            }
        }
    }
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI SHGetFolderPathA(HWND owner, int csidl, HANDLE token, DWORD flags, LPSTR path) {
    (void)owner;
    (void)csidl;
    (void)token;
    (void)flags;
    if (path) path[0] = 0;
    return E_FAIL;
}
