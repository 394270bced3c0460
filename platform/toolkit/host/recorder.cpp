// The toolkit's recorder on the emulated machine: fault checks of its own calls, the run
// report (dialogs, message boxes, files copied, program groups, the call trace), notes on the
// machine console and the answers file that the runner was given.
#include "toolkit/core.h"
#include "toolkit/host/terminal_ui.h"
#include "winemu/machine.h"

#include <fstream>
#include <sstream>

namespace toolkit {
namespace {

using winemu::ReportText;

// The JSON array under key in the machine's report, made when missing.
nlohmann::json& ReportArray(const char* key) {
    nlohmann::json& report = winemu::Current().Report();
    if (!report.is_object()) {
        report = nlohmann::json::object();
    }
    nlohmann::json& array = report[key];
    if (!array.is_array()) {
        array = nlohmann::json::array();
    }
    return array;
}

nlohmann::json ArgJson(const CallArg& arg) {
    if (const std::string* text = std::get_if<std::string>(&arg)) {
        return ReportText(*text);
    }
    if (const long long* number = std::get_if<long long>(&arg)) {
        return *number;
    }
    if (const Handle* handle = std::get_if<Handle>(&arg)) {
        return handle->role;
    }
    return nullptr;
}

class MachineRecorder : public Recorder {
  public:
    bool Fails(std::string_view call, std::initializer_list<std::string_view> args) override {
        return winemu::Current().Fault().Check(call, args);
    }

    void Note(std::string_view text) override { winemu::Current().Console() << text; }

    std::optional<Answers> OutsideAnswers() override {
        const std::optional<std::filesystem::path>& file = winemu::Current().AnswersFile();
        if (!file) {
            return std::nullopt;
        }
        Answers answers{file->string(), std::nullopt};
        std::error_code ec;
        if (std::filesystem::is_regular_file(*file, ec)) {
            std::ifstream in(*file, std::ios::binary);
            std::ostringstream text;
            if (in && (text << in.rdbuf())) {
                answers.text = text.str();
            } else if (in) {
                answers.text = std::string(); // an empty file
            }
        }
        return answers;
    }

    // Setup's own message boxes reach the machine, not the toolkit: the machine tells the log.
    void RunBegun() override {
        winemu::Current().MessageBoxWatch() = [](std::string_view text, std::string_view caption,
                                                 UINT style) {
            LogMessageBox(text, caption, style);
            return Silent();
        };
    }

    void Started() override {
        for (const char* key : {"dialogs", "message_boxes", "files_copied", "program_groups"}) {
            ReportArray(key);
        }
        // What Windows asks while setup runs is answered where setup's own dialogs are.
        winemu::Current().Answerer() = AnswerSystemPrompt;
    }

    void Called(std::string_view call, const std::vector<CallArg>& args) override {
        nlohmann::json values = nlohmann::json::array();
        for (const CallArg& arg : args) {
            values.push_back(ArgJson(arg));
        }
        ReportArray("toolkit_calls").push_back({{"call", call}, {"args", std::move(values)}});
    }

    void DialogShowing(UINT id) override { winemu::OnDialogShown(id); }

    void DialogDone(UINT id, std::string_view procedure, std::string_view event) override {
        ReportArray("dialogs").push_back(
            {{"id", id}, {"procedure", ReportText(procedure)}, {"event", ReportText(event)}});
    }

    void MessageBoxShown(std::string_view text, std::string_view caption, UINT style) override {
        ReportArray("message_boxes")
            .push_back(
                {{"text", ReportText(text)}, {"caption", ReportText(caption)}, {"style", style}});
    }

    void FileCopied(std::string_view target) override {
        ReportArray("files_copied").push_back(ReportText(target));
    }

    void GroupsChanged(const std::vector<ProgramGroup>& groups) override {
        nlohmann::json& records = ReportArray("program_groups");
        records = nlohmann::json::array();
        for (const ProgramGroup& group : groups) {
            nlohmann::json items = nlohmann::json::array();
            for (const ProgramItem& item : group.items) {
                items.push_back({{"name", ReportText(item.name)},
                                 {"command", ReportText(item.command)},
                                 {"shortcut", ReportText(item.shortcut)}});
            }
            nlohmann::json record = {{"name", ReportText(group.name)},
                                     {"folder", ReportText(group.folder)},
                                     {"items", std::move(items)}};
            if (group.show) {
                record["show"] = ReportText(*group.show);
            }
            records.push_back(std::move(record));
        }
    }
};

} // namespace

Recorder& CurrentRecorder() {
    static MachineRecorder recorder;
    return recorder;
}

} // namespace toolkit
