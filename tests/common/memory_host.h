// An in-memory host for the tests: it holds one image as rows of blue, green,
// red, lends them to the plug-in through real RowReader and RowWriter
// callbacks, and checks every call the plug-in makes. Shared by the native
// tests and the Windows tests that load the DLL.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "plugin/host_interface.h"

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bgr;  // rows top to bottom, 3 bytes a pixel

    unsigned char *Pixel(int x, int y) { return &bgr[3 * (static_cast<size_t>(y) * width + x)]; }
    const unsigned char *Pixel(int x, int y) const { return &bgr[3 * (static_cast<size_t>(y) * width + x)]; }
};

inline Image BlankImage(int width, int height) {
    Image image;
    image.width = width;
    image.height = height;
    if (width > 0 && height > 0) image.bgr.assign(3 * static_cast<size_t>(width) * height, 0);
    return image;
}

struct MemoryHost {
    Image image;
    int reads = 0;
    int writes = 0;
    std::vector<std::string> violations;  // every call outside the contract
};

// The callbacks get no context, so the host of the running call is global.
inline MemoryHost *&ActiveMemoryHost() {
    static MemoryHost *host = nullptr;
    return host;
}

inline bool CheckRowCall(const char *what, int row, int first, int last, const unsigned char *pixels,
                         int reserved) {
    MemoryHost *host = ActiveMemoryHost();
    if (host == nullptr) return false;
    const Image &image = host->image;
    if (row >= 0 && row < image.height && first == 0 && last == image.width - 1 && reserved == -1 &&
        pixels != nullptr)
        return true;
    char note[160];
    snprintf(note, sizeof note, "%s(row %d, first %d, last %d, reserved %d, buffer %s) on %d x %d", what, row,
             first, last, reserved, pixels ? "set" : "null", image.width, image.height);
    host->violations.push_back(note);
    return false;
}

inline int FILTER_CDECL MemoryRowReader(int row, int first, int last, unsigned char *pixels, int reserved) {
    if (!CheckRowCall("reader", row, first, last, pixels, reserved)) return 0;
    MemoryHost *host = ActiveMemoryHost();
    host->reads++;
    const unsigned char *source = host->image.Pixel(0, row);
    for (int i = 0; i < 3 * host->image.width; i++) pixels[i] = source[i];
    return 1;
}

inline int FILTER_CDECL MemoryRowWriter(int row, int first, int last, unsigned char *pixels, int reserved) {
    if (!CheckRowCall("writer", row, first, last, pixels, reserved)) return 0;
    MemoryHost *host = ActiveMemoryHost();
    host->writes++;
    unsigned char *target = host->image.Pixel(0, row);
    for (int i = 0; i < 3 * host->image.width; i++) target[i] = pixels[i];
    return 1;
}

typedef int(FILTER_CDECL *FilterProcFunction)(HWND, const ImageArea *, RowWriter *, RowReader *, const char *);

// One FilterProc call over host's image, with area as the host reports it
// (by default the image's own size).
inline int RunFilterOn(FilterProcFunction filterProc, MemoryHost &host, HWND notify, const std::string &dir) {
    ImageArea area = {host.image.width, host.image.height};
    RowReader reader = MemoryRowReader;
    RowWriter writer = MemoryRowWriter;
    ActiveMemoryHost() = &host;
    int result = filterProc(notify, &area, &writer, &reader, dir.c_str());
    ActiveMemoryHost() = nullptr;
    return result;
}
