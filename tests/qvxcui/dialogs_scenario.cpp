// The real screen under 32-bit Wine: the toolkit's frame and qvxcui.dll's dialogs, driven as a
// user drives them. Each dialog opens with the focus on its default button, centred on the frame;
// Enter, Escape and the close box give the table's answers; the copy gauge is set with the
// messages every COMCTL32 has and ends full; the frame covers the work area, has its icon, keeps
// the wait cursor up and comes up the way the program was started, and in front of a program
// group's window; every message box of an unattended run is answered, setup's own included; C++
// exceptions work on crtdll.dll.
//   dialogs_scenario.exe               the scenario; prints each failed check, exit 0 when none
//   dialogs_scenario.exe no-library    started where qvxcui.dll is missing or damaged
//   dialogs_scenario.exe frame-state   exit 1 when the frame came up minimized (a child run)
#include "qvxcui/resource.h"

#include <toolkit.h>

#include <commctrl.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

void Check(bool ok, const std::string& what) {
    if (!ok) {
        ++g_failures;
        std::printf("FAILED %s\n", what.c_str());
    }
}

std::string Event() {
    char event[32] = "";
    CbGetSymbolValue("DLGEVENT", event, sizeof event);
    return event;
}

UINT ErrorMode() {
    UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    return mode;
}

POINT Centre(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// How the user leaves a dialog, and what the dialog must report for it.
enum class Key { kEnter, kEscape, kCloseBox };
struct Row {
    UINT id;
    const char* procedure;
    Key key;
    const char* event;
};

// Enter presses the default button; Escape and the close box never restart Windows, never go
// on past a question, and in the quit confirmation go back.
constexpr Row kRows[] = {
    {100, "FInfoDlgProc", Key::kEnter, "CONTINUE"},
    {100, "FInfoDlgProc", Key::kEscape, "EXIT"},
    {100, "FInfoDlgProc", Key::kCloseBox, "EXIT"},
    {200, "FQuitDlgProc", Key::kEnter, "CONTINUE"},
    {200, "FQuitDlgProc", Key::kEscape, "CONTINUE"},
    {200, "FQuitDlgProc", Key::kCloseBox, "CONTINUE"},
    {400, "FInfo0DlgProc", Key::kEnter, "CONTINUE"},
    {400, "FInfo0DlgProc", Key::kEscape, "CONTINUE"},
    {600, "FInfoDlgProc", Key::kEnter, "CONTINUE"},
    {600, "FInfoDlgProc", Key::kCloseBox, "CONTINUE"},
    {700, "FInfoDlgProc", Key::kEnter, "CONTINUE"},
    {700, "FInfoDlgProc", Key::kEscape, "CONTINUE"},
    {700, "FInfoDlgProc", Key::kCloseBox, "CONTINUE"},
    // The removal's confirmation: only its Remove button removes.
    {800, "FInfoDlgProc", Key::kEnter, "CANCEL"},
    {800, "FInfoDlgProc", Key::kEscape, "CANCEL"},
    {800, "FInfoDlgProc", Key::kCloseBox, "CANCEL"},
    {900, "FInfoDlgProc", Key::kEscape, "CONTINUE"},
    {6400, "FInfo0DlgProc", Key::kEnter, "CONTINUE"},
    {6400, "FInfo0DlgProc", Key::kEscape, "EXIT"},
    {6400, "FInfo0DlgProc", Key::kCloseBox, "EXIT"},
};

// The dialog up now, and what the frame does at its first idle moment.
const Row* g_row = nullptr;
bool g_acted = false;
WNDPROC g_frameProc = nullptr;

void ActOn(HWND dialog) {
    std::string name = "dialog " + std::to_string(g_row->id);
    HWND focus = GetFocus();
    // Continue everywhere but in the removal's confirmation, whose default is Cancel.
    const int idDefault = g_row->id == 800 ? IDC_CANCEL : IDC_CONTINUE;
    Check(focus == GetDlgItem(dialog, idDefault), name + ": the focus is on control " +
                                                      std::to_string(GetDlgCtrlID(focus)) +
                                                      ", not the default button");
    Check(GetForegroundWindow() == dialog, name + ": not in front");
    POINT dialogAt = Centre(dialog);
    POINT frameAt = Centre(HwndFrame());
    Check(labs(dialogAt.x - frameAt.x) <= 2 && labs(dialogAt.y - frameAt.y) <= 2,
          name + ": not centred on the frame");
    // An answer claiming another thread, or carrying a pointer (any program can post one), is
    // refused: the dialog stays up for the key below.
    SendMessageA(dialog, QVX_ANSWER, GetCurrentThreadId() + 1, 0);
    SendMessageA(dialog, QVX_ANSWER, GetCurrentThreadId(), reinterpret_cast<LPARAM>("RESTART"));
    switch (g_row->key) {
    case Key::kEnter:
        PostMessageA(focus, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        break;
    case Key::kEscape:
        PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        break;
    case Key::kCloseBox:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

LRESULT CALLBACK TestFrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX && g_row && !g_acted) {
        g_acted = true;
        ActOn(reinterpret_cast<HWND>(lParam));
    }
    return CallWindowProcA(g_frameProc, hwnd, msg, wParam, lParam);
}

void RunDialogs() {
    HWND frame = HwndFrame();
    g_frameProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TestFrameProc)));
    const char* keys[] = {"Enter", "Escape", "the close box"};
    for (const Row& row : kRows) {
        g_row = &row;
        g_acted = false;
        FSetSymbolValue("DLGEVENT", "");
        std::string name =
            "dialog " + std::to_string(row.id) + ", " + keys[static_cast<int>(row.key)];
        Check(FDoDialogExt(frame, "qvxcui.dll", row.id, row.procedure, "qvxcui.dll", 0, 0),
              name + ": not shown");
        Check(Event() == row.event, name + ": answered " + Event() + ", not " + row.event);
        FKillNDialogs(1);
    }
    g_row = nullptr;

    // The opening dialog stays up while setup works: centred, and the pointer over it waits.
    Check(FDoDialogExt(frame, "qvxcui.dll", 5100, "FModelessDlgProc", "qvxcui.dll", 0, 0),
          "opening dialog not shown");
    HWND opening = FindWindowA("#32770", SZ_TITLE_5100);
    POINT openingAt = Centre(opening);
    POINT frameAt = Centre(frame);
    Check(opening && labs(openingAt.x - frameAt.x) <= 2 && labs(openingAt.y - frameAt.y) <= 2,
          "opening dialog not centred on the frame");
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    SendMessageA(opening, WM_SETCURSOR, reinterpret_cast<WPARAM>(opening),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    Check(GetCursor() == LoadCursorA(nullptr, IDC_WAIT), "no wait cursor over the opening dialog");
    FKillNDialogs(-1);
}

// The gauge of the copy, seen after each message it gets.
struct Gauge {
    bool wideRange = false;
    PBRANGE range{};
    LRESULT position = -1;
    int positions = 0;
} g_gauge;

LRESULT CALLBACK WatchGauge(int code, WPARAM wParam, LPARAM lParam) {
    auto* sent = reinterpret_cast<CWPRETSTRUCT*>(lParam);
    char className[32] = "";
    if (code == HC_ACTION && GetClassNameA(sent->hwnd, className, sizeof className) &&
        lstrcmpiA(className, PROGRESS_CLASSA) == 0) {
        if (sent->message == PBM_SETRANGE32) {
            g_gauge.wideRange = true; // COMCTL32 4.70 and later only
        } else if (sent->message == PBM_SETPOS) {
            SendMessageA(sent->hwnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&g_gauge.range));
            g_gauge.position = SendMessageA(sent->hwnd, PBM_GETPOS, 0, 0);
            ++g_gauge.positions;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void RunCopy() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string from = std::string(temp) + "qvxdlg\\";
    std::string to = from + "out\\";
    CreateDirectoryA(from.c_str(), nullptr);
    std::string inf = "[Library Files]\r\n";
    const int files = 3;
    for (int i = 0; i < files; ++i) {
        std::string name = "FILE" + std::to_string(i) + ".DAT";
        inf += name + "\r\n";
        HANDLE file = CreateFileA((from + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  0, nullptr);
        CloseHandle(file);
    }
    HANDLE file = CreateFileA((from + "SETUP.INF").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, inf.data(), static_cast<DWORD>(inf.size()), &written, nullptr);
    CloseHandle(file);

    Check(FOpenInf((from + "SETUP.INF").c_str(), 1, 0), "setup.inf of the copy not opened");
    Check(FAddSectionFilesToCopyList("Library Files", from.c_str(), to.c_str()),
          "copy list not made");
    Check(FAddToBillboardList("qvxcui.dll", 5000, "FModelessDlgProc", 5), "billboard not set");
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, WatchGauge, nullptr, GetCurrentThreadId());
    Check(GrcCopyFilesInCopyList(HinstFrame()) == 0, "copy failed");
    UnhookWindowsHookEx(hook);
    Check(!g_gauge.wideRange, "gauge set with PBM_SETRANGE32, which NT 3.51 and 4.0 lack");
    Check(g_gauge.positions > 0, "gauge never moved");
    Check(g_gauge.range.iLow == 0 && g_gauge.range.iHigh == files,
          "gauge range " + std::to_string(g_gauge.range.iLow) + ".." +
              std::to_string(g_gauge.range.iHigh) + ", not 0.." + std::to_string(files));
    Check(g_gauge.position == g_gauge.range.iHigh,
          "gauge ends at " + std::to_string(g_gauge.position) + ", not full");
}

void CheckFrame() {
    HWND frame = HwndFrame();
    RECT area, at;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(frame, &at);
    Check(EqualRect(&area, &at), "the frame does not cover the work area");
    auto icon = reinterpret_cast<HICON>(GetClassLongPtrA(frame, GCLP_HICON));
    Check(icon && icon != LoadIconA(nullptr, IDI_APPLICATION), "the frame has no icon of its own");

    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    LPARAM overClient = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
    HCURSOR before = HShowWaitCursor();
    SendMessageA(frame, WM_SETCURSOR, reinterpret_cast<WPARAM>(frame), overClient);
    Check(GetCursor() == wait, "the wait cursor goes when the pointer moves");
    FRestoreCursor(before);
    SendMessageA(frame, WM_SETCURSOR, reinterpret_cast<WPARAM>(frame), overClient);
    Check(GetCursor() == arrow, "the wait cursor stays after it was restored");

    // Started minimized (a shortcut that says so), the frame comes up minimized.
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = "\"" + std::string(self) + "\" frame-state";
    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESHOWWINDOW;
    start.wShowWindow = SW_SHOWMINNOACTIVE;
    PROCESS_INFORMATION child{};
    DWORD iconic = 0;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &start, &child)) {
        WaitForSingleObject(child.hProcess, INFINITE);
        GetExitCodeProcess(child.hProcess, &iconic);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
    Check(iconic == 1, "started minimized, the frame is not");
    Check(!(ErrorMode() & SEM_FAILCRITICALERRORS), "an interactive run hides the system's boxes");
}

// Program Manager's group: the shell's window for it is up when the call returns, and the frame
// is in front of it again, so setup's next dialog is not hidden.
BOOL CALLBACK FindGroupWindow(HWND hwnd, LPARAM lParam) {
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    char title[64] = "";
    GetWindowTextA(hwnd, title, sizeof title);
    if (process != GetCurrentProcessId() && IsWindowVisible(hwnd) &&
        lstrcmpiA(title, "Mixer") == 0) {
        *reinterpret_cast<bool*>(lParam) = true;
    }
    return TRUE;
}

void RunGroup() {
    Check(FCreateProgManGroup("Mixer", "", 1), "group not made");
    Check(FShowProgManGroup("Mixer", "2", 1), "group not shown");
    bool shown = false;
    EnumWindows(FindGroupWindow, reinterpret_cast<LPARAM>(&shown));
    Check(shown, "the shell's window of the group is not up");
    Check(GetForegroundWindow() == HwndFrame(), "the frame is behind the group's window");
}

// An unattended run answers every box, setup's own MessageBoxA too, even when its answers
// cannot be read, and leaves the library's dialogs to their answers. A box or dialog left
// waiting stops the scenario here.
void CheckUnattended() {
    char missing[] = "/answers:Q:\\NO\\ANSWERS.INI";
    Check(InitializeFrame(missing) == nullptr, "a missing answers file is accepted");
    Check(MessageBoxA(nullptr, "Cannot initialize setup!", "Error", MB_ICONHAND) == IDOK,
          "setup's own message box not answered");

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string path = std::string(temp) + "qvxdlg\\ANSWERS.INI";
    WritePrivateProfileStringA("Answers", "100", "CANCEL", path.c_str());
    WritePrivateProfileStringA("Answers", "200", "ODD", path.c_str()); // no button says it
    std::string command = "/answers:" + path;
    Check(InitializeFrame(command.data()) != nullptr, "frame not up with answers");
    Check(ErrorMode() & SEM_FAILCRITICALERRORS, "an unattended run can wait on a system box");
    HWND frame = HwndFrame();
    Check(FDoDialogExt(frame, "qvxcui.dll", 100, "FInfoDlgProc", "qvxcui.dll", 0, 0) &&
              Event() == "CANCEL",
          "unattended welcome answered " + Event() + ", not CANCEL");
    Check(FDoDialogExt(frame, "qvxcui.dll", 200, "FQuitDlgProc", "qvxcui.dll", 0, 0) &&
              Event() == "ODD",
          "unattended quit confirmation answered " + Event() + ", not ODD");
    Check(MessageBoxA(frame, "Go on?", "Setup", MB_OKCANCEL) == IDOK,
          "a box is not answered with its default button");
    FKillNDialogs(-1);
    TerminateFrame();
}

// Where qvxcui.dll is missing or damaged, a plain message box names it, once.
std::vector<std::string> g_boxes;

LRESULT CALLBACK ReadBoxes(int code, WPARAM wParam, LPARAM lParam) {
    char className[16] = "";
    if (code == HCBT_ACTIVATE &&
        GetClassNameA(reinterpret_cast<HWND>(wParam), className, sizeof className) &&
        lstrcmpA(className, "#32770") == 0) {
        HWND box = reinterpret_cast<HWND>(wParam);
        std::string text;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            char part[512] = "";
            GetWindowTextA(child, part, sizeof part);
            text += part;
        }
        g_boxes.push_back(text);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void RunWithoutLibrary() {
    HHOOK hook = SetWindowsHookExA(WH_CBT, ReadBoxes, nullptr, GetCurrentThreadId());
    char none[] = "";
    Check(InitializeFrame(none) != nullptr, "frame not up");
    Check(!FSetBitmap("qvxcui.dll", 1), "a bitmap from a library that cannot be loaded");
    Check(!FDoDialogExt(HwndFrame(), "qvxcui.dll", 400, "FInfo0DlgProc", "qvxcui.dll", 0, 0),
          "the fatal-error dialog shown without its library");
    UnhookWindowsHookEx(hook);
    Check(g_boxes.size() == 1, std::to_string(g_boxes.size()) + " message boxes, not 1");
    Check(!g_boxes.empty() && g_boxes[0].find("qvxcui.dll") != std::string::npos,
          "the message box does not name qvxcui.dll: " + (g_boxes.empty() ? "" : g_boxes[0]));
    TerminateFrame();
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    char none[] = "";
    if (mode == "frame-state") {
        return InitializeFrame(none) && IsIconic(HwndFrame()) ? 1 : 0;
    }
    if (mode == "no-library") {
        RunWithoutLibrary();
    } else {
        // The C++ runtime unwinds on crtdll.dll, the C library the product links.
        std::string what;
        try {
            throw std::length_error(std::string(40, 'x'));
        } catch (const std::exception& error) {
            what = error.what();
        }
        Check(what == std::string(40, 'x'), "a C++ exception is not caught");
        Check(InitializeFrame(none) != nullptr, "frame not up");
        Check(FSetBitmap("qvxcui.dll", 1), "frame bitmap not set");
        CheckFrame();
        RunDialogs();
        RunCopy();
        RunGroup();
        TerminateInstall();
        TerminateFrame();
        CheckUnattended();
    }
    std::printf("%s: %d failed checks\n", mode.empty() ? "dialogs" : mode.c_str(), g_failures);
    std::fflush(stdout);
    return g_failures == 0 ? 0 : 1;
}
