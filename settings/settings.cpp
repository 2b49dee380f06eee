#include "settings/settings.h"

#include <cstring>

FilterSettings g_settings;

enum { SETTINGS_PATH_SIZE = 256 };  // bytes, NUL included

// Writes dir followed by the file name into path. Returns 0 when dir is
// missing or too long for the buffer: the path is then never used.
static int BuildSettingsPath(const char *dir, char path[SETTINGS_PATH_SIZE]) {
    if (dir == nullptr) return 0;
    size_t dirLength = 0;
    while (dirLength < SETTINGS_PATH_SIZE && dir[dirLength] != '\0') dirLength++;
    size_t nameLength = sizeof(SETTINGS_FILE_NAME);  // NUL included
    if (dirLength + nameLength > SETTINGS_PATH_SIZE) return 0;
    memcpy(path, dir, dirLength);
    memcpy(path + dirLength, SETTINGS_FILE_NAME, nameLength);
    return 1;
}

static void SetDefaultSettings(void) {
    g_settings.radius = 20;
    g_settings.smooth = 1;
    g_settings.background = 0x00FFFFFF;
    for (COLORREF &colour : g_settings.customColors) colour = 0x00808080;
}

int LoadSettings(const char *dir) {
    char path[SETTINGS_PATH_SIZE];
    HFILE file = HFILE_ERROR;
    if (BuildSettingsPath(dir, path)) file = _lopen(path, OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR) {
        SetDefaultSettings();
        return 1;
    }
    // A short file replaces only the leading fields; the rest stay as they were.
    _lread(file, &g_settings, sizeof g_settings);
    _lclose(file);
    return 1;
}

int SaveSettings(const char *dir) {
    char path[SETTINGS_PATH_SIZE];
    if (!BuildSettingsPath(dir, path)) return 0;
    HFILE file = _lcreat(path, 0);
    if (file == HFILE_ERROR) return 0;
    _lwrite(file, reinterpret_cast<LPCSTR>(&g_settings), sizeof g_settings);
    _lclose(file);
    return 1;
}
