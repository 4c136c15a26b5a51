// The version-to-class table of classifyOs, row by row, with its edges.
#include <gtest/gtest.h>

#include "platform/os_class.h"

namespace {

struct Row {
    uint32_t major, minor, productType;
    VersionRecord record;
    int expected;
};

const uint32_t WORKSTATION = 1, DOMAIN_CONTROLLER = 2, SERVER = 3;
const VersionRecord EXTENDED = VERSION_RECORD_EXTENDED, BASIC = VERSION_RECORD_BASIC, NONE = VERSION_RECORD_NONE;

void expectRows(const Row* rows, size_t count) {
    for (size_t i = 0; i < count; i++) {
        const Row& r = rows[i];
        EXPECT_EQ(r.expected, osClassFromVersion(r.major, r.minor, r.productType, r.record))
            << r.major << "." << r.minor << " product " << r.productType << " record " << r.record;
    }
}

TEST(os_class, MajorFiveAndBelowGoByTheMinorAlone) {
    const Row rows[] = {
        {5, 0, WORKSTATION, EXTENDED, OS_WINDOWS_2000},
        {5, 1, WORKSTATION, EXTENDED, OS_WINDOWS_XP},
        {5, 2, WORKSTATION, EXTENDED, OS_WINDOWS_XP64_2003},
        {5, 2, SERVER, EXTENDED, OS_WINDOWS_XP64_2003},
        {5, 3, SERVER, EXTENDED, OS_WINDOWS_XP},
        {5, 0xFFFFFFFF, 0, BASIC, OS_WINDOWS_XP},
        {4, 10, 0, BASIC, OS_WINDOWS_XP},  // Windows 98
        {4, 0, 0, BASIC, OS_WINDOWS_2000},
        {3, 51, 0, BASIC, OS_WINDOWS_XP},
        {0, 2, 0, EXTENDED, OS_WINDOWS_XP64_2003},
        {5, 1, 0, BASIC, OS_WINDOWS_XP},
    };
    expectRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(os_class, MajorSixGoesByTheMinorAndFor61TheProductType) {
    const Row rows[] = {
        {6, 0, WORKSTATION, EXTENDED, OS_WINDOWS_VISTA},
        {6, 0, SERVER, EXTENDED, OS_WINDOWS_VISTA},
        {6, 1, WORKSTATION, EXTENDED, OS_WINDOWS_7},
        {6, 1, SERVER, EXTENDED, OS_WINDOWS_VISTA},
        {6, 1, DOMAIN_CONTROLLER, EXTENDED, OS_WINDOWS_VISTA},
        {6, 1, 0, EXTENDED, OS_WINDOWS_VISTA},
        // Only the basic record: the product type reads as 0, whatever was passed.
        {6, 1, WORKSTATION, BASIC, OS_WINDOWS_VISTA},
        {6, 2, WORKSTATION, EXTENDED, OS_WINDOWS_8},
        {6, 2, SERVER, BASIC, OS_WINDOWS_8},
        {6, 3, WORKSTATION, EXTENDED, OS_WINDOWS_8_1},
        {6, 4, WORKSTATION, EXTENDED, OS_UNKNOWN},
        {6, 0xFFFFFFFF, WORKSTATION, EXTENDED, OS_UNKNOWN},
    };
    expectRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(os_class, LaterMajorsAndTheGapBeforeTen) {
    const Row rows[] = {
        {7, 0, WORKSTATION, EXTENDED, OS_UNKNOWN},
        {8, 1, WORKSTATION, EXTENDED, OS_UNKNOWN},
        {9, 0, WORKSTATION, EXTENDED, OS_UNKNOWN},
        {10, 0, WORKSTATION, EXTENDED, OS_WINDOWS_10},
        {10, 0, SERVER, BASIC, OS_WINDOWS_10},
        {10, 7, WORKSTATION, EXTENDED, OS_WINDOWS_10},
        {11, 0, WORKSTATION, EXTENDED, OS_WINDOWS_11_OR_LATER},
        {12, 3, SERVER, EXTENDED, OS_WINDOWS_11_OR_LATER},
        // Compared unsigned: the largest major is "later", not "5 or lower".
        {0xFFFFFFFF, 0, WORKSTATION, EXTENDED, OS_WINDOWS_11_OR_LATER},
        {0x80000000, 2, WORKSTATION, EXTENDED, OS_WINDOWS_11_OR_LATER},
    };
    expectRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(os_class, NoRecordIsUnknownWhateverTheNumbers) {
    const Row rows[] = {
        {5, 0, 0, NONE, OS_UNKNOWN},
        {6, 1, WORKSTATION, NONE, OS_UNKNOWN},
        {10, 0, WORKSTATION, NONE, OS_UNKNOWN},
    };
    expectRows(rows, sizeof rows / sizeof rows[0]);
}

}  // namespace
