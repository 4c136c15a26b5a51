// A snapshot of a Wine prefix as the installer can change it: every file and
// folder on drive C: (outside the Windows folder and the temp folder) and
// every key and value under HKEY_LOCAL_MACHINE\SOFTWARE and
// HKEY_CURRENT_USER. Entries are lower-cased texts such as
// "file c:\program files\fm\orlo-cast\readme.txt" or
// "value hkcu\fen march\orlo-cast\systray = dword:0".
#pragma once

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace orlotest {

using Snapshot = std::set<std::string>;

inline std::string lower(std::string text) {
    for (char& c : text) c = (char)tolower((unsigned char)c);
    return text;
}

// Wine's own bookkeeping and the other tests' private keys, which are not
// the installer's doing.
inline bool isNoise(const std::string& entry) {
    static const char* const noise[] = {
        "orlotest",                                  // private keys and folders of other tests
        "hkcu\\software\\wine",                      // Wine's per-user settings and caches
        "hklm\\software\\wine",
        "hkcu\\software\\microsoft\\windows\\currentversion\\explorer\\fileexts",
        "hkcu\\software\\microsoft\\windows\\currentversion\\explorer\\recentdocs",
        "hkcu\\software\\microsoft\\windows nt\\currentversion\\windows",
        "hklm\\software\\microsoft\\windows nt\\currentversion\\fonts",
        "hklm\\software\\microsoft\\cryptography\\rng",
        "hkcu\\volatile environment",
    };
    for (const char* n : noise) {
        if (entry.find(n) != std::string::npos) return true;
    }
    return false;
}

inline void snapshotFiles(const std::string& folder, const std::vector<std::string>& skip, Snapshot* out) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "\\" + name;
        const std::string key = lower(path);
        if (std::find(skip.begin(), skip.end(), key) != skip.end()) continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out->insert("folder " + key);
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) snapshotFiles(path, skip, out);
        } else {
            out->insert("file " + key);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

inline std::string describeValue(DWORD type, const BYTE* data, DWORD size) {
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::string text((const char*)data, size);
        while (!text.empty() && text.back() == 0) text.pop_back();
        return (type == REG_SZ ? "sz:" : "expand_sz:") + text;
    }
    if (type == REG_DWORD && size == 4) return "dword:" + std::to_string(*(const DWORD*)data);
    return "type" + std::to_string(type) + ":size" + std::to_string(size);
}

// The class registrations (HKLM\SOFTWARE\Classes, thousands of keys with
// links among them) are no place of the installer's and are left out; the
// depth limit guards against any other linked keys that loop.
inline void snapshotKey(HKEY root, const std::string& label, const std::string& path, Snapshot* out, int depth = 0) {
    if (depth > 16) return;
    const std::string lowered = lower(path);
    if (lowered == "software\\classes" || lowered == "software\\wow6432node\\classes") return;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    const std::string name = label + (path.empty() ? "" : "\\" + path);
    out->insert("key " + lower(name));
    for (DWORD i = 0;; i++) {
        char valueName[16384];
        DWORD nameSize = sizeof valueName;
        static BYTE data[1 << 16];
        DWORD dataSize = sizeof data, type = 0;
        const LONG status = RegEnumValueA(key, i, valueName, &nameSize, 0, &type, data, &dataSize);
        if (status == ERROR_MORE_DATA) {
            out->insert("value " + lower(name + "\\" + valueName) + " = <large>");
            continue;
        }
        if (status != ERROR_SUCCESS) break;  // no more items, or an error that would repeat
        out->insert("value " + lower(name + "\\" + valueName) + " = " + describeValue(type, data, dataSize));
    }
    for (DWORD i = 0;; i++) {
        char subkey[1024];
        DWORD size = sizeof subkey;
        const LONG status = RegEnumKeyExA(key, i, subkey, &size, 0, 0, 0, 0);
        if (status != ERROR_SUCCESS) break;
        snapshotKey(root, label, path.empty() ? subkey : path + "\\" + subkey, out, depth + 1);
    }
    RegCloseKey(key);
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

// Entries of `after` missing from `before`.
inline Snapshot added(const Snapshot& before, const Snapshot& after) {
    Snapshot out;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::inserter(out, out.end()));
    return out;
}

inline std::string show(const Snapshot& snapshot) {
    std::string out;
    for (const std::string& entry : snapshot) out += "  " + entry + "\n";
    return out.empty() ? "  (nothing)\n" : out;
}

}  // namespace orlotest
