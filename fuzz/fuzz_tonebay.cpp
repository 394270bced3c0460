// The sample driver over any settings file: TONEBAY.INI beside TONEBAY.DLL. Every message is
// answered, whatever the driver stores is a REG_DWORD, and closing leaves nothing open.
#include "fuzz_image.h"

#include <mmsystem.h>

#include <cstdlib>

namespace {

const WCHAR kTonebay[] = {'T', 'O', 'N', 'E', 'B', 'A', 'Y', '.', 'D', 'L', 'L', 0};
const char kParameters[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\TONEBAY\\Parameters\\Device0";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winemu::Machine& machine = fuzzing::MachineWithFile(
        std::string_view(reinterpret_cast<const char*>(data), size), "TONEBAY.INI");
    HDRVR hdrvr = OpenDriver(kTonebay, nullptr, 0);
    if (hdrvr == nullptr)
        return 0;
    DRVCONFIGINFO dci = {sizeof(DRVCONFIGINFO), nullptr, nullptr};
    SendDriverMessage(hdrvr, DRV_INSTALL, 0, reinterpret_cast<LPARAM>(&dci));
    SendDriverMessage(hdrvr, DRV_QUERYCONFIGURE, 0, 0);
    SendDriverMessage(hdrvr, DRV_CONFIGURE, 0, reinterpret_cast<LPARAM>(&dci));
    if (CloseDriver(hdrvr, 0, 0) != 1 || !machine.Objects().Leaks().empty())
        std::abort();
    if (const winemu::RegKey* key = machine.Reg().Find(kParameters)) {
        for (const winemu::RegValue& value : key->values) {
            if (value.type != REG_DWORD || value.data.size() != sizeof(DWORD))
                std::abort();
        }
    }
    return 0;
}
