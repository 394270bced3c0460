// The emulated device installer: record sizes, INF class lookup, OEM driver selection and the
// install of a device under its class key, each checked with the error Windows reports.
#include "support/test_machine.h"
#include "winemu/setupapi_trace.h"

#include <gtest/gtest.h>

#include <setupapi.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::ActiveMachine;
using testsupport::TestImage;

constexpr const char* kInfPath = "C:\\DRV\\MODEM.INF";
constexpr const char* kClassKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                                  "{4D36E96D-E325-11CE-BFC1-08002BE10318}";

const char* kInf = "; a modem\n"
                   "[Version]\n"
                   "Signature=\"$Chicago$\"\n"
                   "Class=Modem\n"
                   "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\n"
                   "Provider=%Prov%\n"
                   "[Manufacturer]\n"
                   "%Mfg% = Models\n"
                   "[Models]\n"
                   "%M1% = Inst1, ID_ONE\n"
                   "%M2% = Inst2, ID_TWO, ID_COMPAT\n"
                   // Windows NT on x86 takes the most decorated install section there is.
                   "[Inst1]\n"
                   "AddReg = Decoy\n"
                   "[Inst1.NT]\n"
                   "AddReg = Decoy\n"
                   "[Inst1.NTx86]\n"
                   "AddReg = Reg1, Reg2\n"
                   "DelReg = Del1\n"
                   "[Inst2]\n"
                   "[Decoy]\n"
                   "HKR,,Decoy,,1\n"
                   "[Reg1]\n"
                   "HKR,,Plain,,\"text, with comma\"\n"
                   "HKR,Sub,Number,0x10001,0x2a\n"
                   "HKR,,Bytes,1,01,ff\n"
                   "HKR,,Multi,0x10000,one,two\n"
                   "HKR, Settings, CallSetupFailTimer,, S7=<#>\n" // five fields, no key
                   "[Reg2]\n"
                   "HKR,,Percent,,\"100%%\"\n"
                   "HKLM,SOFTWARE\\Modems,Added,,yes\n"
                   "HKCR,QVModem,,,\"Modem class\"\n"
                   "HKU,.DEFAULT\\Modems,Added,,yes\n"
                   "[Del1]\n"
                   "HKLM,SOFTWARE\\Modems\\Old\n"
                   "HKLM,SOFTWARE\\Modems,Gone\n"
                   "[Strings]\n"
                   "Prov=\"Provider Co\"\n"
                   "Mfg=\"Maker Co\"\n"
                   "M1=\"Modem One\"\n"
                   "M2=\"Modem Two\"\n";

struct Installer {
    TestImage image;
    std::unique_ptr<ActiveMachine> active;
    GUID guid{};
    HDEVINFO list = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA data{};

    explicit Installer(const char* inf = kInf) {
        image.Folder("C:\\WINNT\\system32");
        if (inf)
            image.File(kInfPath, inf);
        active = std::make_unique<ActiveMachine>(image);
        M().CurrentDirectory() = "C:\\DRV";
        winemu::setupapi::ResetTrace();
    }
    winemu::Machine& M() { return active->M(); }
    DWORD Error() { return M().LastError(); }

    // The list and an element for a hardware ID, its class from the INF.
    void Create(const char* id) {
        char name[100];
        ASSERT_TRUE(SetupDiGetINFClassA(kInfPath, &guid, name, sizeof name, nullptr));
        list = SetupDiCreateDeviceInfoList(&guid, nullptr);
        ASSERT_NE(list, INVALID_HANDLE_VALUE);
        data.cbSize = sizeof data;
        ASSERT_TRUE(
            SetupDiCreateDeviceInfoA(list, id, &guid, "desc", nullptr, DICD_GENERATE_ID, &data));
    }
    ~Installer() {
        if (list != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(list);
    }
};

TEST(SetupDiGetINFClassA, ReadsTheVersionSection) {
    Installer inst;
    GUID guid{};
    char name[32];
    std::memset(name, '#', sizeof name);
    DWORD required = 0;
    ASSERT_TRUE(SetupDiGetINFClassA(kInfPath, &guid, name, sizeof name, &required));
    EXPECT_STREQ(name, "Modem");
    EXPECT_EQ(required, 6u);
    EXPECT_EQ(guid.Data1, 0x4D36E96Du);
    EXPECT_EQ(guid.Data2, 0xE325);
    EXPECT_EQ(guid.Data4[7], 0x18);

    // Exactly fits, and one byte too small.
    EXPECT_TRUE(SetupDiGetINFClassA(kInfPath, &guid, name, 6, &required));
    EXPECT_FALSE(SetupDiGetINFClassA(kInfPath, &guid, name, 5, &required));
    EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 6u);
}

TEST(SetupDiGetINFClassA, Failures) {
    Installer inst;
    GUID guid{};
    char name[32];
    EXPECT_FALSE(SetupDiGetINFClassA("C:\\DRV\\NONE.INF", &guid, name, sizeof name, nullptr));
    EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    inst.image.File("C:\\DRV\\OLD.INF", "[Version]\nSignature=\"$Win31$\"\nClass=Modem\n");
    EXPECT_FALSE(SetupDiGetINFClassA("C:\\DRV\\OLD.INF", &guid, name, sizeof name, nullptr));
    EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_WRONG_INF_STYLE));

    inst.M().Fault().Add("SetupDiGetINFClassA", "MODEM.INF");
    EXPECT_FALSE(SetupDiGetINFClassA(kInfPath, &guid, name, sizeof name, nullptr));
}

TEST(SetupDi, RecordSizesAreChecked) {
    Installer inst;
    inst.Create("ID_ONE");
    ASSERT_TRUE(SetupDiSelectOEMDrv(nullptr, inst.list, &inst.data));

    SP_DEVINSTALL_PARAMS_A params{};
    params.cbSize = sizeof params - 1;
    EXPECT_FALSE(SetupDiGetDeviceInstallParamsA(inst.list, &inst.data, &params));
    EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    params.cbSize = sizeof params;
    EXPECT_TRUE(SetupDiGetDeviceInstallParamsA(inst.list, &inst.data, &params));

    // The driver record: the first version and the current one, nothing else.
    SP_DRVINFO_DATA_A driver{};
    for (DWORD cb : {(DWORD)sizeof(SP_DRVINFO_DATA_V1_A), (DWORD)sizeof(SP_DRVINFO_DATA_V2_A)}) {
        driver.cbSize = cb;
        EXPECT_TRUE(SetupDiGetSelectedDriverA(inst.list, &inst.data, &driver)) << cb;
        EXPECT_STREQ(driver.Description, "Modem One");
        EXPECT_STREQ(driver.MfgName, "Maker Co");
        EXPECT_STREQ(driver.ProviderName, "Provider Co");
        EXPECT_EQ(driver.DriverType, static_cast<DWORD>(SPDIT_CLASSDRIVER));
        SP_DRVINSTALL_PARAMS dp{};
        dp.cbSize = sizeof dp;
        EXPECT_TRUE(SetupDiGetDriverInstallParamsA(inst.list, &inst.data, &driver, &dp)) << cb;
        dp.cbSize = sizeof dp + 4;
        EXPECT_FALSE(SetupDiSetDriverInstallParamsA(inst.list, &inst.data, &driver, &dp));
        EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    }
    driver.cbSize = sizeof(SP_DRVINFO_DATA_V1_A) + 4;
    EXPECT_FALSE(SetupDiGetSelectedDriverA(inst.list, &inst.data, &driver));
    EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));

    SP_DEVINFO_DATA second{};
    second.cbSize = sizeof second + 1;
    EXPECT_FALSE(SetupDiCreateDeviceInfoA(inst.list, "ID_TWO", &inst.guid, "", nullptr,
                                          DICD_GENERATE_ID, &second));
    EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
}

TEST(SetupDi, ListsAreTrackedHandles) {
    Installer inst;
    GUID guid{};
    HDEVINFO list = SetupDiCreateDeviceInfoList(&guid, nullptr);
    ASSERT_NE(list, INVALID_HANDLE_VALUE);
    EXPECT_EQ(inst.M().Objects().CountOpen(winemu::HandleKind::DeviceInfoList), 1u);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_EQ(inst.M().Objects().CountOpen(winemu::HandleKind::DeviceInfoList), 0u);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    inst.M().Fault().Add("SetupDiCreateDeviceInfoList", "*");
    EXPECT_EQ(SetupDiCreateDeviceInfoList(&guid, nullptr), INVALID_HANDLE_VALUE);
}

TEST(SetupDi, ElementsOfAnotherClassAreRefused) {
    Installer inst;
    inst.Create("ID_ONE");
    GUID other = inst.guid;
    other.Data1++;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_FALSE(SetupDiCreateDeviceInfoA(inst.list, "ID_ONE", &other, "", nullptr,
                                          DICD_GENERATE_ID, &data));
    EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_CLASS_MISMATCH));
    // A generated id takes a bare device name: a hardware id with its enumerator is none.
    for (const char* name : {"BAD,NAME", "ISAPNP\\QVX0001", "PCMCIA\\QV-MODEM"}) {
        EXPECT_FALSE(SetupDiCreateDeviceInfoA(inst.list, name, &inst.guid, "", nullptr,
                                              DICD_GENERATE_ID, &data));
        EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_INVALID_DEVINST_NAME)) << name;
    }
}

TEST(SetupDiSelectOEMDrv, MatchesTheHardwareIdInTheCurrentDirectory) {
    struct Row {
        const char* id;
        BOOL found;
        const char* description;
        DWORD rank;
    };
    const Row rows[] = {
        {"ID_ONE", TRUE, "Modem One", 0},
        {"id_two", TRUE, "Modem Two", 0},         // IDs compare without regard to case
        {"ID_COMPAT", TRUE, "Modem Two", 0x1000}, // a compatible ID ranks lower
        {"ID_NONE", FALSE, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        Installer inst;
        inst.Create(row.id);
        EXPECT_EQ(SetupDiSelectOEMDrv(nullptr, inst.list, &inst.data), row.found);
        SP_DRVINFO_DATA_A driver{};
        driver.cbSize = sizeof(SP_DRVINFO_DATA_V1_A);
        EXPECT_EQ(SetupDiGetSelectedDriverA(inst.list, &inst.data, &driver), row.found);
        if (!row.found) {
            EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_NO_DRIVER_SELECTED));
            continue;
        }
        EXPECT_STREQ(driver.Description, row.description);
        SP_DRVINSTALL_PARAMS dp{};
        dp.cbSize = sizeof dp;
        ASSERT_TRUE(SetupDiGetDriverInstallParamsA(inst.list, &inst.data, &driver, &dp));
        EXPECT_EQ(dp.Rank, row.rank);
    }
}

// Without a driver path Windows asks for the manufacturer's disk: the folder typed (or, with
// nobody to ask, the INF's folder suggested) is searched, and a cancel fails the call.
TEST(SetupDiSelectOEMDrv, InstallFromDiskNamesTheFolder) {
    struct Row {
        const char* driverPath;            // set in the install parameters first
        std::optional<std::string> answer; // what the user gives; none: cancel
        bool answerer;                     // someone is at the screen
        BOOL found;
        DWORD error;
        const char* shown; // the prompt's event in the report; null: no prompt
    };
    const Row rows[] = {
        {"", std::nullopt, false, TRUE, ERROR_SUCCESS, "C:\\DRV"},
        {"", "C:\\DRV", true, TRUE, ERROR_SUCCESS, "C:\\DRV"},
        {"", "C:\\WINNT\\system32", true, FALSE, ERROR_NO_DRIVER_SELECTED, "C:\\WINNT\\system32"},
        {"", std::nullopt, true, FALSE, ERROR_CANCELLED, "CANCEL"},
        {"C:\\DRV", std::nullopt, true, TRUE, ERROR_SUCCESS, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer.value_or(row.driverPath));
        Installer inst;
        inst.Create("ID_ONE");
        inst.M().CurrentDirectory() = "C:\\WINNT\\system32";
        std::vector<std::string> suggested;
        if (row.answerer)
            inst.M().Answerer() = [&](const winemu::SystemPrompt& prompt) {
                suggested.push_back(prompt.suggestion);
                return row.answer;
            };
        SP_DEVINSTALL_PARAMS_A params{};
        params.cbSize = sizeof params;
        ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(inst.list, &inst.data, &params));
        std::strcpy(params.DriverPath, row.driverPath);
        ASSERT_TRUE(SetupDiSetDeviceInstallParamsA(inst.list, &inst.data, &params));

        EXPECT_EQ(SetupDiSelectOEMDrv(nullptr, inst.list, &inst.data), row.found);
        if (!row.found) {
            EXPECT_EQ(inst.Error(), row.error);
        }
        const nlohmann::json& dialogs = inst.M().Report()["dialogs"];
        ASSERT_EQ(dialogs.size(), row.shown ? 1u : 0u);
        if (row.shown) {
            EXPECT_EQ(dialogs[0]["id"], winemu::kInstallFromDiskPrompt);
            EXPECT_EQ(dialogs[0]["event"], row.shown);
        }
        if (row.answerer && row.shown) {
            EXPECT_EQ(suggested, std::vector<std::string>{"C:\\DRV"}); // the INF's folder
        }
    }
}

TEST(SetupDiCallClassInstaller, InstallWritesTheClassSubkey) {
    Installer inst;
    inst.M().Reg().SetString(std::string(kClassKey) + "\\0000", "DriverDesc", "Older");
    inst.M().Reg().SetString("HKLM\\SOFTWARE\\Modems\\Old", "Left", "over");
    inst.M().Reg().SetString("HKLM\\SOFTWARE\\Modems", "Gone", "soon");
    inst.M().Reg().SetString("HKLM\\SOFTWARE\\Modems", "Kept", "yes");
    inst.Create("ID_ONE");
    // Not before a driver is selected and the element registered.
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, inst.list, &inst.data));
    EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_NO_DRIVER_SELECTED));
    ASSERT_TRUE(SetupDiSelectOEMDrv(nullptr, inst.list, &inst.data));
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, inst.list, &inst.data));
    EXPECT_EQ(inst.Error(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    ASSERT_TRUE(SetupDiRegisterDeviceInfo(inst.list, &inst.data, SPRDI_FIND_DUPS, nullptr, nullptr,
                                          nullptr));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_INSTALLDEVICE, inst.list, &inst.data));

    winemu::Registry& reg = inst.M().Reg();
    const std::string key = std::string(kClassKey) + "\\0001"; // 0000 is taken
    EXPECT_EQ(reg.GetString(std::string(kClassKey) + "\\0000", "DriverDesc"), "Older");
    EXPECT_EQ(reg.GetString(key, "DriverDesc"), "Modem One");
    EXPECT_EQ(reg.GetString(key, "ProviderName"), "Provider Co");
    EXPECT_EQ(reg.GetString(key, "Manufacturer"), "Maker Co");
    EXPECT_EQ(reg.GetString(key, "InfPath"), "MODEM.INF");
    EXPECT_EQ(reg.GetString(key, "InfSection"), "Inst1.NTx86");
    EXPECT_EQ(reg.Value(key, "Decoy"), nullptr);
    EXPECT_EQ(reg.GetString(key, "MatchingDeviceId"), "id_one");
    EXPECT_EQ(reg.GetString(key, "Plain"), "text, with comma");
    EXPECT_EQ(reg.GetString(key, "Percent"), "100%");
    EXPECT_EQ(reg.GetDword(key + "\\Sub", "Number"), 42u);
    const winemu::RegValue* bytes = reg.Value(key, "Bytes");
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(bytes->data, (std::vector<BYTE>{0x01, 0xFF}));
    const winemu::RegValue* multi = reg.Value(key, "Multi");
    ASSERT_NE(multi, nullptr);
    EXPECT_EQ(multi->type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(multi->data, (std::vector<BYTE>{'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0}));
    EXPECT_EQ(reg.GetString(key + "\\Settings", "CallSetupFailTimer"), "S7=<#>");
    EXPECT_EQ(reg.GetString("HKLM\\SOFTWARE\\Modems", "Added"), "yes");
    EXPECT_EQ(reg.GetString("HKLM\\SOFTWARE\\Classes\\QVModem", ""), "Modem class");
    EXPECT_EQ(reg.GetString("HKEY_USERS\\.DEFAULT\\Modems", "Added"), "yes");
    // DelReg lines go first: a whole key, and one value of a key that stays.
    EXPECT_EQ(reg.Find("HKLM\\SOFTWARE\\Modems\\Old"), nullptr);
    EXPECT_EQ(reg.Value("HKLM\\SOFTWARE\\Modems", "Gone"), nullptr);
    EXPECT_EQ(reg.GetString("HKLM\\SOFTWARE\\Modems", "Kept"), "yes");
    // The device instance points at its driver key.
    EXPECT_EQ(reg.GetString("HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ID_ONE\\0000", "Driver"),
              "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001");
}

TEST(SetupDiCreateDeviceInfoA, GeneratedInstancesTakeTheNextFreeNumber) {
    Installer inst;
    inst.M().Reg().Create("HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ID_ONE\\0000");
    inst.Create("ID_ONE");
    ASSERT_TRUE(SetupDiRegisterDeviceInfo(inst.list, &inst.data, 0, nullptr, nullptr, nullptr));
    EXPECT_NE(inst.M().Reg().Find("HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ID_ONE\\0001"),
              nullptr);
}

} // namespace
