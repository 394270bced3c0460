// The dialogs of "qvxcui.dll" and the host build's stand-ins for its procedures. One table holds
// every dialog's title, text and buttons; the texts tell the user what happens next.
#include "toolkit/dialog_table.h"

#include <toolkit.h>

#include <array>

namespace qvxcui {
namespace {

constexpr Button kContinue{kIdContinue, SZ_LABEL_CONTINUE, kEventContinue};
constexpr Button kCancel{kIdCancel, SZ_LABEL_CANCEL, kEventCancel};
constexpr Button kExit{kIdExit, SZ_LABEL_EXIT, kEventExit};

constexpr std::array kWelcomeButtons{kContinue, kCancel, kExit};
constexpr std::array kQuitButtons{Button{kIdExit, SZ_LABEL_EXIT_SETUP, kEventExit},
                                  Button{kIdContinue, SZ_LABEL_GO_BACK, kEventContinue}};
constexpr std::array kWindowsDirButtons{kContinue, kExit};
constexpr std::array kCloseButtons{Button{kIdContinue, SZ_LABEL_CLOSE, kEventContinue}};
constexpr std::array kFinishButtons{Button{kIdRestart, SZ_LABEL_RESTART_NOW, kEventRestart},
                                    Button{kIdContinue, SZ_LABEL_RESTART_LATER, kEventContinue}};
constexpr std::array kOkButtons{Button{kIdContinue, SZ_LABEL_OK, kEventContinue}};

// Default button: CONTINUE in every dialog, so an unattended run always ends. Cancel button:
// the answer when no more input can come, the way out, so that such a run ends too; never a
// restart and never "go on" where quitting is offered. (Escape and the close box of the real
// dialogs take the safe answer instead, in the quit confirmation going back: see the library's
// qvxcui/procedures.cpp.) The resource script lays out the same buttons, in the same order, from
// the same header.
constexpr std::array kDialogs{
    DialogTemplate{IDD_WELCOME, "FInfoDlgProc", false, SZ_TITLE_100, SZ_TEXT_100, kWelcomeButtons,
                   0, 2},
    DialogTemplate{IDD_QUIT, "FQuitDlgProc", false, SZ_TITLE_200, SZ_TEXT_200, kQuitButtons, 1, 0},
    DialogTemplate{IDD_FATAL, "FInfo0DlgProc", false, SZ_TITLE_400, SZ_TEXT_400, kCloseButtons, 0,
                   0},
    DialogTemplate{IDD_DEVICES, "FInfoDlgProc", false, SZ_TITLE_600, SZ_TEXT_600, kOkButtons, 0, 0},
    DialogTemplate{IDD_FINISH, "FInfoDlgProc", false, SZ_TITLE_700, SZ_TEXT_700, kFinishButtons, 1,
                   1},
    DialogTemplate{IDD_NOT_REGISTERED, "FInfoDlgProc", false, SZ_TITLE_900, SZ_TEXT_900, kOkButtons,
                   0, 0},
    DialogTemplate{IDD_COPYING, "FModelessDlgProc", true, SZ_TITLE_5000, SZ_TEXT_5000, {}, 0, 0},
    DialogTemplate{IDD_STARTING, "FModelessDlgProc", true, SZ_TITLE_5100, SZ_TEXT_5100, {}, 0, 0},
    DialogTemplate{IDD_WINDOWS_DIR, "FInfo0DlgProc", false, SZ_TITLE_6400, SZ_TEXT_6400,
                   kWindowsDirButtons, 0, 1},
};

// A modal dialog ends by reporting the pressed button's word.
BOOL ReportButton(UINT, LPCSTR szEvent) {
    return FSetSymbolValue("DLGEVENT", szEvent ? szEvent : "");
}

// A modeless dialog has no buttons and stays up: it reports no event.
BOOL ReportNothing(UINT, LPCSTR) {
    return FSetSymbolValue("DLGEVENT", "");
}

struct Export {
    std::string_view name;
    DialogProc proc;
};

constexpr std::array kExports{
    Export{"FInfoDlgProc", ReportButton},
    Export{"FInfo0DlgProc", ReportButton},
    Export{"FQuitDlgProc", ReportButton},
    Export{"FModelessDlgProc", ReportNothing},
};

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

} // namespace qvxcui
