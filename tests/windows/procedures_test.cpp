// The install and uninstall procedures on the prefix itself: what each
// failure reports and leaves, what a full install and removal leave entry
// for entry and where each shortcut and the uninstall entry point; beneath
// them the package read from a module and extracted. Run with
// --orlo-uninstall, this executable plays the installer's copy in its folder.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/win32_test.h"

using namespace orlotest;

namespace {

const std::string WEB = MAKER_WEB_HOST;
const std::string CORRUPTED =
    "Installation package might be corrupted\nthanks to download official package at\n" + WEB + ".";
const std::string NO_FOLDER =
    "Failed to create target folder on system disk\nthanks to download official package at\n" + WEB + ".";

HMODULE WINAPI noSystemLibrary(LPCSTR) { return 0; }
// A Windows folder on a server whose name is so long that no Program Files
// folder built from it fits the installation folder's 1024 bytes.
UINT WINAPI farAwayWindowsFolder(LPSTR buffer, UINT size) {
    const std::string folder = "\\\\" + std::string(1010, 's') + "\\share\\WINDOWS";
    if (size <= folder.size()) return (UINT)folder.size() + 1;
    memcpy(buffer, folder.c_str(), folder.size() + 1);
    return (UINT)folder.size();
}
BOOL WINAPI refuseCreateDirectory(LPCSTR, LPSECURITY_ATTRIBUTES) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

class Procedures : public ProductTest {};

std::vector<std::string> deletions;  // every path deleted, in order
BOOL WINAPI recordDeletion(HANDLE handle) {
    return deletions.push_back(lower(pathOfHandle(handle))), markHandleForDeletion(handle);
}

std::string entry(const char* kind, const std::string& path) { return std::string(kind) + " " + lower(path); }

// Each failure: its result, caption, text and stage, one DONE_FAILED, and
// nothing made but what extraction wrote before it failed.
TEST_F(Procedures, FailuresReportTheirResultAndMakeNothingElse) {
    std::vector<uint8_t> damaged = package_;
    entryAt(damaged, 1)->digest[7] ^= 1;
    // clang-format off
    struct Failure {
        const char* what;
        int (*procedure)(InstallerState*);
        std::vector<uint8_t> package;
        void (*fault)();
        int result;
        std::string caption, text, stage, written;
    } failures[] = {
        {"install, no package", runInstall, {}, [] {}, -1, "Orlo-Cast Installation Error", CORRUPTED, "Extract Package", ""},
        {"install, no folder", runInstall, package_,
         [] { systemCalls.loadSystemLibrary = noSystemLibrary, systemCalls.getWindowsDirectory = farAwayWindowsFolder; },
         -2, "Orlo-Cast Installation Error", NO_FOLDER, "Copy Files", ""},
        {"install, folder not made", runInstall, package_, [] { systemCalls.createDirectory = refuseCreateDirectory; },
         -3, "Orlo-Cast Installation Error", NO_FOLDER, "Copy Files", ""},
        {"install, damaged entry 1", runInstall, damaged, [] {}, -10, "Orlo-Cast Installation Error",
         "Failed to copy file(s) to destination folder...\n" + CORRUPTED, "Copy Files",
         "Orlocast.exe OrloCastOnTheShow.pdf "},
        {"uninstall, no package", runUninstall, {}, [] {}, -1, "Orlo-Cast Uninstallation Error",
         "De-Installation package might be corrupted\nthanks to download official package at\n" + WEB + ".", "", ""},
        {"uninstall, no folder", runUninstall, package_,
         [] { systemCalls.loadSystemLibrary = noSystemLibrary, systemCalls.getWindowsDirectory = farAwayWindowsFolder; },
         -2, "Orlo-Cast Uninstallation Error", "Failed to get target folder on system disk\nthanks to remove Orlo-Cast manually...",
         "", ""},
    };
    // clang-format on
    const Snapshot before = takeSnapshot();
    for (const Failure& f : failures) {
        InstallerState* state = prepare(f.package);
        f.fault();
        EXPECT_EQ(f.result, f.procedure(state)) << f.what;
        resetSystemCalls();
        EXPECT_EQ(f.caption, state->errorCaption) << f.what;
        EXPECT_EQ(f.text, state->errorText) << f.what;
        EXPECT_EQ(f.stage, state->statusText) << f.what;
        EXPECT_EQ("F", commands_.drain()) << f.what;
        Snapshot written;
        for (size_t at = 0, end; (end = f.written.find(' ', at)) != std::string::npos; at = end + 1)
            written.insert(entry("file", places_.target + "\\" + f.written.substr(at, end - at)));
        if (!written.empty()) written.insert({entry("folder", places_.fm), entry("folder", places_.target)});
        EXPECT_EQ(changes({}, written), changes(before, takeSnapshot())) << f.what;
        removeProductTraces();
    }
}

std::vector<std::string> stages;  // the status text at each folder made, once per change
BOOL WINAPI recordStage(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
    if (stages.empty() || stages.back() != productState.statusText) stages.push_back(productState.statusText);
    return CreateDirectoryA(path, attributes);
}

// A full install, twice over itself: exactly these files, shortcuts and
// values, each shortcut pointing at its file with the installation folder
// as working folder, and the uninstall entry naming the copy, which is this
// program byte for byte: a plain new file though this program is read-only
// and hidden, replacing an earlier copy that is so too. Folders are made
// while "Copy Files" shows, the Start menu's while "Finalize Installation" does.
TEST_F(Procedures, InstallLeavesExactlyTheProductAndPointsAtIt) {
    const Snapshot before = takeSnapshot();
    char self[MAX_PATH];
    GetModuleFileNameA(0, self, sizeof self);
    const DWORD READ_ONLY_HIDDEN = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_WIN32(SetFileAttributesA(self, READ_ONLY_HIDDEN));
    systemCalls.createDirectory = recordStage;
    const std::string t = places_.target, copy = t + "\\" + fileNameOf(self);
    const std::string key = "hklm\\" + lower(UNINSTALL_KEY);
    Snapshot expected = {entry("folder", places_.fm),
                         entry("folder", t),
                         entry("file", copy),
                         "key " + key,
                         "value " + key + "\\displayname = sz:Orlo-Cast, Broadcast Stream Server",
                         "value " + key + "\\publisher = sz:Fenmarch Software",
                         "value " + key + "\\uninstallstring = sz:\"" + copy + "\""};
    for (const TestFile& file : sampleFiles()) expected.insert(entry("file", t + "\\" + file.name));
    for (const std::string& menu : {places_.userMenu, places_.commonMenu}) {
        for (const char* name : {"", "\\Orlo-Cast"}) expected.insert(entry("folder", menu + name));
        for (const char* name : {"\\Orlo-Cast\\Readme.LNK", "\\Orlo-Cast\\OrloCast.LNK"})
            expected.insert(entry("file", menu + name));
    }
    for (int run = 0; run < 2; run++) {
        if (run == 1) writeFileBytes(copy, "an earlier copy"), SetFileAttributesA(copy.c_str(), READ_ONLY_HIDDEN);
        stages.clear();
        EXPECT_EQ(0, install()) << "run " << run;
        EXPECT_EQ((std::vector<std::string>{"Copy Files", "Finalize Installation"}), stages) << "run " << run;
        EXPECT_EQ("K", commands_.drain());
        EXPECT_STREQ("Installation Completed", productState.statusText);
        EXPECT_STREQ("", productState.errorText);
        EXPECT_EQ(changes({}, expected), changes(before, takeSnapshot())) << "run " << run;
        for (const std::string& menu : {places_.userMenu, places_.commonMenu}) {
            EXPECT_EQ(t + "\\readme.txt | " + t + " |  | Readme", shortcutFields(menu + "\\Orlo-Cast\\Readme.LNK"));
            EXPECT_EQ(t + "\\OrloCast.exe | " + t + " |  | OrloCast",
                      shortcutFields(menu + "\\Orlo-Cast\\OrloCast.LNK"));
        }
        EXPECT_EQ(readWholeFile(self), readWholeFile(copy));
        EXPECT_EQ(0u, GetFileAttributesA(copy.c_str()) & READ_ONLY_HIDDEN) << "run " << run;
    }
    SetFileAttributesA(self, FILE_ATTRIBUTE_NORMAL);
    // A 32-bit program on 64-bit Windows: its own Program Files and registry view.
    if (GetEnvironmentVariableA("PROCESSOR_ARCHITEW6432", 0, 0)) {
        EXPECT_NE(std::string::npos, t.find("Program Files (x86)")) << t;
        EXPECT_EQ("Orlo-Cast, Broadcast Stream Server",
                  valueOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node" + UNINSTALL_KEY.substr(8), "DisplayName",
                          KEY_WOW64_64KEY));
    }
}

// The removal, run by the copy from inside the installation folder, as the
// uninstall entry runs it: everything goes but the copy, its folders, the
// empty "Fen March" folders and the tray settings, now 0; the autostart
// link goes from the Startup folder.
TEST_F(Procedures, RemovalFromTheCopyLeavesOnlyWhatItMust) {
    const Snapshot before = takeSnapshot();
    ASSERT_EQ(0, install());
    const std::string autostart = places_.startup + "\\" AUTOSTART_LINK_NAME ".LNK";
    writeFileBytes(autostart, "autostart");
    char self[MAX_PATH];
    GetModuleFileNameA(0, self, sizeof self);
    const std::string copy = places_.target + "\\" + fileNameOf(self);

    EXPECT_EQ(0u, runProgram(wide(copy), L"--orlo-uninstall"));
    const Snapshot left = {entry("folder", places_.fm),
                           entry("folder", places_.target),
                           entry("file", copy),
                           entry("folder", places_.userMenu),
                           entry("folder", places_.commonMenu),
                           "key hkcu\\fen march",
                           "key hkcu\\fen march\\orlo-cast",
                           "value hkcu\\fen march\\orlo-cast\\systray = dword:0",
                           "value hkcu\\fen march\\orlo-cast\\systrayshowonrun = dword:0"};
    EXPECT_EQ(changes({}, left), changes(before, takeSnapshot()));
    EXPECT_FALSE(pathExists(autostart));
}

// Files held open or read-only stay, quietly; the run ends with 0, posts
// nothing and removes the rest. The package files go by name first: the walk
// after them stops at the first entry it cannot delete, in listing order.
TEST_F(Procedures, RemovalLeavesWhatItCannotDeleteAndEnds) {
    ASSERT_EQ(0, install());
    EXPECT_EQ("K", commands_.drain());
    const std::string held = places_.target + "\\readme.txt", readOnly = places_.target + "\\settings.ini";
    writeFileBytes(readOnly, "product settings");
    ASSERT_WIN32(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    deletions.clear();
    systemCalls.markForDeletion = recordDeletion;
    EXPECT_EQ(0, uninstall());
    CloseHandle(file);
    // The held readme.txt cannot even be opened for deletion.
    deletions.resize(2);
    for (int i : {0, 2}) EXPECT_EQ(lower(places_.target + "\\" + sampleFiles()[i].name), deletions[i / 2]) << i;
    EXPECT_EQ("", commands_.drain());
    EXPECT_STREQ("", productState.targetFolder);
    EXPECT_TRUE(pathExists(held));
    EXPECT_EQ("product settings", readWholeFile(readOnly));
    EXPECT_FALSE(pathExists(places_.userMenu + "\\Orlo-Cast"));
    EXPECT_FALSE(pathExists(places_.commonMenu + "\\Orlo-Cast"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_EQ("0", valueOf(HKEY_CURRENT_USER, PRODUCT_SETTINGS_KEY, "SysTray"));
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The per-user Programs folder comes from the user's registry: missing, it
// skips the per-user shortcuts; ending in a backslash, it gets no second.
// Files the product wrote go with the installation folder.
TEST_F(Procedures, ProgramsValueMissingOrEndingInABackslash) {
    {
        ProgramsValue missing("");
        EXPECT_EQ(0, install());
        EXPECT_TRUE(pathExists(places_.commonMenu + "\\Orlo-Cast\\OrloCast.LNK"));
        writeFileBytes(places_.target + "\\product.log", "written by the product");
        CreateDirectoryA((places_.target + "\\cache").c_str(), 0);
        writeFileBytes(places_.target + "\\cache\\stream.tmp", "x");
        EXPECT_EQ(0, uninstall());
        EXPECT_FALSE(pathExists(places_.commonMenu + "\\Orlo-Cast"));
        EXPECT_FALSE(pathExists(places_.target));
        EXPECT_TRUE(pathExists(places_.fm)) << "\"FM\" is never removed";
    }
    EXPECT_FALSE(pathExists(places_.userMenu)) << "made without a Programs value";
    ScratchFolder programs("programs");
    ProgramsValue trailing(programs.path() + "\\");
    EXPECT_EQ(0, install());
    EXPECT_EQ(places_.target + "\\readme.txt | " + places_.target + " |  | Readme",
              shortcutFields(programs / "Fen March\\Orlo-Cast\\Readme.LNK"));
    EXPECT_EQ(0, uninstall());
    EXPECT_FALSE(pathExists(programs / "Fen March\\Orlo-Cast"));
}

InstallerState state;

TEST(PackageHeader, NeedsMoreThan468BytesAndKeepsTheOldCopyOtherwise) {
    ScratchFolder modules("header");
    for (size_t size : {0, 468, 469}) {
        clearInstallerState(&state, moduleWithPackage(modules, std::vector<uint8_t>(size, 'A')));
        EXPECT_EQ(size > 468 ? 0 : -1, readPackageHeader(state.instance, &state.packageEntries)) << size;
        const std::string header((const char*)&state.packageEntries, 468);
        EXPECT_EQ(std::string(468, size > 468 ? 'A' : '\0'), header) << size;
    }
    clearInstallerState(&state, GetModuleHandleA(0));
    ASSERT_EQ(0, readPackageHeader(state.instance, &state.packageEntries));
    EXPECT_STREQ("Orlocast.exe", state.packageEntries.entries[0].name);
    EXPECT_STREQ("OrloCastOnTheShow.pdf", state.packageEntries.entries[2].name);
    EXPECT_EQ(468u, state.packageEntries.entries[0].offset);
}

TEST(Extract, EachCaseWritesOnlyWhatVerifiedAndCountsEveryFailure) {
    ScratchFolder modules("modules"), scratch("extract");
    const std::vector<TestFile> files = sampleFiles();
    const std::vector<uint8_t> valid = buildTestPackage(files);
    const std::string folder = scratch / "target";
    typedef std::function<void(std::vector<uint8_t>&)> Damage;
    const Damage none = [](std::vector<uint8_t>&) {};
    // clang-format off
    const struct Case {
        const char* what;
        Damage damage;
        const char* onlyName;
        std::string target;
        int result;
        const char* written;  // "1" for each file written with its bytes, "-" for each not written
    } cases[] = {
        {"valid, over an older file", none, nullptr, folder, 0, "111"},
        {"target with a trailing backslash", none, nullptr, folder + "\\", 0, "111"},
        {"digest of entry 1", [](std::vector<uint8_t>& p) { entryAt(p, 1)->digest[15] ^= 0x80; }, nullptr, folder, -101, "1-1"},
        {"a stored byte of entry 1", [](std::vector<uint8_t>& p) { p[entryAt(p, 1)->offset + 9] ^= 4; }, nullptr, folder,
         -102, "1--"},
        {"entry 0 out of bounds", [](std::vector<uint8_t>& p) { entryAt(p, 0)->offset = (uint32_t)p.size(); }, nullptr,
         folder, -103, "---"},
        {"only entry 2", none, "OrloCastOnTheShow.pdf", folder, 0, "--1"},
        {"only a name no entry has", none, "orlocastontheshow.pdf", folder, 0, "---"},
        {"only entry 2, entry 0 damaged", [](std::vector<uint8_t>& p) { entryAt(p, 0)->digest[3] ^= 1; },
         "OrloCastOnTheShow.pdf", folder, -101, "--1"},
        {"device", [](std::vector<uint8_t>& p) { setEntryName(p, 1, "CON"); }, nullptr, folder, -101, "1-1"},
        {"no terminator", [](std::vector<uint8_t>& p) { memset(entryAt(p, 0)->name, 'n', 128); }, nullptr, folder, -101, "-11"},
        {"no name fits the path", none, nullptr, scratch.path() + "\\" + std::string(1022 - scratch.path().size() - 4, 'f'),
         -103, "---"},
    };
    // clang-format on
    for (const Case& c : cases) {
        removeTree(folder);
        CreateDirectoryA(folder.c_str(), 0);
        writeFileBytes(folder + "\\readme.txt", std::string(2000, 'o'));  // longer: it must be cut
        std::vector<uint8_t> package = valid;
        c.damage(package);
        clearInstallerState(&state, moduleWithPackage(modules, package));
        memcpy(state.targetFolder, c.target.c_str(), c.target.size() + 1);
        EXPECT_EQ(c.result, extractPackage(&state, c.onlyName)) << c.what;
        std::string written;
        for (const TestFile& f : files)
            written += readWholeFile(folder + "\\" + f.name) == std::string(f.bytes.begin(), f.bytes.end()) ? "1" : "-";
        EXPECT_EQ(c.written, written) << c.what;
        if (c.written[1] == '-') EXPECT_EQ(std::string(2000, 'o'), readWholeFile(folder + "\\readme.txt")) << c.what;
    }
    EXPECT_STREQ("OrloCastOnTheShow.pdf", state.packageEntries.entries[2].name)
        << "the header copy comes from the package";

    // A missing package writes nothing; a name with subfolders makes them.
    removeTree(folder);
    clearInstallerState(&state, moduleWithPackage(modules, {}));
    memcpy(state.targetFolder, folder.c_str(), folder.size() + 1);
    EXPECT_EQ(-1, extractPackage(&state, nullptr));
    EXPECT_FALSE(pathExists(folder));
    std::vector<TestFile> nested = files;
    nested[1].name = "docs\\guide\\readme.txt";
    clearInstallerState(&state, moduleWithPackage(modules, buildTestPackage(nested)));
    memcpy(state.targetFolder, folder.c_str(), folder.size() + 1);
    CreateDirectoryA(folder.c_str(), 0);
    EXPECT_EQ(0, extractPackage(&state, nullptr));
    EXPECT_EQ(std::string(files[1].bytes.begin(), files[1].bytes.end()),
              readWholeFile(folder + "\\docs\\guide\\readme.txt"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--orlo-uninstall") {
        useAnsiCodePage();
        resolveSpecialFolders();
        clearInstallerState(&productState, GetModuleHandleA(0));
        return runUninstall(&productState);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
