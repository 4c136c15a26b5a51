// Extraction: the package's three entries verified, descrambled in place and
// written into the target folder.
#include <windows.h>

#include "package/package.h"
#include "platform/bounded_text.h"
#include "platform/platform_ops.h"
#include "setup/installer_state.h"
#include "setup/procedures.h"

namespace {

const int PATH_SIZE = 1024;
const uintptr_t PAGE_SIZE_X86 = 4096;

// Builds targetFolder\name into path. 0 when the name field holds no
// terminator or the whole path does not fit.
int buildDestinationPath(char* path, const char* targetFolder, const PackageEntry* entry) {
    char name[PACKAGE_NAME_SIZE];
    if (entryNameLength(entry) < 0) return 0;
    copyBlock(name, entry->name, PACKAGE_NAME_SIZE);
    if (!textCopy(path, PATH_SIZE, targetFolder)) return 0;
    if (path[0] == 0) return 0;
    return joinPath(path, PATH_SIZE, name);
}

// Writes one verified entry. 1 on success.
int writeEntry(const char* destination, const char* targetFolder, const uint8_t* bytes, uint32_t size) {
    char folder[PATH_SIZE];
    textCopy(folder, PATH_SIZE, destination);
    stripLastComponent(folder);
    if (!textEqual(folder, targetFolder)) createFolderChain(folder);
    return writeWholeFile(destination, bytes, size);
}

// The package's bytes are read once per process, by this extraction: once
// written, the pages that hold nothing but package bytes are handed back
// (MEM_RESET: their contents need not be kept), so that the memory that the
// descrambling made the process's own is free before the install goes on.
// Pages shared with the other resources stay. Best effort: a refusal
// changes nothing.
void releasePackagePages(uint8_t* image, DWORD size) {
    const uintptr_t first = ((uintptr_t)image + PAGE_SIZE_X86 - 1) & ~(PAGE_SIZE_X86 - 1);
    const uintptr_t end = ((uintptr_t)image + size) & ~(PAGE_SIZE_X86 - 1);
    if (end > first) VirtualAlloc((void*)first, end - first, MEM_RESET, PAGE_READWRITE);
}

}  // namespace

int extractPackage(InstallerState* state, const char* onlyName) {
    HRSRC found = FindResourceA(state->instance, MAKEINTRESOURCEA(PACKAGE_RESOURCE_ID), (LPCSTR)RT_RCDATA);
    if (found == 0) return -1;
    HGLOBAL loaded = LoadResource(state->instance, found);
    if (loaded == 0) return -1;
    uint8_t* image = (uint8_t*)LockResource(loaded);
    const DWORD size = SizeofResource(state->instance, found);
    // Resources are mapped read-only with the image. Making the pages
    // writable gives this process a private copy of just those pages
    // (copy-on-write): the regions are descrambled where they lie, without a
    // buffer the size of the package.
    DWORD oldProtection = 0;
    if (image == 0 || size == 0 || !VirtualProtect(image, size, PAGE_READWRITE, &oldProtection)) {
        FreeResource(loaded);
        return -1;
    }

    if (size > PACKAGE_HEADER_SIZE) copyBlock(&state->packageEntries, image, PACKAGE_HEADER_SIZE);

    PackageChain chain;
    startPackageChain(&chain);
    int errorCount = 0;
    for (uint32_t i = 0; i < PACKAGE_ENTRY_COUNT; i++) {
        const PackageEntry* entry = &state->packageEntries.entries[i];
        char destination[PATH_SIZE];
        const int pathFits = buildDestinationPath(destination, state->targetFolder, entry);
        const int selected = (onlyName == 0) || (pathFits && textEqual(entry->name, onlyName));

        const EntryOutcome outcome = unpackEntryInPlace(image, size, entry, &chain);
        if (outcome != ENTRY_OK) {
            errorCount++;
            continue;
        }
        // An entry whose name could leave the target folder (.., a drive, a
        // leading backslash, ...) or whose path does not fit is never written.
        if (!pathFits || !entryNameIsSafe(entry)) {
            errorCount++;
            continue;
        }
        if (!selected) continue;
        if (!writeEntry(destination, state->targetFolder, image + entry->offset, entry->size)) errorCount++;
    }

    VirtualProtect(image, size, oldProtection, &oldProtection);
    releasePackagePages(image, size);
    FreeResource(loaded);
    return errorCount ? -100 - errorCount : 0;
}
