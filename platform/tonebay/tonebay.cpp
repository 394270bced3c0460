// Sample sound driver TONEBAY.DLL: an installable driver whose answers to the installation
// messages and whose parameters come from TONEBAY.INI beside the DLL, the same [Driver] and
// [Parameters] sections that the host build's driver description holds.
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HINSTANCE g_hinstDriver = nullptr;

// The settings file: the DLL's own path with its file name replaced by "TONEBAY.INI". False
// when the path does not fit, so a cut path is never read.
bool FGetSettingsPath(char* szPath, DWORD cbPath) {
    DWORD cch = GetModuleFileNameA(g_hinstDriver, szPath, cbPath);
    if (cch == 0 || cch >= cbPath)
        return false;
    char* pchName = szPath;
    for (char* pch = szPath; *pch != '\0'; ++pch) {
        if (*pch == '\\' || *pch == '/' || *pch == ':')
            pchName = pch + 1;
    }
    const char szIni[] = "TONEBAY.INI";
    if (static_cast<DWORD>(pchName - szPath) + sizeof(szIni) > cbPath)
        return false;
    std::memcpy(pchName, szIni, sizeof(szIni));
    return true;
}

// The service key is named after the DLL's base name, as the host build's driver does.
bool FGetParametersKey(char* szKey, DWORD cbKey) {
    char szModule[MAX_PATH];
    DWORD cch = GetModuleFileNameA(g_hinstDriver, szModule, sizeof(szModule));
    if (cch == 0 || cch >= sizeof(szModule))
        return false;
    const char* pchName = szModule;
    for (const char* pch = szModule; *pch != '\0'; ++pch) {
        if (*pch == '\\' || *pch == '/' || *pch == ':')
            pchName = pch + 1;
    }
    char szService[MAX_PATH];
    std::strncpy(szService, pchName, sizeof(szService) - 1);
    szService[sizeof(szService) - 1] = '\0';
    char* pchDot = std::strrchr(szService, '.');
    if (pchDot != nullptr)
        *pchDot = '\0';
    int cchKey = std::snprintf(
        szKey, cbKey, "SYSTEM\\CurrentControlSet\\Services\\%s\\Parameters\\Device0", szService);
    return cchKey > 0 && static_cast<DWORD>(cchKey) < cbKey;
}

// An answer from [Driver], read as a signed number so that a negative answer survives.
LRESULT LReadAnswer(const char* szKey, int nDefault) {
    char szPath[MAX_PATH];
    if (!FGetSettingsPath(szPath, sizeof(szPath)))
        return nDefault;
    return static_cast<LRESULT>(
        static_cast<LONG>(GetPrivateProfileIntA("Driver", szKey, nDefault, szPath)));
}

const char* PchSkipSpaces(const char* pch) {
    while (*pch == ' ' || *pch == '\t')
        ++pch;
    return pch;
}

// A number as the profile functions read one: an optional sign, decimal digits or 0x and hex
// digits; whatever follows (a comment) ends it.
DWORD DwParseNumber(const char* pch) {
    bool fNegative = false;
    pch = PchSkipSpaces(pch);
    if (*pch == '-' || *pch == '+') {
        fNegative = *pch == '-';
        ++pch;
    }
    int nBase = 10;
    if (pch[0] == '0' && (pch[1] == 'x' || pch[1] == 'X')) {
        nBase = 16;
        pch += 2;
    }
    unsigned long long ullValue = 0;
    for (; *pch != '\0'; ++pch) {
        int nDigit;
        if (*pch >= '0' && *pch <= '9')
            nDigit = *pch - '0';
        else if (nBase == 16 && *pch >= 'a' && *pch <= 'f')
            nDigit = *pch - 'a' + 10;
        else if (nBase == 16 && *pch >= 'A' && *pch <= 'F')
            nDigit = *pch - 'A' + 10;
        else
            break;
        ullValue = ullValue * nBase + nDigit;
        if (ullValue > 0xFFFFFFFFull)
            ullValue = 0xFFFFFFFFull;
    }
    DWORD dwValue = static_cast<DWORD>(ullValue);
    return fNegative ? 0u - dwValue : dwValue;
}

// The next named entry of a section as GetPrivateProfileSection gives it, from *ppchNext on: its
// name, cut at the '=' and without the spaces around it, and in *ppchValue what follows the '='.
// Comments, lines without '=' and empty names are passed over; nullptr at the section's end.
const char* SzNextEntry(char** ppchNext, const char** ppchValue) {
    while (**ppchNext != '\0') {
        char* pchEntry = *ppchNext;
        *ppchNext += std::strlen(pchEntry) + 1;
        char* pchEquals = std::strchr(pchEntry, '=');
        if (pchEntry[0] == ';' || pchEquals == nullptr)
            continue;
        char* pchNameEnd = pchEquals;
        while (pchNameEnd > pchEntry && (pchNameEnd[-1] == ' ' || pchNameEnd[-1] == '\t'))
            --pchNameEnd;
        *pchNameEnd = '\0';
        const char* szName = PchSkipSpaces(pchEntry);
        if (*szName == '\0')
            continue;
        *ppchValue = pchEquals + 1;
        return szName;
    }
    return nullptr;
}

// Stores every [Parameters] entry as a REG_DWORD under the driver's parameters key, in file
// order (a repeated name ends with its last value). False when the key cannot be written.
bool FWriteParameters() {
    char szPath[MAX_PATH];
    char szKey[MAX_PATH];
    if (!FGetSettingsPath(szPath, sizeof(szPath)) || !FGetParametersKey(szKey, sizeof(szKey)))
        return false;
    char rgchSection[4096];
    DWORD cchSection =
        GetPrivateProfileSectionA("Parameters", rgchSection, sizeof(rgchSection), szPath);
    if (cchSection == 0)
        return true;
    HKEY hkey = nullptr;
    LONG lResult = RegCreateKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, &hkey, nullptr);
    if (lResult != ERROR_SUCCESS)
        return false;
    bool fOk = true;
    char* pchNext = rgchSection;
    const char* pchValue = nullptr;
    while (const char* szName = SzNextEntry(&pchNext, &pchValue)) {
        DWORD dwValue = DwParseNumber(pchValue);
        lResult = RegSetValueExA(hkey, szName, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
        if (lResult != ERROR_SUCCESS)
            fOk = false;
    }
    RegCloseKey(hkey);
    return fOk;
}

// What a key of the parameters path holds, as far as it can be told.
enum class KeyState { kGone, kEmpty, kHolds, kUnknown };

KeyState KeyStateOf(const char* szKey) {
    HKEY hkey = nullptr;
    LONG lResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, KEY_READ, &hkey);
    if (lResult == ERROR_FILE_NOT_FOUND)
        return KeyState::kGone;
    if (lResult != ERROR_SUCCESS)
        return KeyState::kUnknown;
    DWORD cSubkeys = 0;
    DWORD cValues = 0;
    lResult = RegQueryInfoKeyA(hkey, nullptr, nullptr, nullptr, &cSubkeys, nullptr, nullptr,
                               &cValues, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(hkey);
    if (lResult != ERROR_SUCCESS)
        return KeyState::kUnknown;
    return cSubkeys == 0 && cValues == 0 ? KeyState::kEmpty : KeyState::kHolds;
}

// Deletes the [Parameters] values it wrote, then each key of the parameters path, from the
// device's up to the service's, that nothing else holds. False when something of its own could
// not be deleted, or could not be told apart, so that its removal can be asked for again.
bool FDeleteParameters() {
    char szPath[MAX_PATH];
    char szKey[MAX_PATH];
    if (!FGetSettingsPath(szPath, sizeof(szPath)) || !FGetParametersKey(szKey, sizeof(szKey)))
        return false;
    char rgchSection[4096];
    DWORD cchSection =
        GetPrivateProfileSectionA("Parameters", rgchSection, sizeof(rgchSection), szPath);
    HKEY hkey = nullptr;
    LONG lResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, KEY_SET_VALUE, &hkey);
    if (lResult != ERROR_SUCCESS && lResult != ERROR_FILE_NOT_FOUND)
        return false;
    bool fOk = true;
    if (lResult == ERROR_SUCCESS) {
        // The key is there, so the settings named values: without them nothing can be told.
        fOk = cchSection != 0;
        char* pchNext = rgchSection;
        const char* pchValue = nullptr;
        const char* szName = nullptr;
        while (fOk && (szName = SzNextEntry(&pchNext, &pchValue)) != nullptr) {
            lResult = RegDeleteValueA(hkey, szName);
            if (lResult != ERROR_SUCCESS && lResult != ERROR_FILE_NOT_FOUND)
                fOk = false;
        }
        RegCloseKey(hkey);
    }
    // Services\TONEBAY\Parameters\Device0: three keys, the deepest first.
    for (int iLevel = 0; fOk && iLevel < 3; ++iLevel) {
        KeyState state = KeyStateOf(szKey);
        if (state == KeyState::kUnknown)
            return false;
        if (state == KeyState::kHolds)
            break; // what is left is not the driver's
        if (state == KeyState::kEmpty && RegDeleteKeyA(HKEY_LOCAL_MACHINE, szKey) != ERROR_SUCCESS)
            return false;
        char* pchSlash = std::strrchr(szKey, '\\');
        if (pchSlash == nullptr)
            break;
        *pchSlash = '\0';
    }
    return fOk;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDll, DWORD dwReason, LPVOID lpReserved) {
    (void)lpReserved;
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_hinstDriver = hinstDll;
        DisableThreadLibraryCalls(hinstDll);
    }
    return TRUE;
}

extern "C" LRESULT CALLBACK DriverProc(DWORD_PTR dwDriverId, HDRVR hdrvr, UINT uMsg, LPARAM lParam1,
                                       LPARAM lParam2) {
    LRESULT lAnswer;
    switch (uMsg) {
    case DRV_LOAD:
        return LReadAnswer("Load", 1);
    case DRV_OPEN:
        return LReadAnswer("Open", 1);
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_CLOSE:
    case DRV_FREE:
        return 1;
    case DRV_QUERYCONFIGURE:
        return LReadAnswer("QueryConfigure", 0);
    case DRV_INSTALL:
    case DRV_CONFIGURE:
        lAnswer = LReadAnswer(uMsg == DRV_INSTALL ? "Install" : "Configure", DRVCNF_OK);
        // A driver that accepted its installation or configuration has stored its settings;
        // one that cancelled has not. A driver that cannot store them cancels.
        if (lAnswer != DRVCNF_CANCEL && !FWriteParameters())
            lAnswer = DRVCNF_CANCEL;
        return lAnswer;
    case DRV_REMOVE:
        // A driver that cannot take its settings away says so by cancelling.
        return FDeleteParameters() ? DRVCNF_OK : DRVCNF_CANCEL;
    default:
        return DefDriverProc(dwDriverId, hdrvr, uMsg, lParam1, lParam2);
    }
}
