// The options of a run's command line, and what they make of the run.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace toolkit {

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

// The run's options, as the record of the run (log.cpp) keeps them from its start.
const RunOptions& Options();
bool Unattended();
// An unattended run given /silent: nothing is shown, message boxes take their default.
bool Silent();

} // namespace toolkit
