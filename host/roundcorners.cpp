#include "host/roundcorners.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/host_settings.h"
#include "host/round_file.h"

static int UsageError(FILE *err, const std::string &error) {
    fprintf(err, "roundcorners: %s\nTry 'roundcorners --help'.\n", error.c_str());
    return 2;
}

static void PrintColour(FILE *out, COLORREF colour) {
    fprintf(out, "#%02X%02X%02X", colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF);
}

static void PrintSettings(FILE *out, const std::string &dir, const FilterSettings &settings,
                          const SettingsOverrides &overrides) {
    if (dir.empty())
        fprintf(out, "settings file: none (no HOME), so the defaults\n");
    else
        fprintf(out, "settings file: %s%s%s\n", dir.c_str(), SETTINGS_FILE_NAME,
                SettingsFileExists(dir) ? "" : " (none yet, so the defaults)");
    const char *forRun = " (this run)";
    fprintf(out, "radius: %d%s\n", settings.radius, overrides.hasRadius ? forRun : "");
    fprintf(out, "smoothing: %s%s\n", settings.smooth ? "on" : "off", overrides.smooth >= 0 ? forRun : "");
    fprintf(out, "background: ");
    PrintColour(out, settings.background);
    fprintf(out, "%s\n", overrides.hasBackground ? forRun : "");
}

static bool Save(FILE *err, const std::string &dir, FilterSettings *settings) {
    std::string error;
    int asked = settings->radius;
    if (!StoreSettings(dir, *settings, settings, &error)) {
        fprintf(err, "roundcorners: %s\n", error.c_str());
        return false;
    }
    if (settings->radius != asked)
        fprintf(err, "roundcorners: radius %d stored as %d (the options dialog keeps it within 5 to 999)\n", asked,
                settings->radius);
    return true;
}

static std::string BaseName(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

static std::string OutputFor(const CommandLine &line, const std::string &input) {
    if (line.inPlace) return input;
    if (!line.output.empty()) return line.output;
    return WithTrailingSlash(line.outDir) + BaseName(input);
}

// One file; an input whose output an earlier file of the run has written is
// refused rather than overwriting that result (or rounding a file twice).
static bool RoundOne(const CommandLine &line, const RoundJob &base, const std::string &input,
                     std::vector<std::string> &outputs, std::string *error) {
    RoundJob job = base;
    job.input = input;
    job.output = OutputFor(line, input);
    for (const std::string &done : outputs)
        if (done == job.output) {
            *error = "'" + job.output + "' is already the output of an earlier file";
            return false;
        }
    bool done = false;
    try {
        done = RoundFile(job, error);
    } catch (const std::bad_alloc &) {
        *error = "out of memory";
    }
    if (done) outputs.push_back(job.output);
    return done;
}

static int RoundFiles(const CommandLine &line, const RoundJob &base, FILE *err) {
    int failed = 0;
    std::vector<std::string> outputs;
    for (const std::string &input : line.inputs) {
        std::string error;
        if (RoundOne(line, base, input, outputs, &error)) continue;
        fprintf(err, "roundcorners: %s: %s\n", input.c_str(), error.c_str());
        failed++;
    }
    return failed;
}

static int Run(const CommandLine &line, FILE *out, FILE *err) {
    std::string dir = line.settingsDir.empty() ? DefaultSettingsDir() : WithTrailingSlash(line.settingsDir);
    if (static_cast<int>(dir.size()) > MaxSettingsDirLength())
        return UsageError(err, "the settings folder's path is too long (at most " +
                                   std::to_string(MaxSettingsDirLength()) + " bytes with its '/')");
    FilterSettings settings = LoadStoredSettings(dir);
    ApplyOverrides(settings, line.overrides);
    if (line.save && !Save(err, dir, &settings)) return 1;
    if (line.showSettings) PrintSettings(out, dir, settings, line.overrides);
    if (line.inputs.empty()) return 0;
    std::string error;
    if (!line.outDir.empty() && !MakeDirectories(line.outDir)) {
        fprintf(err, "roundcorners: cannot make the output folder '%s': %s\n", line.outDir.c_str(), strerror(errno));
        return 1;
    }
    RoundJob base;
    base.inPlace = line.inPlace;
    base.quality = line.quality;
    base.radius = settings.radius;
    if (!CreateRunSettingsDir(settings, &base.settingsDir, &error)) {
        fprintf(err, "roundcorners: %s\n", error.c_str());
        return 1;
    }
    int failed = RoundFiles(line, base, err);
    RemoveRunSettingsDir(base.settingsDir);
    return failed > 0 ? 1 : 0;
}

int RoundCornersMain(int argc, const char *const *argv, FILE *out, FILE *err) {
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, &line, &error)) return UsageError(err, error);
    if (line.help) {
        fputs(kUsageText, out);
        return 0;
    }
    if (line.version) {
        fputs(kVersionText, out);
        return 0;
    }
    return Run(line, out, err);
}
