// A restart of Windows NT on a machine image. The Session Manager carries out the moves and
// deletions that MoveFileExA left for the next start, in the order they were asked for, and
// forgets them; winmm then loads each wave and MIDI entry of Drivers32 and counts the devices
// of those that load. The counts go into machine.ini's [DevicesFound], apart from the image's
// own [Devices], so that the next restart counts afresh.
#include "winemu/restart.h"

#include "winemu/kernel32/modules.h"

#include <mmsystem.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

namespace winemu {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kNtPrefix = "\\??\\";
constexpr std::string_view kDrivers32Key =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
constexpr std::string_view kFoundSection = "DevicesFound";

using Move = std::pair<std::string, std::string>; // source, target as the value holds them

// The pairs of a REG_MULTI_SZ of moves. An empty target is a deletion, so the strings are
// taken two at a time rather than up to the first empty one; a lone string left over is the
// list's closing terminator, or a pair cut short, and is dropped.
std::vector<Move> ReadMoves(const RegValue* value) {
    std::vector<std::string> strings;
    if (value != nullptr) {
        const std::vector<BYTE>& data = value->data;
        size_t start = 0;
        while (start < data.size()) {
            size_t end = start;
            while (end < data.size() && data[end] != 0)
                ++end;
            strings.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(start),
                                 data.begin() + static_cast<std::ptrdiff_t>(end));
            start = end + 1;
        }
    }
    std::vector<Move> moves;
    for (size_t i = 0; i + 1 < strings.size(); i += 2)
        moves.emplace_back(std::move(strings[i]), std::move(strings[i + 1]));
    return moves;
}

std::vector<BYTE> WriteMoves(const std::vector<Move>& moves) {
    std::vector<BYTE> data;
    for (const Move& move : moves) {
        for (const std::string* text : {&move.first, &move.second}) {
            data.insert(data.end(), text->begin(), text->end());
            data.push_back(0);
        }
    }
    data.push_back(0);
    return data;
}

std::string_view WithoutNtPrefix(std::string_view path) {
    if (path.substr(0, kNtPrefix.size()) == kNtPrefix)
        path.remove_prefix(kNtPrefix.size());
    return path;
}

bool ApplyMove(const Machine& machine, std::string_view source, std::string_view target) {
    std::optional<fs::path> from = machine.HostPath(WithoutNtPrefix(source));
    std::error_code ec;
    if (!from || !fs::exists(*from, ec))
        return false;
    if (target.empty()) {
        // A folder goes only when it is empty, as the Session Manager removes one.
        return fs::remove(*from, ec) && !ec;
    }
    bool replace = target.front() == '!';
    if (replace)
        target.remove_prefix(1);
    std::optional<fs::path> to = machine.HostPath(WithoutNtPrefix(target));
    if (!to || !fs::is_directory(to->parent_path(), ec))
        return false;
    if (fs::exists(*to, ec)) {
        if (!replace || fs::is_directory(*to, ec) || fs::equivalent(*from, *to, ec))
            return false;
    }
    fs::rename(*from, *to, ec);
    return !ec;
}

// A device entry of Drivers32: "wave", "midi", or either followed by digits ("wave1"). The
// mappers ("wavemapper", "midimapper") and "aux" and "mixer" give no wave or MIDI device.
bool IsDeviceEntry(std::string_view name, std::string_view kind) {
    if (name.size() < kind.size() || !NameEquals(name.substr(0, kind.size()), kind))
        return false;
    for (char c : name.substr(kind.size())) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// Whether the driver an entry names is a file of the system directory (or of the full path it
// gives) that loads as a driver: a module with a DriverProc that accepts DRV_LOAD.
bool DriverLoads(Machine& machine, const std::string& file) {
    if (file.empty())
        return false;
    std::string path = file;
    if (file.find_first_of("\\/:") == std::string::npos)
        path = machine.SystemDirectory() + "\\" + file;
    DWORD error = ERROR_SUCCESS;
    HMODULE module = LoadModule(path, error);
    if (module == nullptr)
        return false;
    using DriverEntry = LRESULT(CALLBACK*)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);
    auto driverProc = reinterpret_cast<DriverEntry>(
        reinterpret_cast<void (*)(void)>(ModuleExport(module, "DriverProc")));
    bool loads = false;
    if (driverProc != nullptr && driverProc(0, nullptr, DRV_LOAD, 0, 0) != 0) {
        loads = true;
        driverProc(0, nullptr, DRV_FREE, 0, 0);
    }
    FreeModule(module);
    return loads;
}

// The machine that the Win32 functions act on while a restart runs, and the one before it
// again afterwards; the image's faults are set aside meanwhile.
class RestartScope {
  public:
    explicit RestartScope(Machine& machine)
        : machine_(machine), previous_(HasCurrent() ? &Current() : nullptr),
          faults_(machine.Fault()) {
        machine_.Fault().Clear();
        Activate(&machine_);
    }
    ~RestartScope() {
        machine_.Fault() = std::move(faults_);
        Activate(previous_);
    }
    RestartScope(const RestartScope&) = delete;
    RestartScope& operator=(const RestartScope&) = delete;

  private:
    Machine& machine_;
    Machine* previous_;
    Faults faults_;
};

} // namespace

void QueueMoveAtRestart(Machine& machine, const std::string& source, const std::string& target,
                        DWORD flags) {
    Registry& reg = machine.Reg();
    std::vector<Move> moves = ReadMoves(reg.Value(kSessionManagerKey, kPendingMovesValue));
    std::string to;
    if (!target.empty())
        to = std::string((flags & MOVEFILE_REPLACE_EXISTING) ? "!" : "") + std::string(kNtPrefix) +
             target;
    moves.emplace_back(std::string(kNtPrefix) + source, std::move(to));
    reg.Set(kSessionManagerKey, kPendingMovesValue, REG_MULTI_SZ, WriteMoves(moves));
}

RestartResult RestartMachine(Machine& machine) {
    RestartScope scope(machine);
    RestartResult result;
    Registry& reg = machine.Reg();
    if (RegKey* key = reg.Find(kSessionManagerKey)) {
        if (const RegValue* value = key->FindValue(kPendingMovesValue)) {
            for (const Move& move : ReadMoves(value)) {
                if (ApplyMove(machine, move.first, move.second))
                    ++result.movesDone;
                else
                    ++result.movesFailed;
            }
            for (auto it = key->values.begin(); it != key->values.end(); ++it) {
                if (NameEquals(it->name, kPendingMovesValue)) {
                    key->values.erase(it);
                    break;
                }
            }
        }
    }
    if (RegKey* drivers = reg.Find(kDrivers32Key)) {
        for (const RegValue& value : drivers->values) {
            bool wave = IsDeviceEntry(value.name, "wave");
            bool midi = IsDeviceEntry(value.name, "midi");
            if ((!wave && !midi) || (value.type != REG_SZ && value.type != REG_EXPAND_SZ))
                continue;
            std::string file(value.data.begin(), value.data.end());
            file.erase(std::min(file.find('\0'), file.size()));
            if (!DriverLoads(machine, file))
                continue;
            if (wave) {
                ++result.waveOut;
                ++result.waveIn;
            } else {
                ++result.midiOut;
            }
        }
    }
    MachineConfig& config = machine.Config();
    config.foundWaveOutDevs = result.waveOut;
    config.foundWaveInDevs = result.waveIn;
    config.foundMidiOutDevs = result.midiOut;
    config.foundMidiInDevs = result.midiIn;
    return result;
}

void SaveDevicesFound(Machine& machine) {
    const fs::path file = machine.Dir() / "machine.ini";
    std::string text;
    std::error_code ec;
    if (fs::exists(file, ec)) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream whole;
        whole << in.rdbuf();
        if (!in)
            throw std::runtime_error("cannot read " + file.string());
        text = whole.str();
    }
    const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    // Every line kept but those of an earlier [DevicesFound].
    std::string kept;
    bool inFound = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string_view line(text.data() + start, end - start);
        size_t first = line.find_first_not_of(" \t");
        if (first != std::string_view::npos && line[first] == '[') {
            size_t close = line.find(']', first);
            std::string_view name =
                line.substr(first + 1, close == std::string_view::npos ? std::string_view::npos
                                                                       : close - first - 1);
            while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
                name.remove_prefix(1);
            while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
                name.remove_suffix(1);
            inFound = NameEquals(name, kFoundSection);
        }
        if (!inFound)
            kept.append(line);
        start = end;
    }
    if (!kept.empty() && kept.back() != '\n')
        kept += eol;
    if (!kept.empty() && (kept.size() < 2 * eol.size() ||
                          kept.compare(kept.size() - 2 * eol.size(), 2 * eol.size(), eol + eol)))
        kept += eol; // a blank line before the section, once
    const MachineConfig& config = machine.Config();
    kept += "[" + std::string(kFoundSection) + "]" + eol;
    kept += "WaveOut=" + std::to_string(config.foundWaveOutDevs) + eol;
    kept += "WaveIn=" + std::to_string(config.foundWaveInDevs) + eol;
    kept += "MidiOut=" + std::to_string(config.foundMidiOutDevs) + eol;
    kept += "MidiIn=" + std::to_string(config.foundMidiInDevs) + eol;
    WriteFileAtomically(file, kept);
}

} // namespace winemu
