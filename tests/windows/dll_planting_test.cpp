// A DLL planted beside the installer under the name of a system DLL is
// never loaded. The planted shfolder.dll writes a marker when loaded; Wine
// is told to prefer a native DLL of that name (WINEDLLOVERRIDES
// shfolder=n,b, set by the test run), as Windows would take one found
// beside the program. The control case, a load by bare name, shows that
// the planted DLL is found and the marker written when the search is open.
//
// A copy of this executable beside the planted DLL is the program:
//   --plant startup          restrictDllSearch(), then resolveSpecialFolders()
//                            with SHGetSpecialFolderPathA missing, so that
//                            SHFOLDER.DLL is needed; 0 when SHGetFolderPathA
//                            found the all-users Programs folder
//   --plant bare             LoadLibraryA("SHFOLDER.DLL") by bare name
//   --plant restricted-bare  restrictDllSearch(), then the bare load
#include <gtest/gtest.h>

#include "app/startup.h"
#include "platform/system_calls.h"
#include "tests/support/win32_test.h"

using namespace orlotest;

namespace {

FARPROC WINAPI withoutSpecialFolderPath(HMODULE module, LPCSTR name) {
    return lstrcmpA(name, "SHGetSpecialFolderPathA") == 0 ? 0 : GetProcAddress(module, name);
}

TEST(DllPlanting, PlantedShfolderIsLoadedOnlyWhenTheSearchIsOpen) {
    ScratchFolder scratch("planting");
    const std::string program = scratch / "program.exe", marker = scratch / "loaded.txt";
    ASSERT_WIN32(CopyFileA((moduleFolder() + "dll_planting_test.exe").c_str(), program.c_str(), FALSE));
    ASSERT_WIN32(
        CopyFileA((moduleFolder() + "planting\\shfolder.dll").c_str(), (scratch / "shfolder.dll").c_str(), FALSE));
    SetEnvironmentVariableA("ORLO_PLANT_MARKER", marker.c_str());
    auto loadedWith = [&](const char* mode) {
        EXPECT_EQ(0u, runProgram(wide(program), wide(std::string("--plant ") + mode))) << mode;
        return DeleteFileA(marker.c_str()) != 0;
    };
    // Control: a load by bare name with the default search finds the DLL
    // beside the program. Without this the other cases would prove nothing.
    ASSERT_TRUE(loadedWith("bare")) << "the planted DLL is not found even by a bare-name load: no planting to show";
    EXPECT_FALSE(loadedWith("startup")) << "the installer's folder resolution loaded the planted shfolder.dll";
    EXPECT_FALSE(loadedWith("restricted-bare")) << "restrictDllSearch did not take the program's folder out";
    SetEnvironmentVariableA("ORLO_PLANT_MARKER", 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--plant") {
        const std::string mode = argv[2];
        if (mode != "bare") restrictDllSearch();
        if (mode != "startup") return LoadLibraryA("SHFOLDER.DLL") != 0 ? 0 : 1;
        systemCalls.getProcAddress = withoutSpecialFolderPath;
        resolveSpecialFolders();
        return getCommonProgramsFolder()[0] != 0 ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
