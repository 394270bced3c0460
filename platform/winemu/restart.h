// What a restart of Windows NT does to a machine image: the file moves and deletions that were
// left for the next start, and the sound devices that winmm finds in the Drivers32 entries.
#pragma once

#include "winemu/machine.h"

#include <string>
#include <string_view>

namespace winemu {

// Where MoveFileExA leaves a move for the next start, as Windows NT does.
constexpr std::string_view kSessionManagerKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr std::string_view kPendingMovesValue = "PendingFileRenameOperations";

// Appends a move of the full path source to the full path target ("" deletes the source) to
// the pending moves. MOVEFILE_REPLACE_EXISTING lets it replace a target that exists then.
void QueueMoveAtRestart(Machine& machine, const std::string& source, const std::string& target,
                        DWORD flags);

// What one restart did.
struct RestartResult {
    int movesDone = 0;   // pending moves and deletions carried out
    int movesFailed = 0; // left undone: a missing source, a target in the way, a host error
    UINT waveOut = 0;    // the devices the Drivers32 entries give
    UINT waveIn = 0;
    UINT midiOut = 0;
    UINT midiIn = 0;
};

// Restarts the machine: carries out the pending moves in order and removes them, then counts
// the devices of the Drivers32 entries whose driver loads, into the machine's configuration.
// The machine's faults do not reach a restart: they belong to the process that a run starts.
RestartResult RestartMachine(Machine& machine);

// Writes the devices that the last restart found into machine.ini's [DevicesFound], leaving
// the rest of the file as it is. Throws std::runtime_error when it cannot be written.
void SaveDevicesFound(Machine& machine);

} // namespace winemu
