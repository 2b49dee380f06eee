#include "host/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

const char kVersionText[] = "roundcorners " ROUNDCORNERS_VERSION "\n";

const char kUsageText[] =
    "Usage: roundcorners [OPTION]... FILE -o OUTPUT\n"
    "       roundcorners [OPTION]... FILE... --out-dir DIR\n"
    "       roundcorners [OPTION]... FILE... --in-place\n"
    "Rounds the corners of PNG and JPEG images with the rounded-corner filter:\n"
    "the pixels outside a quarter ellipse in each corner take the background\n"
    "colour, and the cut edge is smoothed unless smoothing is off.\n"
    "\n"
    "Where the results go:\n"
    "  -o, --output FILE       write the result of the one input to FILE\n"
    "      --out-dir DIR       write each result into DIR under the input's name\n"
    "                          (DIR is created when missing)\n"
    "      --in-place          replace each input with its result\n"
    "\n"
    "Settings (the stored ones, or the defaults radius 20, smoothing on, white):\n"
    "      --radius N          corner radius in pixels, for this run\n"
    "      --background COLOR  background colour as #RRGGBB or RRGGBB, for this run\n"
    "      --smooth, --no-smooth  smoothing on or off, for this run\n"
    "      --save              store the settings, with the values above, as the\n"
    "                          filter's options dialog does (radius 5 to 999)\n"
    "      --show-settings     print the settings a run would use\n"
    "      --settings-dir DIR  keep the settings file in DIR (default:\n"
    "                          $XDG_CONFIG_HOME/roundcorners, else ~/.config/roundcorners)\n"
    "\n"
    "Output:\n"
    "      --quality N         JPEG quality, 1 to 100 (default 92)\n"
    "\n"
    "  -h, --help              show this help and exit\n"
    "      --version           show the version and exit\n"
    "\n"
    "The file's content decides whether it is read as PNG or JPEG; the output\n"
    "is of the same kind. Exit status: 0 when every file was done, 1 when some\n"
    "file failed (the others are still done), 2 for a mistake on the command line.\n";

// A whole decimal number from min to max, nothing else.
static bool ParseNumber(const char *text, long min, long max, int *value) {
    if (text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char *end = nullptr;
    long number = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || number < min || number > max) return false;
    *value = static_cast<int>(number);
    return true;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// #RRGGBB or RRGGBB, as the 0x00BBGGRR the settings hold.
static bool ParseColour(const char *text, COLORREF *colour) {
    if (text[0] == '#') text++;
    if (strlen(text) != 6) return false;
    unsigned rgb = 0;
    for (int i = 0; i < 6; i++) {
        int digit = HexDigit(text[i]);
        if (digit < 0) return false;
        rgb = rgb << 4 | static_cast<unsigned>(digit);
    }
    *colour = (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
    return true;
}

// The option's value: the rest after '=', or the next argument.
static bool TakeValue(const std::string &name, const char *inlineValue, int argc, const char *const *argv, int *i,
                      const char **value, std::string *error) {
    if (inlineValue != nullptr) {
        *value = inlineValue;
        return true;
    }
    if (*i + 1 >= argc) {
        *error = "option " + name + " needs a value";
        return false;
    }
    *value = argv[++*i];
    return true;
}

static bool ApplyValueOption(const std::string &name, const char *value, CommandLine *line, std::string *error) {
    SettingsOverrides &o = line->overrides;
    if (name == "-o" || name == "--output") {
        line->output = value;
    } else if (name == "--out-dir") {
        line->outDir = value;
    } else if (name == "--settings-dir") {
        line->settingsDir = value;
    } else if (name == "--radius") {
        o.hasRadius = ParseNumber(value, 0, INT_MAX, &o.radius);
        if (!o.hasRadius) *error = "--radius wants a whole number of pixels, not '" + std::string(value) + "'";
        return o.hasRadius;
    } else if (name == "--background") {
        o.hasBackground = ParseColour(value, &o.background);
        if (!o.hasBackground) *error = "--background wants a colour as #RRGGBB, not '" + std::string(value) + "'";
        return o.hasBackground;
    } else if (name == "--quality") {
        if (ParseNumber(value, 1, 100, &line->quality)) return true;
        *error = "--quality wants a number from 1 to 100, not '" + std::string(value) + "'";
        return false;
    }
    return true;
}

static bool ApplyFlag(const std::string &name, CommandLine *line) {
    if (name == "--in-place") line->inPlace = true;
    else if (name == "--smooth") line->overrides.smooth = 1;
    else if (name == "--no-smooth") line->overrides.smooth = 0;
    else if (name == "--save") line->save = true;
    else if (name == "--show-settings") line->showSettings = true;
    else if (name == "-h" || name == "--help") line->help = true;
    else if (name == "--version") line->version = true;
    else return false;
    return true;
}

static bool TakesValue(const std::string &name) {
    return name == "-o" || name == "--output" || name == "--out-dir" || name == "--settings-dir" ||
           name == "--radius" || name == "--background" || name == "--quality";
}

static bool CheckDestinations(const CommandLine &line, std::string *error) {
    int destinations = !line.output.empty() + !line.outDir.empty() + line.inPlace;
    if (destinations > 1) {
        *error = "give only one of -o, --out-dir and --in-place";
        return false;
    }
    if (!line.output.empty() && line.inputs.size() != 1) {
        *error = "-o takes exactly one input; use --out-dir for several";
        return false;
    }
    if (!line.inputs.empty() && destinations == 0) {
        *error = "say where the results go: -o FILE, --out-dir DIR or --in-place";
        return false;
    }
    if (line.inputs.empty() && !line.save && !line.showSettings) {
        *error = destinations > 0 ? "no input files" : "no input files (see --help)";
        return false;
    }
    return true;
}

static bool ParseArgument(int argc, const char *const *argv, int *i, bool *filesOnly, CommandLine *line,
                          std::string *error) {
    std::string argument = argv[*i];
    if (*filesOnly || argument.size() < 2 || argument[0] != '-') {
        line->inputs.push_back(argument);
        return true;
    }
    if (argument == "--") {
        *filesOnly = true;
        return true;
    }
    size_t equals = argument.find('=');
    std::string name = argument.substr(0, equals);
    const char *inlineValue = equals == std::string::npos ? nullptr : argv[*i] + equals + 1;
    if (TakesValue(name)) {
        const char *value = nullptr;
        return TakeValue(name, inlineValue, argc, argv, i, &value, error) &&
               ApplyValueOption(name, value, line, error);
    }
    if (inlineValue == nullptr && ApplyFlag(name, line)) return true;
    *error = "unknown option '" + argument + "'";
    return false;
}

bool ParseCommandLine(int argc, const char *const *argv, CommandLine *line, std::string *error) {
    *line = CommandLine();
    bool filesOnly = false;
    for (int i = 1; i < argc; i++)
        if (!ParseArgument(argc, argv, &i, &filesOnly, line, error)) return false;
    if (line->help || line->version) return true;
    return CheckDestinations(*line, error);
}
