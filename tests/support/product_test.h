// The fixture of the tests that run the install and uninstall procedures on
// the prefix itself: every test starts and ends without a trace of the
// product, installs a package of its choice, and removes it on a thread of
// its own that must end within a minute.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "platform/platform_ops.h"
#include "platform/system_calls.h"
#include "tests/support/test_package.h"
#include "tests/support/win32_test.h"

namespace orlotest {

inline InstallerState productState;
inline int uninstallResult;

inline DWORD WINAPI uninstallThread(LPVOID) {
    uninstallResult = runUninstall(&productState);
    return 0;
}

class ProductTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitialize(0));
        useAnsiCodePage();  // as the installer does first thing
        removeProductTraces();
        places_ = productPlaces();
        ASSERT_FALSE(places_.target.empty());
    }
    void TearDown() override {
        resetSystemCalls();
        removeProductTraces();
        CoUninitialize();
    }

    // The state of a fresh run whose package is `package` (none when empty),
    // reporting to commands_, and whose own path is this executable's.
    InstallerState* prepare(const std::vector<uint8_t>& package) {
        clearInstallerState(&productState, (HINSTANCE)moduleWithPackage(modules_, package));
        productState.window = commands_.window;
        GetModuleFileNameA(0, productState.modulePath, sizeof productState.modulePath);
        return &productState;
    }
    int install(const std::vector<uint8_t>& package = buildTestPackage(sampleFiles())) {
        package_ = package;
        return runInstall(prepare(package));
    }
    // runUninstall (with the package installed last) on a thread of its
    // own; its result, or 12345 when it has not returned within 60 seconds
    // (a normal run takes well under one).
    int uninstall() {
        uninstallResult = 12345;
        prepare(package_);
        HANDLE thread = CreateThread(0, 0, uninstallThread, 0, 0, 0);
        if (WaitForSingleObject(thread, 60000) != WAIT_OBJECT_0) TerminateThread(thread, 1);
        CloseHandle(thread);
        return uninstallResult;
    }
    // Changed entries of the prefix that lie outside the product's places:
    // its folders, its Start-menu folders, its keys.
    std::string outsideTheProduct(const Snapshot& before, const Snapshot& after) const {
        // clang-format off
        const std::string product[] = {"folder " + lower(places_.fm), "file " + lower(places_.fm) + "\\",
                                       "folder " + lower(places_.userMenu), "file " + lower(places_.userMenu) + "\\",
                                       "folder " + lower(places_.commonMenu), "file " + lower(places_.commonMenu) + "\\",
                                       "hkcu\\fen march", "hklm\\" + lower(UNINSTALL_KEY)};
        // clang-format on
        std::string out;
        size_t start = 0;
        const std::string all = changes(before, after);
        for (size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string line = all.substr(start, end - start);
            bool inside = line == "(nothing)";
            for (const std::string& p : product) inside = inside || line.find(p) != std::string::npos;
            if (!inside) out += line + "\n";
        }
        return out;
    }

    Places places_;
    std::vector<uint8_t> package_ = buildTestPackage(sampleFiles());
    ScratchFolder modules_{"product"};
    CommandCounter commands_;
};

}  // namespace orlotest
