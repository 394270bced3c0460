// machine.ini: whatever it holds is either refused with its line or read.
#include "winemu/machine.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winemu::MachineConfig config;
    winemu::Faults faults;
    try {
        winemu::ReadMachineIni(std::string_view(reinterpret_cast<const char*>(data), size), config,
                               faults);
        if (config.codePage != 1252 && config.codePage != 932)
            std::abort();
    } catch (const winemu::BootError& e) {
        if (e.file() != "machine.ini")
            std::abort();
    }
    return 0;
}
