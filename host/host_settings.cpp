#include "host/host_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/interrupt_cleanup.h"

static bool IsAbsolute(const char *path) { return path != nullptr && path[0] == '/'; }

std::string DefaultSettingsDir(void) {
    const char *config = getenv("XDG_CONFIG_HOME");
    if (IsAbsolute(config)) return WithTrailingSlash(config) + "roundcorners/";
    const char *home = getenv("HOME");
    if (IsAbsolute(home)) return WithTrailingSlash(home) + ".config/roundcorners/";
    return "";
}

std::string WithTrailingSlash(const std::string &dir) {
    if (!dir.empty() && dir.back() == '/') return dir;
    return dir + "/";
}

// The plug-in builds the path in 256 bytes, NUL included.
int MaxSettingsDirLength(void) { return 256 - static_cast<int>(sizeof(SETTINGS_FILE_NAME)); }

FilterSettings LoadStoredSettings(const std::string &dir) {
    // The plug-in's loader works on g_settings; a host process holds no
    // other use of it between runs.
    LoadSettings(dir.empty() ? nullptr : dir.c_str());
    return g_settings;
}

void ApplyOverrides(FilterSettings &settings, const SettingsOverrides &overrides) {
    if (overrides.hasRadius) settings.radius = overrides.radius;
    if (overrides.hasBackground) settings.background = overrides.background;
    if (overrides.smooth >= 0) settings.smooth = overrides.smooth;
}

bool MakeDirectories(const std::string &dir) {
    std::string path = WithTrailingSlash(dir);
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat status;
    return stat(dir.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool StoreSettings(const std::string &dir, const FilterSettings &settings, FilterSettings *stored,
                   std::string *error) {
    if (dir.empty()) {
        *error = "no settings folder: set HOME or give --settings-dir";
        return false;
    }
    g_settings = settings;
    if (g_settings.radius > 999) g_settings.radius = 999;
    if (g_settings.radius < 5) g_settings.radius = 5;
    g_settings.smooth = g_settings.smooth != 0;
    *stored = g_settings;
    if (!MakeDirectories(dir) || !SaveSettings(dir.c_str())) {
        *error = "cannot store the settings in " + dir + SETTINGS_FILE_NAME + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool SettingsFileExists(const std::string &dir) {
    std::string path = dir + SETTINGS_FILE_NAME;
    return !dir.empty() && access(path.c_str(), R_OK) == 0;
}

static std::string TemporaryRoot(void) {
    const char *tmp = getenv("TMPDIR");
    return IsAbsolute(tmp) ? WithTrailingSlash(tmp) : "/tmp/";
}

bool CreateRunSettingsDir(const FilterSettings &settings, std::string *dir, std::string *error) {
    std::string pattern = TemporaryRoot() + "roundcorners-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        *error = "cannot make a temporary folder in " + TemporaryRoot() + ": " + strerror(errno);
        return false;
    }
    *dir = std::string(name.data()) + "/";
    std::string file = *dir + SETTINGS_FILE_NAME;
    NoteTemporarySettings(dir->c_str(), file.c_str());
    g_settings = settings;
    if (static_cast<int>(dir->size()) <= MaxSettingsDirLength() && SaveSettings(dir->c_str())) return true;
    *error = "cannot write the run's settings in " + *dir;
    RemoveRunSettingsDir(*dir);
    return false;
}

void RemoveRunSettingsDir(const std::string &dir) {
    if (dir.empty()) return;
    std::string file = dir + SETTINGS_FILE_NAME;
    unlink(file.c_str());
    rmdir(dir.c_str());
    NoteTemporarySettings(nullptr, nullptr);
}
