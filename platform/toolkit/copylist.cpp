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
    DWORD attributes = 0; // the source's, which the copy takes
};

// Checks the whole list before anything is written: a name that would leave its directory, a
// source that is missing, or a directory that names no drive stops the copy.
INT PlanCopy(const std::vector<toolkit::CopyEntry>& list, std::vector<PlannedCopy>& plan) {
    for (const toolkit::CopyEntry& entry : list) {
        if (!toolkit::IsPlainFileName(entry.file)) {
            toolkit::Explain(
                "Setup will not copy \"" + entry.file +
                "\": a file name in setup.inf may not hold a path or name a device.\n");
            return ERROR_INVALID_NAME;
        }
    }
    for (const toolkit::CopyEntry& entry : list) {
        PlannedCopy copy;
        copy.source = toolkit::FullPath(entry.from + entry.file);
        std::string targetDir = toolkit::FullPath(entry.to);
        if (copy.source.empty() || targetDir.empty()) {
            toolkit::Explain("Setup cannot copy " + entry.file + ": the directory " +
                             (copy.source.empty() ? entry.from : entry.to) + " is on no drive.\n");
            return ERROR_PATH_NOT_FOUND;
        }
        copy.targetDir = WithoutBackslash(targetDir);
        copy.target = toolkit::WithBackslash(copy.targetDir) + entry.file;
        DWORD attributes = GetFileAttributesA(copy.source.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            toolkit::Explain("Setup cannot find the file " + copy.source + ".\n");
            return ERROR_FILE_NOT_FOUND;
        }
        copy.attributes = attributes;
        plan.push_back(std::move(copy));
    }
    return kCopyOkay;
}

// The billboards stay up for the length of the copy.
std::vector<HWND> ShowBillboards() {
    std::vector<HWND> windows;
    toolkit::Recorder& recorder = toolkit::CurrentRecorder();
    for (const toolkit::Billboard& billboard : toolkit::Core().billboards) {
        recorder.DialogDone(billboard.id, billboard.procedure, "");
        recorder.DialogShowing(billboard.id);
        toolkit::Log("dialog " + std::to_string(billboard.id) + " shown");
        if (const qvxcui::DialogTemplate* dialog = qvxcui::FindDialog(billboard.id)) {
            HWND window = nullptr;
            if (toolkit::CurrentUi().OpenModeless(*dialog, window) && window) {
                windows.push_back(window);
            }
        }
    }
    return windows;
}

// A copy takes its source's attributes: one from a CD is read-only, and the next run could not
// copy over it.
INT ClearReadOnly(const PlannedCopy& copy) {
    if (!(copy.attributes & FILE_ATTRIBUTE_READONLY)) {
        return kCopyOkay;
    }
    DWORD rest = copy.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!SetFileAttributesA(copy.target.c_str(), rest ? rest : FILE_ATTRIBUTE_NORMAL)) {
        DWORD error = GetLastError();
        toolkit::Explain("Setup cannot make " + copy.target + " writable.\n");
        return error ? static_cast<INT>(error) : ERROR_ACCESS_DENIED;
    }
    return kCopyOkay;
}

INT CopyPlanned(const std::vector<PlannedCopy>& plan) {
    toolkit::Recorder& recorder = toolkit::CurrentRecorder();
    toolkit::Ui& ui = toolkit::CurrentUi();
    ui.Progress(0, plan.size(), "");
    for (size_t i = 0; i < plan.size(); ++i) {
        const PlannedCopy& copy = plan[i];
        INT result = toolkit::EnsureDirectory(copy.targetDir);
        if (result != kCopyOkay) {
            toolkit::Explain("Setup cannot create the directory " + copy.targetDir + ".\n");
            return result;
        }
        result = toolkit::RecordCopy(copy.target);
        if (result != kCopyOkay) {
            return result;
        }
        if (!CopyFileA(copy.source.c_str(), copy.target.c_str(), FALSE)) {
            DWORD error = GetLastError();
            toolkit::Explain("Setup cannot copy " + copy.source + " to " + copy.target + ".\n");
            return error ? static_cast<INT>(error) : ERROR_WRITE_FAULT;
        }
        if (INT cleared = ClearReadOnly(copy); cleared != kCopyOkay) {
            return cleared;
        }
        recorder.FileCopied(copy.target);
        toolkit::LogCopied(copy.target, i + 1, plan.size());
        ui.Progress(i + 1, plan.size(), copy.target);
    }
    return kCopyOkay;
}

} // namespace

BOOL WINAPI FOpenInf(LPCSTR szFile, BOOL fCheck, BOOL fCheckSyms) {
    return toolkit::Exported<BOOL>(
        "FOpenInf",
        {toolkit::Text(szFile), static_cast<long long>(fCheck), static_cast<long long>(fCheckSyms)},
        FALSE, [&](const toolkit::Call& call) -> BOOL {
            std::string_view file = szFile ? szFile : "";
            if (call.Fails({file})) {
                return FALSE;
            }
            std::string full = toolkit::FullPath(file);
            if (full.empty()) {
                toolkit::Explain("Setup cannot read \"" + std::string(file) +
                                 "\": it names no drive.\n");
                return FALSE;
            }
            std::string why;
            std::optional<toolkit::IniSections> inf = toolkit::ReadIniFile(full, &why);
            if (!inf) {
                toolkit::Explain("Setup cannot read " + full + ": " + why + ".\n");
                return FALSE;
            }
            toolkit::Core().inf = std::move(inf);
            toolkit::Core().infPath = full;
            return TRUE;
        });
}

void WINAPI ResetCopyList(void) {
    toolkit::Exported("ResetCopyList", {}, [&] { toolkit::Core().copyList.clear(); });
}

// A section that setup.inf does not have fails the call: the files it should have named would
// otherwise be missing from the install without a word.
BOOL WINAPI FAddSectionFilesToCopyList(LPCSTR szSection, LPCSTR szSrc, LPCSTR szDest) {
    return toolkit::Exported<BOOL>(
        "FAddSectionFilesToCopyList",
        {toolkit::Text(szSection), toolkit::Text(szSrc), toolkit::Text(szDest)}, FALSE,
        [&](const toolkit::Call& call) -> BOOL {
            std::string_view section = szSection ? szSection : "";
            std::string_view src = szSrc ? szSrc : "";
            std::string_view dest = szDest ? szDest : "";
            if (call.Fails({section, src, dest})) {
                return FALSE;
            }
            toolkit::State& state = toolkit::Core();
            if (!szSection || !szSrc || !szDest || !state.inf) {
                return FALSE;
            }
            auto found = state.inf->find(section);
            if (found == state.inf->end()) {
                toolkit::Explain(state.infPath + " has no section [" + std::string(section) +
                                 "]: Setup cannot tell which files to copy.\n");
                return FALSE;
            }
            for (const toolkit::IniLine& line : found->second) {
                const std::string& file = line.text;
                state.copyList.push_back({file, toolkit::WithBackslash(std::string(src)),
                                          toolkit::WithBackslash(std::string(dest))});
            }
            return TRUE;
        });
}

BOOL WINAPI FAddToBillboardList(LPCSTR szDll, UINT idDlg, LPCSTR szProc, LONG lTicks) {
    return toolkit::Exported<BOOL>(
        "FAddToBillboardList",
        {toolkit::Text(szDll), static_cast<long long>(idDlg), toolkit::Text(szProc),
         static_cast<long long>(lTicks)},
        FALSE, [&](const toolkit::Call& call) -> BOOL {
            std::string_view dll = szDll ? szDll : "";
            std::string_view proc = szProc ? szProc : "";
            if (call.Fails({dll, std::to_string(idDlg), proc})) {
                return FALSE;
            }
            const qvxcui::DialogTemplate* dialog = qvxcui::FindDialog(idDlg);
            if (!toolkit::NameEquals(dll, qvxcui::kLibraryName) || !dialog || !dialog->modeless ||
                proc != dialog->procedure) {
                return FALSE;
            }
            toolkit::Core().billboards.push_back({idDlg, std::string(proc), lTicks});
            return TRUE;
        });
}

void WINAPI ProSetPos(INT x, INT y) {
    toolkit::Exported("ProSetPos", {static_cast<long long>(x), static_cast<long long>(y)}, [&] {
        toolkit::Core().gaugePos = POINT{x, y};
    });
}

INT WINAPI GrcCopyFilesInCopyList(HINSTANCE hinst) {
    return toolkit::Exported<INT>("GrcCopyFilesInCopyList", {toolkit::InstanceArg(hinst)},
                                  ERROR_NOT_ENOUGH_MEMORY, [&](const toolkit::Call& call) -> INT {
                                      if (call.Fails()) {
                                          return ERROR_WRITE_FAULT;
                                      }
                                      toolkit::State& state = toolkit::Core();
                                      std::vector<PlannedCopy> plan;
                                      INT result = PlanCopy(state.copyList, plan);
                                      if (result != kCopyOkay) {
                                          return result;
                                      }
                                      std::vector<HWND> billboards = ShowBillboards();
                                      result = CopyPlanned(plan);
                                      for (HWND window : billboards) {
                                          toolkit::CurrentUi().CloseModeless(window);
                                      }
                                      if (result == kCopyOkay) {
                                          state.copyList.clear();
                                      }
                                      return result;
                                  });
}
