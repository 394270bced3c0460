// Placeholders for the driver steps until they are built: each lets setup go on.
#include "driver/driver.h"

INT fMidiMapperDefault = 1;

void BuildCardDataPath(LPSTR szPath, UINT cbPath, BOOL fSystemFirst)
{
    (void)fSystemFirst;
    lstrcpynA(szPath, "A:\\" SZ_CARD_DATA_FILE, (INT)cbPath);
}

LRESULT LInstallDriver(void)
{
    return 1;
}

BOOL FReadCardSettings(void)
{
    return FALSE;
}

BOOL FRegisterMultimediaDriver(void)
{
    return TRUE;
}
