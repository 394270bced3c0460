// The dialog library as setup sees it: the dialogs of its table, their procedures and the words
// their buttons give, and a dialog or procedure it does not have.
#include "toolkit/toolkit_fixture.h"

namespace toolkittest {
namespace {

class DialogTableTest : public ToolkitTest {
  protected:
    // The first two bytes of an event, each signed, added in 16 bits: how setup reads it.
    static WORD Code(const std::string& event) {
        auto byte = [&](size_t i) {
            return i < event.size() ? static_cast<signed char>(event[i]) : 0;
        };
        return static_cast<WORD>(byte(0) + (event.empty() ? 0 : byte(1)));
    }
    size_t DialogsUp() { return toolkit::Core().dialogs.size(); }
};

TEST_F(DialogTableTest, LibraryOffersTheEventsSetupActsOn) {
    EXPECT_EQ(Code(qvxcui::kEventContinue), 146);
    EXPECT_EQ(Code(qvxcui::kEventCancel), 132);
    EXPECT_EQ(Code(qvxcui::kEventExit), 157);
    EXPECT_EQ(Code(qvxcui::kEventRestart), 151);

    struct Entry {
        UINT id;
        const char* procedure;
        std::vector<std::string> events; // button by button
    };
    const Entry table[] = {
        {100, "FInfoDlgProc", {"CONTINUE", "CANCEL", "EXIT"}},
        {200, "FQuitDlgProc", {"EXIT", "CONTINUE"}},
        {400, "FInfo0DlgProc", {"CONTINUE"}},
        {600, "FInfoDlgProc", {"CONTINUE"}},
        {700, "FInfoDlgProc", {"RESTART", "CONTINUE"}},
        {800, "FInfoDlgProc", {"REMOVE", "CANCEL"}},
        {900, "FInfoDlgProc", {"CONTINUE"}},
        {5000, "FModelessDlgProc", {}},
        {5100, "FModelessDlgProc", {}},
        {6400, "FInfo0DlgProc", {"CONTINUE", "EXIT"}},
    };
    ASSERT_EQ(qvxcui::Dialogs().size(), std::size(table));
    for (const Entry& e : table) {
        SCOPED_TRACE(e.id);
        const qvxcui::DialogTemplate* dialog = qvxcui::FindDialog(e.id);
        ASSERT_NE(dialog, nullptr);
        EXPECT_STREQ(dialog->procedure, e.procedure);
        EXPECT_EQ(dialog->modeless, e.events.empty());
        EXPECT_NE(qvxcui::FindProcedure(e.procedure), nullptr);
        ASSERT_EQ(dialog->buttons.size(), e.events.size());
        for (size_t i = 0; i < e.events.size(); ++i) {
            EXPECT_EQ(dialog->buttons[i].event, e.events[i]);
        }
        if (!e.events.empty()) {
            // Only an answer of REMOVE removes the driver; everywhere else an answer goes on.
            EXPECT_STREQ(dialog->buttons[dialog->defaultButton].event,
                         e.id == 800 ? "CANCEL" : "CONTINUE");
        }
        EXPECT_GT(std::string_view(dialog->title).size(), 0u);
        EXPECT_GT(std::string_view(dialog->text).size(), 0u);
    }
    EXPECT_EQ(qvxcui::FindDialog(300), nullptr);
    EXPECT_EQ(qvxcui::FindProcedure("finfodlgproc"), nullptr);
}

TEST_F(DialogTableTest, UnknownDialogsFailAndAreNotShown) {
    Start();
    EXPECT_FALSE(Show(300, "FInfoDlgProc"));
    EXPECT_FALSE(Show(100, "FQuitDlgProc"));
    EXPECT_FALSE(Show(100, "NoSuchProc"));
    EXPECT_FALSE(Show(100, nullptr));
    EXPECT_FALSE(FDoDialogExt(HwndFrame(), "other.dll", 100, "FInfoDlgProc", "other.dll", 0, 0));
    EXPECT_EQ(DialogsUp(), 0u);
    EXPECT_EQ(Report()["dialogs"], nlohmann::json::array());
}

} // namespace
} // namespace toolkittest
