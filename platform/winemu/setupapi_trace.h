// What the emulated device installer saw and did, for tests: the install parameters and driver
// install parameters handed to it, the lists destroyed, and the device instances installed.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <string>
#include <vector>

namespace winemu::setupapi {

struct Trace {
    std::vector<SP_DEVINSTALL_PARAMS_A> deviceParamsRead;    // every successful Get
    std::vector<SP_DEVINSTALL_PARAMS_A> deviceParamsWritten; // every successful Set
    std::vector<SP_DRVINSTALL_PARAMS> driverParamsRead;
    std::vector<SP_DRVINSTALL_PARAMS> driverParamsWritten;
    std::vector<std::string> installedClassKeys; // "HKEY_LOCAL_MACHINE\\...\\{GUID}\\0000"
    std::vector<std::string> installedInstances; // "ROOT\\QVMDM_0001\\0000"
    std::vector<std::string> removedInstances;   // through DIF_REMOVE
    // Every call in order, with the flags or function it was given: "SetupDiSelectOEMDrv",
    // "SetupDiCreateDeviceInfoA flags=0x1", "SetupDiCallClassInstaller function=2".
    std::vector<std::string> calls;
    int listsCreated = 0;
    int listsDestroyed = 0;

    // Bits the device installer adds to a selected driver's install flags, as Windows does for
    // some drivers (DNF_DUPDESC and the like); lets a test see that the caller keeps them.
    DWORD extraDriverFlags = 0;
};

// The trace of this process; Reset clears it (and the extra flags).
Trace& CurrentTrace();
void ResetTrace();

} // namespace winemu::setupapi
