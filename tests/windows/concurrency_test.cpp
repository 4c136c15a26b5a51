// Concurrency: twenty installers started at once share one single-instance
// lock, and the status text handed from the worker to the window thread is
// never seen torn.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/installer_state.h"
#include "setup/procedures.h"
#include "tests/support/win32_scratch.h"

using namespace orlotest;

namespace {

// The finished installer of this build, as a path under Wine's Z: drive.
std::string installerPath() {
    std::string path = "Z:" + std::string(ORLO_INSTALLER_UNIX_PATH);
    for (char& c : path) if (c == '/') c = '\\';
    return path;
}

struct FoundWindow {
    DWORD processId;
    HWND window;
};

BOOL CALLBACK findInstallerWindow(HWND window, LPARAM data) {
    FoundWindow* found = (FoundWindow*)data;
    char className[128] = "";
    GetClassNameA(window, className, sizeof className);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == found->processId && std::string(className) == "FMOrlo-Cast0Installer0MainWindow0") {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

TEST(SingleInstance, TwentyAtOnceLeaveExactlyOneRunningAndTheRestExitMinusOne) {
    const std::string installer = installerPath();
    ASSERT_TRUE(pathExists(installer)) << installer;
    const int COUNT = 20;
    std::vector<PROCESS_INFORMATION> processes;
    for (int i = 0; i < COUNT; i++) {
        std::string commandLine = "\"" + installer + "\" -h";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_WIN32(CreateProcessA(installer.c_str(), &commandLine[0], 0, 0, FALSE, 0, 0, 0, &startup, &process));
        processes.push_back(process);
    }

    // Nineteen end; one stays in its message loop holding the lock.
    std::vector<DWORD> codes(COUNT, STILL_ACTIVE);
    int running = COUNT;
    for (int round = 0; round < 600 && running > 1; round++) {
        running = 0;
        for (int i = 0; i < COUNT; i++) {
            if (codes[i] == STILL_ACTIVE && WaitForSingleObject(processes[i].hProcess, 0) == WAIT_OBJECT_0)
                GetExitCodeProcess(processes[i].hProcess, &codes[i]);
            if (codes[i] == STILL_ACTIVE) running++;
        }
        if (running > 1) Sleep(100);
    }
    Sleep(2000);  // the survivor must keep running, not merely be slow to end
    int survivor = -1, minusOne = 0;
    for (int i = 0; i < COUNT; i++) {
        if (codes[i] == STILL_ACTIVE && WaitForSingleObject(processes[i].hProcess, 0) == WAIT_OBJECT_0)
            GetExitCodeProcess(processes[i].hProcess, &codes[i]);
        if (codes[i] == STILL_ACTIVE) survivor = i;
        else if (codes[i] == 0xFFFFFFFFu) minusOne++;
        else ADD_FAILURE() << "installer " << i << " exited with " << codes[i];
    }
    EXPECT_EQ(COUNT - 1, minusOne);
    ASSERT_NE(-1, survivor) << "no installer kept running";

    // The survivor's hidden window, found by class and process, closes it.
    FoundWindow found = {processes[survivor].dwProcessId, 0};
    for (int i = 0; i < 100 && !found.window; i++) {
        EnumWindows(findInstallerWindow, (LPARAM)&found);
        if (!found.window) Sleep(100);
    }
    ASSERT_TRUE(found.window != 0) << "the running installer has no window of its class";
    EXPECT_FALSE(IsWindowVisible(found.window)) << "-h shows no window";
    EXPECT_WIN32(PostMessageA(found.window, WM_CLOSE, 0, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(processes[survivor].hProcess, 30000));
    DWORD code = 0xDEADBEEF;
    GetExitCodeProcess(processes[survivor].hProcess, &code);
    EXPECT_EQ(0u, code) << "an interactive run ends with 0";
    for (PROCESS_INFORMATION& process : processes) {
        if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }

    // The lock went with it: the next installer runs (and is closed again).
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "Fenmarch OrloCast-Installation- Mutex-{5C7E2B91-3FA4-4d6e-9B28-71D04E6A3C55}");
    EXPECT_TRUE(mutex == 0) << "the lock outlived its installer";
    if (mutex) CloseHandle(mutex);
}

// ---- status text hand-over -------------------------------------------------

InstallerState shared;
const char* const STAGES[] = {STAGE_EXTRACT, STAGE_COPY, STAGE_FINALIZE, STAGE_COMPLETED};
const int ITERATIONS = 200000;
volatile LONG writerDone = 0;

DWORD WINAPI rewriteStages(LPVOID) {
    for (int i = 0; i < ITERATIONS; i++) setStatusText(&shared, STAGES[i % 4]);
    InterlockedExchange(&writerDone, 1);
    return 0;
}

TEST(StatusText, ReaderOnlyEverSeesWholeStageTexts) {
    clearInstallerState(&shared, 0);
    setStatusText(&shared, STAGES[0]);
    writerDone = 0;
    HANDLE writer = CreateThread(0, 0, rewriteStages, 0, 0, 0);
    ASSERT_TRUE(writer != 0);
    int copies = 0, torn = 0;
    bool seen[4] = {false, false, false, false};
    std::string firstTorn;
    while (copies < ITERATIONS || !writerDone) {
        char copy[STATUS_TEXT_SIZE];
        copyStatusText(&shared, copy, sizeof copy);
        copies++;
        int stage = -1;
        for (int s = 0; s < 4; s++)
            if (strcmp(copy, STAGES[s]) == 0) stage = s;
        if (stage < 0) {
            if (torn++ == 0) firstTorn = copy;
        } else {
            seen[stage] = true;
        }
        if (copies > 50 * ITERATIONS) break;  // a writer that never ends is reported below
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(writer, 60000));
    CloseHandle(writer);
    EXPECT_EQ(0, torn) << "first torn text: '" << firstTorn << "'";
    EXPECT_TRUE(writerDone);
    int kinds = 0;
    for (bool s : seen) kinds += s;
    EXPECT_GE(kinds, 2) << "the reader never saw the text change: the test exercised nothing";
    RecordProperty("copies", copies);
}

}  // namespace
