// The start-up check that the registry services are present: "ADVAPI32.DLL" is loaded and its
// registry entry points resolved, and the module is held until it is released.
#include <windows.h>

#include "setup/setup.h"

#define C_REG_REQUIRED 6
#define C_REG_ENTRIES 12

HMODULE hmodRegistry;

// Looked up in this order; the first six must be there.
static LPCSTR const rgszRegEntry[C_REG_ENTRIES] = {
    "RegCloseKey",      "RegCreateKeyA",  "RegDeleteKeyA",   "RegOpenKeyA",
    "RegQueryValueA",   "RegSetValueA",   "RegCreateKeyExA", "RegOpenKeyExA",
    "RegQueryValueExA", "RegSetValueExA", "RegEnumKeyA",     "RegQueryInfoKeyA",
};

// Meaningful only while hmodRegistry is held.
static FARPROC rgpfnReg[C_REG_ENTRIES];

BOOL FLoadRegistryEntryPoints(void) {
    hmodRegistry = LoadLibraryA("ADVAPI32.DLL");
    if (hmodRegistry == NULL) {
        return FALSE;
    }

    // Resolve all the required ones before judging, as a missing one is only known at the end.
    for (INT i = 0; i < C_REG_REQUIRED; i++) {
        rgpfnReg[i] = GetProcAddress(hmodRegistry, rgszRegEntry[i]);
    }
    for (INT i = 0; i < C_REG_REQUIRED; i++) {
        if (rgpfnReg[i] == NULL) {
            FreeLibrary(hmodRegistry);
            hmodRegistry = NULL;
            return FALSE;
        }
    }

    // The further ones are a convenience; a missing one is no failure.
    for (INT i = C_REG_REQUIRED; i < C_REG_ENTRIES; i++) {
        rgpfnReg[i] = GetProcAddress(hmodRegistry, rgszRegEntry[i]);
    }
    return TRUE;
}

void ReleaseRegistryEntryPoints(void) {
    if (hmodRegistry != NULL) {
        FreeLibrary(hmodRegistry);
        hmodRegistry = NULL;
    }
}
