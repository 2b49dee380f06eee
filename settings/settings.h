// The filter's settings: one module-wide record, which is also, byte for byte,
// the content of the settings file in the host's directory.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Appended to the host's directory string with no separator.
#define SETTINGS_FILE_NAME "veZezezIvovo.dat"

struct FilterSettings {
    int32_t radius;             // corner radius in pixels
    int32_t smooth;             // non-zero: run the edge smoothing pass
    COLORREF background;        // 0x00BBGGRR, painted into the cut corners
    COLORREF customColors[16];  // the colour chooser's custom colours
};
static_assert(sizeof(FilterSettings) == 76, "the settings file is exactly this record");

// The module's settings. Zero until the first load; reloaded by every filter
// run and every opening of the options dialog, edited in place by the dialog.
extern FilterSettings g_settings;

// Loads the record from dir's settings file, or the defaults when there is no
// file (or the path does not fit). Always 1.
int LoadSettings(const char *dir);
// Stores the record in dir's settings file. 1 when written, 0 when the file
// could not be created.
int SaveSettings(const char *dir);
