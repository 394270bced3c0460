// The host build's screen: dialogs, message boxes and the copy gauge drawn as text on the
// machine console, answers read a line at a time from the machine input; program groups as
// Start Menu folders with shortcuts.
#include "toolkit/answers.h"
#include "toolkit/core.h"
#include "toolkit/host/shortcuts.h"
#include "toolkit/host/terminal_ui.h"
#include "winemu/machine.h"

#include <istream>
#include <ostream>
#include <sstream>
#include <string>

namespace toolkit {
namespace {

// Handle values of the frame; any value above 0 tells setup that start-up succeeded.
HWND const kFrameWindow = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x00010010));
HINSTANCE const kFrameInstance = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x00400000));
constexpr ULONG_PTR kCursorBase = 0x00020000;

constexpr size_t kWidth = 72;
constexpr size_t kGaugeWidth = 40;

// Text broken into lines of at most width characters, at blanks where possible.
void PrintWrapped(std::ostream& out, std::string_view text, size_t width) {
    while (!text.empty()) {
        size_t take = text.size();
        if (take > width) {
            size_t blank = text.rfind(' ', width);
            take = (blank == std::string_view::npos || blank == 0) ? width : blank;
        }
        out << "  " << text.substr(0, take) << '\n';
        text = text.substr(take);
        while (!text.empty() && text.front() == ' ') {
            text.remove_prefix(1);
        }
    }
}

void PrintFrame(std::ostream& out, std::string_view title, std::string_view text) {
    std::string rule(kWidth, '-');
    out << '\n' << rule << "\n  " << title << '\n' << rule << '\n';
    PrintWrapped(out, text, kWidth - 4);
}

class TerminalScreen : public Ui {
  public:
    HWND OpenFrame() override { return kFrameWindow; }
    HINSTANCE FrameInstance() override { return kFrameInstance; }
    void CloseFrame() override {}
    bool SetBitmap(UINT) override { return true; }

    // The word comes from the answers, or from the user; no answer at all is the cancel button.
    BOOL RunModal(const qvxcui::DialogTemplate& dialog, const std::string* answer) override {
        std::string word;
        if (answer) {
            if (!Silent()) {
                ShowAnswered(dialog, *answer);
            }
            word = *answer;
        } else {
            std::optional<size_t> pressed = AskDialog(dialog);
            size_t index =
                pressed && *pressed < dialog.buttons.size() ? *pressed : dialog.cancelButton;
            word = dialog.buttons[index].event;
        }
        return qvxcui::FindProcedure(dialog.procedure)(dialog.id, word.c_str());
    }

    BOOL OpenModeless(const qvxcui::DialogTemplate& dialog, HWND& window) override {
        window = nullptr;
        if (!Silent()) {
            PrintFrame(winemu::Current().Console(), dialog.title, dialog.text);
        }
        return qvxcui::FindProcedure(dialog.procedure)(dialog.id, "");
    }

    void CloseModeless(HWND) override {}

    HCURSOR WaitCursor() override {
        return reinterpret_cast<HCURSOR>(kCursorBase + Core().cursorsGiven);
    }

    BOOL RestoreCursor(HCURSOR cursor) override {
        ULONG_PTR value = reinterpret_cast<ULONG_PTR>(cursor);
        return value > kCursorBase && value <= kCursorBase + Core().cursorsGiven;
    }

    bool MakeGroup(std::string_view group, std::string& folder) override {
        return host::MakeGroupFolder(group, folder);
    }
    bool ShowGroup(std::string_view group, std::string_view, std::string& folder) override {
        return host::FindGroupFolder(group, folder);
    }
    bool AddItem(std::string_view group, std::string_view item, std::string_view command,
                 std::string& folder, std::string& shortcut) override {
        return host::WriteShortcut(group, item, command, folder, shortcut);
    }
    bool RemoveItem(std::string_view group, std::string_view item) override {
        return host::DeleteShortcut(group, item);
    }
    bool RemoveGroup(std::string_view group) override { return host::DeleteGroupFolder(group); }

  private:
    std::optional<size_t> AskDialog(const qvxcui::DialogTemplate& dialog) {
        winemu::Machine& machine = winemu::Current();
        std::ostream& out = machine.Console();
        PrintFrame(out, dialog.title, dialog.text);
        out << '\n';
        for (size_t i = 0; i < dialog.buttons.size(); ++i) {
            out << "  [" << (i + 1) << "] " << dialog.buttons[i].label
                << (i == dialog.defaultButton ? "  (Enter)" : "") << '\n';
        }
        std::istream* in = machine.Input();
        std::string line;
        while (true) {
            out << "Choose 1-" << dialog.buttons.size() << ": " << std::flush;
            if (!in || !std::getline(*in, line)) {
                out << "(no answer: " << dialog.buttons[dialog.cancelButton].label << ")\n";
                return std::nullopt;
            }
            std::string answer(TrimBlanks(line, " \t\r\n"));
            if (answer.empty()) {
                return dialog.defaultButton;
            }
            for (size_t i = 0; i < dialog.buttons.size(); ++i) {
                if (answer == std::to_string(i + 1) ||
                    NameEquals(answer, dialog.buttons[i].label)) {
                    return i;
                }
            }
            out << "Please type a number from 1 to " << dialog.buttons.size() << ".\n";
        }
    }

    void ShowAnswered(const qvxcui::DialogTemplate& dialog, std::string_view word) {
        std::ostream& out = winemu::Current().Console();
        PrintFrame(out, dialog.title, dialog.text);
        std::string_view label = word;
        for (const auto& button : dialog.buttons) {
            if (button.event == word)
                label = button.label;
        }
        out << "\n  answered: " << label << "\n";
    }

  public:
    void Progress(size_t done, size_t total, std::string_view file) override {
        if (Silent()) {
            return;
        }
        size_t filled = total ? done * kGaugeWidth / total : kGaugeWidth;
        size_t percent = total ? done * 100 / total : 100;
        winemu::Current().Console()
            << '[' << std::string(filled, '#') << std::string(kGaugeWidth - filled, '.') << "] "
            << percent << "% " << file << '\n';
    }

    void ShowMessageBox(std::string_view text, std::string_view caption, UINT) override {
        if (Silent()) {
            return;
        }
        std::ostream& out = winemu::Current().Console();
        PrintFrame(out, caption, text);
        out << "  [OK]\n";
    }
};

} // namespace

// An answers file names the prompt by the id the report shows.
static_assert(winemu::kInstallFromDiskPrompt == kInstallFromDiskAnswerId);

std::optional<std::string> AnswerSystemPrompt(const winemu::SystemPrompt& prompt) {
    winemu::Machine& machine = winemu::Current();
    std::ostringstream unseen; // a silent run shows nothing, Windows' own prompts included
    std::ostream& out = Silent() ? unseen : machine.Console();
    PrintFrame(out, prompt.title, prompt.text);
    out << "\n  " << prompt.suggestion << '\n';
    State& state = Core();
    if (state.unattended) {
        // The next word for this dialog: CANCEL cancels, none (or an empty one) takes OK.
        std::string word = TakePromptAnswer(prompt.id);
        if (NameEquals(word, "CANCEL")) {
            out << "\n  answered: Cancel\n";
            return std::nullopt;
        }
        std::string answer = word.empty() ? prompt.suggestion : word;
        out << "\n  answered: " << answer << '\n';
        return answer;
    }
    out << "Folder (Enter: as shown; end of input: Cancel): " << std::flush;
    std::string line;
    if (!machine.Input() || !std::getline(*machine.Input(), line)) {
        out << "(no answer: Cancel)\n";
        return std::nullopt;
    }
    std::string answer(TrimBlanks(line, " \t\r\n"));
    return answer.empty() ? prompt.suggestion : answer;
}

Ui& DefaultUi() {
    static TerminalScreen screen;
    return screen;
}

} // namespace toolkit
