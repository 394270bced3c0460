// A machine image in a temporary folder, shared by the fuzz targets whose input is a file on an
// emulated drive.
#pragma once

#include "winemu/machine.h"

#include <memory>
#include <string_view>

namespace fuzzing {

// A booted machine whose file A:\INPUT.INF holds data; active until the next call.
winemu::Machine& MachineWithFile(std::string_view data);

} // namespace fuzzing
