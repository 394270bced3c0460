// The record of an unattended run: its options (/answers:, /log:, /norestart, /silent), the log
// it appends to, and its outcome, which gives the process's exit code. The record outlives the
// frame, so that a frame that could not come up still ends with the code that says why.
#include "toolkit/answers.h"
#include "toolkit/core.h"

#include <toolkit.h>

#include <cstdio>

namespace toolkit {
namespace {

struct Record {
    RunOptions options;
    bool unattended = false;
    HANDLE log = INVALID_HANDLE_VALUE;
    UINT failure = 0; // the first failure's exit code, 0 while none
    bool cancelled = false;
    LONG restart = -1;            // the restart decision, once the main sequence reached it
    bool restartForeseen = false; // the restart's lines are in the log before it begins
    bool removal = false;         // the run removed the driver (the codes then mean "removed")
};

Record g_record;

#ifndef SETUP_VERSION
#define SETUP_VERSION "0"
#endif

// The command line split into words; double quotes group blanks and are dropped.
std::vector<std::string> SplitCommandLine(std::string_view cmdLine) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (char c : cmdLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

// "/name" or "/name:value" ('-' for '/', any case); the value, or "" for a bare switch.
std::optional<std::string> OptionValue(const std::string& word, std::string_view name,
                                       bool takesValue) {
    if (word.size() < name.size() + 1 || (word[0] != '/' && word[0] != '-') ||
        !NameEquals(std::string_view(word).substr(1, name.size()), name)) {
        return std::nullopt;
    }
    std::string_view rest = std::string_view(word).substr(1 + name.size());
    if (takesValue) {
        if (rest.empty() || rest[0] != ':') {
            return std::nullopt;
        }
        return std::string(rest.substr(1));
    }
    return rest.empty() ? std::optional<std::string>("") : std::nullopt;
}

// One line of the log: no control character may break it in two.
std::string OneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    return line;
}

std::string WindowsVersion() {
    DWORD version = GetVersion();
    char text[64];
    std::snprintf(text, sizeof text, "Windows%s %u.%u (build %u)",
                  (version & 0x80000000u) ? "" : " NT", static_cast<unsigned>(version & 0xFF),
                  static_cast<unsigned>((version >> 8) & 0xFF),
                  static_cast<unsigned>((version >> 16) & 0x7FFF));
    return text;
}

// The size of a file just copied, read back through the platform's file functions.
std::string SizeOf(const std::string& file) {
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return "size unknown";
    }
    DWORD high = 0;
    DWORD size = GetFileSize(handle, &high);
    CloseHandle(handle);
    if (size == INVALID_FILE_SIZE || high != 0) {
        return "size unknown";
    }
    return std::to_string(size) + " bytes";
}

const char* Meaning(UINT code) {
    switch (code) {
    case SETUP_EXIT_INSTALLED:
        return "installed";
    case SETUP_EXIT_CANCELLED:
        return "ended by the answers";
    case SETUP_EXIT_FAILED:
        return "failed";
    case SETUP_EXIT_ANSWERS_UNREADABLE:
        return "the answers file could not be read";
    case SETUP_EXIT_LOG_UNUSABLE:
        return "the log could not be opened";
    case SETUP_EXIT_RESTARTING:
        return "installed, Windows is restarting";
    case SETUP_EXIT_RESTART_NEEDED:
        return "installed, Windows must be restarted";
    case SETUP_EXIT_NOT_INSTALLED:
        return "nothing to remove: the driver is not installed";
    default:
        return "";
    }
}

// The exit code of an unattended run whose restart decision is restart, by the rule.
UINT RunCode(LONG restart) {
    return RunExitCode(g_record.failure, g_record.cancelled, restart);
}

std::string EndLine(UINT code) {
    std::string meaning = Meaning(code);
    if (g_record.removal && code == SETUP_EXIT_INSTALLED) {
        meaning = "removed";
    } else if (g_record.removal && code == SETUP_EXIT_RESTART_NEEDED) {
        meaning = "removed, Windows must be restarted";
    }
    return "end: exit code " + std::to_string(code) + " (" + meaning + ")";
}

} // namespace

RunOptions ParseRunOptions(std::string_view cmdLine) {
    RunOptions options;
    for (const std::string& word : SplitCommandLine(cmdLine)) {
        if (std::optional<std::string> answers = OptionValue(word, "answers", true)) {
            options.answers = answers;
        } else if (std::optional<std::string> log = OptionValue(word, "log", true)) {
            options.log = log;
        } else if (OptionValue(word, "norestart", false)) {
            options.noRestart = true;
        } else if (OptionValue(word, "silent", false)) {
            options.silent = true;
        } else if (OptionValue(word, "remove", false)) {
            options.remove = true;
        }
    }
    return options;
}

void BeginRecord(const RunOptions& options, bool unattended) {
    if (g_record.log != INVALID_HANDLE_VALUE) {
        CloseHandle(g_record.log);
    }
    g_record = Record{};
    g_record.unattended = unattended;
    if (unattended) { // an interactive run takes none of these
        g_record.options = options;
    }
}

const RunOptions& Options() {
    return g_record.options;
}

bool Unattended() {
    return g_record.unattended;
}

bool Silent() {
    return g_record.unattended && g_record.options.silent;
}

bool OpenLog(std::string_view cmdLine) {
    if (!g_record.unattended || !g_record.options.log) {
        return true;
    }
    std::string path = FullPath(*g_record.options.log);
    HANDLE log = INVALID_HANDLE_VALUE;
    if (!path.empty()) {
        log = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (log != INVALID_HANDLE_VALUE &&
        SetFilePointer(log, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        CloseHandle(log);
        log = INVALID_HANDLE_VALUE;
    }
    if (log == INVALID_HANDLE_VALUE) {
        Fail(SETUP_EXIT_LOG_UNUSABLE);
        return false;
    }
    g_record.log = log;
    Log("start: setup " SETUP_VERSION " on " + WindowsVersion() +
        "; command line: " + std::string(cmdLine));
    return true;
}

void Log(std::string_view event) {
    if (g_record.log == INVALID_HANDLE_VALUE) {
        return;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    std::string line = stamp + OneLine(event) + "\r\n";
    DWORD written = 0;
    // Each line reaches the disk before setup goes on: a run that dies leaves what it did.
    if (!WriteFile(g_record.log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size() || !FlushFileBuffers(g_record.log)) {
        CurrentRecorder().Note("Setup could not write to its log.\n");
    }
}

void Explain(std::string_view text) {
    CurrentRecorder().Note(text);
    Log(TrimBlanks(text, " \t\r\n"));
}

void LogCopied(const std::string& target, size_t done, size_t total) {
    if (g_record.log == INVALID_HANDLE_VALUE) {
        return;
    }
    Log("copied " + target + " (" + SizeOf(target) + ")");
    if (Silent()) { // the billboard's gauge, which nobody sees
        Log("progress " + std::to_string(total ? done * 100 / total : 100) + "%");
    }
}

void LogMessageBox(std::string_view text, std::string_view caption, UINT style) {
    // The answer is the box's default button; setup's boxes have only OK.
    static constexpr const char* kDefaults[] = {"OK", "OK", "Abort", "Yes", "Yes", "Retry"};
    UINT type = style & 0x0F;
    UINT second = (style & 0x0F00) == 0x0100;
    const char* answer = type < 6 ? kDefaults[type] : "OK";
    if (second) {
        static constexpr const char* kSeconds[] = {"OK", "Cancel", "Retry", "No", "No", "Cancel"};
        answer = type < 6 ? kSeconds[type] : "OK";
    }
    Log("message box \"" + std::string(caption) + "\": " + std::string(text) + " -> " + answer);
}

void Fail(UINT code) {
    if (g_record.failure == 0) {
        g_record.failure = code;
    }
}

void Cancelled() {
    g_record.cancelled = true;
}

void Removed(LONG restart) {
    g_record.removal = true;
    g_record.restart = restart;
}

// The removal's end: what it did; the outcome the exit code tells is the rule's.
void LogRemoval(const std::string& how, LONG result) {
    std::string by = how.empty() ? "" : " (" + how + ")";
    switch (result) {
    case UNDO_DONE:
    case UNDO_RESTART:
        Log("removal: done" + by +
            (result == UNDO_RESTART ? "; some files go at the next restart" : ""));
        break;
    case UNDO_NO_RECORD:
        Log("removal: the driver is not installed");
        break;
    case UNDO_DECLINED:
        Log("removal: declined");
        break;
    case UNDO_REFUSED:
        Log("removal: refused; nothing was changed");
        break;
    default:
        Log("removal: failed part way" + by + "; run setup /remove again to finish it");
        break;
    }
    RemovalEnded(result);
}

} // namespace toolkit

LONG WINAPI LLogSetupEvent(UINT uEvent, LPCSTR szText, LONG lResult) {
    std::string text = szText ? szText : "";
    switch (uEvent) {
    case SETUP_LOG_HANDSHAKE:
        toolkit::Log("driver handshake: " + text +
                     (lResult == 0   ? " refused to install (0)"
                      : lResult == 2 ? " installed, and asks for a restart (2)"
                                     : " installed (" + std::to_string(lResult) + ")"));
        if (lResult == 0) {
            toolkit::Fail(SETUP_EXIT_FAILED);
        }
        break;
    case SETUP_LOG_REGISTRATION:
        toolkit::Log(std::string("multimedia registration: ") + (lResult ? "done" : "failed"));
        if (!lResult) {
            toolkit::Fail(SETUP_EXIT_FAILED);
        }
        break;
    case SETUP_LOG_MODEM:
        toolkit::Log("modem: " + text + ": " + (lResult ? "yes" : "no"));
        break;
    case SETUP_LOG_RESTART:
        toolkit::g_record.restart = lResult;
        if (lResult == 2 && toolkit::g_record.restartForeseen) {
            break; // the log already says so
        }
        toolkit::Log(lResult == 0   ? "restart: not asked for"
                     : lResult == 2 ? "restart: asked for, and Windows is restarting"
                     : toolkit::Options().noRestart ? "restart: asked for, not begun (/norestart)"
                                                    : "restart: asked for, but Windows refused it");
        break;
    case SETUP_LOG_REMOVAL:
        toolkit::LogRemoval(text, lResult);
        break;
    default:
        toolkit::Log(text);
        break;
    }
    return lResult;
}

// Asked right before the restart: Windows may end the process, and cut the log, before setup
// can tell how the run ended, so the log says it now. Should the restart not begin after all,
// the lines that follow say so, and the last end line holds.
BOOL WINAPI FRestartAllowed(void) {
    toolkit::Record& record = toolkit::g_record;
    if (record.unattended && record.options.noRestart) {
        return FALSE;
    }
    if (record.unattended) {
        record.restartForeseen = true;
        toolkit::Log("restart: asked for, and Windows is restarting");
        toolkit::Log(toolkit::EndLine(toolkit::RunCode(2)));
    }
    return TRUE;
}

UINT WINAPI UExitCode(void) {
    toolkit::Record& record = toolkit::g_record;
    toolkit::EndUndoRecord();
    if (!record.unattended) {
        return 0; // an interactive run ends as it always has
    }
    UINT code = toolkit::RunCode(record.restart);
    if (!(record.restartForeseen && record.restart == 2)) {
        toolkit::Log(toolkit::EndLine(code));
    }
    if (record.log != INVALID_HANDLE_VALUE) {
        CloseHandle(record.log);
        record.log = INVALID_HANDLE_VALUE;
    }
    return code;
}
