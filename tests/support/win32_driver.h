// Driving a separate Windows program from a test: starting it and reading
// its full 32-bit exit code, finding its windows and threads, reading back
// what it shows on the screen, drawing the text it is expected to show, and
// saving pictures.
#pragma once

#include <windows.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/win32_check.h"

namespace orlotest {

// The path of a file of the build host as Wine shows it (drive Z:).
inline std::string hostPathToWine(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

// Polls condition every 10 ms until it holds or timeoutMs has passed.
inline bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(10);
    }
}

const DWORD NOT_ENDED = 0xDEADBEEF;

// A program started by the test. Still running when the object goes, it is
// ended by force, so that a failed check never leaves it behind.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { close(); }

    bool start(const std::string& program, const std::string& arguments) {
        close();
        std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(program.c_str(), &commandLine[0], 0, 0, FALSE, 0, 0, 0, &startup, &info_)) {
            ADD_FAILURE() << "CreateProcessA(" << program << ") GLE=" << GetLastError();
            info_ = PROCESS_INFORMATION();
            return false;
        }
        return true;
    }
    DWORD id() const { return info_.dwProcessId; }
    DWORD firstThread() const { return info_.dwThreadId; }
    bool running() const { return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
    // The full exit code once the program has ended, or NOT_ENDED.
    DWORD exitCode(DWORD timeoutMs) const {
        if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return NOT_ENDED;
        DWORD code = NOT_ENDED;
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }
    void close() {
        if (running()) {
            TerminateProcess(info_.hProcess, 1);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        if (info_.hProcess) CloseHandle(info_.hProcess);
        if (info_.hThread) CloseHandle(info_.hThread);
        info_ = PROCESS_INFORMATION();
    }

private:
    PROCESS_INFORMATION info_ = {};
};

struct WindowSearch {
    DWORD processId;
    const char* className;
    std::vector<HWND> found;
};

inline BOOL CALLBACK collectWindow(HWND window, LPARAM parameter) {
    WindowSearch* search = (WindowSearch*)parameter;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    if (owner == search->processId && (!search->className || lstrcmpA(name, search->className) == 0))
        search->found.push_back(window);
    return TRUE;
}

// Top-level windows of a process (visible or not) of a class (any when 0).
inline std::vector<HWND> windowsOf(DWORD processId, const char* className) {
    WindowSearch search = {processId, className, {}};
    EnumWindows(collectWindow, (LPARAM)&search);
    return search.found;
}

inline HWND waitForWindow(DWORD processId, const char* className, DWORD timeoutMs) {
    HWND window = 0;
    waitUntil(
        [&] {
            std::vector<HWND> found = windowsOf(processId, className);
            window = found.empty() ? 0 : found[0];
            return window != 0;
        },
        timeoutMs);
    return window;
}

inline std::string windowText(HWND window) {
    char text[2048] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

inline std::vector<DWORD> threadsOf(DWORD processId) {
    std::vector<DWORD> threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == processId) threads.push_back(entry.th32ThreadID);
    CloseHandle(snapshot);
    return threads;
}

// Number of running processes whose program file is named exeName.
inline int processCount(const char* exeName) {
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, exeName) == 0) count++;
    CloseHandle(snapshot);
    return count;
}

// The address range of a process's module named moduleName.
inline bool moduleRange(DWORD processId, const char* moduleName, DWORD* base, DWORD* size) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    MODULEENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Module32First(snapshot, &entry); more && !found; more = Module32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szModule, moduleName) != 0) continue;
        *base = (DWORD)(UINT_PTR)entry.modBaseAddr;
        *size = entry.modBaseSize;
        found = true;
    }
    CloseHandle(snapshot);
    return found;
}

// ---- Pixels ------------------------------------------------------------------

// A block of pixels, 0x00RRGGBB each, rows top down.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t at(int x, int y) const { return rgb[(size_t)y * width + x]; }
};

// A 32-bit top-down DIB section selected into a memory DC.
class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(0);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, (void**)&bits_, 0, 0);
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas() {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    void load(const Pixels& pixels) {
        GdiFlush();
        for (size_t i = 0; i < pixels.rgb.size() && i < (size_t)width_ * height_; i++) bits_[i] = pixels.rgb[i];
    }
    Pixels pixels() const {
        GdiFlush();
        Pixels out;
        out.width = width_;
        out.height = height_;
        out.rgb.assign(bits_, bits_ + (size_t)width_ * height_);
        for (uint32_t& p : out.rgb) p &= 0xFFFFFF;
        return out;
    }

private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
    uint32_t* bits_ = 0;
};

inline Pixels solid(int width, int height, uint32_t rgb) {
    Pixels out;
    out.width = width;
    out.height = height;
    out.rgb.assign((size_t)width * height, rgb);
    return out;
}

// What the screen shows of a window's client rectangle area (client
// coordinates).
inline Pixels grabClient(HWND window, const RECT& area) {
    POINT origin = {area.left, area.top};
    ClientToScreen(window, &origin);
    Canvas canvas(area.right - area.left, area.bottom - area.top);
    HDC screen = GetDC(0);
    BitBlt(canvas.dc(), 0, 0, area.right - area.left, area.bottom - area.top, screen, origin.x, origin.y, SRCCOPY);
    ReleaseDC(0, screen);
    return canvas.pixels();
}

// The pixels of a device-dependent bitmap inside area.
inline Pixels bitmapPixels(HBITMAP bitmap, const RECT& area) {
    Canvas canvas(area.right - area.left, area.bottom - area.top);
    HDC source = CreateCompatibleDC(0);
    HGDIOBJ previous = SelectObject(source, bitmap);
    BitBlt(canvas.dc(), 0, 0, area.right - area.left, area.bottom - area.top, source, area.left, area.top, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
    return canvas.pixels();
}

// One line of text drawn over background, whose top-left corner lies at
// origin; textRect is in the same coordinates as origin. The font is Arial
// of the given cell height and weight, the background mode transparent.
inline Pixels withText(const Pixels& background, POINT origin, const char* text, int height, int weight,
                       COLORREF colour, RECT textRect, UINT format) {
    Canvas canvas(background.width, background.height);
    canvas.load(background);
    LOGFONTA font = {};
    font.lfHeight = height;
    font.lfWeight = weight;
    font.lfCharSet = ANSI_CHARSET;
    lstrcpyA(font.lfFaceName, "Arial");
    HFONT handle = CreateFontIndirectA(&font);
    HGDIOBJ previous = SelectObject(canvas.dc(), handle);
    SetBkMode(canvas.dc(), TRANSPARENT);
    SetTextColor(canvas.dc(), colour);
    OffsetRect(&textRect, -origin.x, -origin.y);
    DrawTextA(canvas.dc(), text, -1, &textRect, format);
    SelectObject(canvas.dc(), previous);
    DeleteObject(handle);
    return canvas.pixels();
}

inline Pixels crop(const Pixels& pixels, const RECT& area) {
    Pixels out;
    out.width = area.right - area.left;
    out.height = area.bottom - area.top;
    for (int y = area.top; y < area.bottom; y++)
        for (int x = area.left; x < area.right; x++) out.rgb.push_back(pixels.at(x, y));
    return out;
}

// Pixels that differ, leaving out those inside `except` (when not empty).
inline int differingPixels(const Pixels& a, const Pixels& b, const RECT& except = RECT()) {
    if (a.width != b.width || a.height != b.height) return -1;
    int count = 0;
    for (int y = 0; y < a.height; y++)
        for (int x = 0; x < a.width; x++) {
            const POINT p = {x, y};
            if (a.at(x, y) != b.at(x, y) && !PtInRect(&except, p)) count++;
        }
    return count;
}

// Writes a 24-bit bottom-up BMP file.
inline bool saveBmp(const Pixels& pixels, const std::string& path) {
    const int rowSize = (pixels.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + rowSize * pixels.height;
    info.biSize = sizeof info;
    info.biWidth = pixels.width;
    info.biHeight = pixels.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    std::string bytes((const char*)&file, sizeof file);
    bytes.append((const char*)&info, sizeof info);
    for (int y = pixels.height - 1; y >= 0; y--) {
        std::string row(rowSize, '\0');
        for (int x = 0; x < pixels.width; x++) {
            const uint32_t p = pixels.at(x, y);
            row[x * 3] = (char)(p & 0xFF);
            row[x * 3 + 1] = (char)((p >> 8) & 0xFF);
            row[x * 3 + 2] = (char)((p >> 16) & 0xFF);
        }
        bytes += row;
    }
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(out, bytes.data(), (DWORD)bytes.size(), &written, 0);
    CloseHandle(out);
    return ok && written == bytes.size();
}

}  // namespace orlotest
