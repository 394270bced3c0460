// The sound driver's own installation: setup opens "TONEBAY.DLL" as an installable driver and
// lets it install itself, and configure itself when it asks for that.
#include "driver/driver.h"

#include <mmsystem.h>

// The record that goes with DRV_INSTALL and DRV_CONFIGURE: no section, no alias.
static void FillConfigInfo(LPDRVCONFIGINFO pdci) {
    pdci->dwDCISize = sizeof(DRVCONFIGINFO);
    pdci->lpszDCISectionName = NULL;
    pdci->lpszDCIAliasName = NULL;
}

LRESULT LInstallDriver(void) {
    // OpenDriver takes a UTF-16 name; spelled out so that it is the same with any WCHAR.
    static const WCHAR wszDriver[] = {'T', 'O', 'N', 'E', 'B', 'A', 'Y', '.', 'D', 'L', 'L', 0};
    DRVCONFIGINFO dci;
    HDRVR hdrvr;
    LONG lAnswer;

    hdrvr = OpenDriver(wszDriver, NULL, 0);
    if (hdrvr == NULL)
        return 0;

    FillConfigInfo(&dci);
    lAnswer = (LONG)SendDriverMessage(hdrvr, DRV_INSTALL, 0, (LPARAM)&dci);

    // A driver that needs a restart may first want its settings chosen; only a driver that says
    // it can be configured is offered that.
    if (lAnswer == DRVCNF_RESTART && SendDriverMessage(hdrvr, DRV_QUERYCONFIGURE, 0, 0) != 0) {
        FillConfigInfo(&dci);
        lAnswer = (LONG)SendDriverMessage(hdrvr, DRV_CONFIGURE, 0, (LPARAM)&dci);
    }

    CloseDriver(hdrvr, 0, 0);
    return lAnswer;
}

LRESULT LRemoveDriver(void) {
    static const WCHAR wszDriver[] = {'T', 'O', 'N', 'E', 'B', 'A', 'Y', '.', 'D', 'L', 'L', 0};
    HDRVR hdrvr;
    LONG lAnswer;

    hdrvr = OpenDriver(wszDriver, NULL, 0);
    if (hdrvr == NULL)
        return 0;
    lAnswer = (LONG)SendDriverMessage(hdrvr, DRV_REMOVE, 0, 0);
    CloseDriver(hdrvr, 0, 0);
    return lAnswer;
}
