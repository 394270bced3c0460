// The runner: boots a machine image, runs setup on it as its process, then writes the registry
// back and, when asked, a JSON report of the run; or restarts the machine's Windows instead.
//   setup --machine DIR [--answers FILE] [--report FILE] [-- command line]
//   setup --machine DIR --restart
// Exit codes: the process's own (the report holds it whole; the shell sees its low byte, so an
// unattended run's 1603 reads as 67 there); 2 when the options are wrong or the machine cannot boot
// (the image is left as it was); 3 when the run ended but registry.reg or the report could not be
// written. A restart exits 0 when done, 2 when the machine cannot boot (the image is left as it
// was) and 3 when registry.reg or machine.ini could not be written.
#include "setup/setup.h"
#include "winemu/machine.h"
#include "winemu/restart.h"

#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

constexpr int kExitCannotBoot = 2;
constexpr int kExitCannotSave = 3;

int Usage(const char* message) {
    std::cerr << "setup: " << message << "\n"
              << "usage: setup --machine DIR [--answers FILE] [--report FILE] [-- command line]\n"
              << "       setup --machine DIR --restart\n";
    return kExitCannotBoot;
}

// What a restart of Windows does: the moves left for the next start, then the devices that the
// drivers give; the registry and the devices found are saved, each even when the other cannot be.
int Restart(winemu::Machine& machine) {
    winemu::RestartResult done = winemu::RestartMachine(machine);
    std::cout << "setup: restarted: " << done.movesDone << " pending file operations done, "
              << done.movesFailed << " failed; devices found: wave out " << done.waveOut
              << ", wave in " << done.waveIn << ", MIDI out " << done.midiOut << ", MIDI in "
              << done.midiIn << "\n";
    int result = 0;
    try {
        machine.SaveRegistry();
    } catch (const std::exception& e) {
        std::cerr << "setup: the registry was not saved: " << e.what() << "\n";
        result = kExitCannotSave;
    }
    try {
        winemu::SaveDevicesFound(machine);
    } catch (const std::exception& e) {
        std::cerr << "setup: machine.ini was not saved: " << e.what() << "\n";
        result = kExitCannotSave;
    }
    return result;
}

// Where the report will go must be a file in an existing folder, known before the run changes
// anything.
bool ReportPathUsable(const std::filesystem::path& report) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(report, ec).parent_path();
    return !ec && std::filesystem::is_directory(folder, ec) &&
           !std::filesystem::is_directory(report, ec);
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path machineDir;
    std::filesystem::path answers;
    std::filesystem::path report;
    std::string commandLine;
    bool restart = false;
    bool commandGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--restart") {
            restart = true;
            continue;
        }
        if (arg == "--") {
            commandGiven = true;
            for (int j = i + 1; j < argc; ++j) {
                if (!commandLine.empty())
                    commandLine += ' ';
                commandLine += argv[j];
            }
            break;
        }
        if (i + 1 >= argc)
            return Usage(("missing value after " + arg).c_str());
        if (arg == "--machine")
            machineDir = argv[++i];
        else if (arg == "--answers")
            answers = argv[++i];
        else if (arg == "--report")
            report = argv[++i];
        else
            return Usage(("unknown option " + arg).c_str());
    }
    if (machineDir.empty())
        return Usage("--machine is required");
    if (restart && (commandGiven || !answers.empty() || !report.empty()))
        return Usage("--restart runs no setup: it takes no --answers, --report or command line");
    if (!answers.empty() && !std::filesystem::is_regular_file(answers))
        return Usage(("answers file not found: " + answers.string()).c_str());
    if (!report.empty() && !ReportPathUsable(report))
        return Usage(("report cannot be written there: " + report.string()).c_str());

    std::unique_ptr<winemu::Machine> machine;
    try {
        machine = winemu::Machine::Boot(machineDir);
    } catch (const winemu::BootError& e) {
        std::cerr << "setup: cannot boot the machine " << machineDir.string() << ": " << e.what()
                  << "\n";
        return kExitCannotBoot;
    }
    if (restart)
        return Restart(*machine);
    machine->SetConsole(&std::cout);
    machine->SetInput(&std::cin);
    if (!answers.empty())
        machine->AnswersFile() = std::filesystem::absolute(answers);

    std::string cmd = commandLine;
    UINT code = machine->Run(
        [&] { WinMain((HINSTANCE)(ULONG_PTR)0x400000, NULL, cmd.data(), SW_SHOWNORMAL); });
    std::cout.flush();
    if (code > 255)
        std::cerr << "setup: exit code " << code << "\n"; // what a Windows caller would see
    // Each is written even when the other cannot be.
    int result = static_cast<int>(code & 0xFF);
    try {
        machine->SaveRegistry();
    } catch (const std::exception& e) {
        std::cerr << "setup: the registry was not saved: " << e.what() << "\n";
        result = kExitCannotSave;
    }
    try {
        if (!report.empty())
            machine->WriteReport(report);
    } catch (const std::exception& e) {
        std::cerr << "setup: the report was not written: " << e.what() << "\n";
        result = kExitCannotSave;
    }
    return result;
}
