// setup.inf, the copy list and the copy itself, with the billboard and the progress gauge.
// Files are copied through the platform's file functions, so the copy sees the machine as any
// program would.
#include "toolkit/core.h"

#include <toolkit.h>

namespace {

// Result codes of the copy: 0, or the Win32 error that stopped it.
constexpr INT kCopyOkay = 0;

std::string WithoutBackslash(std::string dir) {
    while (dir.size() > 3 && dir.back() == '\\') {
        dir.pop_back();
    }
    return dir;
}

struct PlannedCopy {
    std::string source; // full Windows paths
    std::string targetDir;
    std::string target;
};

// Checks the whole list before anything is written: a name that would leave its directory, a
// source that is missing, or a directory that names no drive stops the copy.
INT PlanCopy(const std::vector<toolkit::CopyEntry>& list, std::vector<PlannedCopy>& plan) {
    winemu::Machine& machine = winemu::Current();
    std::ostream& console = machine.Console();
    for (const toolkit::CopyEntry& entry : list) {
        if (!toolkit::IsPlainFileName(entry.file)) {
            console << "Setup will not copy \"" << entry.file
                    << "\": a file name in setup.inf may not hold a path.\n";
            return ERROR_INVALID_NAME;
        }
    }
    for (const toolkit::CopyEntry& entry : list) {
        PlannedCopy copy;
        copy.source = machine.FullPath(entry.from + entry.file);
        std::string targetDir = machine.FullPath(entry.to);
        if (copy.source.empty() || targetDir.empty()) {
            console << "Setup cannot copy " << entry.file << ": the directory "
                    << (copy.source.empty() ? entry.from : entry.to) << " is on no drive.\n";
            return ERROR_PATH_NOT_FOUND;
        }
        copy.targetDir = WithoutBackslash(targetDir);
        copy.target = toolkit::WithBackslash(copy.targetDir) + entry.file;
        DWORD attributes = GetFileAttributesA(copy.source.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            console << "Setup cannot find the file " << copy.source << ".\n";
            return ERROR_FILE_NOT_FOUND;
        }
        plan.push_back(std::move(copy));
    }
    return kCopyOkay;
}

void ShowBillboards() {
    for (const toolkit::Billboard& billboard : toolkit::Core().billboards) {
        toolkit::ReportArray("dialogs").push_back(
            {{"id", billboard.id}, {"procedure", billboard.procedure}, {"event", ""}});
        winemu::OnDialogShown(billboard.id);
        if (const qvxcui::DialogTemplate* dialog = qvxcui::FindDialog(billboard.id)) {
            toolkit::CurrentUi().ShowModeless(*dialog);
        }
    }
}

} // namespace

BOOL WINAPI FOpenInf(LPCSTR szFile, BOOL, BOOL) {
    std::string_view file = szFile ? szFile : "";
    winemu::Machine& machine = winemu::Current();
    if (machine.Fault().Check("FOpenInf", {file})) {
        return FALSE;
    }
    std::string full = machine.FullPath(file);
    if (full.empty()) {
        return FALSE;
    }
    std::optional<std::filesystem::path> host = machine.HostPath(full);
    if (!host) {
        return FALSE;
    }
    std::optional<toolkit::IniSections> inf = toolkit::ReadIniFile(*host);
    if (!inf) {
        return FALSE;
    }
    toolkit::Core().inf = std::move(inf);
    return TRUE;
}

void WINAPI ResetCopyList(void) {
    toolkit::Core().copyList.clear();
}

// A section that setup.inf does not have queues nothing.
BOOL WINAPI FAddSectionFilesToCopyList(LPCSTR szSection, LPCSTR szSrc, LPCSTR szDest) {
    std::string_view section = szSection ? szSection : "";
    std::string_view src = szSrc ? szSrc : "";
    std::string_view dest = szDest ? szDest : "";
    if (winemu::Current().Fault().Check("FAddSectionFilesToCopyList", {section, src, dest})) {
        return FALSE;
    }
    toolkit::State& state = toolkit::Core();
    if (!szSection || !szSrc || !szDest || !state.inf) {
        return FALSE;
    }
    auto found = state.inf->find(section);
    if (found == state.inf->end()) {
        return TRUE;
    }
    for (const std::string& file : found->second) {
        state.copyList.push_back({file, toolkit::WithBackslash(std::string(src)),
                                  toolkit::WithBackslash(std::string(dest))});
    }
    return TRUE;
}

BOOL WINAPI FAddToBillboardList(LPCSTR szDll, UINT idDlg, LPCSTR szProc, LONG lTicks) {
    std::string_view dll = szDll ? szDll : "";
    std::string_view proc = szProc ? szProc : "";
    if (winemu::Current().Fault().Check("FAddToBillboardList",
                                        {dll, std::to_string(idDlg), proc})) {
        return FALSE;
    }
    const qvxcui::DialogTemplate* dialog = qvxcui::FindDialog(idDlg);
    if (!winemu::NameEquals(dll, qvxcui::kLibraryName) || !dialog || !dialog->modeless ||
        proc != dialog->procedure) {
        return FALSE;
    }
    toolkit::Core().billboards.push_back({idDlg, std::string(proc), lTicks});
    return TRUE;
}

void WINAPI ProSetPos(INT x, INT y) {
    toolkit::Core().gaugePos = POINT{x, y};
}

INT WINAPI GrcCopyFilesInCopyList(HINSTANCE) {
    winemu::Machine& machine = winemu::Current();
    if (machine.Fault().Check("GrcCopyFilesInCopyList")) {
        return ERROR_WRITE_FAULT;
    }
    toolkit::State& state = toolkit::Core();
    std::vector<PlannedCopy> plan;
    INT result = PlanCopy(state.copyList, plan);
    if (result != kCopyOkay) {
        return result;
    }

    ShowBillboards();
    toolkit::Ui& ui = toolkit::CurrentUi();
    ui.Progress(0, plan.size(), "");
    for (size_t i = 0; i < plan.size(); ++i) {
        const PlannedCopy& copy = plan[i];
        result = toolkit::EnsureDirectory(copy.targetDir);
        if (result != kCopyOkay) {
            machine.Console() << "Setup cannot create the directory " << copy.targetDir << ".\n";
            return result;
        }
        if (!CopyFileA(copy.source.c_str(), copy.target.c_str(), FALSE)) {
            DWORD error = GetLastError();
            machine.Console() << "Setup cannot copy " << copy.source << " to " << copy.target
                              << ".\n";
            return error ? static_cast<INT>(error) : ERROR_WRITE_FAULT;
        }
        toolkit::ReportArray("files_copied").push_back(toolkit::ReportText(copy.target));
        ui.Progress(i + 1, plan.size(), copy.target);
    }
    state.copyList.clear();
    return kCopyOkay;
}
