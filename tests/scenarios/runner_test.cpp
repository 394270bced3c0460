// The runner as a person uses it: its options, a machine it cannot boot, and what it leaves.
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::TestImage;

namespace {

struct Outcome {
    int exitCode;
    std::string output;
};

Outcome RunRunner(const std::string& args) {
    std::string command = std::string(SOUNDSETUP_SETUP_EXE) + " " + args + " 2>&1 </dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), n);
    int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// A sample machine copied into a fresh image, so that a run leaves the sample as it is.
void CopySample(const TestImage& image, const char* sample) {
    std::filesystem::copy(std::filesystem::path(SOUNDSETUP_SOURCE_DIR) / "machines" / sample,
                          image.Dir(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
}

ino_t Inode(const std::filesystem::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A run at a terminal: the runner on a pseudo-terminal, each answer typed when a dialog asks
// ("Choose 1-N: "); past the last answer the terminal's end of input (Ctrl-D) answers. A run
// that has not ended within the time is killed, so a hang fails instead of blocking.
struct TerminalRun {
    int exitCode = -1; // -1: killed, or not ended normally
    bool hung = false;
    std::string screen;
};

TerminalRun RunAtTerminal(const std::vector<std::string>& args,
                          const std::vector<std::string>& answers) {
    std::vector<char*> argv{const_cast<char*>(SOUNDSETUP_SETUP_EXE)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    TerminalRun run;
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0)
        return run;
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    size_t asked = 0; // prompts answered
    size_t seen = 0;  // where the next prompt is looked for
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.hung = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            continue;
        std::array<char, 4096> buffer{};
        ssize_t n = read(master, buffer.data(), buffer.size());
        if (n <= 0)
            break; // the child closed the terminal
        run.screen.append(buffer.data(), static_cast<size_t>(n));
        for (size_t at; (at = run.screen.find("Choose 1-", seen)) != std::string::npos;) {
            seen = at + 1;
            std::string typed = asked < answers.size() ? answers[asked] + "\n" : "\x04";
            ++asked;
            if (write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size()))
                ADD_FAILURE() << "cannot type at the terminal";
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    if (!run.hung && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

} // namespace

TEST(Runner, AMachineThatCannotBootIsNamedAndLeftAsItWas) {
    TestImage image;
    image.Registry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"x\"=hex:0g\n");
    const std::string before = testsupport::ReadHostFile(image.Dir() / "registry.reg");
    Outcome out = RunRunner("--machine " + image.Dir().string() + " --report " +
                            (image.Dir() / "r.json").string());
    EXPECT_EQ(out.exitCode, 2);
    EXPECT_NE(out.output.find("registry.reg:4"), std::string::npos) << out.output;
    EXPECT_EQ(testsupport::ReadHostFile(image.Dir() / "registry.reg"), before);
    EXPECT_FALSE(std::filesystem::exists(image.Dir() / "r.json"));
    const std::string ini = testsupport::ReadHostFile(image.Dir() / "machine.ini");
    EXPECT_EQ(RunRunner("--machine " + image.Dir().string() + " --restart").exitCode, 2);
    EXPECT_EQ(testsupport::ReadHostFile(image.Dir() / "registry.reg"), before);
    EXPECT_EQ(testsupport::ReadHostFile(image.Dir() / "machine.ini"), ini);
}

TEST(Runner, BadOptionsAreRefused) {
    EXPECT_EQ(RunRunner("").exitCode, 2);
    EXPECT_EQ(RunRunner("--machine").exitCode, 2);
    EXPECT_EQ(RunRunner("--frobnicate x").exitCode, 2);
    TestImage image;
    // A restart runs no setup: nothing to answer, report or pass on.
    for (const char* with : {" --answers /dev/null", " --report r.json", " -- /x", " --"})
        EXPECT_EQ(RunRunner("--machine " + image.Dir().string() + " --restart" + with).exitCode, 2)
            << with;
    Outcome out = RunRunner("--machine " + image.Dir().string() + " --answers /nonexistent.ini");
    EXPECT_EQ(out.exitCode, 2);
    EXPECT_NE(out.output.find("/nonexistent.ini"), std::string::npos);
    // Where the report goes is checked before the run changes anything.
    for (const std::string& where : {std::string("/nonexistent/r.json"), image.Dir().string()}) {
        out = RunRunner("--machine " + image.Dir().string() + " --report " + where);
        EXPECT_EQ(out.exitCode, 2) << where;
        EXPECT_NE(out.output.find(where), std::string::npos) << out.output;
        EXPECT_FALSE(std::filesystem::exists(image.Dir() / "registry.reg")) << where;
    }
}

// A run whose registry cannot be saved still writes its report, keeps the old registry and
// says so with its own exit code; a run that changed nothing leaves registry.reg alone.
TEST(Runner, WhatARunLeavesWhenItCannotSaveOrHasNothingToSave) {
    TestImage image;
    CopySample(image, "nt40");
    const std::filesystem::path reg = image.Dir() / "registry.reg";
    const std::string before = testsupport::ReadHostFile(reg);
    std::filesystem::create_directories(image.Dir() / "registry.reg.tmp" / "in the way");
    std::ofstream(image.Dir() / "answers.ini") << "[Answers]\n";
    const std::filesystem::path report = image.Dir() / "r.json";
    Outcome out =
        RunRunner("--machine " + image.Dir().string() + " --answers " +
                  (image.Dir() / "answers.ini").string() + " --report " + report.string());
    EXPECT_EQ(out.exitCode, 3) << out.output;
    EXPECT_NE(out.output.find("registry was not saved"), std::string::npos) << out.output;
    EXPECT_EQ(testsupport::ReadHostFile(reg), before);
    ASSERT_TRUE(std::filesystem::exists(report));
    EXPECT_EQ(nlohmann::json::parse(testsupport::ReadHostFile(report))["exit_code"], 0);
    // A restart that cannot save the registry still saves the devices it found (none: the run
    // before it left no driver registered).
    out = RunRunner("--machine " + image.Dir().string() + " --restart");
    EXPECT_EQ(out.exitCode, 3) << out.output;
    EXPECT_EQ(testsupport::ReadHostFile(reg), before);
    EXPECT_NE(testsupport::ReadHostFile(image.Dir() / "machine.ini").find("[DevicesFound]"),
              std::string::npos);

    TestImage refused;
    CopySample(refused, "nt40-wave");
    const ino_t inode = Inode(refused.Dir() / "registry.reg");
    out = RunRunner("--machine " + refused.Dir().string());
    EXPECT_EQ(out.exitCode, 0) << out.output;
    EXPECT_EQ(Inode(refused.Dir() / "registry.reg"), inode);
}

// Windows' own order: an install, a restart that loads the new driver, and setup again refuses
// with the existing-devices dialog, copying nothing.
TEST(Runner, AfterAnInstallAndARestartSetupFindsTheBoardsDevices) {
    TestImage image;
    CopySample(image, "nt40");
    const std::string machine = "--machine " + image.Dir().string();
    const std::string answers = " -- /answers:A:\\ANSWERS.INI";
    const std::filesystem::path report = image.Dir() / "r.json";
    ASSERT_EQ(RunRunner(machine + answers).exitCode, 0);
    Outcome out = RunRunner(machine + " --restart");
    ASSERT_EQ(out.exitCode, 0) << out.output;
    EXPECT_NE(out.output.find("wave out 1, wave in 1, MIDI out 1, MIDI in 0"), std::string::npos)
        << out.output;
    out = RunRunner(machine + " --report " + report.string() + answers);
    nlohmann::json second = nlohmann::json::parse(testsupport::ReadHostFile(report));
    std::vector<int> dialogs;
    for (const auto& dialog : second["dialogs"])
        dialogs.push_back(dialog["id"].get<int>());
    EXPECT_EQ(dialogs, (std::vector<int>{5100, 600})) << out.output;
    EXPECT_TRUE(second["files_copied"].empty());
}

// Every ending of an interactive run, answered at a terminal: each exits 0 and takes its own path.
// The answers are the buttons' numbers as each dialog lists them; none left is end of input.
TEST(Runner, EveryEndingAtATerminalExitsZero) {
    struct Row {
        const char* ending;
        const char* sample;
        const char* iniLines; // added to machine.ini
        const char* driver;   // A:\TONEBAY.INI's [Driver] answers, or null for the disk's own
        std::vector<std::string> commandLine;
        std::vector<std::string> answers;
        std::vector<int> dialogs;
        const char* box; // the one message box, or null for none
        int exitWindowsCalls;
        bool restart;
    };
    const Row rows[] = {
        {"finished", "nt40", "", nullptr, {}, {"1", "1"}, {5100, 100, 5000, 700}, nullptr, 1, true},
        {"finished, the restart left for later",
         "nt40",
         "",
         nullptr,
         {},
         {"1", "2"},
         {5100, 100, 5000, 700},
         nullptr,
         0,
         false},
        {"finished, the restart refused",
         "nt40",
         "[Faults]\nExitWindowsEx=*\n",
         nullptr,
         {},
         {"", "1"},
         {5100, 100, 5000, 700},
         nullptr,
         1,
         false},
        {"quit", "nt40", "", nullptr, {}, {"3", "1"}, {5100, 100, 200}, nullptr, 0, false},
        {"not registered",
         "nt40",
         "[Faults]\nRegSetValueExA=CurrentInstrument\n",
         nullptr,
         {},
         {"1", "1"},
         {5100, 100, 5000, 900},
         nullptr,
         0,
         false},
        {"the driver refuses",
         "nt40",
         "",
         "[Driver]\nInstall=0\n",
         {},
         {"1"},
         {5100, 100, 5000},
         nullptr,
         0,
         false},
        {"an existing device", "nt40-wave", "", nullptr, {}, {}, {5100, 600}, nullptr, 0, false},
        {"WM_QUIT under a dialog",
         "nt40",
         "[Faults]\nWM_QUIT=100\n",
         nullptr,
         {},
         {"1", "1"},
         {5100, 100, 400},
         nullptr,
         0,
         false},
        {"cannot initialize",
         "nt40",
         "[Faults]\nInitializeFrame=*\n",
         nullptr,
         {},
         {},
         {},
         "Cannot initialize setup!",
         0,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ending);
        TestImage image;
        CopySample(image, row.sample);
        std::ofstream(image.Dir() / "machine.ini", std::ios::app) << "\n" << row.iniLines;
        if (row.driver)
            image.File("A:\\TONEBAY.INI", row.driver);
        const std::filesystem::path report = image.Dir() / "r.json";
        std::vector<std::string> args{"--machine", image.Dir().string(), "--report",
                                      report.string()};
        if (!row.commandLine.empty())
            args.push_back("--");
        args.insert(args.end(), row.commandLine.begin(), row.commandLine.end());

        TerminalRun run = RunAtTerminal(args, row.answers);
        ASSERT_FALSE(run.hung) << run.screen;
        EXPECT_EQ(run.exitCode, 0) << run.screen;
        nlohmann::json r = nlohmann::json::parse(testsupport::ReadHostFile(report));
        EXPECT_EQ(r["exit_code"], 0);
        std::vector<int> dialogs;
        for (const auto& dialog : r["dialogs"])
            dialogs.push_back(dialog["id"].get<int>());
        EXPECT_EQ(dialogs, row.dialogs) << run.screen;
        ASSERT_EQ(r["message_boxes"].size(), row.box ? 1u : 0u) << run.screen;
        if (row.box) {
            EXPECT_EQ(r["message_boxes"][0]["text"], row.box);
        }
        EXPECT_EQ(r["api_calls"].value("ExitWindowsEx", 0), row.exitWindowsCalls);
        EXPECT_EQ(r["restart_requested"].get<bool>(), row.restart);
    }
}
