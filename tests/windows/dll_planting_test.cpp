// A DLL planted beside the installer under the name of a system DLL is
// never loaded. The planted shfolder.dll writes a marker when loaded; Wine
// is told to prefer a native DLL of that name (WINEDLLOVERRIDES
// shfolder=n,b, set by the test run), as Windows would take one found
// beside the program. The control case, a load by bare name, shows that
// the planted DLL is found and the marker written when the search is open.
#include <gtest/gtest.h>

#include "tests/support/win32_test.h"

using namespace orlotest;

namespace {

DWORD runIn(const std::string& program, const std::string& argument) {
    return runProgram(wide(program), wide(argument));
}

class DllPlanting : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string built = moduleFolder() + "planting\\";
        driver_ = scratch_ / "planting_driver.exe";
        ASSERT_WIN32(CopyFileA((built + "planting_driver.exe").c_str(), driver_.c_str(), FALSE));
        ASSERT_WIN32(CopyFileA((built + "shfolder.dll").c_str(), (scratch_ / "shfolder.dll").c_str(), FALSE));
        marker_ = scratch_ / "loaded.txt";
        SetEnvironmentVariableA("ORLO_PLANT_MARKER", marker_.c_str());
    }
    void TearDown() override { SetEnvironmentVariableA("ORLO_PLANT_MARKER", 0); }
    bool plantedWasLoaded() {
        const bool loaded = pathExists(marker_);
        DeleteFileA(marker_.c_str());
        return loaded;
    }

    ScratchFolder scratch_{"planting"};
    std::string driver_, marker_;
};

TEST_F(DllPlanting, PlantedShfolderIsLoadedOnlyWhenTheSearchIsOpen) {
    char overrides[256] = "";
    GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
    RecordProperty("WINEDLLOVERRIDES", overrides);

    // Control: a load by bare name with the default search finds the DLL
    // beside the program. Without this the other cases would prove nothing.
    EXPECT_EQ(0u, runIn(driver_, "bare"));
    ASSERT_TRUE(plantedWasLoaded()) << "the planted DLL is not found even by a bare-name load (WINEDLLOVERRIDES='"
                                    << overrides << "'): this platform cannot show planting";

    // The installer's start-up: the search restricted first, then the
    // folders resolved with SHFOLDER.DLL needed. The real SHGetFolderPathA
    // answered (the planted one fails every call).
    EXPECT_EQ(0u, runIn(driver_, "startup"));
    EXPECT_FALSE(plantedWasLoaded()) << "the installer's folder resolution loaded the planted shfolder.dll";

    // The restriction alone also keeps a bare-name load away from it.
    EXPECT_EQ(0u, runIn(driver_, "restricted-bare"));
    EXPECT_FALSE(plantedWasLoaded()) << "restrictDllSearch did not take the program's folder out of the search";
}

}  // namespace
