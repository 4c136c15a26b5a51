// The main window: creation, the message table, the button action, the
// install worker and unattended runs.
#include "app/main_window.h"

#include "package/package.h"
#include "platform/bounded_text.h"
#include "platform/platform_ops.h"
#include "platform/system_calls.h"
#include "setup/procedures.h"

InstallerState installerState;

namespace {

InstallerState* const state = &installerState;

// The exit code: 0 for an interactive run, the procedure's result after an
// unattended one. Every quit message carries it, so a window that closes
// after the auto-run (a failure box shown meanwhile, then WM_DESTROY) does
// not turn a failed run into 0.
int exitCode = 0;

int lowWordSigned(LPARAM value) { return (int)(short)LOWORD(value); }
int highWordSigned(LPARAM value) { return (int)(short)HIWORD(value); }

// ---- WM_CREATE -------------------------------------------------------------

void decideAlreadyInstalled() {
    state->alreadyInstalled = 0;
    if (resolveTargetFolder(state, PRODUCT_FOLDER) != 0) return;
    char program[1024];
    if (textCopy(program, sizeof program, state->targetFolder) &&
        joinPath(program, sizeof program, PRODUCT_PROGRAM_NAME) && fileExists(program))
        state->alreadyInstalled = 1;
}

LRESULT onCreate(HWND window) {
    state->window = window;
    if (!hiddenMode) needPaintResources(state);
    state->osClass = classifyOs();
    const DWORD length = GetModuleFileNameA(state->instance, state->modulePath, sizeof state->modulePath);
    // A path cut at the buffer's size is not a path: treat it as unknown.
    if (length == 0 || length >= sizeof state->modulePath) state->modulePath[0] = 0;
    decideAlreadyInstalled();

    if (!hiddenMode) {
        int border = 0, caption = 0;
        getFrameMetrics(&border, &caption, 0, 1);
        SetWindowPos(window, HWND_TOP, 0, 0, state->bitmapWidth + 2 * border,
                     state->bitmapHeight + 100 + 2 * border + caption, SWP_NOMOVE | SWP_SHOWWINDOW);
        state->timerId = SetTimer(window, BLINK_TIMER_ID, BLINK_PERIOD_MS, 0);
    }
    if (autoInstall || autoUninstall) PostMessageA(window, WM_COMMAND, CMD_AUTO_RUN, AUTO_RUN_TAG);
    return 0;
}

// ---- WM_COMMAND ------------------------------------------------------------

void onProcedureFailed() {
    MessageBoxA(state->window, state->errorText, state->errorCaption, MB_SYSTEMMODAL | MB_ICONERROR);
    PostMessageA(state->window, WM_CLOSE, 0, 0);
}

void onInstallSucceeded() {
    openStoredLink(state, completionLink, COMPLETION_LINK_LENGTH);
    MessageBoxA(state->window, "Installation Complete and Successful !", "Success",
                MB_SYSTEMMODAL | MB_ICONEXCLAMATION);
    PostMessageA(state->window, WM_CLOSE, 0, 0);
}

void onAutoRun() {
    if (state->alreadyInstalled)
        exitCode = runUninstall(state);
    else if (autoInstall)
        exitCode = startInstallWorker(state, 1);
    releasePaintResources(state);
    PostQuitMessage(exitCode);
}

LRESULT onCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    if (id == CMD_AUTO_RUN && lParam == AUTO_RUN_TAG) {
        onAutoRun();
    } else if (id == CMD_PROCEDURE_DONE && !hiddenMode) {
        if (lParam == DONE_FAILED) onProcedureFailed();
        if (lParam == DONE_OK) onInstallSucceeded();
    } else if (id == CMD_PROCEDURE_DONE && (lParam == DONE_FAILED || lParam == DONE_OK)) {
        // Hidden: no box, no link, but the window still closes, so that a
        // run performs at most one procedure and lets the lock go.
        postDestroy(state);
    }
    return 0;
}

// ---- Other rows of the table -------------------------------------------------

LRESULT onDestroy(HWND window) {
    if (state->timerId != 0) KillTimer(window, state->timerId);
    state->timerId = 0;
    releasePaintResources(state);
    PostQuitMessage(exitCode);
    return 0;
}

LRESULT onPaint(HWND window) {
    needPaintResources(state);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    paintWindow(state, dc);
    EndPaint(window, &paint);
    return 0;
}

LRESULT onKeyDown(HWND window, WPARAM key) {
    if (key == VK_RETURN && InterlockedCompareExchange(&state->busy, 0, 0) == 0) runButtonAction(state, window);
    if (key == VK_ESCAPE) PostMessageA(window, WM_CLOSE, 0, 0);
    return 0;
}

LRESULT onTimer(HWND window, WPARAM timer) {
    if (timer != BLINK_TIMER_ID || InterlockedCompareExchange(&state->busy, 0, 0) == 0) return 0;
    state->blinkCount++;
    needPaintResources(state);
    HDC dc = GetDC(window);
    drawBusyBox(state, dc, state->blinkCount & 1);
    ReleaseDC(window, dc);
    return 0;
}

LRESULT onMouseMove(LPARAM position) {
    needPaintResources(state);
    if (highWordSigned(position) >= state->bitmapHeight) return 0;
    // Loaded by the first move over the picture, not before the window is shown.
    if (state->handCursor == 0) state->handCursor = LoadCursorA(0, (LPCSTR)IDC_HAND);
    SetCursor(state->handCursor);
    return 0;
}

LRESULT onLeftButtonDown(HWND window, LPARAM position) {
    if (InterlockedCompareExchange(&state->busy, 0, 0) != 0) return 0;
    needPaintResources(state);
    const int x = lowWordSigned(position), y = highWordSigned(position);
    const RECT& r = state->buttonRect;
    if (r.left < x && x < r.right && r.top < y && y < r.bottom)
        runButtonAction(state, window);
    else if (y < state->bitmapHeight)
        openStoredLink(state, pictureLink, PICTURE_LINK_LENGTH);
    return 0;
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: return onCreate(window);
        case WM_DESTROY: return onDestroy(window);
        case WM_PAINT: return onPaint(window);
        case WM_CLOSE:
            if (InterlockedCompareExchange(&state->busy, 0, 0) == 0) postDestroy(state);
            return 0;
        case WM_ERASEBKGND:
            needPaintResources(state);
            drawBackground((HDC)wParam, 0, 0, state->backgroundBitmap);
            return 1;
        case WM_KEYDOWN: return onKeyDown(window, wParam);
        case WM_COMMAND: return onCommand(wParam, lParam);
        case WM_TIMER: return onTimer(window, wParam);
        case WM_MOUSEMOVE: return onMouseMove(lParam);
        case WM_LBUTTONDOWN: return onLeftButtonDown(window, lParam);
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

HWND createMainWindow(HINSTANCE instance, const char* title) {
    WNDCLASSA windowClass;
    zeroBlock(&windowClass, sizeof windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(100));
    windowClass.hCursor = LoadCursorA(0, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_INACTIVEBORDER + 1);
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    if (!RegisterClassA(&windowClass)) {
        MessageBoxA(0, "Failed to register window class...", "Startup Error", MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    HWND window = CreateWindowExA(0, MAIN_WINDOW_CLASS, title, MAIN_WINDOW_STYLE, CW_USEDEFAULT, CW_USEDEFAULT, 900,
                                  300, 0, 0, instance, 0);
    if (window == 0) {
        MessageBoxA(0, "Failed to create window...", "Startup Error", MB_ICONEXCLAMATION);
        return 0;
    }
    if (hiddenMode) {
        ShowWindow(window, SW_HIDE);
    } else {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    return window;
}

void runButtonAction(InstallerState* record, HWND window) {
    needPaintResources(record);
    HDC dc = GetDC(window);
    drawActionButton(record, dc, 1);
    ReleaseDC(window, dc);
    Sleep(200);

    if (record->alreadyInstalled) {
        // A failed uninstall has posted DONE_FAILED; its handling shows the
        // box and then closes the window. Posting WM_DESTROY now as well
        // would end the run from inside that box's message loop and take
        // the box away before the user could read it.
        if (runUninstall(record) == 0) postDestroy(record);
        return;
    }
    if (startInstallWorker(record, 0) == 0) return;

    char caption[1024];
    textFormat(caption, sizeof caption, "%s Installation Error", PRODUCT_DISPLAY_NAME);
    MessageBoxA(window, "Failed to launch Procedure...", caption, MB_SYSTEMMODAL | MB_ICONERROR);
    postDestroy(record);
}

int startInstallWorker(InstallerState* record, int wait) {
    record->workerResult = -1;
    InterlockedExchange(&record->busy, 1);
    DWORD threadId = 0;
    record->workerThread = systemCalls.createThread(0, 0, installWorkerMain, record, 0, &threadId);
    if (record->workerThread == 0) {
        // Nothing runs: a busy flag left at 1 would refuse every close.
        InterlockedExchange(&record->busy, 0);
        return -1;
    }
    if (wait != 1) return 0;
    WaitForSingleObject(record->workerThread, INFINITE);
    CloseHandle(record->workerThread);
    record->workerThread = 0;
    return record->workerResult;
}

DWORD WINAPI installWorkerMain(LPVOID parameter) {
    InstallerState* record = (InstallerState*)parameter;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    record->workerResult = runInstall(record);
    InterlockedExchange(&record->busy, 0);
    return 0;
}

void postDestroy(InstallerState* record) { PostMessageA(record->window, WM_DESTROY, 0, 0); }

void openStoredLink(InstallerState* record, const unsigned char* stored, int length) {
    if (length > 512 || length < 0) return;
    char link[512];
    zeroBlock(link, sizeof link);
    // The last byte stays zero, so a 512-byte link would not be terminated:
    // such a link is refused as well.
    if (length >= 512) return;
    copyBlock(link, stored, (uint32_t)length);
    scrambleLinkBytes(LINK_SEED, (uint8_t*)link, (uint32_t)length);
    // The shell may hand the link to COM servers of its own.
    if (!record->comStarted) {
        record->comStarted = 1;
        record->comResult = initializeCom();
    }
    openWithShell(record->window, link);
    zeroBlock(link, sizeof link);
}
