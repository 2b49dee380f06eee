#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "filter/filter.h"
#include "tests/common/image_cases.h"

// The masking pass, then the smoothing pass when smooth is set, over c's input
// through the memory host, as FilterProc runs them.
static Image RunPasses(const ImageCase &c, bool smooth) {
    MemoryHost host;
    host.image = InputImage(c);
    std::vector<unsigned char> row(3 * static_cast<size_t>(c.width) + 100);
    RowReader reader = MemoryRowReader;
    RowWriter writer = MemoryRowWriter;
    FilterPass pass = {c.radius,
                       c.width,
                       c.height,
                       row.data(),
                       static_cast<unsigned char>(c.background >> 16),
                       static_cast<unsigned char>(c.background >> 8),
                       static_cast<unsigned char>(c.background),
                       &reader,
                       &writer};
    ActiveMemoryHost() = &host;
    MaskCorners(pass);
    if (smooth) {
        EXPECT_EQ(SmoothCorners(pass), 1) << c.name;
    }
    ActiveMemoryHost() = nullptr;
    EXPECT_TRUE(host.violations.empty()) << c.name << ": " << host.violations[0];
    return host.image;
}

// The pixels the masking pass paints, from the worked run lengths.
static std::vector<std::pair<int, int>> RunPixels(const ImageCase &c) {
    std::vector<std::pair<int, int>> pixels;
    for (int step = 0; step < static_cast<int>(c.runLengths.size()); step++)
        for (int y : {c.radius - 2 - step, c.height - c.radius + 1 + step})
            for (int k = 0; k < c.runLengths[step]; k++) {
                pixels.push_back({k, y});
                pixels.push_back({c.width - 1 - k, y});
            }
    return pixels;
}

// The five cells SmoothPixel reads for a step and column all hold v, every
// other cell something else: the result is v, for every v.
TEST(SmoothPixel, FiveCellsOfOneValueGiveThatValue) {
    const int radius = 3, width = 3;
    const size_t stride = 3 * (width + 2);
    std::vector<unsigned char> window(stride * (radius + 2));
    unsigned char row[3 * width];
    FilterPass pass = {radius, width, radius, row, 0, 0, 0, nullptr, nullptr};
    for (int v = 0; v < 256; v++)
        for (int step = 0; step < radius; step++)
            for (int column = 0; column < width; column++) {
                std::fill(window.begin(), window.end(), static_cast<unsigned char>(v ^ 0x80));
                size_t centre = (radius - step) * stride + 3 * (column + 1);
                for (size_t cell : {centre, centre - stride, centre + stride, centre - 3, centre + 3})
                    std::fill_n(window.begin() + cell, 3, static_cast<unsigned char>(v));
                std::fill_n(row, 3 * width, static_cast<unsigned char>(v ^ 0xFF));
                SmoothPixel(pass, window.data(), step, column);
                for (int ch = 0; ch < 3; ch++)
                    ASSERT_EQ(row[3 * column + ch], v)
                        << "step " << step << ", column " << column << ", channel " << ch;
            }
}

// SmoothRun against SmoothPixel, pixel by pixel, for runs of every position
// and length. The windows hold one colour throughout (as deep inside a masked
// run, where whole stretches agree) with stray bytes at random places, from
// none to nearly all, so that both agreeing and disagreeing neighbourhoods
// meet every run end. Pixels outside the run stay as they were.
TEST(SmoothRun, MatchesSmoothPixelOnEveryRun) {
    static const struct {
        int radius, width;
        unsigned stray;  // out of 256: the chance that a window byte is random
    } cases[] = {{3, 40, 0}, {3, 40, 4}, {6, 37, 40}, {4, 33, 256}};
    static const unsigned char colour[3] = {0x10, 0x20, 0x30};
    for (const auto &c : cases) {
        const size_t stride = 3 * (static_cast<size_t>(c.width) + 2);
        std::vector<unsigned char> window(stride * (c.radius + 2) + 100);
        uint32_t seed = 2024;
        for (size_t i = 0; i < window.size(); i++) {
            seed = seed * 1103515245u + 12345u;
            window[i] = ((seed >> 8) & 0xFF) < c.stray ? static_cast<unsigned char>(seed >> 24) : colour[i % 3];
        }
        std::vector<unsigned char> byRun(3 * c.width), byPixel(3 * c.width);
        FilterPass pass = {c.radius, c.width, c.radius, nullptr, 0, 0, 0, nullptr, nullptr};
        for (int step = 0; step < c.radius; step++)
            for (int first = 0; first < c.width; first++)
                for (int last = first - 1; last < c.width; last++) {
                    std::fill(byRun.begin(), byRun.end(), 0xEE);
                    std::fill(byPixel.begin(), byPixel.end(), 0xEE);
                    pass.row = byRun.data();
                    SmoothRun(pass, window.data(), step, first, last);
                    pass.row = byPixel.data();
                    for (int x = first; x <= last; x++) SmoothPixel(pass, window.data(), step, x);
                    ASSERT_EQ(byRun, byPixel) << "radius " << c.radius << ", stray " << c.stray << ", step " << step
                                              << ", columns " << first << " to " << last;
                }
    }
}

// The reference that supplies the expected smoothed pixels agrees with every
// worked value written into the table.
TEST(ReferenceSmoothing, GivesTheWorkedValues) {
    for (const ImageCase &c : ImageCases()) {
        if (c.cornerPixels.empty()) continue;
        Image reference = MaskedImage(c);
        ReferenceSmoothing(reference, c);
        Image worked = reference;
        PutCornerPixels(worked, c);
        EXPECT_EQ(FirstDifference(worked, reference), "") << c.name;
    }
}

// Smoothing rewrites the masked pixels and nothing else: with the run pixels
// of the masked-only image put back, the smoothed image is the masked one.
TEST(SmoothCorners, ChangesOnlyTheMaskedPixels) {
    for (const ImageCase &c : ImageCases()) {
        if (c.smooth == 0 || c.radius < 2) continue;
        Image masked = RunPasses(c, false);
        Image smoothed = RunPasses(c, true);
        for (const std::pair<int, int> &p : RunPixels(c))
            std::copy_n(masked.Pixel(p.first, p.second), 3, smoothed.Pixel(p.first, p.second));
        EXPECT_EQ(FirstDifference(masked, smoothed), "") << c.name;
    }
}

// R = 5 on a white 12 x 5 area, black background, worked by hand. Masked, the
// left column reads 0, 0, 255, 0, 0 down rows 0 to 4.
// Top half (window: rows 0 to 4 as masked): row 1, column 0 has centre row 2
// (255), up row 1 (0), down row 3 (0), the border (0) and column 1 (255):
// trunc(0.15 * 255 + 0.4 * 255) = 140. Row 0 gets 76 and 178, as on a tall area.
// Bottom half (window: rows 4 down to 0 as the top half left them): row 3,
// column 0 has centre row 2 (255), up row 3 (0), down row 1 (now 140), the
// border (0) and column 1 (255): trunc(0.15 * 395 + 0.4 * 255) = 161, where
// the mirror of row 1 would give 140. Row 4 gets 76 and 178.
TEST(SmoothCorners, TheBottomWindowSeesRowsTheTopHalfWrote) {
    const ImageCase c = {"r5_white_12x5", 12, 5, 5, 1, 0x000000, FILL_WHITE, 0, {0, 0, 1, 2}, {}};
    static const struct {
        int row, column, value;
    } changed[] = {{0, 0, 76}, {0, 1, 178}, {1, 0, 140}, {3, 0, 161}, {4, 0, 76}, {4, 1, 178}};
    Image expected = InputImage(c);
    for (const auto &p : changed)
        for (int x : {p.column, c.width - 1 - p.column})
            SetPixel(expected, x, p.row, p.value, p.value, p.value);
    EXPECT_EQ(FirstDifference(expected, RunPasses(c, true)), "");
}
