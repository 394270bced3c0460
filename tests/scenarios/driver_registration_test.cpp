// Whole setups seen from the sound driver's side: the handshake in the report, the exact
// multimedia entries on Windows NT 3.51 and 4.0, and how a refusing driver or a failed
// registration ends the run.
#include "driver/expected_entries.h"
#include "support/test_machine.h"

#include <gtest/gtest.h>
#include <toolkit.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using testsupport::ChildResult;
using testsupport::DialogIds;
using testsupport::Faults;
using testsupport::FromSample;
using testsupport::RunSetup;
using testsupport::TestImage;
using testsupport::UseAnswers;

using expected::kResourcesKey;
using expected::kUserMidiMap;
using expected::kVersionKey;
using expected::Sz;
const std::string kParametersKey =
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\TONEBAY\\Parameters\\Device0";

std::string SampleDriver() {
    return testsupport::ReadHostFile(fs::path(SOUNDSETUP_SOURCE_DIR) / "platform" / "tonebay" /
                                     "TONEBAY.INI");
}

// The sample disk's driver, answering and storing as given.
std::string Driver(const std::string& answers, int product) {
    return "[Driver]\n" + answers + "[Parameters]\nCurrentProduct=" + std::to_string(product) +
           "\nCOMOption=0\n";
}

// {"DRV_INSTALL=2", ...} in the order sent.
std::vector<std::string> DriverMessages(const nlohmann::json& report) {
    std::vector<std::string> messages;
    for (const auto& m : report.value("driver_messages", nlohmann::json::array())) {
        EXPECT_EQ(m["driver"], "TONEBAY.DLL");
        if (m.contains("call"))
            messages.push_back(m["call"].get<std::string>());
        else
            messages.push_back(m["message"].get<std::string>() + "=" +
                               std::to_string(m["answer"].get<long long>()));
    }
    return messages;
}

// The messages around a handshake: opening loads, enables and opens; closing undoes them.
std::vector<std::string> Opened(const std::vector<std::string>& handshake) {
    std::vector<std::string> messages = {"OpenDriver", "DRV_LOAD=1", "DRV_ENABLE=1", "DRV_OPEN=1"};
    messages.insert(messages.end(), handshake.begin(), handshake.end());
    messages.insert(messages.end(), {"CloseDriver", "DRV_CLOSE=1", "DRV_DISABLE=1", "DRV_FREE=1"});
    return messages;
}

std::vector<BYTE> Dword(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

void ExpectValue(winemu::Machine& m, const std::string& key, const std::string& name, DWORD type,
                 const std::vector<BYTE>& data) {
    SCOPED_TRACE(key + " : " + name);
    const winemu::RegValue* value = m.Reg().Value(key, name);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, type);
    EXPECT_EQ(value->data, data);
}

// The driver lists, exactly, as the saved registry holds them.
void ExpectDriverLists(winemu::Machine& m) {
    for (const auto& v : expected::kDriverLists)
        ExpectValue(m, kVersionKey + "\\" + v.subkey, v.name, REG_SZ, Sz(v.data));
    // What Windows had in its lists stays.
    ExpectValue(m, kVersionKey + "\\Drivers32", "wavemapper", REG_SZ, Sz("msacm32.drv"));
}

void ExpectLastDevice(winemu::Machine& m, const std::string& subkey, DWORD physDevId,
                      const std::string& description) {
    const std::string key = kResourcesKey + "\\" + subkey;
    ExpectValue(m, key, "PhysDevID", REG_DWORD, Dword(physDevId));
    ExpectValue(m, key, "Active", REG_DWORD, Dword(1));
    ExpectValue(m, key, "Description", REG_SZ, Sz(description));
    ExpectValue(m, key, "FriendlyName", REG_SZ, Sz(description));
}

std::vector<BYTE> Instrument(const std::string& name) {
    std::vector<BYTE> bytes(name.begin(), name.end());
    bytes.resize(20, 0);
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// Complete runs

TEST(DriverRegistration, UnattendedNt40RegistersTheDriverAndItsMidiDevices) {
    struct Row {
        int product; // Card07: FM synthesizer; Card08: MIDI output port
        const char* instrument;
    };
    for (const Row& row : {Row{7, "TONEBAY.DLL<0000>"}, Row{8, "MMDRV.DLL<0000>"}}) {
        SCOPED_TRACE(row.product);
        TestImage image;
        FromSample(image, "nt40");
        image.File("A:\\TONEBAY.INI", Driver("Install=1\n", row.product));

        ChildResult result = RunSetup(image, "/answers:A:\\ANSWERS.INI");
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 100, 5000, 700}));
        EXPECT_EQ(DriverMessages(result.report), Opened({"DRV_INSTALL=1"}));
        EXPECT_TRUE(result.report["open_handles"].empty());

        winemu::Machine& m = *result.after;
        ExpectDriverLists(m);
        EXPECT_TRUE(m.Reg().Find(kVersionKey + "\\Midimap")->values.empty());
        ExpectLastDevice(m, "MMDRV.DLL<0000>", 1, "Midi Out");
        ExpectLastDevice(m, "TONEBAY.DLL<0000>", 0, "FM Synth");
        ExpectValue(m, kUserMidiMap, "CurrentInstrument", REG_SZ, Instrument(row.instrument));
        ExpectValue(m, kParametersKey, "CurrentProduct", REG_DWORD, Dword(row.product));
    }
}

TEST(DriverRegistration, UnattendedNt351WritesAMappingNameInstead) {
    struct Row {
        int product;
        const char* mapping;
    };
    for (const Row& row : {Row{7, "FM Synth"}, Row{8, "Midi Out"}}) {
        SCOPED_TRACE(row.product);
        TestImage image;
        FromSample(image, "nt351");
        image.File("A:\\TONEBAY.INI", Driver("Install=1\n", row.product));

        ChildResult result = RunSetup(image, "/answers:A:\\ANSWERS.INI");
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 100, 5000, 700}));
        EXPECT_EQ(DriverMessages(result.report), Opened({"DRV_INSTALL=1"}));
        EXPECT_TRUE(result.report["open_handles"].empty());
        EXPECT_TRUE(image.Exists("C:\\WINNT35\\system32\\TONEBAY.DLL"));

        winemu::Machine& m = *result.after;
        ExpectDriverLists(m);
        ExpectValue(m, kVersionKey + "\\Midimap", "Mapping Name", REG_SZ, Sz(row.mapping));
        EXPECT_EQ(m.Reg().Find(kResourcesKey), nullptr);
        EXPECT_EQ(m.Reg().Find(kUserMidiMap), nullptr);
    }
}

TEST(DriverRegistration, SampleDriverIsConfiguredAndSetupGoesOn) {
    TestImage image;
    FromSample(image, "nt40");
    image.File("A:\\TONEBAY.INI", SampleDriver());

    ChildResult result = RunSetup(image, "/answers:A:\\ANSWERS.INI");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(DriverMessages(result.report),
              Opened({"DRV_INSTALL=2", "DRV_QUERYCONFIGURE=1", "DRV_CONFIGURE=1"}));
    // The driver's wish for a restart is not the user's.
    EXPECT_FALSE(result.report["restart_requested"].get<bool>());
    EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 100, 5000, 700}));
    ExpectDriverLists(*result.after);
    EXPECT_TRUE(result.report["open_handles"].empty());
}

// ---------------------------------------------------------------------------------------------
// Runs that end early

TEST(DriverRegistration, RefusingOrMissingDriverEndsSetupWithoutAMessage) {
    struct Row {
        const char* name;
        std::string driver;
        Faults faults;
        std::vector<std::string> messages;
    };
    const Row rows[] = {
        {"installation cancelled", Driver("Install=0\n", 7), {}, Opened({"DRV_INSTALL=0"})},
        {"configuration cancelled",
         Driver("Install=2\nQueryConfigure=1\nConfigure=0\n", 7),
         {},
         Opened({"DRV_INSTALL=2", "DRV_QUERYCONFIGURE=1", "DRV_CONFIGURE=0"})},
        {"driver cannot be loaded",
         Driver("Install=1\n", 7),
         {{"OpenDriver", "TONEBAY"}},
         {"OpenDriver"}},
        {"driver refuses to load", Driver("Load=0\n", 7), {}, {"OpenDriver", "DRV_LOAD=0"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image;
        FromSample(image, "nt40");
        image.File("A:\\TONEBAY.INI", row.driver);

        ChildResult result = RunSetup(image, "/answers:A:\\ANSWERS.INI", row.faults);
        ASSERT_EQ(result.report["exit_code"], SETUP_EXIT_FAILED) << result.output;
        EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 100, 5000}));
        EXPECT_TRUE(result.report["message_boxes"].empty());
        EXPECT_EQ(DriverMessages(result.report), row.messages);
        EXPECT_TRUE(result.report["open_handles"].empty());
        // Nothing was registered.
        EXPECT_EQ(result.after->Reg().Value(kVersionKey + "\\Drivers32", "wave"), nullptr);
        EXPECT_EQ(result.after->Reg().Find(kResourcesKey + "\\TONEBAY.DLL<0000>"), nullptr);
    }
}

TEST(DriverRegistration, FailedRegistrationShowsDialog900AndEnds) {
    struct Row {
        const char* name;
        Faults faults;
        bool listsWritten;
    };
    const Row rows[] = {
        {"driver list cannot be created", {{"RegCreateKeyExA", "drivers.desc"}}, false},
        {"driver list value cannot be written", {{"RegSetValueExA", "aux1"}}, true},
        {"current instrument cannot be written", {{"RegSetValueExA", "CurrentInstrument"}}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image;
        FromSample(image, "nt40");

        ChildResult result = RunSetup(image, "/answers:A:\\ANSWERS.INI", row.faults);
        ASSERT_EQ(result.report["exit_code"], SETUP_EXIT_FAILED) << result.output;
        EXPECT_EQ(DialogIds(result.report), (std::vector<int>{5100, 100, 5000, 900}));
        EXPECT_EQ(result.report["dialogs"][3]["procedure"], "FInfoDlgProc");
        EXPECT_TRUE(result.report["message_boxes"].empty());
        EXPECT_TRUE(result.report["open_handles"].empty());
        EXPECT_EQ(DriverMessages(result.report), Opened({"DRV_INSTALL=1"}));
        // What was written before the failure stays.
        EXPECT_NE(result.after->Reg().Value(kVersionKey + "\\Drivers32", "mixer"), nullptr);
        EXPECT_EQ(result.after->Reg().Value(kVersionKey + "\\drivers.desc", "TONEBAY.DLL") !=
                      nullptr,
                  row.listsWritten);
    }
}

} // namespace
