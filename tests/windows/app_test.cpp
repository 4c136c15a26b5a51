// The finished OrloCastSetup.exe driven as a user and a deployment tool
// drive it: exit codes, the lock, the window's pixels, clicks and keys, the
// blinking busy box, message boxes, links, and the state shared with the
// install worker. Copies with other packages are made at run time. Links
// never reach a browser: the http(s) handler is this executable run with
// --record-link, which logs the address; winebrowser is switched off.
#include <windows.h>
#include <gtest/gtest.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <functional>

#include "app/main_window.h"
#include "app/startup.h"
#include "platform/system_calls.h"
#include "tests/support/test_package.h"
#include "tests/support/win32_test.h"

using namespace orlotest;

namespace {

const std::string INSTALLER = hostPathToWine(ORLO_INSTALLER_EXE);
const char* const WINDOW_CLASS = "FMOrlo-Cast0Installer0MainWindow0";
const char* const MUTEX = "Fenmarch OrloCast-Installation- Mutex-{5C7E2B91-3FA4-4d6e-9B28-71D04E6A3C55}";
const int W = 900, H = 424;  // the shipped picture
const RECT BUTTON = {W - 320, H + 20, W - 20, H + 80}, CLIENT = {0, 0, W, H + 100};
// The button's inside, three pixels clear of its outline and rounded corners.
const RECT INSIDE = {BUTTON.left + 3, BUTTON.top + 3, BUTTON.right - 2, BUTTON.bottom - 2};
const uint32_t WHITE = 0xFFFFFF, BLACK = 0, GREY = 0x646464;  // alike as 0x00RRGGBB and GDI's 0x00BBGGRR
const UINT CENTRED = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
const char* const STAGES[4] = {"Extract Package", "Copy Files", "Finalize Installation", "Installation Completed"};
const DWORD LONG_WAIT = 60000, NOT_ENDED = 0xDEADBEEF;

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    for (const DWORD start = GetTickCount(); !condition(); Sleep(10))
        if (GetTickCount() - start >= timeoutMs) return false;
    return true;
}

// A block of pixels, 0x00RRGGBB each, rows top down, drawn on a DIB section.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t at(int x, int y) const { return rgb[(size_t)y * width + x]; }
};
struct Canvas {
    int width, height;
    HDC dc = CreateCompatibleDC(0);
    uint32_t* bits = 0;
    HBITMAP bitmap;
    HGDIOBJ previous;
    Canvas(int w, int h) : width(w), height(h) {
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof info.bmiHeader, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, (void**)&bits, 0, 0);
        previous = SelectObject(dc, bitmap);
    }
    ~Canvas() { SelectObject(dc, previous), DeleteObject(bitmap), DeleteDC(dc); }
    Pixels pixels() const {
        GdiFlush();
        Pixels out{width, height, std::vector<uint32_t>(bits, bits + (size_t)width * height)};
        for (uint32_t& p : out.rgb) p &= 0xFFFFFF;
        return out;
    }
    void load(const Pixels& pixels) { GdiFlush(), std::copy(pixels.rgb.begin(), pixels.rgb.end(), bits); }
};
Pixels solid(const RECT& area, uint32_t rgb) {
    return {area.right - area.left, area.bottom - area.top,
            std::vector<uint32_t>((size_t)(area.right - area.left) * (area.bottom - area.top), rgb)};
}
// What the screen shows of a window's client area (client coordinates).
Pixels grab(HWND window, const RECT& area) {
    POINT origin = {area.left, area.top};
    ClientToScreen(window, &origin);
    Canvas canvas(area.right - area.left, area.bottom - area.top);
    HDC screen = GetDC(0);
    BitBlt(canvas.dc, 0, 0, area.right - area.left, area.bottom - area.top, screen, origin.x, origin.y, SRCCOPY);
    ReleaseDC(0, screen);
    return canvas.pixels();
}
// One line of Arial drawn over `background`, whose top-left corner lies at
// origin; textRect is in client coordinates.
Pixels withText(const Pixels& background, POINT origin, const char* text, int height, int weight, uint32_t colour,
                RECT textRect, UINT format) {
    Canvas canvas(background.width, background.height);
    canvas.load(background);
    LOGFONTA font = {};
    font.lfHeight = height, font.lfWeight = weight, font.lfCharSet = ANSI_CHARSET;
    lstrcpynA(font.lfFaceName, "Arial", LF_FACESIZE);
    HFONT handle = CreateFontIndirectA(&font);
    HGDIOBJ previous = SelectObject(canvas.dc, handle);
    SetBkMode(canvas.dc, TRANSPARENT);
    SetTextColor(canvas.dc, colour);
    OffsetRect(&textRect, -origin.x, -origin.y);
    DrawTextA(canvas.dc, text, -1, &textRect, format);
    SelectObject(canvas.dc, previous);
    DeleteObject(handle);
    return canvas.pixels();
}
Pixels crop(const Pixels& pixels, const RECT& area) {
    Pixels out{area.right - area.left, area.bottom - area.top, {}};
    for (int y = area.top; y < area.bottom; y++)
        for (int x = area.left; x < area.right; x++) out.rgb.push_back(pixels.at(x, y));
    return out;
}
int differing(const Pixels& a, const Pixels& b) {
    if (a.width != b.width || a.height != b.height) return -1;
    int count = 0;
    for (size_t i = 0; i < a.rgb.size(); i++) count += a.rgb[i] != b.rgb[i];
    return count;
}
POINT topLeft(const RECT& area) { return POINT{area.left, area.top}; }

// The looks of the button's inside: N normal, P pressed, L busy with its
// label, p busy without, ? anything else; and the status line shown.
struct Looks {
    Pixels normal, pressed, label[4], plain[4];
    Looks() {
        const Pixels white = solid(INSIDE, WHITE), black = solid(INSIDE, BLACK);
        normal = withText(white, topLeft(INSIDE), "Install", 40, 400, BLACK, BUTTON, CENTRED);
        pressed = withText(black, topLeft(INSIDE), "Install", 40, 400, WHITE, BUTTON, CENTRED);
        const Pixels labelled = withText(black, topLeft(INSIDE), "Installing", 40, 400, WHITE,
                                         RECT{BUTTON.left, BUTTON.top, BUTTON.right, BUTTON.bottom - 15}, CENTRED);
        const RECT status = {BUTTON.left, H + 60, BUTTON.right, H + 80};
        for (int s = 0; s < 4; s++) {
            label[s] =
                withText(labelled, topLeft(INSIDE), STAGES[s], 16, 800, WHITE, status, DT_SINGLELINE | DT_CENTER);
            plain[s] = withText(black, topLeft(INSIDE), STAGES[s], 16, 800, WHITE, status, DT_SINGLELINE | DT_CENTER);
        }
    }
    char of(const Pixels& inside, int* stage) const {
        if (differing(inside, normal) == 0) return 'N';
        if (differing(inside, pressed) == 0) return 'P';
        for (*stage = 0; *stage < 4; ++*stage) {
            if (differing(inside, label[*stage]) == 0) return 'L';
            if (differing(inside, plain[*stage]) == 0) return 'p';
        }
        return '?';
    }
};

// A program started by the test, ended by force if it outlives the object.
class Program {
public:
    ~Program() {
        if (running()) TerminateProcess(info_.hProcess, 1), WaitForSingleObject(info_.hProcess, 10000);
        if (info_.hProcess) CloseHandle(info_.hProcess), CloseHandle(info_.hThread);
    }
    bool start(const std::string& program, const std::string& arguments) {
        std::string commandLine = "\"" + program + "\" " + arguments;
        STARTUPINFOA startup = {sizeof startup};
        const BOOL started = CreateProcessA(program.c_str(), &commandLine[0], 0, 0, FALSE, 0, 0, 0, &startup, &info_);
        EXPECT_TRUE(started) << program << " GLE=" << GetLastError();
        return started;
    }
    // Starts it and waits for its window and, when visible, its first painting.
    bool open(const std::string& program, const std::string& arguments) {
        if (!start(program, arguments) || !waitUntil([&] { return (window = windowOf("")) != 0; }, LONG_WAIT))
            return false;
        return waitUntil(
            [&] {
                const Pixels band = grab(window, RECT{0, H, BUTTON.left + 1, H + 100});
                return band.at(5, 5) == WHITE && band.at(BUTTON.left, 50) == BLACK;
            },
            LONG_WAIT);
    }
    bool running() const { return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
    DWORD exitCode(DWORD timeoutMs = LONG_WAIT) const {
        DWORD code = NOT_ENDED;
        if (WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }
    // Its top-level window of a class ("" for the installer's), visible or not.
    HWND windowOf(const char* className) const {
        DWORD owner = 0;
        HWND window = 0;
        while ((window = FindWindowExA(0, window, *className ? className : WINDOW_CLASS, 0)) != 0 &&
               (GetWindowThreadProcessId(window, &owner), owner != info_.dwProcessId)) {}
        return window;
    }
    HWND waitForBox() const {
        HWND box = 0;
        waitUntil([&] { return ((box = windowOf("#32770")) != 0 && IsWindowVisible(box)) || !running(); }, LONG_WAIT);
        return box;
    }
    std::vector<DWORD> threads() const {
        std::vector<DWORD> found;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry = {sizeof entry};
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
            if (entry.th32OwnerProcessID == info_.dwProcessId) found.push_back(entry.th32ThreadID);
        CloseHandle(snapshot);
        return found;
    }
    // Holds the install worker (the one thread below normal priority) still
    // where it runs the installer's own code, never inside a system call,
    // whose locks the window thread may need. The suspended thread, or 0.
    HANDLE tryHoldWorker(const std::string& program) const {
        MODULEENTRY32 module = {sizeof module};
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, info_.dwProcessId);
        bool found = false;
        for (BOOL more = Module32First(snapshot, &module); more && !found; more = Module32Next(snapshot, &module))
            found = lstrcmpiA(module.szModule, fileNameOf(program).c_str()) == 0;
        CloseHandle(snapshot);
        for (DWORD id : threads()) {
            HANDLE thread =
                OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, id);
            if (!thread) continue;
            CONTEXT context = {};
            context.ContextFlags = CONTEXT_CONTROL;
            if (found && id != info_.dwThreadId && GetThreadPriority(thread) == THREAD_PRIORITY_BELOW_NORMAL &&
                SuspendThread(thread) != (DWORD)-1) {
                if (GetThreadContext(thread, &context) &&
                    context.Eip - (DWORD)(UINT_PTR)module.modBaseAddr < module.modBaseSize)
                    return thread;
                ResumeThread(thread);
            }
            CloseHandle(thread);
        }
        return 0;
    }
    HWND window = 0;

private:
    PROCESS_INFORMATION info_ = {};
};

bool sendTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, LONG_WAIT, &result) != 0;
}
void click(HWND window, int x, int y) { EXPECT_TRUE(sendTo(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y))); }
std::string textOf(HWND window) {
    char text[2048] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string linkLog() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + "orlo-app-links.log";
}

class LinkRecorder : public ::testing::Environment {
    void SetUp() override {
        const std::string recorder = "\"" + moduleFolder() + "app_test.exe\" --record-link \"%1\"";
        for (const std::string scheme : {"http", "https"})
            setValue(HKEY_CLASSES_ROOT, scheme + "\\shell\\open\\command", 0, REG_SZ, recorder + '\0');
        setValue(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", "winebrowser.exe", REG_SZ, std::string(1, '\0'));
    }
};
::testing::Environment* const linkRecorder = ::testing::AddGlobalTestEnvironment(new LinkRecorder);

// The addresses opened since the last call, once every recorder has ended.
std::vector<std::string> openedLinks() {
    auto recorders = [] {
        int count = 0;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {sizeof entry};
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
            count += lstrcmpiA(entry.szExeFile, "app_test.exe") == 0 && entry.th32ProcessID != GetCurrentProcessId();
        CloseHandle(snapshot);
        return count;
    };
    EXPECT_TRUE(waitUntil([&] { return recorders() == 0; }, LONG_WAIT));
    const std::string log = readWholeFile(linkLog());
    DeleteFileA(linkLog().c_str());
    std::vector<std::string> links;
    for (size_t start = 0, end; log != "<missing>" && (end = log.find('\n', start)) != std::string::npos;
         start = end + 1)
        links.push_back(log.substr(start, end - start));
    return links;
}
using Links = std::vector<std::string>;

// A copy of the installer whose package is `package`.
std::string installerWith(const ScratchFolder& scratch, const std::string& name, const std::vector<uint8_t>& package) {
    EXPECT_TRUE(copyWithPackage(INSTALLER, scratch / name, package)) << name << " GLE=" << GetLastError();
    return scratch / name;
}

class App : public ::testing::Test {
protected:
    void SetUp() override {
        removeProductTraces();
        places_ = productPlaces();
        openedLinks();
    }
    void TearDown() override { resetSystemCalls(), removeProductTraces(); }
    void expectInstalledBy(const std::string& installer) {
        for (const std::string& name : {std::string("Orlocast.exe"), std::string("readme.txt"), fileNameOf(installer)})
            EXPECT_TRUE(pathExists(places_.target + "\\" + name)) << name;
        EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    }
    Places places_;
    ScratchFolder scratch_{"app"};
};

// Every "-i"/"-u" run ends with its procedure's result, window or not; a
// hidden run shows nothing and opens no link. A -10 (here a folder in the
// way of readme.txt) leaves the files written and no uninstall key; the
// next -i, or a -u, removes them, and the -i after that installs. Left:
// '-' nothing, 'F' the product's program without the key, 'I' both.
TEST_F(App, UnattendedRunsEndWithTheProcedureResult) {
    std::vector<uint8_t> damaged = buildTestPackage(sampleFiles());
    damaged[entryAt(damaged, 0)->offset] ^= 0xFF;
    const std::string damagedInstaller = installerWith(scratch_, "damaged.exe", damaged);
    const std::string shortInstaller = installerWith(scratch_, "short.exe", std::vector<uint8_t>(468, 0));
    // clang-format off
    const struct Run {
        const char* what;
        bool inTheWay;
        std::string installer, arguments;
        DWORD code;
        char left;
    } runs[] = {
        {"-u with nothing installed does nothing", false, INSTALLER, "-h -u", 0, '-'},
        {"a damaged package, hidden", false, damagedInstaller, "-h -i", (DWORD)-10, '-'},
        {"a damaged package, shown", false, damagedInstaller, "-i", (DWORD)-10, '-'},
        {"a folder in the way", true, INSTALLER, "-h -i", (DWORD)-10, 'F'},
        {"-u removes what is left", false, INSTALLER, "-h -u", 0, '-'},
        {"-i installs", false, INSTALLER, "-h -i", 0, 'I'},
        {"no package header, shown: -1 for -u as well", false, shortInstaller, "-u", (DWORD)-1, 'I'},
        {"no package header, hidden", false, shortInstaller, "-h -i", (DWORD)-1, 'I'},
        {"-i with the product installed removes it", false, INSTALLER, "-h -i", 0, '-'},
        {"a folder in the way again", true, INSTALLER, "-h -i", (DWORD)-10, 'F'},
        {"the next -i removes what is left", false, INSTALLER, "-h -i", 0, '-'},
        {"the one after installs", false, INSTALLER, "-h -i", 0, 'I'},
    };
    // clang-format on
    for (const Run& run : runs) {
        if (run.inTheWay)
            for (const std::string& folder : {places_.fm, places_.target, places_.target + "\\readme.txt"})
                CreateDirectoryA(folder.c_str(), 0);
        Program setup;
        ASSERT_TRUE(setup.start(run.installer, run.arguments));
        bool boxShown = false;
        waitUntil([&] { return (boxShown |= setup.windowOf("#32770") != 0), !setup.running(); }, LONG_WAIT);
        EXPECT_EQ(run.code, setup.exitCode()) << run.what;
        EXPECT_EQ(run.left != '-', pathExists(places_.target + "\\Orlocast.exe")) << run.what;
        EXPECT_EQ(run.left == 'I', keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY)) << run.what;
        if (run.arguments[1] == 'h') EXPECT_FALSE(boxShown) << run.what;
    }
    EXPECT_EQ(Links{}, openedLinks()) << "a failed or hidden run opens no link";
    EXPECT_EQ("0", valueOf(HKEY_CURRENT_USER, PRODUCT_SETTINGS_KEY, "SysTray"));
}

// A stored link opens when its text and terminator fit the 512-byte buffer:
// 511 bytes, not 512.
TEST_F(App, StoredLinksOfAtMost511BytesOpen) {
    for (int length : {511, 512}) {
        std::vector<unsigned char> link(length, 'x');
        memcpy(link.data(), "http://a.example/", 17);
        scrambleLinkBytes(LINK_SEED, link.data(), length);
        openStoredLink(&installerState, link.data(), length);
        EXPECT_EQ(length == 511 ? Links{"http://a.example/" + std::string(494, 'x')} : Links{}, openedLinks())
            << length;
    }
}

// The lock is the mutex of exactly this name: held by anyone, every
// installer ends at once with -1; a name differing in case is another lock.
TEST_F(App, AnInstallerEndsAtOnceWhileTheLockIsHeld) {
    std::string lower = MUTEX;
    lower[0] = 'f';
    for (const std::string& name : {std::string(MUTEX), lower}) {
        HANDLE mutex = CreateMutexA(0, TRUE, name.c_str());
        Program setup;
        ASSERT_TRUE(setup.start(INSTALLER, "-h -u"));
        EXPECT_EQ(name == MUTEX ? 0xFFFFFFFFu : 0u, setup.exitCode()) << name;
        CloseHandle(mutex);
    }
    // "-h" alone waits, holding the lock, until its window is closed from
    // outside; its window, answering from the message loop, was never shown.
    Program first, second;
    ASSERT_TRUE(first.start(INSTALLER, "-h"));
    ASSERT_TRUE(waitUntil([&] { return first.windowOf("") != 0; }, LONG_WAIT));
    EXPECT_TRUE(sendTo(first.windowOf(""), WM_NULL, 0, 0));
    EXPECT_FALSE(IsWindowVisible(first.windowOf("")));
    ASSERT_TRUE(second.start(INSTALLER, "-i"));
    EXPECT_EQ(0xFFFFFFFFu, second.exitCode());
    EXPECT_WIN32(PostMessageA(first.windowOf(""), WM_CLOSE, 0, 0));
    EXPECT_EQ(0u, first.exitCode());
    EXPECT_FALSE(pathExists(places_.fm));
}

std::vector<HWND> destroyRequests;
LRESULT CALLBACK bystander(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY || message == WM_CLOSE) destroyRequests.push_back(message == WM_CLOSE ? 0 : window);
    return DefWindowProcA(window, message, wParam, lParam);
}

// Running copies of the product are asked to end with WM_DESTROY: only
// windows titled exactly "OrloCast".
TEST(StartUp, OnlyTheProductsExactTitleIsAskedToClose) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = bystander;
    windowClass.lpszClassName = "OrloTestBystander";
    RegisterClassA(&windowClass);
    std::vector<HWND> windows;
    for (const char* title : {"OrloCast", "orlocast", "OrloCast2", " OrloCast"})
        windows.push_back(CreateWindowExA(0, "OrloTestBystander", title, WS_OVERLAPPED, 0, 0, 9, 9, 0, 0, 0, 0));
    closeRunningProduct("OrloCast");
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    EXPECT_EQ(std::vector<HWND>{windows[0]}, destroyRequests);
    for (HWND window : windows) DestroyWindow(window);
}

// The operating-system line for the version this prefix reports, from the
// test's own table.
const char* expectedOsLine() {
    OSVERSIONINFOEXA v = {};
    v.dwOSVersionInfoSize = sizeof v;
    GetVersionExA((OSVERSIONINFOA*)&v);
    // clang-format off
    const struct {
        DWORD major, minor;
        int workstation;  // -1: either
        const char* line;
    } table[] = {{5, 0, -1, "O/S: < XP"}, {5, 1, -1, "O/S: WIN XP"}, {5, 2, -1, "O/S: unknown"}, {6, 0, -1, "O/S: VISTA"},
                 {6, 1, 1, "O/S: WIN7"},  {6, 1, 0, "O/S: VISTA"},   {6, 2, -1, "O/S: > WIN7"},  {6, 3, -1, "O/S: > WIN7"},
                 {10, 0, -1, "O/S: > WIN7"}};
    // clang-format on
    for (const auto& row : table)
        if (row.major == v.dwMajorVersion && row.minor == v.dwMinorVersion &&
            (row.workstation < 0 || row.workstation == (v.wProductType == VER_NT_WORKSTATION)))
            return row.line;
    ADD_FAILURE() << "no expected line for Windows " << v.dwMajorVersion << "." << v.dwMinorVersion;
    return "";
}

// The picture with its system line, the band with its two lines, and the
// button: a black outline, white inside but for the label.
void expectWindow(HWND window, bool installed) {
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(W, client.right);
    EXPECT_EQ(H + 100, client.bottom);
    const Pixels shown = grab(window, CLIENT);
    HMODULE module = LoadLibraryExA(INSTALLER.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
    HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(101));
    Canvas picture(W, H);
    HDC source = CreateCompatibleDC(0);
    HGDIOBJ previous = SelectObject(source, bitmap);
    BitBlt(picture.dc, 0, 0, W, H, source, 0, 0, SRCCOPY);
    SelectObject(source, previous), DeleteDC(source), DeleteObject(bitmap), FreeLibrary(module);
    const Pixels image = picture.pixels();
    const Pixels withLine =
        withText(image, POINT{0, 0}, expectedOsLine(), 16, 800, GREY, RECT{15, 10, W, H}, DT_SINGLELINE);
    EXPECT_GT(differing(withLine, image), 50) << "the line is drawn where it is looked for";
    EXPECT_EQ(0, differing(withLine, crop(shown, RECT{0, 0, W, H}))) << "the picture and the line " << expectedOsLine();

    const RECT band = {0, H, W, H + 100}, bandLeft = {0, H, BUTTON.left - 1, H + 100};
    Pixels expected =
        withText(solid(band, WHITE), topLeft(band),
                 installed ? "Orlo-Cast is already installed..." : "Ready to install ? Click the button right there...",
                 16, 800, BLACK, RECT{20, H + 30, W, H + 100}, DT_SINGLELINE);
    expected = withText(expected, topLeft(band),
                        installed ? "previous version has to be removed before installing new one..."
                                  : "it will install Fenmarch Orlo-Cast on your system...",
                        16, 800, GREY, RECT{20, H + 50, W, H + 100}, DT_SINGLELINE);
    EXPECT_EQ(0, differing(crop(expected, RECT{0, 0, bandLeft.right, 100}), crop(shown, bandLeft)))
        << "band and its lines";
    int notBlack = 0;  // the straight parts of the outline
    for (int y = BUTTON.top + 6; y <= BUTTON.bottom - 6; y++)
        notBlack += (shown.at(BUTTON.left, y) != BLACK) + (shown.at(BUTTON.right, y) != BLACK);
    for (int x = BUTTON.left + 6; x <= BUTTON.right - 6; x++)
        notBlack += (shown.at(x, BUTTON.top) != BLACK) + (shown.at(x, BUTTON.bottom) != BLACK);
    EXPECT_EQ(0, notBlack) << "outline pixels that are not black";
    const Pixels label = withText(solid(INSIDE, WHITE), topLeft(INSIDE), installed ? "Remove" : "Install", 40, 400,
                                  BLACK, BUTTON, CENTRED);
    EXPECT_EQ(0, differing(label, crop(shown, INSIDE))) << "the button's inside";
}

TEST_F(App, IdleWindowClicksAndKeys) {
    Program setup;
    ASSERT_TRUE(setup.open(INSTALLER, ""));
    EXPECT_EQ("Fenmarch Orlo-Cast Installation (Version 1.0.0.1)", textOf(setup.window));
    expectWindow(setup.window, false);

    // The band outside the button and the button's edges do nothing; the
    // picture opens its link.
    const std::vector<DWORD> threads = setup.threads();
    for (const POINT& p :
         {POINT{300, H + 50}, POINT{BUTTON.left, BUTTON.top + 30}, POINT{BUTTON.right, BUTTON.top + 30},
          POINT{BUTTON.left + 100, BUTTON.top}, POINT{BUTTON.left + 100, BUTTON.bottom}})
        click(setup.window, p.x, p.y);
    EXPECT_EQ(threads, setup.threads()) << "a click outside the button started the worker";
    EXPECT_EQ(Links{}, openedLinks());
    click(setup.window, 300, 200);
    EXPECT_EQ(Links{ORLO_PICTURE_LINK_TEXT}, openedLinks());
    EXPECT_WIN32(PostMessageA(setup.window, WM_KEYDOWN, VK_ESCAPE, 0));
    EXPECT_EQ(0u, setup.exitCode());
    EXPECT_FALSE(pathExists(places_.fm));
}

// A click just inside the button's corner starts the install; the worker is
// held so that the busy box can be watched: it blinks every 500 ms and
// refuses everything but its own end. The link opens before the success
// box, which the window waits for.
TEST_F(App, BusyBoxBlinksEveryHalfSecondAndRefusesEverything) {
    std::vector<TestFile> files = sampleFiles();
    files[0].bytes.assign(24 << 20, 0);
    const std::string large = installerWith(scratch_, "large.exe", buildTestPackage(files));
    Program setup;
    ASSERT_TRUE(setup.open(large, ""));
    const Looks looks;
    std::string seen;  // one letter per frame
    std::vector<DWORD> changes;
    HANDLE worker = 0;
    DWORD heldSince = 0;
    int stage = -1;
    std::string heldStages;  // the status line of each busy frame a tick after the worker was held
    ASSERT_WIN32(
        PostMessageA(setup.window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(BUTTON.right - 1, BUTTON.bottom - 1)));
    waitUntil(
        [&] {
            const char look = looks.of(grab(setup.window, INSIDE), &stage);
            if (worker && !seen.empty() && look != seen.back()) changes.push_back(GetTickCount());
            if (worker && GetTickCount() - heldSince > 600 && (look == 'L' || look == 'p'))
                heldStages += (char)('0' + stage);
            seen += look;
            // A hold inside the status lock freezes the window, which reads the status under it: retry.
            if (worker && changes.empty() && GetTickCount() - heldSince > 3000)
                ResumeThread(worker), CloseHandle(worker), worker = 0, heldStages.clear(), changes.clear();
            if (!worker && (worker = setup.tryHoldWorker(large)) != 0) heldSince = GetTickCount();
            // Watched until it has blinked often enough: load only makes that take longer.
            return worker && GetTickCount() - heldSince > 3000 && changes.size() >= 7;
        },
        LONG_WAIT);
    ASSERT_TRUE(worker != 0) << "the install worker was never caught";
    const size_t busy = seen.find_first_of("Lp");
    // A grab may meet a frame half drawn; only a look that stays unknown is wrong.
    EXPECT_EQ(std::string::npos, seen.find("??")) << seen;
    ASSERT_NE(std::string::npos, busy) << seen;
    EXPECT_EQ(std::string::npos, seen.find('P', busy)) << "pressed again once busy: " << seen;
    ASSERT_FALSE(heldStages.empty()) << seen;
    EXPECT_EQ(std::string(heldStages.size(), heldStages[0]), heldStages) << "the held worker's status changed";
    // The period between look changes, as a median, is half a second.
    ASSERT_GE(changes.size(), 4u) << "the busy box does not blink: " << seen;
    std::vector<DWORD> periods;
    for (size_t i = 1; i < changes.size(); i++) periods.push_back(changes[i] - changes[i - 1]);
    std::sort(periods.begin(), periods.end());
    EXPECT_NEAR(550, (int)periods[periods.size() / 2], 250) << "blink period";

    const std::vector<DWORD> threads = setup.threads();
    EXPECT_TRUE(sendTo(setup.window, WM_KEYDOWN, VK_RETURN, 0));
    click(setup.window, BUTTON.left + 150, BUTTON.top + 30);
    click(setup.window, 300, 200);
    EXPECT_TRUE(sendTo(setup.window, WM_CLOSE, 0, 0));
    EXPECT_WIN32(PostMessageA(setup.window, WM_KEYDOWN, VK_ESCAPE, 0));
    EXPECT_EQ(threads, setup.threads()) << "a second worker was started";
    EXPECT_EQ(Links{}, openedLinks()) << "a click on the picture while busy opened a link";
    EXPECT_EQ(NOT_ENDED, setup.exitCode(1000)) << "the window closed while busy";
    ResumeThread(worker);
    CloseHandle(worker);
    HWND box = setup.waitForBox();
    ASSERT_TRUE(box != 0);
    EXPECT_EQ(Links{ORLO_COMPLETION_LINK_TEXT}, openedLinks());
    EXPECT_EQ("Success", textOf(box));
    EXPECT_EQ("Installation Complete and Successful !", textOf(GetDlgItem(box, 0xFFFF)));
    EXPECT_EQ(setup.window, GetWindow(box, GW_OWNER));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0u, setup.exitCode());
    expectInstalledBy(large);
}

// Installed: the window offers removal, and Enter removes without a box; a
// failed removal shows its error, then the window closes. A hidden window
// told Enter from outside runs one procedure and closes, its failure too.
TEST_F(App, InstalledProductIsOfferedForRemovalAndRemovedOnce) {
    const std::string broken = installerWith(scratch_, "short.exe", std::vector<uint8_t>(468, 0));
    for (const std::string& run : {"shown", "shown, failing", "hidden, failing"}) {
        Program install, setup;
        ASSERT_TRUE(install.start(INSTALLER, "-h -i"));
        ASSERT_EQ(0u, install.exitCode());
        const bool hidden = run[0] == 'h', failing = run.back() == 'g';
        if (hidden) {
            ASSERT_TRUE(setup.start(broken, "-h"));
            ASSERT_TRUE(waitUntil([&] { return (setup.window = setup.windowOf("")) != 0; }, LONG_WAIT));
        } else {
            ASSERT_TRUE(setup.open(failing ? broken : INSTALLER, ""));
            if (!failing) expectWindow(setup.window, true);
        }
        EXPECT_WIN32(PostMessageA(setup.window, WM_KEYDOWN, VK_RETURN, 0));
        // A box counts once visible: before that its title and text may not be set yet.
        const HWND box = setup.waitForBox();
        EXPECT_EQ(run == "shown, failing", box != 0) << run;
        if (box) {
            EXPECT_EQ("Orlo-Cast Uninstallation Error", textOf(box));
            EXPECT_EQ(
                "De-Installation package might be corrupted\nthanks to download official package at\n"
                "www.fenmarch.example.",
                textOf(GetDlgItem(box, 0xFFFF)));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        EXPECT_EQ(0u, setup.exitCode()) << run << ": the window did not close after its one procedure";
        EXPECT_EQ(failing, pathExists(places_.target + "\\Orlocast.exe")) << run;
        removeProductTraces();
    }
}

InstallerState shared;
volatile LONG readerDone = 0;

DWORD WINAPI rewriteStages(LPVOID) {
    for (int i = 0; !readerDone; i++) setStatusText(&shared, STAGES[i % 4]);
    return 0;
}

// The writer rewrites until the reader has seen every stage and made many
// copies: progress, not time, ends both.
TEST(StatusText, ReaderOnlyEverSeesWholeStageTexts) {
    clearInstallerState(&shared, 0);
    setStatusText(&shared, STAGES[0]);
    HANDLE writer = CreateThread(0, 0, rewriteStages, 0, 0, 0);
    std::set<std::string> seen;
    for (int copies = 0; copies < 200000 || seen.size() < 4; copies++) {
        char copy[STATUS_TEXT_SIZE];
        copyStatusText(&shared, copy, sizeof copy);
        seen.insert(copy);
    }
    InterlockedExchange(&readerDone, 1);
    WaitForSingleObject(writer, INFINITE);
    CloseHandle(writer);
    for (const std::string& text : seen) EXPECT_EQ(1, std::count(STAGES, STAGES + 4, text)) << "torn: " << text;
}

HANDLE WINAPI noThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) { return 0; }

// What the first message box of this thread showed, read on a thread timer
// (its modal loop runs them) and closed; a window that has not ended a
// minute after the start is told to quit with 12345.
struct BoxSeen {
    DWORD start, after;
    std::string caption, text;
    HICON icon;
} seen;
VOID CALLBACK readAndCloseBox(HWND, UINT, UINT_PTR, DWORD) {
    const HWND box = FindWindowA("#32770", 0);
    if (seen.caption.empty() && box && GetWindowThreadProcessId(box, 0) == GetCurrentThreadId() &&
        IsWindowVisible(box)) {
        seen.after = GetTickCount() - seen.start;
        seen.caption = textOf(box), seen.text = textOf(GetDlgItem(box, 0xFFFF));
        for (HWND child = 0; !seen.icon && (child = FindWindowExA(box, child, "Static", 0)) != 0;)
            seen.icon = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    } else if (GetTickCount() - seen.start > LONG_WAIT) {
        PostQuitMessage(12345);
    }
}

// The window's own code, in this process: the hand cursor over the picture
// only; a worker that cannot start, the button pressed 200 ms before, and a
// successful install each show their box, after which the window closes.
TEST_F(App, TheWindowsBoxesAndCursorInThisProcess) {
    const HINSTANCE self = GetModuleHandleA(0);
    // clang-format off
    const struct {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        const char *caption, *text;
        LPCSTR icon;
        DWORD atLeast;
    } boxes[] = {
        {WM_KEYDOWN, VK_RETURN, 0, "Orlo-Cast Installation Error", "Failed to launch Procedure...", IDI_HAND, 200},
        {WM_COMMAND, CMD_PROCEDURE_DONE, DONE_OK, "Success", "Installation Complete and Successful !", IDI_EXCLAMATION, 0},
    };
    // clang-format on
    systemCalls.createThread = noThread;
    for (const auto& expected : boxes) {
        clearInstallerState(&installerState, self);
        const HWND window = createMainWindow(self, "OrloTest");
        ASSERT_TRUE(window != 0);
        for (int y : {0, H - 1, H, H + 99}) {
            SetCursor(LoadCursorA(0, (LPCSTR)IDC_ARROW));
            SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(300, y));
            EXPECT_EQ(y < H, GetCursor() == LoadCursorA(0, (LPCSTR)IDC_HAND)) << y;
        }
        seen = {GetTickCount(), 0, "", "", 0};
        const UINT_PTR timer = SetTimer(0, 0, 10, readAndCloseBox);
        PostMessageA(window, expected.message, expected.wParam, expected.lParam);
        MSG message;  // until the window's end posts the quit message
        while (GetMessageA(&message, 0, 0, 0) > 0) DispatchMessageA(&message);
        KillTimer(0, timer);
        EXPECT_NE(12345u, message.wParam) << "the window did not close after " << expected.text;
        EXPECT_EQ(expected.caption, seen.caption);
        EXPECT_EQ(expected.text, seen.text);
        EXPECT_TRUE(seen.icon && seen.icon == LoadIconA(0, expected.icon)) << expected.text;
        EXPECT_GE(seen.after, expected.atLeast) << expected.text;
        DestroyWindow(window);
        PeekMessageA(&message, 0, WM_QUIT, WM_QUIT, PM_REMOVE);
        UnregisterClassA(MAIN_WINDOW_CLASS, self);
    }
    resetSystemCalls();
    EXPECT_EQ(Links{ORLO_COMPLETION_LINK_TEXT}, openedLinks());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--record-link") {
        HANDLE log =
            CreateFileA(linkLog().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_ALWAYS, 0, 0);
        const std::string line = std::string(argv[2]) + "\n";  // one write, so that lines never mix
        DWORD written = 0;
        return log != INVALID_HANDLE_VALUE && WriteFile(log, line.data(), (DWORD)line.size(), &written, 0) ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
