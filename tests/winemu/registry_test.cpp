// The emulated registry as a Win32 program sees it: return codes, byte and character counts,
// enumeration order, access rights, deleted keys, handle tracking and injected faults.
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr BYTE kJunk = 0xCC;
constexpr DWORD kJunkDword = 0xCCCCCCCC;

class RegistryTest : public ::testing::Test {
  protected:
    RegistryTest() : machine_(image_.Dir()), active_(machine_) {
        Reg().Create("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
        Reg().Create("HKLM\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters");
    }

    winemu::Registry& Reg() { return machine_.Reg(); }
    winemu::Handles& Objects() { return machine_.Objects(); }

    HKEY Open(HKEY root, const char* path, REGSAM access) {
        HKEY key = NULL;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path, 0, access, &key)) << path;
        return key;
    }

    HKEY Create(HKEY root, const char* path) {
        HKEY key = NULL;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(root, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
            << path;
        return key;
    }

    testsupport::TestImage image_;
    winemu::Machine machine_;
    winemu::ScopedMachine active_;
};

std::vector<BYTE> Bytes(std::string_view s) {
    return std::vector<BYTE>(s.begin(), s.end());
}

// ---------------------------------------------------------------------------------------------
// Opening keys

TEST_F(RegistryTest, OpenKeyExPathsTable) {
    struct Row {
        const char* subKey;
        LONG result;
        const char* openedPath; // the key the handle names, as first written
    };
    const Row rows[] = {
        {"SOFTWARE", ERROR_SUCCESS, "HKEY_LOCAL_MACHINE\\SOFTWARE"},
        {"software\\MICROSOFT", ERROR_SUCCESS, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"},
        {"SOFTWARE\\Microsoft\\", ERROR_SUCCESS, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"},
        {"SOFTWARE\\Microsoft\\\\", ERROR_SUCCESS, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"},
        {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\", ERROR_SUCCESS,
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"},
        {"SOFTWARE\\Missing", ERROR_FILE_NOT_FOUND, nullptr},
        {"SOFTWARE\\Microsoft\\Windows", ERROR_FILE_NOT_FOUND, nullptr},
        {"\\SOFTWARE", ERROR_BAD_PATHNAME, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.subKey);
        HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xBAD));
        EXPECT_EQ(row.result, RegOpenKeyExA(HKEY_LOCAL_MACHINE, row.subKey, 0, KEY_READ, &key));
        if (row.openedPath == nullptr) {
            EXPECT_EQ(NULL, key);
            EXPECT_TRUE(Objects().Leaks().empty());
            continue;
        }
        ASSERT_NE(nullptr, key);
        EXPECT_EQ(std::vector<std::string>{std::string("registry key ") + row.openedPath},
                  Objects().Leaks());
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    }
    EXPECT_EQ(nullptr, Reg().Find("HKLM\\SOFTWARE\\Missing")); // opening never creates
}

TEST_F(RegistryTest, OpenKeyExBadHandlesLeaveResultAlone) {
    const HKEY handles[] = {NULL, reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x4321)),
                            HKEY_CLASSES_ROOT};
    for (HKEY handle : handles) {
        HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xBAD));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(handle, "SOFTWARE", 0, KEY_READ, &key));
        EXPECT_EQ(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xBAD)), key);
    }
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, NULL));
}

TEST_F(RegistryTest, EmptySubkeyOpensTheSameKey) {
    // A predefined key answers for itself and is never tracked.
    HKEY same = NULL;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &same));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, same);
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, NULL, 0, KEY_READ, &same));
    EXPECT_EQ(HKEY_CURRENT_USER, same);
    EXPECT_EQ(0u, Objects().CountOpen(winemu::HandleKind::RegistryKey));

    // Any other key gets a second handle of its own, with the rights asked for this time.
    HKEY software = Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ);
    HKEY second = NULL;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(software, NULL, 0, KEY_SET_VALUE, &second));
    ASSERT_NE(nullptr, second);
    EXPECT_NE(software, second);
    EXPECT_EQ(2u, Objects().CountOpen(winemu::HandleKind::RegistryKey));
    DWORD one = 1;
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(second, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegSetValueExA(software, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(second));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(software));
}

TEST_F(RegistryTest, OldOpenAndCreateGiveFullAccessAndReturnTheSameHandleForNoSubkey) {
    HKEY key = NULL;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", &key));
    DWORD one = 1;
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));
    HKEY same = NULL;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(key, "", &same));
    EXPECT_EQ(key, same);
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(key, NULL, &same));
    EXPECT_EQ(key, same);
    EXPECT_EQ(1u, Objects().CountOpen(winemu::HandleKind::RegistryKey));

    HKEY created = NULL;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(key, "New\\Deeper", &created));
    EXPECT_NE(nullptr, Reg().Find("HKLM\\SOFTWARE\\Microsoft\\New\\Deeper"));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(created, "y", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));

    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", NULL));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", NULL));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Nowhere", &same));
    EXPECT_EQ(NULL, same);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(created));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

// ---------------------------------------------------------------------------------------------
// Creating and closing keys

TEST_F(RegistryTest, CreateKeyDispositionAndCasePreserved) {
    HKEY key = NULL;
    DWORD disposition = kJunkDword;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tone\\Bay", 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));

    disposition = kJunkDword;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\TONE\\bay\\", 0, NULL,
                                             0, KEY_ALL_ACCESS, NULL, &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ(std::vector<std::string>{"registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Tone\\Bay"},
              Objects().Leaks());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));

    // Only the new part is new: one more key below an existing one.
    disposition = kJunkDword;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\tone\\bay\\Sub", 0,
                                             NULL, 0, KEY_ALL_ACCESS, NULL, &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tone\\Bay\\Sub",
              Reg().Find("HKLM\\SOFTWARE\\TONE\\BAY\\SUB")->Path());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

// Under code page 932 a double-byte character whose second byte is 0x5C stays in its name.
TEST_F(RegistryTest, DoubleByteSecondByte5CIsNoSeparator) {
    machine_.Config().codePage = 932;
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\\x95\x5cX\\\x95\x5c");
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    const winemu::RegKey* made = Reg().Find("HKLM\\SOFTWARE\\\x95\x5cX");
    ASSERT_NE(nullptr, made);
    ASSERT_EQ(1u, made->subkeys.size());
    EXPECT_EQ("\x95\x5c", made->subkeys.begin()->second->name);
    HKEY opened = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\\x95\x5cx\\\x95\x5c", KEY_READ);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(opened));
}

TEST_F(RegistryTest, CreateKeyRefusals) {
    HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xBAD));
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "\\Leading", 0, NULL, 0,
                                                  KEY_ALL_ACCESS, NULL, &key, NULL));
    EXPECT_EQ(NULL, key);
    EXPECT_EQ(nullptr, Reg().Find("HKLM\\Leading"));
    EXPECT_EQ(ERROR_BADKEY, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "X", 0, NULL, 0, KEY_ALL_ACCESS,
                                            NULL, NULL, NULL));
    EXPECT_EQ(nullptr, Reg().Find("HKLM\\X"));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCreateKeyExA(HKEY_CLASSES_ROOT, "X", 0, NULL, 0,
                                                    KEY_ALL_ACCESS, NULL, &key, NULL));
}

// The limits a booted registry.reg is held to hold for every write, so that no run can save
// what the next boot refuses; a refused path makes none of its keys.
TEST_F(RegistryTest, NamesAndDepthWithinWindowsLimits) {
    std::string deep = "D";
    for (int i = 1; i < 512; ++i)
        deep += "\\D";
    struct Row {
        HKEY from; // HKEY_LOCAL_MACHINE, or null for HKLM\\D (one level down)
        std::string path;
        LONG result;
    };
    const Row rows[] = {
        {HKEY_LOCAL_MACHINE, "A\\" + std::string(255, 'n'), ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, "B\\" + std::string(256, 'n') + "\\C", ERROR_INVALID_PARAMETER},
        {HKEY_LOCAL_MACHINE, deep, ERROR_SUCCESS}, // 512 levels below the root
        {HKEY_LOCAL_MACHINE, deep + "\\E", ERROR_INVALID_PARAMETER},
        {nullptr, deep.substr(4) + "\\F", ERROR_SUCCESS}, // the handle's own level counts too
        {nullptr, deep + "\\G", ERROR_INVALID_PARAMETER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path.substr(0, 40));
        HKEY from = row.from ? row.from : Create(HKEY_LOCAL_MACHINE, "D");
        HKEY key = NULL;
        EXPECT_EQ(row.result, RegCreateKeyExA(from, row.path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                              NULL, &key, NULL));
        EXPECT_EQ(row.result == ERROR_SUCCESS, key != NULL);
        if (key)
            RegCloseKey(key);
        if (!row.from)
            RegCloseKey(from);
    }
    EXPECT_EQ(nullptr, Reg().Find("HKLM\\B"));
    EXPECT_EQ(nullptr, Reg().Find("HKLM\\" + deep + "\\E"));

    HKEY key = Create(HKEY_LOCAL_MACHINE, "Values");
    const BYTE data[] = "x";
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, std::string(16383, 'v').c_str(), 0, REG_SZ, data, 2));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegSetValueExA(key, std::string(16384, 'w').c_str(), 0, REG_SZ, data, 2));
    EXPECT_EQ(nullptr, Reg().Value("HKLM\\Values", std::string(16384, 'w')));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryTest, CreateBelowAHandleIgnoresThatHandlesRights) {
    // Windows checks the new key's own security, not the rights of the handle it is made under.
    HKEY readOnly = Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_QUERY_VALUE);
    HKEY key = NULL;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(readOnly, "Made", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    EXPECT_NE(nullptr, Reg().Find("HKLM\\SOFTWARE\\Made"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(readOnly));
}

TEST_F(RegistryTest, CloseKey) {
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(NULL));
    EXPECT_EQ(ERROR_INVALID_HANDLE,
              RegCloseKey(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x4321))));

    HKEY key = Open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet", KEY_READ);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                                                     NULL, NULL, NULL, NULL));
}

TEST_F(RegistryTest, UnclosedKeysAreLeaks) {
    HKEY serial =
        Open(HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\services\\serial\\", KEY_READ);
    HKEY user = Create(HKEY_CURRENT_USER, "Software\\Midi");
    std::vector<std::string> leaks = Objects().Leaks();
    ASSERT_EQ(2u, leaks.size());
    EXPECT_EQ("registry key HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Serial",
              leaks[0]);
    EXPECT_EQ("registry key HKEY_CURRENT_USER\\Software\\Midi", leaks[1]);
    RegCloseKey(serial);
    RegCloseKey(user);
    EXPECT_TRUE(Objects().Leaks().empty());
}

// ---------------------------------------------------------------------------------------------
// Access rights

TEST_F(RegistryTest, AccessRightsTable) {
    struct Row {
        const char* name;
        REGSAM access;
        LONG set, query, enumerate, info;
    };
    const LONG ok = ERROR_SUCCESS;
    const LONG denied = ERROR_ACCESS_DENIED;
    const Row rows[] = {
        {"KEY_READ", KEY_READ, denied, ok, ok, ok},
        {"KEY_WRITE", KEY_WRITE, ok, denied, denied, denied},
        {"KEY_QUERY_VALUE", KEY_QUERY_VALUE, denied, ok, denied, ok},
        {"KEY_SET_VALUE", KEY_SET_VALUE, ok, denied, denied, denied},
        {"KEY_ENUMERATE_SUB_KEYS", KEY_ENUMERATE_SUB_KEYS, denied, denied, ok, denied},
        {"KEY_CREATE_SUB_KEY", KEY_CREATE_SUB_KEY, denied, denied, denied, denied},
        {"KEY_ALL_ACCESS", KEY_ALL_ACCESS, ok, ok, ok, ok},
        {"MAXIMUM_ALLOWED", MAXIMUM_ALLOWED, ok, ok, ok, ok},
    };
    Reg().SetDword("HKLM\\SOFTWARE", "Present", 7);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE", row.access);
        DWORD value = 42;
        EXPECT_EQ(row.set, RegSetValueExA(key, "Written", 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&value), 4));
        EXPECT_EQ(row.set == ok, Reg().Value("HKLM\\SOFTWARE", "Written") != nullptr);
        DWORD size = 4;
        EXPECT_EQ(row.query, RegQueryValueExA(key, "Present", NULL, NULL,
                                              reinterpret_cast<BYTE*>(&value), &size));
        char name[32];
        DWORD cch = sizeof name;
        EXPECT_EQ(row.enumerate, RegEnumKeyExA(key, 0, name, &cch, NULL, NULL, NULL, NULL));
        EXPECT_EQ(row.enumerate, RegEnumKeyA(key, 0, name, sizeof name));
        DWORD subkeys = 0;
        EXPECT_EQ(row.info, RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL,
                                             NULL, NULL, NULL, NULL));
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
        Reg().Find("HKLM\\SOFTWARE")->values.resize(1); // drop "Written" for the next row
    }
}

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
// Enumeration and key information

// A key of many values finds each by name, in any case, after values are added and taken out.
TEST_F(RegistryTest, ManyValuesInOneKeyAreFoundByName) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many");
    const int count = 1000;
    for (int i = 0; i < count; ++i) {
        std::string name = "Value" + std::to_string(i);
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&i), sizeof i));
    }
    winemu::RegValues& values = Reg().Find("HKLM\\SOFTWARE\\Many")->values;
    values.erase(std::remove_if(values.begin(), values.end(),
                                [](const winemu::RegValue& v) { return v.name.size() == 8; }),
                 values.end()); // Value100 to Value999
    for (int i = 0; i < count; ++i) {
        std::string name = "vALUE" + std::to_string(i);
        DWORD data = kJunkDword;
        DWORD size = sizeof data;
        LONG expected = i < 100 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        ASSERT_EQ(expected, RegQueryValueExA(key, name.c_str(), NULL, NULL,
                                             reinterpret_cast<BYTE*>(&data), &size))
            << name;
        if (i < 100) {
            EXPECT_EQ(static_cast<DWORD>(i), data);
        }
    }
    ASSERT_EQ(100u, values.size());
    EXPECT_EQ("Value99", values[99].name); // still in the order first written
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryTest, EnumKeyIsSortedWithoutRegardToCase) {
    for (const char* name : {"beta", "Serial10", "_under", "Alpha", "serial2", "GAMMA"})
        Reg().Create(std::string("HKLM\\SOFTWARE\\Sorted\\") + name);
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Sorted", KEY_ENUMERATE_SUB_KEYS);
    std::vector<std::string> names;
    std::vector<std::string> oldNames;
    for (DWORD i = 0;; ++i) {
        char name[50];
        DWORD cch = sizeof name;
        LONG result = RegEnumKeyExA(key, i, name, &cch, NULL, NULL, NULL, NULL);
        char oldName[50];
        EXPECT_EQ(result, RegEnumKeyA(key, i, oldName, sizeof oldName));
        if (result != ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, result);
            break;
        }
        EXPECT_EQ(std::strlen(name), cch);
        names.push_back(name);
        oldNames.push_back(oldName);
    }
    // Upper-cased, '_' sorts after the letters, as in Windows NT.
    EXPECT_EQ((std::vector<std::string>{"Alpha", "beta", "GAMMA", "Serial10", "serial2", "_under"}),
              names);
    EXPECT_EQ(names, oldNames);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryTest, EnumKeyCharacterCounts) {
    Reg().Create("HKLM\\SOFTWARE\\Counted\\Serial1"); // 7 characters
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Counted", KEY_ENUMERATE_SUB_KEYS);
    struct Row {
        DWORD cchIn; // characters, terminator included
        LONG result;
        DWORD cchOut;
    };
    const Row rows[] = {{50, ERROR_SUCCESS, 7},
                        {8, ERROR_SUCCESS, 7}, // exact fit
                        {7, ERROR_MORE_DATA, 7},
                        {0, ERROR_MORE_DATA, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.cchIn);
        char name[50];
        std::memset(name, kJunk, sizeof name);
        DWORD cch = row.cchIn;
        FILETIME written{kJunkDword, kJunkDword};
        EXPECT_EQ(row.result, RegEnumKeyExA(key, 0, name, &cch, NULL, NULL, NULL, &written));
        EXPECT_EQ(row.cchOut, cch);
        size_t touched = row.result == ERROR_SUCCESS ? 8 : 0;
        if (touched != 0) {
            EXPECT_STREQ("Serial1", name);
            EXPECT_FALSE(written.dwLowDateTime == kJunkDword &&
                         written.dwHighDateTime == kJunkDword);
        }
        for (size_t i = touched; i < sizeof name; ++i)
            ASSERT_EQ(static_cast<char>(kJunk), name[i]) << "character " << i;

        char oldName[50];
        std::memset(oldName, kJunk, sizeof oldName);
        EXPECT_EQ(row.result, RegEnumKeyA(key, 0, oldName, row.cchIn));
        EXPECT_EQ(static_cast<char>(touched ? 'S' : kJunk), oldName[0]);
    }
    char name[50];
    DWORD cch = sizeof name;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(key, 1, name, &cch, NULL, NULL, NULL, NULL));
    DWORD reserved = 0;
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegEnumKeyExA(key, 0, name, &cch, &reserved, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumKeyExA(key, 0, name, NULL, NULL, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryTest, QueryInfoKeyFillsWhatIsAsked) {
    Reg().Create("HKLM\\SOFTWARE\\Info\\Serial1");
    Reg().Create("HKLM\\SOFTWARE\\Info\\Serial10000");
    Reg().Set("HKLM\\SOFTWARE\\Info", "ForceFifoEnable", REG_DWORD, {1, 0, 0, 0});
    Reg().Set("HKLM\\SOFTWARE\\Info", "A", REG_BINARY, std::vector<BYTE>(300, 7));
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Info", KEY_READ);

    DWORD subkeys = kJunkDword, maxSubkey = kJunkDword, maxClass = kJunkDword;
    DWORD values = kJunkDword, maxValueName = kJunkDword, maxValue = kJunkDword;
    DWORD security = kJunkDword;
    FILETIME written{kJunkDword, kJunkDword};
    char className[8];
    std::memset(className, kJunk, sizeof className);
    DWORD cchClass = sizeof className;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(key, className, &cchClass, NULL, &subkeys, &maxSubkey, &maxClass,
                               &values, &maxValueName, &maxValue, &security, &written));
    EXPECT_EQ(2u, subkeys);
    EXPECT_EQ(11u, maxSubkey); // "Serial10000", characters without the zero
    EXPECT_EQ(2u, values);
    EXPECT_EQ(15u, maxValueName); // "ForceFifoEnable"
    EXPECT_EQ(300u, maxValue);    // bytes
    EXPECT_EQ(0u, maxClass);
    EXPECT_EQ(0u, cchClass);
    EXPECT_EQ('\0', className[0]);
    EXPECT_EQ(static_cast<char>(kJunk), className[1]);
    EXPECT_NE(kJunkDword, security);
    EXPECT_FALSE(written.dwLowDateTime == kJunkDword && written.dwHighDateTime == kJunkDword);

    // The one count a caller usually wants, everything else left out.
    subkeys = kJunkDword;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL,
                                              NULL, NULL, NULL, NULL));
    EXPECT_EQ(2u, subkeys);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

// ---------------------------------------------------------------------------------------------
// Deleting keys

TEST_F(RegistryTest, DeleteKeyRefusesKeysWithSubkeys) {
    Reg().Create("HKLM\\SOFTWARE\\Parent\\Child");
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Parent"));
    EXPECT_NE(nullptr, Reg().Find("HKLM\\SOFTWARE\\Parent\\Child"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "software\\parent\\CHILD\\"));
    EXPECT_EQ(nullptr, Reg().Find("HKLM\\SOFTWARE\\Parent\\Child"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Parent"));
    EXPECT_EQ(nullptr, Reg().Find("HKLM\\SOFTWARE\\Parent"));

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Parent"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(HKEY_LOCAL_MACHINE, NULL));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, ""));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteKeyA(HKEY_CLASSES_ROOT, "x"));
}

TEST_F(RegistryTest, HandleToADeletedKey) {
    Reg().SetDword("HKLM\\SOFTWARE\\Doomed", "Value", 1);
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed", KEY_ALL_ACCESS);
    HKEY other = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed", KEY_ALL_ACCESS);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(other, "")); // a key may delete itself
    EXPECT_EQ(nullptr, Reg().Find("HKLM\\SOFTWARE\\Doomed"));

    DWORD value = 2;
    DWORD size = sizeof value;
    char name[8];
    DWORD cch = sizeof name;
    HKEY sub = NULL;
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegQueryValueExA(key, "Value", NULL, NULL, reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegSetValueExA(key, "Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExA(key, 0, name, &cch, NULL, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegCreateKeyExA(key, "Sub", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &sub, NULL));
    EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExA(key, NULL, 0, KEY_READ, &sub));

    // A key of the same name made again is another key; the old handle still sees the old one.
    Reg().Create("HKLM\\SOFTWARE\\Doomed");
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                                                  NULL, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(other));
    EXPECT_TRUE(Objects().Leaks().empty());
}

TEST_F(RegistryTest, DeletedKeyKeepsItsPathAfterItsParentGoesToo) {
    Reg().Create("HKLM\\SOFTWARE\\Gone\\Child");
    HKEY child = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone\\Child", KEY_READ);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone\\Child"));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryInfoKeyA(child, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                                                  NULL, NULL, NULL, NULL));
    // Faults still match the deleted key by its full path.
    machine_.Fault().Add("RegQueryInfoKeyA", "SOFTWARE\\Gone\\Child");
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryInfoKeyA(child, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                                                    NULL, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
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
// Injected faults

TEST_F(RegistryTest, FaultOnValueNameFailsOnlyThatValue) {
    machine_.Fault().Add("RegSetValueExA", "CurrentInstrument");
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Microsoft\\Multimedia\\MIDIMap");
    const BYTE text[] = "Tone";
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegSetValueExA(key, "currentinstrument", 0, REG_SZ, text, sizeof text));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "AutoScheme", 0, REG_SZ, text, sizeof text));
    const winemu::RegKey* midimap = Reg().Find("HKCU\\Software\\Microsoft\\Multimedia\\MIDIMap");
    ASSERT_EQ(1u, midimap->values.size());
    EXPECT_EQ("AutoScheme", midimap->values[0].name);
    EXPECT_EQ(2, machine_.Fault().Calls("RegSetValueExA"));
    RegCloseKey(key);
}

TEST_F(RegistryTest, FaultOnKeyPathMatchesTheHandlesPathAndTheSubkey) {
    machine_.Fault().Add("RegOpenKeyExA", "Services\\Serial\\Parameters");
    HKEY services = Open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services", KEY_READ);
    HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xBAD));
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExA(services, "Serial\\Parameters\\", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(services, "Serial", 0, KEY_READ, &key));
    HKEY parameters = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xBAD));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(key, "Parameters", 0, KEY_READ, &parameters));
    EXPECT_EQ(2u, Objects().CountOpen(winemu::HandleKind::RegistryKey));
    RegCloseKey(key);
    RegCloseKey(services);
}

TEST_F(RegistryTest, FaultEveryCallAndNthCall) {
    machine_.Fault().Add("RegCreateKeyExA", "#2");
    const char* paths[] = {"SOFTWARE\\N1", "SOFTWARE\\N2", "SOFTWARE\\N3"};
    for (const char* path : paths) {
        HKEY key = NULL;
        LONG result =
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
        bool second = path == paths[1];
        EXPECT_EQ(second ? ERROR_ACCESS_DENIED : ERROR_SUCCESS, result) << path;
        EXPECT_EQ(!second, Reg().Find(std::string("HKLM\\") + path) != nullptr) << path;
        if (result == ERROR_SUCCESS)
            RegCloseKey(key);
    }

    machine_.Fault().Add("RegCloseKey", "*");
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCloseKey(key));
    EXPECT_EQ(1u, Objects().CountOpen(winemu::HandleKind::RegistryKey)); // still open
}

TEST_F(RegistryTest, EachCallIsCheckedOnceUnderItsOwnName) {
    HKEY software = NULL;
    HKEY key = NULL;
    RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &software);
    RegCreateKeyA(software, "Made", &key);
    char text[8];
    LONG size = sizeof text;
    RegQueryValueA(key, NULL, text, &size);
    RegSetValueA(key, NULL, REG_SZ, "x", 2);
    RegEnumKeyA(key, 0, text, sizeof text);
    EXPECT_EQ(1, machine_.Fault().Calls("RegOpenKeyA"));
    EXPECT_EQ(1, machine_.Fault().Calls("RegCreateKeyA"));
    EXPECT_EQ(1, machine_.Fault().Calls("RegQueryValueA"));
    EXPECT_EQ(1, machine_.Fault().Calls("RegSetValueA"));
    EXPECT_EQ(1, machine_.Fault().Calls("RegEnumKeyA"));
    EXPECT_EQ(0, machine_.Fault().Calls("RegOpenKeyExA"));
    EXPECT_EQ(0, machine_.Fault().Calls("RegCreateKeyExA"));
    EXPECT_EQ(0, machine_.Fault().Calls("RegQueryValueExA"));
    EXPECT_EQ(0, machine_.Fault().Calls("RegSetValueExA"));
    EXPECT_EQ(0, machine_.Fault().Calls("RegEnumKeyExA"));
    RegCloseKey(key);
    RegCloseKey(software);
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
