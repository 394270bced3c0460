// Program Manager over DDE: each command in its own conversation, as setup programs send them.
#include "toolkit/win32/progman_dde.h"

#include "toolkit/core.h"

#include <ddeml.h>

#include <string>

namespace toolkit::progman {
namespace {

constexpr DWORD kDdeTimeoutMs = 30000;
// A shell that is still starting (a logon script that races it) answers within this.
constexpr DWORD kConnectLongestMs = 5000;
constexpr DWORD kConnectRetryMs = 250;

HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr; // a client only: nothing to answer, nothing that can throw
}

// Waits up to ms, answering what is sent to setup's windows and painting them meanwhile; a
// message for setup's own loop stays in the queue.
void PumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < ms; waited = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - waited, QS_SENDMESSAGE | QS_PAINT);
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // answers what was sent, takes nothing
        while (PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
    }
}

// A conversation with whoever serves PROGMAN (Program Manager, or Explorer); a shell that is not
// up yet is asked again for a few seconds. Null when none answered: why is in the log.
HCONV ConnectToShell(DWORD instance, HSZ service) {
    DWORD start = GetTickCount();
    while (true) {
        if (HCONV conversation = DdeConnect(instance, service, service, nullptr)) {
            return conversation;
        }
        UINT error = DdeGetLastError(instance);
        if (error != DMLERR_NO_CONV_ESTABLISHED || GetTickCount() - start >= kConnectLongestMs) {
            Log("no Program Manager or Explorer answered PROGMAN (DDE error " +
                std::to_string(error) + "): the program group cannot be made");
            return nullptr;
        }
        PumpFor(kConnectRetryMs);
    }
}

// One Program Manager command, e.g. "[CreateGroup(Mixer,1)]"; true when it was carried out.
bool ProgmanExecute(const std::string& command) {
    DWORD instance = 0;
    if (DdeInitializeA(&instance, DdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        return false;
    }
    bool ok = false;
    HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    HCONV conversation = service ? ConnectToShell(instance, service) : nullptr;
    if (conversation) {
        std::string data = command;
        HDDEDATA result = DdeClientTransaction(reinterpret_cast<LPBYTE>(data.data()),
                                               static_cast<DWORD>(data.size() + 1), conversation,
                                               nullptr, 0, XTYP_EXECUTE, kDdeTimeoutMs, nullptr);
        ok = result != nullptr;
        DdeDisconnect(conversation);
    }
    if (service) {
        DdeFreeStringHandle(instance, service);
    }
    DdeUninitialize(instance);
    return ok;
}

// The shell's windows of a program group: top-level windows of other programs titled with the
// group's name, or a path ending in it (Explorer's folder windows, Wine's too).
struct GroupWindows {
    std::string group;
    int count = 0;
    bool close = false; // each is asked to close
};

BOOL CALLBACK CountGroupWindow(HWND hwnd, LPARAM lParam) {
    auto* windows = reinterpret_cast<GroupWindows*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    char title[MAX_PATH] = "";
    if (process != GetCurrentProcessId() && IsWindowVisible(hwnd) &&
        GetWindowTextA(hwnd, title, sizeof title) > 0) {
        std::string_view text(title);
        std::string_view group(windows->group);
        bool named = NameEquals(text, group) ||
                     (text.size() > group.size() && text[text.size() - group.size() - 1] == '\\' &&
                      NameEquals(text.substr(text.size() - group.size()), group));
        windows->count += named ? 1 : 0;
        if (named && windows->close) {
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
        }
    }
    return TRUE;
}

// Explorer opens the group's folder window a moment after it has carried out the command, in
// front of setup. Setup waits for it (messages sent to its windows are still answered), at most
// longestMs: the shell is slow to start a folder window. Program Manager shows the group inside
// its own window: nothing comes, and the wait ends then.
void WaitForShellWindows(std::string_view group, DWORD longestMs) {
    constexpr DWORD kSettledMs = 300; // no further window of the group comes
    DWORD start = GetTickCount();
    DWORD lastNew = start;
    GroupWindows windows{std::string(group)};
    int seen = 0;
    while (GetTickCount() - start < longestMs) {
        windows.count = 0;
        EnumWindows(CountGroupWindow, reinterpret_cast<LPARAM>(&windows));
        if (windows.count > seen) {
            seen = windows.count;
            lastNew = GetTickCount();
        } else if (seen > 0 && GetTickCount() - lastNew >= kSettledMs) {
            break;
        }
        PumpFor(50);
    }
}

// An argument of a Program Manager command: quoted unless it carries quotes of its own.
std::string DdeArgument(std::string_view text) {
    if (text.find('"') != std::string_view::npos) {
        return std::string(text);
    }
    return "\"" + std::string(text) + "\"";
}

} // namespace

bool CreateGroup(std::string_view group, bool unseen) {
    if (!ProgmanExecute("[CreateGroup(" + DdeArgument(group) + ",1)]")) {
        return false;
    }
    if (unseen) {
        // Explorer opens the new group's window whatever it is told: a silent run closes it, so
        // that nothing is left on the screen. Windows NT 3.51's shell is Program Manager, which
        // opens none.
        WaitForShellWindows(group, LOBYTE(LOWORD(GetVersion())) >= 4 ? 10000 : 3000);
        GroupWindows windows{std::string(group), 0, true};
        EnumWindows(CountGroupWindow, reinterpret_cast<LPARAM>(&windows));
    }
    return true;
}

bool ShowGroup(HWND frame, std::string_view group, std::string_view command) {
    if (!ProgmanExecute("[ShowGroup(" + DdeArgument(group) + "," + std::string(command) + ",1)]")) {
        return false;
    }
    WaitForShellWindows(group, 3000);
    SetForegroundWindow(frame); // setup's next dialog is not hidden behind the group
    return true;
}

bool AddItem(std::string_view item, std::string_view command) {
    return ProgmanExecute("[AddItem(" + DdeArgument(command) + "," + DdeArgument(item) + ")]");
}

// The common group and every item in it.
bool DeleteGroup(std::string_view group) {
    return ProgmanExecute("[DeleteGroup(" + DdeArgument(group) + ",1)]");
}

} // namespace toolkit::progman
