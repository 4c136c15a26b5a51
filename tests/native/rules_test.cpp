// Pure rules: bounded texts and path texts at and past their limits, path rules
// with their examples and under a double-byte code page, switches, Windows classes.
// Texts lie in exactly sized heap buffers, so AddressSanitizer sees a byte too far.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "app/switches.h"
#include "platform/os_class.h"
#include "platform/path_rules.h"
#include "setup/folders.h"

namespace {

std::unique_ptr<char[]> exact(int size, char fill = '\x7f') {
    std::unique_ptr<char[]> buffer(new char[size]);
    memset(buffer.get(), fill, size);
    return buffer;
}

// Texts one and two shorter than the buffer, as long and one longer, for the smallest buffers
// and those the installer uses (paths 1024, registry values 4050 and 4096, one below each).
TEST(BoundedText, EveryOperationAtAndPastEachLimit) {
    for (int size : {1, 2, 4, 1023, 1024, 4049, 4050, 4096}) {
        for (int length = std::max(0, size - 2); length <= size + 1; length++) {
            SCOPED_TRACE(testing::Message() << "size " << size << ", length " << length);
            const std::string source(length, 's'), beginning = source.substr(0, size - 1);
            const int fits = length < size ? 1 : 0;
            auto copied = exact(size), cut = exact(size), formatted = exact(size), appended = exact(size);
            EXPECT_EQ(fits, textCopy(copied.get(), size, source.c_str()));
            EXPECT_EQ(fits ? source : "", copied.get()) << "what does not fit must read as absent";
            EXPECT_EQ(fits, textCopyCut(cut.get(), size, source.c_str()));
            EXPECT_EQ(beginning, cut.get());
            EXPECT_EQ(fits, textFormat(formatted.get(), size, "%s", source.c_str()));
            EXPECT_EQ(beginning, formatted.get());
            appended[0] = 0;
            EXPECT_EQ(fits, textAppend(appended.get(), size, source.c_str()));
            EXPECT_EQ(fits ? source : "", appended.get());
            EXPECT_EQ(size, textLength(exact(size, 'u').get(), size));
            EXPECT_EQ(std::min(length, size - 1), textLength(source.c_str(), size - 1));
            if (size < 4) continue;
            // Onto a text already there: all or nothing at the same limit.
            auto onto = exact(size), number = exact(size);
            textCopy(onto.get(), size, "ab");
            const std::string tail(length - 2, 't'), lead(size - 4, 'n');
            EXPECT_EQ(fits, textAppend(onto.get(), size, tail.c_str()));
            EXPECT_EQ(fits ? "ab" + tail : "ab", onto.get());
            // The limit inside a number: 998 and 999 fit, 1000 and 1001 keep three digits.
            const unsigned value = (unsigned)(length - size + 1000);
            EXPECT_EQ(fits, textFormat(number.get(), size, "%s%u", lead.c_str(), value));
            EXPECT_EQ(lead + std::to_string(value).substr(0, 3), number.get());
        }
    }
}

TEST(BoundedText, ConversionsEqualityAndRefusals) {
    char out[64];
    EXPECT_EQ(1, textFormat(out, sizeof out, "%s%d %d %d %u %x %% %q", "v", -103, 0, (int)0x80000000, ~0u, 255u));
    EXPECT_STREQ(out, "v-103 0 -2147483648 4294967295 ff % %q");
    EXPECT_EQ(1, textEqual("OrloCast", "OrloCast") & textEqual("", ""));
    for (const char* other : {"orlocast", "OrloCast2", "OrloCas", ""})
        EXPECT_EQ(0, textEqual("OrloCast", other) | textEqual(other, "OrloCast")) << other;
    EXPECT_EQ(0, textCopy(nullptr, 0, "x"));
    auto unterminated = exact(16, 'u');  // refused, not read past
    EXPECT_EQ(0, textAppend(unterminated.get(), 16, "x"));
    EXPECT_EQ('u', unterminated[15]);
}

// J joinPath "x" (room for one separator), R keepRootPrefix, D keepDriveRoot, S stripLastComponent,
// F keepFileName, E folderRootEnd, P pathIsRooted, N listedNameIsPlain, L textFindLastChar '\\',
// B textCharBytes. An output of {} means the text is left as it is.
void expectRow(char op, const char* input, const char* output, int expected) {
    SCOPED_TRACE(testing::Message() << op << " '" << input << "'");
    const int length = (int)strlen(input), size = length + (op == 'J' ? 3 : 1);
    auto buffer = exact(size);
    char* const text = (char*)memcpy(buffer.get(), input, length + 1);
    int result = 0;
    switch (op) {
        case 'J': result = joinPath(text, size, "x"); break;
        case 'R': result = keepRootPrefix(text); break;
        case 'D': result = keepDriveRoot(text); break;
        case 'S': stripLastComponent(text); break;
        case 'F': keepFileName(text); break;
        case 'E': result = folderRootEnd(text, length); break;
        case 'P': result = pathIsRooted(text); break;
        case 'N': result = listedNameIsPlain(text); break;
        case 'L': result = textFindLastChar(text, '\\'); break;
        case 'B': result = textCharBytes(text); break;
    }
    EXPECT_EQ(output ? output : input, std::string(text));
    EXPECT_EQ(expected, result);
}

// clang-format off
struct Row { char op; const char* input; const char* output; int result; };
const Row ROWS[] = {
    {'J', "D:\\A", "D:\\A\\x", 1}, {'J', "D:\\A\\", "D:\\A\\x", 1}, {'J', "D:", "D:\\x", 1},
    {'J', "\\\\srv\\", "\\\\srv\\x", 1},
    // To the first backslash that counts; in UNC form positions 0 to 2 never count.
    {'R', "D:\\WINDOWS", "D:\\", 1}, {'R', "\\\\srv\\share\\WINDOWS", "\\\\srv\\", 1}, {'R', "D:", {}, 0},
    {'R', "", {}, 0}, {'R', "D:\\", {}, 1}, {'R', "WINDOWS\\x", "WINDOWS\\", 1},
    {'R', "\\WINDOWS\\x", "\\WINDOWS\\", 1}, {'R', "\\\\\\x\\y", "\\\\\\x\\", 1}, {'R', "\\\\srv", {}, 0},
    {'R', "\\\\\\", {}, 0},
    // The same stop; rooted only by a colon before it or a leading "\\", else emptied.
    {'D', "D:\\Program Files", "D:\\", 1}, {'D', "D:", {}, 1}, {'D', "\\\\srv\\share\\x", "\\\\srv\\", 1},
    {'D', "WINDOWS\\x", "", 0}, {'D', "\\WINDOWS\\x", "", 0}, {'D', "", "", 0}, {'D', "D:\\", {}, 1},
    {'D', "D:WINDOWS", {}, 1}, {'D', "\\\\srv", {}, 1}, {'D', "WINDOWS", "", 0}, {'D', "a\\b", "", 0},
    {'D', "dir\\D:", "", 0}, {'D', "ab:c\\d", "ab:c\\", 1},
    {'S', "D:\\dir\\file.exe", "D:\\dir", 0}, {'S', "D:\\dir\\", "D:\\dir", 0}, {'S', "D:\\x", "D:", 0},
    {'S', "\\x", "", 0}, {'S', "file", {}, 0}, {'S', "", {}, 0}, {'S', "\\", "", 0},
    {'S', "\\\\srv\\share", "\\\\srv", 0}, {'S', "\\\\", "\\", 0}, {'S', "a\\b\\c\\d", "a\\b\\c", 0},
    {'F', "D:\\downloads\\setup.exe", "setup.exe", 0}, {'F', "D:\\dir\\", "", 0}, {'F', "name", {}, 0},
    {'F', "", {}, 0}, {'F', "\\x", "x", 0}, {'F', "\\\\srv\\share\\Setup.exe", "Setup.exe", 0},
    {'F', "D:setup.exe", {}, 0},
    // Drive paths end at their first backslash, UNC paths after the share, others
    // at the first backslash after their first two characters.
    {'E', "C:\\Program Files\\FM", {}, 2}, {'E', "C:", {}, 2}, {'E', "C:dir\\x", {}, 5}, {'E', "folder", {}, 6},
    {'E', "\\x\\y", {}, 2}, {'E', "", {}, 0}, {'E', "\\\\", {}, 2}, {'E', "\\\\server\\share\\dir", {}, 14},
    {'E', "\\\\server\\share", {}, 14}, {'E', "\\\\server\\", {}, 9}, {'E', "\\\\server", {}, 8},
    {'E', "\\\\s\\t\\x", {}, 5},
    {'P', "C:\\", {}, 1}, {'P', "c:\\x", {}, 1}, {'P', "\\\\srv\\share", {}, 1}, {'P', "\\\\srv\\share\\x", {}, 1},
    {'P', "", {}, 0}, {'P', "Startup", {}, 0}, {'P', "C:", {}, 0}, {'P', "C:x", {}, 0}, {'P', "1:\\x", {}, 0},
    {'P', "\\x", {}, 0}, {'P', "\\\\srv", {}, 0}, {'P', "\\\\srv\\", {}, 0}, {'P', "\\\\srv\\\\x", {}, 0},
    {'P', "\\\\.\\C:\\x", {}, 0}, {'P', "\\\\?\\C:\\x", {}, 0},
    {'N', "", {}, 0}, {'N', ".", {}, 0}, {'N', "..", {}, 0}, {'N', "a\\..\\x.txt", {}, 0}, {'N', "x:y", {}, 0},
    {'N', "a?b", {}, 0}, {'N', "a*b", {}, 0}, {'N', "a/b", {}, 0}, {'N', "...", {}, 1}, {'N', ".hidden", {}, 1},
    {'N', "a b.txt", {}, 1}
};
// clang-format on

TEST(PathText, DocumentedExamples) {
    for (const Row& row : ROWS) expectRow(row.op, row.input, row.output, row.result);
}

// folder + separator + name fill exactly `size` bytes, or one more; a guard
// byte after the size catches a write that stays inside the allocation.
TEST(PathText, JoinPathFitsExactlyOrChangesNothing) {
    for (int size : {4, 16, 1024}) {
        for (const std::string end : {"", "\\"}) {
            const std::string folder = std::string(size / 4, 'f') + end, separator = end.empty() ? "\\" : "";
            for (int over = 0; over <= 1; over++) {
                const std::string name(size - folder.size() - separator.size() - 1 + over, 'n');
                auto text = exact(size + 1, 'g');
                memcpy(text.get(), folder.c_str(), folder.size() + 1);
                EXPECT_EQ(1 - over, joinPath(text.get(), size, name.c_str())) << size << end << over;
                EXPECT_EQ(over ? folder : folder + separator + name, text.get());
                for (int i = over ? (int)folder.size() + 1 : size; i <= size; i++) ASSERT_EQ('g', text[i]) << i;
            }
        }
    }
    // No room for the separator, or for the name after it; not terminated; no size.
    char full[8] = "1234567", one[8] = "123456", open[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(0, joinPath(full, 8, "") | joinPath(one, 8, "x") | joinPath(open, 4, "x") | joinPath(one, 0, "x"));
    EXPECT_TRUE(!strcmp("1234567", full) && !strcmp("123456", one) && !memcmp(open, "abcd", 4));
    EXPECT_TRUE(joinPath(one, 8, "") == 1 && !strcmp("123456\\", one));
}

// Code page 932: lead bytes 81 to 9F and E0 to FC. "ソ" is 83 5C and "表" 95 5C: their second
// byte is a backslash only to a rule that steps byte by byte.
#define SO "\x83\x5C"
#define HYO "\x95\x5C"
const unsigned char CP932[6] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0}, SINGLE_BYTE[2] = {0, 0};

struct DoubleByte : testing::Test {
    void SetUp() override { textSetLeadBytes(CP932, 3); }
    void TearDown() override { textSetLeadBytes(SINGLE_BYTE, 1); }
};

// clang-format off
const Row CP932_ROWS[] = {
    {'J', "C:\\" SO, "C:\\" SO "\\x", 1}, {'F', "D:\\" HYO, HYO, 0}, {'S', "C:\\" SO "\\" HYO, "C:\\" SO, 0},
    {'R', "\\\\" SO "\\share\\x", "\\\\" SO "\\", 1}, {'D', "\\\\" SO HYO "\\share\\x", "\\\\" SO HYO "\\", 1},
    {'E', "\\\\" SO HYO "\\share\\x", {}, 12}, {'E', SO "\\x", {}, 4},  // two characters skipped
    {'P', "\\\\" SO "\\share", {}, 1}, {'N', SO HYO ".txt", {}, 1}, {'N', SO "\\x", {}, 0},
    {'L', "C:\\" SO, {}, 2}, {'L', "a\\\x83", {}, 1},  // a lead byte at the end is a byte of its own
    {'B', "", {}, 0}, {'B', "\x80x", {}, 1}, {'B', "\x81x", {}, 2}, {'B', "\x9Fx", {}, 2}, {'B', "\xA0x", {}, 1},
    {'B', "\xDFx", {}, 1}, {'B', "\xE0x", {}, 2}, {'B', "\xFC\x5C", {}, 2}, {'B', "\xFD\x5C", {}, 1}
};
// clang-format on

// Single-byte texts come out as without the table.
TEST_F(DoubleByte, TrailBytesAreNeverSeparators) {
    for (const Row& row : ROWS) expectRow(row.op, row.input, row.output, row.result);
    for (const Row& row : CP932_ROWS) expectRow(row.op, row.input, row.output, row.result);
}

TEST(Switches, OnlyTheLetterRightAfterEachHyphenCounts) {
    // clang-format off
    const char* const rows[][2] = {  // text, the switches it sets
        {"", ""}, {"-", ""}, {"h", ""}, {"  ", ""}, {"x-", ""}, {"-x -y /i /h", ""}, {"-I", ""}, {"--i", ""},
        {"-h -i", "hi"}, {"-h-i", "hi"}, {"-hx -i", "hi"}, {"-H -U", "hu"}, {"-u -i -h", "hiu"}, {"   -i   ", "i"},
        {"-install", "i"}, {"-hi", "h"}, {"---i", "i"},  // the third hyphen is read as a hyphen again
        {"C:\\my-installs\\setup", "i"}, {"C:\\my-updates\\setup", "u"}, {"\"D:\\fen-house\\x\" ", "h"},
        {"\"D:\\fen-march\\x\" ", ""}, {nullptr, ""}};
    // clang-format on
    for (const auto& row : rows) {
        int h = 0, i = 0, u = 0;
        scanSwitches(row[0], &h, &i, &u);
        EXPECT_EQ(row[1], std::string(h ? "h" : "") + (i ? "i" : "") + (u ? "u" : "")) << (row[0] ? row[0] : "null");
    }
    // What WinMain gets of the process's command line: the program's name
    // (quoted up to the closing quote, else up to a blank) and the blanks
    // after it go.
    // clang-format off
    const char* const lines[][2] = {
        {"setup.exe -h -i", "-h -i"}, {"\"C:\\Program Files\\x\\s.exe\" -u", "-u"}, {"\"C:\\a b\\s.exe\"-h", "-h"},
        {"s.exe\t \t-i -h", "-i -h"}, {"s.exe", ""}, {"\"unterminated -h", ""}, {"", ""}, {"\"\" -i", "-i"},
        {"C:\\my-installs\\s.exe x", "x"}, {"s\xFF.exe -i", "-i"}};
    // clang-format on
    for (const auto& line : lines) EXPECT_STREQ(line[1], commandLineArguments(line[0])) << line[0];
}

// Written from the versions' own list, row by row.
TEST(OsClass, VersionNumbersGiveTheirClass) {
    const uint32_t WS = 1, DC = 2, SERVER = 3, ALL = 0xFFFFFFFFu;  // product types
    const VersionRecord EXT = VERSION_RECORD_EXTENDED, BASIC = VERSION_RECORD_BASIC, NONE = VERSION_RECORD_NONE;
    // clang-format off
    const struct { uint32_t major, minor, productType; VersionRecord record; int expected; } rows[] = {
        // 5 and below by the minor alone.
        {5, 0, WS, EXT, OS_WINDOWS_2000}, {5, 1, WS, EXT, OS_WINDOWS_XP}, {5, 2, WS, EXT, OS_WINDOWS_XP64_2003},
        {5, 2, SERVER, EXT, OS_WINDOWS_XP64_2003}, {5, 3, SERVER, EXT, OS_WINDOWS_XP}, {5, ALL, 0, BASIC, OS_WINDOWS_XP},
        {4, 10, 0, BASIC, OS_WINDOWS_XP}, {4, 0, 0, BASIC, OS_WINDOWS_2000}, {3, 51, 0, BASIC, OS_WINDOWS_XP},
        {0, 2, 0, EXT, OS_WINDOWS_XP64_2003},
        // 6 by the minor; 6.1 is 7 only on a workstation, which the basic record cannot tell.
        {6, 0, WS, EXT, OS_WINDOWS_VISTA}, {6, 0, SERVER, EXT, OS_WINDOWS_VISTA}, {6, 1, WS, EXT, OS_WINDOWS_7},
        {6, 1, SERVER, EXT, OS_WINDOWS_VISTA}, {6, 1, DC, EXT, OS_WINDOWS_VISTA}, {6, 1, 0, EXT, OS_WINDOWS_VISTA},
        {6, 1, WS, BASIC, OS_WINDOWS_VISTA}, {6, 2, WS, EXT, OS_WINDOWS_8}, {6, 2, SERVER, BASIC, OS_WINDOWS_8},
        {6, 3, WS, EXT, OS_WINDOWS_8_1}, {6, 4, WS, EXT, OS_UNKNOWN}, {6, ALL, WS, EXT, OS_UNKNOWN},
        // 7 to 9 unknown; 10; 11 and later, compared unsigned.
        {7, 0, WS, EXT, OS_UNKNOWN}, {9, 0, WS, EXT, OS_UNKNOWN}, {10, 0, WS, EXT, OS_WINDOWS_10},
        {10, 0, SERVER, BASIC, OS_WINDOWS_10}, {10, 7, WS, EXT, OS_WINDOWS_10}, {11, 0, WS, EXT, OS_WINDOWS_11_OR_LATER},
        {12, 3, SERVER, EXT, OS_WINDOWS_11_OR_LATER}, {ALL, 0, WS, EXT, OS_WINDOWS_11_OR_LATER},
        {0x80000000u, 2, WS, EXT, OS_WINDOWS_11_OR_LATER},
        // No record: unknown whatever the numbers.
        {5, 0, 0, NONE, OS_UNKNOWN}, {6, 1, WS, NONE, OS_UNKNOWN}, {10, 0, WS, NONE, OS_UNKNOWN}};
    // clang-format on
    for (const auto& r : rows) {
        EXPECT_EQ(r.expected, osClassFromVersion(r.major, r.minor, r.productType, r.record))
            << r.major << "." << r.minor << " product " << r.productType << " record " << r.record;
    }
}

}  // namespace
