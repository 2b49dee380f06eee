// The module entry of the DLL. It is the DLL's entry point itself (no C
// runtime start-up runs before it), and it only records the module handle.
#include "plugin/host_interface.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
    g_hInstance = instance;
    return TRUE;
}
