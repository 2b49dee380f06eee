#include <cmath>

#include "filter/filter.h"

// A radius below 2 has no step inside the area; the test also keeps R - 2
// from overflowing for a radius near INT_MIN, which a settings file can hold.
int LastInsideStep(int radius) { return radius < 2 ? -1 : radius - 2; }

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

static void PaintPixel(const FilterPass &pass, int x) {
    unsigned char *pixel = pass.row + 3 * x;
    pixel[0] = pass.blue;
    pixel[1] = pass.green;
    pixel[2] = pass.red;
}

// Left run from column left - 2 down to 0, right run from right + 2 up to
// width - 1, each kept within the row.
static void PaintRuns(const FilterPass &pass, StepRuns runs) {
    int leftEnd = runs.left - 2 < pass.width - 1 ? runs.left - 2 : pass.width - 1;
    for (int x = leftEnd; x >= 0; x--) PaintPixel(pass, x);
    int rightStart = runs.right + 2 > 0 ? runs.right + 2 : 0;
    for (int x = rightStart; x < pass.width; x++) PaintPixel(pass, x);
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
        MaskRow(pass, pass.radius - 2 - step, runs);
        MaskRow(pass, pass.height - pass.radius + 1 + step, runs);
    }
}
