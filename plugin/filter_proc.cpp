// The exports a host calls to learn the filter's title and to run it.
#include "filter/filter.h"
#include "plugin/host_interface.h"
#include "settings/settings.h"

HINSTANCE g_hInstance;

// "丸角" in Shift-JIS, NUL-terminated.
static const char kTitle[5] = {'\x8A', '\xDB', '\x8A', '\x70', '\0'};

// "フィルタを適用する範囲が小さすぎます。\nまたは、半径が大きすぎます。" and
// "エラー" in Shift-JIS: the one error the user ever sees.
static const char kAreaTooSmallText[] =
    "\x83\x74\x83\x42\x83\x8B\x83\x5E\x82\xF0\x93\x4B\x97\x70\x82\xB7\x82\xE9\x94\xCD\x88\xCD\x82\xAA"
    "\x8F\xAC\x82\xB3\x82\xB7\x82\xAC\x82\xDC\x82\xB7\x81\x42\n\x82\xDC\x82\xBD\x82\xCD\x81\x41\x94\xBC"
    "\x8C\x61\x82\xAA\x91\xE5\x82\xAB\x82\xB7\x82\xAC\x82\xDC\x82\xB7\x81\x42";
static const char kErrorCaption[] = "\x83\x47\x83\x89\x81\x5B";

extern "C" int FILTER_CDECL FilterGetTitle(int, char *title, int *first, int *second) {
    for (int i = 0; i < 5; i++) title[i] = kTitle[i];
    *first = 1;
    *second = 10;
    return 1;
}

static FilterPass PassFromSettings(const ImageArea *area, RowWriter *writer, RowReader *reader) {
    FilterPass pass;
    pass.radius = g_settings.radius;
    pass.width = area->width;
    pass.height = area->height;
    pass.row = nullptr;
    pass.red = static_cast<unsigned char>(g_settings.background & 0xFF);
    pass.green = static_cast<unsigned char>((g_settings.background >> 8) & 0xFF);
    pass.blue = static_cast<unsigned char>((g_settings.background >> 16) & 0xFF);
    pass.reader = reader;
    pass.writer = writer;
    return pass;
}

extern "C" int FILTER_CDECL FilterProc(HWND notify, const ImageArea *area, RowWriter *writer, RowReader *reader,
                                       const char *dir) {
    LoadSettings(dir);
    FilterPass pass = PassFromSettings(area, writer, reader);
    if (pass.radius > pass.width || pass.radius > pass.height) {
        MessageBoxA(GetFocus(), kAreaTooSmallText, kErrorCaption, MB_OK);
        return 0;
    }
    // Only a radius of 0 or less gets here with a negative side: such an area
    // holds no pixel to filter, and the run fails as for a buffer not had.
    if (pass.width < 0 || pass.height < 0) return 0;
    pass.row = ObtainBlock(BlockBytes(pass.width, 3, 100));
    if (pass.row == nullptr) return 0;
    MaskCorners(pass);
    // Without its window the smoothing pass fails before touching a row; the
    // corners stay masked and the run fails, with no notification.
    int smoothed = g_settings.smooth == 0 || SmoothCorners(pass);
    ReleaseBlock(pass.row);
    if (!smoothed) return 0;
    SendMessageA(notify, WM_USER, 0, 0);
    return 1;
}
