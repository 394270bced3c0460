#!/usr/bin/env python3
"""Writes the resource script of qvxcui.dll from the dialog layout (platform/qvxcui/layout.h).

Usage: make_qvxcui_rc.py LAYOUT_H FRAME_BMP OUTPUT_RC

Plain DIALOG templates, which Windows NT 3.51 reads too; the procedures centre each dialog on
the frame and give its default button the focus. The script is written only when it changes, so
that an unchanged layout does not rebuild the library.
"""
import re
import sys

ROW = re.compile(r"^(QVX_DIALOG|QVX_BUTTON|QVX_WORD)\((.*)\)\s*$")

HEADER = """\
// Generated from qvxcui/layout.h by tools/make_qvxcui_rc.py: edit the layout, not this file.
#include <windows.h>
#include <commctrl.h>
#include "qvxcui/resource.h"

IDB_FRAME BITMAP "{bitmap}"

#define QVX_MODAL_STYLE DS_MODALFRAME | DS_3DLOOK | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU
#define QVX_MODELESS_STYLE DS_3DLOOK | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_VISIBLE
"""

# Size of each kind of dialog and the controls above its buttons, in dialog units.
KINDS = {
    "MODAL": ("260, 78", "QVX_MODAL_STYLE", ["LTEXT {text}, IDC_TEXT, 10, 10, 240, 40"]),
    "GAUGE": ("260, 70", "QVX_MODELESS_STYLE",
              ["LTEXT {text}, IDC_TEXT, 10, 10, 240, 26",
               'CONTROL "", IDC_GAUGE, PROGRESS_CLASS, WS_BORDER, 10, 44, 240, 12']),
    "NOTE": ("200, 40", "QVX_MODELESS_STYLE", ["LTEXT {text}, IDC_TEXT, 10, 14, 180, 12"]),
}
ROLES = {"PLAIN", "DEFAULT", "CANCEL", "DEFAULT_CANCEL"}
# Buttons stand in one row at the foot, the last one at the right-hand edge.
BUTTON_RIGHT, BUTTON_STEP, BUTTON_TOP, BUTTON_SIZE = 190, 64, 56, "60, 14"


def read_layout(path):
    """[(dialog fields, [button fields])] in the file's order."""
    dialogs = []
    with open(path, encoding="ascii") as layout:
        for number, line in enumerate(layout, 1):
            match = ROW.match(line.strip())
            if not match:
                continue
            fields = [field.strip() for field in match.group(2).split(",")]
            where = f"{path}:{number}"
            if match.group(1) == "QVX_DIALOG":
                if len(fields) != 5 or fields[2] not in KINDS:
                    sys.exit(f"{where}: a dialog is id, procedure, kind, title, text")
                dialogs.append((fields, []))
            elif match.group(1) == "QVX_BUTTON":
                if len(fields) != 4 or fields[3] not in ROLES:
                    sys.exit(f"{where}: a button is dialog, id, label, role")
                if not dialogs or dialogs[-1][0][0] != fields[0]:
                    sys.exit(f"{where}: a button follows its own dialog")
                dialogs[-1][1].append(fields)
    return dialogs


def script(dialogs, bitmap):
    lines = [HEADER.format(bitmap=bitmap.replace("\\", "/"))]
    for (name, _, kind, title, text), buttons in dialogs:
        size, style, controls = KINDS[kind]
        if kind != "MODAL" and buttons:
            sys.exit(f"{name}: a modeless dialog has no buttons")
        defaults = [b for b in buttons if b[3].startswith("DEFAULT")]
        if kind == "MODAL" and len(defaults) != 1:
            sys.exit(f"{name}: a dialog has one default button")
        lines.append(f"{name} DIALOG 0, 0, {size}")
        lines.append(f"STYLE {style}")
        lines.append(f"CAPTION {title}")
        lines.append('FONT 8, "MS Sans Serif"')
        lines.append("BEGIN")
        lines += ["    " + control.format(text=text) for control in controls]
        for index, (_, control, label, role) in enumerate(buttons):
            keyword = "DEFPUSHBUTTON" if role.startswith("DEFAULT") else "PUSHBUTTON"
            left = BUTTON_RIGHT - BUTTON_STEP * (len(buttons) - 1 - index)
            lines.append(f"    {keyword} {label}, {control}, {left}, {BUTTON_TOP}, {BUTTON_SIZE}")
        lines.append("END")
        lines.append("")
    return "\n".join(lines)


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    text = script(read_layout(argv[1]), argv[2])
    with open(argv[3], "w", encoding="ascii") as out:
        out.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
