// The emulated installable drivers: where OpenDriver finds a driver and loads it, handle
// tracking, faults and the report. What the sample driver answers and stores is tested beside it
// (tests/tonebay).
#include "support/test_machine.h"

#include <mmsystem.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ActiveMachine;
using testsupport::TestImage;

const WCHAR kTonebay[] = {'T', 'O', 'N', 'E', 'B', 'A', 'Y', '.', 'D', 'L', 'L', 0};

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// The calls and messages in the report, in order.
std::vector<std::string> MessageNames(winemu::Machine& machine) {
    std::vector<std::string> names;
    for (const auto& entry : machine.Report()["driver_messages"])
        names.push_back(entry.value("call", entry.value("message", std::string())));
    return names;
}

// The sample driver in a folder, answering DRV_INSTALL with install.
void PutDriver(TestImage& image, const std::string& folder, int install,
               const char* fileName = "TONEBAY.DLL") {
    image.File(folder + "\\" + fileName, "driver");
    image.File(folder + "\\TONEBAY.INI", "[Driver]\nInstall=" + std::to_string(install) + "\n");
}

// Sends DRV_INSTALL with an empty record and closes the driver: the driver's install answer.
LRESULT InstallAnswer(HDRVR hdrvr) {
    DRVCONFIGINFO dci = {sizeof(DRVCONFIGINFO), nullptr, nullptr};
    LRESULT answer = SendDriverMessage(hdrvr, DRV_INSTALL, 0, reinterpret_cast<LPARAM>(&dci));
    CloseDriver(hdrvr, 0, 0);
    return answer;
}

TEST(OpenDriver, LooksWhereLoadLibraryLooks) {
    struct Row {
        const char* name;
        bool inProgram, inCurrent, inSystem, inWindows;
        LRESULT answer; // the Install= of the copy found; 0: none found
    };
    // Each copy answers differently: the program's folder (the install disk, where setup was
    // started) 14, current 11, system 12, Windows 13.
    const Row rows[] = {
        {"all four", true, true, true, true, 14},
        {"all but the program's folder", false, true, true, true, 11},
        {"system and Windows", false, false, true, true, 12},
        {"Windows only", false, false, false, true, 13},
        {"nowhere", false, false, false, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image;
        image.Folder("A:\\").Folder("C:\\WINNT\\system32").Folder("C:\\WORK");
        if (row.inProgram)
            PutDriver(image, "A:", 14);
        if (row.inCurrent)
            PutDriver(image, "C:\\WORK", 11);
        if (row.inSystem)
            PutDriver(image, "C:\\WINNT\\system32", 12, "tonebay.dll"); // in any case
        if (row.inWindows)
            PutDriver(image, "C:\\WINNT", 13);
        ActiveMachine machine(image);
        machine.M().CurrentDirectory() = "C:\\WORK";

        HDRVR hdrvr = OpenDriver(kTonebay, nullptr, 0);
        if (row.answer == 0) {
            EXPECT_EQ(hdrvr, nullptr);
        } else {
            ASSERT_NE(hdrvr, nullptr);
            EXPECT_EQ(InstallAnswer(hdrvr), row.answer);
        }
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

// Without a section, a name that the Drivers32 key maps opens the file it maps to.
TEST(OpenDriver, ANameInDrivers32OpensItsFile) {
    TestImage image;
    PutDriver(image, "C:\\DRV", 21);
    PutDriver(image, "C:\\WINNT\\system32", 22);
    image.Registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"
                   "Drivers32]\n\"tonebay.dll\"=\"C:\\\\DRV\\\\TONEBAY.DLL\"\n");
    ActiveMachine machine(image);
    machine.M().CurrentDirectory() = "C:\\WINNT\\system32";

    HDRVR hdrvr = OpenDriver(kTonebay, nullptr, 0);
    ASSERT_NE(hdrvr, nullptr);
    EXPECT_EQ(InstallAnswer(hdrvr), 21);
    const WCHAR section[] = {'D', 'r', 'i', 'v', 'e', 'r', 's', 0};
    hdrvr = OpenDriver(kTonebay, section, 0);
    ASSERT_NE(hdrvr, nullptr);
    EXPECT_EQ(InstallAnswer(hdrvr), 22);
}

TEST(OpenDriver, RefusesWhatIsNoDriver) {
    struct Row {
        const char* name;
        const char* file; // the file the name opens; null: none
        const char* ini;
        const char* fault;
    };
    const Row rows[] = {
        {"missing", nullptr, "", nullptr},
        {"a file that is no driver the machine knows", "A:\\QVSOUND.DRV", "", nullptr},
        {"fault on the name", "A:\\TONEBAY.DLL", "", "tonebay.dll"},
        {"fault on every call", "A:\\TONEBAY.DLL", "", "*"},
        {"refuses to load", "A:\\TONEBAY.DLL", "[Driver]\nLoad=0\n", nullptr},
        {"refuses to open", "A:\\TONEBAY.DLL", "[Driver]\nOpen=0\n", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image;
        image.File("A:\\TONEBAY.INI", row.ini);
        if (row.file != nullptr)
            image.File(row.file, "driver");
        ActiveMachine machine(image);
        if (row.fault != nullptr)
            machine.M().Fault().Add("OpenDriver", row.fault);

        const std::u16string name = Wide(row.file != nullptr ? row.file : "TONEBAY.DLL");
        EXPECT_EQ(OpenDriver(name.c_str(), nullptr, 0), nullptr);
        EXPECT_EQ(machine.M().Objects().CountOpen(winemu::HandleKind::Driver), 0u);
        EXPECT_EQ(machine.M().Objects().CountOpen(winemu::HandleKind::Module), 0u);
        EXPECT_EQ(machine.M().Fault().Calls("OpenDriver"), 1);
    }
}

TEST(OpenDriver, AnOpenDriverIsAHandleUntilClosed) {
    TestImage image;
    PutDriver(image, "A:", 1);
    ActiveMachine machine(image);

    HDRVR hdrvr = OpenDriver(kTonebay, nullptr, 0);
    ASSERT_NE(hdrvr, nullptr);
    EXPECT_EQ(machine.M().Objects().Leaks(), std::vector<std::string>{"driver TONEBAY.DLL"});
    // The driver's module is loaded once while it is open, and unloaded with its close.
    HDRVR second = OpenDriver(kTonebay, nullptr, 0);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(machine.M().Objects().CountOpen(winemu::HandleKind::Module), 1u);
    EXPECT_EQ(CloseDriver(second, 0, 0), 1);
    machine.M().Report()["driver_messages"].clear();

    EXPECT_EQ(CloseDriver(hdrvr, 0, 0), 1);
    EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    EXPECT_EQ(machine.M().Objects().CountOpen(winemu::HandleKind::Module), 0u);
    // A closed driver takes no more messages.
    EXPECT_EQ(SendDriverMessage(hdrvr, DRV_INSTALL, 0, 0), 0);
    EXPECT_EQ(CloseDriver(hdrvr, 0, 0), 0);
    EXPECT_EQ(MessageNames(machine.M()),
              (std::vector<std::string>{"CloseDriver", "DRV_CLOSE", "DRV_DISABLE", "DRV_FREE"}));
}

TEST(OpenDriver, ARefusedOpenUnloadsTheDriver) {
    TestImage image;
    image.File("A:\\TONEBAY.DLL", "driver").File("A:\\TONEBAY.INI", "[Driver]\nOpen=0\n");
    ActiveMachine machine(image);
    EXPECT_EQ(OpenDriver(kTonebay, nullptr, 7), nullptr);
    EXPECT_EQ(MessageNames(machine.M()),
              (std::vector<std::string>{"OpenDriver", "DRV_LOAD", "DRV_ENABLE", "DRV_OPEN",
                                        "DRV_DISABLE", "DRV_FREE"}));
    EXPECT_EQ(machine.M().Report()["driver_messages"][3]["lparam2"], 7);
    EXPECT_EQ(machine.M().Report()["driver_messages"][0]["opened"], false);
}

TEST(OpenDriver, FailedCloseLeavesTheDriverOpen) {
    TestImage image;
    PutDriver(image, "A:", 1);
    ActiveMachine machine(image);
    machine.M().Fault().Add("CloseDriver", "TONEBAY");

    HDRVR hdrvr = OpenDriver(kTonebay, nullptr, 0);
    ASSERT_NE(hdrvr, nullptr);
    EXPECT_EQ(CloseDriver(hdrvr, 0, 0), 0);
    EXPECT_EQ(machine.M().Objects().CountOpen(winemu::HandleKind::Driver), 1u);
}

// ---------------------------------------------------------------------------------------------
// Messages

struct OpenTonebay {
    TestImage image;
    std::unique_ptr<ActiveMachine> active;
    HDRVR hdrvr = nullptr;

    explicit OpenTonebay(const std::string& settings) {
        image.File("A:\\TONEBAY.DLL", "driver").File("A:\\TONEBAY.INI", settings);
        active = std::make_unique<ActiveMachine>(image);
        hdrvr = OpenDriver(kTonebay, nullptr, 0);
    }
    ~OpenTonebay() {
        if (hdrvr != nullptr)
            CloseDriver(hdrvr, 0, 0);
    }
    winemu::Machine& M() { return active->M(); }
};

TEST(SendDriverMessage, EachMessageIsReported) {
    OpenTonebay driver("[Driver]\nInstall=2\nQueryConfigure=1\n");
    ASSERT_NE(driver.hdrvr, nullptr);
    DRVCONFIGINFO dci = {sizeof(DRVCONFIGINFO), nullptr, nullptr};
    SendDriverMessage(driver.hdrvr, DRV_INSTALL, 0, reinterpret_cast<LPARAM>(&dci));
    SendDriverMessage(driver.hdrvr, DRV_QUERYCONFIGURE, 0, 0);
    driver.M().Fault().Add("SendDriverMessage", "DRV_CONFIGURE");
    EXPECT_EQ(SendDriverMessage(driver.hdrvr, DRV_CONFIGURE, 5, 0), 0);

    const nlohmann::json expected = nlohmann::json::parse(R"([
      {"call": "OpenDriver", "driver": "TONEBAY.DLL", "section": null, "lparam2": 0,
       "opened": true},
      {"driver": "TONEBAY.DLL", "message": "DRV_LOAD", "answer": 1, "lparam1": 0, "lparam2": 0},
      {"driver": "TONEBAY.DLL", "message": "DRV_ENABLE", "answer": 1, "lparam1": 0, "lparam2": 0},
      {"driver": "TONEBAY.DLL", "message": "DRV_OPEN", "answer": 1, "lparam1": 0, "lparam2": 0},
      {"driver": "TONEBAY.DLL", "message": "DRV_INSTALL", "answer": 2, "lparam1": 0,
       "config": {"size": )" + std::to_string(sizeof(DRVCONFIGINFO)) +
                                                          R"(, "section_null": true,
                  "alias_null": true}},
      {"driver": "TONEBAY.DLL", "message": "DRV_QUERYCONFIGURE", "answer": 1, "lparam1": 0,
       "lparam2": 0},
      {"driver": "TONEBAY.DLL", "message": "DRV_CONFIGURE", "answer": 0, "lparam1": 5,
       "config": null, "failed": true}
    ])");
    EXPECT_EQ(driver.M().Report()["driver_messages"], expected);
}

TEST(DefDriverProc, AnswersTheBasicMessages) {
    const std::pair<UINT, LRESULT> rows[] = {
        {DRV_LOAD, 1},
        {DRV_FREE, 1},
        {DRV_ENABLE, 1},
        {DRV_DISABLE, 1},
        {DRV_OPEN, 1},
        {DRV_CLOSE, 1},
        {DRV_QUERYCONFIGURE, 0},
        {DRV_INSTALL, DRVCNF_OK},
        {DRV_REMOVE, DRVCNF_OK},
        {DRV_CONFIGURE, 0},
        {0x0800, 0},
    };
    for (const auto& [message, answer] : rows)
        EXPECT_EQ(DefDriverProc(0, nullptr, message, 0, 0), answer) << message;
}

} // namespace
