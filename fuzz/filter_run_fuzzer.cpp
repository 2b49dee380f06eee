// Fuzzes a whole filter run: the area the host reports, the radius, the
// smoothing flag and the colour of the settings file, the image, and which
// block of the run (if any) cannot be had. Every run keeps to the rules of
// run_checks.h.
//
// Input, little-endian, missing bytes read as 0:
//   0      flags: bit 0 negates the width, bit 1 the height; bits 2-3 choose
//          how the radius is read (below)
//   1-2    width, 3-4 height (pixels, unsigned; height is cut so that the
//          area holds at most kMaxPixels)
//   5-8    radius: 0 as is; 1 the smaller side minus its low byte; 2 its value
//          modulo 64; 3 the smaller side plus 1 to 4 (refused)
//   9-12   smoothing flag, as is
//   13-16  background colour, as is (the top byte too)
//   17     the block that is not had, modulo 4 (0: none)
//   18...  image bytes, repeated over the whole image
#include <cstring>

#include "fuzz/run_checks.h"

// Bounds the work of one input (some tens of milliseconds at most under the
// sanitizers) while leaving room for long rows and radii in the hundreds.
static const int kMaxPixels = 1 << 18;

struct InputReader {
    const uint8_t *data;
    size_t size;
    size_t at;
};

static uint32_t TakeBytes(InputReader &in, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; i++, in.at++)
        if (in.at < in.size) value |= static_cast<uint32_t>(in.data[in.at]) << (8 * i);
    return value;
}

static int RadiusFor(int mode, int32_t raw, int width, int height) {
    int smaller = width < height ? width : height;
    switch (mode) {
    case 1: return smaller - (raw & 0xFF);
    case 2: return raw % 64;
    case 3: return smaller + 1 + (raw & 3);
    default: return raw;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    InputReader in = {data, size, 0};
    int flags = static_cast<int>(TakeBytes(in, 1));
    int width = static_cast<int>(TakeBytes(in, 2));
    int height = static_cast<int>(TakeBytes(in, 2));
    if (width > 0 && height > kMaxPixels / width) height = kMaxPixels / width;
    if (flags & 1) width = -width;
    if (flags & 2) height = -height;
    int32_t raw = static_cast<int32_t>(TakeBytes(in, 4));
    FilterSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.radius = RadiusFor((flags >> 2) & 3, raw, width, height);
    settings.smooth = static_cast<int32_t>(TakeBytes(in, 4));
    settings.background = TakeBytes(in, 4);
    FilterRunCase c;
    c.failAllocation = static_cast<int>(TakeBytes(in, 1) % 4);
    c.dir = FuzzSettingsDir();
    c.width = width;
    c.height = height;
    c.settings = settings;
    size_t header = in.at < size ? in.at : size;
    c.image = FuzzImage(width, height, data + header, size - header);
    WriteSettingsFile(c.dir, &settings, sizeof settings);
    CheckFilterRun(c);
    return 0;
}
