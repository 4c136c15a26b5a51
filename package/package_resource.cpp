// The package as resource RT_RCDATA 100 of the running executable.
#include <windows.h>

#include "package/package.h"

int readPackageHeader(void* module, PackageHeader* header) {
    const HMODULE instance = (HMODULE)module;
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(PACKAGE_RESOURCE_ID), (LPCSTR)RT_RCDATA);
    if (found == 0) return -1;
    HGLOBAL loaded = LoadResource(instance, found);
    if (loaded == 0) return -1;
    const uint8_t* bytes = (const uint8_t*)LockResource(loaded);
    const DWORD size = SizeofResource(instance, found);
    int result = -1;
    if (bytes != 0 && parsePackageHeader(bytes, size, header) == 0) result = 0;
    FreeResource(loaded);
    return result;
}

namespace {

int readFileAt(void* file, uint32_t offset, void* buffer, uint32_t count) {
    DWORD got = 0;
    return SetFilePointer(file, (LONG)offset, 0, FILE_BEGIN) == offset && ReadFile(file, buffer, count, &got, 0) &&
           got == count;
}

}  // namespace

int fileHoldsRunningImage(void* file) {
    const uint8_t* image = (const uint8_t*)GetModuleHandleA(0);
    return file != 0 && imageMatchesFile(image, (uint32_t)(uintptr_t)image, readFileAt, file);
}
