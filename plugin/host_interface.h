// What the host and the plug-in pass each other: the area, the row callbacks,
// and the three exports. Pixel rows are 3 bytes a pixel, blue, green, red.
#pragma once

#include <cstdint>

#include "platform/win32.h"

#if defined(_WIN32) && !defined(_WIN64)
#define FILTER_CDECL __cdecl
#else
#define FILTER_CDECL
#endif

// The area to filter, in pixels. The plug-in only reads it.
struct ImageArea {
    int32_t width;
    int32_t height;
};

// Host callbacks, C calling convention (the caller removes the arguments):
// row, first column, last column, pixel buffer, and a fifth int that the
// plug-in always passes as -1. The result is ignored.
typedef int(FILTER_CDECL *RowReader)(int row, int first, int last, unsigned char *pixels, int reserved);
typedef int(FILTER_CDECL *RowWriter)(int row, int first, int last, unsigned char *pixels, int reserved);

extern "C" {
int FILTER_CDECL FilterGetTitle(int reserved, char *title, int *first, int *second);
// writer and reader are the addresses of locations holding the callbacks;
// the plug-in fetches the callback from its location at every call.
int FILTER_CDECL FilterProc(HWND notify, const ImageArea *area, RowWriter *writer, RowReader *reader,
                            const char *dir);
int FILTER_CDECL FilterOption(HWND parent, const char *dir);
}

// The module handle, set by the module entry; zero until then.
extern HINSTANCE g_hInstance;
