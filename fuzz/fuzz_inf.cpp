// The emulated device installer's INF parser: the class of any INF, and a device installed from
// it, end without a crash and without a device list left open.
#include "fuzz_image.h"

#include <setupapi.h>

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winemu::Machine& m =
        fuzzing::MachineWithFile(std::string_view(reinterpret_cast<const char*>(data), size));
    GUID guid{};
    char className[64] = "";
    DWORD required = 0;
    if (!SetupDiGetINFClassA("A:\\INPUT.INF", &guid, className, sizeof className, &required))
        return 0;
    HDEVINFO list = SetupDiCreateDeviceInfoList(&guid, NULL);
    if (list == INVALID_HANDLE_VALUE)
        return 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (SetupDiCreateDeviceInfoA(list, className, &guid, NULL, NULL, DICD_GENERATE_ID, &device)) {
        // The current directory, A:\, holds the INF, as the modem's folder does.
        if (SetupDiSelectOEMDrv(NULL, list, &device))
            SetupDiCallClassInstaller(DIF_INSTALLDEVICE, list, &device);
    }
    SetupDiDestroyDeviceInfoList(list);
    if (m.Objects().CountOpen(winemu::HandleKind::DeviceInfoList) != 0)
        std::abort();
    return 0;
}
