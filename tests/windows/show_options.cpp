// Opens the plug-in's options dialog the way the host does, for a look at it
// (scripts/screenshot-dialog.sh photographs it): writes sample settings into
// the directory given, calls FilterOption, and cancels the dialog after the
// given number of seconds, so nothing is stored.
//
//     show_options.exe DIR\ SECONDS
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/settings.h"
#include "tests/windows/plugin_dll.h"

static DWORD g_hostThread;
static int g_seconds;

static BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

static DWORD WINAPI CancelLater(LPVOID) {
    Sleep(1000 * g_seconds);
    EnumThreadWindows(g_hostThread, CancelDialog, 0);
    return 0;
}

static void WriteSampleSettings(const std::string &dir) {
    FilterSettings settings = {};
    settings.radius = 20;
    settings.smooth = 1;
    settings.background = RGB(70, 130, 180);
    for (COLORREF &colour : settings.customColors) colour = RGB(128, 128, 128);
    FILE *file = fopen((dir + SETTINGS_FILE_NAME).c_str(), "wb");
    if (file == nullptr) return;
    fwrite(&settings, sizeof settings, 1, file);
    fclose(file);
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: show_options DIR\\ SECONDS\n");
        return 2;
    }
    if (Plugin().option == nullptr) {
        fprintf(stderr, "roundcorner.dll or its FilterOption not found\n");
        return 1;
    }
    std::string dir = argv[1];
    g_seconds = atoi(argv[2]);
    WriteSampleSettings(dir);
    g_hostThread = GetCurrentThreadId();
    CloseHandle(CreateThread(nullptr, 0, CancelLater, nullptr, 0, nullptr));
    return Plugin().option(nullptr, dir.c_str()) == 1 ? 0 : 1;
}
