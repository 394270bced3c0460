// What the registry calls take from the registry's tree beyond the machine's interface.
#pragma once

#include "winemu/machine.h"

namespace winemu {

// Marks a key taken out of the tree, and every key below it, as deleted: handles may keep it
// alive longer than its parent, so it keeps its full path as its name.
void DetachDeletedKey(RegKey& key);

} // namespace winemu
