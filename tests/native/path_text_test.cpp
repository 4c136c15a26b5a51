// The path-text operations: every documented example, and joinPath at the
// edge of its buffer. Buffers for the limits are sized exactly, so that
// AddressSanitizer sees a write one byte too far; a canary byte after the
// declared size catches a write that stays inside the allocation.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "setup/folders.h"

namespace {

struct Cut {
    const char* input;
    const char* output;
    int result;
};

// Runs a cutting operation on a copy of input held in an exactly sized buffer.
template <typename Operation>
std::string applied(Operation operation, const char* input, int* result = nullptr) {
    const size_t size = strlen(input) + 1;
    std::unique_ptr<char[]> text(new char[size]);
    memcpy(text.get(), input, size);
    const int r = operation(text.get());
    if (result != nullptr) *result = r;
    return text.get();
}

int strip(char* text) {
    stripLastComponent(text);
    return 0;
}

int keepName(char* text) {
    keepFileName(text);
    return 0;
}

TEST(path_text, JoinPathAddsOneBackslash) {
    char folder[64] = "D:\\A";
    EXPECT_EQ(1, joinPath(folder, sizeof folder, "B"));
    EXPECT_STREQ("D:\\A\\B", folder);

    char rooted[64] = "D:\\A\\";
    EXPECT_EQ(1, joinPath(rooted, sizeof rooted, "B"));
    EXPECT_STREQ("D:\\A\\B", rooted);

    // The name's own backslashes are kept as they are.
    char drive[64] = "D:";
    EXPECT_EQ(1, joinPath(drive, sizeof drive, "Program Files\\"));
    EXPECT_STREQ("D:\\Program Files\\", drive);
    EXPECT_EQ(1, joinPath(drive, sizeof drive, "FM\\Orlo-Cast"));
    EXPECT_STREQ("D:\\Program Files\\FM\\Orlo-Cast", drive);

    char unc[64] = "\\\\srv\\";
    EXPECT_EQ(1, joinPath(unc, sizeof unc, "share"));
    EXPECT_STREQ("\\\\srv\\share", unc);
}

TEST(path_text, JoinPathFitsExactlyOrChangesNothing) {
    const char canary = '\x5a';
    for (int size : {4, 16, 512, 1024, 2048}) {
        for (int withBackslash = 0; withBackslash <= 1; withBackslash++) {
            // folder + separator + name + terminator == size exactly.
            const std::string folder = std::string(size / 4, 'f') + (withBackslash ? "\\" : "");
            const int nameLength = size - (int)folder.size() - (withBackslash ? 0 : 1) - 1;
            ASSERT_GE(nameLength, 1) << size;
            const std::string name(nameLength, 'n');
            const std::string joined = folder + (withBackslash ? "" : "\\") + name;
            ASSERT_EQ((size_t)size - 1, joined.size());

            std::unique_ptr<char[]> fits(new char[size + 1]);
            memset(fits.get(), canary, size + 1);
            memcpy(fits.get(), folder.c_str(), folder.size() + 1);
            EXPECT_EQ(1, joinPath(fits.get(), size, name.c_str())) << size << "/" << withBackslash;
            EXPECT_EQ(joined, fits.get());
            EXPECT_EQ(canary, fits[size]) << "wrote past " << size;

            // One byte over: nothing at all is written, not even the separator.
            const std::string longer = name + "x";
            std::unique_ptr<char[]> over(new char[size + 1]);
            memset(over.get(), canary, size + 1);
            memcpy(over.get(), folder.c_str(), folder.size() + 1);
            EXPECT_EQ(0, joinPath(over.get(), size, longer.c_str())) << size << "/" << withBackslash;
            EXPECT_EQ(folder, over.get());
            for (int i = (int)folder.size() + 1; i <= size; i++) ASSERT_EQ(canary, over[i]) << size << " at " << i;
        }
    }
}

TEST(path_text, JoinPathRefusesWhatCannotHoldTheSeparator) {
    // A full folder text leaves no room for the separator, even for an empty name.
    std::unique_ptr<char[]> full(new char[8]);
    memcpy(full.get(), "1234567", 8);
    EXPECT_EQ(0, joinPath(full.get(), 8, ""));
    EXPECT_STREQ("1234567", full.get());

    // Room for the separator alone: an empty name fits, one character does not.
    std::unique_ptr<char[]> one(new char[8]);
    memcpy(one.get(), "123456", 7);
    EXPECT_EQ(0, joinPath(one.get(), 8, "x"));
    EXPECT_STREQ("123456", one.get());
    EXPECT_EQ(1, joinPath(one.get(), 8, ""));
    EXPECT_STREQ("123456\\", one.get());

    // A folder text not terminated inside its size is left alone.
    std::unique_ptr<char[]> open(new char[4]);
    memcpy(open.get(), "abcd", 4);
    EXPECT_EQ(0, joinPath(open.get(), 4, "x"));
    EXPECT_EQ(0, memcmp(open.get(), "abcd", 4));

    char small[4] = "ab";
    EXPECT_EQ(0, joinPath(small, 0, "x"));
    EXPECT_EQ(0, joinPath(small, -1, "x"));
    EXPECT_STREQ("ab", small);
}

TEST(path_text, KeepRootPrefixCutsAfterTheFirstCountingBackslash) {
    const Cut cuts[] = {
        {"D:\\WINDOWS", "D:\\", 1},
        {"\\\\srv\\share\\WINDOWS", "\\\\srv\\", 1},
        {"D:", "D:", 0},
        {"", "", 0},
        {"D:\\", "D:\\", 1},
        {"WINDOWS\\x", "WINDOWS\\", 1},
        // In UNC form positions 0 to 2 never count, whatever they hold.
        {"\\WINDOWS\\x", "\\WINDOWS\\", 1},
        {"\\\\\\x\\y", "\\\\\\x\\", 1},
        {"\\\\srv", "\\\\srv", 0},
        {"\\\\\\", "\\\\\\", 0},
    };
    for (const Cut& cut : cuts) {
        int result = -1;
        EXPECT_EQ(cut.output, applied(keepRootPrefix, cut.input, &result)) << cut.input;
        EXPECT_EQ(cut.result, result) << cut.input;
    }
}

TEST(path_text, KeepDriveRootNeedsAColonOrADoubleBackslash) {
    const Cut cuts[] = {
        {"D:\\Program Files", "D:\\", 1},
        {"D:", "D:", 1},
        {"\\\\srv\\share\\x", "\\\\srv\\", 1},
        {"WINDOWS\\x", "", 0},
        {"\\WINDOWS\\x", "", 0},
        {"", "", 0},
        {"D:\\", "D:\\", 1},
        {"D:WINDOWS", "D:WINDOWS", 1},
        {"\\\\srv", "\\\\srv", 1},
        {"WINDOWS", "", 0},
        {"a\\b", "", 0},
        // Only a colon before the stop makes the text rooted.
        {"dir\\D:", "", 0},
        {"ab:c\\d", "ab:c\\", 1},
    };
    for (const Cut& cut : cuts) {
        int result = -1;
        EXPECT_EQ(cut.output, applied(keepDriveRoot, cut.input, &result)) << cut.input;
        EXPECT_EQ(cut.result, result) << cut.input;
    }
}

TEST(path_text, StripLastComponentCutsAtTheLastBackslash) {
    const Cut cuts[] = {
        {"D:\\dir\\file.exe", "D:\\dir", 0},
        {"D:\\dir\\", "D:\\dir", 0},
        {"D:\\x", "D:", 0},
        {"\\x", "", 0},
        {"file", "file", 0},
        {"", "", 0},
        {"\\", "", 0},
        {"\\\\srv\\share", "\\\\srv", 0},
        {"\\\\", "\\", 0},
        {"a\\b\\c\\d", "a\\b\\c", 0},
    };
    for (const Cut& cut : cuts) {
        EXPECT_EQ(cut.output, applied(strip, cut.input)) << cut.input;
    }
}

TEST(path_text, KeepFileNameKeepsWhatFollowsTheLastBackslash) {
    const Cut cuts[] = {
        {"D:\\downloads\\setup.exe", "setup.exe", 0},
        {"D:\\dir\\", "", 0},
        {"name", "name", 0},
        {"", "", 0},
        {"\\x", "x", 0},
        {"\\\\srv\\share\\OrloCastSetup.exe", "OrloCastSetup.exe", 0},
        {"D:setup.exe", "D:setup.exe", 0},
    };
    for (const Cut& cut : cuts) {
        EXPECT_EQ(cut.output, applied(keepName, cut.input)) << cut.input;
    }
}

}  // namespace
