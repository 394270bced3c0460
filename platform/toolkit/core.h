// The toolkit's state behind its C interface: symbols, setup.inf, the copy list, the dialogs that
// are up, the unattended answers, the program groups made. The core works on the Win32 API alone;
// what the user sees goes through Ui (the terminal, or windows), and what only a recorded run has
// (fault checks, the run report, notes on the console) goes through Recorder.
#pragma once

#include "qvxcui/host/dialog_table.h"

#include <windows.h>

#include <cstddef>
#include <exception>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace toolkit {

// An answers file may also answer Windows' own "Install From Disk" prompt, which the device
// installer raises for the modem, by the folder to search (or CANCEL).
constexpr UINT kInstallFromDiskAnswerId = 9000;
// Setup reads the event of every dialog it answers into 15 bytes, its terminator included.
constexpr size_t kEventLimit = 15;

// Windows compares names (sections, symbols, files) without regard to ASCII case.
bool NameEquals(std::string_view a, std::string_view b);
struct NameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// INI text as the toolkit reads it (setup.inf, answers files): section name to its lines, each
// trimmed, ';' comments and empty lines dropped; the first section of a name wins.
using IniSections = std::map<std::string, std::vector<std::string>, NameLess>;
IniSections ParseIni(std::string_view text);
// The next line of an INI text, taken off its front: a line ends at CR LF, LF or a lone CR, as
// Windows reads INI files.
std::string_view TakeLine(std::string_view& text);
// A whole file read through the platform's file functions; nullopt when it cannot be read, with
// the reason in why ("it is larger than ...") when asked for.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string* why = nullptr);
std::optional<IniSections> ReadIniFile(const std::string& path, std::string* why = nullptr);

struct CopyEntry {
    std::string file; // the name as setup.inf lists it
    std::string from; // directory, ending in a backslash
    std::string to;   // directory, ending in a backslash
};

struct Billboard {
    UINT id;
    std::string procedure;
    LONG ticks;
};

struct ShownDialog {
    UINT id;
    std::string procedure;
    HWND window = nullptr; // a modeless dialog's window, where the UI has one
};

// A word of the answers file and the line it stands on.
struct Answer {
    std::string word;
    int line;
};

struct ProgramItem {
    std::string name;
    std::string command;
    std::string shortcut; // where the UI put it; empty when it keeps no file
};

struct ProgramGroup {
    std::string name;
    std::string folder;
    std::optional<std::string> show; // the last show command
    std::vector<ProgramItem> items;
};

struct State {
    HWND hwndFrame = nullptr;
    bool installUp = false;
    std::map<std::string, std::string, NameLess> symbols;
    std::optional<IniSections> inf;
    std::string infPath; // the full path setup.inf was opened by
    std::vector<CopyEntry> copyList;
    std::vector<Billboard> billboards;
    POINT gaugePos{};
    std::vector<ShownDialog> dialogs; // the dialogs that are up, the last shown at the back
    bool unattended = false;
    std::map<UINT, std::vector<Answer>> answers; // the words still to be taken
    std::string answersMisfit;       // a line that fits no dialog: the next dialog fails with it
    bool windowsDirUnusable = false; // an unattended run met the Windows-directory dialog
    UINT cursorsGiven = 0;
    std::vector<HCURSOR> cursors; // those given out, in order
    std::vector<ProgramGroup> groups;
};

// The toolkit's one state, and a fresh start of it (InitializeFrame).
State& Core();
void ResetCore();

// What the user sees and answers.
class Ui {
  public:
    virtual ~Ui() = default;
    // A run begins: its options are known, nothing is shown yet.
    virtual void RunBegun() {}
    // The frame: its window (never null when it came up) and the instance setup is given.
    virtual HWND OpenFrame() = 0;
    virtual HINSTANCE FrameInstance() = 0;
    // An unattended run: from now on every message box of setup's thread, the toolkit's and
    // setup's own, takes its default button.
    virtual void AnswerEveryMessageBox() {}
    virtual void CloseFrame() = 0;
    virtual bool SetBitmap(UINT idBitmap) = 0;
    // A modal dialog whose procedure puts the user's word into "DLGEVENT". answer is the word of
    // an unattended run, or null when the user answers. FALSE when it could not be shown.
    virtual BOOL RunModal(const qvxcui::DialogTemplate& dialog, const std::string* answer) = 0;
    // A modeless dialog comes up and stays until closed; window is what CloseModeless takes.
    virtual BOOL OpenModeless(const qvxcui::DialogTemplate& dialog, HWND& window) = 0;
    virtual void CloseModeless(HWND window) = 0;
    // The copy gauge: done of total files, the one just copied.
    virtual void Progress(size_t done, size_t total, std::string_view file) = 0;
    virtual void ShowMessageBox(std::string_view text, std::string_view caption, UINT style) = 0;
    virtual HCURSOR WaitCursor() = 0;
    virtual BOOL RestoreCursor(HCURSOR cursor) = 0;
    // Program groups, made where the user finds them. folder and shortcut say where, if anywhere.
    virtual bool MakeGroup(std::string_view group, std::string& folder) = 0;
    virtual bool ShowGroup(std::string_view group, std::string_view command,
                           std::string& folder) = 0;
    virtual bool AddItem(std::string_view group, std::string_view item, std::string_view command,
                         std::string& folder, std::string& shortcut) = 0;
    // The removal of what AddItem and MakeGroup made; true when it is gone (or was not there).
    virtual bool RemoveItem(std::string_view group, std::string_view item) {
        (void)group;
        (void)item;
        return false;
    }
    virtual bool RemoveGroup(std::string_view group) {
        (void)group;
        return false;
    }
};

// One argument of a toolkit call as the call trace holds it: a null pointer, a text, a number,
// or a handle the toolkit gave out, named by what it is ("frame", "instance", "cursor").
struct Handle {
    std::string role;
};
using CallArg = std::variant<std::monostate, std::string, long long, Handle>;
CallArg Text(LPCSTR sz);
CallArg WindowArg(HWND hwnd);
CallArg InstanceArg(HINSTANCE hinst);
CallArg CursorArg(HCURSOR hcur);
CallArg BufferArg(const void* buffer); // an output buffer: "buffer", or null

// What only a recorded run has (the host build's runs on the emulated machine): fault checks, the
// record of the run, notes, an answers file from outside. The Windows build keeps the defaults.
class Recorder {
  public:
    virtual ~Recorder() = default;
    // Whether this toolkit call must fail (fault injection); asked exactly once per call.
    virtual bool Fails(std::string_view call, std::initializer_list<std::string_view> args);
    // Why a step failed, for the person running setup.
    virtual void Note(std::string_view text);
    // An answers file named outside the command line: its name, and its text when readable.
    struct Answers {
        std::string name;
        std::optional<std::string> text;
    };
    virtual std::optional<Answers> OutsideAnswers();
    // The record of the run: its options are known (the run's log may be open), the frame is up.
    virtual void RunBegun();
    virtual void Started();
    virtual void Called(std::string_view call, const std::vector<CallArg>& args);
    virtual void DialogShowing(UINT id);
    virtual void DialogDone(UINT id, std::string_view procedure, std::string_view event);
    virtual void MessageBoxShown(std::string_view text, std::string_view caption, UINT style);
    virtual void FileCopied(std::string_view target);
    virtual void GroupsChanged(const std::vector<ProgramGroup>& groups);
};

// The options of a run's command line. Only an unattended run (one given answers) takes /log:,
// /norestart and /silent.
struct RunOptions {
    std::optional<std::string> answers; // /answers:PATH
    std::optional<std::string> log;     // /log:PATH
    bool noRestart = false;             // /norestart
    bool silent = false;                // /silent
    bool remove = false;                // /remove: undo what setup installed
};
RunOptions ParseRunOptions(std::string_view cmdLine);

// The record of the run (log.cpp): a fresh one at each start of the frame.
void BeginRecord(const RunOptions& options, bool unattended);
const RunOptions& Options();
bool Unattended();
// An unattended run given /silent: nothing is shown, message boxes take their default.
bool Silent();
// Opens the log of an unattended run given /log: and writes its start; false when it cannot be
// opened (the run then ends with its own exit code).
bool OpenLog(std::string_view cmdLine);
// One event, one line of the log, when there is a log.
void Log(std::string_view event);
void LogCopied(const std::string& target, size_t done, size_t total);
void LogMessageBox(std::string_view text, std::string_view caption, UINT style);
// Why a step failed: told to the person running setup, and to the log, before its end line.
void Explain(std::string_view text);
// The run's outcome: the first failure's exit code wins over everything else.
void Fail(UINT exitCode);
void Cancelled();
// The end of a removal (SETUP_LOG_REMOVAL): the log line and the outcome.
void LogRemoval(const std::string& how, LONG result);

// The undo record (undo.cpp): a fresh start of it for a run (none is kept in a removal), its end,
// and the toolkit's own changes, each recorded before it is made (a copy: 0 or the error that
// stops it; the others: false when the change must not be made).
void BeginUndoRecord(bool removal);
void EndUndoRecord();
INT RecordCopy(const std::string& target);
bool RecordGroup(std::string_view group);
bool RecordItem(std::string_view group, std::string_view item);

// The build's recorder and UI; a test may put another UI in place.
Recorder& CurrentRecorder();
Ui& CurrentUi();
void SetUi(Ui* ui);
Ui& DefaultUi();

// Enters a toolkit call: records it in the trace, unless it is made from inside another toolkit
// call (a dialog procedure setting "DLGEVENT"), which is the toolkit's work and not setup's.
class CallScope {
  public:
    CallScope(std::string_view call, std::initializer_list<CallArg> args);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

// Helpers shared by the toolkit's files.
// The text without the blanks at either end (spaces and tabs unless told).
std::string_view TrimBlanks(std::string_view text, std::string_view blanks = " \t");
std::string WithBackslash(std::string dir);
// A name that stays inside its directory: no separator, no drive, no "..", not empty, and no
// device (CON, NUL, COM1, LPT1, ..., with or without an extension).
bool IsPlainFileName(std::string_view name);
// The full path of a path relative to the current directory; "" when it names no drive.
std::string FullPath(std::string_view path);
// Every folder of a full directory path ("C:\\A\\B", no trailing backslash) exists afterwards,
// made through the platform's file functions; 0, or the Win32 error that stopped it.
INT EnsureDirectory(const std::string& fullDir);
// The file written whole or not at all: a temporary file beside it, then a rename.
bool WriteWholeFile(const std::string& path, const std::vector<BYTE>& data);

} // namespace toolkit

namespace toolkit {

// No C++ exception leaves a toolkit call: setup's code and the dialog library call them as Win32
// functions, through frames that cannot unwind. The call fails with its failure result, and why
// goes to the notes. (The host build's end of the process is no std::exception: it passes.)
// An entry point reads "F(...) TOOLKIT_TRY { ... } TOOLKIT_CATCH(const std::exception& error)
// { ... }". The Windows images are built without exceptions: there the library's throws end the
// process with a message, and the handler stays as a function nothing calls, still compiled.
#if defined(__cpp_exceptions)
#define TOOLKIT_TRY try
#define TOOLKIT_CATCH(declaration) catch (declaration)
#else
#define TOOLKIT_TRY
#define TOOLKIT_CATCH(declaration) TOOLKIT_HANDLER(__LINE__, declaration)
#define TOOLKIT_HANDLER(line, declaration) TOOLKIT_HANDLER_AT(line, declaration)
#define TOOLKIT_HANDLER_AT(line, declaration)                                                      \
    [[maybe_unused]] static auto UnreachedHandler##line(declaration)
#endif

inline void NoteCallFailed(const std::exception& error,
                           std::string_view call) noexcept TOOLKIT_TRY {
    Explain(std::string(call) + " failed: " + error.what() + "\n");
}
TOOLKIT_CATCH(const std::exception&) {}

template <typename Result>
Result CallFailed(std::string_view call, const std::exception& error, Result failure) noexcept {
    NoteCallFailed(error, call);
    return failure;
}

} // namespace toolkit
