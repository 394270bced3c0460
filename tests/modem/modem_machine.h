// A machine for the modem steps, built a few lines at a time: the driver parameters, the card
// data file and the modem INF in the system directory (the current directory), and the registry
// keys of the modem's port.
#pragma once

#include "modem/modem.h"
#include "support/test_machine.h"

#include <cstring>
#include <memory>
#include <string>

namespace modemtest {

constexpr const char* kSystemDir = "C:\\WINNT\\system32";
constexpr const char* kParametersKey =
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\TONEBAY\\Parameters\\Device0";
constexpr const char* kClassKey = "HKLM\\" SZ_MODEM_CLASS_KEY;
constexpr const char* kPortsKey = "HKLM\\" SZ_PORTS_KEY;
constexpr const char* kSerialKey = "HKLM\\" SZ_SERIAL_PARAMETERS_KEY;

// A modem INF that describes one modem, as the sample disk's does.
inline const char* kModemInf = "[Version]\n"
                               "Signature=\"$CHICAGO$\"\n"
                               "Class=Modem\n"
                               "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\n"
                               "Provider=%Mfg%\n"
                               "[Manufacturer]\n"
                               "%Mfg% = Models\n"
                               "[Models]\n"
                               "%Modem1% = Modem1Install, QVMDM_0001\n"
                               "[Modem1Install]\n"
                               "AddReg=Modem1.AddReg\n"
                               "[Modem1.AddReg]\n"
                               "HKR,,FriendlyDriver,,Unimodem.vxd\n"
                               "HKR, Init, 1,, \"AT<cr>\"\n"
                               "HKR,, Properties, 1, 80,01,00,00\n"
                               "[Strings]\n"
                               "Mfg=\"Sound Board Modems\"\n"
                               "Modem1=\"16-bit Sound Board 28.8 Modem\"\n";

// The registry of a machine with the driver parameters, an empty modem class, COM1 and the
// serial parameters of COM1 (Serial10000) and COM2 (Serial10001).
inline std::string BaseRegistry(int product, int comOption) {
    char params[200];
    std::snprintf(params, sizeof params,
                  "[%s]\n\"CurrentProduct\"=dword:%08x\n\"COMOption\"=dword:%08x\n\n",
                  "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\TONEBAY\\Parameters\\"
                  "Device0",
                  product, comOption);
    return std::string("REGEDIT4\n\n") + params +
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
           "{4D36E96D-E325-11CE-BFC1-08002BE10318}]\n\"Class\"=\"Modem\"\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports]\n"
           "\"COM1:\"=\"9600,n,8,1\"\n\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters\\"
           "Serial10000]\n\"DosDevices\"=\"COM1\"\n\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters\\"
           "Serial10001]\n\"DosDevices\"=\"COM2\"\n";
}

// The sample model 12 with its modem on COM2, running in process.
struct ModemMachine {
    testsupport::TestImage image;
    std::unique_ptr<testsupport::ActiveMachine> active;

    explicit ModemMachine(int product = 12, int comOption = 2,
                          const char* cardData = "[Card12]\nModem=1\n"
                                                 "[InfFile.Cards]\nCard12=QVMODEM.INF\n",
                          const char* modemInf = kModemInf) {
        image.Registry(BaseRegistry(product, comOption));
        image.Folder(kSystemDir);
        if (cardData)
            image.File("C:\\WINNT\\system32\\QVHWCTL.DAT", cardData);
        if (modemInf)
            image.File("C:\\WINNT\\system32\\QVMODEM.INF", modemInf);
    }
    ModemMachine& Boot() {
        active = std::make_unique<testsupport::ActiveMachine>(image);
        M().CurrentDirectory() = kSystemDir;
        ResetModemState();
        return *this;
    }
    winemu::Machine& M() { return active->M(); }
    winemu::Registry& Reg() { return M().Reg(); }

    static void ResetModemState() {
        std::strcpy(szModemPortName, "COM");
        std::memset(szModemInfName, 0, sizeof szModemInfName);
        std::memset(szModemInfPath, 0, sizeof szModemInfPath);
        std::memset(szDeviceDescription, 0, sizeof szDeviceDescription);
        std::memset(szHardwareId, 0, sizeof szHardwareId);
        std::memset(szModemDriverKey, 0, sizeof szModemDriverKey);
    }
};

} // namespace modemtest
