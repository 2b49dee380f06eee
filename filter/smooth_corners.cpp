#include <cstddef>
#include <cstdint>
#include <cstring>

#include "filter/filter.h"

// The two halves of the pass differ only in which area rows fill the window
// and which row each step rewrites.
enum Half { TOP_HALF, BOTTOM_HALF };

// Bytes from one window row to the next: width + 2 pixels, borders included.
static size_t WindowStride(const FilterPass &pass) { return 3 * (static_cast<size_t>(pass.width) + 2); }

// Byte offset of the cell at window row and window column (border included).
static size_t CellOffset(const FilterPass &pass, int row, int column) {
    return static_cast<size_t>(row) * WindowStride(pass) + 3 * static_cast<size_t>(column);
}

static unsigned char *WindowCell(const FilterPass &pass, unsigned char *window, int row, int column) {
    return window + CellOffset(pass, row, column);
}

// One channel of a smoothed pixel; c points at the centre byte in the window,
// stride bytes from one window row to the next. The weights sum to 1, so a
// neighbourhood of one value keeps it and no result leaves 0 to 255. The four
// neighbours (small integers) sum exactly; only the two products and their
// sum round, and -ffp-contract=off keeps every build from fusing them.
static unsigned char MixChannel(const unsigned char *c, ptrdiff_t stride) {
    double neighbours = static_cast<double>(c[stride]) + c[-stride] + c[-3] + c[3];  // down, up, left, right
    return static_cast<unsigned char>(static_cast<int>(0.15 * neighbours + 0.4 * c[0]));
}

void SmoothPixel(const FilterPass &pass, const unsigned char *window, int step, int column) {
    const ptrdiff_t stride = static_cast<ptrdiff_t>(WindowStride(pass));
    const unsigned char *centre = window + CellOffset(pass, pass.radius - step, column + 1);
    unsigned char *out = pass.row + 3 * static_cast<size_t>(column);
    for (int channel = 0; channel < 3; channel++) out[channel] = MixChannel(centre + channel, stride);
}

static uint64_t LoadEightBytes(const unsigned char *bytes) {
    uint64_t value;
    memcpy(&value, bytes, sizeof value);
    return value;
}

// Smooths count bytes of the row buffer from out on (whole pixels, channels
// in turn); centre is the window byte of out[0]'s centre. Where the five
// cells of eight bytes in a row agree byte for byte, each mix is the shared
// value itself (SmoothPixel keeps a neighbourhood of one value, for every
// byte value), so those bytes are copied from the centre. Deep inside a run,
// where the masking pass left nothing but background, that is nearly every
// byte; the reads stay within the cells the byte-wise mix reads.
static void SmoothBytes(const unsigned char *centre, ptrdiff_t stride, unsigned char *out, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const unsigned char *c = centre + i;
        uint64_t value = LoadEightBytes(c);
        uint64_t differs = (value ^ LoadEightBytes(c + stride)) | (value ^ LoadEightBytes(c - stride)) |
                           (value ^ LoadEightBytes(c - 3)) | (value ^ LoadEightBytes(c + 3));
        if (differs == 0) {
            memcpy(out + i, &value, sizeof value);
            continue;
        }
        for (size_t k = i; k < i + 8; k++) out[k] = MixChannel(centre + k, stride);
    }
    for (; i < count; i++) out[i] = MixChannel(centre + i, stride);
}

void SmoothRun(const FilterPass &pass, const unsigned char *window, int step, int first, int last) {
    if (last < first) return;
    const ptrdiff_t stride = static_cast<ptrdiff_t>(WindowStride(pass));
    const unsigned char *centre = window + CellOffset(pass, pass.radius - step, first + 1);
    SmoothBytes(centre, stride, pass.row + 3 * static_cast<size_t>(first), 3 * (static_cast<size_t>(last) - first + 1));
}

// Rows 0 and radius + 1 get the background colour in the columns a step
// could reach (0 to radius + 1 and width - radius to width + 1; the rest stay
// zero), and so do columns 0 and width + 1 of the rows between; the area rows
// are loaded later, half by half. No step inside the area reaches rows 0 and
// radius + 1 (step 0 has empty runs, step radius - 1 is never run), and
// leaving the middle of those rows alone spares touching their pages.
static void FillBorder(const FilterPass &pass, unsigned char *window) {
    for (int row = 0; row <= pass.radius + 1; row += pass.radius + 1) {
        PaintBackgroundRun(pass, WindowCell(pass, window, row, 0), pass.radius + 2);
        PaintBackgroundRun(pass, WindowCell(pass, window, row, pass.width - pass.radius), pass.radius + 2);
    }
    for (int k = 1; k <= pass.radius; k++) {
        PaintBackground(pass, WindowCell(pass, window, k, 0));
        PaintBackground(pass, WindowCell(pass, window, k, pass.width + 1));
    }
}

// Window row k (1 to radius) holds area row k - 1 for the top half and
// height - k for the bottom half: the rows nearest each edge, all inside the
// area since radius <= height. The host reads straight into window column 1.
static void LoadWindow(const FilterPass &pass, unsigned char *window, Half half) {
    for (int k = 1; k <= pass.radius; k++) {
        int y = half == TOP_HALF ? k - 1 : pass.height - k;
        ReadRow(pass, y, WindowCell(pass, window, k, 1));
    }
}

// Rewrites the runs of every step inside the area, on the rows the masking
// pass painted them, in the order it painted them. A pixel's mix reads only
// the window, so the pixels of a row may be computed in any order, and where
// the two runs overlap (R = W) both give the same values.
static void SmoothHalf(const FilterPass &pass, const unsigned char *window, Half half) {
    for (int step = 0; step <= LastInsideStep(pass.radius); step++) {
        StepRuns runs = ComputeStepRuns(pass.radius, pass.width, step);
        int y = half == TOP_HALF ? TopRowOfStep(pass.radius, step) : BottomRowOfStep(pass.radius, pass.height, step);
        ReadRow(pass, y, pass.row);
        SmoothRun(pass, window, step, 0, LeftRunLast(runs, pass.width));
        SmoothRun(pass, window, step, RightRunFirst(runs), pass.width - 1);
        WriteRow(pass, y, pass.row);
    }
}

// The bottom window is loaded only after the top half is written: on an area
// of height <= 2 * radius - 2 it thus holds some rows the top half smoothed.
int SmoothCorners(const FilterPass &pass) {
    // A radius below 2 has no step inside the area, so nothing to smooth and
    // no window to size (a negative radius would give a negative one).
    if (LastInsideStep(pass.radius) < 0) return 1;
    int64_t bytes = BlockBytes(static_cast<int64_t>(pass.radius) + 2, 3 * (static_cast<int64_t>(pass.width) + 2), 100);
    unsigned char *window = ObtainBlock(bytes);
    if (window == nullptr) return 0;
    FillBorder(pass, window);
    LoadWindow(pass, window, TOP_HALF);
    SmoothHalf(pass, window, TOP_HALF);
    LoadWindow(pass, window, BOTTOM_HALF);
    SmoothHalf(pass, window, BOTTOM_HALF);
    ReleaseBlock(window);
    return 1;
}
