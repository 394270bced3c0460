// The modem installation sequence: which models carry a modem and on which port, the modem INF
// path, and the message of each failed step.
#include "modem_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using modemtest::ModemMachine;

std::vector<std::string> BoxTexts(winemu::Machine& m) {
    std::vector<std::string> texts;
    for (const auto& box : m.Report().value("message_boxes", nlohmann::json::array())) {
        EXPECT_EQ(box["caption"], "Modem Installation");
        EXPECT_EQ(box["style"], 16);
        texts.push_back(box["text"].get<std::string>());
    }
    return texts;
}

// ---------------------------------------------------------------------------------------------
// The modem check

TEST(FCheckModem, ModemKeyOfTheCardSection) {
    struct Row {
        const char* modemLine; // "" for no key
        BOOL result;
    };
    const Row rows[] = {
        {"Modem=0\n", FALSE}, {"Modem=100\n", FALSE}, {"", FALSE},
        {"Modem=1\n", TRUE},  {"Modem=2\n", TRUE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.modemLine);
        std::string card =
            std::string("[Card12]\n") + row.modemLine + "[InfFile.Cards]\nCard12=QVMODEM.INF\n";
        ModemMachine machine(12, 2, card.c_str());
        machine.Boot();
        EXPECT_EQ(FCheckModem(), row.result);
        EXPECT_STREQ(szModemPortName, row.result ? "COM2" : "COM");
    }
}

TEST(FCheckModem, ComOptionChoosesThePort) {
    const char* expected[] = {nullptr, "COM1", "COM2", "COM3", "COM4", nullptr};
    for (int option = 0; option <= 5; ++option) {
        SCOPED_TRACE(option);
        ModemMachine machine(12, option);
        machine.Boot();
        EXPECT_EQ(FCheckModem(), expected[option] != nullptr);
        EXPECT_STREQ(szModemPortName, expected[option] ? expected[option] : "COM");
        // The INF name was read before the port was looked at.
        EXPECT_STREQ(szModemInfName, "QVMODEM.INF");
    }
}

TEST(FCheckModem, InfNameLength) {
    struct Row {
        const char* line; // the Card12 line of InfFile.Cards, "" for none
        BOOL result;
        const char* name;
    };
    const Row rows[] = {
        {"Card12=ABCDEFGHIJK.INF\n", TRUE, "ABCDEFGHIJK.INF"},                     // 15 characters
        {"Card12=ABCDEFGHIJKL.INF\n", FALSE, "ABCDEFGHIJKL.INF"},                  // 16
        {"Card12=ABCDEFGHIJKLMNOPQRSTUVWXYZ.INF\n", FALSE, "ABCDEFGHIJKLMNOPQRS"}, // cut to 19
        {"", TRUE, "0"}, // no line: the default name
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        std::string card = std::string("[Card12]\nModem=1\n[InfFile.Cards]\n") + row.line;
        ModemMachine machine(12, 3, card.c_str());
        machine.Boot();
        EXPECT_EQ(FCheckModem(), row.result);
        EXPECT_STREQ(szModemInfName, row.name);
    }
}

TEST(FCheckModem, UnreadableParametersMeanNoModem) {
    {
        ModemMachine machine;
        machine.Boot();
        machine.Reg().Delete(modemtest::kParametersKey);
        EXPECT_FALSE(FCheckModem());
    }
    {
        ModemMachine machine;
        machine.Boot();
        // Data longer than four bytes is as unreadable as a missing value.
        machine.Reg().Set(modemtest::kParametersKey, "CurrentProduct", REG_BINARY,
                          {12, 0, 0, 0, 0});
        EXPECT_FALSE(FCheckModem());
    }
    {
        ModemMachine machine;
        machine.Boot();
        machine.M().Fault().Add("RegQueryValueExA", "COMOption");
        EXPECT_FALSE(FCheckModem());
        EXPECT_STREQ(szModemPortName, "COM");
    }
    {
        // No card data file: "Modem" reads 100.
        ModemMachine machine(12, 2, nullptr);
        machine.Boot();
        EXPECT_FALSE(FCheckModem());
    }
}

TEST(FCheckModem, CardDataFileOfTheCurrentDirectoryComesFirst) {
    ModemMachine machine(12, 2, "[Card12]\nModem=0\n");
    machine.image.File("C:\\DISK\\QVHWCTL.DAT",
                       "[Card12]\nModem=1\n[InfFile.Cards]\nCard12=DISK.INF\n");
    machine.Boot();
    machine.M().CurrentDirectory() = "C:\\DISK";
    EXPECT_TRUE(FCheckModem());
    EXPECT_STREQ(szModemInfName, "DISK.INF");
}

// ---------------------------------------------------------------------------------------------
// The sequence

TEST(FInstallModem, InstallsTheModemQuietly) {
    ModemMachine machine;
    machine.Boot();
    EXPECT_TRUE(FInstallModem(nullptr));
    EXPECT_STREQ(szModemInfPath, "C:\\WINNT\\system32\\QVMODEM.INF");
    EXPECT_TRUE(BoxTexts(machine.M()).empty());
    EXPECT_EQ(machine.Reg().GetString(std::string(modemtest::kClassKey) + "0000", "AttachedTo"),
              "COM2");
    EXPECT_EQ(machine.Reg().GetString(modemtest::kPortsKey, "COM2:"), "57600,n,8,1");
    EXPECT_TRUE(machine.M().Objects().Leaks().empty());
}

TEST(FInstallModem, NoModemNoMessage) {
    ModemMachine machine(12, 0);
    machine.Boot();
    EXPECT_FALSE(FInstallModem(nullptr));
    EXPECT_TRUE(BoxTexts(machine.M()).empty());
    EXPECT_EQ(machine.M().Fault().Calls("SetupDiGetINFClassA"), 0);
}

TEST(FInstallModem, EachFailedStepHasItsMessage) {
    const std::string notInstalled =
        "Modem isn't installed correctly. You may install Modem by Control Panel.";
    struct Row {
        const char* what;
        const char* api;
        const char* rule;
        const char* inf; // null: the usual modem INF
        std::string message;
    };
    const std::string longSection(99, 'S');
    const std::string longInf = "[Manufacturer]\nMfg=" + longSection + "\n";
    const Row rows[] = {
        {"overlong model section", "", "", longInf.c_str(),
         "File error! Modem can't be installed."},
        {"class lookup", "SetupDiGetINFClassA", "*", nullptr, notInstalled},
        {"class installer", "SetupDiCallClassInstaller", "*", nullptr, notInstalled},
        {"modem class key", "RegOpenKeyExA", "{4D36E96D", nullptr, notInstalled},
        {"serial parameters key", "RegOpenKeyExA", "Serial\\Parameters", nullptr,
         "Please add COM2 by \"Ports\" in \"Control Panel\" after setup."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ModemMachine machine(12, 2, "[Card12]\nModem=1\n[InfFile.Cards]\nCard12=QVMODEM.INF\n",
                             row.inf ? row.inf : modemtest::kModemInf);
        machine.Boot();
        if (*row.api)
            machine.M().Fault().Add(row.api, row.rule);
        EXPECT_FALSE(FInstallModem(nullptr));
        EXPECT_EQ(BoxTexts(machine.M()), std::vector<std::string>{row.message});
        EXPECT_TRUE(machine.M().Objects().Leaks().empty());
    }
}

TEST(FInstallModem, SerialMessageNamesTheModemPort) {
    ModemMachine machine(12, 4);
    machine.Boot();
    machine.M().Fault().Add("RegQueryInfoKeyA", "*");
    EXPECT_FALSE(FInstallModem(nullptr));
    EXPECT_EQ(
        BoxTexts(machine.M()),
        std::vector<std::string>{"Please add COM4 by \"Ports\" in \"Control Panel\" after setup."});
}

// A directory that leaves no room for "\" and a 15-character INF name is passed over.
TEST(FInstallModem, OverlongCurrentDirectoryIsPassedOver) {
    for (size_t cchDir : {283u, 284u, 400u}) {
        SCOPED_TRACE(cchDir);
        ModemMachine machine(12, 0);
        machine.Boot();
        std::string dir = "C:\\" + std::string(140, 'a') + "\\";
        dir += std::string(cchDir - dir.size(), 'b');
        machine.M().CurrentDirectory() = dir;
        EXPECT_FALSE(FInstallModem(nullptr));
        std::string expected = (cchDir <= 283 ? dir : std::string("C:\\WINNT\\system32")) + "\\";
        EXPECT_EQ(std::string(szModemInfPath), expected);
    }
}

} // namespace
