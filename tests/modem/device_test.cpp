// The modem device installation: what goes to the device installer, what it installs, and
// that every way out destroys the device list exactly once.
#include "modem_machine.h"
#include "winemu/setupapi_trace.h"

#include <gtest/gtest.h>

#include <setupapi.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using modemtest::ModemMachine;
using winemu::setupapi::CurrentTrace;

const HWND kFrame = reinterpret_cast<HWND>(0x1234);

struct DeviceMachine : ModemMachine {
    explicit DeviceMachine(const char* inf = modemtest::kModemInf)
        : ModemMachine(12, 2, nullptr, inf) {}
    DeviceMachine& Start(const char* hardwareId = "QVMDM_0001") {
        Boot();
        winemu::setupapi::ResetTrace();
        std::strcpy(szModemInfPath, "C:\\WINNT\\system32\\QVMODEM.INF");
        std::strcpy(szHardwareId, hardwareId);
        std::strcpy(szDeviceDescription, "16-bit Sound Board 28.8 Modem");
        return *this;
    }
    size_t OpenLists() { return M().Objects().CountOpen(winemu::HandleKind::DeviceInfoList); }
};

TEST(FInstallModemDevice, InstallsTheModemUnderTheModemClass) {
    DeviceMachine machine;
    machine.Start();
    ASSERT_TRUE(FInstallModemDevice(kFrame));

    const std::string key = std::string(modemtest::kClassKey) + "0000";
    winemu::Registry& reg = machine.Reg();
    EXPECT_EQ(reg.GetString(key, "DriverDesc"), "16-bit Sound Board 28.8 Modem");
    EXPECT_EQ(reg.GetString(key, "InfPath"), "QVMODEM.INF");
    EXPECT_EQ(reg.GetString(key, "InfSection"), "Modem1Install");
    EXPECT_EQ(reg.GetString(key, "MatchingDeviceId"), "qvmdm_0001");
    EXPECT_EQ(reg.GetString(key, "ProviderName"), "Sound Board Modems");
    EXPECT_EQ(reg.GetString(key, "FriendlyDriver"), "Unimodem.vxd");
    EXPECT_EQ(reg.GetString(key + "\\Init", "1"), "AT<cr>");
    const winemu::RegValue* properties = reg.Value(key, "Properties");
    ASSERT_NE(properties, nullptr);
    EXPECT_EQ(properties->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(properties->data, (std::vector<BYTE>{0x80, 0x01, 0x00, 0x00}));

    char classGuid[40];
    std::snprintf(classGuid, sizeof classGuid, "%08X-%04X", (unsigned)guidModemClass.Data1,
                  guidModemClass.Data2);
    EXPECT_STREQ(classGuid, "4D36E96D-E325");
    EXPECT_STREQ(szModemClassName, "Modem");
    EXPECT_STREQ(szModemDriverKey, "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000");
    EXPECT_EQ(machine.OpenLists(), 0u);
    EXPECT_EQ(CurrentTrace().listsDestroyed, 1);
    // The device installer is loaded for this step only.
    EXPECT_EQ(machine.M().Fault().Calls("LoadLibraryA"), 1);
    EXPECT_EQ(machine.M().Objects().CountOpen(winemu::HandleKind::Module), 0u);

    const std::vector<std::string> calls = {
        "SetupDiGetINFClassA",
        "SetupDiCreateDeviceInfoList",
        "SetupDiCreateDeviceInfoA flags=0x1",
        "SetupDiSelectOEMDrv",
        "SetupDiRegisterDeviceInfo flags=0x1",
        "SetupDiGetDeviceInstallParamsA",
        "SetupDiSetDeviceInstallParamsA",
        "SetupDiGetSelectedDriverA",
        "SetupDiGetDriverInstallParamsA",
        "SetupDiSetDriverInstallParamsA",
        "SetupDiCallClassInstaller function=2",
        "SetupDiGetDeviceRegistryPropertyA property=9",
        "SetupDiDestroyDeviceInfoList",
    };
    EXPECT_EQ(CurrentTrace().calls, calls);
}

TEST(FInstallModemDevice, WithoutTheDriverKeyPropertyTheModemIsStillInstalled) {
    DeviceMachine machine;
    machine.Start();
    std::strcpy(szModemDriverKey, "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0007"); // earlier
    machine.M().Fault().Add("GetProcAddress", "SetupDiGetDeviceRegistryPropertyA");
    EXPECT_TRUE(FInstallModemDevice(kFrame));
    EXPECT_STREQ(szModemDriverKey, "");
    EXPECT_EQ(machine.M().Objects().CountOpen(winemu::HandleKind::Module), 0u);
}

TEST(FInstallModemDevice, AnotherModemKeepsItsSubkey) {
    DeviceMachine machine;
    machine.Start();
    const std::string existing = std::string(modemtest::kClassKey) + "0000";
    machine.Reg().SetString(existing, "DriverDesc", "Other modem");
    ASSERT_TRUE(FInstallModemDevice(kFrame));
    EXPECT_EQ(machine.Reg().GetString(existing, "DriverDesc"), "Other modem");
    EXPECT_EQ(machine.Reg().GetString(std::string(modemtest::kClassKey) + "0001", "DriverDesc"),
              "16-bit Sound Board 28.8 Modem");
}

TEST(FInstallModemDevice, InstallParametersGainOnlyTheModemBits) {
    DeviceMachine machine;
    machine.Start();
    CurrentTrace().extraDriverFlags = DNF_DUPDESC; // a bit the installer set on its own
    ASSERT_TRUE(FInstallModemDevice(kFrame));

    const auto& trace = CurrentTrace();
    ASSERT_EQ(trace.deviceParamsRead.size(), 1u);
    ASSERT_EQ(trace.deviceParamsWritten.size(), 1u);
    SP_DEVINSTALL_PARAMS_A expected = trace.deviceParamsRead[0];
    expected.hwndParent = kFrame;
    expected.Flags |= 0x1804001;
    expected.FlagsEx |= 0x200;
    const SP_DEVINSTALL_PARAMS_A& written = trace.deviceParamsWritten[0];
    EXPECT_EQ(written.cbSize, sizeof(SP_DEVINSTALL_PARAMS_A));
    EXPECT_EQ(written.Flags, expected.Flags);
    EXPECT_EQ(written.FlagsEx, expected.FlagsEx);
    // The installer had set bits of its own, which the modem's bits join.
    EXPECT_NE(trace.deviceParamsRead[0].Flags, 0u);
    EXPECT_EQ(std::memcmp(&written, &expected, sizeof expected), 0);

    ASSERT_EQ(trace.driverParamsRead.size(), 1u);
    ASSERT_EQ(trace.driverParamsWritten.size(), 1u);
    EXPECT_EQ(trace.driverParamsRead[0].Flags, static_cast<DWORD>(DNF_DUPDESC));
    EXPECT_EQ(trace.driverParamsWritten[0].cbSize, sizeof(SP_DRVINSTALL_PARAMS));
    EXPECT_EQ(trace.driverParamsWritten[0].Rank, 0u);
    EXPECT_EQ(trace.driverParamsWritten[0].Flags, static_cast<DWORD>(DNF_DUPDESC | 0x10));
    EXPECT_EQ(trace.driverParamsWritten[0].PrivateData, trace.driverParamsRead[0].PrivateData);
}

TEST(FInstallModemDevice, RankIsZeroWhateverWasRead) {
    // The hardware ID matches only a compatible ID of the model line: a lower rank.
    std::string inf = modemtest::kModemInf;
    inf.replace(inf.find("QVMDM_0001"), 10, "MAIN_ID, QVMDM_0001");
    DeviceMachine machine(inf.c_str());
    machine.Start();
    ASSERT_TRUE(FInstallModemDevice(kFrame));
    ASSERT_EQ(CurrentTrace().driverParamsRead.size(), 1u);
    EXPECT_NE(CurrentTrace().driverParamsRead[0].Rank, 0u);
    EXPECT_EQ(CurrentTrace().driverParamsWritten[0].Rank, 0u);
}

TEST(FInstallModemDevice, EachFailedStepDestroysTheListOnce) {
    struct Row {
        const char* api;
        int destroys; // 0: no list was made yet
        const char* rule = "*";
    };
    const Row rows[] = {
        // No device installer (Windows NT 3.51), or one without an entry point setup calls.
        {"LoadLibraryA", 0, "SETUPAPI"},
        {"GetProcAddress", 0},
        {"GetProcAddress", 0, "SetupDiDestroyDeviceInfoList"},
        {"SetupDiGetINFClassA", 0},
        {"SetupDiCreateDeviceInfoList", 0},
        {"SetupDiCreateDeviceInfoA", 1},
        {"SetupDiSelectOEMDrv", 1},
        {"SetupDiRegisterDeviceInfo", 1},
        {"SetupDiGetDeviceInstallParamsA", 1},
        {"SetupDiSetDeviceInstallParamsA", 1},
        {"SetupDiGetSelectedDriverA", 1},
        {"SetupDiGetDriverInstallParamsA", 1},
        {"SetupDiSetDriverInstallParamsA", 1},
        {"SetupDiCallClassInstaller", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.api) + "=" + row.rule);
        DeviceMachine machine;
        machine.Start();
        machine.M().Fault().Add(row.api, row.rule);
        EXPECT_FALSE(FInstallModemDevice(kFrame));
        EXPECT_GE(machine.M().Fault().Calls(row.api), 1);
        EXPECT_EQ(machine.M().Objects().CountOpen(winemu::HandleKind::Module), 0u);
        EXPECT_EQ(machine.M().Fault().Calls("SetupDiDestroyDeviceInfoList"), row.destroys);
        EXPECT_EQ(CurrentTrace().listsDestroyed, row.destroys);
        EXPECT_EQ(machine.OpenLists(), 0u);
        // Nothing was installed under the modem class.
        EXPECT_EQ(machine.Reg().Find(std::string(modemtest::kClassKey) + "0000"), nullptr);
    }
}

TEST(FInstallModemDevice, FailuresOfTheInstaller) {
    struct Row {
        const char* what;
        const char* inf; // null: no modem INF file at all
        const char* hardwareId;
        int destroys;
    };
    const Row rows[] = {
        {"missing INF file", nullptr, "QVMDM_0001", 0},
        {"no model for the hardware ID", modemtest::kModemInf, "OTHER_ID", 1},
        {"a hardware ID unfit for a device name", modemtest::kModemInf, "QVMDM 0001", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DeviceMachine machine(row.inf);
        machine.Start(row.hardwareId);
        EXPECT_FALSE(FInstallModemDevice(kFrame));
        EXPECT_EQ(CurrentTrace().listsDestroyed, row.destroys);
        EXPECT_EQ(machine.OpenLists(), 0u);
    }
}

} // namespace
