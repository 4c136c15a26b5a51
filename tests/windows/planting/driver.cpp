// Runs the installer's start-up path for DLLs in a process of its own, so
// that a test can plant a DLL beside it:
//   planting_driver startup   restrictDllSearch(), then resolveSpecialFolders()
//                             with SHGetSpecialFolderPathA made to be missing,
//                             so that SHFOLDER.DLL is needed. Exit code: 0
//                             when SHGetFolderPathA was asked and the
//                             all-users Programs folder was found, else 1.
//   planting_driver bare      LoadLibraryA("SHFOLDER.DLL") by bare name,
//                             without restricting the search: the control
//                             case, which a planted DLL must catch.
//   planting_driver restricted-bare  restrictDllSearch(), then the bare load.
#include <windows.h>
#include <string.h>

#include "app/startup.h"
#include "platform/system_calls.h"
#include "setup/folders.h"

namespace {

int askedSecondLibrary = 0;

FARPROC WINAPI withoutSpecialFolderPath(HMODULE module, LPCSTR name) {
    if (strcmp(name, "SHGetSpecialFolderPathA") == 0) return 0;
    if (strcmp(name, "SHGetFolderPathA") == 0) askedSecondLibrary = 1;
    return GetProcAddress(module, name);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    if (strcmp(argv[1], "startup") == 0) {
        restrictDllSearch();
        systemCalls.getProcAddress = withoutSpecialFolderPath;
        resolveSpecialFolders();
        return askedSecondLibrary && getCommonProgramsFolder()[0] != 0 ? 0 : 1;
    }
    if (strcmp(argv[1], "restricted-bare") == 0)
        restrictDllSearch();
    else if (strcmp(argv[1], "bare") != 0)
        return 2;
    HMODULE library = LoadLibraryA("SHFOLDER.DLL");
    return library != 0 ? 0 : 1;
}
