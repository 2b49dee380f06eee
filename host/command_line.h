// The command line of roundcorners: options and files, in any order.
#pragma once

#include <string>
#include <vector>

#include "host/host_settings.h"

struct CommandLine {
    std::vector<std::string> inputs;
    std::string output;       // -o: the one input's output file
    std::string outDir;       // --out-dir: a folder for every output
    bool inPlace = false;     // --in-place: replace each input
    std::string settingsDir;  // --settings-dir; empty: the user's
    SettingsOverrides overrides;
    int quality = 92;         // --quality, for JPEG output
    bool save = false;
    bool showSettings = false;
    bool help = false;
    bool version = false;
};

// Fills line from argv. On a mistake returns false with *error a one-line
// text; the destinations' consistency is checked too.
bool ParseCommandLine(int argc, const char *const *argv, CommandLine *line, std::string *error);

extern const char kUsageText[];
extern const char kVersionText[];
