// The image cases that every build of the filter must reproduce to the byte.
// Expected images are built from the worked run lengths and pixel values
// written down by hand, never from the filter's own arithmetic.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "tests/common/memory_host.h"

enum ImageFill { FILL_WHITE, FILL_PATTERN, FILL_FLAT };

// A pixel value given for the top-left corner and mirrored into the other
// three (the filter is symmetric left to right and top to bottom).
struct CornerPixel {
    int row, column;
    unsigned char blue, green, red;
};

struct ImageCase {
    const char *name;
    int width, height, radius, smooth;
    uint32_t background;  // 0x00BBGGRR
    ImageFill fill;
    uint32_t flatColour;  // 0x00BBGGRR, for FILL_FLAT
    // Length of the left and right run of steps 0, 1, ...: step i paints that
    // many pixels at each end of rows radius - 2 - i and height - radius + 1 + i.
    std::vector<int> runLengths;
    std::vector<CornerPixel> cornerPixels;  // exact values after smoothing
};

// gtest prints a case by its name.
inline void PrintTo(const ImageCase &c, std::ostream *out) { *out << c.name; }

inline void SetPixel(Image &image, int x, int y, unsigned char blue, unsigned char green, unsigned char red) {
    unsigned char *pixel = image.Pixel(x, y);
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
}

inline void SetPixelColour(Image &image, int x, int y, uint32_t colour) {
    SetPixel(image, x, y, (colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
}

inline Image InputImage(const ImageCase &c) {
    Image image = BlankImage(c.width, c.height);
    for (int y = 0; y < c.height; y++)
        for (int x = 0; x < c.width; x++) {
            if (c.fill == FILL_WHITE) SetPixel(image, x, y, 255, 255, 255);
            if (c.fill == FILL_FLAT) SetPixelColour(image, x, y, c.flatColour);
            if (c.fill == FILL_PATTERN) SetPixel(image, x, y, (x * 7 + y * 3) & 0xFF, (x * 13) & 0xFF, (y * 11 + 5) & 0xFF);
        }
    return image;
}

inline Image ExpectedImage(const ImageCase &c) {
    Image image = InputImage(c);
    for (int step = 0; step < static_cast<int>(c.runLengths.size()); step++) {
        int rows[2] = {c.radius - 2 - step, c.height - c.radius + 1 + step};
        for (int y : rows) {
            if (y < 0 || y >= c.height) continue;
            for (int k = 0; k < c.runLengths[step]; k++) {
                SetPixelColour(image, k, y, c.background);
                SetPixelColour(image, c.width - 1 - k, y, c.background);
            }
        }
    }
    for (const CornerPixel &p : c.cornerPixels) {
        int xs[2] = {p.column, c.width - 1 - p.column};
        int ys[2] = {p.row, c.height - 1 - p.row};
        for (int y : ys)
            for (int x : xs) SetPixel(image, x, y, p.blue, p.green, p.red);
    }
    return image;
}

// "" when equal; otherwise the first difference: row, column, channel,
// expected and actual value.
inline std::string FirstDifference(const Image &expected, const Image &actual) {
    char note[160];
    if (expected.width != actual.width || expected.height != actual.height) {
        snprintf(note, sizeof note, "size: expected %d x %d, got %d x %d", expected.width, expected.height,
                 actual.width, actual.height);
        return note;
    }
    static const char *const channels[3] = {"blue", "green", "red"};
    for (int y = 0; y < expected.height; y++)
        for (int x = 0; x < expected.width; x++)
            for (int ch = 0; ch < 3; ch++) {
                int want = expected.Pixel(x, y)[ch];
                int got = actual.Pixel(x, y)[ch];
                if (want == got) continue;
                snprintf(note, sizeof note, "row %d, column %d, %s: expected %d, got %d", y, x, channels[ch], want,
                         got);
                return note;
            }
    return "";
}

// Run lengths of R = 20 (the same for any width from R on).
inline std::vector<int> RunLengthsRadius20() {
    return {0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 3, 4, 4, 5, 6, 8, 9, 11, 14};
}

inline const std::vector<ImageCase> &ImageCases() {
    static const std::vector<ImageCase> cases = {
        // Exactly 12 pixels: columns 0, 1, 10, 11 of rows 0 and 11, columns 0 and 11 of rows 1 and 10.
        {"r5_white_black_12x12", 12, 12, 5, 0, 0x000000, FILL_WHITE, 0, {0, 0, 1, 2}, {}},
        {"r5_pattern_12x12", 12, 12, 5, 0, 0x336699, FILL_PATTERN, 0, {0, 0, 1, 2}, {}},
        {"r20_pattern_100x100", 100, 100, 20, 0, 0x102030, FILL_PATTERN, 0, RunLengthsRadius20(), {}},
        {"r20_wide_300x41", 300, 41, 20, 0, 0xFFFFFF, FILL_PATTERN, 0, RunLengthsRadius20(), {}},
        // R = W: the outer runs overlap and rows 0 and 1 are painted whole.
        {"r20_equal_width_20x40", 20, 40, 20, 0, 0x0000FF, FILL_PATTERN, 0, RunLengthsRadius20(), {}},
        {"r20_equal_height_50x20", 50, 20, 20, 0, 0x00FF00, FILL_PATTERN, 0, RunLengthsRadius20(), {}},
        // H <= 2R - 3: top and bottom steps share rows, which get the union of their runs.
        {"r5_shared_rows_12x5", 12, 5, 5, 0, 0xFF0000, FILL_PATTERN, 0, {0, 0, 1, 2}, {}},
        {"r6_equal_6x6", 6, 6, 6, 0, 0x000000, FILL_WHITE, 0, {0, 0, 1, 1, 2}, {}},
        // A radius below 2 changes nothing.
        {"r1_unchanged", 8, 8, 1, 0, 0x000000, FILL_PATTERN, 0, {}, {}},
        {"r0_unchanged", 8, 8, 0, 1, 0x000000, FILL_PATTERN, 0, {}, {}},
        {"r_negative_unchanged", 8, 8, -7, 1, 0x000000, FILL_PATTERN, 0, {}, {}},
        {"r1_one_pixel", 1, 1, 1, 1, 0x000000, FILL_WHITE, 0, {}, {}},
    };
    return cases;
}
