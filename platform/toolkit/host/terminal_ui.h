// The host build's screen, for what Windows itself asks while setup runs.
#pragma once

#include "winemu/machine.h"

#include <optional>
#include <string>

namespace toolkit {

// A prompt of a Windows dialog on the terminal: answered from the answers file in an unattended
// run (the dialog's next word; CANCEL cancels, no word takes the suggestion), else typed by the
// user (an empty line takes the suggestion, the end of input cancels). nullopt: cancelled.
std::optional<std::string> AnswerSystemPrompt(const winemu::SystemPrompt& prompt);

} // namespace toolkit
