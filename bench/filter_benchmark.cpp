// Whole FilterProc runs through an in-memory host, next to their floor: the
// same host copying the same rows, in the same order, with no filter work in
// between. The ratio of the two is what a run costs beyond the host's copying.
//
// Between the two sits the bare run: what any run must do besides the filter
// arithmetic (load the settings file, obtain the zero-filled row buffer and
// smoothing window, let the host copy the same rows into the same places,
// release the blocks). It shows how much of the gap to the floor is the
// run's fixed duties rather than the filter's own work.
//
// scripts/bench.sh prints the three side by side.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filter/filter.h"
#include "plugin/host_interface.h"
#include "settings/settings.h"

namespace {

struct BenchImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bgr;
};

// One host call of a recorded run: row (reads as row, writes as ~row) and
// the address of the buffer the plug-in passed (kept as a number: the block
// is gone once the run is over).
struct RowCall {
    int call;
    uintptr_t pixels;
};

BenchImage *g_image;                // the image the callbacks serve
std::vector<RowCall> *g_recording;  // when set, every call is appended
bool g_runFailed;                   // a FilterProc run failed: the program's result is 1
std::string g_settingsBase;         // the settings directories live under it; removed at exit

int BenchReader(int row, int, int, unsigned char *pixels, int) {
    if (g_recording) g_recording->push_back({row, reinterpret_cast<uintptr_t>(pixels)});
    memcpy(pixels, &g_image->bgr[3 * static_cast<size_t>(row) * g_image->width], 3 * g_image->width);
    return 1;
}

int BenchWriter(int row, int, int, unsigned char *pixels, int) {
    if (g_recording) g_recording->push_back({~row, reinterpret_cast<uintptr_t>(pixels)});
    memcpy(&g_image->bgr[3 * static_cast<size_t>(row) * g_image->width], pixels, 3 * g_image->width);
    return 1;
}

std::string SettingsDir(int radius, int smooth) {
    if (g_settingsBase.empty()) {
        char pattern[] = "/tmp/roundcorner-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) abort();
        g_settingsBase = pattern;
    }
    std::string dir = g_settingsBase + "/r" + std::to_string(radius) + "s" + std::to_string(smooth) + "/";
    std::string command = "mkdir -p " + dir;
    if (system(command.c_str()) != 0) abort();
    FilterSettings settings = {radius, smooth, 0x00202020, {}};
    FILE *file = fopen((dir + SETTINGS_FILE_NAME).c_str(), "wb");
    fwrite(&settings, sizeof settings, 1, file);
    fclose(file);
    return dir;
}

BenchImage MakeImage(int width, int height) {
    BenchImage image;
    image.width = width;
    image.height = height;
    image.bgr.resize(3 * static_cast<size_t>(width) * height);
    for (size_t i = 0; i < image.bgr.size(); i++) image.bgr[i] = static_cast<unsigned char>(i * 31 + i / 7);
    return image;
}

int RunFilter(BenchImage &image, const std::string &dir) {
    ImageArea area = {image.width, image.height};
    RowReader reader = BenchReader;
    RowWriter writer = BenchWriter;
    g_image = &image;
    return FilterProc(nullptr, &area, &writer, &reader, dir.c_str());
}

// Arguments: width, height, radius, smoothing flag.
void BM_FilterRun(benchmark::State &state) {
    BenchImage image = MakeImage(state.range(0), state.range(1));
    std::string dir = SettingsDir(state.range(2), state.range(3));
    for (auto _ : state) {
        if (RunFilter(image, dir) == 1) continue;
        g_runFailed = true;
        state.SkipWithError("FilterProc failed");
        break;
    }
    state.SetBytesProcessed(state.iterations() * 3 * image.width * 2 * state.range(2));
}

std::vector<RowCall> RecordRun(BenchImage &image, const std::string &dir) {
    std::vector<RowCall> calls;
    g_recording = &calls;
    if (RunFilter(image, dir) != 1) g_runFailed = true;
    g_recording = nullptr;
    return calls;
}

void CopyRow(const BenchImage &image, int call, unsigned char *pixels) {
    if (call >= 0)
        BenchReader(call, 0, image.width - 1, pixels, -1);
    else
        BenchWriter(~call, 0, image.width - 1, pixels, -1);
}

// The same row traffic, replayed: the rows a run reads and writes, copied in
// and out of one row buffer, as the host would serve them.
void BM_CopyFloor(benchmark::State &state) {
    BenchImage image = MakeImage(state.range(0), state.range(1));
    std::string dir = SettingsDir(state.range(2), state.range(3));
    std::vector<RowCall> calls = RecordRun(image, dir);
    std::vector<unsigned char> row(3 * static_cast<size_t>(image.width) + 100);
    for (auto _ : state) {
        for (const RowCall &c : calls) CopyRow(image, c.call, row.data());
        benchmark::ClobberMemory();
    }
    state.counters["rows"] = static_cast<double>(calls.size());
}

// The run without the filter's own work: the settings load, the row buffer
// and (with smoothing) the window obtained and released as a run does, and
// the recorded row traffic replayed into them. A recorded call whose buffer
// is not the row buffer (the one every write uses) loads the window; its
// offset is taken from the first such call, which loads window row 1 at
// column 1.
void BM_BareRun(benchmark::State &state) {
    BenchImage image = MakeImage(state.range(0), state.range(1));
    const int radius = state.range(2), smooth = state.range(3);
    std::string dir = SettingsDir(radius, smooth);
    std::vector<RowCall> calls = RecordRun(image, dir);
    uintptr_t recordedRow = 0, recordedWindow = 0;
    for (const RowCall &c : calls) {
        if (c.call < 0 && recordedRow == 0) recordedRow = c.pixels;
    }
    for (const RowCall &c : calls) {
        if (c.pixels != recordedRow && recordedWindow == 0) recordedWindow = c.pixels;
    }
    const int64_t stride = 3 * (static_cast<int64_t>(image.width) + 2);
    for (auto _ : state) {
        LoadSettings(dir.c_str());
        unsigned char *row = ObtainBlock(BlockBytes(image.width, 3, 100));
        unsigned char *window = smooth ? ObtainBlock(BlockBytes(radius + 2, stride, 100)) : nullptr;
        for (const RowCall &c : calls) {
            unsigned char *pixels = c.pixels == recordedRow ? row : window + stride + 3 + (c.pixels - recordedWindow);
            CopyRow(image, c.call, pixels);
        }
        if (window) ReleaseBlock(window);
        ReleaseBlock(row);
        benchmark::ClobberMemory();
    }
}

// The settings load alone: the open, read and close every run starts with.
void BM_LoadSettings(benchmark::State &state) {
    std::string dir = SettingsDir(20, 0);
    for (auto _ : state) LoadSettings(dir.c_str());
}

void Sizes(benchmark::internal::Benchmark *b) {
    for (int smooth = 0; smooth <= 1; smooth++) {
        b->Args({1920, 1080, 20, smooth});
        b->Args({6000, 4000, 200, smooth});
        b->Args({20000, 12000, 999, smooth});
    }
    b->ArgNames({"w", "h", "r", "smooth"})->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_FilterRun)->Apply(Sizes);
BENCHMARK(BM_CopyFloor)->Apply(Sizes);
BENCHMARK(BM_BareRun)->Apply(Sizes);
BENCHMARK(BM_LoadSettings)->Unit(benchmark::kMicrosecond);

}  // namespace

// As BENCHMARK_MAIN, but a failed run fails the program, so that the test
// suite's short pass over the smallest size notices a broken benchmark.
int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!g_settingsBase.empty() && system(("rm -rf '" + g_settingsBase + "'").c_str()) != 0) return 1;
    return g_runFailed ? 1 : 0;
}
