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
StepRuns ComputeStepRuns(int radius, int width, int step);

// Reads and writes row y through the host. Rows outside the area are never
// passed to the host.
void ReadRow(const FilterPass &pass, int y, unsigned char *pixels);
void WriteRow(const FilterPass &pass, int y, unsigned char *pixels);

// Paints, in the four corners, the pixels outside the quarter ellipses with
// the background colour.
void MaskCorners(const FilterPass &pass);

// Working memory: movable, zero-filled global memory, locked while in use.
// Sizes are in bytes; a size below zero or beyond what this build can address
// is never requested and yields null, as a failed allocation does.
unsigned char *ObtainBlock(int64_t bytes);
void ReleaseBlock(unsigned char *block);
// count * unitBytes + extraBytes, or -1 when it overflows 64 bits or a
// factor is negative.
int64_t BlockBytes(int64_t count, int64_t unitBytes, int64_t extraBytes);
