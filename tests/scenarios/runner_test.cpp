// The runner as a person uses it: its options, a machine it cannot boot, and what it leaves.
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <array>
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
constexpr size_t npos = std::string::npos;

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

// The runner on a pseudo-terminal, each answer typed when a dialog asks, end of input past the
// last; its exit code, or -1 when killed: 20 s without output is a hang, which fails the test.
int RunAtTerminal(const std::string& args, const std::vector<std::string>& answers,
                  std::string& screen) {
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " SOUNDSETUP_SETUP_EXE " " + args).c_str(), nullptr);
        _exit(127);
    }
    size_t typed = 0, seen = 0;
    pollfd ready{master, POLLIN, 0};
    std::array<char, 4096> buffer{};
    ssize_t n = 0;
    bool hung = false;
    while (!(hung = poll(&ready, 1, 20000) == 0) && (n = read(master, buffer.data(), 4096)) > 0) {
        screen.append(buffer.data(), static_cast<size_t>(n));
        for (size_t at; (at = screen.find("Choose 1-", seen)) != npos; seen = at + 1, ++typed) {
            std::string line = typed < answers.size() ? answers[typed] + "\n" : "\x04";
            (void)!write(master, line.data(), line.size());
        }
    }
    if (hung)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    return !hung && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    EXPECT_EQ(RunRunner("--machine " + image.Dir().string() + " --restart").exitCode, 2);
    EXPECT_EQ(testsupport::ReadHostFile(image.Dir() / "registry.reg"), before);
}

TEST(Runner, BadOptionsAreRefused) {
    EXPECT_EQ(RunRunner("").exitCode, 2);
    EXPECT_EQ(RunRunner("--machine").exitCode, 2);
    EXPECT_EQ(RunRunner("--frobnicate x").exitCode, 2);
    TestImage image;
    for (const char* with : {" --answers /dev/null", " --report r.json", " -- /x", " --"})
        EXPECT_EQ(RunRunner("--machine " + image.Dir().string() + " --restart" + with).exitCode, 2);
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
    EXPECT_EQ(RunRunner("--machine " + image.Dir().string() + " --restart").exitCode, 3);
    EXPECT_NE(testsupport::ReadHostFile(image.Dir() / "machine.ini").find("[DevicesFound]"), npos);

    TestImage refused;
    CopySample(refused, "nt40-wave");
    const ino_t inode = Inode(refused.Dir() / "registry.reg");
    out = RunRunner("--machine " + refused.Dir().string());
    EXPECT_EQ(out.exitCode, 0) << out.output;
    EXPECT_EQ(Inode(refused.Dir() / "registry.reg"), inode);
}

// Every ending of an interactive run, answered at a terminal by the buttons' numbers: each exits
// 0 and takes its own path. The board's own devices are there after an install and a restart.
TEST(Runner, EveryEndingAtATerminalExitsZero) {
    struct Row {
        const char* ending;
        std::vector<std::string> answers;
        const char* shown;        // the dialogs, the boxes, whether a restart was asked and done
        const char* faults = "";  // machine.ini's [Faults] lines
        bool installed = false;   // installed and restarted before
        const char* command = ""; // after --
    } rows[] = {
        {"finished", {"1", "1"}, "5100 100 5000 700 ExitWindowsEx restarts"},
        {"restart refused", {"", "1"}, "5100 100 5000 700 ExitWindowsEx", "ExitWindowsEx=*"},
        {"quit", {"3", "1"}, "5100 100 200"},
        {"900", {"1"}, "5100 100 5000 900", "RegSetValueExA=CurrentInstrument"},
        {"driver refuses", {"1"}, "5100 100 5000", "SendDriverMessage=DRV_INSTALL"},
        {"WM_QUIT", {"1"}, "5100 100 400", "WM_QUIT=100"},
        {"no frame", {}, "'Cannot initialize setup!'", "InitializeFrame=*"},
        {"600", {}, "5100 600", "", true},
        {"removal declined", {"2"}, "800", "", true, "/remove"},
        {"removed", {"1"}, "800 DRV_REMOVE", "", true, "/remove"},
    };
    for (const Row& row : rows) {
        TestImage image;
        CopySample(image, "nt40");
        const std::string dir = image.Dir().string();
        if (row.installed) {
            ASSERT_EQ(RunRunner("--machine " + dir + " -- /answers:A:\\\\ANSWERS.INI").exitCode, 0);
            ASSERT_EQ(RunRunner("--machine " + dir + " --restart").exitCode, 0);
        }
        std::ofstream(image.Dir() / "machine.ini", std::ios::app) << "[Faults]\n" << row.faults;
        const std::string args = "--machine " + dir + " --report " + dir + "/r.json -- ";
        std::string screen;
        EXPECT_EQ(RunAtTerminal(args + row.command, row.answers, screen), 0) << screen;
        nlohmann::json r = nlohmann::json::parse(testsupport::ReadHostFile(dir + "/r.json"));
        std::string shown;
        for (const auto& dialog : r["dialogs"])
            shown += std::to_string(dialog["id"].get<int>()) + " ";
        for (const auto& box : r["message_boxes"])
            shown += "'" + box["text"].get<std::string>() + "' ";
        for (const auto& message : r["driver_messages"])
            shown += message.value("message", "") == "DRV_REMOVE" ? "DRV_REMOVE " : "";
        shown += r["api_calls"].value("ExitWindowsEx", 0) ? "ExitWindowsEx " : "";
        shown += r["restart_requested"].get<bool>() ? "restarts " : "";
        EXPECT_EQ(shown, std::string(row.shown) + " ") << row.ending << screen;
    }
}
