// The installer state between the window thread and the install worker: the
// status text is never seen torn, and a worker that cannot start leaves the
// window free to close.
#include <gtest/gtest.h>

#include "app/main_window.h"
#include "platform/system_calls.h"
#include "tests/support/win32_test.h"

using namespace orlotest;

namespace {

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

HANDLE WINAPI noThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    return SetLastError(ERROR_NOT_ENOUGH_MEMORY), HANDLE(0);
}

// Without the worker, busy would stay 1 and refuse every close.
TEST(InstallWorker, AWorkerThatCannotStartLeavesTheWindowFree) {
    clearInstallerState(&shared, 0);
    systemCalls.createThread = noThread;
    for (int wait : {0, 1}) {
        EXPECT_EQ(-1, startInstallWorker(&shared, wait)) << wait;
        EXPECT_EQ(0, shared.busy) << wait;
    }
    resetSystemCalls();
}

}  // namespace
