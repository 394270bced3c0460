// Sound driver registration: the driver parameters key and the card data file, the driver's
// install handshake, and the Windows NT multimedia registry entries.
#pragma once

#include <windows.h>

// The driver parameters key, under HKEY_LOCAL_MACHINE (read only).
#define SZ_DRIVER_PARAMETERS_KEY "SYSTEM\\CurrentControlSet\\Services\\TONEBAY\\Parameters\\Device0\\"
#define SZ_CARD_DATA_FILE "QVHWCTL.DAT"

extern INT fMidiMapperDefault; // nonzero: the FM synthesizer is the MIDI mapper's default

// Builds "<directory>\QVHWCTL.DAT" in szPath (cbPath bytes): the directory is the system
// directory or the current directory, in the order fSystemFirst says, else "A:". A directory
// that does not leave room for the file name is passed over like a failed call.
void BuildCardDataPath(LPSTR szPath, UINT cbPath, BOOL fSystemFirst);

LRESULT LInstallDriver(void);
BOOL FReadCardSettings(void);
BOOL FRegisterMultimediaDriver(void);
