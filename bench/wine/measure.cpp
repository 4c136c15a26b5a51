// Starts one program with CreateProcess and prints what it cost, one line:
//   ms=<start to exit> exit=<exit code> peak_ws=<bytes> peak_pagefile=<bytes>
//   [window_ms=<start to first painted window>]
//
//   measure.exe [--window CLASS] PROGRAM [ARGS...]
//   measure.exe [--window CLASS] --cmd "WHOLE COMMAND LINE"
//
// --cmd passes one command line verbatim (NSIS's "_?=DIR" must stay the
// last, unquoted text of an uninstaller's command line).
// With --window the program is watched for a visible top-level window of
// that class with no pending paint region (its first WM_PAINT is done);
// the time is printed and the window is then sent WM_CLOSE.
//
// The peak working set is read with GetProcessMemoryInfo every 2 ms while
// the program runs, and the largest value is kept: Wine answers for another
// process only while it lives (from the Linux process's VmHWM, which also
// counts Wine's own libraries), and the peak never decreases.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>

static double millisecondsSince(LARGE_INTEGER start, LARGE_INTEGER frequency) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

struct Search {
    DWORD processId;
    const char* className;
    HWND found;
};

static BOOL CALLBACK findWindow(HWND window, LPARAM parameter) {
    Search* search = (Search*)parameter;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
    char name[256];
    if (GetClassNameA(window, name, sizeof name) && strcmp(name, search->className) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

int main(int argc, char** argv) {
    const char* windowClass = 0;
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "--window") == 0) {
        windowClass = argv[2];
        first = 3;
    }
    if (first >= argc) {  // nothing to start
        fprintf(stderr, "usage: measure.exe [--window CLASS] PROGRAM [ARGS...]\n");
        return 2;
    }
    char commandLine[4096] = "";
    if (first + 1 < argc && strcmp(argv[first], "--cmd") == 0) {
        strncpy(commandLine, argv[first + 1], sizeof commandLine - 1);
        first = argc;
    }
    for (int i = first; i < argc; i++) {
        if (i > first) strcat(commandLine, " ");
        const int quote = strchr(argv[i], ' ') != 0;
        if (quote) strcat(commandLine, "\"");
        strcat(commandLine, argv[i]);
        if (quote) strcat(commandLine, "\"");
    }

    LARGE_INTEGER frequency, start;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(0, commandLine, 0, 0, FALSE, 0, 0, 0, &startup, &process)) {
        fprintf(stderr, "measure: CreateProcess failed (%lu): %s\n", GetLastError(), commandLine);
        return 3;
    }
    double windowMs = -1;
    if (windowClass) {
        Search search = {process.dwProcessId, windowClass, 0};
        while (WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT) {
            if (!search.found) EnumWindows(findWindow, (LPARAM)&search);
            if (search.found && IsWindowVisible(search.found) && !GetUpdateRect(search.found, 0, FALSE)) {
                windowMs = millisecondsSince(start, frequency);
                break;
            }
            if (millisecondsSince(start, frequency) > 30000) break;
        }
        if (search.found) PostMessageA(search.found, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process.hProcess, 10000) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 99);
    }
    SIZE_T peakWorkingSet = 0, peakPagefile = 0;
    for (;;) {
        PROCESS_MEMORY_COUNTERS sample;
        ZeroMemory(&sample, sizeof sample);
        sample.cb = sizeof sample;
        if (GetProcessMemoryInfo(process.hProcess, &sample, sizeof sample)) {
            if (sample.PeakWorkingSetSize > peakWorkingSet) peakWorkingSet = sample.PeakWorkingSetSize;
            if (sample.PeakPagefileUsage > peakPagefile) peakPagefile = sample.PeakPagefileUsage;
        }
        if (WaitForSingleObject(process.hProcess, 2) != WAIT_TIMEOUT) break;
    }
    const double elapsed = millisecondsSince(start, frequency);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    printf("ms=%.3f exit=%ld peak_ws=%lu peak_pagefile=%lu", elapsed, (long)exitCode, (unsigned long)peakWorkingSet,
           (unsigned long)peakPagefile);
    if (windowClass) printf(" window_ms=%.3f", windowMs);
    printf("\n");
    fflush(stdout);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
