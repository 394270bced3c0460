// The answer path: the answers of an unattended run, loaded and taken dialog by dialog, and the
// rule of how a run's ending gives its exit code (answers.cpp).
#pragma once

#include "toolkit/recorder.h"
#include "toolkit/run_options.h"

#include <windows.h>

#include <optional>
#include <string>

namespace toolkit {

// The run's answers: from its /answers: file, else from the one named outside the command line.
// False when that file cannot be read: the log says so, the outcome is set, and shownName is the
// name to tell the user.
bool LoadAnswers(const RunOptions& options, const std::optional<Recorder::Answers>& outside,
                 std::string& shownName);
// The next word for a prompt of Windows' own (kInstallFromDiskAnswerId); "" when none is left.
std::string TakePromptAnswer(UINT id);

// The exit code of an unattended run (THE rule, answers.cpp): its first failure, else whether the
// answers ended it, else its restart decision (-1 while none was reached).
UINT RunExitCode(UINT failure, bool cancelled, LONG restart);
// What a removal's result (UNDO_...) tells of the run's outcome.
void RemovalEnded(LONG result);

} // namespace toolkit
