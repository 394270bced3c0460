// Each button of the dialog library and its event word, read from the dialog layout: the dialog
// procedures report these words, and the toolkit answers a dialog by pressing the button that
// carries one.
#pragma once

#include "qvxcui/resource.h"

#include <windows.h>

namespace qvxcui {

struct ButtonWord {
    UINT idControl;
    const char* event;
};
inline constexpr ButtonWord kButtonWords[] = {
#define QVX_WORD(id, word) {id, word},
#define QVX_DIALOG(id, procedure, kind, title, text)
#define QVX_BUTTON(dialog, id, label, role)
#include "qvxcui/layout.h"
#undef QVX_WORD
#undef QVX_DIALOG
#undef QVX_BUTTON
};

// The event word of a button id, or null when no button has that id.
constexpr const char* WordOf(UINT idControl) {
    for (const ButtonWord& button : kButtonWords) {
        if (button.idControl == idControl) {
            return button.event;
        }
    }
    return nullptr;
}

} // namespace qvxcui
