// The Win32 surface that settings/, filter/ and plugin/ use.
//
// On Windows this is <windows.h> itself. Elsewhere it declares, under the same
// names and types, only the calls and constants those parts need; platform.cpp
// implements them over the C library, and platform/test_hooks.h lets tests see
// what they did.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstddef>
#include <cstdint>

#define WINAPI

typedef int BOOL;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef DWORD COLORREF;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef size_t SIZE_T;
typedef int HFILE;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef struct HGLOBAL__ *HGLOBAL;

#define TRUE 1
#define FALSE 0
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define OF_READ 0x0000
#define OF_SHARE_DENY_WRITE 0x0020
#define HFILE_ERROR ((HFILE)-1)
#define MB_OK 0x00000000u
#define IDOK 1
#define WM_USER 0x0400u

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
HGLOBAL GlobalHandle(LPCVOID pointer);
HGLOBAL GlobalFree(HGLOBAL block);

HFILE _lopen(LPCSTR path, int mode);
HFILE _lcreat(LPCSTR path, int attribute);
UINT _lread(HFILE file, LPVOID buffer, UINT bytes);
UINT _lwrite(HFILE file, LPCSTR buffer, UINT bytes);
HFILE _lclose(HFILE file);

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
HWND GetFocus(void);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
#endif
