// Registry values as a Win32 program sees them: stored bytes, counts, names, the old
// default-value calls and the typed reads of the C++ view.
#include "registry_fixture.h"

#include <cstring>

namespace registrytest {
namespace {

// ---------------------------------------------------------------------------------------------
// Values

// A string whose count leaves out the terminating zero that follows it is stored with that zero,
// as Windows NT does; bytes inside the count stay as written.
TEST_F(RegistryTest, StringValuesGainTheTerminatorTheCountLeftOut) {
    struct Row {
        const char* name;
        std::string bytes; // as handed to RegSetValueExA, count included (a zero follows)
        std::string stored;
    };
    const Row rows[] = {
        {"Terminated", std::string("COM2\0", 5), std::string("COM2\0", 5)},
        {"NoTerminator", std::string("COM2", 4), std::string("COM2\0", 5)},
        {"JunkAfterZero", std::string("ab\0XY", 5), std::string("ab\0XY\0", 6)},
        {"EmbeddedZero", std::string("a\0b\0", 4), std::string("a\0b\0", 4)},
        {"Empty", std::string(), std::string()},
    };
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Values");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, row.name, 0, REG_SZ,
                                                reinterpret_cast<const BYTE*>(row.bytes.c_str()),
                                                static_cast<DWORD>(row.bytes.size())));
        BYTE buffer[16];
        std::memset(buffer, kJunk, sizeof buffer);
        DWORD size = sizeof buffer;
        DWORD type = kJunkDword;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, row.name, NULL, &type, buffer, &size));
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        ASSERT_EQ(row.stored.size(), size);
        EXPECT_EQ(0, std::memcmp(buffer, row.stored.data(), size));
        EXPECT_EQ(kJunk, buffer[size]); // nothing added after terminated data
    }
    // Binary data keeps its count whatever follows it.
    const BYTE binary[] = {'a', 'b', 0};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Binary", 0, REG_BINARY, binary, 2));
    EXPECT_EQ(Reg().Value("HKLM\\SOFTWARE\\Values", "Binary")->data, Bytes("ab"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));

    // A string stored without its zero (from registry.reg) is read with one added where the
    // buffer has room; the count stays that of the data.
    Reg().Set("HKLM\\SOFTWARE\\Values", "Bare", REG_SZ, Bytes("COM2"));
    key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Values", KEY_QUERY_VALUE);
    for (DWORD room : {5u, 4u}) {
        SCOPED_TRACE(room);
        BYTE buffer[8];
        std::memset(buffer, kJunk, sizeof buffer);
        DWORD size = room;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Bare", NULL, NULL, buffer, &size));
        EXPECT_EQ(4u, size);
        EXPECT_EQ(room > 4 ? 0 : kJunk, buffer[4]);
        EXPECT_EQ(kJunk, buffer[5]);
    }
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryTest, QueryValueCounts) {
    const std::string text("57600,n,8,1\0", 12);
    Reg().Set("HKLM\\SOFTWARE", "Port", REG_SZ, Bytes(text));
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_QUERY_VALUE);

    // Asking the size: no buffer, a count.
    DWORD size = kJunkDword;
    DWORD type = kJunkDword;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Port", NULL, &type, NULL, &size));
    EXPECT_EQ(12u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

    struct Row {
        DWORD bufferBytes;
        LONG result;
    };
    const Row rows[] = {
        {64, ERROR_SUCCESS}, {12, ERROR_SUCCESS}, {11, ERROR_MORE_DATA}, {0, ERROR_MORE_DATA}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bufferBytes);
        BYTE buffer[64];
        std::memset(buffer, kJunk, sizeof buffer);
        size = row.bufferBytes;
        type = kJunkDword;
        EXPECT_EQ(row.result, RegQueryValueExA(key, "Port", NULL, &type, buffer, &size));
        EXPECT_EQ(12u, size); // the count needed, or the count written
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        size_t written = row.result == ERROR_SUCCESS ? 12 : 0;
        EXPECT_EQ(0, std::memcmp(buffer, text.data(), written));
        for (size_t i = written; i < sizeof buffer; ++i)
            ASSERT_EQ(kJunk, buffer[i]) << "byte " << i;
    }

    // Data without a count to bound it.
    BYTE buffer[4];
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(key, "Port", NULL, NULL, buffer, NULL));
    DWORD reserved = 0;
    size = sizeof buffer;
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(key, "Port", &reserved, NULL, buffer, &size));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryTest, MissingValue) {
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_QUERY_VALUE);
    DWORD size = kJunkDword;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "Nothing", NULL, NULL, NULL, &size));
    EXPECT_EQ(0u, size);
    BYTE buffer[8];
    std::memset(buffer, kJunk, sizeof buffer);
    size = sizeof buffer;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "Nothing", NULL, NULL, buffer, &size));
    EXPECT_EQ(sizeof buffer, size);
    EXPECT_EQ(kJunk, buffer[0]);
    // The default value is no exception.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, NULL, NULL, NULL, buffer, &size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "", NULL, NULL, buffer, &size));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryTest, ValueNamesIgnoreCaseAndKeepTheFirstSpelling) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names");
    DWORD first = 1;
    DWORD second = 0x12345678;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "DosDevices", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&first), 4));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "DOSDEVICES", 0, REG_BINARY,
                                            reinterpret_cast<const BYTE*>(&second), 3));
    const winemu::RegKey* names = Reg().Find("HKLM\\SOFTWARE\\Names");
    ASSERT_EQ(1u, names->values.size());
    EXPECT_EQ("DosDevices", names->values[0].name);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), names->values[0].type);
    EXPECT_EQ((std::vector<BYTE>{0x78, 0x56, 0x34}), names->values[0].data);

    // NULL and "" both name the default value.
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, NULL, 0, REG_SZ, reinterpret_cast<const BYTE*>("d"), 2));
    char text[4] = {};
    DWORD size = sizeof text;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key, "", NULL, NULL, reinterpret_cast<BYTE*>(text), &size));
    EXPECT_STREQ("d", text);

    // No data with a count is a bad pointer; no data without one is an empty value.
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExA(key, "Bad", 0, REG_BINARY, NULL, 4));
    EXPECT_EQ(nullptr, Reg().Value("HKLM\\SOFTWARE\\Names", "Bad"));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Nothing", 0, REG_BINARY, NULL, 0));
    EXPECT_TRUE(Reg().Value("HKLM\\SOFTWARE\\Names", "Nothing")->data.empty());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

// ---------------------------------------------------------------------------------------------
// The old default-value calls

TEST_F(RegistryTest, SetValueAWritesTheDefaultValueAndCountsTheTextItself) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Old");
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueA(key, "Sub\\Deeper", REG_SZ, "text", 999));
    const winemu::RegValue* value = Reg().Value("HKLM\\SOFTWARE\\Old\\Sub\\Deeper", "");
    ASSERT_NE(nullptr, value);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value->type);
    EXPECT_EQ(Bytes(std::string("text\0", 5)), value->data);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegSetValueA(key, "Sub", REG_DWORD, "1", 2));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegSetValueA(key, "Sub", REG_SZ, NULL, 0));

    struct Row {
        const char* subKey;
        LONG bufferBytes;
        LONG result;
        LONG size;
        const char* text; // null: the buffer is left as it was
    };
    const Row rows[] = {
        {"Sub\\Deeper", 16, ERROR_SUCCESS, 5, "text"},
        {"Sub\\Deeper", 5, ERROR_SUCCESS, 5, "text"},
        {"Sub\\Deeper", 4, ERROR_MORE_DATA, 5, nullptr},
        {"Sub", 16, ERROR_SUCCESS, 1, ""}, // no default value reads as ""
        {"Sub", 0, ERROR_MORE_DATA, 1, nullptr},
        {"Missing", 16, ERROR_FILE_NOT_FOUND, 16, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.subKey) + " " + std::to_string(row.bufferBytes));
        char buffer[16];
        std::memset(buffer, kJunk, sizeof buffer);
        LONG size = row.bufferBytes;
        EXPECT_EQ(row.result, RegQueryValueA(key, row.subKey, buffer, &size));
        EXPECT_EQ(row.size, size);
        if (row.text != nullptr)
            EXPECT_STREQ(row.text, buffer);
        else
            EXPECT_EQ(static_cast<char>(kJunk), buffer[0]);
    }
    LONG size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueA(key, "Sub\\Deeper", NULL, &size));
    EXPECT_EQ(5, size);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

// ---------------------------------------------------------------------------------------------
// The C++ view that tests and the runner use

TEST_F(RegistryTest, RegistryObjectPathsAndTypedReads) {
    Reg().SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tone\\", "Name", "TONEBAY");
    Reg().SetDword("hklm\\software\\tone", "Number", 0xFFFFFFFF);
    Reg().Set("HKLM\\SOFTWARE\\Tone", "Short", REG_DWORD, {1, 2, 3});
    Reg().Set("HKLM\\SOFTWARE\\Tone", "Cut", REG_SZ, Bytes(std::string("ab\0cd", 5)));
    EXPECT_EQ("TONEBAY", Reg().GetString("HKLM\\SOFTWARE\\TONE", "name"));
    EXPECT_EQ(0xFFFFFFFFu, Reg().GetDword("HKLM\\SOFTWARE\\Tone", "Number"));
    EXPECT_EQ(std::nullopt, Reg().GetDword("HKLM\\SOFTWARE\\Tone", "Short"));
    EXPECT_EQ(std::nullopt, Reg().GetDword("HKLM\\SOFTWARE\\Tone", "Name"));
    EXPECT_EQ(std::nullopt, Reg().GetString("HKLM\\SOFTWARE\\Tone", "Number"));
    EXPECT_EQ("ab", Reg().GetString("HKLM\\SOFTWARE\\Tone", "Cut"));
    EXPECT_EQ(std::nullopt, Reg().GetString("HKLM\\SOFTWARE\\Gone", "Name"));
    EXPECT_EQ(nullptr, Reg().Find("HKEY_CLASSES_ROOT\\.txt"));
    EXPECT_THROW(Reg().Create("HKEY_CLASSES_ROOT\\.txt"), std::invalid_argument);

    EXPECT_FALSE(Reg().Delete("HKLM"));
    EXPECT_FALSE(Reg().Delete("HKLM\\SOFTWARE\\Gone"));
    Reg().Create("HKLM\\SOFTWARE\\Tone\\Below");
    HKEY below = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tone\\Below", KEY_READ);
    EXPECT_TRUE(Reg().Delete("HKLM\\SOFTWARE\\Tone")); // with everything below it
    EXPECT_EQ(nullptr, Reg().Find("HKLM\\SOFTWARE\\Tone"));
    EXPECT_NE(nullptr, Reg().Find("HKLM\\SOFTWARE"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryInfoKeyA(below, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                                                  NULL, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(below));
}

} // namespace
} // namespace registrytest
