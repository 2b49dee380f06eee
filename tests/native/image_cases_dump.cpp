// Writes the shared image cases, with their input and expected images, to
// standard output, so that the tests which run the 32-bit DLL under CPU
// emulation (tests/win32) check the very same table.
//
// Binary, little-endian: u32 case count, then for each case: u32 name length,
// the name, i32 width, height, radius and smooth, u32 background (0x00BBGGRR),
// u32 image size in bytes, the input image, the expected image (rows top to
// bottom, 3 bytes a pixel: blue, green, red).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tests/common/image_cases.h"

static void PutBytes(const void *bytes, size_t size) { fwrite(bytes, 1, size, stdout); }

static void PutU32(uint32_t value) {
    unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                              static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    PutBytes(bytes, sizeof bytes);
}

static void PutImage(const Image &image) { PutBytes(image.bgr.data(), image.bgr.size()); }

static void PutCase(const ImageCase &c) {
    PutU32(static_cast<uint32_t>(strlen(c.name)));
    PutBytes(c.name, strlen(c.name));
    PutU32(static_cast<uint32_t>(c.width));
    PutU32(static_cast<uint32_t>(c.height));
    PutU32(static_cast<uint32_t>(c.radius));
    PutU32(static_cast<uint32_t>(c.smooth));
    PutU32(c.background);
    Image input = InputImage(c);
    Image expected = ExpectedImage(c);
    PutU32(static_cast<uint32_t>(input.bgr.size()));
    PutImage(input);
    PutImage(expected);
}

int main() {
    const std::vector<ImageCase> &cases = ImageCases();
    PutU32(static_cast<uint32_t>(cases.size()));
    for (const ImageCase &c : cases) PutCase(c);
    return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;
}
