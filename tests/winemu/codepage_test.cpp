// Character stepping and OEM-to-ANSI conversion under the machine's code page: single-byte 1252
// and double-byte 932, where a character's second byte can be a backslash.
#include "support/test_machine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using testsupport::ActiveMachine;
using testsupport::TestImage;

namespace {

struct CodePageFixture : ::testing::Test {
    TestImage image;
    ActiveMachine machine{image};
    void Use(UINT codePage) { machine->Config().codePage = codePage; }
};

// Where each character starts, walking with CharNextA.
std::vector<size_t> Starts(const char* text) {
    std::vector<size_t> starts;
    for (const char* p = text; *p != '\0'; p = CharNextA(p))
        starts.push_back(static_cast<size_t>(p - text));
    return starts;
}

// "C:\" + the double-byte character 0x95 0x5C + "\" + 0x81 + "A": 0x81 0x41 is one character.
constexpr char kDbcsPath[] = "C:\\\x95\x5C\\\x81\x41";

} // namespace

TEST_F(CodePageFixture, CharNextStepsDoubleByteCharactersUnder932) {
    Use(932);
    EXPECT_EQ(Starts(kDbcsPath), (std::vector<size_t>{0, 1, 2, 3, 5, 6}));
    Use(1252);
    EXPECT_EQ(Starts(kDbcsPath), (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(CodePageFixture, CharNextStaysAtTheTerminator) {
    for (UINT codePage : {1252u, 932u}) {
        Use(codePage);
        const char empty[] = "";
        EXPECT_EQ(CharNextA(empty), empty);
        // A lead byte right before the terminator is a character of one byte.
        const char cut[] = "a\x95";
        EXPECT_EQ(CharNextA(cut + 1), cut + 2);
        EXPECT_EQ(CharNextA(cut + 2), cut + 2);
    }
}

TEST_F(CodePageFixture, CharPrevFindsTheCharacterBefore) {
    struct Row {
        UINT codePage;
        size_t current;
        size_t previous;
    };
    const size_t end = std::strlen(kDbcsPath); // 8
    const Row rows[] = {
        {932, end, 6},               // before the terminator: the whole 0x81 0x41
        {932, 6, 5},                 // the backslash
        {932, 5, 3},                 // 0x95 0x5C, whose trail byte is no backslash
        {932, 4, 3},                 // from inside a character: its start
        {932, 1, 0},    {932, 0, 0}, // never before the start
        {1252, end, 7}, {1252, 5, 4}, {1252, 0, 0},
    };
    for (const Row& row : rows) {
        Use(row.codePage);
        EXPECT_EQ(CharPrevA(kDbcsPath, kDbcsPath + row.current), kDbcsPath + row.previous)
            << "code page " << row.codePage << ", from " << row.current;
    }
}

TEST_F(CodePageFixture, OemToCharMapsCodePage437To1252) {
    Use(1252);
    struct Row {
        unsigned char oem;
        unsigned char ansi;
    };
    const Row rows[] = {
        {0x80, 0xC7}, // C cedilla
        {0x81, 0xFC}, // u diaeresis
        {0x82, 0xE9}, // e acute
        {0x8E, 0xC4}, // A diaeresis
        {0x9C, 0xA3}, // pound sign
        {0x9F, 0x83}, // florin
        {0xA4, 0xF1}, // n tilde
        {0xB3, 0xA6}, // box drawing vertical: broken bar
        {0xC4, 0x2D}, // box drawing horizontal: '-'
        {0xDA, 0x2B}, // box drawing corner: '+'
        {0xE1, 0xDF}, // sharp s
        {0xE6, 0xB5}, // micro sign
        {0xF8, 0xB0}, // degree sign
        {0xFF, 0xA0}, // no-break space
        {'A', 'A'},   {'\\', '\\'}, {0x7F, 0x7F},
    };
    for (const Row& row : rows) {
        char source[2] = {static_cast<char>(row.oem), '\0'};
        char target[3] = {'x', 'x', 'x'};
        EXPECT_TRUE(OemToCharA(source, target));
        EXPECT_EQ(static_cast<unsigned char>(target[0]), row.ansi) << std::hex << int(row.oem);
        EXPECT_EQ(target[1], '\0');
        EXPECT_EQ(target[2], 'x');
    }
}

TEST_F(CodePageFixture, OemToCharConvertsInPlace) {
    Use(1252);
    char text[] = "A:\\D\x82J\x85\\";
    EXPECT_TRUE(OemToCharA(text, text));
    EXPECT_STREQ(text, "A:\\D\xE9J\xE0\\");
}

TEST_F(CodePageFixture, OemToCharCopiesUnder932) {
    Use(932);
    char text[] = "A:\\\x95\x5C\\";
    char copy[sizeof text + 1];
    std::memset(copy, 'x', sizeof copy);
    EXPECT_TRUE(OemToCharA(text, copy));
    EXPECT_EQ(std::string(copy, sizeof copy), std::string(text, sizeof text) + 'x');
    EXPECT_TRUE(OemToCharA(text, text));
    EXPECT_STREQ(text, "A:\\\x95\x5C\\");
    EXPECT_FALSE(OemToCharA(nullptr, copy));
}
