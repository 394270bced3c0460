// The dialogs of "qvxcui.dll" and the host build's stand-ins for its procedures. One table holds
// every dialog's title, text and buttons; the texts tell the user what happens next.
#include "qvxcui/host/dialog_table.h"

#include <toolkit.h>

#include <algorithm>
#include <array>
#include <iterator>

namespace qvxcui {
namespace {

// The buttons of every dialog, in the layout's order, and where each belongs.
constexpr Button kButtons[] = {
#define QVX_WORD(id, word)
#define QVX_DIALOG(id, procedure, kind, title, text)
#define QVX_BUTTON(dialog, id, label, role) {id, label, WordOf(id)},
#include "qvxcui/layout.h"
#undef QVX_WORD
#undef QVX_DIALOG
#undef QVX_BUTTON
};

enum Role : unsigned { kRolePLAIN = 0, kRoleDEFAULT = 1, kRoleCANCEL = 2, kRoleDEFAULT_CANCEL = 3 };
struct Place {
    UINT idDlg;
    unsigned role;
};
constexpr Place kPlaces[] = {
#define QVX_WORD(id, word)
#define QVX_DIALOG(id, procedure, kind, title, text)
#define QVX_BUTTON(dialog, id, label, role) {dialog, kRole##role},
#include "qvxcui/layout.h"
#undef QVX_WORD
#undef QVX_DIALOG
#undef QVX_BUTTON
};
static_assert(std::size(kButtons) == std::size(kPlaces));
static_assert(std::ranges::all_of(kButtons, [](const Button& b) { return b.event != nullptr; }),
              "every button of the layout carries a word");

enum Kind { kKindMODAL, kKindGAUGE, kKindNOTE };

// A dialog of the layout with its own run of buttons, which stand together in the layout.
// Without a default (or cancel) button the first one stands for it.
constexpr DialogTemplate MakeDialog(UINT id, const char* procedure, Kind kind, const char* title,
                                    const char* text) {
    size_t first = 0;
    while (first < std::size(kPlaces) && kPlaces[first].idDlg != id) {
        ++first;
    }
    size_t count = 0;
    size_t defaultButton = 0;
    size_t cancelButton = 0;
    for (; first + count < std::size(kPlaces) && kPlaces[first + count].idDlg == id; ++count) {
        if (kPlaces[first + count].role & kRoleDEFAULT) {
            defaultButton = count;
        }
        if (kPlaces[first + count].role & kRoleCANCEL) {
            cancelButton = count;
        }
    }
    return DialogTemplate{id,
                          procedure,
                          kind != kKindMODAL,
                          title,
                          text,
                          std::span<const Button>(kButtons + first, count),
                          defaultButton,
                          cancelButton};
}

// Every dialog of the layout, in id order.
constexpr DialogTemplate kDialogs[] = {
#define QVX_WORD(id, word)
#define QVX_DIALOG(id, procedure, kind, title, text)                                               \
    MakeDialog(id, #procedure, kKind##kind, title, text),
#define QVX_BUTTON(dialog, id, label, role)
#include "qvxcui/layout.h"
#undef QVX_WORD
#undef QVX_DIALOG
#undef QVX_BUTTON
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
