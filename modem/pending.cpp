// Placeholder for the modem step until it is built: no modem is installed.
#include "modem/modem.h"

BOOL FInstallModem(HWND hwnd)
{
    (void)hwnd;
    return FALSE;
}
