// Registry keys as a Win32 program sees them: opening, creating and closing, the limits on
// names and depth, access rights and deleted keys.
#include "registry_fixture.h"

namespace registrytest {
namespace {

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

} // namespace
} // namespace registrytest
