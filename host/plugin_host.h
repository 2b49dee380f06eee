// The host side of the plug-in contract for the command-line host: the rows
// of one image that a run may touch, lent to FilterProc through the host's
// RowReader and RowWriter.
//
// A run reads and writes only the top R and the bottom R rows of the area, so
// the host keeps just those (all rows when the image has 2R or fewer), and
// its peak memory grows with R times the width, not with the image.
#pragma once

#include <string>
#include <vector>

#include "host/pixel_format.h"

struct RowBand {
    int width = 0;        // pixels
    int height = 0;       // rows of the whole image
    int topRows = 0;      // held: rows 0 to topRows - 1 ...
    int bottomStart = 0;  // ... and rows bottomStart to height - 1
    PixelFormat format;   // of the raw rows
    size_t rawBytes = 0;  // bytes of one raw row
    // The held rows, top to bottom: the file's samples, the blue, green, red
    // row the plug-in was lent, and the row as the plug-in left it.
    std::vector<unsigned char> raw, before, after;
    int missedRow = -1;   // the first row the plug-in asked for that is not held
};

// Prepares band to hold the rows a run of the given radius may touch, or all
// rows when wholeImage. The rows are not filled. Returns false when the held
// rows do not fit in memory.
bool InitRowBand(RowBand &band, int width, int height, const PixelFormat &format, int radius, bool wholeImage);
int HeldRowCount(const RowBand &band);
bool HoldsWholeImage(const RowBand &band);
// The held row's index in the band, or -1 when row y is not held.
int HeldRowIndex(const RowBand &band, int y);
unsigned char *HeldRawRow(RowBand &band, int index);
// Fills before and after from the raw rows, once they are all decoded.
void LendHeldRows(RowBand &band);
bool BandChanged(const RowBand &band);
// The held row's output row in out's format, with the plug-in's changes.
void ComposeHeldRow(const RowBand &band, int index, const PixelFormat &out, unsigned char *outRaw);

// Runs FilterProc over the band with the settings in settingsDir (ending in
// '/'). Returns its result; on a refusal, *message is the plug-in's message
// box text in UTF-8 (empty when it showed none).
int RunPluginOnBand(RowBand &band, const std::string &settingsDir, std::string *message);

// Shift-JIS (code page 932) text as UTF-8; bytes that are no Shift-JIS come
// out as '?'.
std::string ShiftJisToUtf8(const std::string &text);
