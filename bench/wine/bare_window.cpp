// A bare Win32 window of the installer's size (900 x 524) that paints one
// colour and ends on WM_CLOSE: the floor for the time to the first painted
// window under Wine and Xvfb.
#include <windows.h>

static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            FillRect(dc, &paint.rcPaint, (HBRUSH)GetStockObject(GRAY_BRUSH));
            EndPaint(window, &paint);
            return 0;
        }
        // Ends at once, its window left to the process's end, as the installer
        // ends: destroying it would make Wine wait up to 2 s for a window
        // manager, which the benchmark's display has none of, to withdraw it.
        case WM_CLOSE: PostQuitMessage(0); return 0;
        case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(0, (LPCSTR)IDC_ARROW);
    windowClass.lpszClassName = "OrloBenchBareWindow";
    if (!RegisterClassA(&windowClass)) return 1;
    HWND window = CreateWindowExA(0, "OrloBenchBareWindow", "Bare", WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 900, 524, 0, 0, instance, 0);
    if (window == 0) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG message;
    while (GetMessageA(&message, 0, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
