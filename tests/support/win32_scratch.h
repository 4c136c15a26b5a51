// Scratch folders, package modules and posted-command counting for the
// Windows tests.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/win32_check.h"

namespace orlotest {

// The path an open handle names now (GetFinalPathNameByHandleA, which is
// newer than the headers' Windows version), without the "\\?\" prefix.
inline std::string pathOfHandle(HANDLE handle) {
    typedef DWORD(WINAPI * FinalPath)(HANDLE, LPSTR, DWORD, DWORD);
    const FinalPath finalPath =
        (FinalPath)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
    char path[MAX_PATH * 2] = "";
    if (finalPath) finalPath(handle, path, sizeof path, 0);
    return std::string(path).rfind("\\\\?\\", 0) == 0 ? path + 4 : path;
}

inline bool pathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string readWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, 0) && got > 0) bytes.append(chunk, got);
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

// Removes a scratch tree with plain Win32 calls (never the code under test).
inline void removeTree(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = folder + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                removeTree(child);
            else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryA(child.c_str());
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

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

// The bytes of resource RT_RCDATA 100 of a module (the product package that
// the test executables carry, read before anything descrambles it).
inline std::vector<uint8_t> packageOf(HMODULE module) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(100), (LPCSTR)RT_RCDATA);
    if (!found) return {};
    const uint8_t* bytes = (const uint8_t*)LockResource(LoadResource(module, found));
    return std::vector<uint8_t>(bytes, bytes + SizeofResource(module, found));
}

// Loads a fresh module whose resource RT_RCDATA 100 holds `package` (none
// when empty): a copy of the resource-only test module pkg_none.dll,
// updated with UpdateResourceA. Each call gives a new module, so every
// extraction works on an image of its own.
inline HMODULE moduleWithPackage(const ScratchFolder& scratch, const std::vector<uint8_t>& package) {
    static int counter = 0;
    const std::string path = scratch / ("package" + std::to_string(++counter) + ".dll");
    if (!CopyFileA((moduleFolder() + "pkg_none.dll").c_str(), path.c_str(), FALSE)) {
        ADD_FAILURE() << "CopyFileA pkg_none.dll failed, GLE=" << GetLastError();
        return 0;
    }
    if (!package.empty()) {
        HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
        EXPECT_TRUE(update != 0) << "BeginUpdateResourceA GLE=" << GetLastError();
        EXPECT_TRUE(UpdateResourceA(update, (LPCSTR)RT_RCDATA, MAKEINTRESOURCEA(100),
                                    MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), (void*)package.data(),
                                    (DWORD)package.size()))
            << "UpdateResourceA GLE=" << GetLastError();
        EXPECT_TRUE(EndUpdateResourceA(update, FALSE)) << "EndUpdateResourceA GLE=" << GetLastError();
    }
    HMODULE module = LoadLibraryA(path.c_str());
    EXPECT_TRUE(module != 0) << "LoadLibraryA(" << path << ") GLE=" << GetLastError();
    return module;
}

// A message-only window that receives the procedures' completion commands.
struct CommandCounter {
    HWND window = 0;
    CommandCounter() {
        window = CreateWindowExA(0, "STATIC", "orlo-test-commands", 0, 0, 0, 0, 0, HWND_MESSAGE, 0, 0, 0);
        EXPECT_TRUE(window != 0) << "CreateWindowExA GLE=" << GetLastError();
    }
    ~CommandCounter() { DestroyWindow(window); }
    // Drains the queue; counts WM_COMMAND 180 with lParam 127 and 128.
    void count(int* failed, int* ok, int* other) {
        *failed = *ok = *other = 0;
        MSG message;
        while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
            if (message.message != WM_COMMAND) continue;
            if (LOWORD(message.wParam) == 180 && message.lParam == 127)
                ++*failed;
            else if (LOWORD(message.wParam) == 180 && message.lParam == 128)
                ++*ok;
            else
                ++*other;
        }
    }
};

}  // namespace orlotest
