// Fuzzes roundcorners' handling of image files: the input is written as a
// file and rounded as the command rounds one (RoundFile, radius 5 with
// smoothing, so that every image of 5 x 5 pixels or more goes through the
// plug-in). Whatever the bytes, the file is either refused with a message and
// no file left behind, or the output is an image of the same kind and size
// that the host's own decoder reads back whole. The input is never changed,
// and no file stays open (leaks show through LeakSanitizer).
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "fuzz/run_checks.h"
#include "host/image_codec.h"
#include "host/round_file.h"

// libpng allocates an ancillary chunk's declared length (up to 2 GB) before
// it reads the chunk, even past the limit it only warns about; a short file
// then fails to read with that memory untouched. Under ASan such a block still
// costs real memory (its shadow, and the quarantine once freed), so this
// fuzzer runs as on a machine that refuses any single allocation above 64 MB
// (eight times what the largest image it lets through needs), which
// exercises roundcorners' out-of-memory paths as well. ASan reads this at
// start-up, before ASAN_OPTIONS.
extern "C" const char *__asan_default_options(void) {
    return "allocator_may_return_null=1:max_allocation_size_mb=64";
}

static const int kRadius = 5;
// Bounds the work of one input: a header may announce an image far larger
// than the bytes behind it, and decoding that many rows of nothing takes
// seconds while proving nothing more than a smaller one does.
static const long long kMaxPixels = 1 << 20;

// Files in a directory of their own: /dev/shm when there is one, as the host
// syncs every output before renaming it and a disk makes that slow.
static const std::string &WorkDir(void) {
    static std::string dir;
    if (!dir.empty()) return dir;
    char pattern[] = "/dev/shm/roundcorner-fuzz-XXXXXX";
    char fallback[] = "/tmp/roundcorner-fuzz-XXXXXX";
    char *made = mkdtemp(pattern);
    if (made == nullptr) made = mkdtemp(fallback);
    FUZZ_CHECK(made != nullptr, "cannot make a work directory");
    dir = std::string(made) + "/";
    FilterSettings settings = {};
    settings.radius = kRadius;
    settings.smooth = 1;
    WriteSettingsFile(dir, &settings, sizeof settings);
    return dir;
}

static std::set<std::string> DirectoryEntries(const std::string &dir) {
    std::set<std::string> names;
    DIR *listing = opendir(dir.c_str());
    FUZZ_CHECK(listing != nullptr, "cannot list %s", dir.c_str());
    while (dirent *entry = readdir(listing))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.insert(entry->d_name);
    closedir(listing);
    return names;
}

static int OpenDescriptorCount(void) { return static_cast<int>(DirectoryEntries("/proc/self/fd").size()); }

static std::vector<unsigned char> FileBytes(const std::string &path) {
    std::vector<unsigned char> bytes;
    FILE *file = fopen(path.c_str(), "rb");
    FUZZ_CHECK(file != nullptr, "cannot read %s", path.c_str());
    unsigned char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    fclose(file);
    return bytes;
}

// The image's header, or false when the host refuses the file outright.
static bool ReadHeader(const std::string &path, ImageInfo *info) {
    ImageDecoder decoder;
    std::string error;
    if (!OpenImageDecoder(path, decoder, info, &error)) return false;
    CloseImageDecoder(decoder);
    return true;
}

// Decodes every row of path and the rest of the file; what a viewer would do.
static bool DecodesWhole(const std::string &path, ImageInfo *info, std::string *error) {
    ImageDecoder decoder;
    if (!OpenImageDecoder(path, decoder, info, error)) return false;
    std::vector<unsigned char> raw(RawRowBytes(info->format, info->width));
    bool ok = true;
    for (int pass = 0; ok && pass < info->passes; pass++)
        for (int y = 0; ok && y < info->height; y++) ok = DecodeRow(decoder, raw.data(), error);
    ImageMetadata metadata;
    ok = ok && FinishDecoding(decoder, &metadata, error);
    CloseImageDecoder(decoder);
    return ok;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &dir = WorkDir();
    RoundJob job;
    job.input = dir + "input";
    job.output = dir + "output";
    job.radius = kRadius;
    job.settingsDir = dir;
    unlink(job.output.c_str());
    FILE *file = fopen(job.input.c_str(), "wb");
    FUZZ_CHECK(file != nullptr && (size == 0 || fwrite(data, size, 1, file) == 1) && fclose(file) == 0,
               "cannot write the input file");
    ImageInfo in;
    if (ReadHeader(job.input, &in) && static_cast<long long>(in.width) * in.height > kMaxPixels) return 0;

    std::set<std::string> before = DirectoryEntries(dir);
    int descriptors = OpenDescriptorCount();
    std::string error;
    bool rounded = RoundFile(job, &error);
    FUZZ_CHECK(OpenDescriptorCount() == descriptors, "a file was left open (%s)", rounded ? "rounded" : error.c_str());
    FUZZ_CHECK(FileBytes(job.input) == std::vector<unsigned char>(data, data + size), "the input file changed");
    std::set<std::string> after = DirectoryEntries(dir);
    if (!rounded) {
        FUZZ_CHECK(!error.empty(), "refused without a message");
        FUZZ_CHECK(after == before, "a refused file left %zu files behind", after.size() - before.size());
        return 0;
    }
    before.insert("output");
    FUZZ_CHECK(after == before, "rounding left %zu files beside the output", after.size() - before.size());
    ImageInfo out;
    std::string outError;
    FUZZ_CHECK(DecodesWhole(job.output, &out, &outError), "the output does not decode: %s", outError.c_str());
    FUZZ_CHECK(ReadHeader(job.input, &in) && out.kind == in.kind && out.width == in.width && out.height == in.height,
               "the output is not an image of the input's kind and size");
    return 0;
}
