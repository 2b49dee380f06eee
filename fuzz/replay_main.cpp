// Replays fuzz inputs without libFuzzer: each argument is an input file or a
// directory of them. The compilers without libFuzzer build the fuzz targets
// with this driver, so every build replays the seed and regression inputs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static void Replay(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    printf("replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
    fflush(stdout);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

int main(int argc, char **argv) {
    int replayed = 0;
    for (int i = 1; i < argc; i++) {
        std::filesystem::path path(argv[i]);
        if (!std::filesystem::is_directory(path)) {
            Replay(path);
            replayed++;
            continue;
        }
        std::vector<std::filesystem::path> files;
        for (const auto &entry : std::filesystem::directory_iterator(path))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const auto &file : files) Replay(file);
        replayed += static_cast<int>(files.size());
    }
    printf("%d inputs replayed\n", replayed);
    return 0;
}
