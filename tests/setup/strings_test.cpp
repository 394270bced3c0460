// The small helpers of the setup flow: joining strings into their own buffers, the trailing
// backslash of a directory (also under a double-byte code page), the event code of a dialog
// event and the judgement of a copy result.
#include "setup/setup.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

using testsupport::ActiveMachine;
using testsupport::TestImage;

TEST(SzJoin, JoinsIntoItsOwnBufferAndTheNextCallOverwrites) {
    LPSTR szFirst = SzJoin2("C:\\WINNT\\", "SYSTEM32\\");
    EXPECT_STREQ(szFirst, "C:\\WINNT\\SYSTEM32\\");
    LPSTR szSecond = SzJoin2("A:\\", "setup.inf");
    EXPECT_EQ(szFirst, szSecond);
    EXPECT_STREQ(szFirst, "A:\\setup.inf");
}

TEST(SzJoin, Join2AndJoin3ResultsCanBeUsedTogether) {
    LPSTR sz2 = SzJoin2("C:\\WINNT\\SYSTEM32\\", "mix.exe");
    LPSTR sz3 = SzJoin3("Mixer Control Panel", ",", "extra");
    EXPECT_NE(sz2, sz3);
    EXPECT_STREQ(sz2, "C:\\WINNT\\SYSTEM32\\mix.exe");
    EXPECT_STREQ(sz3, "Mixer Control Panel,extra");
    EXPECT_STREQ(SzJoin3("", "", ""), "");
    EXPECT_STREQ(sz2, "C:\\WINNT\\SYSTEM32\\mix.exe");
}

// A result longer than the buffer is cut to the buffer's 511 characters, never written past it.
TEST(SzJoin, OverlongResultsAreCutToTheBuffer) {
    std::string sLong(400, 'a');
    std::string sTail(400, 'b');

    LPSTR sz2 = SzJoin2(sLong.c_str(), sTail.c_str());
    EXPECT_EQ(std::strlen(sz2), 511u);
    EXPECT_EQ(std::string(sz2), sLong + std::string(111, 'b'));

    std::string sHuge(700, 'c');
    sz2 = SzJoin2(sHuge.c_str(), "d");
    EXPECT_EQ(std::string(sz2), std::string(511, 'c'));

    LPSTR sz3 = SzJoin3(sLong.c_str(), ",", sTail.c_str());
    EXPECT_EQ(std::strlen(sz3), 511u);
    EXPECT_EQ(std::string(sz3), sLong + "," + std::string(110, 'b'));

    // Exact fit: 511 characters in all.
    std::string sFit(510, 'e');
    EXPECT_EQ(std::string(SzJoin3(sFit.c_str(), "f", "g")), sFit + "f");
    EXPECT_EQ(std::string(SzJoin2(sFit.c_str(), "f")), sFit + "f");
}

struct BackslashRow {
    UINT codePage;
    const char* szIn;
    const char* szOut;
};

// Each row runs on a machine of its code page; the bytes after the new terminator stay as the
// junk put there before.
TEST(AddTrailingBackslash, AddsOneUnlessTheLastCharacterIsABackslash) {
    const BackslashRow rows[] = {
        {1252, "", "\\"},
        {1252, "D:\\", "D:\\"},
        {1252, "D:", "D:\\"},
        {1252, "D:\\WINNT", "D:\\WINNT\\"},
        {1252, "D:\\WINNT\\", "D:\\WINNT\\"},
        // Under a single-byte code page 0x5C is always a backslash.
        {1252, "C:\\\x83\x5C", "C:\\\x83\x5C"},
        // Under code page 932 it is the second byte of a double-byte character.
        {932, "C:\\\x83\x5C", "C:\\\x83\x5C\\"},
        {932, "C:\\\x83\x5C\\", "C:\\\x83\x5C\\"},
        {932, "C:\\WINNT", "C:\\WINNT\\"},
        {932, "", "\\"},
    };
    for (const BackslashRow& row : rows) {
        SCOPED_TRACE(std::string("code page ") + std::to_string(row.codePage) + ", \"" + row.szIn +
                     "\"");
        TestImage image;
        image.Ini("[Machine]\nCodePage=" + std::to_string(row.codePage) + "\n");
        ActiveMachine machine(image);

        CHAR szBuf[32];
        std::memset(szBuf, 'X', sizeof(szBuf));
        std::memcpy(szBuf, row.szIn, std::strlen(row.szIn) + 1);
        AddTrailingBackslash(szBuf);
        size_t cchOut = std::strlen(row.szOut);
        EXPECT_EQ(std::string(szBuf), std::string(row.szOut));
        for (size_t ib = cchOut + 1; ib < sizeof(szBuf); ib++) {
            EXPECT_EQ(szBuf[ib], 'X') << "byte " << ib;
        }
    }
}

struct EventRow {
    const char* szEvent;
    WORD wCode;
};

TEST(WEventCode, SumsTheFirstTwoBytesEachTakenAsSigned) {
    const EventRow rows[] = {
        {"BB", 132},
        {"II", 146},
        {"CANCEL", 132},   // 'C' 67 + 'A' 65
        {"CONTINUE", 146}, // 'C' 67 + 'O' 79
        {"RESTART", 151},  // 'R' 82 + 'E' 69
        {"EXIT", 157},     // 'E' 69 + 'X' 88
        {"I", 73},         // the terminator counts 0
        {"", 0},
        // 0x80 counts -128: unsigned bytes would give 146 here.
        {"\x80\x12", (WORD)(-128 + 18)},
        {"\xC3\xA9", (WORD)(-61 - 87)},
        {"\xFF\x01", 0},
        {"\x7F\x7F", 254},
    };
    for (const EventRow& row : rows) {
        EXPECT_EQ(WEventCode(row.szEvent), row.wCode) << "event \"" << row.szEvent << "\"";
    }
}

// No dialog event with a byte of 0x80 or above in its first two can reach an acted-on code.
TEST(WEventCode, AHighByteNeverGivesACodeThatSetupActsOn) {
    for (int b0 = 0; b0 < 256; b0++) {
        for (int b1 = 0; b1 < 256; b1++) {
            if (b0 < 0x80 && b1 < 0x80) {
                continue;
            }
            CHAR szEvent[3] = {(CHAR)b0, (CHAR)b1, 0};
            WORD wCode = WEventCode(szEvent);
            ASSERT_TRUE(wCode != 132 && wCode != 146 && wCode != 151 && wCode != 157)
                << b0 << "," << b1;
        }
    }
}

TEST(CopyResult, ZeroAndBelowGoOnAnyPositiveValueEndsSetup) {
    const struct {
        INT grc;
        BOOL fFatalResult;
    } rows[] = {{0, FALSE}, {-1, FALSE}, {INT_MIN, FALSE}, {1, TRUE}, {48, TRUE}, {INT_MAX, TRUE}};
    for (const auto& row : rows) {
        EXPECT_EQ(!!FCopyResultFatal(row.grc), !!row.fFatalResult) << "result " << row.grc;
    }
}

} // namespace
