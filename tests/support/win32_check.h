// Checks for Win32 calls in the manner of Wine's conformance tests: a
// failing check prints the actual value and GetLastError.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

// EXPECT_WIN32(call) / ASSERT_WIN32(call): the call returns a true value.
#define ORLO_WIN32_CHECK(kind, expression)                                                    \
    do {                                                                                      \
        SetLastError(0xDEADBEEF);                                                             \
        const auto orloResult_ = (expression);                                                \
        const DWORD orloError_ = GetLastError();                                              \
        kind##_TRUE(orloResult_) << #expression << " failed: result " << (long long)orloResult_ \
                                 << ", GLE=" << orloError_;                                   \
    } while (0)
#define EXPECT_WIN32(expression) ORLO_WIN32_CHECK(EXPECT, expression)
#define ASSERT_WIN32(expression) ORLO_WIN32_CHECK(ASSERT, expression)

namespace orlotest {

// Folder of the running test executable, with a trailing backslash.
inline std::string moduleFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(0, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

}  // namespace orlotest
