// Test harness: temporary machine images and whole processes run in a child.
#include "support/test_machine.h"

#include "setup/setup.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace fs = std::filesystem;

namespace {

// "A:\\X\\y.txt" -> {"A", "X", "y.txt"}
std::vector<std::string> Split(std::string_view winPath) {
    if (winPath.size() < 2 || winPath[1] != ':')
        throw std::invalid_argument("a full Windows path is expected: " + std::string(winPath));
    std::vector<std::string> parts;
    parts.emplace_back(1, static_cast<char>(std::toupper(static_cast<unsigned char>(winPath[0]))));
    std::string part;
    for (char c : winPath.substr(2)) {
        if (c == '\\' || c == '/') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

// The host entry of a folder whose name matches without regard to case.
std::optional<fs::path> FindNoCase(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    if (fs::exists(folder / name, ec))
        return folder / name;
    if (!fs::is_directory(folder, ec))
        return std::nullopt;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (winemu::NameEquals(entry.path().filename().string(), name))
            return entry.path();
    }
    return std::nullopt;
}

std::optional<fs::path> Resolve(const fs::path& dir, std::string_view winPath) {
    fs::path p = dir / "drives";
    for (const std::string& part : Split(winPath)) {
        auto next = FindNoCase(p, part);
        if (!next)
            return std::nullopt;
        p = *next;
    }
    return p;
}

} // namespace

std::string ReadHostFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

void WriteFile(const fs::path& file, std::string_view contents) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

} // namespace

TestImage::TestImage() {
    std::string pattern = (fs::temp_directory_path() / "soundsetup-image-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    dir_ = pattern;
    fs::create_directories(dir_ / "drives");
}

TestImage::~TestImage() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

TestImage& TestImage::Ini(std::string_view text) {
    WriteFile(dir_ / "machine.ini", text);
    return *this;
}

TestImage& TestImage::Registry(std::string_view regText) {
    std::string text(regText);
    if (text.rfind("REGEDIT4", 0) != 0)
        text = "REGEDIT4\n\n" + text;
    WriteFile(dir_ / "registry.reg", text);
    return *this;
}

TestImage& TestImage::File(std::string_view winPath, std::string_view contents) {
    WriteFile(HostPath(winPath), contents);
    return *this;
}

TestImage& TestImage::Folder(std::string_view winPath) {
    fs::create_directories(HostPath(winPath));
    return *this;
}

fs::path TestImage::HostPath(std::string_view winPath) const {
    fs::path p = dir_ / "drives";
    for (const std::string& part : Split(winPath))
        p /= part;
    return p;
}

bool TestImage::Exists(std::string_view winPath) const {
    return Resolve(dir_, winPath).has_value();
}

std::string TestImage::Read(std::string_view winPath) const {
    auto p = Resolve(dir_, winPath);
    if (!p)
        throw std::runtime_error("no such file on the image: " + std::string(winPath));
    return ReadHostFile(*p);
}

std::unique_ptr<winemu::Machine> TestImage::Boot() const {
    return winemu::Machine::Boot(dir_);
}

ActiveMachine::ActiveMachine(const TestImage& image) : machine_(image.Boot()) {
    winemu::Activate(machine_.get());
}

ActiveMachine::~ActiveMachine() {
    winemu::Activate(nullptr);
}

ChildResult RunInChild(const TestImage& image, const std::function<void()>& body,
                       const Faults& faults) {
    const fs::path reportFile = image.Dir() / "report.json";
    const fs::path consoleFile = image.Dir() / "console.txt";
    std::error_code ec;
    fs::remove(reportFile, ec);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        // The child is the emulated process: whatever happens, it leaves through _exit so that
        // nothing of the test program runs twice.
        int status = 3;
        try {
            auto machine = image.Boot();
            for (const auto& [api, rule] : faults)
                machine->Fault().Add(api, rule);
            std::ofstream console(consoleFile, std::ios::binary | std::ios::trunc);
            machine->SetConsole(&console);
            UINT code = machine->Run(body);
            console.flush();
            machine->SaveRegistry();
            machine->WriteReport(reportFile);
            status = static_cast<int>(code & 0xFF);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child process failed: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "child process failed\n");
        }
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ChildResult result;
    if (WIFEXITED(status) && fs::exists(reportFile)) {
        result.exitCode = WEXITSTATUS(status);
        result.report = nlohmann::json::parse(ReadHostFile(reportFile));
    }
    if (fs::exists(consoleFile))
        result.output = ReadHostFile(consoleFile);
    result.after = image.Boot();
    return result;
}

ChildResult RunSetup(const TestImage& image, const std::string& cmdLine, const Faults& faults) {
    return RunInChild(
        image,
        [&cmdLine] {
            std::string cmd = cmdLine;
            WinMain((HINSTANCE)(ULONG_PTR)0x400000, NULL, cmd.data(), SW_SHOWNORMAL);
        },
        faults);
}

std::string UseAnswers(TestImage& image, std::string_view answerLines) {
    image.File("A:\\ANSWERS.INI", "[Answers]\n" + std::string(answerLines));
    return "/answers:A:\\ANSWERS.INI";
}

void FromSample(TestImage& image, const char* szSample) {
    fs::copy(fs::path(SOUNDSETUP_SOURCE_DIR) / "machines" / szSample, image.Dir(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

std::vector<int> DialogIds(const nlohmann::json& report) {
    std::vector<int> ids;
    for (const auto& dialog : report.value("dialogs", nlohmann::json::array()))
        ids.push_back(dialog["id"].get<int>());
    return ids;
}

std::vector<std::string> BoxTexts(const nlohmann::json& report) {
    std::vector<std::string> texts;
    for (const auto& box : report.value("message_boxes", nlohmann::json::array()))
        texts.push_back(box["text"].get<std::string>());
    return texts;
}

UINT ExitCode(const ChildResult& result) {
    return result.report.value("exit_code", 0xFFFFFFFFu);
}

} // namespace testsupport
