// Faults injected into the registry calls: by value name, by key path, by call count, and
// each call checked once under its own name.
#include "registry_fixture.h"

namespace registrytest {
namespace {

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

} // namespace
} // namespace registrytest
