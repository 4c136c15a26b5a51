// Unix side of a Wine prefix for the Windows tests: the Unix path of a
// file, and shell scripts run through Wine's CreateProcess (for symbolic
// links, which Wine 8.0 lists as reparse points but cannot make itself).
#pragma once

#include <windows.h>

#include <string>

namespace orlotest {

// The Unix path of a file under Wine; empty elsewhere.
inline std::string unixPathOf(const std::string& path) {
    typedef char*(CDECL * UnixName)(LPCWSTR);
    const UnixName unixName = (UnixName)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    WCHAR wide[MAX_PATH];
    if (!unixName || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH)) return "";
    char* name = unixName(wide);
    if (!name) return "";
    const std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs a shell script; its process handle may signal before the Unix
// program is done, so the script touches a marker at its end and that is
// waited for (up to ten seconds). True when the script ran to its end.
inline bool runUnixScript(const std::string& script, const std::string& markerPath) {
    const std::string marker = unixPathOf(markerPath);
    if (marker.empty()) return false;
    std::string command = "Z:\\bin\\sh -c \"" + script + "; touch '" + marker + "'\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(0, &command[0], 0, 0, FALSE, 0, 0, 0, &startup, &process)) return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 200 && GetFileAttributesA(markerPath.c_str()) == INVALID_FILE_ATTRIBUTES; i++) Sleep(50);
    return DeleteFileA(markerPath.c_str()) != 0;
}

}  // namespace orlotest
