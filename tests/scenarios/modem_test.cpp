// Whole setups on the modem machine: the modem installed and tied to COM2, a model without a
// modem passing silently, and every failed modem step shown while setup goes on to the end.
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using testsupport::ChildResult;
using testsupport::DialogIds;
using testsupport::FromSample;
using testsupport::RunSetup;
using testsupport::TestImage;

constexpr const char* kAnswers = "/answers:A:\\ANSWERS.INI";
constexpr const char* kClassKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                                  "{4D36E96D-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kPortsKey = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
constexpr const char* kSerialKey = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters";

std::vector<std::string> BoxTexts(const nlohmann::json& report) {
    std::vector<std::string> texts;
    for (const auto& box : report.value("message_boxes", nlohmann::json::array())) {
        EXPECT_EQ(box["caption"], "Modem Installation");
        EXPECT_EQ(box["style"], 16);
        texts.push_back(box["text"].get<std::string>());
    }
    return texts;
}

// A complete run on the modem machine: the device installer asks for the manufacturer's disk.
const std::vector<int> kCompleteRun = {5100, 100, 5000, winemu::kInstallFromDiskPrompt, 700};

// Also when the modem's INF file presets another port: the modem just installed takes the port.
TEST(ModemScenario, UnattendedRunInstallsTheModemOnCom2) {
    for (bool fPreset : {false, true}) {
        SCOPED_TRACE(fPreset ? "INF presets AttachedTo COM1" : "sample INF");
        TestImage image;
        FromSample(image, "nt40-modem");
        if (fPreset) {
            std::string sInf = image.Read("A:\\QVMODEM.INF");
            sInf.replace(sInf.find("[All]\n"), 6, "[All]\nHKR,,AttachedTo,,COM1\n");
            image.File("A:\\QVMODEM.INF", sInf);
        }
        ChildResult result = RunSetup(image, kAnswers);
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_TRUE(BoxTexts(result.report).empty());
        EXPECT_TRUE(result.report["open_handles"].empty());
        EXPECT_EQ(DialogIds(result.report), kCompleteRun);
        // Nobody named a folder: the prompt's own, the modem INF's, was taken.
        EXPECT_EQ(result.report["dialogs"][3]["event"], "C:\\WINNT\\system32");

        winemu::Registry& reg = result.after->Reg();
        const std::string modem = std::string(kClassKey) + "\\0000";
        EXPECT_EQ(reg.GetString(modem, "DriverDesc"), "16-bit Sound Board 28.8 Modem");
        EXPECT_EQ(reg.GetString(modem, "InfPath"), "QVMODEM.INF");
        const winemu::RegValue* attached = reg.Value(modem, "AttachedTo");
        ASSERT_NE(attached, nullptr);
        EXPECT_EQ(attached->data, (std::vector<BYTE>{'C', 'O', 'M', '2', 0}));
        const winemu::RegValue* line = reg.Value(kPortsKey, "COM2:");
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->data.size(), 12u);
        EXPECT_EQ(reg.GetString(kPortsKey, "COM2:"), "57600,n,8,1");
        // The machine's own subkey of COM2 is the port subkey; COM1's is left alone.
        const std::string com2 = std::string(kSerialKey) + "\\Serial10001";
        EXPECT_EQ(reg.GetString(com2, "DosDevices"), "COM2");
        EXPECT_EQ(reg.GetDword(com2, "ForceFifoEnable"), 1u);
        EXPECT_EQ(reg.GetDword(com2, "Interrupt"), 3u);
        EXPECT_EQ(reg.GetDword(com2, "PortAddress"), 0x2F8u);
        EXPECT_EQ(reg.GetString(std::string(kSerialKey) + "\\Serial10000", "DosDevices"), "COM1");
        EXPECT_EQ(reg.Find(kSerialKey)->subkeys.size(), 2u);
    }
}

// A modem INF as vendors write them: several manufacturers and models, [Strings] with quoted
// commas, continued lines, flags given as %strkey% tokens, text outside ASCII. Saved as ANSI
// (code page 1252) and as UTF-16LE with its byte order mark, it installs the same modem.
const char kVendorInf[] = "; QVMODEM.INF: modems of the 16-bit Sound Board and of its partners\r\n"
                          "[Version]\r\n"
                          "Signature = \"$CHICAGO$\"\r\n"
                          "Class = Modem\r\n"
                          "ClassGUID = {4D36E96D-E325-11CE-BFC1-08002BE10318}\r\n"
                          "Provider = %Provider%\r\n"
                          "\r\n"
                          "[Manufacturer]\r\n"
                          "%Mfg%      = SoundBoard\r\n"
                          "%Partner%  = Partner\r\n"
                          "\r\n"
                          "[SoundBoard]\r\n"
                          "%Modem12% = Modem12, QVMDM_0001\r\n"
                          "%Modem14% = Modem14, QVMDM_0002, UNIMODEM4A1B\r\n"
                          "\r\n"
                          "[Partner]\r\n"
                          "%PartnerModem% = Modem14, PRTNR_3344\r\n"
                          "\r\n"
                          "[Modem12]\r\n"
                          "AddReg = All, \\\r\n"
                          "         Modem12.AddReg, External\r\n"
                          "[Modem14]\r\n"
                          "AddReg = All, External\r\n"
                          "\r\n"
                          "[All]\r\n"
                          "HKR,, FriendlyDriver,, Unimodem.vxd\r\n"
                          "HKR, Init, 1,, \"AT&F<cr>\"\r\n"
                          "HKR, Settings, DialSuffix,, \";\"\r\n"
                          "HKR, Settings, Blind_On,, \"X3,B0\"   ; a comma inside quotes\r\n"
                          "HKR,, Dw, %REG_DWORD%, 0x12345678\r\n"
                          "[Modem12.AddReg]\r\n"
                          "HKR,, Properties, %REG_BINARY%, 80,01,00,00, FF,00,00,00, \\\r\n"
                          "                                07,00,00,00, 00,C2,01,00\r\n"
                          "[External]\r\n"
                          "HKR,, DeviceType, %REG_BINARY%, 01\r\n"
                          "\r\n"
                          "[Strings]\r\n"
                          "Provider     = \"Soci\xE9t\xE9 Sound Board\"\r\n"
                          "Mfg          = \"Sound Board Modems\"\r\n"
                          "Partner      = \"Partner, Inc.\"\r\n"
                          "Modem12      = \"16-bit Sound Board 28.8 Modem\"\r\n"
                          "Modem14      = \"16-bit Sound Board 14.4 Modem\"\r\n"
                          "PartnerModem = \"Partner 14.4 Modem\"\r\n"
                          "REG_DWORD    = 0x00010001\r\n"
                          "REG_BINARY   = 0x00000001\r\n";

TEST(ModemScenario, VendorInfInstallsAlikeInAnsiAndInUnicode) {
    std::string ansi = kVendorInf;
    std::string unicode = "\xFF\xFE"; // Latin-1 bytes are their own code points
    for (char c : ansi)
        unicode += {c, '\0'};
    for (const std::string* inf : {&ansi, &unicode}) {
        SCOPED_TRACE(inf == &ansi ? "ANSI" : "UTF-16LE");
        TestImage image;
        FromSample(image, "nt40-modem");
        image.File("A:\\QVMODEM.INF", *inf);
        ChildResult result = RunSetup(image, kAnswers);
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_TRUE(BoxTexts(result.report).empty());

        winemu::Registry& reg = result.after->Reg();
        const std::string modem = std::string(kClassKey) + "\\0000";
        EXPECT_EQ(reg.GetString(modem, "DriverDesc"), "16-bit Sound Board 28.8 Modem");
        EXPECT_EQ(reg.GetString(modem, "ProviderName"), "Soci\xE9t\xE9 Sound Board");
        EXPECT_EQ(reg.GetString(modem, "Manufacturer"), "Sound Board Modems");
        EXPECT_EQ(reg.GetString(modem, "InfSection"), "Modem12");
        EXPECT_EQ(reg.GetString(modem + "\\Settings", "Blind_On"), "X3,B0");
        EXPECT_EQ(reg.GetString(modem + "\\Settings", "DialSuffix"), ";");
        EXPECT_EQ(reg.GetDword(modem, "Dw"), 0x12345678u);
        const winemu::RegValue* properties = reg.Value(modem, "Properties");
        ASSERT_NE(properties, nullptr);
        EXPECT_EQ(properties->type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(properties->data.size(), 16u);
        EXPECT_NE(reg.Value(modem, "DeviceType"), nullptr); // named on the continued line
        EXPECT_EQ(reg.GetString("HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\QVMDM_0001\\0000",
                                "DeviceDesc"),
                  "16-bit Sound Board 28.8 Modem");
    }
}

TEST(ModemScenario, ModelWithoutModemPassesSilently) {
    TestImage image;
    FromSample(image, "nt40");
    ChildResult result = RunSetup(image, kAnswers);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(BoxTexts(result.report).empty());
    EXPECT_EQ(result.report["api_calls"].value("SetupDiGetINFClassA", 0), 0);
    EXPECT_TRUE(result.after->Reg().Find(kClassKey)->subkeys.empty());
}

TEST(ModemScenario, EachFailureShowsItsMessageAndSetupGoesOn) {
    const std::string notInstalled =
        "Modem isn't installed correctly. You may install Modem by Control Panel.";
    struct Row {
        const char* what;
        testsupport::Faults faults;
        const char* modemInf; // replaces QVMODEM.INF on the disk when set
        std::string message;
        const char* answers = ""; // more lines of the answers file
        bool prompted = true;     // the "Install From Disk" prompt came up
    };
    const std::string longModels = "[Manufacturer]\nMfg=" + std::string(99, 'M') + "\n";
    // Registry lines beyond Windows' limits: refused when written, so the image still boots.
    const std::string sample = testsupport::ReadHostFile(
        fs::path(SOUNDSETUP_SOURCE_DIR) / "machines/nt40-modem/drives/A/QVMODEM.INF");
    auto withLine = [&](const std::string& line) {
        std::string inf = sample;
        return inf.replace(inf.find("[All]\n"), 6, "[All]\n" + line + "\n");
    };
    std::string deep = "L";
    for (int i = 0; i < 600; ++i)
        deep += "\\L";
    const std::string longKey = withLine("HKR, " + std::string(256, 'k') + ", v,, \"x\"");
    const std::string deepKey = withLine("HKR, " + deep + ", v,, \"x\"");
    const std::string longValue = withLine("HKR,, " + std::string(16384, 'v') + ",, \"x\"");
    const Row rows[] = {
        {"overlong model section",
         {},
         longModels.c_str(),
         "File error! Modem can't be installed.",
         "",
         false},
        {"device installer", {{"SetupDiSelectOEMDrv", "*"}}, nullptr, notInstalled, "", false},
        // Windows NT 3.51 may have no device installer at all.
        {"no SETUPAPI.DLL", {{"LoadLibraryA", "SETUPAPI"}}, nullptr, notInstalled, "", false},
        // The user cancels "Install From Disk", or names a folder without the modem's INF.
        {"disk prompt cancelled", {}, nullptr, notInstalled, "9000=CANCEL\n"},
        {"disk prompt elsewhere", {}, nullptr, notInstalled, "9000=C:\\WINNT\n"},
        {"no driver for the modem",
         {},
         "[Version]\nSignature=$CHICAGO$\nClass=Modem\n"
         "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\n"
         "[Manufacturer]\nMfg=Models\n[Models]\n"
         "%M% = Inst, OTHER_MODEM\n",
         notInstalled},
        {"modem class entries", {{"RegSetValueExA", "AttachedTo"}}, nullptr, notInstalled},
        {"key name over 255 characters", {}, longKey.c_str(), notInstalled},
        {"key over 512 levels deep", {}, deepKey.c_str(), notInstalled},
        {"value name over 16383 characters", {}, longValue.c_str(), notInstalled},
        {"serial port",
         {{"RegQueryValueExA", "DosDevices"}},
         nullptr,
         "Please add COM2 by \"Ports\" in \"Control Panel\" after setup."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestImage image;
        FromSample(image, "nt40-modem");
        if (row.modemInf)
            image.File("A:\\QVMODEM.INF", row.modemInf);
        std::string cmd =
            testsupport::UseAnswers(image, std::string("100=CONTINUE\n") + row.answers);
        ChildResult result = RunSetup(image, cmd, row.faults);
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(BoxTexts(result.report), std::vector<std::string>{row.message});
        // Setup went on: the Mixer group and the finish dialog.
        std::vector<int> dialogs = kCompleteRun;
        if (!row.prompted)
            std::erase(dialogs, static_cast<int>(winemu::kInstallFromDiskPrompt));
        EXPECT_EQ(DialogIds(result.report), dialogs);
        ASSERT_EQ(result.report["program_groups"].size(), 1u);
        EXPECT_EQ(result.report["program_groups"][0]["name"], "Mixer");
        EXPECT_TRUE(result.report["open_handles"].empty());
    }
}

} // namespace
