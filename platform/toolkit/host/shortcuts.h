// Program groups of the host build: folders of the all-users Start Menu "Programs" folder, each
// item a shell link (.lnk) to its program, written through the platform's file functions.
#pragma once

#include <string>
#include <string_view>

namespace toolkit::host {

bool MakeGroupFolder(std::string_view group, std::string& folder);
// The folder of a group that exists; false when there is none.
bool FindGroupFolder(std::string_view group, std::string& folder);
bool WriteShortcut(std::string_view group, std::string_view item, std::string_view command,
                   std::string& folder, std::string& shortcut);
// True when the item's shortcut, or the group's empty folder, is gone.
bool DeleteShortcut(std::string_view group, std::string_view item);
bool DeleteGroupFolder(std::string_view group);

} // namespace toolkit::host
