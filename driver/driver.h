// Sound driver registration: the driver parameters key and the card data file, the driver's
// install handshake, and the Windows NT multimedia registry entries.
#pragma once

#include <windows.h>

#include <toolkit.h>

// The driver parameters key, under HKEY_LOCAL_MACHINE (read only).
#define SZ_DRIVER_PARAMETERS_KEY                                                                   \
    "SYSTEM\\CurrentControlSet\\Services\\TONEBAY\\Parameters\\Device0\\"
#define SZ_CARD_DATA_FILE "QVHWCTL.DAT"
#define CB_CARD_SECTION 10 // bytes, terminator included: "Card" and at most five digits

extern INT fMidiMapperDefault; // nonzero: the FM synthesizer is the MIDI mapper's default

// Formats the card section name "Card%02d" of a product number into szSection (cbSection
// bytes). A name that does not fit is refused: FALSE, and szSection holds the empty string.
BOOL FFormatCardSection(LPSTR szSection, UINT cbSection, DWORD dwProduct);

// Builds "<directory>\QVHWCTL.DAT" in szPath (cbPath bytes): the directory is the system
// directory or the current directory, in the order fSystemFirst says, else "A:". A directory
// that does not leave room for the file name is passed over like a failed call.
void BuildCardDataPath(LPSTR szPath, UINT cbPath, BOOL fSystemFirst);

LRESULT LInstallDriver(void);
// The driver's own removal (DRV_REMOVE): its answer, 0 when it could not be opened.
LRESULT LRemoveDriver(void);
BOOL FReadCardSettings(void);
BOOL FRegisterMultimediaDriver(void);
