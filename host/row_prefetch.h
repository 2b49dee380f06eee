// The rows that pass 2 carries over unchanged, decoded on a second thread
// while the caller encodes the rows before them: the encoder is much the
// slower of the two, so decoding them again then costs next to no wall time.
// A ring of a few rows, already in the output's format, lies between them.
#pragma once

#include <string>

#include "host/image_codec.h"
#include "host/pixel_format.h"

struct RowPrefetch;

// Reads from decoder, which must stay open until StopRowPrefetch: passes over
// skip rows, then composes the next count rows from format in to format out
// (width pixels each). Never null; without a thread the rows are read as
// NextPrefetchedRow asks for them.
RowPrefetch *StartRowPrefetch(ImageDecoder &decoder, int skip, int count, const PixelFormat &in,
                              const PixelFormat &out, int width);
// The next row in the output's format, valid until the next call; null when
// the file could not be read, with *error set.
const unsigned char *NextPrefetchedRow(RowPrefetch *prefetch, std::string *error);
// Stops the thread, at once if rows are still to come, and frees everything.
void StopRowPrefetch(RowPrefetch *prefetch);
