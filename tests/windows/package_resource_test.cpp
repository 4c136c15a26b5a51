// readPackageHeader against real resource modules: none, 468 and 469 bytes,
// and the package that the installer itself carries.
#include <gtest/gtest.h>

#include "app/installer_state.h"
#include "tests/support/win32_check.h"

namespace {

InstallerState state;

HMODULE loadModule(const char* name) {
    const std::string path = orlotest::moduleFolder() + name;
    HMODULE module = LoadLibraryA(path.c_str());
    EXPECT_TRUE(module != 0) << "LoadLibraryA(" << path << ") failed, GLE=" << GetLastError();
    return module;
}

// No package, and a package of exactly the header's 468 bytes: -1, and the
// header copy stays as it was (all zero after clearing).
TEST(ReadPackageHeader, MissingOrHeaderSizedPackageIsRefused) {
    for (const char* name : {"pkg_none.dll", "pkg_468.dll"}) {
        HMODULE module = loadModule(name);
        ASSERT_TRUE(module);
        clearInstallerState(&state, (HINSTANCE)module);
        EXPECT_EQ(-1, readPackageHeader(&state)) << name;
        const PackageHeader zero = {};
        EXPECT_EQ(0, memcmp(&state.packageEntries, &zero, sizeof zero)) << name;
        FreeLibrary(module);
    }
}

TEST(ReadPackageHeader, OneByteMoreIsAccepted) {
    HMODULE module = loadModule("pkg_469.dll");
    ASSERT_TRUE(module);
    clearInstallerState(&state, (HINSTANCE)module);
    EXPECT_EQ(0, readPackageHeader(&state));
    // The test resource is 469 bytes of 'A'.
    const uint8_t* header = (const uint8_t*)&state.packageEntries;
    for (int i = 0; i < 468; i++) ASSERT_EQ('A', header[i]) << "byte " << i;
    FreeLibrary(module);
}

TEST(ReadPackageHeader, ReadsTheProductPackageOfThisExecutable) {
    clearInstallerState(&state, GetModuleHandleA(0));
    ASSERT_EQ(0, readPackageHeader(&state));
    EXPECT_STREQ("Orlocast.exe", state.packageEntries.entries[0].name);
    EXPECT_STREQ("readme.txt", state.packageEntries.entries[1].name);
    EXPECT_STREQ("OrloCastOnTheShow.pdf", state.packageEntries.entries[2].name);
    EXPECT_EQ(468u, state.packageEntries.entries[0].offset);
}

}  // namespace
