// What the Windows tests share: scratch folders, packaged modules, Unix
// links, snapshots of the prefix, the product's places, shortcuts read back,
// programs run to their end, and the fixture of the install and removal tests.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/platform_ops.h"
#include "platform/system_calls.h"
#include "setup/installer_state.h"
#include "setup/procedures.h"
#include "tests/support/test_package.h"

// EXPECT_WIN32(call) / ASSERT_WIN32(call): the call returns a true value.
#define ORLO_WIN32_CHECK(kind, expression)                                                      \
    do {                                                                                        \
        SetLastError(0xDEADBEEF);                                                               \
        const auto orloResult_ = (expression);                                                  \
        const DWORD orloError_ = GetLastError();                                                \
        kind##_TRUE(orloResult_) << #expression << " failed: result " << (long long)orloResult_ \
                                 << ", GLE=" << orloError_;                                     \
    } while (0)
#define EXPECT_WIN32(expression) ORLO_WIN32_CHECK(EXPECT, expression)
#define ASSERT_WIN32(expression) ORLO_WIN32_CHECK(ASSERT, expression)

namespace orlotest {

// The installer fills the system-call table first thing; so does every test
// executable, before its first test.
inline const bool systemCallsFilled = (resetSystemCalls(), true);

inline std::string parentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }
inline std::string fileNameOf(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }
inline bool pathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
inline std::wstring wide(const std::string& text) {
    WCHAR buffer[2048];
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer, 2048);
    return buffer;
}

// Folder of the running test executable, with a trailing backslash.
inline std::string moduleFolder() {
    char path[MAX_PATH];
    return parentOf(std::string(path, GetModuleFileNameA(0, path, sizeof path))) + "\\";
}

inline std::string readWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    static char chunk[65536];
    for (DWORD got = 0; ReadFile(file, chunk, sizeof chunk, &got, 0) && got > 0;) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

inline void writeFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << " GLE=" << GetLastError();
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, 0);
    CloseHandle(file);
}

// The path an open handle names now (GetFinalPathNameByHandleA, newer than
// the headers' Windows version), without the "\\?\" prefix.
inline std::string pathOfHandle(HANDLE handle) {
    typedef DWORD(WINAPI * FinalPath)(HANDLE, LPSTR, DWORD, DWORD);
    const FinalPath finalPath =
        (FinalPath)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
    char path[MAX_PATH * 2] = "";
    if (finalPath) finalPath(handle, path, sizeof path, 0);
    return std::string(path).rfind("\\\\?\\", 0) == 0 ? path + 4 : path;
}

// The Unix path of a file under Wine; empty elsewhere.
inline std::string unixPathOf(const std::wstring& path) {
    typedef char*(CDECL * UnixName)(LPCWSTR);
    const UnixName unixName =
        (UnixName)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    char* name = unixName ? unixName(path.c_str()) : 0;
    const std::string result = name ? name : "";
    if (name) HeapFree(GetProcessHeap(), 0, name);
    return result;
}
inline std::string unixPathOf(const std::string& path) { return unixPathOf(wide(path)); }

// Runs a shell script (Wine cannot make symbolic links itself). Its process
// may end before the Unix program is done, so the script touches a marker
// at its end, which is waited for. True when the script ran to its end.
inline bool runUnixScript(const std::string& script) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string markerPath = std::string(temp) + "orlo-script-" + std::to_string(GetCurrentProcessId());
    DeleteFileA(markerPath.c_str());
    std::string command = "Z:\\bin\\sh -c \"" + script + "; touch '" + unixPathOf(markerPath) + "'\"";
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process;
    if (!CreateProcessA(0, &command[0], 0, 0, FALSE, 0, 0, 0, &startup, &process)) return false;
    CloseHandle(process.hThread), CloseHandle(process.hProcess);
    for (int i = 0; i < 200 && !pathExists(markerPath); i++) Sleep(50);
    return DeleteFileA(markerPath.c_str()) != 0;
}

// Removes a tree with plain Win32 calls by UTF-16 names, so that names the
// code page cannot spell go too. A link goes by its Unix name, never entered:
// Wine's RemoveDirectory would remove an empty target instead.
inline void removeTreeW(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
        const std::wstring name = data.cFileName, child = folder + L"\\" + name;
        if (name == L"." || name == L"..") continue;
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW(child.c_str());
        else if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            runUnixScript("rm -f '" + unixPathOf(child) + "'");
        else
            removeTreeW(child);
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    RemoveDirectoryW(folder.c_str());
}
inline void removeTree(const std::string& folder) { removeTreeW(wide(folder)); }

// A fresh folder under the temp folder, removed when the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& tag) {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        static int counter = 0;
        path_ = std::string(temp) + "orlo-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
        removeTree(path_);
        CreateDirectoryA(path_.c_str(), 0);
    }
    ~ScratchFolder() { removeTree(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// A copy of the module `source` at `path` whose resource RT_RCDATA 100 is
// `package` (none when empty and the source has none). True when made.
inline bool copyWithPackage(const std::string& source, const std::string& path, const std::vector<uint8_t>& package) {
    if (!CopyFileA(source.c_str(), path.c_str(), FALSE)) return false;
    if (package.empty()) return true;
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    return UpdateResourceA(update, (LPCSTR)RT_RCDATA, MAKEINTRESOURCEA(100),
                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), (void*)package.data(),
                           (DWORD)package.size()) &&
           EndUpdateResourceA(update, FALSE);
}

// A fresh module holding `package`, a copy of the resource-only module
// pkg_none.dll, so that every extraction works on an image of its own.
inline HMODULE moduleWithPackage(const ScratchFolder& scratch, const std::vector<uint8_t>& package) {
    static int counter = 0;
    const std::string path = scratch / ("package" + std::to_string(++counter) + ".dll");
    EXPECT_TRUE(copyWithPackage(moduleFolder() + "pkg_none.dll", path, package)) << path << " GLE=" << GetLastError();
    HMODULE module = LoadLibraryA(path.c_str());
    EXPECT_TRUE(module != 0) << "LoadLibraryA(" << path << ") GLE=" << GetLastError();
    return module;
}

// A message-only window that receives the procedures' completion commands.
struct CommandCounter {
    HWND window = CreateWindowExA(0, "STATIC", "orlo-test-commands", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, 0, 0);
    ~CommandCounter() { DestroyWindow(window); }
    // The commands that came: "F" per DONE_FAILED, "K" per DONE_OK, else "?".
    std::string drain() {
        std::string seen;
        MSG message;
        while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
            if (message.message != WM_COMMAND) continue;
            const bool done = LOWORD(message.wParam) == CMD_PROCEDURE_DONE;
            seen += done && message.lParam == DONE_FAILED ? "F" : done && message.lParam == DONE_OK ? "K" : "?";
        }
        return seen;
    }
};

// Symbolic links planted for a test, removed when the object goes, also
// when the test failed half-way.
class UnixLinks {
public:
    ~UnixLinks() {
        std::string script = "true";
        for (const std::string& link : links_) script += "; rm -f '" + link + "'";
        runUnixScript(script);
    }
    // Makes link (a Windows path) a symbolic link to target. Wine shows a
    // link to a folder as a reparse point, a link to a file as the file.
    bool plant(const std::string& link, const std::string& target) {
        const std::string unixLink = unixPathOf(link), unixTarget = unixPathOf(target);
        if (unixLink.empty() || unixTarget.empty()) return false;
        links_.push_back(unixLink);
        const DWORD attributes =
            (runUnixScript("ln -s '" + unixTarget + "' '" + unixLink + "'"), GetFileAttributesA(link.c_str()));
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT));
    }

private:
    std::vector<std::string> links_;
};

// Every file and folder on drive C: but the Windows and temp folders, every
// key and value under HKLM\SOFTWARE and HKCU, as lower-cased entries such as
// "file c:\fm\x.txt" or "value hkcu\fen march\orlo-cast\systray = dword:0".
using Snapshot = std::set<std::string>;

inline std::string lower(std::string text) {
    for (char& c : text) c = (char)tolower((unsigned char)c);
    return text;
}

// Wine's own bookkeeping and other tests' private keys.
inline bool isNoise(const std::string& entry) {
    // clang-format off
    static const char* const noise[] = {
        "orlotest", "hkcu\\software\\wine", "hklm\\software\\wine", "\\explorer\\fileexts", "\\explorer\\recentdocs",
        "hkcu\\software\\microsoft\\windows nt\\currentversion\\windows", "\\currentversion\\fonts",
        "hklm\\software\\microsoft\\cryptography\\rng", "hkcu\\volatile environment",
    };
    // clang-format on
    for (const char* n : noise)
        if (entry.find(n) != std::string::npos) return true;
    return false;
}

inline void snapshotFiles(const std::string& folder, const std::vector<std::string>& skip, Snapshot* out) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = data.cFileName, path = folder + "\\" + name, key = lower(path);
        if (name == "." || name == ".." || std::find(skip.begin(), skip.end(), key) != skip.end()) continue;
        const bool isFolder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        out->insert((isFolder ? "folder " : "file ") + key);
        if (isFolder && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) snapshotFiles(path, skip, out);
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

// The class registrations (thousands of linked keys) are left out.
inline void snapshotKey(HKEY root, const std::string& label, const std::string& path, Snapshot* out, int depth = 0) {
    const std::string lowered = lower(path);
    if (depth > 16 || lowered == "software\\classes" || lowered == "software\\wow6432node\\classes") return;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    const std::string name = label + (path.empty() ? "" : "\\" + path);
    out->insert("key " + lower(name));
    static char valueName[16384];
    static BYTE data[1 << 16];
    for (DWORD i = 0;; i++) {
        DWORD nameSize = sizeof valueName, dataSize = sizeof data, type = 0;
        const LONG status = RegEnumValueA(key, i, valueName, &nameSize, 0, &type, data, &dataSize);
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) break;
        std::string value = "type" + std::to_string(type) + ":size" + std::to_string(dataSize);
        if (status == ERROR_MORE_DATA)
            value = "<large>";
        else if (type == REG_SZ || type == REG_EXPAND_SZ)
            value = (type == REG_SZ ? "sz:" : "expand_sz:") +
                    std::string((const char*)data, strnlen((const char*)data, dataSize));
        else if (type == REG_DWORD)
            value = "dword:" + std::to_string(*(const DWORD*)data);
        out->insert("value " + lower(name + "\\" + valueName) + " = " + value);
    }
    std::vector<std::string> subkeys;
    char subkey[1024];
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof subkey;
        if (RegEnumKeyExA(key, i, subkey, &size, 0, 0, 0, 0) != ERROR_SUCCESS) break;
        subkeys.push_back(subkey);
    }
    RegCloseKey(key);
    for (const std::string& s : subkeys) snapshotKey(root, label, path.empty() ? s : path + "\\" + s, out, depth + 1);
}

inline Snapshot takeSnapshot() {
    Snapshot all, out;
    char windows[MAX_PATH], temp[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    GetTempPathA(sizeof temp, temp);
    std::string tempFolder = lower(temp);
    if (!tempFolder.empty() && tempFolder.back() == '\\') tempFolder.pop_back();
    snapshotFiles("C:", {lower(windows), tempFolder}, &all);
    snapshotKey(HKEY_LOCAL_MACHINE, "hklm", "SOFTWARE", &all);
    snapshotKey(HKEY_CURRENT_USER, "hkcu", "", &all);
    for (const std::string& entry : all)
        if (!isNoise(entry)) out.insert(entry);
    return out;
}

// What changed from `before` to `after`: "+ entry" for each new entry,
// "- entry" for each that went, one per line; "(nothing)" when equal.
inline std::string changes(const Snapshot& before, const Snapshot& after) {
    std::string out;
    for (const std::string& entry : after)
        if (!before.count(entry)) out += "+ " + entry + "\n";
    for (const std::string& entry : before)
        if (!after.count(entry)) out += "- " + entry + "\n";
    return out.empty() ? "(nothing)\n" : out;
}

inline bool keyExists(HKEY root, const std::string& path) {
    HKEY key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS && (RegCloseKey(key), true);
}

// A registry value as text (a number in decimal); "" when missing.
inline std::string valueOf(HKEY root, const std::string& path, const char* name, REGSAM view = 0) {
    char value[1024] = "";
    DWORD size = sizeof value - 1, type = 0;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return "";
    const LONG status = RegQueryValueExA(key, name, 0, &type, (BYTE*)value, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "";
    return type == REG_DWORD ? std::to_string(*(DWORD*)value) : std::string(value);
}
// Stores a value of any type as these bytes, making its key.
inline void setValue(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& data) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(root, path.c_str(), &key));
    RegSetValueExA(key, name, 0, type, (const BYTE*)data.data(), (DWORD)data.size());
    RegCloseKey(key);
}

const std::string UNINSTALL_KEY = UNINSTALL_PARENT_KEY "\\" UNINSTALL_KEY_NAME;

// Where the product goes in this prefix.
struct Places {
    std::string target, fm, userMenu, commonMenu, startup;
};

inline Places productPlaces() {
    resolveSpecialFolders();
    static InstallerState probe;
    clearInstallerState(&probe, 0);
    resolveTargetFolder(&probe, PRODUCT_FOLDER);
    Places places;
    places.target = probe.targetFolder;
    places.fm = parentOf(places.target);
    places.userMenu = valueOf(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs") + "\\Fen March";
    places.commonMenu = std::string(getCommonProgramsFolder()) + "\\Fen March";
    places.startup = getStartupFolder();
    return places;
}

// Everything an install or a removal may have left, so that every test
// starts from the same prefix.
inline void removeProductTraces() {
    const Places places = productPlaces();
    for (const std::string& folder : {places.fm, places.userMenu, places.commonMenu}) removeTree(folder);
    DeleteFileA((places.startup + "\\" AUTOSTART_LINK_NAME ".LNK").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, PRODUCT_SETTINGS_KEY);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Fen March");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY.c_str());
}

// Sets the per-user "Programs" value for a test (an empty text deletes it);
// restore() puts back the shell's own, when the object goes and before each
// install test, so that a test ended half-way (a time-out) leaves no other.
struct ProgramsValue {
    explicit ProgramsValue(const std::string& value) { set(value); }
    ~ProgramsValue() { restore(); }
    static void restore() {
        char programs[MAX_PATH];
        if (SHGetFolderPathA(0, CSIDL_PROGRAMS, 0, 0, programs) == S_OK) set(programs);
    }
    static void set(const std::string& value) {
        if (value.empty()) return (void)SHDeleteValueA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs");
        setValue(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs", REG_SZ, value + '\0');
    }
};

// A shortcut file read back through the shell's link object, as
// "target | working folder | arguments | description", or "<unreadable>".
inline std::string shortcutFields(const std::string& path) {
    IShellLinkA* link = 0;
    IPersistFile* file = 0;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    std::string out = "<unreadable>";
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file)) && SUCCEEDED(file->Load(wide, STGM_READ))) {
        char target[MAX_PATH] = "", folder[MAX_PATH] = "", arguments[MAX_PATH] = "", description[MAX_PATH] = "";
        link->GetPath(target, MAX_PATH, 0, SLGP_RAWPATH);
        link->GetWorkingDirectory(folder, MAX_PATH);
        link->GetArguments(arguments, MAX_PATH);
        link->GetDescription(description, MAX_PATH);
        out = std::string(target) + " | " + folder + " | " + arguments + " | " + description;
    }
    if (file) file->Release();
    if (link) link->Release();
    return out;
}

// Runs a program (UTF-16 path, so that any folder can be used) with
// arguments in the folder that holds it; its full 32-bit exit code, or
// 0xDEADBEEF when it could not start or did not end within two minutes
// (it is ended then, so that nothing is left running in the prefix).
inline DWORD runProgram(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], 0, 0, FALSE, 0, 0, folder.c_str(), &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW GLE=" << GetLastError();
        return 0xDEADBEEF;
    }
    DWORD code = 0xDEADBEEF;
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, code), WaitForSingleObject(process.hProcess, 10000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

// The path of a file of the build host as Wine shows it (drive Z:).
inline std::string hostPathToWine(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

// The fixture of the tests that run the procedures on the prefix itself: each
// starts and ends without a trace of the product, installs a package of its
// choice, and removes it on a thread of its own.
inline InstallerState productState;
inline int uninstallResult;

inline DWORD WINAPI uninstallThread(LPVOID) {
    uninstallResult = runUninstall(&productState);
    return 0;
}

class ProductTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitialize(0));
        useAnsiCodePage();  // as the installer does first thing
        ProgramsValue::restore();
        removeProductTraces();
        places_ = productPlaces();
        ASSERT_FALSE(places_.target.empty());
    }
    void TearDown() override {
        resetSystemCalls();
        removeProductTraces();
        CoUninitialize();
    }

    // The state of a fresh run whose package is `package` (none when empty),
    // reporting to commands_, and whose own path is this executable's.
    InstallerState* prepare(const std::vector<uint8_t>& package) {
        clearInstallerState(&productState, (HINSTANCE)moduleWithPackage(modules_, package));
        productState.window = commands_.window;
        GetModuleFileNameA(0, productState.modulePath, sizeof productState.modulePath);
        static const HANDLE self = holdRunningProgramFile();  // as the installer holds its own
        productState.programFile = self;
        return &productState;
    }
    int install(const std::vector<uint8_t>& package = buildTestPackage(sampleFiles())) {
        package_ = package;
        return runInstall(prepare(package));
    }
    // runUninstall (with the package installed last) on a thread of its
    // own; its result, or 12345 when it has not returned within 60 seconds
    // (a normal run takes well under one).
    int uninstall() {
        uninstallResult = 12345;
        prepare(package_);
        HANDLE thread = CreateThread(0, 0, uninstallThread, 0, 0, 0);
        if (WaitForSingleObject(thread, 60000) != WAIT_OBJECT_0) TerminateThread(thread, 1);
        CloseHandle(thread);
        return uninstallResult;
    }
    // Changed entries of the prefix that lie outside the product's places:
    // its folders, its Start-menu folders, its keys.
    std::string outsideTheProduct(const Snapshot& before, const Snapshot& after) const {
        // clang-format off
        const std::string product[] = {"folder " + lower(places_.fm), "file " + lower(places_.fm) + "\\",
                                       "folder " + lower(places_.userMenu), "file " + lower(places_.userMenu) + "\\",
                                       "folder " + lower(places_.commonMenu), "file " + lower(places_.commonMenu) + "\\",
                                       "hkcu\\fen march", "hklm\\" + lower(UNINSTALL_KEY)};
        // clang-format on
        std::string out;
        size_t start = 0;
        const std::string all = changes(before, after);
        for (size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string line = all.substr(start, end - start);
            bool inside = line == "(nothing)";
            for (const std::string& p : product) inside = inside || line.find(p) != std::string::npos;
            if (!inside) out += line + "\n";
        }
        return out;
    }

    Places places_;
    std::vector<uint8_t> package_ = buildTestPackage(sampleFiles());
    ScratchFolder modules_{"product"};
    CommandCounter commands_;
};

}  // namespace orlotest
