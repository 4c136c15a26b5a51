// The finished OrloCastSetup.exe, driven the way a user and a deployment
// tool drive it: unattended runs and their exit codes, the single-instance
// lock, a running product asked to close, the window's picture, texts,
// button and cursor, keys and clicks, the blinking busy box, the message
// boxes, and the web links it opens.
//
// Links never reach a browser: for the whole run the prefix's http and https
// handler is link_recorder.exe, which writes each address it is given into a
// log of this test, and Wine's own winebrowser is switched off.
#include <windows.h>
#include <gtest/gtest.h>
#include <shellapi.h>

#include <iostream>

#include "app/installer_state.h"
#include "app/main_window.h"
#include "platform/platform_ops.h"
#include "setup/procedures.h"
#include "tests/support/win32_driver.h"
#include "tests/support/win32_scratch.h"

using namespace orlotest;

namespace {

const std::string INSTALLER = hostPathToWine(ORLO_INSTALLER_EXE);
const std::string DAMAGED_INSTALLER = hostPathToWine(ORLO_DAMAGED_INSTALLER_EXE);
const std::string LARGE_INSTALLER = hostPathToWine(ORLO_LARGE_INSTALLER_EXE);
const std::string PRODUCT = hostPathToWine(ORLO_PRODUCT_EXE);
const std::string SCREENSHOTS = hostPathToWine(ORLO_SCREENSHOT_DIR);

// Layout of the window with the shipped 900 x 424 picture.
const int W = 900, H = 424;
const RECT BUTTON = {W - 320, H + 20, W - 20, H + 80};
const RECT BUTTON_OUTLINE = {W - 320, H + 20, W - 19, H + 81};
// The button's outline runs along columns 580 and 880 and rows 444 and 504;
// inside it, three pixels clear of the rounded corners, lie its looks.
const RECT BOX_INSIDE = {BUTTON.left + 3, BUTTON.top + 3, BUTTON.right - 2, BUTTON.bottom - 2};
// Pixels are 0x00RRGGBB, colours for GDI 0x00BBGGRR: these three read alike.
const uint32_t WHITE = 0xFFFFFF, BLACK = 0, GREY = 0x646464;
const UINT CENTRED = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
const char* const STAGES[4] = {"Extract Package", "Copy Files", "Finalize Installation", "Installation Completed"};

const DWORD LONG_WAIT = 60000;

std::string fileName(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }
std::string parentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

std::string architecture() {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    IsWow64ProcessFn isWow64 =
        (IsWow64ProcessFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64 ? "win64" : "win32";
}

std::string screenshotPath(const std::string& name) {
    CreateDirectoryA(SCREENSHOTS.c_str(), 0);
    return SCREENSHOTS + "\\" + architecture() + "-" + name + ".bmp";
}

void saveScreenshot(const Pixels& pixels, const std::string& name) {
    EXPECT_TRUE(saveBmp(pixels, screenshotPath(name))) << name;
}

// ---- Registry values replaced for the run ------------------------------------

// A registry string value that the run replaces and puts back. What it held
// is kept under BACKUP_KEY as well, so that a run that was killed half-way
// is repaired by the next one.
const char* const BACKUP_KEY = "Software\\OrloTest-AppTest";
struct ReplacedValue {
    HKEY root;
    const char* key;
    const char* name;  // 0 for the key's default value
    const char* backupName;
};
const ReplacedValue HTTP_HANDLER = {HKEY_CLASSES_ROOT, "http\\shell\\open\\command", 0, "http"};
const ReplacedValue HTTPS_HANDLER = {HKEY_CLASSES_ROOT, "https\\shell\\open\\command", 0, "https"};
const ReplacedValue WINEBROWSER = {HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", "winebrowser.exe",
                                   "winebrowser"};

void replaceValue(const ReplacedValue& value, const std::string& text) {
    HKEY backup, key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, BACKUP_KEY, 0, 0, 0, KEY_ALL_ACCESS, 0, &backup, 0));
    if (RegQueryValueExA(backup, value.backupName, 0, 0, 0, 0) != ERROR_SUCCESS) {
        char old[2048];
        DWORD size = sizeof old, type = 0;
        HKEY current;
        LONG status = RegOpenKeyExA(value.root, value.key, 0, KEY_READ, &current);
        if (status == ERROR_SUCCESS) {
            status = RegQueryValueExA(current, value.name, 0, &type, (BYTE*)old, &size);
            RegCloseKey(current);
        }
        const DWORD absent = 0;  // a number: there was no value
        if (status == ERROR_SUCCESS && type == REG_SZ)
            RegSetValueExA(backup, value.backupName, 0, REG_SZ, (BYTE*)old, size);
        else
            RegSetValueExA(backup, value.backupName, 0, REG_DWORD, (const BYTE*)&absent, sizeof absent);
    }
    RegCloseKey(backup);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(value.root, value.key, 0, 0, 0, KEY_SET_VALUE, 0, &key, 0));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, value.name, 0, REG_SZ, (const BYTE*)text.c_str(), text.size() + 1));
    RegCloseKey(key);
}

void restoreValue(const ReplacedValue& value) {
    HKEY backup, key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, BACKUP_KEY, 0, KEY_ALL_ACCESS, &backup) != ERROR_SUCCESS) return;
    char old[2048];
    DWORD size = sizeof old, type = 0;
    if (RegQueryValueExA(backup, value.backupName, 0, &type, (BYTE*)old, &size) == ERROR_SUCCESS &&
        RegOpenKeyExA(value.root, value.key, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        if (type == REG_SZ)
            EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, value.name, 0, REG_SZ, (BYTE*)old, size));
        else
            RegDeleteValueA(key, value.name);
        RegCloseKey(key);
    }
    RegDeleteValueA(backup, value.backupName);
    DWORD valuesLeft = 1;
    RegQueryInfoKeyA(backup, 0, 0, 0, 0, 0, 0, &valuesLeft, 0, 0, 0, 0);
    RegCloseKey(backup);
    if (valuesLeft == 0) RegDeleteKeyA(HKEY_CURRENT_USER, BACKUP_KEY);
}

// ---- Opened links ------------------------------------------------------------

ScratchFolder* linkFolder = 0;

std::string linkLog() { return *linkFolder / "links.log"; }

// The addresses opened so far, once every recorder that was started has
// written its line.
std::vector<std::string> openedLinks() {
    EXPECT_TRUE(waitUntil([] { return processCount("link_recorder.exe") == 0; }, LONG_WAIT));
    const std::string log = readWholeFile(linkLog());
    std::vector<std::string> links;
    if (log == "<missing>") return links;
    size_t start = 0;
    for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
        links.push_back(log.substr(start, end - start));
    return links;
}

class LinkRecorder : public ::testing::Environment {
public:
    void SetUp() override {
        linkFolder = new ScratchFolder("app-links");
        SetEnvironmentVariableA("ORLO_LINK_LOG", linkLog().c_str());
        const std::string command = "\"" + moduleFolder() + "link_recorder.exe\" \"%1\"";
        replaceValue(HTTP_HANDLER, command);
        replaceValue(HTTPS_HANDLER, command);
        replaceValue(WINEBROWSER, "");  // empty: never load it
    }
    void TearDown() override {
        restoreValue(HTTP_HANDLER);
        restoreValue(HTTPS_HANDLER);
        restoreValue(WINEBROWSER);
        delete linkFolder;
        linkFolder = 0;
    }
};
::testing::Environment* const linkRecorder = ::testing::AddGlobalTestEnvironment(new LinkRecorder);

// The recorder stands where a browser would, and nothing reaches Wine's
// browser bridge: without this, "no link was opened" would prove nothing.
TEST(LinkHarness, WebAddressesGoToTheRecorderOnly) {
    DeleteFileA(linkLog().c_str());
    EXPECT_GT((INT_PTR)ShellExecuteA(0, "open", "https://harness.example/check", 0, 0, SW_SHOW), 32);
    EXPECT_EQ(std::vector<std::string>{"https://harness.example/check"}, openedLinks());

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    char command[] = "winebrowser.exe";
    const BOOL started = CreateProcessA(0, command, 0, 0, FALSE, 0, 0, 0, &startup, &process);
    if (started) {
        TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    EXPECT_FALSE(started) << "winebrowser.exe can still be started";
    DeleteFileA(linkLog().c_str());
}

// ---- What the product leaves on the machine -----------------------------------

std::string targetFolder() {
    static InstallerState probe;
    clearInstallerState(&probe, 0);
    resolveTargetFolder(&probe, PRODUCT_FOLDER);
    return probe.targetFolder;
}

// A value under HKEY_CURRENT_USER as text (a number in decimal); "" when missing.
std::string userValue(const char* path, const char* name) {
    char value[1024] = "";
    DWORD size = sizeof value - 1, type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
    const LONG status = RegQueryValueExA(key, name, 0, &type, (BYTE*)value, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "";
    return type == REG_DWORD ? std::to_string(*(DWORD*)value) : std::string(value);
}

std::string userProgramsFolder() { return userValue(SHELL_FOLDERS_KEY, "Programs"); }

bool keyExists(HKEY root, const char* path) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

const char* const UNINSTALL_KEY = UNINSTALL_PARENT_KEY "\\" UNINSTALL_KEY_NAME;

// Every place of the product that exists now, named.
std::vector<std::string> productTraces() {
    std::vector<std::string> found;
    const std::string places[] = {parentOf(targetFolder()), userProgramsFolder() + "\\Fen March",
                                  std::string(getCommonProgramsFolder()) + "\\Fen March"};
    for (const std::string& place : places)
        if (pathExists(place)) found.push_back(place);
    if (keyExists(HKEY_CURRENT_USER, "Fen March")) found.push_back("HKCU\\Fen March");
    if (keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY)) found.push_back("HKLM uninstall key");
    return found;
}

void removeProductTraces() {
    removeTree(parentOf(targetFolder()));
    removeTree(userProgramsFolder() + "\\Fen March");
    removeTree(std::string(getCommonProgramsFolder()) + "\\Fen March");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Fen March\\Orlo-Cast");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Fen March");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
}

// The files of a complete install made by `installer`.
void expectInstalledBy(const std::string& installer) {
    const std::string target = targetFolder();
    for (const std::string& name : {std::string("Orlocast.exe"), std::string("readme.txt"),
                                    std::string("OrloCastOnTheShow.pdf"), fileName(installer)})
        EXPECT_TRUE(pathExists(target + "\\" + name)) << name << " missing in " << target;
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
}

// ---- The installer as a running program ---------------------------------------

uint32_t screenPixel(HWND window, int x, int y) {
    POINT point = {x, y};
    ClientToScreen(window, &point);
    HDC screen = GetDC(0);
    const COLORREF colour = GetPixel(screen, point.x, point.y);
    ReleaseDC(0, screen);
    return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

struct Installer : ChildProcess {
    HWND window = 0;
    // Starts the program and waits for its window, and when it is visible,
    // for its first painting to reach the screen.
    bool open(const std::string& program, const std::string& arguments) {
        if (!start(program, arguments)) return false;
        window = waitForWindow(id(), MAIN_WINDOW_CLASS, LONG_WAIT);
        if (!window) return false;
        return waitUntil(
            [&] {
                return screenPixel(window, 5, H + 5) == WHITE && screenPixel(window, BUTTON.left, H + 50) == BLACK;
            },
            LONG_WAIT);
    }
};

// Waits for the end; tells whether a window of it was ever visible meanwhile.
DWORD runToEnd(const ChildProcess& process, bool* showedWindow) {
    *showedWindow = false;
    waitUntil(
        [&] {
            for (HWND window : windowsOf(process.id(), 0))
                if (IsWindowVisible(window)) *showedWindow = true;
            return !process.running();
        },
        LONG_WAIT);
    return process.exitCode(0);
}

HWND waitForBox(const ChildProcess& process) {
    HWND box = 0;
    waitUntil(
        [&] {
            for (HWND window : windowsOf(process.id(), "#32770"))
                if (IsWindowVisible(window)) box = window;
            return box != 0 || !process.running();
        },
        LONG_WAIT);
    return box;
}

std::string boxText(HWND box) { return windowText(GetDlgItem(box, 0xFFFF)); }

void dismiss(HWND box) { EXPECT_WIN32(PostMessageA(box, WM_COMMAND, IDOK, 0)); }

bool sendTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, LONG_WAIT, &result) != 0;
}

void click(HWND window, int x, int y) { EXPECT_TRUE(sendTo(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y))); }

// The install worker: the installer's one thread besides its first that
// runs below normal priority.
DWORD workerThread(const ChildProcess& process) {
    for (DWORD id : threadsOf(process.id())) {
        if (id == process.firstThread()) continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        const int priority = thread ? GetThreadPriority(thread) : THREAD_PRIORITY_ERROR_RETURN;
        if (thread) CloseHandle(thread);
        if (priority == THREAD_PRIORITY_BELOW_NORMAL) return id;
    }
    return 0;
}

// One attempt to hold the install worker still. It is stopped only where it
// runs the installer's own code, never inside a system call, whose locks
// (the heap, the loader) the window thread may need to go on drawing. The
// suspended thread, or 0.
HANDLE tryHoldWorker(const ChildProcess& process, const std::string& program) {
    DWORD base = 0, size = 0;
    const DWORD id = workerThread(process);
    if (!id || !moduleRange(process.id(), fileName(program).c_str(), &base, &size)) return 0;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, id);
    if (!thread) return 0;
    if (SuspendThread(thread) != (DWORD)-1) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        if (GetThreadContext(thread, &context) && context.Eip - base < size) return thread;
        ResumeThread(thread);
    }
    CloseHandle(thread);
    return 0;
}

HANDLE holdWorker(const ChildProcess& process, const std::string& program) {
    HANDLE held = 0;
    waitUntil([&] { return (held = tryHoldWorker(process, program)) != 0 || !process.running(); }, LONG_WAIT);
    return held;
}

void releaseWorker(HANDLE thread) {
    ResumeThread(thread);
    CloseHandle(thread);
}

// ---- Expected pixels ----------------------------------------------------------

const char* expectedOsLine() {
    switch (classifyOs()) {
        case 0: return "O/S: < XP";
        case 1: return "O/S: WIN XP";
        case 3: return "O/S: VISTA";
        case 4: return "O/S: WIN7";
        case 5: case 6: case 7: case 8: return "O/S: > WIN7";
        default: return "O/S: unknown";
    }
}

Pixels pictureOf(const std::string& program, const RECT& area) {
    HMODULE module = LoadLibraryExA(program.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
    HBITMAP bitmap = module ? LoadBitmapA(module, MAKEINTRESOURCEA(101)) : 0;
    EXPECT_TRUE(bitmap != 0) << "bitmap 101 of " << program << " GLE=" << GetLastError();
    Pixels pixels = bitmap ? bitmapPixels(bitmap, area) : solid(area.right - area.left, area.bottom - area.top, 0);
    if (bitmap) DeleteObject(bitmap);
    if (module) FreeLibrary(module);
    return pixels;
}

POINT topLeft(const RECT& area) { return POINT{area.left, area.top}; }

// The looks of the button's inside (BOX_INSIDE).
enum Look { LOOK_OTHER, LOOK_NORMAL, LOOK_PRESSED, LOOK_BUSY_LABEL, LOOK_BUSY_PLAIN };

struct ButtonLooks {
    Pixels normal, pressed, label[4], plain[4];

    ButtonLooks() {
        const int w = BOX_INSIDE.right - BOX_INSIDE.left, h = BOX_INSIDE.bottom - BOX_INSIDE.top;
        const POINT at = topLeft(BOX_INSIDE);
        normal = withText(solid(w, h, WHITE), at, "Install", 40, 400, BLACK, BUTTON, CENTRED);
        pressed = withText(solid(w, h, BLACK), at, "Install", 40, 400, WHITE, BUTTON, CENTRED);
        const RECT labelRect = {BUTTON.left, BUTTON.top, BUTTON.right, BUTTON.bottom - 15};
        const RECT statusRect = {BUTTON.left, H + 60, BUTTON.right, H + 80};
        const Pixels labelled = withText(solid(w, h, BLACK), at, "Installing", 40, 400, WHITE, labelRect,
                                         CENTRED);
        for (int s = 0; s < 4; s++) {
            const UINT format = DT_SINGLELINE | DT_CENTER;
            label[s] = withText(labelled, at, STAGES[s], 16, 800, WHITE, statusRect, format);
            plain[s] = withText(solid(w, h, BLACK), at, STAGES[s], 16, 800, WHITE, statusRect, format);
        }
    }
    Look classify(const Pixels& inside, int* stage) const {
        if (differingPixels(inside, normal) == 0) return LOOK_NORMAL;
        if (differingPixels(inside, pressed) == 0) return LOOK_PRESSED;
        for (int s = 0; s < 4; s++) {
            *stage = s;
            if (differingPixels(inside, label[s]) == 0) return LOOK_BUSY_LABEL;
            if (differingPixels(inside, plain[s]) == 0) return LOOK_BUSY_PLAIN;
        }
        return LOOK_OTHER;
    }
    Look of(HWND window, int* stage) const { return classify(grabClient(window, BOX_INSIDE), stage); }
};

// ---- Fixture --------------------------------------------------------------------

class App : public ::testing::Test {
protected:
    void SetUp() override {
        resolveSpecialFolders();
        ASSERT_FALSE(targetFolder().empty());
        removeProductTraces();
        DeleteFileA(linkLog().c_str());
    }
    void TearDown() override { removeProductTraces(); }
};

// ---- Unattended runs -------------------------------------------------------------

TEST_F(App, UnattendedRunsEndWithTheProcedureResult) {
    bool showed = false;
    {
        SCOPED_TRACE("-h -u with nothing installed does nothing");
        ChildProcess setup;
        ASSERT_TRUE(setup.start(INSTALLER, "-h -u"));
        EXPECT_EQ(0u, runToEnd(setup, &showed));
        EXPECT_FALSE(showed);
        EXPECT_EQ(std::vector<std::string>{}, productTraces());
    }
    {
        SCOPED_TRACE("-h -i installs");
        ChildProcess setup;
        ASSERT_TRUE(setup.start(INSTALLER, "-h -i"));
        EXPECT_EQ(0u, runToEnd(setup, &showed));
        EXPECT_FALSE(showed);
        expectInstalledBy(INSTALLER);
    }
    {
        SCOPED_TRACE("-h -i with the product installed removes it");
        ChildProcess setup;
        ASSERT_TRUE(setup.start(INSTALLER, "-h -i"));
        EXPECT_EQ(0u, runToEnd(setup, &showed));
        EXPECT_FALSE(showed);
        EXPECT_FALSE(pathExists(targetFolder()));
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
        // "FM" and the Start-menu "Fen March" folders stay, and the tray settings.
        EXPECT_EQ(std::vector<std::string>({parentOf(targetFolder()), userProgramsFolder() + "\\Fen March",
                                            std::string(getCommonProgramsFolder()) + "\\Fen March",
                                            "HKCU\\Fen March"}),
                  productTraces());
        EXPECT_EQ("0", userValue(PRODUCT_SETTINGS_KEY, "SysTray"));
        EXPECT_EQ("0", userValue(PRODUCT_SETTINGS_KEY, "SysTrayShowOnRun"));
    }
    EXPECT_EQ(std::vector<std::string>{}, openedLinks()) << "a hidden run opens no link";
}

TEST_F(App, UnattendedInstallOfADamagedPackageEndsWithMinusTen) {
    ChildProcess setup;
    ASSERT_TRUE(setup.start(DAMAGED_INSTALLER, "-h -i"));
    bool showed = false;
    EXPECT_EQ(0xFFFFFFF6u, runToEnd(setup, &showed));
    EXPECT_FALSE(showed) << "a hidden failure shows no box";
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_FALSE(pathExists(userProgramsFolder() + "\\Fen March"));
}

TEST_F(App, VisibleAutoInstallFreezesTheWindowUntilDone) {
    Installer setup;
    ASSERT_TRUE(setup.open(LARGE_INSTALLER, "-i"));
    EXPECT_TRUE(IsWindowVisible(setup.window));
    HANDLE worker = holdWorker(setup, LARGE_INSTALLER);
    ASSERT_TRUE(worker != 0) << "the install worker never ran";

    DWORD_PTR answer = 0;
    EXPECT_EQ(0, SendMessageTimeoutA(setup.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer))
        << "the window thread answers while the install runs";
    Sleep(1200);  // more than two blink periods
    const ButtonLooks looks;
    int stage = 0;
    EXPECT_EQ(LOOK_NORMAL, looks.of(setup.window, &stage)) << "the frozen window has changed its button";
    releaseWorker(worker);

    // The completion command waits in the queue behind the install and is
    // handled like any other: the link opens. Its box ends at once, since
    // the quit message of the unattended run is already pending.
    EXPECT_EQ(0u, setup.exitCode(LONG_WAIT));
    EXPECT_EQ(std::vector<std::string>{ORLO_COMPLETION_LINK_TEXT}, openedLinks());
    expectInstalledBy(LARGE_INSTALLER);
}

// ---- Single instance and the running product ----------------------------------------

TEST_F(App, SecondInstallerEndsAtOnceWhileOneRuns) {
    ChildProcess first;
    ASSERT_TRUE(first.start(INSTALLER, "-h"));
    HWND hidden = waitForWindow(first.id(), MAIN_WINDOW_CLASS, LONG_WAIT);
    ASSERT_TRUE(hidden != 0);
    EXPECT_FALSE(IsWindowVisible(hidden));

    ChildProcess second;
    ASSERT_TRUE(second.start(INSTALLER, "-i"));
    bool showed = false;
    EXPECT_EQ(0xFFFFFFFFu, runToEnd(second, &showed));
    EXPECT_FALSE(showed);
    EXPECT_EQ(std::vector<std::string>{}, productTraces());
    EXPECT_TRUE(first.running()) << "-h alone must keep waiting";

    EXPECT_WIN32(PostMessageA(hidden, WM_CLOSE, 0, 0));
    EXPECT_EQ(0u, first.exitCode(LONG_WAIT));
    ChildProcess third;  // the lock is free again
    ASSERT_TRUE(third.start(INSTALLER, "-h -u"));
    EXPECT_EQ(0u, third.exitCode(LONG_WAIT));
}

std::vector<HWND> destroyRequests;

LRESULT CALLBACK bystanderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) destroyRequests.push_back(window);
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(App, RunningProductIsAskedToCloseOtherTitlesAreLeftAlone) {
    ChildProcess product;
    ASSERT_TRUE(product.start(PRODUCT, ""));
    ASSERT_TRUE(waitUntil(
        [&] {
            for (HWND window : windowsOf(product.id(), 0))
                if (windowText(window) == "OrloCast") return true;
            return false;
        },
        LONG_WAIT));

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = bystanderProc;
    windowClass.lpszClassName = "OrloTestBystander";
    RegisterClassA(&windowClass);
    std::vector<HWND> bystanders;
    for (const char* title : {"OrloCast", "orlocast", "OrloCast2", " OrloCast"})
        bystanders.push_back(CreateWindowExA(0, "OrloTestBystander", title, WS_OVERLAPPED, 0, 0, 10, 10, 0, 0, 0, 0));
    destroyRequests.clear();

    ChildProcess setup;
    ASSERT_TRUE(setup.start(INSTALLER, "-h -u"));
    EXPECT_EQ(0u, setup.exitCode(LONG_WAIT));
    EXPECT_EQ(0u, product.exitCode(LONG_WAIT)) << "the product did not end";

    MSG message;  // what the installer posted is queued by now
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    EXPECT_EQ(std::vector<HWND>{bystanders[0]}, destroyRequests) << "only the exact title \"OrloCast\" is asked";
    for (HWND window : bystanders) DestroyWindow(window);
}

// ---- The window ----------------------------------------------------------------

const RECT CLIENT = {0, 0, W, H + 100};

// The band below the picture, white with its two lines, and the button: a
// black outline along the edges of its rectangle, white inside but for the
// label. The texts depend on whether the product counts as installed.
void expectBandAndButton(const Pixels& shown, bool installed) {
    const RECT band = {0, H, W, H + 100};
    Pixels expected = withText(solid(W, 100, WHITE), topLeft(band),
                               installed ? "Orlo-Cast is already installed..."
                                         : "Ready to install ? Click the button right there...",
                               16, 800, BLACK, RECT{20, H + 30, W, H + 100}, DT_SINGLELINE);
    expected = withText(expected, topLeft(band),
                        installed ? "previous version has to be removed before installing new one..."
                                  : "it will install Fenmarch Orlo-Cast on your system...",
                        16, 800, GREY, RECT{20, H + 50, W, H + 100}, DT_SINGLELINE);
    RECT outline = BUTTON_OUTLINE;
    OffsetRect(&outline, 0, -H);
    EXPECT_EQ(0, differingPixels(expected, crop(shown, band), outline)) << "band and its two lines";

    int notBlack = 0;  // the straight parts of the outline
    for (int y = BUTTON.top + 6; y <= BUTTON.bottom - 6; y++)
        notBlack += (shown.at(BUTTON.left, y) != BLACK) + (shown.at(BUTTON.right, y) != BLACK);
    for (int x = BUTTON.left + 6; x <= BUTTON.right - 6; x++)
        notBlack += (shown.at(x, BUTTON.top) != BLACK) + (shown.at(x, BUTTON.bottom) != BLACK);
    EXPECT_EQ(0, notBlack) << "outline pixels that are not black";
    const Pixels label = withText(solid(BOX_INSIDE.right - BOX_INSIDE.left, BOX_INSIDE.bottom - BOX_INSIDE.top, WHITE),
                                  topLeft(BOX_INSIDE), installed ? "Remove" : "Install", 40, 400, BLACK, BUTTON, CENTRED);
    EXPECT_EQ(0, differingPixels(label, crop(shown, BOX_INSIDE))) << "the button's inside";
}

TEST_F(App, WindowShowsPictureSystemLineBandAndButton) {
    Installer setup;
    ASSERT_TRUE(setup.open(INSTALLER, ""));
    EXPECT_EQ("Fenmarch Orlo-Cast Installation (Version 1.0.0.1)", windowText(setup.window));
    RECT client;
    GetClientRect(setup.window, &client);
    EXPECT_EQ(W, client.right);
    EXPECT_EQ(H + 100, client.bottom);

    const Pixels shown = grabClient(setup.window, CLIENT);
    saveScreenshot(shown, "idle");

    const RECT picture = {0, 0, W, H}, systemLine = {0, 0, W, 40};
    const Pixels image = pictureOf(INSTALLER, picture);
    const Pixels withLine =
        withText(crop(image, systemLine), POINT{0, 0}, expectedOsLine(), 16, 800, GREY, RECT{15, 10, W, H}, DT_SINGLELINE);
    EXPECT_GT(differingPixels(withLine, crop(image, systemLine)), 50) << "the line is drawn where it is looked for";
    EXPECT_EQ(0, differingPixels(withLine, crop(shown, systemLine))) << "the line \"" << expectedOsLine() << "\"";
    const RECT below = {0, 40, W, H};
    EXPECT_EQ(0, differingPixels(crop(image, below), crop(shown, below))) << "the picture";

    expectBandAndButton(shown, false);
}

// A mouse move as the system delivers it: WM_SETCURSOR, whose default
// handling sets the class cursor, then WM_MOUSEMOVE. The cursor that the
// installer's thread shows afterwards (it owns the foreground window).
HCURSOR cursorAfterMove(HWND window, int x, int y) {
    EXPECT_TRUE(sendTo(window, WM_SETCURSOR, (WPARAM)window, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_TRUE(sendTo(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)));
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    EXPECT_WIN32(GetCursorInfo(&info));
    return info.hCursor;
}

TEST_F(App, CursorIsTheHandOverThePictureOnly) {
    Installer setup;
    ASSERT_TRUE(setup.open(INSTALLER, ""));
    if (GetForegroundWindow() != setup.window) SetForegroundWindow(setup.window);
    ASSERT_EQ(setup.window, GetForegroundWindow());
    // Cursor handles are per process under Wine, so the hand is known only
    // as the one cursor that differs from the class arrow of the band.
    const HCURSOR arrow = cursorAfterMove(setup.window, 300, H + 50);
    const HCURSOR hand = cursorAfterMove(setup.window, 300, 200);
    EXPECT_TRUE(arrow != 0 && hand != 0);
    EXPECT_NE(arrow, hand);
    EXPECT_EQ(arrow, cursorAfterMove(setup.window, 10, H));
    EXPECT_EQ(hand, cursorAfterMove(setup.window, 10, H - 1));
    EXPECT_EQ(arrow, cursorAfterMove(setup.window, BUTTON.left + 10, BUTTON.top + 10));
    EXPECT_EQ(hand, cursorAfterMove(setup.window, 0, 0));
    EXPECT_WIN32(PostMessageA(setup.window, WM_KEYDOWN, VK_ESCAPE, 0));
    EXPECT_EQ(0u, setup.exitCode(LONG_WAIT));
}

// ---- Keys and clicks -------------------------------------------------------------

TEST_F(App, PictureClickOpensItsLinkEscapeCloses) {
    Installer setup;
    ASSERT_TRUE(setup.open(INSTALLER, ""));
    click(setup.window, 300, H + 50);  // band, outside the button: nothing
    click(setup.window, 300, 200);
    EXPECT_EQ(std::vector<std::string>{ORLO_PICTURE_LINK_TEXT}, openedLinks());
    EXPECT_TRUE(setup.running());

    EXPECT_WIN32(PostMessageA(setup.window, WM_KEYDOWN, VK_ESCAPE, 0));
    EXPECT_EQ(0u, setup.exitCode(LONG_WAIT));
    EXPECT_EQ(std::vector<std::string>{}, productTraces());
}

TEST_F(App, ClickOnTheButtonEdgeDoesNothingInsideInstalls) {
    Installer setup;
    ASSERT_TRUE(setup.open(INSTALLER, ""));
    const std::vector<DWORD> threads = threadsOf(setup.id());
    const POINT edges[] = {{BUTTON.left, BUTTON.top + 30}, {BUTTON.right, BUTTON.top + 30},
                           {BUTTON.left + 100, BUTTON.top}, {BUTTON.left + 100, BUTTON.bottom}};
    for (const POINT& edge : edges) click(setup.window, edge.x, edge.y);
    EXPECT_EQ(threads, threadsOf(setup.id())) << "an edge click started the worker";
    EXPECT_EQ(std::vector<std::string>{}, openedLinks());

    click(setup.window, BUTTON.right - 1, BUTTON.bottom - 1);  // the inside corner
    HWND box = waitForBox(setup);
    ASSERT_TRUE(box != 0);
    // The box stops the window thread: a link recorded while it is up was
    // opened before it.
    EXPECT_TRUE(waitUntil([] { return readWholeFile(linkLog()) != "<missing>"; }, LONG_WAIT));
    EXPECT_EQ(std::vector<std::string>{ORLO_COMPLETION_LINK_TEXT}, openedLinks());
    EXPECT_EQ("Success", windowText(box));
    EXPECT_EQ("Installation Complete and Successful !", boxText(box));
    EXPECT_EQ(setup.window, GetWindow(box, GW_OWNER));
    EXPECT_TRUE(setup.running());
    dismiss(box);
    EXPECT_EQ(0u, setup.exitCode(LONG_WAIT));
    expectInstalledBy(INSTALLER);
}

// Enter starts the install; the worker is held so that the busy box can be
// watched for as long as it takes and refuses everything but its own end.
TEST_F(App, EnterInstallsTheBusyBoxBlinksAndRefusesEverything) {
    Installer setup;
    ASSERT_TRUE(setup.open(LARGE_INSTALLER, ""));
    DeleteFileA(screenshotPath("unexpected-box").c_str());
    const ButtonLooks looks;
    struct Frame {
        DWORD time;
        Look look;
        int stage;
        bool held;
    };
    std::vector<Frame> frames;
    HANDLE worker = 0;
    int changesWhileHeld = 0;
    DWORD heldSince = 0;
    bool busyShot = false;
    ASSERT_WIN32(PostMessageA(setup.window, WM_KEYDOWN, VK_RETURN, 0));
    waitUntil(
        [&] {
            Frame frame = {GetTickCount(), LOOK_OTHER, -1, worker != 0};
            const Pixels inside = grabClient(setup.window, BOX_INSIDE);
            frame.look = looks.classify(inside, &frame.stage);
            if (frame.look == LOOK_OTHER) saveScreenshot(inside, "unexpected-box");
            if (frame.held && !frames.empty() && frame.look != frames.back().look) changesWhileHeld++;
            // The first labelled busy box seen while the worker is held,
            // whichever phase the blinking was in when it was caught.
            if (frame.held && frame.look == LOOK_BUSY_LABEL && !busyShot) {
                saveScreenshot(grabClient(setup.window, CLIENT), "busy");
                busyShot = true;
            }
            frames.push_back(frame);
            if (!worker && (worker = tryHoldWorker(setup, LARGE_INSTALLER)) != 0) heldSince = GetTickCount();
            // Ten blink periods without three changes: it does not blink.
            return changesWhileHeld >= 3 || (worker && GetTickCount() - heldSince > 5000);
        },
        LONG_WAIT);
    ASSERT_TRUE(worker != 0) << "the install worker was never caught";

    // The looks in order, one letter each: N normal, P pressed, L busy with
    // label, p busy without, ? anything else. Shown as runs ("N12 P20 L30").
    std::string seen, runs;
    size_t firstBusy = frames.size(), runStart = 0;
    for (size_t i = 0; i < frames.size(); i++) {
        seen += "?NPLp"[frames[i].look];
        if (firstBusy == frames.size() && frames[i].look >= LOOK_BUSY_LABEL) firstBusy = i;
        if (i + 1 == frames.size() || frames[i + 1].look != frames[i].look) {
            runs += seen.substr(i) + std::to_string(i + 1 - runStart) + " ";
            runStart = i + 1;
        }
    }
    EXPECT_EQ(std::string::npos, seen.find('?')) << "frames: " << runs;
    EXPECT_GE(changesWhileHeld, 3) << "the busy box does not blink: " << runs;
    ASSERT_LT(firstBusy, frames.size()) << runs;
    // The first tick (count 1) shows the label. Checked when the frames are
    // close enough together that no tick can have been missed.
    if (firstBusy > 0 && frames[firstBusy].time - frames[firstBusy - 1].time < 300)
        EXPECT_EQ(LOOK_BUSY_LABEL, frames[firstBusy].look) << runs;
    else
        std::cout << "[   NOTE   ] frames too far apart to tell the first tick: " << runs << "\n";
    // Once busy, the button is never drawn pressed again (a repaint may draw
    // it normal until the next tick); the held worker's status stays put.
    EXPECT_EQ(std::string::npos, seen.find('P', firstBusy)) << runs;
    for (const Frame& frame : frames)
        if (frame.held && frame.look >= LOOK_BUSY_LABEL) EXPECT_EQ(frames.back().stage, frame.stage) << runs;

    // While busy: Enter, clicks and closing are refused.
    const std::vector<DWORD> threads = threadsOf(setup.id());
    EXPECT_TRUE(sendTo(setup.window, WM_KEYDOWN, VK_RETURN, 0));
    click(setup.window, BUTTON.left + 150, BUTTON.top + 30);
    click(setup.window, 300, 200);
    EXPECT_TRUE(sendTo(setup.window, WM_CLOSE, 0, 0));
    EXPECT_WIN32(PostMessageA(setup.window, WM_KEYDOWN, VK_ESCAPE, 0));
    EXPECT_EQ(threads, threadsOf(setup.id())) << "a second worker was started";
    EXPECT_EQ(std::vector<std::string>{}, openedLinks()) << "a click on the picture while busy opened a link";
    EXPECT_EQ(NOT_ENDED, setup.exitCode(1000)) << "the window closed while busy";

    releaseWorker(worker);
    HWND box = waitForBox(setup);
    ASSERT_TRUE(box != 0);
    EXPECT_EQ("Success", windowText(box));
    dismiss(box);
    EXPECT_EQ(0u, setup.exitCode(LONG_WAIT));
    expectInstalledBy(LARGE_INSTALLER);
}

TEST_F(App, FailedInteractiveInstallShowsItsErrorThenCloses) {
    Installer setup;
    ASSERT_TRUE(setup.open(DAMAGED_INSTALLER, ""));
    EXPECT_WIN32(PostMessageA(setup.window, WM_KEYDOWN, VK_RETURN, 0));
    HWND box = waitForBox(setup);
    ASSERT_TRUE(box != 0);
    EXPECT_EQ("Orlo-Cast Installation Error", windowText(box));
    EXPECT_EQ("Failed to copy file(s) to destination folder...\nInstallation package might be corrupted\n"
              "thanks to download official package at\nwww.fenmarch.example.",
              boxText(box));
    EXPECT_TRUE(setup.running());
    dismiss(box);
    EXPECT_EQ(0u, setup.exitCode(LONG_WAIT));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_EQ(std::vector<std::string>{}, openedLinks());
}

TEST_F(App, InstalledProductIsOfferedForRemovalEnterRemovesWithoutABox) {
    ChildProcess install;
    ASSERT_TRUE(install.start(INSTALLER, "-h -i"));
    ASSERT_EQ(0u, install.exitCode(LONG_WAIT));

    Installer setup;
    ASSERT_TRUE(setup.open(INSTALLER, ""));
    expectBandAndButton(grabClient(setup.window, CLIENT), true);
    EXPECT_WIN32(PostMessageA(setup.window, WM_KEYDOWN, VK_RETURN, 0));
    bool boxShown = false;
    waitUntil(
        [&] {
            boxShown = boxShown || !windowsOf(setup.id(), "#32770").empty();
            return !setup.running();
        },
        LONG_WAIT);
    EXPECT_EQ(0u, setup.exitCode(0));
    EXPECT_FALSE(boxShown);
    EXPECT_FALSE(pathExists(targetFolder()));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
}

}  // namespace
