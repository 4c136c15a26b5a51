#include "app/startup.h"

#include <windows.h>

#include "app/switches.h"
#include "platform/bounded_text.h"
#include "setup/installer_state.h"

void restrictDllSearch() {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (kernel == 0) return;
    // Windows 8 and later, and Windows 7 / Vista with KB2533623.
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    SetDefaultDllDirectoriesFn setDefault =
        (SetDefaultDllDirectoriesFn)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
    const DWORD LOAD_LIBRARY_SEARCH_SYSTEM32_FLAG = 0x00000800;
    if (setDefault != 0 && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32_FLAG)) return;
    // Windows XP SP1 and later: at least take the current folder out.
    typedef BOOL(WINAPI * SetDllDirectoryAFn)(LPCSTR);
    SetDllDirectoryAFn setDllDirectory = (SetDllDirectoryAFn)(void*)GetProcAddress(kernel, "SetDllDirectoryA");
    if (setDllDirectory != 0) setDllDirectory("");
}

void parseSwitches(const char* commandLine) { scanSwitches(commandLine, &hiddenMode, &autoInstall, &autoUninstall); }

namespace {

BOOL CALLBACK closeIfProduct(HWND window, LPARAM title) {
    char text[512];
    text[0] = 0;
    GetWindowTextA(window, text, sizeof text);
    text[sizeof text - 1] = 0;
    if (textEqual(text, (const char*)title)) PostMessageA(window, WM_DESTROY, 0, 0);
    return TRUE;
}

}  // namespace

void closeRunningProduct(const char* title) { EnumWindows(closeIfProduct, (LPARAM)title); }
