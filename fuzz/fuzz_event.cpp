// The event code of any dialog event, read back through the toolkit's symbol table into a
// buffer of any size.
#include "setup/setup.h"

#include "fuzz_image.h"

#include <toolkit.h>

#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    fuzzing::MachineWithFile("");
    // The first byte sizes the buffer; the rest is the event, up to its first zero.
    std::vector<char> buffer(static_cast<size_t>(data[0]) + 1, '\x7f');
    std::string event(reinterpret_cast<const char*>(data + 1), size - 1);
    if (!FSetSymbolValue("DLGEVENT", event.c_str()))
        return 0;
    CbGetSymbolValue("DLGEVENT", buffer.data(), static_cast<INT>(buffer.size()));
    if (std::find(buffer.begin(), buffer.end(), '\0') == buffer.end())
        std::abort(); // the value must end within the buffer
    WORD code = WEventCode(buffer.data());
    (void)code;
    return 0;
}
