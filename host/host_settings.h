// The filter's settings as the command-line host keeps them: the plug-in's
// own settings file in a settings directory (by default the user's), values
// from the command line laid over it for one run, and a private directory
// holding the file that the run's FilterProc calls load.
#pragma once

#include <string>

#include "settings/settings.h"

// Values given on the command line; each applies only when given.
struct SettingsOverrides {
    bool hasRadius = false;
    int radius = 0;
    bool hasBackground = false;
    COLORREF background = 0;  // 0x00BBGGRR
    int smooth = -1;          // -1: as stored, 0: off, 1: on
};

// $XDG_CONFIG_HOME/roundcorners/ or ~/.config/roundcorners/, ending in '/';
// empty when neither variable gives an absolute path.
std::string DefaultSettingsDir(void);
// dir with a '/' at the end, as the plug-in joins it to the file name.
std::string WithTrailingSlash(const std::string &dir);
// Longest directory string whose settings path fits the plug-in's buffer.
int MaxSettingsDirLength(void);

// The stored settings in dir, or the defaults when there is no file there or
// dir is empty.
FilterSettings LoadStoredSettings(const std::string &dir);
void ApplyOverrides(FilterSettings &settings, const SettingsOverrides &overrides);
// Stores settings in dir as the options dialog's OK does: radius kept within
// 5 to 999, smoothing 0 or 1. Creates dir when missing. Returns what it
// stored through *stored.
bool StoreSettings(const std::string &dir, const FilterSettings &settings, FilterSettings *stored,
                   std::string *error);
bool SettingsFileExists(const std::string &dir);
// mkdir -p: dir and every missing folder on the way to it.
bool MakeDirectories(const std::string &dir);

// A fresh private directory (ending in '/') holding settings as the
// plug-in's file, for runs with per-run values; removed by the second call.
bool CreateRunSettingsDir(const FilterSettings &settings, std::string *dir, std::string *error);
void RemoveRunSettingsDir(const std::string &dir);
