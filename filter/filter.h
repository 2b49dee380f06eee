// The rounded-corner filter: passes over the rows of the host's area, read and
// written one at a time through the host's callbacks. No windowing calls here.
#pragma once

#include "plugin/host_interface.h"

// What a pass needs from the run. Sizes are in pixels; row is the run's row
// buffer, at least 3 * width bytes of blue, green, red.
struct FilterPass {
    int radius;
    int width;
    int height;
    unsigned char *row;
    unsigned char blue, green, red;  // the background colour
    RowReader *reader;               // location of the host's reader
    RowWriter *writer;               // location of the host's writer
};

// The runs of one step of the quarter ellipse: the left run is columns 0 to
// left - 2, the right run columns right + 2 to width - 1 (L and Q).
struct StepRuns {
    int left;
    int right;
};

// The two passes work on the same steps: step i lies on top row radius - 2 - i
// and bottom row height - radius + 1 + i. The last step, radius - 1, always
// lies on rows -1 and height, outside the area, so no pass runs it.
int LastInsideStep(int radius);
int TopRowOfStep(int radius, int step);
int BottomRowOfStep(int radius, int height, int step);
StepRuns ComputeStepRuns(int radius, int width, int step);
// The runs of a step kept within a row of width pixels: the left run is
// columns 0 to LeftRunLast, the right run RightRunFirst to width - 1.
int LeftRunLast(StepRuns runs, int width);
int RightRunFirst(StepRuns runs);

// Reads and writes row y through the host. Rows outside the area are never
// passed to the host.
void ReadRow(const FilterPass &pass, int y, unsigned char *pixels);
void WriteRow(const FilterPass &pass, int y, unsigned char *pixels);

// Sets the pixel at pixel (3 bytes: blue, green, red) to the background colour.
void PaintBackground(const FilterPass &pass, unsigned char *pixel);
// Sets count pixels from pixels on to the background colour; none when count
// is 0 or less.
void PaintBackgroundRun(const FilterPass &pass, unsigned char *pixels, int count);

// Paints, in the four corners, the pixels outside the quarter ellipses with
// the background colour.
void MaskCorners(const FilterPass &pass);

// Softens the edge MaskCorners cut: rewrites exactly the pixels it painted
// with a weighted mix of their neighbourhood, taken from a copy of the rows
// near the top edge, then of those near the bottom edge (the window). 1 when
// done (or when no step lies inside the area); 0 when the window could not be
// obtained, before any row was read or written.
int SmoothCorners(const FilterPass &pass);

// The window holds radius + 2 rows of width + 2 pixels, 3 bytes each (blue,
// green, red), row after row. Window columns 1 to width hold area columns 0
// to width - 1, rows 1 to radius hold area rows; column 0, column width + 1,
// row 0 and row radius + 1 are a border of background colour. Step j's
// centres lie in window row radius - j.
//
// Sets pixel column (an area column) of pass.row to
// trunc(0.15 * (down + up + left + right) + 0.4 * centre) of the window cell
// for that column in step's centre row, channel by channel.
void SmoothPixel(const FilterPass &pass, const unsigned char *window, int step, int column);
// Sets pixels first to last of pass.row (area columns, inclusive) exactly as
// SmoothPixel does one by one; nothing when last < first.
void SmoothRun(const FilterPass &pass, const unsigned char *window, int step, int first, int last);

// Working memory: movable, zero-filled global memory, locked while in use.
// Sizes are in bytes; a size below zero or beyond what this build can address
// is never requested and yields null, as a failed allocation does.
unsigned char *ObtainBlock(int64_t bytes);
void ReleaseBlock(unsigned char *block);
// count * unitBytes + extraBytes, or -1 when it overflows 64 bits or a
// factor is negative.
int64_t BlockBytes(int64_t count, int64_t unitBytes, int64_t extraBytes);
