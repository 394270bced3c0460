// The modem INF reading: the device description and the hardware ID of the one modem that the
// modem INF file describes, from the first entries of its manufacturer and model sections.
#include "modem/modem.h"

CHAR szDeviceDescription[CB_INF_TEXT];
CHAR szHardwareId[CB_INF_TEXT];

// Copies section-list text from ich up to the entry's terminating zero into szDest (cbDest
// bytes), cutting what does not fit. Never looks beyond the list's CB_SECTION_LIST bytes.
// Returns the number of characters of the whole text, cut or not.
static INT CchCopyEntryRest(LPSTR szDest, INT cbDest, LPCSTR szSectionList, INT ich, CHAR chStop) {
    INT cch = 0;

    while (ich < CB_SECTION_LIST && szSectionList[ich] != '\0' && szSectionList[ich] != chStop) {
        if (cch < cbDest - 1)
            szDest[cch] = szSectionList[ich];
        cch++;
        ich++;
    }
    szDest[cch < cbDest - 1 ? cch : cbDest - 1] = '\0';
    return cch;
}

// The index just past the first chFind of the list's first entry, or -1 when the entry ends (or
// the list's bytes run out) before one is met.
static INT IchAfterFirst(LPCSTR szSectionList, CHAR chFind) {
    INT ich;

    for (ich = 0; ich < CB_SECTION_LIST; ich++) {
        if (szSectionList[ich] == '\0')
            return -1;
        if (szSectionList[ich] == chFind)
            return ich + 1;
    }
    return -1;
}

static INT IchSkipSpaces(LPCSTR szSectionList, INT ich) {
    while (ich < CB_SECTION_LIST && szSectionList[ich] == ' ')
        ich++;
    return ich;
}

BOOL FGetFirstEntryValue(LPSTR szDest, LPCSTR szSectionList) {
    INT ich = IchAfterFirst(szSectionList, '=');
    INT cch;

    // An entry without "=" has no value to give.
    if (ich < 0)
        return TRUE;
    ich = IchSkipSpaces(szSectionList, ich);
    cch = CchCopyEntryRest(szDest, CB_INF_TEXT, szSectionList, ich, '\0');
    // A value and its terminator must take fewer than CB_INF_TEXT bytes: 98 characters at most.
    return cch + 1 < CB_INF_TEXT;
}

// Reads a section of the modem INF file into the section list. The list is emptied first so
// that a read that delivers nothing leaves no entries of an earlier section behind.
static void ReadModemInfSection(LPCSTR szSection, LPSTR szSectionList) {
    szSectionList[0] = '\0';
    szSectionList[1] = '\0';
    GetPrivateProfileSectionA(szSection, szSectionList, CB_SECTION_LIST, szModemInfPath);
}

BOOL FReadModemInf(void) {
    CHAR szSectionList[CB_SECTION_LIST];
    CHAR szModelSection[CB_INF_TEXT];
    CHAR szDescriptionKey[CB_INF_TEXT];
    INT ich;

    // Without an entry to name them, the model section and the description key stay empty.
    szModelSection[0] = '\0';
    szDescriptionKey[0] = '\0';

    // The modem INF file describes one modem: the first manufacturer and its first model.
    ReadModemInfSection("Manufacturer", szSectionList);
    if (!FGetFirstEntryValue(szModelSection, szSectionList))
        return FALSE;
    ReadModemInfSection(szModelSection, szSectionList);

    // The description key lies between the first entry's first "%" and the next one (or the
    // entry's end); an overlong key is cut to fit its buffer.
    ich = IchAfterFirst(szSectionList, '%');
    if (ich >= 0)
        CchCopyEntryRest(szDescriptionKey, CB_INF_TEXT, szSectionList, ich, '%');
    GetPrivateProfileStringA("Strings", szDescriptionKey, "", szDeviceDescription, CB_INF_TEXT,
                             szModemInfPath);

    // The hardware ID is the rest of the first entry after its first comma; an overlong one is
    // cut to fit its buffer. An entry without a comma leaves the hardware ID as it was.
    ich = IchAfterFirst(szSectionList, ',');
    if (ich >= 0) {
        ich = IchSkipSpaces(szSectionList, ich);
        CchCopyEntryRest(szHardwareId, CB_INF_TEXT, szSectionList, ich, '\0');
    }
    return TRUE;
}
