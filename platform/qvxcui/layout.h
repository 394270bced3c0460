/* The layout of every dialog of the dialog library "qvxcui.dll", kept once. The build generates
   the resource script from this file (tools/make_qvxcui_rc.py); the C++ code reads the same rows
   by defining the three macros before including it. One row a line, in exactly these forms,
   since the generator reads the file as text. Ids, texts and labels are the names of
   resource.h. No include guard: each reader includes it with its own macros. */
// clang-format off

/* The buttons: each control id and the word its procedure puts into "DLGEVENT". */
QVX_WORD(IDC_CONTINUE, SZ_EVENT_CONTINUE)
QVX_WORD(IDC_CANCEL, SZ_EVENT_CANCEL)
QVX_WORD(IDC_EXIT, SZ_EVENT_EXIT)
QVX_WORD(IDC_RESTART, SZ_EVENT_RESTART)
QVX_WORD(IDC_REMOVE, SZ_EVENT_REMOVE)

/* The dialogs, in id order: id, exported procedure, kind, title, text; each is followed by its
   buttons, laid out from the left to the right-hand edge and taking the focus in that order:
   dialog, control id, label, role. Kinds: MODAL (a question with buttons), GAUGE (modeless, with
   the copy gauge), NOTE (modeless, one line). Roles: DEFAULT is what Enter, or an unattended
   run, presses (CONTINUE in every dialog of the install, so such a run always ends; in the
   removal's confirmation it is Cancel, so that only an answer of REMOVE removes); CANCEL is the way out when
   no more input can come, never a restart and never "go on" where quitting is offered (Escape
   and the close box are the procedures' own: see procedures.cpp); DEFAULT_CANCEL is both. */
QVX_DIALOG(IDD_WELCOME, FInfoDlgProc, MODAL, SZ_TITLE_100, SZ_TEXT_100)
QVX_BUTTON(IDD_WELCOME, IDC_CONTINUE, SZ_LABEL_CONTINUE, DEFAULT)
QVX_BUTTON(IDD_WELCOME, IDC_CANCEL, SZ_LABEL_CANCEL, PLAIN)
QVX_BUTTON(IDD_WELCOME, IDC_EXIT, SZ_LABEL_EXIT, CANCEL)

QVX_DIALOG(IDD_QUIT, FQuitDlgProc, MODAL, SZ_TITLE_200, SZ_TEXT_200)
QVX_BUTTON(IDD_QUIT, IDC_EXIT, SZ_LABEL_EXIT_SETUP, CANCEL)
QVX_BUTTON(IDD_QUIT, IDC_CONTINUE, SZ_LABEL_GO_BACK, DEFAULT)

QVX_DIALOG(IDD_FATAL, FInfo0DlgProc, MODAL, SZ_TITLE_400, SZ_TEXT_400)
QVX_BUTTON(IDD_FATAL, IDC_CONTINUE, SZ_LABEL_CLOSE, DEFAULT_CANCEL)

QVX_DIALOG(IDD_DEVICES, FInfoDlgProc, MODAL, SZ_TITLE_600, SZ_TEXT_600)
QVX_BUTTON(IDD_DEVICES, IDC_CONTINUE, SZ_LABEL_OK, DEFAULT_CANCEL)

QVX_DIALOG(IDD_FINISH, FInfoDlgProc, MODAL, SZ_TITLE_700, SZ_TEXT_700)
QVX_BUTTON(IDD_FINISH, IDC_RESTART, SZ_LABEL_RESTART_NOW, PLAIN)
QVX_BUTTON(IDD_FINISH, IDC_CONTINUE, SZ_LABEL_RESTART_LATER, DEFAULT_CANCEL)

QVX_DIALOG(IDD_REMOVE, FInfoDlgProc, MODAL, SZ_TITLE_800, SZ_TEXT_800)
QVX_BUTTON(IDD_REMOVE, IDC_REMOVE, SZ_LABEL_REMOVE, PLAIN)
QVX_BUTTON(IDD_REMOVE, IDC_CANCEL, SZ_LABEL_CANCEL, DEFAULT_CANCEL)

QVX_DIALOG(IDD_NOT_REGISTERED, FInfoDlgProc, MODAL, SZ_TITLE_900, SZ_TEXT_900)
QVX_BUTTON(IDD_NOT_REGISTERED, IDC_CONTINUE, SZ_LABEL_OK, DEFAULT_CANCEL)

QVX_DIALOG(IDD_COPYING, FModelessDlgProc, GAUGE, SZ_TITLE_5000, SZ_TEXT_5000)

QVX_DIALOG(IDD_STARTING, FModelessDlgProc, NOTE, SZ_TITLE_5100, SZ_TEXT_5100)

QVX_DIALOG(IDD_WINDOWS_DIR, FInfo0DlgProc, MODAL, SZ_TITLE_6400, SZ_TEXT_6400)
QVX_BUTTON(IDD_WINDOWS_DIR, IDC_CONTINUE, SZ_LABEL_CONTINUE, DEFAULT)
QVX_BUTTON(IDD_WINDOWS_DIR, IDC_EXIT, SZ_LABEL_EXIT, CANCEL)
// clang-format on
