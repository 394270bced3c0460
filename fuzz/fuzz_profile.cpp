// The profile functions over any file: setup.inf, the card data file and a modem INF are all
// read through them. Every call stays within its buffer and ends what it returns.
#include "fuzz_image.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kFile[] = "A:\\INPUT.INF";

void CheckString(DWORD got, const char* buffer, DWORD size) {
    if (got >= size || buffer[got] != '\0')
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::MachineWithFile(std::string_view(reinterpret_cast<const char*>(data), size));
    char sections[512];
    DWORD got = GetPrivateProfileStringA(NULL, NULL, "", sections, sizeof sections, kFile);
    CheckString(got, sections, sizeof sections);
    for (const char* section = sections; *section != '\0'; section += std::strlen(section) + 1) {
        char keys[256];
        got = GetPrivateProfileStringA(section, NULL, "", keys, sizeof keys, kFile);
        CheckString(got, keys, sizeof keys);
        for (const char* key = keys; *key != '\0'; key += std::strlen(key) + 1) {
            char value[16];
            got = GetPrivateProfileStringA(section, key, "default", value, sizeof value, kFile);
            CheckString(got, value, sizeof value);
            GetPrivateProfileIntA(section, key, -1, kFile);
        }
        char whole[64];
        got = GetPrivateProfileSectionA(section, whole, sizeof whole, kFile);
        if (got >= sizeof whole)
            std::abort();
    }
    return 0;
}
