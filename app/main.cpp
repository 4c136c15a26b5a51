// Process entry of OrloCastSetup.exe: switches, the single-instance lock,
// running copies of the product told to close, then the window and its
// message loop. The quit message's value is the exit code.
#include <windows.h>

#include "app/main_window.h"
#include "app/startup.h"
#include "platform/bounded_text.h"
#include "platform/platform_ops.h"
#include "platform/system_calls.h"
#include "setup/folders.h"
#include "setup/installer_state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    // First of all, before anyone can swap another file in at the program's
    // path: from here on no one can rename or replace the program's file.
    const HANDLE programFile = holdRunningProgramFile();
    resetSystemCalls();
    restrictDllSearch();
    useAnsiCodePage();
    parseSwitches(commandLine);

    HANDLE mutex = CreateMutexA(0, TRUE, INSTALLER_MUTEX_NAME);
    if (mutex == 0) return -1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return -1;
    }

    closeRunningProduct(PRODUCT_WINDOW_TITLE);
    clearInstallerState(&installerState, instance);
    installerState.programFile = programFile;

    char title[128];
    // ORLO_VERSION_TEXT: the build's version, the one its version block holds.
    textFormat(title, sizeof title, "Fenmarch %s Installation (Version %s)", "Orlo-Cast", ORLO_VERSION_TEXT);

    // The window first (shown and painted unless hidden), then the special
    // folders: its first picture does not need them, and resolving them loads
    // SHELL32.DLL. Whatever uses them runs from the message loop, the
    // unattended run too (WM_CREATE posts it). COM is started where it is
    // used: by the first link the window opens, and by the install procedure
    // for the shortcuts.
    const HWND window = createMainWindow(instance, title);
    resolveSpecialFolders();
    int exitCode = -1;
    // Without a window nothing could ever post the quit message: end at
    // once, like the other start-up failures.
    if (window != 0) {
        MSG message;
        while (GetMessageA(&message, 0, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        exitCode = (int)message.wParam;
    }

    ReleaseMutex(mutex);
    CloseHandle(mutex);
    if (installerState.comStarted && SUCCEEDED(installerState.comResult)) uninitializeCom();
    return exitCode;
}
