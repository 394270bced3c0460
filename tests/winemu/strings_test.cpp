// KERNEL32 string calls and wsprintfA: bounded copies, Windows' comparison order, and the
// formats with their 1024-character limit.
#include "support/test_machine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using testsupport::ActiveMachine;
using testsupport::TestImage;

namespace {

constexpr char kJunk = '\x5A';

struct StringsFixture : ::testing::Test {
    TestImage image;
    ActiveMachine machine{image};
};

int Sign(int value) {
    return (value > 0) - (value < 0);
}

} // namespace

TEST_F(StringsFixture, CopyNWritesAtMostMaxLengthBytes) {
    struct Row {
        INT maxLength;
        std::string written; // the bytes written, terminator included
    };
    const Row rows[] = {
        {0, ""},
        {-1, ""},
        {1, std::string("\0", 1)},
        {3, std::string("ab\0", 3)},
        {4, std::string("abc\0", 4)}, // exact fit
        {10, std::string("abc\0", 4)},
    };
    for (const Row& row : rows) {
        char buffer[16];
        std::memset(buffer, kJunk, sizeof buffer);
        EXPECT_EQ(lstrcpynA(buffer, "abc", row.maxLength), buffer);
        EXPECT_EQ(std::string(buffer, row.written.size() + 1), row.written + kJunk)
            << "max " << row.maxLength;
    }
}

TEST_F(StringsFixture, CopyCatAndLength) {
    char buffer[16];
    std::memset(buffer, kJunk, sizeof buffer);
    EXPECT_EQ(lstrcpyA(buffer, "C:\\"), buffer);
    EXPECT_EQ(lstrcatA(buffer, "WINNT"), buffer);
    EXPECT_EQ(std::string(buffer, 10), std::string("C:\\WINNT\0", 9) + kJunk);
    EXPECT_EQ(lstrlenA(buffer), 8);
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrlenA(""), 0);
    EXPECT_EQ(lstrcpyA(nullptr, "x"), nullptr);
    EXPECT_EQ(lstrcatA(buffer, nullptr), nullptr);
}

TEST_F(StringsFixture, ComparisonFollowsWindowsSortOrder) {
    struct Row {
        const char* a;
        const char* b;
        int cmp;  // lstrcmpA's sign
        int cmpi; // lstrcmpiA's sign
    };
    const Row rows[] = {
        {"abc", "abc", 0, 0},
        {"abc", "ABC", -1, 0}, // lower case before upper case, once all else is equal
        {"ABC", "abc", 1, 0},
        {"a", "B", -1, -1}, // letters without regard to case first
        {"Zebra", "apple", 1, 1},
        {"abc", "abcd", -1, -1},
        {"", "a", -1, -1},
        {"_x", "1x", -1, -1}, // punctuation before digits
        {"9", "a", -1, -1},   // digits before letters
        {"aB", "Ab", -1, 0},  // the first difference in case decides
        {"SETUP.INF", "setup.inf", 1, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Sign(lstrcmpA(row.a, row.b)), row.cmp) << row.a << " vs " << row.b;
        EXPECT_EQ(Sign(lstrcmpiA(row.a, row.b)), row.cmpi) << row.a << " vs " << row.b;
        EXPECT_EQ(Sign(lstrcmpA(row.b, row.a)), -row.cmp) << row.b << " vs " << row.a;
    }
    EXPECT_EQ(lstrcmpA(nullptr, nullptr), 0);
    EXPECT_LT(lstrcmpA(nullptr, "a"), 0);
    EXPECT_GT(lstrcmpiA("a", nullptr), 0);
}

TEST_F(StringsFixture, FormatsNumbersAndStrings) {
    char buffer[64];
    auto check = [&](int written, const char* expected) {
        EXPECT_EQ(written, static_cast<int>(std::strlen(expected))) << expected;
        EXPECT_STREQ(buffer, expected);
    };
    check(wsprintfA(buffer, "Card%02d", 7), "Card07");
    check(wsprintfA(buffer, "Card%02d", 123), "Card123");
    check(wsprintfA(buffer, "%d|%i|%u", -5, 17, 4294967295u), "-5|17|4294967295");
    check(wsprintfA(buffer, "%x|%X|%#x|%#X", 255, 255, 255, 255), "ff|FF|0xff|0XFF");
    check(wsprintfA(buffer, "%ld|%lu|%lx", static_cast<LONG>(-1), static_cast<DWORD>(3000000000u),
                    static_cast<DWORD>(0xBEEF)),
          "-1|3000000000|beef");
    check(wsprintfA(buffer, "%hd|%hd", 65535, 32768), "-1|-32768");
    check(wsprintfA(buffer, "%010ld", -1), "-000000001");
    check(wsprintfA(buffer, "[%5d][%-5d][%05d][%.3d]", 42, 42, 42, 5),
          "[   42][42   ][00042][005]");
    check(wsprintfA(buffer, "[%c][%3c][%-3c]", 'x', 'y', 'z'), "[x][  y][z  ]");
    check(wsprintfA(buffer, "[%s][%6s][%-6s][%.2s]", "abc", "abc", "abc", "abc"),
          "[abc][   abc][abc   ][ab]");
    check(wsprintfA(buffer, "%s", static_cast<const char*>(nullptr)), "(null)");
    check(wsprintfA(buffer, "100%% %y"), "100% y"); // an unknown type prints as itself
    check(wsprintfA(buffer, "no floats: %f"), "no floats: f");
}

TEST_F(StringsFixture, PrecisionBoundsTheBytesReadFromAString) {
    // Not terminated within the precision: only those bytes are read.
    const char unterminated[3] = {'a', 'b', 'c'};
    char buffer[16];
    EXPECT_EQ(wsprintfA(buffer, "%.3s", unterminated), 3);
    EXPECT_STREQ(buffer, "abc");
}

TEST_F(StringsFixture, OutputStopsAt1024CharactersWithTheTerminator) {
    const std::string longText(2000, 'q');
    std::string buffer(1100, kJunk);
    EXPECT_EQ(wsprintfA(buffer.data(), "%s", longText.c_str()), 1023);
    EXPECT_EQ(buffer.substr(0, 1023), std::string(1023, 'q'));
    EXPECT_EQ(buffer[1023], '\0');
    EXPECT_EQ(buffer[1024], kJunk);

    buffer.assign(1100, kJunk);
    EXPECT_EQ(wsprintfA(buffer.data(), "%2000d|", 1), 1023);
    EXPECT_EQ(buffer[1023], '\0');
    EXPECT_EQ(buffer[1024], kJunk);

    buffer.assign(1100, kJunk);
    const std::string exact(1023, 'e');
    EXPECT_EQ(wsprintfA(buffer.data(), exact.c_str()), 1023);
    EXPECT_EQ(buffer.substr(0, 1024), exact + '\0');
}
