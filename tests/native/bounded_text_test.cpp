// The bounded text operations at and past their limits. Buffers are sized
// exactly, so AddressSanitizer catches a write or read one byte too far.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/bounded_text.h"

namespace {

// A heap buffer of exactly `size` bytes with no slack, for the sanitizer.
std::unique_ptr<char[]> exact(size_t size, char fill = '\x7f') {
    std::unique_ptr<char[]> buffer(new char[size]);
    memset(buffer.get(), fill, size);
    return buffer;
}

TEST(BoundedText, CopyFitsOrLeavesAnEmptyText) {
    for (int size : {1, 2, 512, 1023, 1024, 2048, 4049, 4050, 4096}) {
        for (int length : {size - 2, size - 1, size, size + 1}) {
            if (length < 0) continue;
            const std::string source(length, 'p');
            auto buffer = exact(size);
            const int fitted = textCopy(buffer.get(), size, source.c_str());
            if (length < size) {
                EXPECT_EQ(1, fitted) << size << "/" << length;
                EXPECT_EQ(source, buffer.get());
            } else {
                EXPECT_EQ(0, fitted) << size << "/" << length;
                EXPECT_EQ('\0', buffer[0]);
            }
        }
    }
    EXPECT_EQ(0, textCopy(nullptr, 0, "x"));
}

TEST(BoundedText, CopyCutKeepsTheBeginning) {
    for (int size : {1, 1023, 1024, 4050}) {
        const std::string source(size + 5, 'c');
        auto buffer = exact(size);
        EXPECT_EQ(0, textCopyCut(buffer.get(), size, source.c_str()));
        EXPECT_EQ(strlen(buffer.get()), (size_t)size - 1);
        auto room = exact(size + 6);
        EXPECT_EQ(1, textCopyCut(room.get(), size + 6, source.c_str()));
        EXPECT_EQ(source, room.get());
    }
}

TEST(BoundedText, AppendIsAllOrNothing) {
    for (int size : {1024, 4096}) {
        auto buffer = exact(size);
        ASSERT_EQ(1, textCopy(buffer.get(), size, std::string(size - 10, 'a').c_str()));
        EXPECT_EQ(1, textAppend(buffer.get(), size, "123456789"));  // exactly fills: size-1 chars
        EXPECT_EQ(strlen(buffer.get()), (size_t)size - 1);
        const std::string before = buffer.get();
        EXPECT_EQ(0, textAppend(buffer.get(), size, "x"));
        EXPECT_EQ(before, buffer.get());
        EXPECT_EQ(1, textAppend(buffer.get(), size, ""));
    }
    // A destination without a terminator inside its size is refused, not read past.
    auto unterminated = exact(16, 'u');
    EXPECT_EQ(0, textAppend(unterminated.get(), 16, "x"));
    EXPECT_EQ('u', unterminated[15]);
}

TEST(BoundedText, FormatSubstitutesAndCuts) {
    char title[128];
    EXPECT_EQ(1, textFormat(title, sizeof title, "Fenmarch %s Installation (Version %s)", "Orlo-Cast", "1.0.0.1"));
    EXPECT_STREQ(title, "Fenmarch Orlo-Cast Installation (Version 1.0.0.1)");
    char numbers[64];
    EXPECT_EQ(1, textFormat(numbers, sizeof numbers, "%d %d %u %x %% %q", -103, 0, 4294967295u, 255u));
    EXPECT_STREQ(numbers, "-103 0 4294967295 ff % %q");
    EXPECT_EQ(1, textFormat(numbers, sizeof numbers, "%d", (int)0x80000000));
    EXPECT_STREQ(numbers, "-2147483648");

    for (int size : {1, 2, 1023, 1024, 2048}) {
        const std::string argument(size, 'z');
        auto buffer = exact(size);
        EXPECT_EQ(0, textFormat(buffer.get(), size, "[%s]", argument.c_str()));
        EXPECT_EQ(strlen(buffer.get()), (size_t)size - 1);
        if (size > 1) EXPECT_EQ(buffer[0], '[');
    }
}

TEST(BoundedText, LengthAndEquality) {
    auto buffer = exact(8, 'q');
    EXPECT_EQ(8, textLength(buffer.get(), 8));
    EXPECT_EQ(3, textLength("abc", 8));
    EXPECT_EQ(1, textEqual("OrloCast", "OrloCast"));
    EXPECT_EQ(0, textEqual("OrloCast", "orlocast"));
    EXPECT_EQ(0, textEqual("OrloCast", "OrloCast2"));
    EXPECT_EQ(0, textEqual("OrloCas", "OrloCast"));
    EXPECT_EQ(1, textEqual("", ""));
}

// Append, cut copy, format and length at and just past each buffer size
// the installer uses (paths 1024, registry values 4050 and 4096, and the
// sizes one below), into exactly sized buffers.
TEST(BoundedText, EveryOperationAtAndPastEachLimit) {
    for (int size : {1023, 1024, 4049, 4050, 4096}) {
        for (int length : {size - 2, size - 1, size, size + 1}) {
            const std::string source(length, 's');
            const bool fits = length < size;

            auto appended = exact(size);
            appended[0] = 0;
            EXPECT_EQ(fits ? 1 : 0, textAppend(appended.get(), size, source.c_str())) << size << "/" << length;
            EXPECT_EQ(fits ? source : std::string(), appended.get());
            // Onto a text already there: all or nothing, at the same limit.
            auto onto = exact(size);
            ASSERT_EQ(1, textCopy(onto.get(), size, "ab"));
            const std::string tail(length - 2, 't');
            EXPECT_EQ(fits ? 1 : 0, textAppend(onto.get(), size, tail.c_str())) << size << "/" << length;
            EXPECT_EQ(fits ? "ab" + tail : std::string("ab"), onto.get());

            auto cut = exact(size);
            EXPECT_EQ(fits ? 1 : 0, textCopyCut(cut.get(), size, source.c_str()));
            EXPECT_EQ(source.substr(0, size - 1), cut.get());

            auto formatted = exact(size);
            EXPECT_EQ(fits ? 1 : 0, textFormat(formatted.get(), size, "%s", source.c_str())) << size << "/" << length;
            EXPECT_EQ(source.substr(0, size - 1), formatted.get());
            // The limit reached inside a number after a text: 998 and 999
            // fit, 1000 and 1001 are cut after their third digit.
            auto number = exact(size);
            const std::string lead(size - 4, 'n');
            const unsigned value = (unsigned)(length - size + 1000);
            EXPECT_EQ(fits ? 1 : 0, textFormat(number.get(), size, "%s%u", lead.c_str(), value));
            EXPECT_EQ(lead + std::to_string(value).substr(0, 3), number.get());

            auto unterminated = exact(size, 'u');
            EXPECT_EQ(size, textLength(unterminated.get(), size));
            EXPECT_EQ(length < size - 1 ? length : size - 1, textLength(source.c_str(), size - 1));
        }
    }
}

}  // namespace
