// Program groups: the names checked, the groups and items made through the UI (folders and
// shortcuts, or Program Manager), and a record of each kept for the run's report.
#include "toolkit/core.h"

#include <toolkit.h>

#include <algorithm>

namespace {

// The group's record, made when missing, changed by change; the run's report is told.
template <typename Change>
void RecordGroup(std::string_view group, const std::string& folder, Change change) {
    std::vector<toolkit::ProgramGroup>& groups = toolkit::Core().groups;
    auto entry = std::find_if(groups.begin(), groups.end(), [&](const toolkit::ProgramGroup& g) {
        return toolkit::NameEquals(g.name, group);
    });
    if (entry == groups.end()) {
        groups.push_back({std::string(group), folder, std::nullopt, {}});
        entry = groups.end() - 1;
    }
    change(*entry);
    toolkit::CurrentRecorder().GroupsChanged(groups);
}

// The program of a command line: the first word, or the quoted text.
std::string_view Program(std::string_view cmd) {
    cmd = toolkit::TrimBlanks(cmd);
    if (!cmd.empty() && cmd.front() == '"') {
        size_t close = cmd.find('"', 1);
        return cmd.substr(1, close == std::string_view::npos ? close : close - 1);
    }
    return cmd.substr(0, std::min(cmd.find_first_of(" \t"), cmd.size()));
}

} // namespace

BOOL WINAPI FCreateProgManGroup(LPCSTR szGroup, LPCSTR szPath, INT cmo) {
    return toolkit::Exported<BOOL>(
        "FCreateProgManGroup",
        {toolkit::Text(szGroup), toolkit::Text(szPath), static_cast<long long>(cmo)}, FALSE,
        [&](const toolkit::Call& call) -> BOOL {
            std::string_view group = szGroup ? szGroup : "";
            std::string_view path = szPath ? szPath : "";
            if (call.Fails({group, path})) {
                return FALSE;
            }
            if (!toolkit::IsPlainFileName(group)) {
                return FALSE;
            }
            std::string folder;
            if (!toolkit::RecordGroup(group) || !toolkit::CurrentUi().MakeGroup(group, folder)) {
                return FALSE;
            }
            RecordGroup(group, folder, [](toolkit::ProgramGroup&) {});
            toolkit::Log("program group \"" + std::string(group) + "\" created");
            return TRUE;
        });
}

BOOL WINAPI FShowProgManGroup(LPCSTR szGroup, LPCSTR szCommand, INT cmo) {
    return toolkit::Exported<BOOL>(
        "FShowProgManGroup",
        {toolkit::Text(szGroup), toolkit::Text(szCommand), static_cast<long long>(cmo)}, FALSE,
        [&](const toolkit::Call& call) -> BOOL {
            std::string_view group = szGroup ? szGroup : "";
            std::string_view command = szCommand ? szCommand : "";
            if (call.Fails({group, command})) {
                return FALSE;
            }
            std::string folder;
            if (!toolkit::IsPlainFileName(group) ||
                !toolkit::CurrentUi().ShowGroup(group, command, folder)) {
                return FALSE; // only a group that exists can be shown
            }
            RecordGroup(group, folder,
                        [&](toolkit::ProgramGroup& record) { record.show = std::string(command); });
            return TRUE;
        });
}

// The item text may carry ",extra" after the name; the name alone names the item.
BOOL WINAPI FCreateProgManItem(LPCSTR szGroup, LPCSTR szItem, LPCSTR szCmd, INT cmo) {
    return toolkit::Exported<BOOL>(
        "FCreateProgManItem",
        {toolkit::Text(szGroup), toolkit::Text(szItem), toolkit::Text(szCmd),
         static_cast<long long>(cmo)},
        FALSE, [&](const toolkit::Call& call) -> BOOL {
            std::string_view group = szGroup ? szGroup : "";
            std::string_view itemText = szItem ? szItem : "";
            std::string_view cmd = szCmd ? szCmd : "";
            if (call.Fails({group, itemText, cmd})) {
                return FALSE;
            }
            std::string_view item = toolkit::TrimBlanks(itemText.substr(0, itemText.find(',')));
            if (!toolkit::IsPlainFileName(group) || !toolkit::IsPlainFileName(item) ||
                Program(cmd).empty()) {
                return FALSE;
            }
            std::string folder;
            std::string shortcut;
            if (!toolkit::RecordItem(group, item) ||
                !toolkit::CurrentUi().AddItem(group, item, cmd, folder, shortcut)) {
                return FALSE;
            }
            RecordGroup(group, folder, [&](toolkit::ProgramGroup& record) {
                toolkit::ProgramItem made{std::string(item), std::string(cmd), shortcut};
                bool replaced = false;
                for (toolkit::ProgramItem& existing : record.items) {
                    if (toolkit::NameEquals(existing.name, made.name)) {
                        existing = made; // made again: the newer item replaced the old one
                        replaced = true;
                    }
                }
                if (!replaced) {
                    record.items.push_back(std::move(made));
                }
            });
            toolkit::Log("program item \"" + std::string(item) + "\" added to \"" +
                         std::string(group) + "\": " + std::string(cmd));
            return TRUE;
        });
}
