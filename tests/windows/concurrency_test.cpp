// Concurrency: twenty installers started at once share one single-instance
// lock, and the status text handed from the worker to the window thread is
// never seen torn.
#include <gtest/gtest.h>

#include "tests/support/win32_test.h"

using namespace orlotest;

namespace {

BOOL CALLBACK findWindow(HWND window, LPARAM found) {
    char name[128] = "";
    DWORD owner = 0;
    GetClassNameA(window, name, sizeof name);
    GetWindowThreadProcessId(window, &owner);
    if (owner == ((std::pair<DWORD, HWND>*)found)->first && lstrcmpA(name, "FMOrlo-Cast0Installer0MainWindow0") == 0)
        ((std::pair<DWORD, HWND>*)found)->second = window;
    return TRUE;
}

TEST(SingleInstance, TwentyAtOnceLeaveExactlyOneRunningAndTheRestExitMinusOne) {
    const std::string installer = hostPathToWine(ORLO_INSTALLER_EXE);
    std::vector<PROCESS_INFORMATION> processes(20);
    for (PROCESS_INFORMATION& process : processes) {
        std::string commandLine = "\"" + installer + "\" -h";
        STARTUPINFOA startup = {sizeof startup};
        ASSERT_WIN32(CreateProcessA(installer.c_str(), &commandLine[0], 0, 0, FALSE, 0, 0, 0, &startup, &process));
    }
    // Nineteen end with -1; one stays in its message loop holding the lock.
    std::vector<DWORD> codes(processes.size(), STILL_ACTIVE);
    auto running = [&] {
        int count = 0;
        for (size_t i = 0; i < processes.size(); i++) {
            if (WaitForSingleObject(processes[i].hProcess, 0) == WAIT_OBJECT_0)
                GetExitCodeProcess(processes[i].hProcess, &codes[i]);
            count += codes[i] == STILL_ACTIVE;
        }
        return count;
    };
    for (int round = 0; round < 600 && running() > 1; round++) Sleep(100);
    Sleep(2000);  // the survivor must keep running, not merely be slow to end
    EXPECT_EQ(1, running());
    const auto survivor = std::find(codes.begin(), codes.end(), (DWORD)STILL_ACTIVE) - codes.begin();
    EXPECT_EQ(19, std::count(codes.begin(), codes.end(), 0xFFFFFFFFu));
    ASSERT_LT(survivor, (long)processes.size()) << "no installer kept running";

    std::pair<DWORD, HWND> found = {processes[survivor].dwProcessId, 0};
    for (int i = 0; i < 100 && !found.second; i++)
        EnumWindows(findWindow, (LPARAM)&found), Sleep(found.second ? 0 : 100);
    ASSERT_TRUE(found.second != 0) << "the running installer has no window of its class";
    EXPECT_WIN32(PostMessageA(found.second, WM_CLOSE, 0, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(processes[survivor].hProcess, 30000));
    GetExitCodeProcess(processes[survivor].hProcess, &codes[survivor]);
    EXPECT_EQ(0u, codes[survivor]) << "an interactive run ends with 0";
    for (PROCESS_INFORMATION& process : processes) {
        if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hProcess), CloseHandle(process.hThread);
    }
    HANDLE mutex =
        OpenMutexA(SYNCHRONIZE, FALSE, "Fenmarch OrloCast-Installation- Mutex-{5C7E2B91-3FA4-4d6e-9B28-71D04E6A3C55}");
    EXPECT_TRUE(mutex == 0) << "the lock outlived its installer";
    if (mutex) CloseHandle(mutex);
}

InstallerState shared;
const char* const STAGES[] = {STAGE_EXTRACT, STAGE_COPY, STAGE_FINALIZE, STAGE_COMPLETED};
const int ITERATIONS = 200000;
volatile LONG writerDone = 0;

DWORD WINAPI rewriteStages(LPVOID) {
    for (int i = 0; i < ITERATIONS; i++) setStatusText(&shared, STAGES[i % 4]);
    return InterlockedExchange(&writerDone, 1), 0;
}

TEST(StatusText, ReaderOnlyEverSeesWholeStageTexts) {
    clearInstallerState(&shared, 0);
    setStatusText(&shared, STAGES[0]);
    HANDLE writer = CreateThread(0, 0, rewriteStages, 0, 0, 0);
    std::string torn;
    int copies = 0, kinds = 0;
    bool seen[4] = {};
    for (; (copies < ITERATIONS || !writerDone) && copies < 50 * ITERATIONS; copies++) {
        char copy[STATUS_TEXT_SIZE];
        copyStatusText(&shared, copy, sizeof copy);
        const auto stage =
            std::find_if(STAGES, STAGES + 4, [&](const char* s) { return strcmp(copy, s) == 0; }) - STAGES;
        if (stage < 4)
            seen[stage] = true;
        else if (torn.empty())
            torn = copy;
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(writer, 60000));
    CloseHandle(writer);
    EXPECT_EQ("", torn) << "the first torn text";
    for (bool s : seen) kinds += s;
    EXPECT_GE(kinds, 2) << "the reader never saw the text change: the test exercised nothing";
}

}  // namespace
