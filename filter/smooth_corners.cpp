#include <cstddef>
#include <cstdint>

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

// The weights sum to 1, so a neighbourhood of one value keeps it and no
// result leaves 0 to 255. The four neighbours (small integers) sum exactly;
// only the two products and their sum round, and -ffp-contract=off keeps
// every build from fusing them.
void SmoothPixel(const FilterPass &pass, const unsigned char *window, int step, int column) {
    const ptrdiff_t stride = static_cast<ptrdiff_t>(WindowStride(pass));
    const unsigned char *centre = window + CellOffset(pass, pass.radius - step, column + 1);
    unsigned char *out = pass.row + 3 * static_cast<size_t>(column);
    for (int channel = 0; channel < 3; channel++) {
        const unsigned char *c = centre + channel;
        double neighbours = static_cast<double>(c[stride]) + c[-stride] + c[-3] + c[3];  // down, up, left, right
        out[channel] = static_cast<unsigned char>(static_cast<int>(0.15 * neighbours + 0.4 * c[0]));
    }
}

// Rows 0 and radius + 1, and columns 0 and width + 1 of the rows between,
// get the background colour; the area rows are loaded later, half by half.
// No step inside the area reaches rows 0 and radius + 1 (step 0 has empty
// runs, step radius - 1 is never run), but they are filled whole so that
// every cell around the copied rows holds the background.
static void FillBorder(const FilterPass &pass, unsigned char *window) {
    for (int x = 0; x <= pass.width + 1; x++) {
        PaintBackground(pass, WindowCell(pass, window, 0, x));
        PaintBackground(pass, WindowCell(pass, window, pass.radius + 1, x));
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
// pass painted them, in the order it painted them.
static void SmoothHalf(const FilterPass &pass, const unsigned char *window, Half half) {
    for (int step = 0; step <= LastInsideStep(pass.radius); step++) {
        StepRuns runs = ComputeStepRuns(pass.radius, pass.width, step);
        int y = half == TOP_HALF ? TopRowOfStep(pass.radius, step) : BottomRowOfStep(pass.radius, pass.height, step);
        ReadRow(pass, y, pass.row);
        for (int x = LeftRunLast(runs, pass.width); x >= 0; x--) SmoothPixel(pass, window, step, x);
        for (int x = RightRunFirst(runs); x < pass.width; x++) SmoothPixel(pass, window, step, x);
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
