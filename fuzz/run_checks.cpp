#include "fuzz/run_checks.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/test_hooks.h"
#include "tests/common/image_cases.h"

static HWND const kNotify = reinterpret_cast<HWND>(0x4001);
static HWND const kFocus = reinterpret_cast<HWND>(0x4002);

void FuzzFailure(const char *format, ...) {
    va_list args;
    va_start(args, format);
    fputs("filter run check failed: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    abort();
}

// The second host keeps the image bottom-up, each row padded to a multiple of
// four bytes as in a device-independent bitmap, in one malloc'd block of
// exactly that size, and checks every call strictly: the row within the
// area, the whole row asked for, -1 as the fifth argument, and a buffer that
// lies wholly inside a block the plug-in obtained and holds locked. After
// every call it points its reader (or writer) location at the other of two
// copies of the callback, so a plug-in that kept the first address instead of
// fetching it for each call shows in the counts.
struct BottomUpHost {
    int width, height;    // as reported to the plug-in
    size_t stride;        // bytes a row, padding included
    unsigned char *bits;  // row height - 1 first
    RowReader reader;     // the locations handed to FilterProc
    RowWriter writer;
    int reads[2], writes[2];  // calls to each copy
};

static BottomUpHost *g_bottomUpHost;  // the host of the running call, if any

static unsigned char *BottomUpRow(const BottomUpHost &host, int row) {
    return host.bits + static_cast<size_t>(host.height - 1 - row) * host.stride;
}

static void CheckStrictCall(const char *what, int row, int first, int last, const unsigned char *pixels,
                            int reserved) {
    const BottomUpHost *host = g_bottomUpHost;
    FUZZ_CHECK(host != nullptr, "%s called outside a run", what);
    FUZZ_CHECK(host->width >= 0 && host->height >= 0, "%s called for row %d of a %d x %d area", what, row,
               host->width, host->height);
    FUZZ_CHECK(row >= 0 && row < host->height, "%s: row %d outside 0..%d", what, row, host->height - 1);
    FUZZ_CHECK(first == 0 && last == host->width - 1, "%s: columns %d..%d, expected 0..%d", what, first, last,
               host->width - 1);
    FUZZ_CHECK(reserved == -1, "%s: fifth argument %d, expected -1", what, reserved);
    FUZZ_CHECK(IsInsideLockedBlock(pixels, 3 * static_cast<size_t>(host->width)),
               "%s: the %d bytes at %p are not inside a locked block of the plug-in", what, 3 * host->width,
               static_cast<const void *>(pixels));
}

static int FILTER_CDECL BottomUpReader0(int row, int first, int last, unsigned char *pixels, int reserved);
static int FILTER_CDECL BottomUpReader1(int row, int first, int last, unsigned char *pixels, int reserved);
static int FILTER_CDECL BottomUpWriter0(int row, int first, int last, unsigned char *pixels, int reserved);
static int FILTER_CDECL BottomUpWriter1(int row, int first, int last, unsigned char *pixels, int reserved);

static void BottomUpRead(int copy, int row, int first, int last, unsigned char *pixels, int reserved) {
    CheckStrictCall("reader", row, first, last, pixels, reserved);
    BottomUpHost &host = *g_bottomUpHost;
    memcpy(pixels, BottomUpRow(host, row), 3 * static_cast<size_t>(host.width));
    host.reads[copy]++;
    host.reader = copy == 0 ? BottomUpReader1 : BottomUpReader0;
}

static void BottomUpWrite(int copy, int row, int first, int last, unsigned char *pixels, int reserved) {
    CheckStrictCall("writer", row, first, last, pixels, reserved);
    BottomUpHost &host = *g_bottomUpHost;
    memcpy(BottomUpRow(host, row), pixels, 3 * static_cast<size_t>(host.width));
    host.writes[copy]++;
    host.writer = copy == 0 ? BottomUpWriter1 : BottomUpWriter0;
}

static int FILTER_CDECL BottomUpReader0(int row, int first, int last, unsigned char *pixels, int reserved) {
    BottomUpRead(0, row, first, last, pixels, reserved);
    return 1;
}
static int FILTER_CDECL BottomUpReader1(int row, int first, int last, unsigned char *pixels, int reserved) {
    BottomUpRead(1, row, first, last, pixels, reserved);
    return 1;
}
static int FILTER_CDECL BottomUpWriter0(int row, int first, int last, unsigned char *pixels, int reserved) {
    BottomUpWrite(0, row, first, last, pixels, reserved);
    return 1;
}
static int FILTER_CDECL BottomUpWriter1(int row, int first, int last, unsigned char *pixels, int reserved) {
    BottomUpWrite(1, row, first, last, pixels, reserved);
    return 1;
}

// What one run left behind, for comparing runs.
struct RunRecord {
    int result;
    Image image;
    int notifications;   // WM_USER, 0, 0 sent to the notify window
    int messageBoxes;
    int blocksObtained;
};

static void BeginRun(int failAllocation) {
    memset(&g_settings, 0, sizeof g_settings);  // as when the module is loaded
    ResetPlatformRecords();
    SetFocusWindow(kFocus);
    if (failAllocation > 0) FailAllocation(failAllocation);
}

static RunRecord EndRun(const char *host, int result, const Image &image) {
    FUZZ_CHECK(LiveBlockCount() == 0, "%s host: %d blocks left live", host, LiveBlockCount());
    FUZZ_CHECK(OpenFileCount() == 0, "%s host: %d settings files left open", host, OpenFileCount());
    RunRecord record = {result, image, 0, 0, BlocksObtainedCount()};
    for (const RecordedMessage &m : RecordedMessages()) {
        FUZZ_CHECK(m.window == kNotify && m.message == WM_USER && m.wParam == 0 && m.lParam == 0,
                   "%s host: unexpected message 0x%x", host, m.message);
        record.notifications++;
    }
    for (const RecordedMessageBox &box : RecordedMessageBoxes()) {
        FUZZ_CHECK(box.owner == kFocus && box.style == MB_OK, "%s host: message box not owned by the focus window",
                   host);
        record.messageBoxes++;
    }
    return record;
}

static RunRecord RunPlainHost(const FilterRunCase &c, int failAllocation) {
    BeginRun(failAllocation);
    MemoryHost host;
    host.image = c.image;
    int result = RunFilterOn(FilterProc, host, kNotify, c.dir);
    FUZZ_CHECK(host.violations.empty(), "plain host: %s", host.violations.empty() ? "" : host.violations[0].c_str());
    return EndRun("plain", result, host.image);
}

static RunRecord RunBottomUpHost(const FilterRunCase &c) {
    BottomUpHost host = {c.width, c.height, 0, nullptr, BottomUpReader0, BottomUpWriter0, {0, 0}, {0, 0}};
    int rows = c.image.bgr.empty() ? 0 : c.image.height;
    size_t rowBytes = 3 * static_cast<size_t>(c.width);
    if (rows > 0) {
        host.stride = (rowBytes + 3) & ~static_cast<size_t>(3);
        host.bits = static_cast<unsigned char *>(malloc(host.stride * rows));
        FUZZ_CHECK(host.bits != nullptr, "bottom-up host: no memory for the image");
        for (int y = 0; y < rows; y++) memcpy(BottomUpRow(host, y), c.image.Pixel(0, y), rowBytes);
    }
    BeginRun(0);
    ImageArea area = {c.width, c.height};
    g_bottomUpHost = &host;
    int result = FilterProc(kNotify, &area, &host.writer, &host.reader, c.dir.c_str());
    g_bottomUpHost = nullptr;
    Image after = c.image;
    for (int y = 0; y < rows; y++) memcpy(after.Pixel(0, y), BottomUpRow(host, y), rowBytes);
    free(host.bits);
    FUZZ_CHECK(host.reads[0] - host.reads[1] <= 1 && host.writes[0] - host.writes[1] <= 1,
               "the plug-in kept a callback address: copies called %d/%d times (reader), %d/%d (writer)",
               host.reads[0], host.reads[1], host.writes[0], host.writes[1]);
    return EndRun("bottom-up", result, after);
}

// "" when the images are equal, else where they first differ. The whole-image
// compare first keeps the common case fast under the sanitizers.
static std::string Difference(const Image &expected, const Image &actual) {
    if (expected.width == actual.width && expected.height == actual.height && expected.bgr == actual.bgr) return "";
    return FirstDifference(expected, actual);
}

// A refused radius gives the message box; a negative side (which only a
// radius of 0 or less gets past the size check with) fails quietly; anything
// else is a finished run with one notification.
static void CheckDocumentedResult(const FilterRunCase &c, const RunRecord &run) {
    int radius = c.settings.radius;
    bool refused = radius > c.width || radius > c.height;
    bool finished = !refused && c.width >= 0 && c.height >= 0;
    FUZZ_CHECK(run.result == (finished ? 1 : 0), "result %d for R %d on %d x %d", run.result, radius, c.width,
               c.height);
    FUZZ_CHECK(run.messageBoxes == (refused ? 1 : 0), "%d message boxes for R %d on %d x %d", run.messageBoxes,
               radius, c.width, c.height);
    FUZZ_CHECK(run.notifications == run.result, "%d notifications after result %d", run.notifications, run.result);
    if (finished) return;
    FUZZ_CHECK(run.blocksObtained == 0, "a refused run obtained %d blocks", run.blocksObtained);
    std::string difference = Difference(c.image, run.image);
    FUZZ_CHECK(difference.empty(), "a refused run changed the image: %s", difference.c_str());
}

// Both passes touch only the rows of their steps (R - 2 up to 0, H - R + 1
// down to H - 1) and, in them, only the R columns at either end. Without
// smoothing every changed pixel holds the background colour.
static void CheckChangedPixels(const FilterRunCase &c, const Image &after) {
    int radius = c.settings.radius;
    COLORREF colour = c.settings.background;
    const unsigned char background[3] = {static_cast<unsigned char>(colour >> 16),
                                         static_cast<unsigned char>(colour >> 8), static_cast<unsigned char>(colour)};
    if (c.image.bgr.empty()) return;
    size_t rowBytes = 3 * static_cast<size_t>(c.image.width);
    for (int y = 0; y < c.image.height; y++) {
        if (memcmp(c.image.Pixel(0, y), after.Pixel(0, y), rowBytes) == 0) continue;
        for (int x = 0; x < c.image.width; x++) {
            const unsigned char *pixel = after.Pixel(x, y);
            if (memcmp(c.image.Pixel(x, y), pixel, 3) == 0) continue;
            bool cornerRow = y <= radius - 2 || y >= c.height - radius + 1;
            bool cornerColumn = x < radius || x >= c.width - radius;
            FUZZ_CHECK(radius >= 2 && cornerRow && cornerColumn, "R %d on %d x %d changed row %d, column %d", radius,
                       c.width, c.height, y, x);
            FUZZ_CHECK(c.settings.smooth != 0 || memcmp(pixel, background, 3) == 0,
                       "without smoothing, row %d, column %d changed to a colour other than the background", y, x);
        }
    }
}

static void CheckSameRun(const RunRecord &plain, const RunRecord &bottomUp) {
    FUZZ_CHECK(plain.result == bottomUp.result, "results differ: plain host %d, bottom-up host %d", plain.result,
               bottomUp.result);
    FUZZ_CHECK(plain.notifications == bottomUp.notifications && plain.messageBoxes == bottomUp.messageBoxes,
               "the hosts saw different messages");
    FUZZ_CHECK(plain.blocksObtained == bottomUp.blocksObtained, "blocks obtained differ: %d and %d",
               plain.blocksObtained, bottomUp.blocksObtained);
    std::string difference = Difference(plain.image, bottomUp.image);
    FUZZ_CHECK(difference.empty(), "the hosts' images differ (plain expected, bottom-up got): %s", difference.c_str());
}

// The image of the same run with smoothing off: what a failed smoothing window
// leaves behind. Rewrites the settings file.
static Image MaskOnlyImage(const FilterRunCase &c) {
    FilterSettings maskOnly = c.settings;
    maskOnly.smooth = 0;
    WriteSettingsFile(c.dir, &maskOnly, sizeof maskOnly);
    RunRecord run = RunPlainHost(c, 0);
    FUZZ_CHECK(run.result == 1, "the run without smoothing failed");
    return run.image;
}

// The first block is the row buffer: without it the image stays untouched.
// A later one is the smoothing window: the corners stay masked as without
// smoothing. Either way the result is 0, with no message and nothing live.
static void CheckFailedAllocation(const FilterRunCase &c, const RunRecord &unfailed) {
    int nth = c.failAllocation;
    RunRecord failed = RunPlainHost(c, nth);
    if (nth > unfailed.blocksObtained) {
        CheckSameRun(unfailed, failed);
        return;
    }
    FUZZ_CHECK(failed.result == 0, "result %d when block %d was not had", failed.result, nth);
    FUZZ_CHECK(failed.notifications == 0 && failed.messageBoxes == 0, "messages after block %d was not had", nth);
    Image expected = nth == 1 ? c.image : MaskOnlyImage(c);
    std::string difference = Difference(expected, failed.image);
    FUZZ_CHECK(difference.empty(), "image after block %d was not had: %s", nth, difference.c_str());
}

void CheckFilterRun(const FilterRunCase &c) {
    RunRecord plain = RunPlainHost(c, 0);
    FUZZ_CHECK(memcmp(&g_settings, &c.settings, sizeof g_settings) == 0, "the record loaded is not the file's");
    CheckDocumentedResult(c, plain);
    CheckChangedPixels(c, plain.image);
    CheckSameRun(plain, RunBottomUpHost(c));
    if (c.failAllocation > 0) CheckFailedAllocation(c, plain);
}

static std::string g_fuzzDir;  // the process's settings directory, "" until made

static void RemoveFuzzSettingsDir(void) {
    unlink((g_fuzzDir + SETTINGS_FILE_NAME).c_str());
    rmdir(g_fuzzDir.c_str());
}

const std::string &FuzzSettingsDir(void) {
    if (!g_fuzzDir.empty()) return g_fuzzDir;
    char pattern[] = "/tmp/roundcorner-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern) != nullptr, "cannot make a settings directory");
    g_fuzzDir = std::string(pattern) + "/";
    atexit(RemoveFuzzSettingsDir);
    return g_fuzzDir;
}

void WriteSettingsFile(const std::string &dir, const void *bytes, size_t size) {
    FILE *file = fopen((dir + SETTINGS_FILE_NAME).c_str(), "wb");
    FUZZ_CHECK(file != nullptr, "cannot write the settings file");
    FUZZ_CHECK(size == 0 || fwrite(bytes, size, 1, file) == 1, "cannot write the settings file");
    FUZZ_CHECK(fclose(file) == 0, "cannot write the settings file");
}

Image FuzzImage(int width, int height, const uint8_t *bytes, size_t size) {
    Image image = BlankImage(width, height);
    for (size_t i = 0; i < image.bgr.size(); i++)
        image.bgr[i] = size > 0 ? bytes[i % size] : static_cast<unsigned char>(i * 7 + (i >> 9) * 3);
    return image;
}
