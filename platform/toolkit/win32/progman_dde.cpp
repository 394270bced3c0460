// Program Manager over DDE: each command in its own conversation, as setup programs send them.
#include "toolkit/win32/progman_dde.h"

#include "toolkit/core.h"

#include <ddeml.h>

#include <string>

namespace toolkit::progman {
namespace {

constexpr DWORD kDdeTimeoutMs = 30000;

HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr; // a client only: nothing to answer, nothing that can throw
}

// One Program Manager command, e.g. "[CreateGroup(Mixer,1)]"; true when it was carried out.
bool ProgmanExecute(const std::string& command) {
    DWORD instance = 0;
    if (DdeInitializeA(&instance, DdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        return false;
    }
    bool ok = false;
    HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    HCONV conversation = service ? DdeConnect(instance, service, service, nullptr) : nullptr;
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
    }
    return TRUE;
}

// Explorer opens the group's folder window a moment after it has carried out the command, in
// front of setup. Setup waits for it (messages sent to its windows are still answered) and
// takes the front back, so that its next dialog is not hidden. Program Manager shows the group
// inside its own window: nothing comes, and the wait ends after a few seconds.
void TakeFrontBackFromShell(HWND frame, std::string_view group) {
    constexpr DWORD kLongestMs = 3000; // the shell is slow to start a folder window
    constexpr DWORD kSettledMs = 300;  // no further window of the group comes
    DWORD start = GetTickCount();
    DWORD lastNew = start;
    GroupWindows windows{std::string(group)};
    int seen = 0;
    while (GetTickCount() - start < kLongestMs) {
        windows.count = 0;
        EnumWindows(CountGroupWindow, reinterpret_cast<LPARAM>(&windows));
        if (windows.count > seen) {
            seen = windows.count;
            lastNew = GetTickCount();
        } else if (seen > 0 && GetTickCount() - lastNew >= kSettledMs) {
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_SENDMESSAGE);
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // answers what was sent, takes nothing
    }
    SetForegroundWindow(frame);
}

// An argument of a Program Manager command: quoted unless it carries quotes of its own.
std::string DdeArgument(std::string_view text) {
    if (text.find('"') != std::string_view::npos) {
        return std::string(text);
    }
    return "\"" + std::string(text) + "\"";
}

} // namespace

bool CreateGroup(std::string_view group) {
    return ProgmanExecute("[CreateGroup(" + DdeArgument(group) + ",1)]");
}

bool ShowGroup(HWND frame, std::string_view group, std::string_view command) {
    if (!ProgmanExecute("[ShowGroup(" + DdeArgument(group) + "," + std::string(command) + ",1)]")) {
        return false;
    }
    TakeFrontBackFromShell(frame, group);
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
