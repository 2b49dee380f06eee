#include <cmath>
#include <cstddef>
#include <cstring>

#include "filter/filter.h"

// A radius below 2 has no step inside the area; the test also keeps R - 2
// from overflowing for a radius near INT_MIN, which a settings file can hold.
int LastInsideStep(int radius) { return radius < 2 ? -1 : radius - 2; }
int TopRowOfStep(int radius, int step) { return radius - 2 - step; }
int BottomRowOfStep(int radius, int height, int step) { return height - radius + 1 + step; }

// The ellipse has a horizontal semi-axis of R and a vertical one of R - 1; u
// is its half-width at vertical distance step from the centre. Every value is
// an IEEE double and the conversions truncate toward zero, as the results must
// match to the pixel on every build. Only called for steps 0 to R - 2, where
// R - 1 >= 1, so the quotient is never 0 / 0.
StepRuns ComputeStepRuns(int radius, int width, int step) {
    const double o = radius - 1;
    const double m = radius;
    const double h = radius + 1;
    const double g = static_cast<double>(width) - radius - 1;
    double q = step / o;
    double s = std::sqrt(1.0 - q * q);
    double u = m * s;
    StepRuns runs;
    runs.left = static_cast<int>(h - u + 0.5);
    runs.right = static_cast<int>(g + u - 0.5);
    return runs;
}

void ReadRow(const FilterPass &pass, int y, unsigned char *pixels) {
    if (y < 0 || y >= pass.height) return;
    (*pass.reader)(y, 0, pass.width - 1, pixels, -1);
}

void WriteRow(const FilterPass &pass, int y, unsigned char *pixels) {
    if (y < 0 || y >= pass.height) return;
    (*pass.writer)(y, 0, pass.width - 1, pixels, -1);
}

int LeftRunLast(StepRuns runs, int width) { return runs.left - 2 < width - 1 ? runs.left - 2 : width - 1; }
int RightRunFirst(StepRuns runs) { return runs.right + 2 > 0 ? runs.right + 2 : 0; }

void PaintBackground(const FilterPass &pass, unsigned char *pixel) {
    pixel[0] = pass.blue;
    pixel[1] = pass.green;
    pixel[2] = pass.red;
}

// The first pixel is painted byte by byte; the rest is copied from what is
// already painted, doubling each time, so a long run costs a few block copies
// instead of three stores a pixel.
void PaintBackgroundRun(const FilterPass &pass, unsigned char *pixels, int count) {
    if (count <= 0) return;
    PaintBackground(pass, pixels);
    const size_t total = 3 * static_cast<size_t>(count);
    for (size_t done = 3; done < total;) {
        size_t more = done < total - done ? done : total - done;
        memcpy(pixels + done, pixels, more);
        done += more;
    }
}

// Every run pixel gets the same colour, so the order in which the runs are
// painted makes no difference, even where the two runs overlap (R = W).
static void PaintRuns(const FilterPass &pass, StepRuns runs) {
    PaintBackgroundRun(pass, pass.row, LeftRunLast(runs, pass.width) + 1);
    int first = RightRunFirst(runs);
    PaintBackgroundRun(pass, pass.row + 3 * static_cast<size_t>(first), pass.width - first);
}

static void MaskRow(const FilterPass &pass, int y, StepRuns runs) {
    if (y < 0 || y >= pass.height) return;
    ReadRow(pass, y, pass.row);
    PaintRuns(pass, runs);
    WriteRow(pass, y, pass.row);
}

void MaskCorners(const FilterPass &pass) {
    for (int step = 0; step <= LastInsideStep(pass.radius); step++) {
        StepRuns runs = ComputeStepRuns(pass.radius, pass.width, step);
        MaskRow(pass, TopRowOfStep(pass.radius, step), runs);
        MaskRow(pass, BottomRowOfStep(pass.radius, pass.height, step), runs);
    }
}
