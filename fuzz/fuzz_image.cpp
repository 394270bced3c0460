// The fuzz targets' machine image: one folder for the whole run, its input file rewritten each
// time.
#include "fuzz_image.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fuzzing {

namespace {

// The image folder, removed when the fuzzer ends.
struct Folder {
    Folder()
        : dir(std::filesystem::temp_directory_path() /
              ("soundsetup-fuzz." + std::to_string(::getpid()))) {
        std::filesystem::create_directories(dir / "drives" / "A");
        std::filesystem::create_directories(dir / "drives" / "C" / "WINNT" / "system32");
        std::ofstream(dir / "drives" / "A" / "TONEBAY.DLL") << "driver";
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::filesystem::path dir;
};

} // namespace

winemu::Machine& MachineWithFile(std::string_view data, std::string_view name) {
    static const Folder folder;
    const std::filesystem::path& dir = folder.dir;
    static std::unique_ptr<winemu::Machine> machine;
    {
        std::ofstream out(dir / "drives" / "A" / name, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    winemu::Activate(nullptr);
    machine = winemu::Machine::Boot(dir);
    winemu::Activate(machine.get());
    return *machine;
}

} // namespace fuzzing
