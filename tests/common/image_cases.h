// The image cases that every build of the filter must reproduce to the byte.
// Expected images are built from the worked run lengths and pixel values
// written down by hand, never from the filter's own arithmetic. Smoothed
// pixels that no worked value covers come from ReferenceSmoothing below, a
// plain whole-image reading of the smoothing rule that shares no code with
// the filter and is itself checked against the worked values.
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

// The input with the runs of every step painted in the background colour.
inline Image MaskedImage(const ImageCase &c) {
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
    return image;
}

// The smoothing rule over a masked image, half by half. Each half first takes
// the image as it stands (for the bottom half: after the top half) and frames
// rows 0 to R - 1 (top) or H - 1 down to H - R (bottom) in the background
// colour; window row k, 1 to R, is the kth of those rows. Then every run pixel
// of step j, in column x, gets trunc(0.15 * (D + U + L + R) + 0.4 * C) of
// window row R - j (C), the rows above (U) and below (D), and columns x - 1
// (L) and x + 1 (R), channel by channel.
inline void ReferenceSmoothing(Image &image, const ImageCase &c) {
    const int radius = c.radius, width = c.width, height = c.height;
    for (int half = 0; half < 2; half++) {
        const Image framed = image;
        auto cell = [&](int k, int x, int channel) -> int {
            if (k < 1 || k > radius || x < 0 || x >= width) return (c.background >> (8 * (2 - channel))) & 0xFF;
            return framed.Pixel(x, half == 0 ? k - 1 : height - k)[channel];
        };
        for (int j = 0; j < static_cast<int>(c.runLengths.size()); j++) {
            int y = half == 0 ? radius - 2 - j : height - radius + 1 + j;
            int k = radius - j;
            for (int n = 0; n < c.runLengths[j]; n++)
                for (int x : {n, width - 1 - n})
                    for (int ch = 0; ch < 3; ch++) {
                        int sides = cell(k + 1, x, ch) + cell(k - 1, x, ch) + cell(k, x - 1, ch) + cell(k, x + 1, ch);
                        image.Pixel(x, y)[ch] = static_cast<unsigned char>(0.15 * sides + 0.4 * cell(k, x, ch));
                    }
        }
    }
}

inline void PutCornerPixels(Image &image, const ImageCase &c) {
    for (const CornerPixel &p : c.cornerPixels) {
        int xs[2] = {p.column, c.width - 1 - p.column};
        int ys[2] = {p.row, c.height - 1 - p.row};
        for (int y : ys)
            for (int x : xs) SetPixel(image, x, y, p.blue, p.green, p.red);
    }
}

inline Image ExpectedImage(const ImageCase &c) {
    Image image = MaskedImage(c);
    if (c.smooth != 0) ReferenceSmoothing(image, c);
    PutCornerPixels(image, c);
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

// Grey corner pixels of one row, from column 0 on.
inline std::vector<CornerPixel> GreyRow(int row, const std::vector<unsigned char> &values) {
    std::vector<CornerPixel> pixels;
    for (int x = 0; x < static_cast<int>(values.size()); x++)
        pixels.push_back({row, x, values[x], values[x], values[x]});
    return pixels;
}

// R = 20 on a white area with a black background: rows 0 and 1 of a corner.
inline std::vector<CornerPixel> SmoothedRowsRadius20() {
    std::vector<CornerPixel> pixels = GreyRow(0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 38, 76, 178, 216, 216, 255});
    std::vector<CornerPixel> row1 = GreyRow(1, {0, 0, 0, 0, 0, 0, 0, 0, 76, 178, 216, 255});
    pixels.insert(pixels.end(), row1.begin(), row1.end());
    return pixels;
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
        // Smoothing: the worked values, mirrored into the four corners.
        {"r5_smooth_white_black_12x12", 12, 12, 5, 1, 0x000000, FILL_WHITE, 0, {0, 0, 1, 2},
         {{0, 0, 76, 76, 76}, {0, 1, 178, 178, 178}, {1, 0, 178, 178, 178}}},
        {"r20_smooth_white_black_60x60", 60, 60, 20, 1, 0x000000, FILL_WHITE, 0, RunLengthsRadius20(),
         SmoothedRowsRadius20()},
        // Each channel mixed on its own: blue 200, green 100, red 50 under blue 10, green 20, red 30.
        {"r5_smooth_channels_12x12", 12, 12, 5, 1, 0x0A141E, FILL_FLAT, 0xC86432, {0, 0, 1, 2},
         {{0, 0, 67, 44, 36}, {0, 1, 143, 76, 44}, {1, 0, 143, 76, 44}}},
        {"r5_smooth_pattern_12x12", 12, 12, 5, 1, 0x336699, FILL_PATTERN, 0, {0, 0, 1, 2}, {}},
        {"r20_smooth_pattern_100x100", 100, 100, 20, 1, 0x102030, FILL_PATTERN, 0, RunLengthsRadius20(), {}},
        {"r20_smooth_equal_width_20x40", 20, 40, 20, 1, 0x0000FF, FILL_PATTERN, 0, RunLengthsRadius20(), {}},
        {"r6_smooth_equal_6x6", 6, 6, 6, 1, 0x000000, FILL_WHITE, 0, {0, 0, 1, 1, 2}, {}},
        // H <= 2R - 2: the bottom window holds rows the top half already smoothed.
        {"r5_smooth_shared_rows_12x5", 12, 5, 5, 1, 0xFF0000, FILL_PATTERN, 0, {0, 0, 1, 2}, {}},
        {"r20_smooth_short_50x21", 50, 21, 20, 1, 0x808080, FILL_PATTERN, 0, RunLengthsRadius20(), {}},
        {"r1_smooth_unchanged", 8, 8, 1, 1, 0x000000, FILL_PATTERN, 0, {}, {}},
    };
    return cases;
}
