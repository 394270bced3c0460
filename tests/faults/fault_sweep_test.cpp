// Every call a whole run makes, failed in turn. Each run must still end with one of the exit
// codes of an unattended run and with nothing left open (but for the close that was failed), and
// must end as expected.txt records: the dialogs shown, the message boxes, whether a restart was
// asked for. A change of behaviour shows in review as a change of that file. After a deliberate
// change, rewrite it:
//   SOUNDSETUP_FAULTS_REWRITE=1 build/tests/test_faults
#include "support/test_machine.h"
#include "winemu/restart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct RunPath {
    const char* sample;
    const char* name;
    const char* answers;       // lines of [Answers]
    const char* command = "";  // more of the command line
    bool installFirst = false; // the run is made on the sample as its own install left it
    bool fromCd = false;       // the install disk's files are read-only
};

const RunPath kPaths[] = {
    // The install without a restart makes the same calls as the first part of this one.
    {"nt40", "restart", "100=CONTINUE\n700=RESTART\n"},
    {"nt40", "quit", "100=CANCEL\n200=EXIT\n"},
    {"nt40-modem", "install", "100=CONTINUE\n700=CONTINUE\n"},
    {"nt351", "install", "100=CONTINUE\n700=CONTINUE\n", "", false, true}, // a disk from a CD
    {"nt40-wave", "refused", ""},
    {"nt40-modem", "remove", "800=REMOVE\n", " /remove", true},
};

void PrintTo(const RunPath& path, std::ostream* out) {
    *out << path.sample << " " << path.name;
}

const fs::path kExpected = fs::path(SOUNDSETUP_SOURCE_DIR) / "tests" / "faults" / "expected.txt";

// The calls whose failure may leave the object they were to close.
bool IsClose(const std::string& api) {
    return api == "RegCloseKey" || api == "CloseDriver" || api == "SetupDiDestroyDeviceInfoList";
}

// Every end of setup ends the toolkit: its last calls are TerminateFrame and TerminateInstall.
bool EndedTheToolkit(const testsupport::ChildResult& run) {
    const nlohmann::json& calls = run.report.value("toolkit_calls", nlohmann::json::array());
    size_t n = calls.size();
    return n >= 2 && calls[n - 2]["call"] == "TerminateFrame" &&
           calls[n - 1]["call"] == "TerminateInstall";
}

// The fatal-error dialog's own showing in a run that reached it: FDoDialogExt#n, its last call.
std::optional<std::string> FatalDialogCall(const testsupport::ChildResult& run) {
    int shown = 0;
    bool fatal = false;
    for (const auto& call : run.report.value("toolkit_calls", nlohmann::json::array())) {
        if (call["call"] == "FDoDialogExt") {
            ++shown;
            fatal = call["args"][2] == 400;
        }
    }
    if (!fatal)
        return std::nullopt;
    return "#" + std::to_string(shown);
}

// How a run ended, in one line.
std::string Outcome(const testsupport::ChildResult& run) {
    std::ostringstream out;
    out << "exit=" << (run.report.is_object() ? run.report.value("exit_code", -1) : run.exitCode)
        << " dialogs=";
    const nlohmann::json& report = run.report;
    if (report.is_object()) {
        std::string sep;
        for (const auto& dialog : report["dialogs"]) {
            out << sep << dialog["id"].get<int>();
            sep = ",";
        }
        out << " boxes=" << report["message_boxes"].size()
            << " restart=" << report["restart_requested"].get<bool>()
            << " open=" << report["open_handles"].size();
    }
    return out.str();
}

// The codes an unattended run may end with; the answers never name an unreadable log here.
bool IsDocumentedExit(const testsupport::ChildResult& run) {
    const int codes[] = {0, 1602, 1603, 1605, 1619, 1641, 3010};
    int code = run.report.is_object() ? run.report.value("exit_code", -1) : -1;
    return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

// The sample, installed first when the path says so (once: each run takes a copy).
void MakeImage(const RunPath& path, testsupport::TestImage& image) {
    static std::map<std::string, std::unique_ptr<testsupport::TestImage>> installed;
    fs::path from = fs::path(SOUNDSETUP_SOURCE_DIR) / "machines" / path.sample;
    if (path.installFirst) {
        std::unique_ptr<testsupport::TestImage>& made = installed[path.sample];
        if (!made) {
            made = std::make_unique<testsupport::TestImage>();
            fs::copy(from, made->Dir(), fs::copy_options::recursive);
            testsupport::RunSetup(*made, testsupport::UseAnswers(*made, "100=CONTINUE\n"));
        }
        from = made->Dir();
    }
    fs::copy(from, image.Dir(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

testsupport::ChildResult RunWithFault(const RunPath& path, const testsupport::Faults& faults,
                                      std::string* registryAfterAnother = nullptr) {
    testsupport::TestImage image;
    MakeImage(path, image);
    for (const auto& entry : fs::directory_iterator(image.Dir() / "drives" / "A"))
        if (path.fromCd && entry.is_regular_file())
            fs::permissions(entry.path(), fs::perms::owner_read);
    std::string cmdLine = testsupport::UseAnswers(image, path.answers) + path.command;
    testsupport::ChildResult run = testsupport::RunSetup(image, cmdLine, faults);
    if (registryAfterAnother) {
        // A removal that failed part way is finished by the next one.
        testsupport::ChildResult another = testsupport::RunSetup(image, cmdLine);
        int code = another.report.is_object() ? another.report.value("exit_code", -1) : -1;
        // A file that could not go at once goes at the restart that its exit code asks for.
        std::unique_ptr<winemu::Machine> restarted = image.Boot();
        winemu::RestartMachine(*restarted);
        *registryAfterAnother = std::to_string(code) + " " + restarted->Reg().ToRegText();
    }
    return run;
}

// expected.txt: "sample path API#n: outcome", one line a run; "API#n FDoDialogExt#m" when the
// fatal-error dialog of that run failed too.
std::map<std::string, std::string> ReadExpected() {
    std::map<std::string, std::string> lines;
    std::ifstream in(kExpected);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.find(": ");
        if (!line.empty() && line[0] != '#' && colon != std::string::npos)
            lines[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return lines;
}

void WriteExpected(const std::map<std::string, std::string>& lines) {
    std::ofstream out(kExpected, std::ios::trunc);
    out << "# How a whole run ends with one call failed: sample, answers, call (#n: its nth "
           "call).\n"
           "# Written by SOUNDSETUP_FAULTS_REWRITE=1 build/tests/test_faults; review every "
           "change.\n";
    for (const auto& [key, outcome] : lines)
        out << key << ": " << outcome << "\n";
}

class FaultSweep : public ::testing::TestWithParam<RunPath> {};

TEST_P(FaultSweep, EveryCallFailedInTurnEndsCleanlyAndAsRecorded) {
    const RunPath& path = GetParam();
    const std::string prefix = std::string(path.sample) + " " + path.name + " ";
    testsupport::ChildResult clean = RunWithFault(path, {});
    ASSERT_TRUE(IsDocumentedExit(clean)) << Outcome(clean);
    const std::string removed = path.installFirst ? clean.after->Reg().ToRegText() : "";
    std::string finished;

    std::map<std::string, std::string> got;
    got[prefix + "-"] = Outcome(clean);
    for (const auto& [api, count] : clean.report["api_calls"].items()) {
        EXPECT_TRUE(winemu::IsFaultableApi(api)) << api << " is checked but machine.ini refuses it";
        for (int n = 1; n <= count.get<int>(); ++n) {
            const std::string site = api + "#" + std::to_string(n);
            testsupport::ChildResult run = RunWithFault(path, {{api, "#" + std::to_string(n)}},
                                                        path.installFirst ? &finished : nullptr);
            std::string outcome = Outcome(run);
            if (path.installFirst) {
                // After the failed removal and another, the machine is as after a clean one.
                std::string code = finished.substr(0, finished.find(' '));
                EXPECT_TRUE(code == "0" || code == "1605") << site << ": " << code;
                EXPECT_EQ(finished.substr(finished.find(' ') + 1), removed) << site;
            }
            got[prefix + site] = outcome;
            EXPECT_TRUE(IsDocumentedExit(run)) << site << ": " << outcome;
            EXPECT_TRUE(EndedTheToolkit(run)) << site << ": " << outcome;
            if (!IsClose(api) && run.report.is_object()) {
                EXPECT_TRUE(run.report["open_handles"].empty())
                    << site << ": " << run.report["open_handles"].dump();
            }
            // A second failure inside the fatal path: the fatal-error dialog cannot be shown.
            // The path still ends the toolkit, and shows no second fatal-error dialog.
            if (std::optional<std::string> fatal = FatalDialogCall(run)) {
                testsupport::ChildResult second =
                    RunWithFault(path, {{api, "#" + std::to_string(n)}, {"FDoDialogExt", *fatal}});
                std::string both = site + " FDoDialogExt" + *fatal;
                got[prefix + both] = Outcome(second);
                EXPECT_TRUE(IsDocumentedExit(second)) << both;
                EXPECT_TRUE(EndedTheToolkit(second)) << both << ": " << Outcome(second);
            }
        }
    }

    std::map<std::string, std::string> expected = ReadExpected();
    if (std::getenv("SOUNDSETUP_FAULTS_REWRITE") != nullptr) {
        std::erase_if(expected, [&](const auto& line) { return line.first.rfind(prefix, 0) == 0; });
        expected.insert(got.begin(), got.end());
        WriteExpected(expected);
        return;
    }
    std::map<std::string, std::string> recorded;
    for (const auto& [key, outcome] : expected) {
        if (key.rfind(prefix, 0) == 0)
            recorded[key] = outcome;
    }
    for (const auto& [key, outcome] : got) {
        auto it = recorded.find(key);
        EXPECT_TRUE(it != recorded.end() && it->second == outcome)
            << key << ": " << outcome
            << "\n  recorded: " << (it == recorded.end() ? "(none)" : it->second);
    }
    for (const auto& [key, outcome] : recorded)
        EXPECT_TRUE(got.count(key)) << key << " is recorded but the run no longer makes that call";
}

INSTANTIATE_TEST_SUITE_P(Samples, FaultSweep, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<RunPath>& info) {
                             std::string name =
                                 std::string(info.param.sample) + "_" + info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
