// A machine image in a temporary folder, shared by the fuzz targets whose input is a file on an
// emulated drive.
#pragma once

#include "winemu/machine.h"

#include <memory>
#include <string_view>

namespace fuzzing {

// A booted machine whose file A:\<name> holds data; active until the next call. The disk also
// holds the sample driver's stand-in, A:\TONEBAY.DLL.
winemu::Machine& MachineWithFile(std::string_view data, std::string_view name = "INPUT.INF");

} // namespace fuzzing
