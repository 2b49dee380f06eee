#include "host/plugin_host.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "host/memory_budget.h"
#include "platform/test_hooks.h"
#include "plugin/host_interface.h"

bool InitRowBand(RowBand &band, int width, int height, const PixelFormat &format, int radius, bool wholeImage) {
    band.width = width;
    band.height = height;
    band.format = format;
    band.rawBytes = RawRowBytes(format, width);
    int keep = radius < 0 ? 0 : radius;
    band.topRows = wholeImage || keep > height ? height : keep;
    band.bottomStart = height - keep < band.topRows ? band.topRows : height - keep;
    band.missedRow = -1;
    size_t rows = static_cast<size_t>(HeldRowCount(band));
    size_t bgrBytes = 3 * static_cast<size_t>(width);
    // Raw rows plus the plug-in's rows before and after the run.
    if (rows * (band.rawBytes + 2 * bgrBytes) > ImageMemoryBudget()) return false;
    try {
        band.raw.assign(rows * band.rawBytes, 0);
        band.before.assign(rows * bgrBytes, 0);
        band.after.assign(rows * bgrBytes, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

int HeldRowCount(const RowBand &band) { return band.topRows + (band.height - band.bottomStart); }

bool HoldsWholeImage(const RowBand &band) { return HeldRowCount(band) == band.height; }

int HeldRowIndex(const RowBand &band, int y) {
    if (y >= 0 && y < band.topRows) return y;
    if (y >= band.bottomStart && y < band.height) return band.topRows + (y - band.bottomStart);
    return -1;
}

unsigned char *HeldRawRow(RowBand &band, int index) { return band.raw.data() + index * band.rawBytes; }

static unsigned char *HeldPixels(std::vector<unsigned char> &rows, const RowBand &band, int index) {
    return rows.data() + 3 * static_cast<size_t>(band.width) * index;
}

void ComposeHeldRow(const RowBand &band, int index, const PixelFormat &out, unsigned char *outRaw) {
    size_t bgrOffset = 3 * static_cast<size_t>(band.width) * index;
    ComposeRow(band.format, out, band.raw.data() + index * band.rawBytes, band.before.data() + bgrOffset,
               band.after.data() + bgrOffset, band.width, outRaw);
}

void LendHeldRows(RowBand &band) {
    for (int i = 0; i < HeldRowCount(band); i++)
        RawRowToBgr(band.format, HeldRawRow(band, i), band.width, HeldPixels(band.before, band, i));
    band.after = band.before;
}

bool BandChanged(const RowBand &band) { return band.before != band.after; }

// The callbacks get no context: the band of the running call.
static RowBand *activeBand;

// The columns first to last of row y, or null for a row the plug-in may not
// touch (outside the area: changes nothing) or one the band does not hold
// (noted, so that the caller can run again over the whole image).
static unsigned char *LentPixels(int y, int first, int last) {
    RowBand &band = *activeBand;
    if (y < 0 || y >= band.height || first < 0 || last >= band.width || first > last) return nullptr;
    int index = HeldRowIndex(band, y);
    if (index < 0) {
        if (band.missedRow < 0) band.missedRow = y;
        return nullptr;
    }
    return HeldPixels(band.after, band, index) + 3 * first;
}

static int FILTER_CDECL BandRowReader(int y, int first, int last, unsigned char *pixels, int) {
    unsigned char *row = LentPixels(y, first, last);
    if (row == nullptr || pixels == nullptr) return 0;
    memcpy(pixels, row, 3 * static_cast<size_t>(last - first + 1));
    return 1;
}

static int FILTER_CDECL BandRowWriter(int y, int first, int last, unsigned char *pixels, int) {
    unsigned char *row = LentPixels(y, first, last);
    if (row == nullptr || pixels == nullptr) return 0;
    memcpy(row, pixels, 3 * static_cast<size_t>(last - first + 1));
    return 1;
}

// The notification is just a value to this host: it takes result 1 as done.
static HWND const kNotifyWindow = reinterpret_cast<HWND>(1);

int RunPluginOnBand(RowBand &band, const std::string &settingsDir, std::string *message) {
    ImageArea area = {band.width, band.height};
    RowReader reader = BandRowReader;
    RowWriter writer = BandRowWriter;
    // The native MessageBoxA records the box instead of showing it.
    ResetPlatformRecords();
    activeBand = &band;
    int result = FilterProc(kNotifyWindow, &area, &writer, &reader, settingsDir.c_str());
    activeBand = nullptr;
    message->clear();
    if (!RecordedMessageBoxes().empty()) message->assign(ShiftJisToUtf8(RecordedMessageBoxes().back().text));
    ResetPlatformRecords();
    return result;
}

std::string ShiftJisToUtf8(const std::string &text) {
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) return text;
    std::string utf8;
    std::vector<char> in(text.begin(), text.end());
    char *inPointer = in.data();
    size_t inLeft = in.size();
    char chunk[256];
    while (inLeft > 0) {
        char *outPointer = chunk;
        size_t outLeft = sizeof chunk;
        size_t done = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
        utf8.append(chunk, outPointer - chunk);
        if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
        utf8 += '?';  // not Shift-JIS: skip one byte and go on
        inPointer++;
        inLeft--;
    }
    iconv_close(converter);
    return utf8;
}
