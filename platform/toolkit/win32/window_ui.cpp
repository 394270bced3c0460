// The Windows builds' screen: the setup frame with the dialog library's bitmap, dialogs created
// from the library's resources with its own procedures, the billboard's progress bar, message
// boxes, the wait cursor, and program groups (progman_dde.cpp); an unattended run's answers are
// given by unattended.cpp. Everything runs on setup's one thread; setup's message pump dispatches
// the frame's and the dialogs' messages. Windows calls the procedures here: no C++ exception may
// leave one.
#include "qvxcui/resource.h"
#include "toolkit/core.h"
#include "toolkit/win32/progman_dde.h"
#include "setup/win32/setup_res.h"
#include "toolkit/win32/unattended.h"

#include <commctrl.h>

namespace toolkit {
namespace {

constexpr const char* kFrameClass = "QvxSetupFrame";

// The frame keeps what the window procedure needs: its bitmap, and whether the wait cursor is
// out (HShowWaitCursor, or the copy's billboard), which the frame keeps up.
HBITMAP g_bitmap = nullptr;
UINT g_busy = 0;

// The copy gauge takes 16-bit positions (PBM_SETRANGE; Windows NT 3.51 and the first NT 4.0
// have no PBM_SETRANGE32): a longer copy list is scaled to this.
constexpr size_t kGaugeMost = 0xFFFF;

void PaintFrame(HWND hwnd) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    RECT area;
    GetClientRect(hwnd, &area);
    HBRUSH ground = CreateSolidBrush(RGB(0, 0, 128));
    FillRect(dc, &area, ground);
    DeleteObject(ground);
    if (g_bitmap) {
        BITMAP info;
        GetObjectA(g_bitmap, sizeof info, &info);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, g_bitmap);
        BitBlt(dc, 16, 16, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    EndPaint(hwnd, &paint);
}

LRESULT FrameMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT:
        PaintFrame(hwnd);
        return 0;
    case WM_SETCURSOR:
        if (g_busy > 0 && LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
            return TRUE;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    case WM_ENTERIDLE:
        return 0; // an unattended run answers the waiting dialog as this is sent (unattended.cpp)
    case WM_CLOSE:
        // Closing the frame asks the session to end; setup leaves through its failure path.
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

// Nothing unwinds into the window manager: the images are built without exceptions, and their
// runtime ends the process where the C++ library would throw.
LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return FrameMessage(hwnd, msg, wParam, lParam);
}

class WindowScreen : public Ui {
  public:
    void RunBegun() override {
        unanswerable_.clear();
        if (!WatchDialogs()) {
            Unanswerable("SetWindowsHookExA(WH_CALLWNDPROC)");
        }
    }

    HWND OpenFrame() override {
        if (!unanswerable_.empty()) {
            Log(unanswerable_); // the log is open now
            return nullptr;     // an unattended run would wait on a dialog nobody answers
        }
        instance_ = GetModuleHandleA(nullptr);
        // The first COMCTL32 of Windows NT 4.0 has no InitCommonControlsEx; this call
        // registers the progress bar there and everywhere since.
        InitCommonControls();
        WNDCLASSA frameClass{};
        frameClass.lpfnWndProc = FrameProc;
        frameClass.hInstance = instance_;
        frameClass.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_SETUP));
        if (!frameClass.hIcon) {
            frameClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
        }
        frameClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        frameClass.lpszClassName = kFrameClass;
        RegisterClassA(&frameClass); // a second frame finds the class registered
        // The frame covers the work area, as setup frames do, and comes up the way the program
        // was started (minimized from a shortcut that says so).
        RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        RECT work = {};
        if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) && !IsRectEmpty(&work)) {
            area = work; // else the screen: NT 3.51 has no work area
        }
        frame_ = CreateWindowExA(0, kFrameClass, "", WS_OVERLAPPEDWINDOW, area.left, area.top,
                                 area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                 instance_, nullptr);
        if (frame_ && !Silent()) {
            STARTUPINFOA start{};
            start.cb = sizeof start;
            GetStartupInfoA(&start);
            ShowWindow(frame_,
                       (start.dwFlags & STARTF_USESHOWWINDOW) ? start.wShowWindow : SW_SHOWNORMAL);
            UpdateWindow(frame_);
        }
        return frame_;
    }

    void AnswerEveryMessageBox() override {
        if (!AnswerMessageBoxes()) {
            Unanswerable("SetWindowsHookExA(WH_CBT)");
        }
    }

    HINSTANCE FrameInstance() override { return instance_; }

    void CloseFrame() override {
        if (frame_) {
            DestroyWindow(frame_);
            frame_ = nullptr;
        }
        if (g_bitmap) {
            DeleteObject(g_bitmap);
            g_bitmap = nullptr;
        }
        if (library_) {
            FreeLibrary(library_);
            library_ = nullptr;
            SetDialogLibrary(nullptr);
        }
        g_busy = 0;
    }

    bool SetBitmap(UINT idBitmap) override {
        if (!Library()) {
            return false;
        }
        HBITMAP bitmap = LoadBitmapA(library_, MAKEINTRESOURCEA(idBitmap));
        if (!bitmap) {
            LibraryFault("it has no bitmap " + std::to_string(idBitmap));
            return false;
        }
        if (g_bitmap) {
            DeleteObject(g_bitmap);
        }
        g_bitmap = bitmap;
        InvalidateRect(frame_, nullptr, TRUE);
        return true;
    }

    BOOL RunModal(const qvxcui::DialogTemplate& dialog, const std::string* answer) override {
        DLGPROC proc = Procedure(dialog);
        if (!proc) {
            return FALSE;
        }
        if (answer && Silent()) {
            return DialogBoxUnseen(library_, dialog.id, frame_, proc, *answer) == IDOK;
        }
        INT_PTR result = DialogBoxAnswered(library_, dialog.id, frame_, proc, answer);
        if (result == -1) {
            LibraryFault("it has no dialog " + std::to_string(dialog.id));
        }
        return result == IDOK;
    }

    BOOL OpenModeless(const qvxcui::DialogTemplate& dialog, HWND& window) override {
        window = nullptr;
        DLGPROC proc = Procedure(dialog);
        if (!proc) {
            return FALSE;
        }
        if (Silent()) {
            window = CreateDialogUnseen(library_, dialog.id, frame_, proc);
        } else {
            OwnDialog own;
            window = CreateDialogParamA(library_, MAKEINTRESOURCEA(dialog.id), frame_, proc, 0);
        }
        if (!window) {
            LibraryFault("it has no dialog " + std::to_string(dialog.id));
            return FALSE;
        }
        if (!Silent()) {
            ShowWindow(window, SW_SHOWNORMAL);
            UpdateWindow(window);
        }
        if (HWND gauge = GetDlgItem(window, IDC_GAUGE)) {
            if (!gauge_) {
                ++g_busy; // the copy runs while the gauge is up
            }
            gauge_ = gauge;
        }
        return TRUE;
    }

    void CloseModeless(HWND window) override {
        if (gauge_ && GetParent(gauge_) == window) {
            gauge_ = nullptr;
            g_busy -= g_busy > 0 ? 1 : 0;
        }
        DestroyWindow(window);
    }

    void Progress(size_t done, size_t total, std::string_view) override {
        if (!gauge_) {
            return;
        }
        // An empty list is a full gauge; a long one is scaled to the 16-bit range.
        size_t most = total == 0 ? 1 : (total < kGaugeMost ? total : kGaugeMost);
        size_t at = total == 0
                        ? 1
                        : static_cast<size_t>(static_cast<unsigned long long>(done) * most / total);
        SendMessageA(gauge_, PBM_SETRANGE, 0, MAKELPARAM(0, most));
        SendMessageA(gauge_, PBM_SETPOS, static_cast<WPARAM>(at), 0);
        UpdateWindow(GetParent(gauge_));
    }

    void ShowMessageBox(std::string_view text, std::string_view caption, UINT style) override {
        if (Silent()) {
            return; // answered with its default button, as the log says
        }
        std::string body(text);
        std::string title(caption);
        // An unattended run's hook presses the box's default button; the log has it already.
        ToolkitBoxComing();
        ::MessageBoxA(frame_, body.c_str(), title.c_str(), style);
    }

    HCURSOR WaitCursor() override {
        ++g_busy;
        return SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    }

    BOOL RestoreCursor(HCURSOR cursor) override {
        g_busy -= g_busy > 0 ? 1 : 0;
        if (g_busy == 0) {
            SetCursor(cursor);
        }
        return TRUE;
    }

    bool MakeGroup(std::string_view group, std::string& folder) override {
        folder.clear(); // Program Manager decides where its groups live
        // A common group, seen by every user of the machine, as on the host build.
        return progman::CreateGroup(group, Silent());
    }

    bool ShowGroup(std::string_view group, std::string_view command, std::string& folder) override {
        folder.clear();
        if (Silent()) {
            return true; // the group is made all the same; a silent run opens no window of it
        }
        return progman::ShowGroup(frame_, group, command);
    }

    bool AddItem(std::string_view, std::string_view item, std::string_view command,
                 std::string& folder, std::string& shortcut) override {
        folder.clear();
        shortcut.clear();
        // Program Manager adds the item to the group made or shown last.
        return progman::AddItem(item, command);
    }

    // Setup's items live only in setup's group, which goes with them.
    bool RemoveItem(std::string_view, std::string_view) override { return true; }
    bool RemoveGroup(std::string_view group) override { return progman::DeleteGroup(group); }

  private:
    // Without its hooks an unattended run cannot answer its dialogs: the frame does not come up,
    // and setup ends through its failure path, the log saying why.
    void Unanswerable(const char* call) {
        DWORD error = GetLastError();
        unanswerable_ = "setup cannot answer its dialogs: " + std::string(call) +
                        " failed (error " + std::to_string(error) + ")";
    }

    // The dialog library is the one beside SETUP.EXE, named by its full path: a bare name is
    // looked up in the current directory too, which NT 3.51 and 4.0 search before the system's.
    static std::string BesideProgram(std::string_view name) {
        char path[MAX_PATH];
        DWORD cch = GetModuleFileNameA(nullptr, path, sizeof path);
        if (cch == 0 || cch >= sizeof path) {
            return ""; // loads nothing: the library cannot be found
        }
        std::string full(path, cch);
        return full.substr(0, full.find_last_of("\\/:") + 1) + std::string(name);
    }

    HMODULE Library() {
        if (!library_) {
            std::string name = BesideProgram(qvxcui::kLibraryName);
            // A damaged file is reported here, not in a system box nobody answers.
            UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
            library_ = LoadLibraryA(name.c_str());
            DWORD error = GetLastError();
            SetErrorMode(mode);
            SetDialogLibrary(library_);
            if (!library_) {
                LibraryFault(error == ERROR_MOD_NOT_FOUND || error == ERROR_FILE_NOT_FOUND
                                 ? std::string("the file cannot be found")
                                 : "the file is damaged (error " + std::to_string(error) + ")");
            }
        }
        return library_;
    }

    // The procedure the library exports under the dialog's name, as setup named it.
    DLGPROC Procedure(const qvxcui::DialogTemplate& dialog) {
        if (!Library()) {
            return nullptr;
        }
        DLGPROC proc = reinterpret_cast<DLGPROC>(
            reinterpret_cast<void*>(GetProcAddress(library_, dialog.procedure)));
        if (!proc) {
            LibraryFault("it has no procedure " + std::string(dialog.procedure));
        }
        return proc;
    }

    // Without its dialog library setup cannot show even its error dialog: a plain message box
    // says why, once, before setup leaves through its failure path.
    void LibraryFault(const std::string& why) {
        if (libraryFaultShown_) {
            return;
        }
        libraryFaultShown_ = true;
        std::string text = "Setup cannot use its dialog library " +
                           std::string(qvxcui::kLibraryName) + ": " + why +
                           ".\n\nCopy the files of the setup disk again, then run Setup again.";
        ::MessageBoxA(frame_, text.c_str(), "Setup", MB_ICONHAND | MB_OK);
    }

    HINSTANCE instance_ = nullptr;
    HWND frame_ = nullptr;
    HMODULE library_ = nullptr;
    HWND gauge_ = nullptr;
    bool libraryFaultShown_ = false;
    std::string unanswerable_; // why an unattended run cannot answer its dialogs
};

} // namespace

Ui& DefaultUi() {
    static WindowScreen screen;
    return screen;
}

} // namespace toolkit
