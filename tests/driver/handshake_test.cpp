// The driver's install handshake: which messages the driver gets for each of its answers, what
// setup returns, and that the driver is closed on every path.
#include "driver/driver.h"
#include "support/test_machine.h"

#include <mmsystem.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ActiveMachine;
using testsupport::TestImage;

constexpr const char* kSystemDir = "C:\\WINNT\\system32";

// A machine whose system directory holds the driver and its settings, made current as setup
// does.
struct DriverMachine {
    TestImage image;
    std::unique_ptr<ActiveMachine> active;

    explicit DriverMachine(const std::string& driverIni) {
        image.Folder(kSystemDir);
        if (!driverIni.empty()) {
            image.File(std::string(kSystemDir) + "\\TONEBAY.DLL", "driver");
            image.File(std::string(kSystemDir) + "\\TONEBAY.INI", driverIni);
        }
        active = std::make_unique<ActiveMachine>(image);
        M().CurrentDirectory() = kSystemDir;
    }
    winemu::Machine& M() { return active->M(); }

    std::vector<std::string> Messages() {
        std::vector<std::string> names;
        // The handshake's own messages, without those that opening and closing send.
        for (const auto& entry : M().Report()["driver_messages"]) {
            std::string name = entry.value("message", "");
            if (name == "DRV_INSTALL" || name == "DRV_QUERYCONFIGURE" || name == "DRV_CONFIGURE")
                names.push_back(name);
        }
        return names;
    }
};

struct HandshakeRow {
    const char* name;
    const char* driverSection; // the [Driver] lines
    LRESULT result;
    std::vector<std::string> messages;
};

const HandshakeRow kHandshakes[] = {
    {"installed", "Install=1\n", 1, {"DRV_INSTALL"}},
    {"restart, not configurable",
     "Install=2\nQueryConfigure=0\n",
     2,
     {"DRV_INSTALL", "DRV_QUERYCONFIGURE"}},
    {"restart, configured",
     "Install=2\nQueryConfigure=1\nConfigure=1\n",
     1,
     {"DRV_INSTALL", "DRV_QUERYCONFIGURE", "DRV_CONFIGURE"}},
    {"restart, configuration cancelled",
     "Install=2\nQueryConfigure=1\nConfigure=0\n",
     0,
     {"DRV_INSTALL", "DRV_QUERYCONFIGURE", "DRV_CONFIGURE"}},
    {"restart, configured with restart",
     "Install=2\nQueryConfigure=7\nConfigure=2\n",
     2,
     {"DRV_INSTALL", "DRV_QUERYCONFIGURE", "DRV_CONFIGURE"}},
    {"installation cancelled", "Install=0\nQueryConfigure=1\n", 0, {"DRV_INSTALL"}},
    {"other answer", "Install=3\nQueryConfigure=1\n", 3, {"DRV_INSTALL"}},
    {"configurable but no restart", "Install=1\nQueryConfigure=1\n", 1, {"DRV_INSTALL"}},
    {"defaults", "", 1, {"DRV_INSTALL"}},
};

TEST(LInstallDriver, EachAnswerSequence) {
    for (const HandshakeRow& row : kHandshakes) {
        SCOPED_TRACE(row.name);
        DriverMachine machine(std::string("[Driver]\n") + row.driverSection);

        EXPECT_EQ(LInstallDriver(), row.result);
        EXPECT_EQ(machine.Messages(), row.messages);
        EXPECT_EQ(machine.M().Objects().CountOpen(winemu::HandleKind::Driver), 0u);
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

TEST(LInstallDriver, SendsAnEmptyConfigurationRecordWithInstallAndConfigure) {
    DriverMachine machine("[Driver]\nInstall=2\nQueryConfigure=1\nConfigure=1\n");

    ASSERT_EQ(LInstallDriver(), 1);

    // Opened by its file name with no section and no parameter, closed with none.
    const auto& messages = machine.M().Report()["driver_messages"];
    ASSERT_EQ(messages.size(), 11u); // a call and three messages on each side of the three
    EXPECT_EQ(messages[0], nlohmann::json({{"call", "OpenDriver"},
                                           {"driver", "TONEBAY.DLL"},
                                           {"section", nullptr},
                                           {"lparam2", 0},
                                           {"opened", true}}));
    EXPECT_EQ(
        messages[7],
        nlohmann::json(
            {{"call", "CloseDriver"}, {"driver", "TONEBAY.DLL"}, {"lparam1", 0}, {"lparam2", 0}}));
    EXPECT_EQ(machine.Messages(),
              (std::vector<std::string>{"DRV_INSTALL", "DRV_QUERYCONFIGURE", "DRV_CONFIGURE"}));
    for (size_t i = 4; i < 7; ++i) {
        const auto& entry = messages[i];
        SCOPED_TRACE(entry.dump());
        EXPECT_EQ(entry.at("driver"), "TONEBAY.DLL");
        if (entry.at("message") == "DRV_QUERYCONFIGURE") {
            EXPECT_FALSE(entry.contains("config"));
            continue;
        }
        EXPECT_EQ(entry.at("lparam1"), 0);
        ASSERT_TRUE(entry.at("config").is_object());
        EXPECT_EQ(entry.at("config").at("size"), sizeof(DRVCONFIGINFO));
        EXPECT_EQ(entry.at("config").at("section_null"), true);
        EXPECT_EQ(entry.at("config").at("alias_null"), true);
    }
}

TEST(LInstallDriver, DriverThatCannotBeOpenedGivesZeroAndNoMessage) {
    struct Row {
        const char* name;
        const char* driverIni; // "" : no file
        const char* fault;     // OpenDriver fault text, or null
    };
    const Row rows[] = {
        {"file missing", "", nullptr},
        {"load failure", "[Driver]\nInstall=1\n", "TONEBAY"},
        {"the driver refuses to load", "[Driver]\nLoad=0\n", nullptr},
        {"the driver refuses to open", "[Driver]\nOpen=0\n", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DriverMachine machine(row.driverIni);
        if (row.fault != nullptr)
            machine.M().Fault().Add("OpenDriver", row.fault);

        EXPECT_EQ(LInstallDriver(), 0);
        EXPECT_TRUE(machine.Messages().empty());
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

TEST(LInstallDriver, FailedMessageCountsAsCancelAndTheDriverIsStillClosed) {
    DriverMachine machine("[Driver]\nInstall=2\nQueryConfigure=1\nConfigure=1\n");
    machine.M().Fault().Add("SendDriverMessage", "DRV_QUERYCONFIGURE");

    // The driver cannot say it is configurable: its restart answer stands.
    EXPECT_EQ(LInstallDriver(), 2);
    EXPECT_EQ(machine.Messages(), (std::vector<std::string>{"DRV_INSTALL", "DRV_QUERYCONFIGURE"}));
    EXPECT_EQ(machine.M().Fault().Calls("CloseDriver"), 1);
    EXPECT_TRUE(machine.M().Objects().Leaks().empty());
}

TEST(LInstallDriver, TheDriverStoresItsParametersBeforeSetupReadsThem) {
    DriverMachine machine("[Driver]\nInstall=1\n[Parameters]\nCurrentProduct=12\nCOMOption=3\n");

    ASSERT_EQ(LInstallDriver(), 1);

    const std::string key = "HKLM\\" SZ_DRIVER_PARAMETERS_KEY;
    EXPECT_EQ(machine.M().Reg().GetDword(key, "CurrentProduct"), 12u);
    EXPECT_EQ(machine.M().Reg().GetDword(key, "COMOption"), 3u);
}

} // namespace
