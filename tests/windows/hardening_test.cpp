// The elevated procedures against what an ordinary user can do: the
// installer's own file swapped while it runs, links and hard links planted
// where it writes, folders swapped for links mid-walk, look-alike and
// disguised names, unspellable and double-byte folders, planted DLLs; and
// the links and mounts a machine's owner may make above the product.
// Snapshots prove that nothing outside the product's places changed. Run
// with --rename FROM TO, this executable is the attacker, a second process
// held to sharing modes; a Unix process stands in where a Windows one could
// not make a link (Wine cannot make junctions), and is not held to them.
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

// Names with U+FF3C, U+2215 and U+FF0F, which an ANSI listing would give
// back as "\\" and "/", are names like any other to the UTF-16 walk: they go
// with their folder, and what they seem to climb to stays.
TEST_F(Hardening, LookAlikeSeparatorsAreJustNames) {
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
    EXPECT_FALSE(pathExists(menu));
}

// The walk of a tree of a thousand files, attacked once: after its first
// deletion, or as it opens the entry named "deep", after listing it.
std::function<void()> attack;
void attackOnce() {
    std::function<void()> now = attack;
    attack = nullptr;
    if (now) now();
}
BOOL WINAPI deleteThenAttack(HANDLE handle) {
    const BOOL deleted = markHandleForDeletion(handle);
    attackOnce();
    return deleted;
}
NTSTATUS NTAPI attackThenOpen(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK io,
                              PLARGE_INTEGER size, ULONG fileAttributes, ULONG share, ULONG disposition, ULONG options,
                              PVOID extended, ULONG extendedLength) {
    if (std::wstring(attributes->ObjectName->Buffer, attributes->ObjectName->Length / 2) == L"deep") attackOnce();
    return NtCreateFile(handle, access, attributes, io, size, fileAttributes, share, disposition, options, extended,
                        extendedLength);
}

// The attacker's MoveFileA from another process: 0, or its error.
DWORD renameFromOutside(const std::string& from, const std::string& to) {
    return runProgram(wide(moduleFolder() + "hardening_test.exe"), wide("--rename \"" + from + "\" \"" + to + "\""));
}

// The walk acts only through the handles it holds: a held folder cannot be
// renamed by a Windows process; a Unix process (not held to sharing modes)
// that swaps the walked folder for a link to a victim only ever meets
// handles that still hold the folders it listed; one that swaps a listed
// folder for a link just before it is opened meets the file-ID check (Wine
// opens the link's target, a folder like the one listed).
TEST_F(Hardening, AWalkActsOnlyThroughWhatItHolds) {
    ScratchFolder scratch("walk");
    const Victim victim("orlo-walk-victim", true);
    const std::string tree = scratch / "T", walked = tree + "\\sub", deep = walked + "\\deep";
    const char* const rounds[] = {"a Windows process renames the walked folders",
                                  "a Unix process swaps the walked folder for a link",
                                  "a Unix process swaps a listed folder for a link as it is opened"};
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(rounds[round]);
        for (const std::string& folder : {tree, walked, deep}) CreateDirectoryA(folder.c_str(), 0);
        for (int i = 0; i < 1000; i++) writeFileBytes(walked + "\\file" + std::to_string(i) + ".txt", "x");
        writeFileBytes(deep + "\\a.txt", "x");
        // Control: with nothing held, the attacker's rename works.
        ASSERT_EQ(0u, renameFromOutside(walked, walked + "-moved"));
        ASSERT_WIN32(MoveFileA((walked + "-moved").c_str(), walked.c_str()));

        UnixLinks links;
        std::string observed;
        attack = [&] {
            if (round == 0) {
                for (const std::string& folder : {walked, tree}) {
                    const DWORD error = renameFromOutside(folder, folder + "-moved");
                    observed += fileNameOf(folder) + ": " +
                                (error ? "refused, GLE " + std::to_string(error) : "renamed") + "; ";
                }
                return;
            }
            const std::string swapped = round == 1 ? walked : deep;
            ASSERT_TRUE(runUnixScript("mv '" + unixPathOf(swapped) + "' '" + unixPathOf(swapped) + "-moved'"));
            ASSERT_TRUE(links.plant(swapped, victim.path));
        };
        systemCalls.markForDeletion = deleteThenAttack;
        if (round == 2) systemCalls.markForDeletion = markHandleForDeletion, systemCalls.createFile = attackThenOpen;
        const Snapshot before = takeSnapshot();
        EXPECT_EQ(1, deleteFolderTree(tree.c_str(), USER_FOLDER));
        resetSystemCalls();
        std::cout << "[   NOTE   ] " << rounds[round] << ": " << observed << "\n";
        EXPECT_TRUE(victim.intact()) << observed;
        EXPECT_EQ("(nothing)\n", changes(before, takeSnapshot()));
        if (round == 0) EXPECT_EQ(std::string::npos, observed.find("renamed")) << observed;
        if (round == 0) EXPECT_FALSE(pathExists(tree)) << "the walk did not finish";
        removeTree(tree);
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

// The installer's file renamed away and another program put at its path, at
// moments from before its first instruction (started suspended) to when the
// product's files appear. The other program is the installer with one byte
// of code changed. Either the swap comes before the installer holds its
// file, and the install ends with -1 having written nothing, or it is
// refused; never is anything but the program that ran copied or registered.
TEST_F(Hardening, TheUninstallerIsAlwaysTheProgramThatRan) {
    ScratchFolder downloads("downloads");
    const std::string program = downloads / "OrloCastSetup.exe", away = downloads / "renamed.exe";
    const std::string original = readWholeFile(INSTALLER), copy = places_.target + "\\OrloCastSetup.exe";
    std::string foreign = original;
    const size_t header = *(const uint32_t*)&original[0x3C];
    foreign[*(const uint32_t*)&original[header + 248 + 20] + 0x40] ^= 1;  // .text, the first section
    // clang-format off
    const struct {
        const char* what;
        int delay;
        std::string appears;  // waited for before the swap
        bool held;            // by then the installer must hold its file
    } moments[] = {{"suspended", -1, "", false}, {"started", 0, "", false}, {"20 ms in", 20, "", false},
                   {"the installation folder appears", 0, places_.target, true},
                   {"the product's files appear", 0, places_.target + "\\Orlocast.exe", true}};
    // clang-format on
    std::string observed;
    for (const auto& moment : moments) {
        DeleteFileA(away.c_str());
        writeFileBytes(program, original);
        const Snapshot before = takeSnapshot();
        std::wstring commandLine = L"\"" + wide(program) + L"\" -h -i";
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION process = {};
        ASSERT_WIN32(CreateProcessW(0, &commandLine[0], 0, 0, FALSE, moment.delay < 0 ? CREATE_SUSPENDED : 0, 0,
                                    wide(downloads.path()).c_str(), &startup, &process));
        if (moment.delay > 0) Sleep(moment.delay);
        while (!moment.appears.empty() && !pathExists(moment.appears) &&
               WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
            Sleep(1);
        const bool swapped = MoveFileA(program.c_str(), away.c_str()) != 0;
        const DWORD error = GetLastError();
        // Still running after the attempt: it was running during it.
        const bool running = WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
        if (swapped) writeFileBytes(program, foreign);
        ResumeThread(process.hThread);
        WaitForSingleObject(process.hProcess, 120000);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread), CloseHandle(process.hProcess);
        observed += std::string(moment.what) +
                    (!running  ? ": ended meanwhile"
                     : swapped ? ": swapped"
                               : ": refused") +
                    (error && !swapped ? " (" + std::to_string(error) + ")" : "") + ", exit " +
                    std::to_string((int)code) + "; ";
        if (moment.delay < 0) EXPECT_TRUE(swapped && code == 0xFFFFFFFF) << observed;
        if (moment.held && running) EXPECT_FALSE(swapped) << observed;
        if (code == 0) {
            EXPECT_TRUE(original == readWholeFile(copy)) << "the copy is not the program that ran: " << observed;
            EXPECT_EQ("\"" + copy + "\"", valueOf(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallString"));
        } else {
            EXPECT_EQ(0xFFFFFFFFu, code) << observed;
            EXPECT_EQ("(nothing)\n", changes(before, takeSnapshot())) << observed;
        }
        removeProductTraces();
    }
    std::cout << "[   NOTE   ] " << observed << "\n";
}

// What the user plants where the install writes: a hard link to a file
// elsewhere at a shortcut's name, a per-user Programs folder that is a link
// to a folder the user cannot write, and a Unix process that keeps swapping
// "Fen March" for such a link while installs and removals run. The
// shortcuts are new files; nothing is made or deleted through a link.
TEST_F(Hardening, InstallWritesOnlyThroughWhatItHolds) {
    const Victim file("orlo-hard-linked.txt", false), closed("orlo-closed", true);
    const std::string menu = places_.userMenu + "\\Orlo-Cast";
    ASSERT_EQ(1, createFolderChain(menu.c_str()));
    ASSERT_WIN32(CreateHardLinkA((menu + "\\OrloCast.LNK").c_str(), file.path.c_str(), 0));
    EXPECT_EQ(0, install());
    EXPECT_TRUE(file.intact());
    EXPECT_EQ(places_.target + "\\OrloCast.exe | " + places_.target + " |  | OrloCast",
              shortcutFields(menu + "\\OrloCast.LNK"));
    EXPECT_EQ(0, uninstall());

    ScratchFolder scratch("planted");
    UnixLinks links;
    ASSERT_TRUE(links.plant(scratch / "Programs", closed.path));
    {
        ProgramsValue linked(scratch / "Programs");
        const Snapshot before = takeSnapshot();
        EXPECT_EQ(0, install());
        EXPECT_TRUE(pathExists(places_.commonMenu + "\\Orlo-Cast\\OrloCast.LNK"));
        EXPECT_EQ(0, uninstall());
        EXPECT_EQ("", outsideTheProduct(before, takeSnapshot()));
        EXPECT_TRUE(closed.intact());
        EXPECT_FALSE(pathExists(closed.path + "\\Fen March"));
    }
    // The racer swaps the user's "Fen March" folder for a link and back; a
    // folder the install made meanwhile wins over the racer's.
    const std::string fenMarch = unixPathOf(places_.userMenu), racing = unixPathOf(scratch / "racing");
    ASSERT_EQ(1, createFolderChain(menu.c_str()));
    writeFileBytes(scratch / "racing", "");
    ASSERT_TRUE(runUnixScript("(while [ -e '" + racing + "' ]; do mv -T '" + fenMarch + "' '" + fenMarch +
                              ".x' || continue; ln -sT '" + unixPathOf(closed.path) + "' '" + fenMarch +
                              "' && rm -f '" + fenMarch + "'; mv -T '" + fenMarch + ".x' '" + fenMarch +
                              "' || rm -rf '" + fenMarch + ".x'; done; rm -f '" + racing +
                              ".on') >/dev/null 2>&1 & touch '" + racing + ".on'"));
    for (int run = 0; run < 5; run++) install(), uninstall();
    DeleteFileA((scratch / "racing").c_str());
    for (int i = 0; i < 200 && pathExists(scratch / "racing.on"); i++) Sleep(10);
    EXPECT_TRUE(closed.intact());
    EXPECT_FALSE(pathExists(closed.path + "\\Orlo-Cast"));
    EXPECT_FALSE(pathExists(scratch / "racing.on")) << "the racer did not stop";
}

// A machine's owner may move "FM" to another disk and leave a link, or
// mount a volume there (as root: a small tmpfs, which Wine shows as a
// mount point). The install writes through it and the removal follows it
// the same way: the product's files and folder go, the uninstall key too.
TEST_F(Hardening, LinksAndMountsAboveTheProductFolderAreFollowed) {
    const Victim elsewhere("orlo-fm-elsewhere", true);
    for (const bool mounted : {false, true}) {
        SCOPED_TRACE(mounted ? "a volume mounted at FM" : "FM a link to a folder elsewhere");
        UnixLinks links;
        removeTree(places_.fm);
        if (mounted) {
            CreateDirectoryA(places_.fm.c_str(), 0);
            if (!runUnixScript("mount -t tmpfs -o size=4m tmpfs '" + unixPathOf(places_.fm) + "'") ||
                !(GetFileAttributesA(places_.fm.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)) {
                std::cout << "[   NOTE   ] no mount: only root can mount a volume here\n";
                continue;
            }
        } else {
            ASSERT_TRUE(links.plant(places_.fm, elsewhere.path));
        }
        EXPECT_EQ(0, install());
        EXPECT_TRUE(pathExists(places_.target + "\\Orlocast.exe"));
        EXPECT_EQ(0, uninstall());
        EXPECT_FALSE(pathExists(places_.target)) << "the product's folder stays";
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
        EXPECT_TRUE(elsewhere.intact());
        if (mounted) runUnixScript("umount '" + unixPathOf(places_.fm) + "'");
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

// SHGetSpecialFolderPathA as the shell has it, but for a Startup folder of
// the test's choice.
std::string startupFolder;
BOOL WINAPI specialWithStartup(HWND owner, LPSTR path, int csidl, BOOL create) {
    typedef BOOL(WINAPI * Special)(HWND, LPSTR, int, BOOL);
    if (csidl == CSIDL_STARTUP) return lstrcpynA(path, startupFolder.c_str(), MAX_PATH) != 0;
    return ((Special)(void*)GetProcAddress(GetModuleHandleA("shell32.dll"), "SHGetSpecialFolderPathA"))(owner, path,
                                                                                                        csidl, create);
}
FARPROC WINAPI startupIn(HMODULE module, LPCSTR name) {
    return lstrcmpA(name, "SHGetSpecialFolderPathA") == 0 ? (FARPROC)(void*)specialWithStartup
                                                          : GetProcAddress(module, name);
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

    // A Startup folder whose name ends in such a character: the autostart
    // link goes from it.
    const std::string link = programs + "\\" AUTOSTART_LINK_NAME ".LNK";
    writeFileBytes(link, "autostart");
    resetSpecialFoldersForTests();
    systemCalls.getProcAddress = startupIn;
    startupFolder = programs;
    resolveSpecialFolders();
    removeAutostart();
    resetSystemCalls();
    resetSpecialFoldersForTests();
    resolveSpecialFolders();
    EXPECT_FALSE(pathExists(link));
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
