// How the command-line host keeps a decoded row of an image file, how it turns
// such a row into the plug-in's blue, green, red row, and how it writes the
// plug-in's result back into the file's own kind of row.
#pragma once

#include <cstddef>
#include <cstdint>

enum ColourModel { MODEL_GRAY, MODEL_GRAY_ALPHA, MODEL_RGB, MODEL_RGBA, MODEL_PALETTE };

struct PaletteEntry {
    unsigned char red, green, blue, alpha;
};

// A raw row holds one sample per channel and pixel: one byte each up to 8 bits
// (values 0 to 2^depth - 1, not scaled), two bytes in host order at 16 bits.
// A palette row holds one index per pixel, one byte each.
struct PixelFormat {
    ColourModel model;
    int depth;          // bits per sample, or per index for a palette: 1, 2, 4, 8 or 16
    bool keyed;         // gray and RGB only: pixels of the key colour are transparent
    uint16_t key[3];    // red, green, blue of the key at depth (gray: its value three times)
    int paletteSize;    // entries in use, 1 to 256
    PaletteEntry palette[256];
};

PixelFormat MakePixelFormat(ColourModel model, int depth);
int ChannelCount(ColourModel model);
// Bytes of one raw row of width pixels.
size_t RawRowBytes(const PixelFormat &format, int width);

// The plug-in's view of a raw row: 3 bytes a pixel, blue, green, red, 8 bits
// each (16-bit samples rounded to the nearest 8-bit value). Alpha and
// transparency are not part of it.
void RawRowToBgr(const PixelFormat &format, const unsigned char *raw, int width, unsigned char *bgr);

// The format the output needs, given the input's and the rows the plug-in
// changed (rows of raw, before and after, row after row, width pixels each):
// the input's own format wherever it can hold every changed pixel exactly,
// otherwise the nearest richer one (gray to RGB, fewer than 8 bits to 8, a
// full palette to RGB or RGBA, a colour key that a new colour would hit to a
// real alpha channel).
PixelFormat PlanOutputFormat(const PixelFormat &in, const unsigned char *raw, const unsigned char *before,
                             const unsigned char *after, int width, int rows);

// Writes one output row: pixels whose blue, green, red differ between before
// and after take the new colour (at 16 bits v * 257) and keep their alpha;
// every other pixel keeps its exact samples, only carried over into out's
// format. before and after may be null: then no pixel of the row changed.
void ComposeRow(const PixelFormat &in, const PixelFormat &out, const unsigned char *raw, const unsigned char *before,
                const unsigned char *after, int width, unsigned char *outRaw);
