// What only a recorded run has (the host build's runs on the emulated machine): fault checks, the
// record of the run and its call trace, notes, an answers file from outside.
#pragma once

#include "toolkit/state.h"

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace toolkit {

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

// The build's recorder.
Recorder& CurrentRecorder();

// Enters a toolkit call: records it in the trace, unless it is made from inside another toolkit
// call (a dialog procedure setting "DLGEVENT"), which is the toolkit's work and not setup's.
class CallScope {
  public:
    CallScope(std::string_view call, std::initializer_list<CallArg> args);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

} // namespace toolkit
