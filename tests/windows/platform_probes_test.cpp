// classifyOs and getFrameMetrics against what the platform itself answers,
// and (under Wine) classifyOs in child processes told to be other Windows
// versions.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string>

#include "platform/os_class.h"
#include "platform/platform_ops.h"
#include "tests/support/win32_check.h"

namespace {

const char* const CHILD_OUTPUT_VARIABLE = "ORLO_CLASSIFY_OS_OUTPUT";

// In a child started by ClassifyOs.UnderEachWineVersion: writes the version
// the platform reports and classifyOs's code to the file the parent named,
// then ends before any test runs.
__attribute__((constructor)) void reportClassToParent() {
    char outputPath[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(CHILD_OUTPUT_VARIABLE, outputPath, sizeof outputPath);
    if (length == 0 || length >= sizeof outputPath) return;
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA((OSVERSIONINFOA*)&version);
    char report[64];
    const int size = snprintf(report, sizeof report, "%lu.%lu %u %d", version.dwMajorVersion, version.dwMinorVersion,
                              version.wProductType, classifyOs());
    HANDLE file = CreateFileA(outputPath, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, report, (DWORD)size, &written, 0);
        CloseHandle(file);
    }
    ExitProcess(0);
}

TEST(FrameMetrics, EveryCombinationOfPlacesAndFrames) {
    const int padded = GetSystemMetrics(92);  // SM_CXPADDEDBORDER
    const int fixedBorder = padded + GetSystemMetrics(SM_CXFIXEDFRAME);
    const int sizingBorder = padded + GetSystemMetrics(SM_CXSIZEFRAME);
    // Bit 0 alone decides the frame.
    const DWORD flags[] = {0, 1, 2, 3, 0xFFFFFFFE, 0xFFFFFFFF};
    for (const DWORD frameFlags : flags) {
        for (int wanted = 0; wanted < 8; wanted++) {
            int border = -7, caption = -7, menu = -7;
            getFrameMetrics((wanted & 1) ? &border : nullptr, (wanted & 2) ? &caption : nullptr,
                            (wanted & 4) ? &menu : nullptr, frameFlags);
            const std::string where = "flags " + std::to_string(frameFlags) + ", places " + std::to_string(wanted);
            EXPECT_EQ((wanted & 1) ? ((frameFlags & 1) ? fixedBorder : sizingBorder) : -7, border) << where;
            EXPECT_EQ((wanted & 2) ? GetSystemMetrics(SM_CYCAPTION) : -7, caption) << where;
            EXPECT_EQ((wanted & 4) ? GetSystemMetrics(SM_CYMENU) : -7, menu) << where;
        }
    }
    // The two frames differ on every desktop theme this runs on, so a
    // mixed-up bit shows.
    EXPECT_NE(fixedBorder, sizingBorder);
}

TEST(ClassifyOs, AgreesWithTheVersionThePlatformReports) {
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_WIN32(GetVersionExA((OSVERSIONINFOA*)&version));
    const int code = classifyOs();
    RecordProperty("version", std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion));
    EXPECT_EQ(osClassFromVersion(version.dwMajorVersion, version.dwMinorVersion, version.wProductType,
                                 VERSION_RECORD_EXTENDED),
              code);
    EXPECT_NE(OS_UNKNOWN, code) << version.dwMajorVersion << "." << version.dwMinorVersion;
    // Wine's default is Windows 7 (6.1 workstation).
    if (version.dwMajorVersion == 6 && version.dwMinorVersion == 1 && version.wProductType == VER_NT_WORKSTATION) {
        EXPECT_EQ(OS_WINDOWS_7, code);
    }
}

bool runningUnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != 0; }

// Runs this executable as a child with Wine's per-program Windows version
// (HKCU\Software\Wine\AppDefaults\<exe>, "Version") set to wineVersion, and
// returns its report "major.minor productType code", or "" on failure.
std::string classifyInChild(const std::string& exePath, const std::string& appKey, const char* wineVersion) {
    HKEY key;
    if (RegCreateKeyA(HKEY_CURRENT_USER, appKey.c_str(), &key) != ERROR_SUCCESS) return "";
    RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE*)wineVersion, (DWORD)strlen(wineVersion) + 1);
    RegCloseKey(key);

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string output = std::string(temp) + "orlo-classify-" + std::to_string(GetCurrentProcessId()) + ".txt";
    DeleteFileA(output.c_str());
    SetEnvironmentVariableA(CHILD_OUTPUT_VARIABLE, output.c_str());
    std::string command = "\"" + exePath + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    const BOOL started = CreateProcessA(exePath.c_str(), &command[0], 0, 0, FALSE, 0, 0, 0, &startup, &process);
    SetEnvironmentVariableA(CHILD_OUTPUT_VARIABLE, 0);
    if (started) {
        WaitForSingleObject(process.hProcess, 30000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());

    std::string report;
    HANDLE file = CreateFileA(output.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    if (file != INVALID_HANDLE_VALUE) {
        char bytes[64];
        DWORD got = 0;
        ReadFile(file, bytes, sizeof bytes, &got, 0);
        report.assign(bytes, got);
        CloseHandle(file);
    }
    DeleteFileA(output.c_str());
    return report;
}

// The code a version should get, written out once more for the versions
// Wine can pretend to be.
int expectedClass(unsigned major, unsigned minor, unsigned productType) {
    if (major == 5) return minor == 0 ? OS_WINDOWS_2000 : minor == 2 ? OS_WINDOWS_XP64_2003 : OS_WINDOWS_XP;
    if (major == 6 && minor == 0) return OS_WINDOWS_VISTA;
    if (major == 6 && minor == 1) return productType == VER_NT_WORKSTATION ? OS_WINDOWS_7 : OS_WINDOWS_VISTA;
    if (major == 6 && minor == 2) return OS_WINDOWS_8;
    if (major == 6 && minor == 3) return OS_WINDOWS_8_1;
    if (major == 10) return OS_WINDOWS_10;
    return -100;  // not a version Wine reports
}

// Wine reports the version of the Windows it is told to be, per program;
// the setting applies to the child alone and is removed after. Which
// version each name gives is Wine's affair (Wine 8.0 swaps the product
// types of "win7" and "win2008r2", and the manifest's compatibility list,
// which names Windows 7 as the latest, makes 8.1 and 10 report 6.2), so the
// child's code is checked against the version it was told.
TEST(ClassifyOs, UnderEachWineVersion) {
    if (!runningUnderWine()) GTEST_SKIP() << "needs Wine's per-program Windows version";
    char exePath[MAX_PATH];
    const DWORD length = GetModuleFileNameA(0, exePath, sizeof exePath);
    ASSERT_TRUE(length > 0 && length < sizeof exePath);
    const std::string exeName = std::string(exePath).substr(std::string(exePath).find_last_of('\\') + 1);
    const std::string appKey = "Software\\Wine\\AppDefaults\\" + exeName;
    HKEY existing;
    if (RegOpenKeyA(HKEY_CURRENT_USER, appKey.c_str(), &existing) == ERROR_SUCCESS) {
        RegCloseKey(existing);
        GTEST_SKIP() << appKey << " exists already; it is left alone";
    }

    bool seen[OS_WINDOWS_11_OR_LATER + 1] = {};
    for (const char* wineVersion :
         {"win2k", "winxp", "win2003", "vista", "win2008", "win7", "win2008r2", "win8", "win81", "win10"}) {
        const std::string report = classifyInChild(exePath, appKey, wineVersion);
        unsigned major = 0, minor = 0, productType = 0;
        int code = -100;
        ASSERT_EQ(4, sscanf(report.c_str(), "%u.%u %u %d", &major, &minor, &productType, &code))
            << wineVersion << ": '" << report << "'";
        EXPECT_EQ(expectedClass(major, minor, productType), code) << wineVersion << ": " << report;
        if (code >= 0 && code <= OS_WINDOWS_11_OR_LATER) seen[code] = true;
    }
    // The child really ran as other systems: every class up to Windows 8.
    for (int code = OS_WINDOWS_2000; code <= OS_WINDOWS_8; code++) EXPECT_TRUE(seen[code]) << "code " << code;
    HKEY left;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, appKey.c_str(), &left));
}

}  // namespace
