// Loads the plug-in DLL beside the test program and finds its exports by
// ordinal, as the host does.
#pragma once

#include <windows.h>

#include <string>

#include "plugin/host_interface.h"
#include "tests/common/memory_host.h"

typedef int(FILTER_CDECL *FilterGetTitleFunction)(int, char *, int *, int *);
typedef int(FILTER_CDECL *FilterOptionFunction)(HWND, const char *);

struct PluginDll {
    HMODULE module = nullptr;
    FilterGetTitleFunction getTitle = nullptr;
    FilterProcFunction proc = nullptr;
    FilterOptionFunction option = nullptr;
};

inline FARPROC ExportByOrdinal(HMODULE module, int ordinal) {
    return GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
}

// FARPROC stands for any export; the casts give each its real type. Going
// through a pointer to a function of no arguments is how -Wcast-function-type
// is told the cast is meant.
template <typename Function>
Function ExportAs(HMODULE module, int ordinal) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(ExportByOrdinal(module, ordinal)));
}

// The DLL, loaded once for the whole test program.
inline const PluginDll &Plugin() {
    static PluginDll dll = [] {
        PluginDll d;
        d.module = LoadLibraryA("roundcorner.dll");
        if (d.module == nullptr) return d;
        d.getTitle = ExportAs<FilterGetTitleFunction>(d.module, 1);
        d.proc = ExportAs<FilterProcFunction>(d.module, 2);
        d.option = ExportAs<FilterOptionFunction>(d.module, 3);
        return d;
    }();
    return dll;
}

// A fresh, empty settings directory under the temporary folder, with the
// trailing separator the plug-in expects. Process IDs come round again from
// one run to the next, so a name already taken is passed over.
inline std::string MakeSettingsDir() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static int counter = 0;
    std::string dir;
    do {
        dir = std::string(base) + "roundcorner-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++counter);
    } while (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
    return dir + "\\";
}
