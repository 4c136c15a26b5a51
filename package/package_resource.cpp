// The package as resource RT_RCDATA 100 of the running executable.
#include <windows.h>

#include "app/installer_state.h"
#include "package/package.h"

int readPackageHeader(InstallerState* state) {
    HRSRC found = FindResourceA(state->instance, MAKEINTRESOURCEA(PACKAGE_RESOURCE_ID), (LPCSTR)RT_RCDATA);
    if (found == 0) return -1;
    HGLOBAL loaded = LoadResource(state->instance, found);
    if (loaded == 0) return -1;
    const uint8_t* bytes = (const uint8_t*)LockResource(loaded);
    const DWORD size = SizeofResource(state->instance, found);
    int result = -1;
    if (bytes != 0 && parsePackageHeader(bytes, size, &state->packageEntries) == 0) result = 0;
    FreeResource(loaded);
    return result;
}
