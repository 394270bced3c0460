// Registry enumeration and key information: lookup among many values, sort order, character
// counts and RegQueryInfoKey.
#include "registry_fixture.h"

#include <algorithm>
#include <cstring>

namespace registrytest {
namespace {

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

} // namespace
} // namespace registrytest
