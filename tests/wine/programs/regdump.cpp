// Writes registry keys, everything below them included, to standard output as REGEDIT4 text,
// each value as hex(type): of the bytes that RegQueryValueExA returns: exactly what a program
// using the ANSI calls reads back, so that it can be held byte for byte against the emulated
// machine's registry.
//   regdump KEY...     KEY: "HKEY_LOCAL_MACHINE\..." or "HKEY_CURRENT_USER\..."; a missing key
//                      is left out
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace {

// Value names are written quoted, with the backslash and the quote escaped.
std::string Quoted(const char* szName) {
    std::string text = "\"";
    for (const char* pch = szName; *pch != '\0'; ++pch) {
        if (*pch == '\\' || *pch == '"')
            text += '\\';
        text += *pch;
    }
    return text + "\"";
}

void DumpKey(HKEY hkey, const std::string& path) {
    std::printf("[%s]\n", path.c_str());
    char szName[16384];
    std::vector<BYTE> data(1 << 16);
    for (DWORD iValue = 0;; ++iValue) {
        DWORD cchName = sizeof(szName); // characters, with room for the zero
        DWORD type = 0;
        DWORD cbData = static_cast<DWORD>(data.size());
        LONG lResult =
            RegEnumValueA(hkey, iValue, szName, &cchName, nullptr, &type, data.data(), &cbData);
        if (lResult == ERROR_MORE_DATA) {
            data.resize(cbData);
            --iValue;
            continue;
        }
        if (lResult != ERROR_SUCCESS)
            break;
        std::printf("%s=hex(%lx):", cchName == 0 ? "@" : Quoted(szName).c_str(),
                    static_cast<unsigned long>(type));
        for (DWORD ib = 0; ib < cbData; ++ib)
            std::printf(ib == 0 ? "%02x" : ",%02x", data[ib]);
        std::printf("\n");
    }
    std::printf("\n");
    for (DWORD iKey = 0;; ++iKey) {
        DWORD cchName = sizeof(szName);
        if (RegEnumKeyExA(hkey, iKey, szName, &cchName, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY hkeySub = nullptr;
        if (RegOpenKeyExA(hkey, szName, 0, KEY_READ, &hkeySub) == ERROR_SUCCESS) {
            DumpKey(hkeySub, path + "\\" + szName);
            RegCloseKey(hkeySub);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    // Line ends as the emulated machine's registry.reg has them.
    _setmode(_fileno(stdout), _O_BINARY);
    std::printf("REGEDIT4\n\n");
    for (int iArg = 1; iArg < argc; ++iArg) {
        std::string path = argv[iArg];
        HKEY hkeyRoot;
        size_t cchRoot;
        if (path.rfind("HKEY_LOCAL_MACHINE\\", 0) == 0) {
            hkeyRoot = HKEY_LOCAL_MACHINE;
            cchRoot = std::strlen("HKEY_LOCAL_MACHINE\\");
        } else if (path.rfind("HKEY_CURRENT_USER\\", 0) == 0) {
            hkeyRoot = HKEY_CURRENT_USER;
            cchRoot = std::strlen("HKEY_CURRENT_USER\\");
        } else {
            std::fprintf(stderr, "regdump: %s: not under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER\n",
                         path.c_str());
            return 2;
        }
        HKEY hkey = nullptr;
        if (RegOpenKeyExA(hkeyRoot, path.c_str() + cchRoot, 0, KEY_READ, &hkey) != ERROR_SUCCESS)
            continue;
        DumpKey(hkey, path);
        RegCloseKey(hkey);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
