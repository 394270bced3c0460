// The dialogs of "qvxcui.dll" and their procedures. One table holds every dialog's title, text
// and buttons; the texts tell the user what happens next.
#include "qvxcui/qvxcui.h"

#include <toolkit.h>

#include <array>

namespace qvxcui {
namespace {

constexpr Button kContinue{kIdContinue, "Continue", kEventContinue};
constexpr Button kCancel{kIdCancel, "Cancel", kEventCancel};
constexpr Button kExit{kIdExit, "Exit", kEventExit};

constexpr std::array kWelcomeButtons{kContinue, kCancel, kExit};
constexpr std::array kQuitButtons{Button{kIdExit, "Exit Setup", kEventExit},
                                  Button{kIdContinue, "Go back", kEventContinue}};
constexpr std::array kWindowsDirButtons{kContinue, kExit};
constexpr std::array kCloseButtons{Button{kIdContinue, "Close", kEventContinue}};
constexpr std::array kFinishButtons{Button{kIdRestart, "Restart now", kEventRestart},
                                    Button{kIdContinue, "Restart later", kEventContinue}};
constexpr std::array kOkButtons{Button{kIdContinue, "OK", kEventContinue}};

// Default button: CONTINUE in every dialog, so an unattended run always ends. Cancel button:
// what closing the dialog means, never a restart and never "go on" where quitting is offered.
constexpr std::array kDialogs{
    DialogTemplate{100, "FInfoDlgProc", false, "Welcome",
                   "This program installs the driver of your 16-bit sound board on Windows NT. "
                   "Choose Continue to copy the driver files and set up the board. Choose Cancel "
                   "or Exit to leave Setup without changing anything.",
                   kWelcomeButtons, 0, 2},
    DialogTemplate{200, "FQuitDlgProc", false, "Exit Setup",
                   "The sound board driver is not installed yet. If you exit now, Setup changes "
                   "nothing more. Choose Exit Setup to leave, or Go back to return to Setup.",
                   kQuitButtons, 1, 0},
    DialogTemplate{400, "FInfo0DlgProc", false, "Setup Error",
                   "Setup cannot go on and ends now. Files already copied and settings already "
                   "made stay as they are. Run Setup again to finish the installation.",
                   kCloseButtons, 0, 0},
    DialogTemplate{600, "FInfoDlgProc", false, "Sound Devices Found",
                   "Windows NT already has a wave or MIDI driver installed. Remove it with the "
                   "Drivers or Multimedia control panel, then run Setup again. Setup ends now "
                   "without changing anything.",
                   kOkButtons, 0, 0},
    DialogTemplate{700, "FInfoDlgProc", false, "Setup Complete",
                   "The sound board driver is installed. Windows NT must restart before you can "
                   "use the board. Choose Restart now to restart Windows at once, or Restart later "
                   "to restart it yourself.",
                   kFinishButtons, 1, 1},
    DialogTemplate{900, "FInfoDlgProc", false, "Driver Not Registered",
                   "Setup copied the driver files but could not register the driver with Windows "
                   "NT. Setup ends now. Log on as an administrator and run Setup again.",
                   kOkButtons, 0, 0},
    DialogTemplate{5000,
                   "FModelessDlgProc",
                   true,
                   "Copying Files",
                   "Setup is copying the sound board driver files into your Windows system "
                   "directory. Please wait.",
                   {},
                   0,
                   0},
    DialogTemplate{5100,
                   "FModelessDlgProc",
                   true,
                   "16-bit Sound Board NT Driver Setup",
                   "Setup is starting. Please wait.",
                   {},
                   0,
                   0},
    DialogTemplate{6400, "FInfo0DlgProc", false, "Windows Directory Not Found",
                   "Setup cannot use your Windows directory: it cannot be found, or its name "
                   "is too long. Choose Continue to install into the SYSTEM32 directory at the "
                   "root of the current drive, or Exit to leave Setup.",
                   kWindowsDirButtons, 0, 1},
};

struct Export {
    std::string_view name;
    DialogProc proc;
};

constexpr std::array kExports{
    Export{"FInfoDlgProc", FInfoDlgProc},
    Export{"FInfo0DlgProc", FInfo0DlgProc},
    Export{"FQuitDlgProc", FQuitDlgProc},
    Export{"FModelessDlgProc", FModelessDlgProc},
};

// A modal dialog ends by reporting the pressed button's word.
BOOL ReportEvent(LPCSTR szEvent) {
    return FSetSymbolValue("DLGEVENT", szEvent ? szEvent : "");
}

} // namespace

bool HasBitmap(UINT idBitmap) {
    return idBitmap == kFrameBitmap;
}

const DialogTemplate* FindDialog(UINT idDlg) {
    for (const DialogTemplate& dialog : kDialogs) {
        if (dialog.id == idDlg) {
            return &dialog;
        }
    }
    return nullptr;
}

std::span<const DialogTemplate> Dialogs() {
    return kDialogs;
}

DialogProc FindProcedure(std::string_view name) {
    for (const Export& entry : kExports) {
        if (entry.name == name) {
            return entry.proc;
        }
    }
    return nullptr;
}

BOOL FInfoDlgProc(UINT, LPCSTR szEvent) {
    return ReportEvent(szEvent);
}

BOOL FInfo0DlgProc(UINT, LPCSTR szEvent) {
    return ReportEvent(szEvent);
}

BOOL FQuitDlgProc(UINT, LPCSTR szEvent) {
    return ReportEvent(szEvent);
}

// A modeless dialog has no buttons and stays up: it reports no event.
BOOL FModelessDlgProc(UINT, LPCSTR) {
    return ReportEvent("");
}

} // namespace qvxcui
