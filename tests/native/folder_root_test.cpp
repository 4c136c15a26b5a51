// Where createFolderChain's root ends: drive paths, UNC paths and others.
#include <gtest/gtest.h>

#include <string.h>

#include "platform/path_rules.h"

namespace {

int rootEnd(const char* path) { return folderRootEnd(path, (int)strlen(path)); }

TEST(platform_folder_root, DrivePathsEndAtTheFirstBackslash) {
    EXPECT_EQ(2, rootEnd("C:\\Program Files\\FM"));
    EXPECT_EQ(2, rootEnd("D:\\ab"));
    EXPECT_EQ(2, rootEnd("C:\\"));
    EXPECT_EQ(2, rootEnd("C:"));  // the whole text
    // Other texts: everything before the first backslash at or after index 2.
    EXPECT_EQ(5, rootEnd("C:dir\\x"));
    EXPECT_EQ(6, rootEnd("folder"));
    EXPECT_EQ(2, rootEnd("\\x\\y"));
    EXPECT_EQ(0, rootEnd(""));
}

TEST(platform_folder_root, UncPathsEndAfterTheShare) {
    EXPECT_EQ(14, rootEnd("\\\\server\\share\\dir"));
    EXPECT_EQ(14, rootEnd("\\\\server\\share\\"));
    EXPECT_EQ(14, rootEnd("\\\\server\\share"));
    EXPECT_EQ(9, rootEnd("\\\\server\\"));
    EXPECT_EQ(8, rootEnd("\\\\server"));
    EXPECT_EQ(5, rootEnd("\\\\s\\t\\x"));
    EXPECT_EQ(2, rootEnd("\\\\"));
}

}  // namespace
