// The whole life of the driver on a machine: installed, Windows restarted, removed, restarted,
// installed again; and every other way a removal ends, each leaving the machine as it was.
#include "support/test_machine.h"

#include "winemu/restart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using testsupport::BoxTexts;
using testsupport::ChildResult;
using testsupport::DialogIds;
using testsupport::ExitCode;
using testsupport::FromSample;
using testsupport::RunSetup;
using testsupport::TestImage;
using testsupport::UseAnswers;

// What a run may change on an image: its registry, as the registry's own text, and the files of
// its drives.
struct ImageState {
    std::string registry;
    std::vector<std::string> files;
};

ImageState StateOf(const TestImage& image) {
    ImageState state;
    std::unique_ptr<winemu::Machine> machine = image.Boot();
    state.registry = machine->Reg().ToRegText();
    for (const auto& entry : fs::recursive_directory_iterator(image.Dir() / "drives"))
        state.files.push_back(fs::relative(entry.path(), image.Dir()).generic_string());
    std::sort(state.files.begin(), state.files.end());
    return state;
}

const char* const kUndoRecord = "C:\\WINNT\\system32\\SNDUNDO.LOG";

class Lifecycle : public ::testing::TestWithParam<const char*> {};

// Install, remove, install again: the removal leaves the registry value for value and byte for
// byte, and the drives file for file, as they were before the install.
TEST_P(Lifecycle, RemovalLeavesTheMachineAsBeforeTheInstall) {
    TestImage image;
    FromSample(image, GetParam());
    image.File("A:\\REMOVE.INI", "[Answers]\n800=REMOVE\n");
    const ImageState before = StateOf(image);

    // What a restart of Windows does to the image between the runs.
    auto restart = [&image] {
        std::unique_ptr<winemu::Machine> machine = image.Boot();
        winemu::RestartMachine(*machine);
        machine->SaveRegistry();
        winemu::SaveDevicesFound(*machine);
    };
    ChildResult install = RunSetup(image, "/answers:A:\\ANSWERS.INI");
    ASSERT_EQ(ExitCode(install), 0u);
    ASSERT_NE(StateOf(image).registry, before.registry);
    restart();
    // The board's driver now gives the machine its devices: setup refuses, as it must.
    ChildResult refused = RunSetup(image, "/answers:A:\\ANSWERS.INI");
    EXPECT_EQ(DialogIds(refused.report), (std::vector<int>{5100, 600}));

    ChildResult removal = RunSetup(image, "/remove /answers:A:\\REMOVE.INI");
    EXPECT_EQ(ExitCode(removal), 0u);
    EXPECT_EQ(DialogIds(removal.report), std::vector<int>{800});
    std::vector<std::string> messages;
    for (const auto& message : removal.report["driver_messages"])
        messages.push_back(message.value("message", message.value("call", "")));
    EXPECT_NE(std::find(messages.begin(), messages.end(), "DRV_REMOVE"), messages.end());
    restart();
    // The device installer makes Enum\ROOT for the modem: every Windows NT has it, the sample
    // image leaves it out, and removing the device leaves it, as Windows does.
    std::unique_ptr<winemu::Machine> after = image.Boot();
    if (before.registry.find("CurrentControlSet\\Enum]") == std::string::npos) {
        const char* szEnum = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum";
        if (winemu::RegKey* root = after->Reg().Find(std::string(szEnum) + "\\ROOT");
            root && root->subkeys.empty() && after->Reg().Find(szEnum)->subkeys.size() == 1)
            after->Reg().Delete(szEnum);
    }
    EXPECT_EQ(after->Reg().ToRegText(), before.registry);
    EXPECT_EQ(StateOf(image).files, before.files);

    ChildResult again = RunSetup(image, "/answers:A:\\ANSWERS.INI");
    EXPECT_EQ(ExitCode(again), 0u);
    EXPECT_EQ(DialogIds(again.report), DialogIds(install.report));
}

INSTANTIATE_TEST_SUITE_P(Samples, Lifecycle, ::testing::Values("nt40", "nt351", "nt40-modem"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// The other ends of a removal on an installed nt40 (or a fresh one): its exit code, the box it
// shows; each leaves the machine as it found it.
TEST(SetupFlow, RemovalEndings) {
    struct Row {
        const char* name;
        bool install;
        std::function<void(TestImage&)> change; // after the install
        const char* answers;
        UINT exitCode;
        const char* box; // part of the one message box, or null for none
    };
    auto record = [](std::string text) {
        return [text](TestImage& image) { image.File(kUndoRecord, text); };
    };
    const std::string kHeader = "SNDSTF undo record, version 1\r\n";
    const Row rows[] = {
        {"declined", true, nullptr, "800=CANCEL\n", 1602, nullptr},
        {"nothing installed", false, nullptr, "800=REMOVE\n", 1605, "is not installed"},
        {"damaged record", true, record(kHeader + "value\tHKEY_LOCAL_MACHINE\\SOFTWARE\tx\r\n"),
         "800=REMOVE\n", 1603, "line 2 is damaged"},
        {"truncated record", true, record(kHeader + "file\tC:\\WINNT\\system32\\TONEBAY.DLL"),
         "800=REMOVE\n", 1603, "cut short"},
        {"newer record", true, record("SNDSTF undo record, version 2\r\n"), "800=REMOVE\n", 1603,
         "newer setup"},
        {"file outside Windows", true,
         record(kHeader +
                "file\tC:\\WINNT\\system32\\TONEBAY.DLL\t-\r\nfile\tC:\\AUTOEXEC.BAT\t-\r\n"),
         "800=REMOVE\n", 1603, "line 3 names a file outside"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image;
        FromSample(image, "nt40");
        if (row.install) {
            ASSERT_EQ(ExitCode(RunSetup(image, "/answers:A:\\ANSWERS.INI")), 0u);
        }
        if (row.change)
            row.change(image);
        const ImageState installed = StateOf(image);
        ChildResult removal = RunSetup(image, UseAnswers(image, row.answers) + " /remove");
        EXPECT_EQ(ExitCode(removal), row.exitCode);
        std::vector<std::string> boxes = BoxTexts(removal.report);
        EXPECT_EQ(boxes.size(), row.box ? 1u : 0u);
        if (row.box && !boxes.empty()) {
            EXPECT_NE(boxes[0].find(row.box), std::string::npos) << boxes[0];
        }
        ImageState now = StateOf(image);
        EXPECT_EQ(now.registry, installed.registry);
        EXPECT_EQ(now.files, installed.files);
    }
}

// Without a record only the driver's own entries go: another driver's in the same lists stay.
// A value changed since the install is left alone, and the log says so.
TEST(SetupFlow, RemovalKeepsWhatIsNotSetups) {
    TestImage image;
    FromSample(image, "nt40");
    ASSERT_EQ(ExitCode(RunSetup(image, "/answers:A:\\ANSWERS.INI")), 0u);
    // The record: its first line, then each change with the bytes before it and those written;
    // the user's instrument was an empty text, and is now the 20 bytes of the FM synthesizer.
    const std::string recorded = image.Read(kUndoRecord);
    EXPECT_EQ(recorded.rfind("SNDSTF undo record, version 1\r\n", 0), 0u);
    EXPECT_NE(recorded.find("\r\nvalue\tHKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\"
                            "CurrentVersion\\Multimedia\\MIDIMap\tCurrentInstrument\t1:00\t1:54,"
                            "4f,4e,45,42,41,59,2e,44,4c,4c,3c,30,30,30,30,3e,00,00,00\r\n"),
              std::string::npos);
    EXPECT_NE(recorded.find("\r\nfile\tC:\\WINNT\\SYSTEM32\\TONEBAY.DLL\t-\r\n"),
              std::string::npos);
    const char* szMidiMap =
        "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Multimedia\\MIDIMap";
    const char* szDrivers32 = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
    {
        std::unique_ptr<winemu::Machine> machine = image.Boot();
        machine->Reg().SetString(szMidiMap, "CurrentInstrument", "Mine");
        machine->SaveRegistry();
    }
    ChildResult removal =
        RunSetup(image, UseAnswers(image, "800=REMOVE\n") + " /remove /log:C:\\REMOVE.LOG");
    EXPECT_EQ(ExitCode(removal), 0u);
    EXPECT_EQ(removal.after->Reg().GetString(szMidiMap, "CurrentInstrument"), "Mine");
    EXPECT_NE(image.Read("C:\\REMOVE.LOG").find("left alone \"CurrentInstrument\""),
              std::string::npos);

    ASSERT_EQ(ExitCode(RunSetup(image, "/answers:A:\\ANSWERS.INI")), 0u);
    fs::remove(image.HostPath(kUndoRecord));
    ChildResult byName = RunSetup(image, UseAnswers(image, "800=REMOVE\n") + " /remove");
    EXPECT_EQ(ExitCode(byName), 0u);
    EXPECT_FALSE(byName.after->Reg().GetString(szDrivers32, "wave"));
    EXPECT_EQ(byName.after->Reg().GetString(szDrivers32, "wave1"), "MMDRV.DLL");
    EXPECT_FALSE(image.Exists("C:\\WINNT\\system32\\TONEBAY.DLL"));
    EXPECT_TRUE(image.Exists("C:\\WINNT\\system32\\mmdrv.dll"));
}

// Without a record the modem goes by its hardware ID, with its class subkey; the serial port's
// settings, which cannot be told from an earlier setting, stay.
TEST(SetupFlow, RemovalByNameTakesTheBoardsModem) {
    TestImage image;
    FromSample(image, "nt40-modem");
    ASSERT_EQ(ExitCode(RunSetup(image, "/answers:A:\\ANSWERS.INI")), 0u);
    fs::remove(image.HostPath(kUndoRecord));
    ChildResult removal = RunSetup(image, UseAnswers(image, "800=REMOVE\n") + " /remove");
    EXPECT_EQ(ExitCode(removal), 0u);
    winemu::Registry& reg = removal.after->Reg();
    EXPECT_EQ(reg.Find("HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\QVMDM_0001"), nullptr);
    EXPECT_EQ(reg.Find("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                       "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000"),
              nullptr);
    EXPECT_EQ(
        reg.GetString("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", "COM2:"),
        "57600,n,8,1");
}

} // namespace
