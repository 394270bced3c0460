// registry.reg: whatever it holds is either refused with its line or read, and what is read
// writes back to text that reads the same.
#include "winemu/machine.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (UINT codePage : {1252u, 932u}) {
        std::string written;
        try {
            written = winemu::Registry::FromRegText(text, "registry.reg", codePage).ToRegText();
        } catch (const winemu::BootError&) {
            continue;
        }
        // What was written must read back, and write the same text again.
        winemu::Registry again = winemu::Registry::FromRegText(written, "registry.reg", codePage);
        if (again.ToRegText() != written)
            std::abort();
    }
    return 0;
}
