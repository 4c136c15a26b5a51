// Process entry of OrloCastSetup.exe.
#include <windows.h>

#include "app/installer_state.h"

static InstallerState installerState;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    clearInstallerState(&installerState, instance);
    return readPackageHeader(&installerState);
}
