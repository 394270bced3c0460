// The profile (INI) functions as Windows reads INI files: lookups, defaults, quotes, truncation,
// the double-zero lists of the enumeration forms, integers, whole sections, where the file is
// looked for, and injected faults.
#include "support/test_machine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using testsupport::ActiveMachine;
using testsupport::TestImage;

namespace {

constexpr char kJunk = '\x0C';

// The file of Wine's profile tests, in the current directory.
constexpr char kProfile[] = "[section1]\r\nname1=val1\r\nname2=\"val2\"\r\nname3\r\nname4=a\r\n"
                            "[section2]\r\n";

// Lookup rules, in the Windows directory.
constexpr char kRead[] = "; comment before any section\n"
                         "orphan=before any section\n"
                         "[Values]\n"
                         "name=value\n"
                         "  Spaced Key  =   spaced value  \t\n"
                         "dup=first\n"
                         "dup=second\n"
                         "quoted=\"in quotes\"\n"
                         "single='single'\n"
                         "unbalanced=\"unbalanced\n"
                         "empty=\n"
                         "noequals\n"
                         ";commented=yes\n"
                         "   ;indented=comment\n"
                         "[Dup]\n"
                         "first=1\n"
                         "[dup]\n"
                         "second=2\n"
                         "[Numbers]\n"
                         "plain=42\n"
                         "negative=-7\n"
                         "plus=+12\n"
                         "hex=0x1F\n"
                         "upperhex=0X1F\n"
                         "octal=0o17\n"
                         "binary=0b101\n"
                         "letters=abc\n"
                         "mixed=42A94967297\n"
                         "wraps=4294967297\n"
                         "minuswraps=-4294967297\n"
                         "blank=\n"
                         "quoted=\"15\"\n"
                         "sign=-\n";

struct ProfileFixture : ::testing::Test {
    ProfileFixture() {
        image.Ini("[Machine]\nWindowsDirectory=C:\\WINNT\nCurrentDirectory=C:\\WINNT\\system32\n");
        image.File("C:\\WINNT\\system32\\profile.ini", kProfile);
        image.File("C:\\WINNT\\READ.INI", kRead);
        // Saved as Unicode (with its byte order mark) and as UTF-8 with one.
        std::u16string unicode = u"[Values]\r\nname=caf\u00e9 \u20ac \u3042\r\n";
        std::string le = "\xFF\xFE", be = "\xFE\xFF";
        for (char16_t c : unicode) {
            le += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
            be += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
        }
        image.File("C:\\WINNT\\UTF16LE.INI", le);
        image.File("C:\\WINNT\\UTF16BE.INI", be);
        image.File("C:\\WINNT\\UTF8BOM.INI", "\xEF\xBB\xBF[Values]\nname=value\n");
        machine = std::make_unique<ActiveMachine>(image);
    }
    winemu::Machine& M() { return machine->M(); }

    TestImage image;
    std::unique_ptr<ActiveMachine> machine;
};

constexpr char kProfilePath[] = ".\\profile.ini";

// A buffer of junk, read back as bytes.
struct Buffer {
    char bytes[MAX_PATH];
    Buffer() { std::memset(bytes, kJunk, sizeof bytes); }
    std::string Text(size_t count) const { return std::string(bytes, count); }
};

} // namespace

TEST_F(ProfileFixture, StringLookups) {
    struct Row {
        const char* section;
        const char* key;
        const char* def;
        const char* expected;
    };
    const Row rows[] = {
        {"Values", "name", "x", "value"},
        {"VALUES", "NAME", "x", "value"},
        {"Values", "spaced key", "x", "spaced value"},
        {" Values ", "  Spaced Key ", "x", "spaced value"},
        {"Values", "dup", "x", "first"},
        {"Values", "quoted", "x", "in quotes"},
        {"Values", "single", "x", "single"},
        {"Values", "unbalanced", "x", "\"unbalanced"},
        {"Values", "empty", "x", ""},
        {"Values", "noequals", "x", "x"},
        {"Values", ";commented", "x", "x"},
        {"Values", "commented", "x", "x"},
        {"Values", "orphan", "x", "x"},
        {"Values", "", "x", "x"},
        {"Dup", "first", "x", "1"},
        {"Dup", "second", "x", "x"}, // only the first section of a name is read
        {"Missing", "name", "default", "default"},
        {"Values", "missing", "default  ", "default"},
        {"Values", "missing", "one two", "one two"},
        {"Values", "missing", "\"quoted default\"", "quoted default"},
        {"Values", "missing", nullptr, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.section) + "/" + row.key);
        Buffer buffer;
        DWORD length = GetPrivateProfileStringA(row.section, row.key, row.def, buffer.bytes,
                                                MAX_PATH, "read.ini");
        EXPECT_EQ(length, std::strlen(row.expected));
        EXPECT_EQ(buffer.Text(length + 2), std::string(row.expected) + '\0' + kJunk);
    }
}

TEST_F(ProfileFixture, StringIsCutToTheBuffer) {
    struct Row {
        const char* key;
        DWORD size;
        DWORD length;
        const char* expected;
    };
    const Row rows[] = {
        {"name1", 5, 4, "val1"}, // exact fit
        {"name1", 4, 3, "val"},  // one too small
        {"name1", 1, 0, ""},     {"name4", 2, 1, "a"},
        {"name2", 5, 4, "val2"},                        // quotes go before the cut
        {"name2", 4, 3, "val"},  {"none", 4, 3, "def"}, // the default is cut too
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " in " + std::to_string(row.size));
        Buffer buffer;
        EXPECT_EQ(GetPrivateProfileStringA("section1", row.key, "default", buffer.bytes, row.size,
                                           kProfilePath),
                  row.length);
        EXPECT_EQ(buffer.Text(row.size + 1), std::string(row.expected) + '\0' + kJunk);
    }
    Buffer buffer;
    EXPECT_EQ(
        GetPrivateProfileStringA("section1", "name1", "default", buffer.bytes, 0, kProfilePath),
        0u);
    EXPECT_EQ(buffer.bytes[0], kJunk);
}

TEST_F(ProfileFixture, SectionNamesAreADoubleZeroList) {
    struct Row {
        DWORD size;
        DWORD length;
        std::string expected; // the bytes written
    };
    const std::string all("section1\0section2\0\0", 19);
    const Row rows[] = {
        {MAX_PATH, 18, all},
        {20, 18, all},
        {19, 17, all}, // an exact fit counts as cut
        {18, 16, std::string("section1\0section\0\0", 18)},
        {16, 14, std::string("section1\0secti\0\0", 16)},
        {10, 8, std::string("section1\0\0", 10)},
        {2, 0, std::string("\0\0", 2)},
        {1, 0, std::string("\0", 1)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        Buffer buffer;
        EXPECT_EQ(GetPrivateProfileStringA(nullptr, "name1", "default", buffer.bytes, row.size,
                                           kProfilePath),
                  row.length);
        EXPECT_EQ(buffer.Text(row.expected.size() + 1), row.expected + kJunk);
    }
}

TEST_F(ProfileFixture, KeyNamesSkipLinesWithoutEquals) {
    struct Row {
        DWORD size;
        DWORD length;
        std::string expected;
    };
    const Row rows[] = {
        {MAX_PATH, 18, std::string("name1\0name2\0name4\0\0", 19)},
        {19, 17, std::string("name1\0name2\0name4\0\0", 19)},
        {16, 14, std::string("name1\0name2\0na\0\0", 16)},
        {3, 1, std::string("n\0\0", 3)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        Buffer buffer;
        EXPECT_EQ(GetPrivateProfileStringA("Section1", nullptr, "default", buffer.bytes, row.size,
                                           kProfilePath),
                  row.length);
        EXPECT_EQ(buffer.Text(row.expected.size() + 1), row.expected + kJunk);
    }

    // A section with no keys gives the default, ended as a list.
    Buffer buffer;
    EXPECT_EQ(GetPrivateProfileStringA("section2", nullptr, "default", buffer.bytes, MAX_PATH,
                                       kProfilePath),
              7u);
    EXPECT_EQ(buffer.Text(10), std::string("default\0\0", 9) + kJunk);
}

TEST_F(ProfileFixture, IntegersAreReadAsWindowsReadsThem) {
    struct Row {
        const char* key;
        INT def;
        UINT expected;
    };
    const Row rows[] = {
        {"plain", 5, 42},
        {"negative", 5, static_cast<UINT>(-7)},
        {"plus", 5, 12},
        {"hex", 5, 0x1F},
        {"upperhex", 5, 0}, // only a lower-case base letter chooses the base
        {"octal", 5, 017},
        {"binary", 5, 5},
        {"letters", 5, 0}, // a value that does not start with a digit reads as 0
        {"mixed", 5, 42},
        {"wraps", 5, 1},
        {"minuswraps", 5, static_cast<UINT>(-1)},
        {"blank", 5, 5}, // an empty value gives the default
        {"quoted", 5, 15},
        {"sign", 5, 0},
        {"missing", 5, 5},
        {"missing", -1, static_cast<UINT>(-1)},
    };
    for (const Row& row : rows)
        EXPECT_EQ(GetPrivateProfileIntA("Numbers", row.key, row.def, "READ.INI"), row.expected)
            << row.key;
    EXPECT_EQ(GetPrivateProfileIntA("Missing", "plain", 9, "READ.INI"), 9u);
    EXPECT_EQ(GetPrivateProfileIntA("Numbers", "plain", 9, "NOFILE.INI"), 9u);
    EXPECT_EQ(GetPrivateProfileIntA(nullptr, "plain", 9, "READ.INI"), 9u);
}

// Lines end at CR LF, LF or a lone CR; the zero byte that ends a file written with its C
// terminator is no line.
TEST_F(ProfileFixture, SectionDeliversKeyEqualsValueLines) {
    image.File("C:\\WINNT\\system32\\section.ini",
               std::string("[section1]\r\nname1=val1\nname2=\rname3\r\n; note\r\n name4 = val4 \r\n"
                           "[section2]\r\n[section3]\r\n=val5\r\n\0",
                           93));
    const std::string all("name1=val1\0name2=\0name3\0name4=val4\0\0", 36);
    struct Row {
        const char* section;
        DWORD size;
        DWORD length;
        std::string expected;
    };
    const Row rows[] = {
        {"SECTION1", MAX_PATH, 35, all},
        {"section1", 37, 35, all},
        {"section1", 36, 34, all}, // an exact fit counts as cut
        {"section1", 24, 22, std::string("name1=val1\0name2=\0name\0\0", 24)},
        {"section1", 12, 10, std::string("name1=val1\0\0", 12)},
        {"section1", 8, 6, std::string("name1=\0\0", 8)},
        {"section3", MAX_PATH, 6, std::string("=val5\0\0", 7)},
        {"section2", MAX_PATH, 0, std::string("\0\0", 2)},
        {"missing", MAX_PATH, 0, std::string("\0\0", 2)},
        {"missing", 1, 0, std::string("\0", 1)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.section) + " in " + std::to_string(row.size));
        Buffer buffer;
        M().LastError() = 0xDEADBEEF;
        EXPECT_EQ(GetPrivateProfileSectionA(row.section, buffer.bytes, row.size, ".\\section.ini"),
                  row.length);
        EXPECT_EQ(buffer.Text(row.expected.size() + 1), row.expected + kJunk);
        // A section that was read, even an empty one, leaves no error behind.
        if (std::string(row.section) != "missing") {
            EXPECT_EQ(M().LastError(), static_cast<DWORD>(ERROR_SUCCESS));
        }
    }
    M().LastError() = 0;
    Buffer buffer;
    EXPECT_EQ(GetPrivateProfileSectionA(nullptr, buffer.bytes, MAX_PATH, ".\\section.ini"), 0u);
    EXPECT_EQ(M().LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(buffer.bytes[0], kJunk);
}

TEST_F(ProfileFixture, FileIsLookedForWhereWindowsLooks) {
    struct Row {
        const char* file;
        const char* expected;
    };
    const Row rows[] = {
        {"read.ini", "value"},              // a bare name: the Windows directory
        {"profile.ini", "default"},         // not in the current directory
        {".\\READ.INI", "default"},         // a path: the current directory
        {"..\\Read.Ini", "value"},          // relative to the current directory
        {"c:/winnt/READ.ini", "value"},     // full, with either separator
        {"C:read.ini", "default"},          // drive-relative: the current directory
        {"Q:\\READ.INI", "default"},        // a drive the machine does not have
        {"C:\\WINNT\\system32", "default"}, // a folder is no profile
        {"utf16le.ini", "caf\xE9 \x80 ?"},  // Unicode as code page 1252 holds it
        {"utf16be.ini", "caf\xE9 \x80 ?"},
        {"utf8bom.ini", "value"}, // the mark is no part of the first section's name
        {"", "default"},
    };
    for (const Row& row : rows) {
        Buffer buffer;
        GetPrivateProfileStringA("Values", "name", "default", buffer.bytes, MAX_PATH, row.file);
        EXPECT_STREQ(buffer.bytes, row.expected) << row.file;
    }
    // No file name at all is WIN.INI in the Windows directory.
    image.File("C:\\WINNT\\WIN.INI", "[windows]\nname=from win.ini\n");
    Buffer buffer;
    GetPrivateProfileStringA("windows", "name", "default", buffer.bytes, MAX_PATH, nullptr);
    EXPECT_STREQ(buffer.bytes, "from win.ini");
}

TEST_F(ProfileFixture, FaultedCallsReadAsAMissingFile) {
    M().Fault().Add("GetPrivateProfileStringA", "plain");
    M().Fault().Add("GetPrivateProfileIntA", "#1");
    M().Fault().Add("GetPrivateProfileSectionA", "Values");

    EXPECT_EQ(GetPrivateProfileIntA("Numbers", "plain", 3, "read.ini"), 3u);
    EXPECT_EQ(GetPrivateProfileIntA("Numbers", "plain", 3, "read.ini"), 42u);
    EXPECT_EQ(M().Fault().Calls("GetPrivateProfileIntA"), 2);
    // The integer reader does not go through the faultable string reader.
    EXPECT_EQ(M().Fault().Calls("GetPrivateProfileStringA"), 0);

    Buffer buffer;
    EXPECT_EQ(
        GetPrivateProfileStringA("Numbers", "plain", "def", buffer.bytes, MAX_PATH, "read.ini"),
        3u);
    EXPECT_STREQ(buffer.bytes, "def");
    Buffer names;
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "def", names.bytes, MAX_PATH,
                                       "C:\\PLAIN\\x.ini"),
              0u);
    EXPECT_EQ(names.Text(3), std::string("\0\0", 2) + kJunk);

    Buffer section;
    EXPECT_EQ(GetPrivateProfileSectionA("Values", section.bytes, MAX_PATH, "read.ini"), 0u);
    EXPECT_EQ(section.Text(3), std::string("\0\0", 2) + kJunk);
    EXPECT_GT(GetPrivateProfileSectionA("Numbers", section.bytes, MAX_PATH, "read.ini"), 0u);
}

TEST_F(ProfileFixture, DoubleByteNamesCompareTheirSecondByteExactly) {
    // 0x83 0x41 and 0x83 0x61 are two different characters under code page 932, though their
    // second bytes look like 'A' and 'a'.
    image.File("C:\\WINNT\\DBCS.INI", "[\x83\x41]\nkey=katakana\n");
    M().Config().codePage = 932;
    Buffer buffer;
    GetPrivateProfileStringA("\x83\x61", "KEY", "none", buffer.bytes, MAX_PATH, "dbcs.ini");
    EXPECT_STREQ(buffer.bytes, "none");
    GetPrivateProfileStringA("\x83\x41", "KEY", "none", buffer.bytes, MAX_PATH, "dbcs.ini");
    EXPECT_STREQ(buffer.bytes, "katakana");
    M().Config().codePage = 1252;
    GetPrivateProfileStringA("\x83\x61", "KEY", "none", buffer.bytes, MAX_PATH, "dbcs.ini");
    EXPECT_STREQ(buffer.bytes, "katakana");
}
