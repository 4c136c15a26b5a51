// Stands in for the web browser while the installer is tested: the tests
// register it as the Wine prefix's http and https handler. Each run appends
// its one argument and a line break to the file that ORLO_LINK_LOG names
// (links.log beside this program when the variable is not set), so a test
// can tell which addresses were opened without any browser being started.
#include <windows.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char log[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("ORLO_LINK_LOG", log, sizeof log);
    if (length == 0 || length >= sizeof log) {
        const DWORD own = GetModuleFileNameA(0, log, sizeof log - 16);
        if (own == 0 || own >= sizeof log - 16) return 2;
        char* slash = log;
        for (char* c = log; *c; c++)
            if (*c == '\\') slash = c + 1;
        lstrcpyA(slash, "links.log");
    }
    const char* link = __argc > 1 ? __argv[1] : "";
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_ALWAYS, 0, 0);
    if (file == INVALID_HANDLE_VALUE) return 1;
    // One write per line, so lines of recorders running at once do not mix.
    char line[4096];
    const int size = lstrlenA(link);
    if (size > (int)sizeof line - 2) return 1;
    lstrcpyA(line, link);
    line[size] = '\n';
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line, size + 1, &written, 0);
    CloseHandle(file);
    return ok ? 0 : 1;
}
