// The toolkit's files share this: the parts of its state and interfaces (INI reading, state,
// screen, recorder, run options), the record of the run and its log, the undo record, small
// helpers, and the guard of every export. The core works on the Win32 API alone; what the user
// sees goes through Ui (the terminal, or windows), and what only a recorded run has (fault
// checks, the run report, notes on the console) goes through Recorder.
#pragma once

#include "toolkit/ini.h"
#include "toolkit/recorder.h"
#include "toolkit/run_options.h"
#include "toolkit/state.h"
#include "toolkit/ui.h"

#include <windows.h>

#include <cstddef>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace toolkit {

// The record of the run (log.cpp): a fresh one at each start of the frame.
void BeginRecord(const RunOptions& options, bool unattended);
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
// A removal done: the run's codes then mean "removed"; restart 1 when some files go at the next.
void Removed(LONG restart);
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

// Helpers shared by the toolkit's files.
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
// Every entry point goes through Guarded (below), which reads "F(...) TOOLKIT_TRY { ... }
// TOOLKIT_CATCH(const std::exception& error) { ... }". The Windows images are built without
// exceptions: there the library's throws end the process with a message.
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

// A toolkit export, entered: its body asks the run's fault check by the export's name.
class Call {
  public:
    explicit Call(std::string_view name) : name_(name) {}
    // Whether this call must fail (fault injection); asked exactly once per call, if at all.
    bool Fails(std::initializer_list<std::string_view> args = {}) const {
        return CurrentRecorder().Fails(name_, args);
    }

  private:
    std::string_view name_;
};

// What an export that returns nothing returns here: its failure is only noted.
struct Nothing {};

// Every export of the toolkit is this, written once: the call entered in the trace under its
// name with its arguments, its body run (given the Call, if it takes one), and a C++ exception
// turned into the failure result, with why in the notes (Guarded, below).
//   BOOL WINAPI FDoIt(LPCSTR sz) {
//       return toolkit::Exported<BOOL>("FDoIt", {toolkit::Text(sz)}, FALSE,
//                                      [&](const toolkit::Call& call) { ... });
//   }
template <typename Body> decltype(auto) Invoke(Body& body, std::string_view name) {
    if constexpr (std::is_invocable_v<Body&, const Call&>) {
        return body(Call(name));
    } else {
        return body();
    }
}
template <typename Result, typename Body> Result RunBody(std::string_view name, Body& body) {
    if constexpr (std::is_same_v<Result, Nothing>) {
        Invoke(body, name);
        return Nothing{};
    } else {
        return Invoke(body, name);
    }
}

// A call guarded: a C++ exception that leaves its body gives the failure result, with why in the
// notes. Without exceptions (the Windows images) nothing is caught: the body is all there is.
#if defined(__cpp_exceptions)
template <typename Result, typename Body>
Result Guarded(std::string_view name, Result failure, Body&& body) TOOLKIT_TRY {
    return body();
}
TOOLKIT_CATCH(const std::exception& error) {
    return CallFailed(name, error, failure);
}
#else
template <typename Result, typename Body> Result Guarded(std::string_view, Result, Body&& body) {
    return body();
}
#endif

template <typename Result, typename Body>
Result Exported(std::string_view name, std::initializer_list<CallArg> args, Result failure,
                Body&& body) {
    return Guarded(name, failure, [&]() -> Result {
        CallScope scope(name, args);
        return RunBody<Result>(name, body);
    });
}

template <typename Body>
void Exported(std::string_view name, std::initializer_list<CallArg> args, Body&& body) {
    Exported<Nothing>(name, args, Nothing{}, body);
}

} // namespace toolkit
