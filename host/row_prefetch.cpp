#include "host/row_prefetch.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// Enough rows that neither thread waits on the other for a short stall.
enum { kRingRows = 16 };

struct RowPrefetch {
    ImageDecoder *decoder;
    int skip, count;              // rows passed over, then rows delivered
    PixelFormat in, out;
    int width;                    // pixels
    size_t outBytes;              // bytes of one row in the output's format
    std::vector<unsigned char> raw;   // one row as decoded
    std::vector<unsigned char> ring;  // kRingRows rows in the output's format
    std::thread thread;
    bool threaded = false;        // else NextPrefetchedRow reads each row itself

    std::mutex lock;              // guards everything below
    std::condition_variable changed;
    int ready = 0;                // rows composed into the ring so far
    int taken = 0;                // rows the caller is done with
    bool handedOut = false;       // row `taken` is with the caller
    bool failed = false, stopping = false;
    std::string error;            // why reading failed
};

static unsigned char *RingRow(RowPrefetch *prefetch, int y) {
    return prefetch->ring.data() + static_cast<size_t>(y % kRingRows) * prefetch->outBytes;
}

static bool PrefetchOneRow(RowPrefetch *prefetch, int y, std::string *error) {
    if (!DecodeRow(*prefetch->decoder, prefetch->raw.data(), error)) return false;
    ComposeRow(prefetch->in, prefetch->out, prefetch->raw.data(), nullptr, nullptr, prefetch->width,
               RingRow(prefetch, y));
    return true;
}

// The thread: a row is composed only into a slot the caller has given back,
// so the row the caller holds is never overwritten.
static void PrefetchRows(RowPrefetch *prefetch) {
    std::string error;
    bool ok = SkipRows(*prefetch->decoder, prefetch->skip, prefetch->raw.data(), &error);
    for (int y = 0; ok && y < prefetch->count; y++) {
        {
            std::unique_lock<std::mutex> hold(prefetch->lock);
            prefetch->changed.wait(hold, [&] { return prefetch->stopping || y - prefetch->taken < kRingRows; });
            if (prefetch->stopping) return;
        }
        ok = PrefetchOneRow(prefetch, y, &error);
        std::lock_guard<std::mutex> hold(prefetch->lock);
        if (ok) prefetch->ready = y + 1;
        prefetch->changed.notify_all();
    }
    std::lock_guard<std::mutex> hold(prefetch->lock);
    prefetch->failed = !ok;
    prefetch->error = error;
    prefetch->changed.notify_all();
}

RowPrefetch *StartRowPrefetch(ImageDecoder &decoder, int skip, int count, const PixelFormat &in,
                              const PixelFormat &out, int width) {
    RowPrefetch *prefetch = new RowPrefetch();
    prefetch->decoder = &decoder;
    prefetch->skip = skip;
    prefetch->count = count;
    prefetch->in = in;
    prefetch->out = out;
    prefetch->width = width;
    prefetch->outBytes = RawRowBytes(out, width);
    prefetch->raw.resize(RawRowBytes(in, width));
    prefetch->ring.resize(prefetch->outBytes * kRingRows);
    try {
        prefetch->thread = std::thread(PrefetchRows, prefetch);
        prefetch->threaded = true;
    } catch (const std::system_error &) {
        // No thread to be had: the rows are read as they are asked for.
    }
    return prefetch;
}

static const unsigned char *NextRowUnthreaded(RowPrefetch *prefetch, std::string *error) {
    bool skipped = prefetch->taken > 0 || SkipRows(*prefetch->decoder, prefetch->skip, prefetch->raw.data(), error);
    if (!skipped) return nullptr;
    int y = prefetch->taken++;
    return PrefetchOneRow(prefetch, y, error) ? RingRow(prefetch, y) : nullptr;
}

const unsigned char *NextPrefetchedRow(RowPrefetch *prefetch, std::string *error) {
    if (!prefetch->threaded) return NextRowUnthreaded(prefetch, error);
    std::unique_lock<std::mutex> hold(prefetch->lock);
    if (prefetch->handedOut) {
        prefetch->taken++;
        prefetch->handedOut = false;
        prefetch->changed.notify_all();
    }
    prefetch->changed.wait(hold, [&] { return prefetch->ready > prefetch->taken || prefetch->failed; });
    if (prefetch->ready > prefetch->taken) {
        prefetch->handedOut = true;
        return RingRow(prefetch, prefetch->taken);
    }
    *error = prefetch->error;
    return nullptr;
}

void StopRowPrefetch(RowPrefetch *prefetch) {
    if (prefetch->threaded) {
        {
            std::lock_guard<std::mutex> hold(prefetch->lock);
            prefetch->stopping = true;
            prefetch->changed.notify_all();
        }
        prefetch->thread.join();
    }
    delete prefetch;
}
