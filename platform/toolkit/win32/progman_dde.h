// Program groups in the Windows builds: Program Manager's commands over DDE, which Explorer
// answers too.
#pragma once

#include <windows.h>

#include <string_view>

namespace toolkit::progman {

// A common group (seen by every user of the machine); true when it was made. Unseen: the window
// the shell opens for it is closed again.
bool CreateGroup(std::string_view group, bool unseen);
// Shows the group with Program Manager's show command, then gives the front back to the frame.
bool ShowGroup(HWND frame, std::string_view group, std::string_view command);
// Adds an item to the group made or shown last.
bool AddItem(std::string_view item, std::string_view command);
// Deletes the common group with its items; true when it was carried out.
bool DeleteGroup(std::string_view group);

} // namespace toolkit::progman
