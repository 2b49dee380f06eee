// Fuzzes the settings file: the input, whatever its length, is written as the
// file, and a filter run follows over a few small areas. Whatever radius,
// smoothing flag and colour the file holds, the run keeps to the rules of
// run_checks.h.
#include <cstring>

#include "fuzz/run_checks.h"

// Small areas, so that radii from the file both pass and fail the size check:
// a typical one, a tiny one, and a single row.
static const struct {
    int width, height;
} kAreas[] = {{24, 20}, {3, 2}, {9, 1}};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A file shorter than the record replaces only its leading bytes; the run
    // starts from the zero record, as after the module is loaded.
    FilterSettings expected;
    memset(&expected, 0, sizeof expected);
    if (size > 0) memcpy(&expected, data, size < sizeof expected ? size : sizeof expected);
    FilterRunCase c;
    c.dir = FuzzSettingsDir();
    c.settings = expected;
    c.failAllocation = 0;
    WriteSettingsFile(c.dir, data, size);
    for (const auto &area : kAreas) {
        c.width = area.width;
        c.height = area.height;
        c.image = FuzzImage(area.width, area.height, nullptr, 0);
        CheckFilterRun(c);
    }
    return 0;
}
