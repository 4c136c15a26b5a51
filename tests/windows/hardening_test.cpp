// The elevated procedures against what an ordinary user can do: listed names
// that become paths, folders swapped for links mid-walk, disguised device
// names, unspellable and double-byte folders, planted DLLs. Snapshots prove
// that nothing outside the product's places changed. Run with --rename FROM
// TO, this executable is the attacker, a second process held to sharing modes.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>

#include "app/startup.h"
#include "platform/platform_ops.h"
#include "tests/support/win32_test.h"

using namespace orlotest;

namespace {

const std::string INSTALLER = hostPathToWine(ORLO_INSTALLER_EXE);

// A folder or file for a victim outside the temp folder, so that the
// snapshots see it, removed when the object goes.
struct Victim {
    std::string path;
    explicit Victim(const std::string& name, bool folder) : path("C:\\" + name) {
        removeTree(path);
        DeleteFileA(path.c_str());
        if (!folder) {
            writeFileBytes(path, "victim");
            return;
        }
        CreateDirectoryA(path.c_str(), 0);
        CreateDirectoryA((path + "\\inner").c_str(), 0);
        writeFileBytes(path + "\\a.txt", "victim");
        writeFileBytes(path + "\\inner\\b.txt", "victim");
    }
    ~Victim() { removeTree(path), DeleteFileA(path.c_str()); }
    // Every file is there with its bytes.
    bool intact() const {
        if (!(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)) return readWholeFile(path) == "victim";
        return readWholeFile(path + "\\a.txt") == "victim" && readWholeFile(path + "\\inner\\b.txt") == "victim";
    }
};

class Hardening : public ProductTest {};

// Names with U+FF3C, U+2215 and U+FF0F, which the ANSI listing gives back
// as "\" and "/", climb out of the Start-menu folder to the drive's root.
TEST_F(Hardening, ListedNamesThatLeadElsewhereAreNotFollowed) {
    ASSERT_EQ(0, install());
    const Victim file("orlo-victim.txt", false), folder("orlo-precious", true);
    const std::string menu = places_.userMenu + "\\Orlo-Cast";
    // clang-format off
    struct Planted {
        wchar_t separator;
        const wchar_t* victim;
        bool isFolder;
    } planted[] = {{0xFF3C, L"orlo-victim.txt", false}, {0xFF3C, L"orlo-precious", true},
                   {0x2215, L"orlo-victim.txt", false}, {0xFF0F, L"orlo-precious", true}};
    // clang-format on
    for (const Planted& p : planted) {
        std::wstring name = L"a";
        for (int i = 0; i < 15; i++) name += std::wstring(1, p.separator) + L"..";
        name += std::wstring(1, p.separator) + p.victim;
        const std::wstring path = wide(menu) + L"\\" + name;
        if (p.isFolder)
            ASSERT_WIN32(CreateDirectoryW(path.c_str(), 0));
        else
            CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_NEW, 0, 0));
    }
    const Snapshot before = takeSnapshot();
    EXPECT_EQ(0, uninstall());
    EXPECT_TRUE(file.intact());
    EXPECT_TRUE(folder.intact());
    EXPECT_EQ("", outsideTheProduct(before, takeSnapshot()));
    EXPECT_TRUE(pathExists(menu)) << "the planted entries cannot go, so their folder stays";
    EXPECT_FALSE(pathExists(menu + "\\OrloCast.LNK"));
}

// The walk of a tree of a thousand files, attacked after its first deletion.
std::function<void()> onFirstDelete;
BOOL WINAPI deleteThenAttack(LPCSTR path) {
    const BOOL deleted = DeleteFileA(path);
    if (onFirstDelete) {
        std::function<void()> attack = onFirstDelete;
        onFirstDelete = nullptr;
        attack();
    }
    return deleted;
}

// The attacker's MoveFileA from another process: 0, or its error.
DWORD renameFromOutside(const std::string& from, const std::string& to) {
    return runProgram(wide(moduleFolder() + "hardening_test.exe"), wide("--rename \"" + from + "\" \"" + to + "\""));
}

TEST_F(Hardening, AFolderBeingWalkedCannotBeSwappedForALink) {
    ScratchFolder scratch("walk");
    const Victim victim("orlo-walk-victim", true);
    const std::string tree = scratch / "T", walked = tree + "\\sub";
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round == 0 ? "a Windows process renames" : "a Unix process renames");
        CreateDirectoryA(tree.c_str(), 0);
        CreateDirectoryA(walked.c_str(), 0);
        for (int i = 0; i < 1000; i++) writeFileBytes(walked + "\\file" + std::to_string(i) + ".txt", "x");
        // Control: with nothing held, the attacker's rename works.
        ASSERT_EQ(0u, renameFromOutside(walked, walked + "-moved"));
        ASSERT_WIN32(MoveFileA((walked + "-moved").c_str(), walked.c_str()));

        UnixLinks links;
        std::string observed;
        onFirstDelete = [&] {
            if (round == 0) {
                for (const std::string& folder : {walked, tree, scratch.path()}) {
                    const DWORD error = renameFromOutside(folder, folder + "-moved");
                    observed += fileNameOf(folder) + ": " +
                                (error ? "refused, GLE " + std::to_string(error) : "renamed") + "; ";
                    if (!error && folder == walked) links.plant(walked, victim.path);
                }
            } else {
                ASSERT_TRUE(runUnixScript("mv '" + unixPathOf(walked) + "' '" + unixPathOf(walked) + "-moved'"));
                ASSERT_TRUE(links.plant(walked, victim.path));
                observed = "swapped by a Unix process";
            }
        };
        systemCalls.deleteFile = deleteThenAttack;
        const Snapshot before = takeSnapshot();
        EXPECT_EQ(1, deleteFolderTree(tree.c_str()));
        resetSystemCalls();
        std::cout << "[   NOTE   ] " << observed << "\n";
        EXPECT_TRUE(victim.intact()) << observed;
        EXPECT_EQ("(nothing)\n", changes(before, takeSnapshot()));
        if (round == 0) EXPECT_EQ(std::string::npos, observed.find("renamed")) << observed;
        if (round == 0) EXPECT_FALSE(pathExists(tree)) << "the walk did not finish";
        removeTree(walked + "-moved");
    }
}

// Names that Windows opens as devices, and every other name that would
// leave the installation folder: the install fails with -10 and writes
// nothing outside it.
TEST_F(Hardening, HostilePackageNamesAreNeverWritten) {
    const std::string outside = "orlo-hostile-" + std::to_string(GetCurrentProcessId()) + ".txt";
    const std::string names[] = {"docs\\..\\..\\..\\" + outside,
                                 "C:\\" + outside,
                                 "C:" + outside,
                                 "readme.txt:" + outside,
                                 "\\" + outside,
                                 "../" + outside,
                                 "NUL .txt",
                                 "COM1 .log",
                                 "AUX  .x",
                                 "a\\NUL .txt",
                                 "COM\xB9",
                                 "CONOUT$"};
    const Snapshot before = takeSnapshot();
    for (const std::string& name : names) {
        std::vector<uint8_t> package = buildTestPackage(sampleFiles());
        setEntryName(package, 1, name);
        EXPECT_EQ(-10, install(package)) << name;
        EXPECT_EQ("F", commands_.drain()) << name;
        const Snapshot after = takeSnapshot();
        EXPECT_EQ("", outsideTheProduct(before, after)) << name;
        EXPECT_EQ(std::string::npos, changes(before, after).find("- ")) << name << ": something went";
        EXPECT_EQ(std::string::npos, changes(before, after).find("menu")) << name;
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY)) << name;
        removeProductTraces();
    }
}

// The real installer started from a folder whose name, and then also its
// own file name, the ANSI code page cannot spell (U+0915 is in neither
// 1252 nor 932), then removed through its uninstall entry's command.
TEST_F(Hardening, InstallFromAFolderTheCodePageCannotSpell) {
    ScratchFolder scratch("unspellable");
    const std::wstring folder = wide(scratch.path()) + L"\\dl\x0915";
    ASSERT_WIN32(CreateDirectoryW(folder.c_str(), 0));
    // clang-format off
    const std::pair<std::wstring, std::string> runs[] = {{L"OrloCastSetup-1.exe", "OrloCastSetup-1.exe"},
                                                         {L"setup\x0915.exe", "OrloCastSetup.exe"}};
    // clang-format on
    for (const auto& run : runs) {
        const std::wstring program = folder + L"\\" + run.first;
        ASSERT_WIN32(CopyFileW(wide(INSTALLER).c_str(), program.c_str(), FALSE));
        const Snapshot before = takeSnapshot();
        EXPECT_EQ(0u, runProgram(program, L"-h -i"));
        const std::string copy = places_.target + "\\" + run.second;
        EXPECT_EQ(readWholeFile(INSTALLER), readWholeFile(copy)) << "the copy is the running installer";
        EXPECT_EQ("\"" + copy + "\"", valueOf(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallString"));

        EXPECT_EQ(0u, runProgram(wide(copy), L"-h -u"));
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
        EXPECT_FALSE(pathExists(places_.target + "\\Orlocast.exe"));
        EXPECT_EQ("", outsideTheProduct(before, takeSnapshot()));
        removeProductTraces();
    }
}

// The installation folder, and the per-user Start-menu folder, swapped for
// links to folders elsewhere: nothing there is deleted, by name or by the
// walk.
TEST_F(Hardening, FoldersThatAreLinksAreNotDeletedFrom) {
    ASSERT_EQ(0, install());
    const Victim installed("orlo-linked-target", true), menu("orlo-linked-menu", true);
    removeTree(installed.path);
    ASSERT_WIN32(MoveFileA(places_.target.c_str(), installed.path.c_str()));
    removeTree(places_.userMenu + "\\Orlo-Cast");
    writeFileBytes(menu.path + "\\Readme.LNK", "victim");
    UnixLinks links;
    ASSERT_TRUE(links.plant(places_.target, installed.path));
    ASSERT_TRUE(links.plant(places_.userMenu + "\\Orlo-Cast", menu.path));
    const Snapshot before = takeSnapshot();
    EXPECT_EQ(0, uninstall());
    for (const char* name : {"Orlocast.exe", "readme.txt", "OrloCastOnTheShow.pdf"})
        EXPECT_TRUE(pathExists(installed.path + "\\" + name)) << name;
    EXPECT_TRUE(menu.intact());
    EXPECT_EQ("victim", readWholeFile(menu.path + "\\Readme.LNK"));
    EXPECT_EQ("", outsideTheProduct(before, takeSnapshot()));
}

// Under code page 932 "ソ" and "表" end in the byte of a backslash. The
// installer runs from "ソフト\表", and such folders in the Start menu are
// removed like any other.
TEST_F(Hardening, DoubleByteNamesAreJoinedCutAndRemoved) {
    if (GetACP() != 932) GTEST_SKIP() << "needs the ANSI code page 932 (the cp932 run)";
    ScratchFolder scratch("dbcs");
    const std::string parent = scratch / "\x83\x5C\x83\x74\x83\x67", folder = parent + "\\\x95\x5C";  // ソフト\表
    ASSERT_WIN32(CreateDirectoryA(parent.c_str(), 0));
    ASSERT_WIN32(CreateDirectoryA(folder.c_str(), 0));
    const std::string program = folder + "\\OrloCastSetup.exe";
    ASSERT_WIN32(CopyFileA(INSTALLER.c_str(), program.c_str(), FALSE));
    // A per-user Programs folder whose name ends in such a character: the
    // Start-menu folders are made below it and removed again.
    const std::string programs = scratch / "\x95\x5C";
    ASSERT_WIN32(CreateDirectoryA(programs.c_str(), 0));
    ProgramsValue dbcsPrograms(programs);
    const Snapshot before = takeSnapshot();
    ASSERT_EQ(0u, runProgram(wide(program), L"-h -i"));
    const std::string copy = places_.target + "\\OrloCastSetup.exe";
    EXPECT_EQ(readWholeFile(INSTALLER), readWholeFile(copy));
    EXPECT_EQ(places_.target + "\\OrloCast.exe | " + places_.target + " |  | OrloCast",
              shortcutFields(programs + "\\Fen March\\Orlo-Cast\\OrloCast.LNK"));

    const std::string menu = programs + "\\Fen March\\Orlo-Cast";
    for (const char* sub : {"\\\x83\x5C", "\\\x83\x5C\\\x95\x5C", "\\\x83\x4A", "\\\x83\x4A\\\x83\x4C"}) {
        ASSERT_WIN32(CreateDirectoryA((menu + sub).c_str(), 0));  // ソ, ソ\表, カ, カ\キ
        writeFileBytes(menu + sub + "\\x.txt", "x");
    }
    EXPECT_EQ(0u, runProgram(wide(copy), L"-h -u"));
    EXPECT_FALSE(pathExists(menu)) << "the Start-menu folder and its double-byte subfolders stay";
    EXPECT_FALSE(pathExists(places_.target + "\\Orlocast.exe"));
    EXPECT_EQ("", outsideTheProduct(before, takeSnapshot()));
}

// A DLL planted beside the installer under a system DLL's name is never
// loaded. The planted shfolder.dll writes a marker when loaded; the test run
// makes Wine prefer a native one (shfolder=n,b), as Windows takes one beside
// the program. The program is a copy of this executable (--plant, below).

FARPROC WINAPI withoutSpecialFolderPath(HMODULE module, LPCSTR name) {
    return lstrcmpA(name, "SHGetSpecialFolderPathA") == 0 ? 0 : GetProcAddress(module, name);
}

TEST(DllPlanting, PlantedShfolderIsLoadedOnlyWhenTheSearchIsOpen) {
    ScratchFolder scratch("planting");
    const std::string program = scratch / "program.exe", marker = scratch / "loaded.txt";
    ASSERT_WIN32(CopyFileA((moduleFolder() + "hardening_test.exe").c_str(), program.c_str(), FALSE));
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
    if (argc == 4 && std::string(argv[1]) == "--rename") return MoveFileA(argv[2], argv[3]) ? 0 : (int)GetLastError();
    // --plant startup: restrictDllSearch(), then resolveSpecialFolders() with
    // SHGetSpecialFolderPathA missing, so that SHFOLDER.DLL is needed;
    // --plant bare: LoadLibraryA("SHFOLDER.DLL") by bare name;
    // --plant restricted-bare: restrictDllSearch(), then the bare load.
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
