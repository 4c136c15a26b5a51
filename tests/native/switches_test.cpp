// The switch scanner against every consequence of its rules.
#include <gtest/gtest.h>

#include <string>

#include "app/switches.h"

namespace {

// "h", "i", "u" for the switches set, e.g. "hi".
std::string scan(const char* text) {
    int hidden = 0, install = 0, uninstall = 0;
    scanSwitches(text, &hidden, &install, &uninstall);
    return std::string(hidden ? "h" : "") + (install ? "i" : "") + (uninstall ? "u" : "");
}

TEST(Switches, ShortAndEmptyTextsSetNothing) {
    EXPECT_EQ("", scan(nullptr));
    EXPECT_EQ("", scan(""));
    EXPECT_EQ("", scan("-"));
    EXPECT_EQ("", scan("h"));
    EXPECT_EQ("", scan("  "));
}

TEST(Switches, SwitchesAnywhereWithOrWithoutBlanks) {
    EXPECT_EQ("hi", scan("-h -i"));
    EXPECT_EQ("hi", scan("-h-i"));
    EXPECT_EQ("hi", scan("-hx -i"));
    EXPECT_EQ("hu", scan("-H -U"));
    EXPECT_EQ("u", scan("-u"));
    EXPECT_EQ("hiu", scan("-u -i -h"));
    EXPECT_EQ("i", scan("   -i   "));
}

TEST(Switches, OnlyTheFirstLetterAfterAHyphenCounts) {
    EXPECT_EQ("i", scan("-install"));
    EXPECT_EQ("h", scan("-hi"));
    EXPECT_EQ("", scan("-I"));
    EXPECT_EQ("", scan("--i"));
    EXPECT_EQ("i", scan("---i"));  // the third hyphen introduces i again
    EXPECT_EQ("", scan("-x -y /i /h"));
    EXPECT_EQ("", scan("x-"));  // a hyphen at the very end
}

TEST(Switches, HyphensInsidePathsCountToo) {
    EXPECT_EQ("i", scan("C:\\my-installs\\setup"));
    EXPECT_EQ("u", scan("C:\\my-updates\\setup"));
    EXPECT_EQ("h", scan("\"D:\\fen-house\\x\" "));
    EXPECT_EQ("", scan("\"D:\\fen-march\\x\" "));
}

}  // namespace
