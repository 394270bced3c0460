// What loading and saving a large registry costs, measured beside the floor of copying the same
// file in the same run: a registry of 100,000 values spread over 10,000 keys, and the same
// number of values in one key.
#include "winemu/machine.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// REGEDIT4 text of keys * valuesPerKey values of the usual kinds: text, numbers and bytes.
std::string MakeRegistry(int keys, int valuesPerKey) {
    std::string text = "REGEDIT4\n\n";
    char line[160];
    for (int k = 0; k < keys; ++k) {
        std::snprintf(line, sizeof line, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Key%05d]\n", k);
        text += line;
        for (int v = 0; v < valuesPerKey; ++v) {
            switch (v % 3) {
            case 0:
                std::snprintf(line, sizeof line,
                              "\"Text%05d\"=\"C:\\\\WINNT\\\\system32\\\\file%05d.dll\"\n", v, k);
                break;
            case 1:
                std::snprintf(line, sizeof line, "\"Number%05d\"=dword:%08x\n", v, k * 31 + v);
                break;
            default:
                std::snprintf(line, sizeof line, "\"Bytes%05d\"=hex:%02x,01,02,03,04,05,06,07,08\n",
                              v, k & 0xFF);
            }
            text += line;
        }
        text += "\n";
    }
    return text;
}

// A machine image in a temporary folder holding one registry.reg.
class Image {
  public:
    Image(int keys, int valuesPerKey) {
        dir_ =
            fs::temp_directory_path() / ("registry_bench." + std::to_string(::getpid()) + "." +
                                         std::to_string(keys) + "x" + std::to_string(valuesPerKey));
        fs::create_directories(dir_);
        std::ofstream(dir_ / "registry.reg", std::ios::binary) << MakeRegistry(keys, valuesPerKey);
        size_ = fs::file_size(dir_ / "registry.reg");
    }
    ~Image() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    const fs::path& Dir() const { return dir_; }
    double Size() const { return static_cast<double>(size_); }

  private:
    fs::path dir_;
    uintmax_t size_ = 0;
};

const Image& Spread() {
    static const Image image(10000, 10);
    return image;
}

const Image& OneKey() {
    static const Image image(1, 50000);
    return image;
}

const Image& SpreadSameCount() {
    static const Image image(5000, 10);
    return image;
}

// Boots the image, changes one value so that the save must write, and saves.
void LoadAndSave(const Image& image) {
    auto machine = winemu::Machine::Boot(image.Dir());
    machine->Reg().SetDword("HKLM\\SOFTWARE\\Bench", "Touched", 1);
    machine->SaveRegistry();
}

// The floor: the same file read and written once, as a copy does; with the flush to the disk
// that the save makes (1) and without (0).
void BM_CopyFile(benchmark::State& state) {
    const Image& image = Spread();
    for (auto _ : state) {
        fs::copy_file(image.Dir() / "registry.reg", image.Dir() / "copy.reg",
                      fs::copy_options::overwrite_existing);
        if (state.range(0) != 0) {
            FILE* f = std::fopen((image.Dir() / "copy.reg").c_str(), "r+");
            ::fsync(::fileno(f));
            std::fclose(f);
        }
    }
    state.counters["file_MB"] = image.Size() / 1e6;
}
BENCHMARK(BM_CopyFile)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("fsync")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_LoadAndSave100kValues(benchmark::State& state) {
    for (auto _ : state)
        LoadAndSave(Spread());
}
BENCHMARK(BM_LoadAndSave100kValues)->Unit(benchmark::kMillisecond)->UseRealTime();

// Loading 50,000 values in one key beside 50,000 spread over keys of ten: the cost per value.
void BM_Load50kValues(benchmark::State& state) {
    const Image& image = state.range(0) == 0 ? SpreadSameCount() : OneKey();
    for (auto _ : state)
        benchmark::DoNotOptimize(winemu::Machine::Boot(image.Dir()));
    state.SetItemsProcessed(state.iterations() * 50000);
}
BENCHMARK(BM_Load50kValues)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("one_key")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

// Peak memory of a load and save over the memory before it, as a multiple of the file: measured
// in a fresh process of this program, so that no memory this one freed is counted or reused.
void BM_PeakMemory100kValues(benchmark::State& state) {
    const Image& image = Spread();
    double ratio = 0;
    for (auto _ : state) {
        std::string command =
            "/proc/" + std::to_string(::getpid()) + "/exe --peak " + (image.Dir()).string();
        FILE* child = ::popen(command.c_str(), "r");
        if (child == nullptr || std::fscanf(child, "%lf", &ratio) != 1)
            state.SkipWithError("the measuring process did not report");
        if (child != nullptr)
            ::pclose(child);
    }
    state.counters["peak_x_file"] = ratio;
}
BENCHMARK(BM_PeakMemory100kValues)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The measuring process: prints the peak over the start, as a multiple of registry.reg's size.
int MeasurePeak(const fs::path& dir) {
    long before = StatusKb("VmRSS:");
    auto machine = winemu::Machine::Boot(dir);
    machine->Reg().SetDword("HKLM\\SOFTWARE\\Bench", "Touched", 1);
    machine->SaveRegistry();
    long peak = StatusKb("VmHWM:");
    std::printf("%f\n", static_cast<double>(peak - before) * 1024.0 /
                            static_cast<double>(fs::file_size(dir / "registry.reg")));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--peak")
        return MeasurePeak(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
