// The options command: a modal dialog (template SAMPLEDLG) that edits
// g_settings in place, and stores it in the settings file when it ends with OK.
// Windows builds only.
#pragma once

#include <windows.h>

// The dialog procedure. Keeps no state of its own and returns FALSE for every
// message, so the dialog manager does its default processing for all of them
// (and sets no initial focus).
INT_PTR CALLBACK OptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills the client area of the dialog's control controlId, less one pixel on
// each side so that its black frame stays visible, with colour.
void PaintColorSwatch(HWND dialog, int controlId, COLORREF colour);
