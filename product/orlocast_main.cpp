// Stand-in for the product's program: one top-level window titled "OrloCast"
// that ends the program when it receives WM_DESTROY, which is how the
// installer asks a running copy to close.
#include <windows.h>

static LRESULT CALLBACK productWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = productWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(0, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "FMOrloCastStandIn";
    if (!RegisterClassA(&windowClass)) return 1;
    HWND window = CreateWindowExA(0, "FMOrloCastStandIn", "OrloCast", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  320, 200, 0, 0, instance, 0);
    if (window == 0) return 1;
    ShowWindow(window, show);
    MSG message;
    while (GetMessageA(&message, 0, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}
