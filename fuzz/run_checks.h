// What every fuzzed filter run must show, whatever the settings file held and
// whatever area the host reported: the documented result, nothing read or
// written outside a buffer, no block left live, the settings file closed, and
// the same image from two hosts that keep it differently. A broken rule
// prints what broke and aborts, which libFuzzer reports as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/settings.h"
#include "tests/common/memory_host.h"

struct FilterRunCase {
    std::string dir;          // settings directory; its file is already written
    int width, height;        // the area as the host reports it
    Image image;              // what the hosts hold (empty for a negative side)
    FilterSettings settings;  // the record the run must load from the file
    int failAllocation;       // 0: none; n: the run's nth block is not had
};

// Runs the case through both hosts (and, for a failed allocation, through the
// plain host once more) and checks every rule above.
void CheckFilterRun(const FilterRunCase &c);

// A fresh settings directory for the whole fuzzing process, with a trailing
// separator; removed at exit.
const std::string &FuzzSettingsDir(void);
// Writes bytes as the settings file of dir, replacing what was there.
void WriteSettingsFile(const std::string &dir, const void *bytes, size_t size);

// The image both hosts start from: bytes repeated row after row, or a fixed
// gradient when there are none. A negative side gives an empty image.
Image FuzzImage(int width, int height, const uint8_t *bytes, size_t size);

// Prints the broken rule and aborts.
[[noreturn]] void FuzzFailure(const char *format, ...) __attribute__((format(printf, 1, 2)));
#define FUZZ_CHECK(condition, ...)                   \
    do {                                             \
        if (!(condition)) FuzzFailure(__VA_ARGS__); \
    } while (0)
