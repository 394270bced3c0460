// The emulated installable drivers: where OpenDriver finds a driver, what a driver description
// answers and stores, handle tracking, faults and the report.
#include "support/test_machine.h"

#include <mmsystem.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ActiveMachine;
using testsupport::TestImage;

const WCHAR kTonebay[] = {'T', 'O', 'N', 'E', 'B', 'A', 'Y', '.', 'D', 'L', 'L', 0};
const std::string kParameters =
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\TONEBAY\\Parameters\\Device0";

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

std::string Driver(int install) {
    return "[Driver]\nInstall=" + std::to_string(install) + "\n";
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
            image.File("A:\\TONEBAY.DLL", Driver(14));
        if (row.inCurrent)
            image.File("C:\\WORK\\TONEBAY.DLL", Driver(11));
        if (row.inSystem)
            image.File("C:\\WINNT\\system32\\tonebay.dll", Driver(12)); // names match in any case
        if (row.inWindows)
            image.File("C:\\WINNT\\TONEBAY.DLL", Driver(13));
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
    image.File("C:\\WINNT\\system32\\QVSOUND.DRV", Driver(21));
    image.File("C:\\WINNT\\system32\\TONEBAY.DLL", Driver(22));
    image.Registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"
                   "Drivers32]\n\"tonebay.dll\"=\"QVSOUND.DRV\"\n");
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
        const char* contents; // null: no file
        const char* fault;
    };
    const Row rows[] = {
        {"missing", nullptr, nullptr},
        {"no [Driver] section", "[Parameters]\nCurrentProduct=7\n", nullptr},
        {"binary", "MZ\x90\x00\x03", nullptr},
        {"fault on the name", "[Driver]\n", "tonebay.dll"},
        {"fault on every call", "[Driver]\n", "*"},
        {"refuses to load", "[Driver]\nLoad=0\n", nullptr},
        {"refuses to open", "[Driver]\nOpen=0\n", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestImage image;
        if (row.contents != nullptr)
            image.File("A:\\TONEBAY.DLL", row.contents);
        ActiveMachine machine(image);
        if (row.fault != nullptr)
            machine.M().Fault().Add("OpenDriver", row.fault);

        EXPECT_EQ(OpenDriver(kTonebay, nullptr, 0), nullptr);
        EXPECT_EQ(machine.M().Objects().CountOpen(winemu::HandleKind::Driver), 0u);
        EXPECT_EQ(machine.M().Fault().Calls("OpenDriver"), 1);
    }
}

TEST(OpenDriver, AnOpenDriverIsAHandleUntilClosed) {
    TestImage image;
    image.File("A:\\TONEBAY.DLL", Driver(1));
    ActiveMachine machine(image);

    HDRVR hdrvr = OpenDriver(kTonebay, nullptr, 0);
    ASSERT_NE(hdrvr, nullptr);
    EXPECT_EQ(machine.M().Objects().Leaks(), std::vector<std::string>{"driver TONEBAY.DLL"});

    EXPECT_EQ(CloseDriver(hdrvr, 0, 0), 1);
    EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    // A closed driver takes no more messages.
    EXPECT_EQ(SendDriverMessage(hdrvr, DRV_INSTALL, 0, 0), 0);
    EXPECT_EQ(CloseDriver(hdrvr, 0, 0), 0);
    EXPECT_EQ(MessageNames(machine.M()),
              (std::vector<std::string>{"OpenDriver", "DRV_LOAD", "DRV_ENABLE", "DRV_OPEN",
                                        "CloseDriver", "DRV_CLOSE", "DRV_DISABLE", "DRV_FREE"}));
}

TEST(OpenDriver, ARefusedOpenUnloadsTheDriver) {
    TestImage image;
    image.File("A:\\TONEBAY.DLL", "[Driver]\nOpen=0\n");
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
    image.File("A:\\TONEBAY.DLL", Driver(1));
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

    explicit OpenTonebay(const std::string& description) {
        image.File("A:\\TONEBAY.DLL", description);
        active = std::make_unique<ActiveMachine>(image);
        hdrvr = OpenDriver(kTonebay, nullptr, 0);
    }
    ~OpenTonebay() {
        if (hdrvr != nullptr)
            CloseDriver(hdrvr, 0, 0);
    }
    winemu::Machine& M() { return active->M(); }
};

TEST(SendDriverMessage, AnswersFromTheDescriptionWithDefaults) {
    struct Row {
        const char* name;
        const char* description;
        LRESULT install, query, configure;
    };
    const Row rows[] = {
        {"defaults", "[Driver]\n", 1, 0, 1},
        {"all given", "[driver]\ninstall=2\nQUERYCONFIGURE=1\nConfigure=0\n", 2, 1, 0},
        {"comments and spaces",
         "; sample\n[Driver]   ; answers\n  Install = 2   ; restart\nQueryConfigure=1 ;yes\n", 2, 1,
         1},
        {"negative", "[Driver]\nInstall=-1\n", -1, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OpenTonebay driver(row.description);
        ASSERT_NE(driver.hdrvr, nullptr);
        EXPECT_EQ(SendDriverMessage(driver.hdrvr, DRV_INSTALL, 0, 0), row.install);
        EXPECT_EQ(SendDriverMessage(driver.hdrvr, DRV_QUERYCONFIGURE, 0, 0), row.query);
        EXPECT_EQ(SendDriverMessage(driver.hdrvr, DRV_CONFIGURE, 0, 0), row.configure);
    }
}

TEST(SendDriverMessage, OtherMessagesAreAnsweredAsDefDriverProcWould) {
    OpenTonebay driver("[Driver]\nInstall=0\n");
    ASSERT_NE(driver.hdrvr, nullptr);
    const UINT messages[] = {DRV_LOAD,    DRV_ENABLE, DRV_OPEN,   DRV_CLOSE,
                             DRV_DISABLE, DRV_FREE,   DRV_REMOVE, 0x4000};
    for (UINT message : messages) {
        SCOPED_TRACE(message);
        EXPECT_EQ(SendDriverMessage(driver.hdrvr, message, 0, 0),
                  DefDriverProc(0, driver.hdrvr, message, 0, 0));
    }
}

TEST(SendDriverMessage, InstallAndConfigureStoreTheParameters) {
    struct Row {
        const char* name;
        std::string driverSection;
        UINT message;
        bool stored;
    };
    const Row rows[] = {
        {"install accepted", "Install=2\n", DRV_INSTALL, true},
        {"install cancelled", "Install=0\n", DRV_INSTALL, false},
        {"configure accepted", "Configure=1\n", DRV_CONFIGURE, true},
        {"configure cancelled", "Configure=0\n", DRV_CONFIGURE, false},
        {"query", "QueryConfigure=1\n", DRV_QUERYCONFIGURE, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OpenTonebay driver("[Driver]\n" + row.driverSection +
                           "[Parameters]   ; REG_DWORDs\nCurrentProduct=12\nCOMOption=0x3\n");
        ASSERT_NE(driver.hdrvr, nullptr);
        SendDriverMessage(driver.hdrvr, row.message, 0, 0);

        if (row.stored) {
            EXPECT_EQ(driver.M().Reg().GetDword(kParameters, "CurrentProduct"), 12u);
            EXPECT_EQ(driver.M().Reg().GetDword(kParameters, "COMOption"), 3u);
        } else {
            EXPECT_EQ(driver.M().Reg().Find(kParameters), nullptr);
        }
    }

    // The driver writes through the registry functions: the machine's faults reach it.
    OpenTonebay driver("[Driver]\n[Parameters]\nCurrentProduct=12\nCOMOption=3\n");
    ASSERT_NE(driver.hdrvr, nullptr);
    driver.M().Fault().Add("RegSetValueExA", "COMOption");
    SendDriverMessage(driver.hdrvr, DRV_INSTALL, 0, 0);
    EXPECT_EQ(driver.M().Reg().GetDword(kParameters, "CurrentProduct"), 12u);
    EXPECT_EQ(driver.M().Reg().Value(kParameters, "COMOption"), nullptr);
    EXPECT_EQ(driver.M().Objects().CountOpen(winemu::HandleKind::RegistryKey), 0u);
}

TEST(SendDriverMessage, ServiceKeyIsNamedAfterTheFilesBaseName) {
    TestImage image;
    image.File("C:\\DRV\\QVSOUND.DRV", "[Driver]\n[Parameters]\nCurrentProduct=8\n");
    ActiveMachine machine(image);
    const std::u16string name = Wide("C:\\DRV\\QVSOUND.DRV");

    HDRVR hdrvr = OpenDriver(name.c_str(), nullptr, 0);
    ASSERT_NE(hdrvr, nullptr);
    EXPECT_EQ(InstallAnswer(hdrvr), 1);
    EXPECT_EQ(machine.M().Reg().GetDword(
                  "HKLM\\SYSTEM\\CurrentControlSet\\Services\\QVSOUND\\Parameters\\Device0",
                  "CurrentProduct"),
              8u);
    EXPECT_EQ(machine.M().Report()["driver_messages"][1]["driver"], "QVSOUND.DRV");
}

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
