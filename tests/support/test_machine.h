// Test harness: machine images built in a temporary folder a few lines at a time, booted in
// process or run as a whole process in a child (so that module-level state starts fresh and the
// end of the process ends only the child).
#pragma once

#include "winemu/machine.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

// A machine image in a fresh temporary folder, removed when the object goes.
class TestImage {
  public:
    TestImage();
    ~TestImage();
    TestImage(const TestImage&) = delete;
    TestImage& operator=(const TestImage&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }

    // machine.ini, whole ("[Machine]\nVersion=3.51\n...").
    TestImage& Ini(std::string_view text);
    // registry.reg, whole; the "REGEDIT4" first line is added when missing.
    TestImage& Registry(std::string_view regText);
    // A file on an emulated drive ("A:\\SETUP.INF"); folders are made as needed.
    TestImage& File(std::string_view winPath, std::string_view contents);
    // An empty folder on an emulated drive ("C:\\WINNT\\system32").
    TestImage& Folder(std::string_view winPath);

    // drives/<LETTER>/... for a Windows path, as given (no case folding).
    std::filesystem::path HostPath(std::string_view winPath) const;
    // Reading back, matching names without regard to case as Windows would.
    bool Exists(std::string_view winPath) const;
    std::string Read(std::string_view winPath) const;

    // Boots the image (throws winemu::BootError).
    std::unique_ptr<winemu::Machine> Boot() const;

  private:
    std::filesystem::path dir_;
};

// A booted image, active as the current machine for the object's life (in-process tests).
class ActiveMachine {
  public:
    explicit ActiveMachine(const TestImage& image);
    ~ActiveMachine();
    winemu::Machine& M() { return *machine_; }
    winemu::Machine* operator->() { return machine_.get(); }

  private:
    std::unique_ptr<winemu::Machine> machine_;
};

// What a process run in a child left behind.
struct ChildResult {
    int exitCode = -1;                      // the process's exit code; -1 when the child died
    nlohmann::json report;                  // the machine's report
    std::unique_ptr<winemu::Machine> after; // the image booted again after the run
    std::string output;                     // what the child wrote to the machine console
};

using Faults = std::vector<std::pair<std::string, std::string>>; // {API, rule}

// Boots the image in a child process, adds the faults, runs body as the process (ExitProcess
// ends it), saves the registry and the report, and returns what it left. Gtest assertions in
// body do not reach the parent: assert on the result.
ChildResult RunInChild(const TestImage& image, const std::function<void()>& body,
                       const Faults& faults = {});

// The whole setup: WinMain with this command line (less the program's name).
ChildResult RunSetup(const TestImage& image, const std::string& cmdLine = "",
                     const Faults& faults = {});

// A host file's whole contents ("" when it cannot be read).
std::string ReadHostFile(const std::filesystem::path& file);

// Writes an answers file A:\ANSWERS.INI ("100=CONTINUE\n700=RESTART\n" lines under [Answers])
// and returns the command line "/answers:A:\ANSWERS.INI".
std::string UseAnswers(TestImage& image, std::string_view answerLines);

// A copy of a sample image of machines/ ("nt40") in the test's own folder.
void FromSample(TestImage& image, const char* szSample);
// What a run's report holds: the ids of the dialogs shown, in order; the texts of its message
// boxes; the process's whole exit code, of which the child's status holds only the low byte.
std::vector<int> DialogIds(const nlohmann::json& report);
std::vector<std::string> BoxTexts(const nlohmann::json& report);
UINT ExitCode(const ChildResult& result);

} // namespace testsupport
