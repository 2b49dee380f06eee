// The options command and its dialog. The dialog edits g_settings in place:
// the colour button changes the background at once, OK takes the radius and
// the smoothing flag; only OK (or a dialog that could not be shown) stores the
// record, and every opening and every filter run reloads it first.
#include "options/options.h"

#include <commctrl.h>
#include <commdlg.h>

#include "plugin/host_interface.h"
#include "resources/resource.h"
#include "settings/settings.h"

enum { RADIUS_MIN = 5, RADIUS_MAX = 999 };

// The visible up-down control, created over the template's hidden one. Its
// buddy-integer style writes the radius into the edit box; right-aligned, it
// places itself against the edit box whatever position it is given.
static const DWORD SPIN_STYLE =
    WS_CHILD | WS_VISIBLE | WS_BORDER | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_NOTHOUSANDS;
static_assert(SPIN_STYLE == 0x50800086, "up-down control style");
enum { SPIN_X = 100, SPIN_Y = 2, SPIN_WIDTH = 8, SPIN_HEIGHT = 12 };  // pixels

// The record the colour chooser is given is 36 bytes in the 32-bit DLL. In
// the x86-64 build its handles and pointers are 8 bytes wide and its size
// there (72) is the one that build's comdlg32 expects; sizeof gives each
// build its own.
static_assert(sizeof(void *) != 4 || sizeof(CHOOSECOLORA) == 36, "CHOOSECOLORA in the 32-bit DLL");

extern "C" int FILTER_CDECL FilterOption(HWND parent, const char *dir) {
    LoadSettings(dir);
    // Registers the up-down class before the template's up-down control is
    // created, in case the host has not loaded the common controls itself.
    InitCommonControls();
    INT_PTR result = DialogBoxParamA(g_hInstance, "sampledlg", parent, OptionsDlgProc, 0);
    // 1 after OK; -1 when the dialog could not be shown, which stores the
    // settings as loaded.
    if (result != 0) SaveSettings(dir);
    return 1;
}

void PaintColorSwatch(HWND dialog, int controlId, COLORREF colour) {
    HWND control = GetDlgItem(dialog, controlId);
    // GetDC(NULL) is the whole screen: never paint there.
    if (control == nullptr) return;
    HDC dc = GetDC(control);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT rect = {0, 0, 0, 0};
    GetClientRect(control, &rect);
    rect.left += 1;
    rect.top += 1;
    rect.right -= 1;
    rect.bottom -= 1;
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
    ReleaseDC(control, dc);
}

static void InitOptionsDialog(HWND dialog) {
    InitCommonControls();
    CreateUpDownControl(SPIN_STYLE, SPIN_X, SPIN_Y, SPIN_WIDTH, SPIN_HEIGHT, dialog, IDC_SPIN, g_hInstance,
                        GetDlgItem(dialog, IDC_RADIUS), RADIUS_MAX, RADIUS_MIN, g_settings.radius);
    if (g_settings.smooth != 0) CheckDlgButton(dialog, IDC_SMOOTH, BST_CHECKED);
    PaintColorSwatch(dialog, IDC_SWATCH, g_settings.background);
}

static int ClampRadius(int radius) {
    if (radius > RADIUS_MAX) return RADIUS_MAX;
    if (radius < RADIUS_MIN) return RADIUS_MIN;
    return radius;
}

// Text that is no number reads as 0 and so becomes the smallest radius.
static void TakeRadiusAndSmoothing(HWND dialog) {
    int typed = static_cast<int>(GetDlgItemInt(dialog, IDC_RADIUS, nullptr, TRUE));
    g_settings.radius = ClampRadius(typed);
    g_settings.smooth = static_cast<int32_t>(IsDlgButtonChecked(dialog, IDC_SMOOTH));
}

// The chooser edits the custom colours in g_settings directly; the background
// changes only when the user accepts a colour.
static void PickBackgroundColor(HWND dialog) {
    CHOOSECOLORA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = dialog;
    choose.rgbResult = g_settings.background;
    choose.lpCustColors = g_settings.customColors;
    choose.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (ChooseColorA(&choose) != 1) return;
    g_settings.background = choose.rgbResult;
    PaintColorSwatch(dialog, IDC_SWATCH, g_settings.background);
}

// By the control ID alone: the notification code is not looked at.
static void OnCommand(HWND dialog, WORD id) {
    switch (id) {
    case IDOK:
        TakeRadiusAndSmoothing(dialog);
        EndDialog(dialog, 1);
        break;
    case IDCANCEL:
        EndDialog(dialog, 0);
        break;
    case IDC_PICKCOLOR:
        PickBackgroundColor(dialog);
        break;
    }
}

INT_PTR CALLBACK OptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitOptionsDialog(dialog);
        break;
    case WM_PAINT:
        PaintColorSwatch(dialog, IDC_SWATCH, g_settings.background);
        break;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam));
        break;
    case WM_SYSCOMMAND:
        // The low four bits are part of the comparison: only SC_CLOSE itself.
        if (LOWORD(wParam) == SC_CLOSE) EndDialog(dialog, 0);
        break;
    }
    return FALSE;
}
