// One image file through the plug-in: read it, lend its rows to FilterProc,
// and write the result beside its destination before moving it into place,
// so that a failure never leaves a partial file or touches the input.
#pragma once

#include <string>

struct RoundJob {
    std::string input;
    std::string output;        // the destination; the input itself when inPlace
    bool inPlace = false;
    int quality = 92;          // JPEG output
    int radius = 0;            // the radius in the run's settings: which rows a run may touch
    std::string settingsDir;   // the run's settings directory, ending in '/'
    bool wholeImage = false;   // hold every row instead of the top and bottom radius rows
};

// True when the destination holds the result, or, in place, when the filter
// changed no pixel and the file was left alone. Otherwise *error is a
// one-line text saying what is wrong, and no file was changed.
bool RoundFile(const RoundJob &job, std::string *error);
