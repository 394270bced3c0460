// The multimedia registration: the exact driver lists, the MIDI mapper's choice on each Windows
// version, the MIDI media resources of Windows NT 4.0, and which failures count.
#include "driver/driver.h"
#include "driver/expected_entries.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

using testsupport::ActiveMachine;
using testsupport::TestImage;

using expected::kDriverLists;
using expected::kResourcesKey;
using expected::kUserMidiMap;
using expected::kVersionKey;
using expected::ListValue;
using expected::Sz;

std::vector<BYTE> Dword(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

// A Windows NT machine of the given version. NT 4.0 has the media resource key and the current
// user's MIDI mapper key; the others have neither.
struct RegMachine {
    TestImage image;
    std::unique_ptr<ActiveMachine> active;

    explicit RegMachine(const char* version, const std::string& extraRegistry = "") {
        image.Ini(std::string("[Machine]\nVersion=") + version + "\n");
        std::string reg = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
                          "\"CurrentVersion\"=\"" +
                          std::string(version) + "\"\n\n";
        if (std::string(version) == "4.0") {
            reg +=
                "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\MediaResources\\MIDI]\n\n"
                "[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Multimedia\\"
                "MIDIMap]\n\"CurrentInstrument\"=\"\"\n\n";
        }
        image.Registry(reg + extraRegistry);
        active = std::make_unique<ActiveMachine>(image);
    }
    winemu::Machine& M() { return active->M(); }
    winemu::Registry& Reg() { return M().Reg(); }

    void ExpectValue(const std::string& key, const std::string& name, DWORD type,
                     const std::vector<BYTE>& data) {
        SCOPED_TRACE(key + " : " + name);
        const winemu::RegValue* value = Reg().Value(key, name);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->type, type);
        EXPECT_EQ(value->data, data);
    }

    void ExpectDriverLists() {
        for (const ListValue& v : kDriverLists)
            ExpectValue(kVersionKey + "\\" + v.subkey, v.name, REG_SZ, Sz(v.data));
    }

    // The subkey holds exactly these values.
    void ExpectValueNames(const std::string& key, const std::vector<std::string>& names) {
        SCOPED_TRACE(key);
        const winemu::RegKey* k = Reg().Find(key);
        ASSERT_NE(k, nullptr);
        std::vector<std::string> actual;
        for (const auto& v : k->values)
            actual.push_back(v.name);
        EXPECT_EQ(actual, names);
    }

    std::vector<BYTE> CurrentInstrument() {
        const winemu::RegValue* value = Reg().Value(kUserMidiMap, "CurrentInstrument");
        return value == nullptr ? std::vector<BYTE>{} : value->data;
    }
};

// "CurrentInstrument" as it must be stored: the name, then zeros to 20 bytes.
std::vector<BYTE> Instrument(const std::string& name) {
    std::vector<BYTE> bytes(name.begin(), name.end());
    bytes.resize(20, 0);
    return bytes;
}

std::string Subkeys(const char* driver, int first, int last) {
    std::string reg;
    char name[40];
    for (int i = first; i <= last; ++i) {
        std::snprintf(name, sizeof(name), "%s<%04d>", driver, i);
        reg += "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\MediaResources\\MIDI\\" +
               std::string(name) + "]\n\n";
    }
    return reg;
}

// ---------------------------------------------------------------------------------------------
// Each version

TEST(FRegisterMultimediaDriver, WindowsNT351KeepsAMappingName) {
    for (INT midiMapperDefault : {1, 0}) {
        SCOPED_TRACE(midiMapperDefault);
        RegMachine machine("3.51");
        fMidiMapperDefault = midiMapperDefault;

        EXPECT_EQ(FRegisterMultimediaDriver(), TRUE);

        machine.ExpectDriverLists();
        machine.ExpectValueNames(kVersionKey + "\\Midimap", {"Mapping Name"});
        machine.ExpectValue(kVersionKey + "\\Midimap", "Mapping Name", REG_SZ,
                            Sz(midiMapperDefault ? "FM Synth" : "Midi Out"));
        EXPECT_EQ(machine.Reg().Find(kResourcesKey), nullptr);
        EXPECT_EQ(machine.Reg().Find(kUserMidiMap), nullptr);
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

TEST(FRegisterMultimediaDriver, OtherVersionsGetTheDriverListsOnly) {
    RegMachine machine("5.0");
    fMidiMapperDefault = 1;

    EXPECT_EQ(FRegisterMultimediaDriver(), TRUE);

    machine.ExpectDriverLists();
    machine.ExpectValueNames(kVersionKey + "\\Midimap", {});
    EXPECT_EQ(machine.Reg().Find(kResourcesKey), nullptr);
    EXPECT_EQ(machine.Reg().Find(kUserMidiMap), nullptr);
    EXPECT_TRUE(machine.M().Objects().Leaks().empty());
}

// ---------------------------------------------------------------------------------------------
// Windows NT 4.0 media resources

// What a resource subkey must hold afterwards.
struct ResourceState {
    const char* subkey;
    enum { Absent, Untouched, NotLast, Last, NotLastStale } state; // Stale: kept "Old" texts
    DWORD physDevId;                                               // for NotLast and Last
    const char* description;
};

struct ResourceRow {
    const char* name;
    std::string existing; // registry text of the subkeys present before
    INT midiMapperDefault;
    std::vector<ResourceState> expected;
    const char* instrument;
};

void CheckResources(RegMachine& machine, const std::vector<ResourceState>& expected) {
    for (const ResourceState& s : expected) {
        const std::string key = kResourcesKey + "\\" + s.subkey;
        SCOPED_TRACE(key);
        switch (s.state) {
        case ResourceState::Absent:
            EXPECT_EQ(machine.Reg().Find(key), nullptr);
            break;
        case ResourceState::Untouched:
            machine.ExpectValueNames(key, {});
            break;
        case ResourceState::NotLast:
            machine.ExpectValueNames(key, {"PhysDevID", "Active"});
            machine.ExpectValue(key, "PhysDevID", REG_DWORD, Dword(s.physDevId));
            machine.ExpectValue(key, "Active", REG_DWORD, Dword(0));
            break;
        case ResourceState::NotLastStale:
            // A subkey that is not the last gets no texts: those it had stay as they were.
            machine.ExpectValue(key, "PhysDevID", REG_DWORD, Dword(s.physDevId));
            machine.ExpectValue(key, "Active", REG_DWORD, Dword(0));
            machine.ExpectValue(key, "Description", REG_SZ, Sz("Old"));
            machine.ExpectValue(key, "FriendlyName", REG_SZ, Sz("Old"));
            break;
        case ResourceState::Last:
            machine.ExpectValueNames(key, {"PhysDevID", "Active", "Description", "FriendlyName"});
            machine.ExpectValue(key, "PhysDevID", REG_DWORD, Dword(s.physDevId));
            machine.ExpectValue(key, "Active", REG_DWORD, Dword(1));
            machine.ExpectValue(key, "Description", REG_SZ, Sz(s.description));
            machine.ExpectValue(key, "FriendlyName", REG_SZ, Sz(s.description));
            break;
        }
    }
}

TEST(FRegisterMultimediaDriver, WindowsNT40MediaResources) {
    using S = ResourceState;
    std::vector<ResourceState> all101;
    std::vector<std::string> names101;
    for (int i = 0; i <= 100; ++i) {
        char name[40];
        std::snprintf(name, sizeof(name), "TONEBAY.DLL<%04d>", i);
        names101.push_back(name);
    }
    for (const std::string& name : names101)
        all101.push_back({name.c_str(), S::NotLast, 1, nullptr});
    all101.push_back({"TONEBAY.DLL<0101>", S::Absent, 0, nullptr});
    all101.push_back({"MMDRV.DLL<0000>", S::Last, 1, "Midi Out"});

    const ResourceRow rows[] = {
        {"none present, FM synthesizer",
         "",
         1,
         {{"MMDRV.DLL<0000>", S::Last, 1, "Midi Out"},
          {"MMDRV.DLL<0001>", S::Absent, 0, nullptr},
          {"TONEBAY.DLL<0000>", S::Last, 0, "FM Synth"},
          {"TONEBAY.DLL<0001>", S::Absent, 0, nullptr}},
         "TONEBAY.DLL<0000>"},
        {"none present, MIDI output port",
         "",
         0,
         {{"MMDRV.DLL<0000>", S::Last, 1, "Midi Out"},
          {"TONEBAY.DLL<0000>", S::Last, 0, "FM Synth"}},
         "MMDRV.DLL<0000>"},
        {"TONEBAY.DLL 0000-0001",
         Subkeys("TONEBAY.DLL", 0, 1),
         1,
         {{"TONEBAY.DLL<0000>", S::NotLast, 1, nullptr},
          {"TONEBAY.DLL<0001>", S::Last, 0, "FM Synth"},
          {"MMDRV.DLL<0000>", S::Last, 1, "Midi Out"}},
         "TONEBAY.DLL<0001>"},
        {"MMDRV.DLL 0000-0002, MIDI output port",
         Subkeys("MMDRV.DLL", 0, 2) + Subkeys("TONEBAY.DLL", 0, 0),
         0,
         {{"MMDRV.DLL<0000>", S::NotLast, 0, nullptr},
          {"MMDRV.DLL<0001>", S::NotLast, 0, nullptr},
          {"MMDRV.DLL<0002>", S::Last, 1, "Midi Out"},
          {"TONEBAY.DLL<0000>", S::Last, 0, "FM Synth"}},
         "MMDRV.DLL<0002>"},
        {"MMDRV.DLL gap at 0001",
         Subkeys("MMDRV.DLL", 0, 0) + Subkeys("MMDRV.DLL", 2, 2),
         0,
         {{"MMDRV.DLL<0000>", S::Last, 1, "Midi Out"},
          {"MMDRV.DLL<0001>", S::Absent, 0, nullptr},
          {"MMDRV.DLL<0002>", S::Untouched, 0, nullptr}},
         "MMDRV.DLL<0000>"},
        {"all 101 TONEBAY.DLL subkeys", Subkeys("TONEBAY.DLL", 0, 100), 1, all101,
         "TONEBAY.DLL<0000>"},
        {"subkeys named in another letter case",
         Subkeys("tonebay.dll", 0, 1),
         1,
         {{"TONEBAY.DLL<0000>", S::NotLast, 1, nullptr},
          {"TONEBAY.DLL<0001>", S::Last, 0, "FM Synth"}},
         "TONEBAY.DLL<0001>"},
        {"0000 missing while 0001 exists",
         Subkeys("TONEBAY.DLL", 1, 1),
         1,
         {{"TONEBAY.DLL<0000>", S::NotLast, 1, nullptr},
          {"TONEBAY.DLL<0001>", S::Last, 0, "FM Synth"},
          {"TONEBAY.DLL<0002>", S::Absent, 0, nullptr}},
         "TONEBAY.DLL<0001>"},
        {"stale descriptions on a subkey that is no longer the last",
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\MediaResources\\MIDI\\"
         "TONEBAY.DLL<0000>]\n\"Description\"=\"Old\"\n\"FriendlyName\"=\"Old\"\n\n" +
             Subkeys("TONEBAY.DLL", 1, 1),
         1,
         {{"TONEBAY.DLL<0000>", S::NotLastStale, 1, nullptr},
          {"TONEBAY.DLL<0001>", S::Last, 0, "FM Synth"}},
         "TONEBAY.DLL<0001>"},
    };
    for (const ResourceRow& row : rows) {
        SCOPED_TRACE(row.name);
        RegMachine machine("4.0", row.existing);
        fMidiMapperDefault = row.midiMapperDefault;

        EXPECT_EQ(FRegisterMultimediaDriver(), TRUE);

        machine.ExpectDriverLists();
        machine.ExpectValueNames(kVersionKey + "\\Midimap", {});
        CheckResources(machine, row.expected);
        machine.ExpectValue(kUserMidiMap, "CurrentInstrument", REG_SZ, Instrument(row.instrument));
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

// Entries already there: the driver lists are overwritten with exactly their data, and a
// "Mapping Name" that an NT 4.0 machine carries from elsewhere is left alone.
TEST(FRegisterMultimediaDriver, ExistingEntriesOnWindowsNT40) {
    RegMachine machine(
        "4.0", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]\n"
               "\"wave\"=\"SNDBLAST.DRV,with,more,text\"\n\"midi\"=dword:00000007\n\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Midimap]\n"
               "\"Mapping Name\"=\"Old Map\"\n\n");
    fMidiMapperDefault = 1;

    EXPECT_EQ(FRegisterMultimediaDriver(), TRUE);

    machine.ExpectDriverLists(); // "MIDI" replaced "midi", in type and data alike
    machine.ExpectValue(kVersionKey + "\\Midimap", "Mapping Name", REG_SZ, Sz("Old Map"));
    EXPECT_EQ(machine.CurrentInstrument(), Instrument("TONEBAY.DLL<0000>"));
    EXPECT_TRUE(machine.M().Objects().Leaks().empty());
}

TEST(FRegisterMultimediaDriver, RunningAgainKeepsTheSameDevices) {
    RegMachine machine("4.0");
    fMidiMapperDefault = 1;
    ASSERT_EQ(FRegisterMultimediaDriver(), TRUE);
    ASSERT_EQ(FRegisterMultimediaDriver(), TRUE);

    using S = ResourceState;
    CheckResources(machine, {{"MMDRV.DLL<0000>", S::Last, 1, "Midi Out"},
                             {"MMDRV.DLL<0001>", S::Absent, 0, nullptr},
                             {"TONEBAY.DLL<0000>", S::Last, 0, "FM Synth"},
                             {"TONEBAY.DLL<0001>", S::Absent, 0, nullptr}});
    EXPECT_EQ(machine.CurrentInstrument(), Instrument("TONEBAY.DLL<0000>"));
}

TEST(FRegisterMultimediaDriver, CurrentInstrumentIsTwentyBytesWithZerosAfterTheName) {
    // A longer name stored before must not show through after the new one.
    RegMachine machine(
        "4.0", "[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
               "Multimedia\\MIDIMap]\n\"CurrentInstrument\"=\"XXXXXXXXXXXXXXXXXXXXXXXX\"\n");
    fMidiMapperDefault = 0;

    EXPECT_EQ(FRegisterMultimediaDriver(), TRUE);

    const std::vector<BYTE> data = machine.CurrentInstrument();
    ASSERT_EQ(data.size(), 20u);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 15), "MMDRV.DLL<0000>");
    for (size_t i = 15; i < data.size(); ++i)
        EXPECT_EQ(data[i], 0) << "byte " << i;
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST(FRegisterMultimediaDriver, KeyThatCannotBeCreatedEndsAtOnce) {
    struct Row {
        const char* fault; // RegCreateKeyExA fault
        int listsWritten;  // how many driver list subkeys were written before
    };
    const Row rows[] = {
        {"#1", 0}, // the version key
        {"Drivers32", 0}, {"userinstallable.drivers", 1}, {"related.desc", 2}, {"drivers.desc", 3},
        {"Midimap", 4},
    };
    const char* const lists[] = {"Drivers32", "userinstallable.drivers", "related.desc",
                                 "drivers.desc"};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        RegMachine machine("4.0");
        machine.M().Fault().Add("RegCreateKeyExA", row.fault);
        fMidiMapperDefault = 1;

        EXPECT_EQ(FRegisterMultimediaDriver(), FALSE);

        for (int i = 0; i < 4; ++i) {
            const std::string key = kVersionKey + "\\" + lists[i];
            if (i < row.listsWritten)
                EXPECT_NE(machine.Reg().Find(key), nullptr) << key;
            else
                EXPECT_EQ(machine.Reg().Find(key), nullptr) << key;
        }
        EXPECT_EQ(machine.Reg().Find(kVersionKey + "\\Midimap"), nullptr);
        EXPECT_EQ(machine.Reg().Find(kResourcesKey + "\\TONEBAY.DLL<0000>"), nullptr);
        EXPECT_EQ(machine.CurrentInstrument(), Sz(""));
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

TEST(FRegisterMultimediaDriver, FailedCountedWriteClearsTheResultAndTheRestIsWritten) {
    using Missing = std::vector<std::pair<std::string, std::string>>; // {subkey, value name}
    struct Row {
        const char* version;
        const char* api;
        const char* fault;
        Missing missing;    // driver list values left unwritten
        bool instrumentSet; // "CurrentInstrument" written (Windows NT 4.0)
    };
    const Row rows[] = {
        {"4.0", "RegSetValueExA", "aux1", {{"Drivers32", "aux1"}}, true},
        {"4.0", "RegSetValueExA", "mixer", {{"Drivers32", "mixer"}}, true},
        {"4.0",
         "RegSetValueExA",
         "related.desc",
         {{"related.desc", "wave"}, {"related.desc", "wave1"}},
         true},
        {"4.0", "RegSetValueExA", "#13", {{"drivers.desc", "MMDRV.DLL"}}, true}, // the last one
        {"3.51", "RegSetValueExA", "Mapping Name", {}, false},
        {"4.0", "RegSetValueExA", "CurrentInstrument", {}, false},
        {"4.0", "RegOpenKeyExA", "MIDIMap", {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.version) + " " + row.api + "=" + row.fault);
        RegMachine machine(row.version);
        machine.M().Fault().Add(row.api, row.fault);
        fMidiMapperDefault = 1;

        EXPECT_EQ(FRegisterMultimediaDriver(), FALSE);

        for (const ListValue& v : kDriverLists) {
            const std::string key = kVersionKey + "\\" + v.subkey;
            bool missing = false;
            for (const auto& [subkey, name] : row.missing)
                missing = missing || (subkey == v.subkey && name == v.name);
            if (missing)
                EXPECT_EQ(machine.Reg().Value(key, v.name), nullptr) << key << " " << v.name;
            else
                machine.ExpectValue(key, v.name, REG_SZ, Sz(v.data));
        }
        if (std::string(row.version) == "4.0") {
            CheckResources(machine, {{"TONEBAY.DLL<0000>", ResourceState::Last, 0, "FM Synth"},
                                     {"MMDRV.DLL<0000>", ResourceState::Last, 1, "Midi Out"}});
            EXPECT_EQ(machine.CurrentInstrument(),
                      row.instrumentSet ? Instrument("TONEBAY.DLL<0000>") : Sz(""));
        } else {
            EXPECT_EQ(machine.Reg().Value(kVersionKey + "\\Midimap", "Mapping Name"), nullptr);
        }
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

TEST(FRegisterMultimediaDriver, MissingUserMidiMapKeyFailsAndIsNotCreated) {
    RegMachine machine("4.0");
    ASSERT_TRUE(machine.Reg().Delete(kUserMidiMap));
    fMidiMapperDefault = 1;

    EXPECT_EQ(FRegisterMultimediaDriver(), FALSE);

    machine.ExpectDriverLists();
    CheckResources(machine, {{"TONEBAY.DLL<0000>", ResourceState::Last, 0, "FM Synth"}});
    EXPECT_EQ(machine.Reg().Find(kUserMidiMap), nullptr);
    EXPECT_TRUE(machine.M().Objects().Leaks().empty());
}

TEST(FRegisterMultimediaDriver, MediaResourceFailuresDoNotCount) {
    struct Row {
        const char* name;
        const char* api;
        const char* fault;
        bool deleteResourcesKey;
        const char* instrument;
    };
    const Row rows[] = {
        // Nothing is written under a media resource key that cannot be opened; the instrument
        // still names device 0.
        {"no media resource key", nullptr, nullptr, true, "TONEBAY.DLL<0000>"},
        {"media resource key cannot be opened", "RegOpenKeyExA", "#1", false, "TONEBAY.DLL<0000>"},
        {"resource values cannot be written", "RegSetValueExA", "MediaResources", false,
         "TONEBAY.DLL<0000>"},
        {"resource subkey cannot be created", "RegCreateKeyExA", "TONEBAY.DLL<0000>", false,
         "TONEBAY.DLL<0000>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RegMachine machine("4.0");
        if (row.deleteResourcesKey) {
            ASSERT_TRUE(machine.Reg().Delete(kResourcesKey));
        }
        if (row.api != nullptr)
            machine.M().Fault().Add(row.api, row.fault);
        fMidiMapperDefault = 1;

        EXPECT_EQ(FRegisterMultimediaDriver(), TRUE);

        machine.ExpectDriverLists();
        EXPECT_EQ(machine.Reg().Find(kResourcesKey + "\\TONEBAY.DLL<0000>") == nullptr ||
                      machine.Reg().Find(kResourcesKey + "\\TONEBAY.DLL<0000>")->values.empty(),
                  true);
        EXPECT_EQ(machine.CurrentInstrument(), Instrument(row.instrument));
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

} // namespace
