// The options command of the x86-64 DLL: its dialog template read back from
// the DLL's resources, and the real dialog under wine64, driven from a second
// thread the way a user drives it while FilterOption runs the modal loop on
// the host's thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <colordlg.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource.h"
#include "settings/settings.h"
#include "tests/windows/plugin_dll.h"

namespace {

// ---------------------------------------------------------------------------
// The template

// Predefined control classes are stored as atoms; the reader shows an atom
// as "#" and its number.
const wchar_t kButton[] = L"#128";
const wchar_t kEdit[] = L"#129";
const wchar_t kStatic[] = L"#130";

struct ControlRow {
    int id;  // as the template's WORD; 0xFFFF is -1
    const wchar_t *className;
    const wchar_t *text;
    DWORD style;
    short x, y, cx, cy;
    const char *note;
};

const ControlRow kExpectedControls[] = {
    {IDOK, kButton, L"OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP, 24, 71, 40, 12,
     "OK, the default button"},
    {IDCANCEL, kButton, L"ｷｬﾝｾﾙ", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, 69, 71, 40, 12,
     "cancel, in half-width katakana"},
    {IDC_SWATCH, kStatic, L"", WS_CHILD | WS_VISIBLE | SS_BLACKFRAME, 5, 29, 15, 14,
     "colour swatch: a black frame the dialog fills"},
    {IDC_RADIUS, kEdit, L"", WS_CHILD | WS_VISIBLE | ES_RIGHT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 24, 8,
     25, 12, "radius edit box, right-aligned digits"},
    {IDC_PICKCOLOR, kButton, L"背景色 選択", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, 24, 29, 51, 14,
     "colour button; an ordinary space"},
    {0xFFFF, kStatic, L"半径", WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP, 4, 10, 19, 8, "label, ID -1"},
    {IDC_SPIN, L"msctls_updown32", L"Spin1", WS_CHILD | UDS_ARROWKEYS | WS_DISABLED, 54, 9, 7, 11,
     "up-down control, hidden and disabled"},
    {IDC_SMOOTH, kButton, L"境界をぼかす", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | WS_TABSTOP, 6, 51, 71, 12,
     "smoothing check box"},
};

const DWORD kDialogStyle =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;

struct TemplateControl {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    std::wstring className, text;
    WORD creationBytes = 0;
};

struct DialogTemplate {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, className, caption, fontName;
    WORD pointSize = 0;
    std::vector<TemplateControl> controls;
    std::string error;  // empty when the whole template was read
};

// Reads a DLGTEMPLATE (not the extended form) word by word.
struct TemplateReader {
    const BYTE *base;
    size_t size;
    size_t at = 0;
    bool overrun = false;

    WORD Word() {
        if (at + 2 > size) {
            overrun = true;
            return 0;
        }
        WORD w;
        memcpy(&w, base + at, 2);
        at += 2;
        return w;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    std::wstring String() {
        std::wstring s;
        for (WORD w = Word(); w != 0 && !overrun; w = Word()) s += static_cast<wchar_t>(w);
        return s;
    }
    // A string, or 0xFFFF and an ordinal, shown as "#" and the number.
    std::wstring NameOrOrdinal() {
        if (at + 2 <= size && base[at] == 0xFF && base[at + 1] == 0xFF) {
            Word();
            return L"#" + std::to_wstring(Word());
        }
        return String();
    }
    void AlignDword() { at = (at + 3) & ~static_cast<size_t>(3); }
};

DialogTemplate ReadDialogTemplate(const BYTE *data, size_t size) {
    DialogTemplate t;
    TemplateReader r{data, size};
    t.style = r.Dword();
    t.exStyle = r.Dword();
    WORD count = r.Word();
    t.x = r.Short(), t.y = r.Short(), t.cx = r.Short(), t.cy = r.Short();
    t.menu = r.NameOrOrdinal();
    t.className = r.NameOrOrdinal();
    t.caption = r.String();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.Word();
        t.fontName = r.String();
    }
    for (int i = 0; i < count && !r.overrun; i++) {
        r.AlignDword();
        TemplateControl c;
        c.style = r.Dword();
        c.exStyle = r.Dword();
        c.x = r.Short(), c.y = r.Short(), c.cx = r.Short(), c.cy = r.Short();
        c.id = r.Word();
        c.className = r.NameOrOrdinal();
        c.text = r.NameOrOrdinal();
        c.creationBytes = r.Word();
        r.at += c.creationBytes;
        t.controls.push_back(c);
    }
    if (r.overrun || r.at > size) t.error = "the template runs past the end of its resource";
    return t;
}

std::string Narrow(const std::wstring &text) {
    std::string out;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes > 1) {
        out.resize(bytes - 1);
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    }
    return out;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD> *>(param)->push_back(language);
    return TRUE;
}

TEST(OptionsTemplate, IsJapaneseAndMatchesTheTable) {
    HMODULE module = Plugin().module;
    ASSERT_NE(module, nullptr);
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module, MAKEINTRESOURCEW(5), L"SAMPLEDLG", CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{0x0411});

    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(5), L"SAMPLEDLG", 0x0411);
    ASSERT_NE(found, nullptr);
    const BYTE *data = static_cast<const BYTE *>(LockResource(LoadResource(module, found)));
    ASSERT_NE(data, nullptr);
    DialogTemplate t = ReadDialogTemplate(data, SizeofResource(module, found));
    ASSERT_EQ(t.error, "");

    EXPECT_EQ(t.style, kDialogStyle);
    EXPECT_EQ(t.style, 0x90C808C0u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.x, 84);
    EXPECT_EQ(t.y, 36);
    EXPECT_EQ(t.cx, 116);
    EXPECT_EQ(t.cy, 91);
    EXPECT_EQ(t.menu, L"") << "no menu";
    EXPECT_EQ(t.className, L"") << "the default dialog class";
    EXPECT_EQ(Narrow(t.caption), "丸角");
    EXPECT_EQ(t.pointSize, 12);
    EXPECT_EQ(Narrow(t.fontName), "ＭＳ Ｐゴシック");

    ASSERT_EQ(t.controls.size(), sizeof kExpectedControls / sizeof kExpectedControls[0]);
    for (size_t i = 0; i < t.controls.size(); i++) {
        const ControlRow &want = kExpectedControls[i];
        const TemplateControl &got = t.controls[i];
        SCOPED_TRACE(std::string("control ") + std::to_string(i) + ": " + want.note);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(Narrow(got.className), Narrow(want.className));
        EXPECT_EQ(Narrow(got.text), Narrow(want.text));
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.creationBytes, 0);
    }
}

// ---------------------------------------------------------------------------
// The settings file

FilterSettings SampleSettings(int radius, int smooth) {
    FilterSettings s = {};
    s.radius = radius;
    s.smooth = smooth;
    s.background = 0x00123456;
    for (int i = 0; i < 16; i++) s.customColors[i] = 0x00010203u * (i + 1);
    return s;
}

std::string SettingsPath(const std::string &dir) { return dir + SETTINGS_FILE_NAME; }

void WriteBytes(const std::string &path, const std::string &bytes) {
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

// The file's bytes; "<none>" when there is no file.
std::string ReadBytes(const std::string &path) {
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) return "<none>";
    std::string bytes;
    char buffer[256];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
    fclose(file);
    return bytes;
}

std::string Bytes(const FilterSettings &s) { return std::string(reinterpret_cast<const char *>(&s), sizeof s); }

void WriteSettings(const std::string &dir, const FilterSettings &s) { WriteBytes(SettingsPath(dir), Bytes(s)); }

// The stored record; radius -1 marks a file that is missing or not 76 bytes.
FilterSettings ReadSettings(const std::string &dir) {
    FilterSettings s = {};
    s.radius = -1;
    std::string bytes = ReadBytes(SettingsPath(dir));
    if (bytes.size() == sizeof s) memcpy(&s, bytes.data(), sizeof s);
    return s;
}

// ---------------------------------------------------------------------------
// Driving the dialog

// The host's main window, owner of the dialog.
HWND HostWindow() {
    static HWND window = CreateWindowW(L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
    return window;
}

// What a colour chooser was opened with: for a colour dialog, the lParam of
// WM_INITDIALOG is its CHOOSECOLOR record.
struct ChooserOpening {
    DWORD flags;
    HWND owner;
    COLORREF initial;
    COLORREF customColors[16];
};

// An up-down control as its creator asked for it, before the control
// adjusts its own style and place.
struct CreatedUpDown {
    DWORD style;
    int x, y, cx, cy;
    int id;
    HWND parent;
};

// What went by on the host's thread while FilterOption ran, caught with
// window hooks.
struct HostThreadLog {
    std::vector<ChooserOpening> chooserOpenings;
    std::vector<CreatedUpDown> upDowns;
    bool refuseDialogs = false;  // make the creation of every dialog window fail
};
HostThreadLog g_log;

std::wstring ClassOf(HWND window) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    return name;
}

LRESULT CALLBACK WatchDialogInits(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT *message = reinterpret_cast<const CWPSTRUCT *>(lParam);
    // Only the colour dialog has a red-component edit box.
    if (code == HC_ACTION && message->message == WM_INITDIALOG && GetDlgItem(message->hwnd, COLOR_RED)) {
        const CHOOSECOLORW *choose = reinterpret_cast<const CHOOSECOLORW *>(message->lParam);
        ChooserOpening seen = {choose->Flags, choose->hwndOwner, choose->rgbResult, {}};
        if (choose->lpCustColors) memcpy(seen.customColors, choose->lpCustColors, sizeof seen.customColors);
        g_log.chooserOpenings.push_back(seen);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK WatchCreations(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        HWND window = reinterpret_cast<HWND>(wParam);
        const CREATESTRUCTW *create = reinterpret_cast<const CBT_CREATEWNDW *>(lParam)->lpcs;
        std::wstring className = ClassOf(window);
        if (g_log.refuseDialogs && className == L"#32770") return 1;
        if (_wcsicmp(className.c_str(), UPDOWN_CLASSW) == 0)
            g_log.upDowns.push_back({static_cast<DWORD>(create->style), create->x, create->y, create->cx, create->cy,
                                     static_cast<int>(reinterpret_cast<INT_PTR>(create->hMenu)),
                                     create->hwndParent});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A dialog of the given thread, other than `except`, that is up and visible.
struct FindDialogSearch {
    HWND except;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
    FindDialogSearch *search = reinterpret_cast<FindDialogSearch *>(param);
    if (window != search->except && ClassOf(window) == L"#32770" && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Gives up after five seconds, or as soon as *stop is set.
HWND WaitForDialog(DWORD thread, HWND except = nullptr, const std::atomic<bool> *stop = nullptr) {
    for (int tries = 0; tries < 500 && !(stop && *stop); tries++) {
        FindDialogSearch search = {except, nullptr};
        EnumThreadWindows(thread, MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) return search.found;
        Sleep(10);
    }
    return nullptr;
}

bool WaitUntilGone(HWND window) {
    for (int tries = 0; tries < 500 && IsWindow(window); tries++) Sleep(10);
    return !IsWindow(window);
}

// The user's actions. Sent messages are handled before the sender goes on;
// a button that opens a modal window is clicked by posting, so the user's
// thread is free to work that window.
void Type(HWND dialog, int id, const wchar_t *text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
void ClickLater(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
std::wstring TextOf(HWND window) {
    wchar_t buffer[64] = {};
    SendMessageW(window, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

// The swatch's pixels: just inside the frame at the top left and the bottom
// right, and the frame's own top-left pixel.
struct SwatchPixels {
    COLORREF topLeft, bottomRight, frame;
};

SwatchPixels ReadSwatch(HWND dialog) {
    HWND swatch = GetDlgItem(dialog, IDC_SWATCH);
    RECT client = {};
    GetClientRect(swatch, &client);
    HDC dc = GetDC(swatch);
    SwatchPixels pixels = {GetPixel(dc, 1, 1), GetPixel(dc, client.right - 2, client.bottom - 2), GetPixel(dc, 0, 0)};
    ReleaseDC(swatch, dc);
    return pixels;
}

struct OptionRun {
    int result = 0;
    HWND dialog = nullptr;
    std::wstring caption;
    bool closedByUser = false;  // the dialog went away after the user's actions
};

// Calls FilterOption on this (the host's) thread while `user` works the
// dialog from a second thread. A dialog the user leaves open is cancelled,
// so a failing test never hangs.
struct HostSetup {
    HWND owner = HostWindow();
    bool refuseDialogs = false;  // the system fails to create dialog windows
};

OptionRun RunOptions(const std::string &dir, const std::function<void(HWND dialog, DWORD hostThread)> &user,
                     HostSetup host = HostSetup()) {
    OptionRun run;
    DWORD hostThread = GetCurrentThreadId();
    g_log = HostThreadLog();
    g_log.refuseDialogs = host.refuseDialogs;
    HHOOK inits = SetWindowsHookExW(WH_CALLWNDPROC, WatchDialogInits, nullptr, hostThread);
    HHOOK creations = SetWindowsHookExW(WH_CBT, WatchCreations, nullptr, hostThread);
    std::atomic<bool> returned(false);
    std::thread watcher([&] {
        HWND dialog = WaitForDialog(hostThread, nullptr, &returned);
        if (dialog == nullptr) return;
        run.dialog = dialog;
        wchar_t caption[16] = {};
        GetWindowTextW(dialog, caption, 16);
        run.caption = caption;
        user(dialog, hostThread);
        run.closedByUser = WaitUntilGone(dialog);
        // Whatever the user left open is cancelled, topmost (a colour
        // chooser) first: threads' windows are listed in z-order.
        for (int i = 0; i < 4 && IsWindow(dialog); i++) {
            HWND open = WaitForDialog(hostThread);
            if (open == nullptr) break;
            PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
            WaitUntilGone(open);
        }
    });
    run.result = Plugin().option(host.owner, dir.c_str());
    returned = true;
    watcher.join();
    UnhookWindowsHookEx(creations);
    UnhookWindowsHookEx(inits);
    return run;
}

class OptionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Plugin().option, nullptr);
        ASSERT_NE(HostWindow(), nullptr);
        dir = MakeSettingsDir();
    }
    std::string dir;
};

// ---------------------------------------------------------------------------
// Opening

struct SpinControl {
    HWND window;
    DWORD style;
};

BOOL CALLBACK CollectSpin(HWND window, LPARAM param) {
    if (GetDlgCtrlID(window) == IDC_SPIN)
        reinterpret_cast<std::vector<SpinControl> *>(param)->push_back(
            {window, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE))});
    return TRUE;
}

// What the user sees when the dialog has opened.
struct OpenedDialog {
    std::wstring radiusText;
    UINT smoothState = 99;
    SwatchPixels swatch = {};
    std::vector<SpinControl> spins;  // every control with the up-down ID, in z-order
    int low = 0, high = 0, position = 0;
    HWND buddy = nullptr, radiusEdit = nullptr;
};

OpenedDialog ReadOpenedDialog(HWND dialog) {
    OpenedDialog seen;
    seen.radiusEdit = GetDlgItem(dialog, IDC_RADIUS);
    seen.radiusText = TextOf(seen.radiusEdit);
    seen.smoothState = static_cast<UINT>(SendMessageW(GetDlgItem(dialog, IDC_SMOOTH), BM_GETCHECK, 0, 0));
    seen.swatch = ReadSwatch(dialog);
    EnumChildWindows(dialog, CollectSpin, reinterpret_cast<LPARAM>(&seen.spins));
    for (const SpinControl &spin : seen.spins) {
        if (!(spin.style & WS_VISIBLE)) continue;
        SendMessageW(spin.window, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&seen.low),
                     reinterpret_cast<LPARAM>(&seen.high));
        seen.position = static_cast<int>(SendMessageW(spin.window, UDM_GETPOS32, 0, 0));
        seen.buddy = reinterpret_cast<HWND>(SendMessageW(spin.window, UDM_GETBUDDY, 0, 0));
    }
    return seen;
}

TEST_F(OptionsTest, OpensWithTheStoredSettingsAndAWorkingUpDownControl) {
    static const struct {
        int radius, smooth;
        COLORREF background;
        const wchar_t *text;
        UINT state;
        const char *note;
    } cases[] = {
        {20, 1, 0x00FFFFFF, L"20", BST_CHECKED, "the defaults"},
        {999, 0, 0x00123456, L"999", BST_UNCHECKED, "largest radius, no smoothing"},
        {5, 7, 0x00000000, L"5", BST_CHECKED, "smallest radius; any non-zero flag checks the box"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.note);
        FilterSettings file = SampleSettings(c.radius, c.smooth);
        file.background = c.background;
        WriteSettings(dir, file);
        OpenedDialog seen;
        OptionRun run = RunOptions(dir, [&](HWND dialog, DWORD) {
            seen = ReadOpenedDialog(dialog);
            Click(dialog, IDCANCEL);
        });
        ASSERT_NE(run.dialog, nullptr) << "no dialog appeared";
        EXPECT_EQ(Narrow(run.caption), "丸角");
        EXPECT_EQ(Narrow(seen.radiusText), Narrow(c.text));
        EXPECT_EQ(seen.smoothState, c.state);
        EXPECT_EQ(seen.swatch.topLeft, c.background);
        EXPECT_EQ(seen.swatch.bottomRight, c.background);

        ASSERT_EQ(seen.spins.size(), 2u) << "the template's up-down control and the created one";
        int visible = 0;
        for (const SpinControl &spin : seen.spins) {
            bool shown = (spin.style & WS_VISIBLE) != 0;
            visible += shown;
            // The template's one stays hidden and disabled; the created one is enabled.
            EXPECT_EQ((spin.style & WS_DISABLED) != 0, !shown);
        }
        EXPECT_EQ(visible, 1);
        ASSERT_EQ(g_log.upDowns.size(), 2u);
        const CreatedUpDown &created = g_log.upDowns[1];
        EXPECT_EQ(created.style, 0x50800086u);
        EXPECT_EQ(created.x, 100);
        EXPECT_EQ(created.y, 2);
        EXPECT_EQ(created.cx, 8);
        EXPECT_EQ(created.cy, 12);
        EXPECT_EQ(created.id, IDC_SPIN);
        EXPECT_EQ(created.parent, run.dialog);
        EXPECT_EQ(seen.low, 5);
        EXPECT_EQ(seen.high, 999);
        EXPECT_EQ(seen.position, c.radius);
        EXPECT_EQ(seen.buddy, seen.radiusEdit);
        EXPECT_TRUE(run.closedByUser);
        EXPECT_EQ(run.result, 1);
    }
}

// A click on one of the up-down control's arrows, in the middle of the upper
// or the lower half.
void ClickArrow(HWND dialog, bool up) {
    HWND spin = nullptr;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgCtrlID(child) == IDC_SPIN && IsWindowVisible(child)) spin = child;
    RECT client = {};
    GetClientRect(spin, &client);
    LPARAM at = MAKELPARAM(client.right / 2, up ? client.bottom / 4 : client.bottom * 3 / 4);
    SendMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(spin, WM_LBUTTONUP, 0, at);
}

TEST_F(OptionsTest, UpDownArrowsStepTheRadiusWithin5Through999) {
    static const struct {
        int radius;
        bool up;
        const char *afterOne, *afterTwo;
    } cases[] = {
        {998, true, "999", "999"},
        {6, false, "5", "5"},
        {20, true, "21", "22"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.radius) + (c.up ? " up" : " down"));
        WriteSettings(dir, SampleSettings(c.radius, 1));
        std::wstring afterOne, afterTwo;
        RunOptions(dir, [&](HWND dialog, DWORD) {
            HWND edit = GetDlgItem(dialog, IDC_RADIUS);
            ClickArrow(dialog, c.up);
            afterOne = TextOf(edit);
            ClickArrow(dialog, c.up);
            afterTwo = TextOf(edit);
            Click(dialog, IDOK);
        });
        EXPECT_EQ(Narrow(afterOne), c.afterOne);
        EXPECT_EQ(Narrow(afterTwo), c.afterTwo);
        EXPECT_EQ(ReadSettings(dir).radius, atoi(c.afterTwo));
    }
}

// ---------------------------------------------------------------------------
// OK

TEST_F(OptionsTest, OkStoresTheTypedRadiusClampedTo5Through999) {
    static const struct {
        const wchar_t *typed;
        int stored;
    } cases[] = {
        {L"2000", 999}, {L"4", 5}, {L"-7", 5}, {L"abc", 5}, {L"999", 999}, {L"5", 5}, {L"321", 321},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(Narrow(c.typed));
        FilterSettings before = SampleSettings(20, 1);
        WriteSettings(dir, before);
        OptionRun run = RunOptions(dir, [&](HWND dialog, DWORD) {
            Type(dialog, IDC_RADIUS, c.typed);
            Click(dialog, IDOK);
        });
        EXPECT_TRUE(run.closedByUser);
        EXPECT_EQ(run.result, 1);
        FilterSettings want = before;
        want.radius = c.stored;
        EXPECT_EQ(Bytes(ReadSettings(dir)), Bytes(want)) << "only the radius changes";
    }
}

TEST_F(OptionsTest, OkStoresTheCheckBoxAsZeroOrOne) {
    static const struct {
        int fileFlag;
        bool click;
        int stored;
    } cases[] = {
        {1, false, 1}, {1, true, 0}, {0, true, 1}, {0, false, 0}, {7, false, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("flag " + std::to_string(c.fileFlag) + (c.click ? ", clicked" : ", untouched"));
        WriteSettings(dir, SampleSettings(20, c.fileFlag));
        RunOptions(dir, [&](HWND dialog, DWORD) {
            if (c.click) Click(dialog, IDC_SMOOTH);
            Click(dialog, IDOK);
        });
        EXPECT_EQ(ReadSettings(dir).smooth, c.stored);
    }
}

// OK as the button, the Enter key, and WM_COMMAND with notification codes
// other than a click (the procedure looks at the control ID only).
TEST_F(OptionsTest, EveryWayOfPressingOkStores) {
    static const struct {
        const char *name;
        void (*press)(HWND dialog);
    } ways[] = {
        {"button", [](HWND dialog) { Click(dialog, IDOK); }},
        {"Enter key", [](HWND dialog) { PostMessageW(GetDlgItem(dialog, IDC_RADIUS), WM_KEYDOWN, VK_RETURN, 0); }},
        {"accelerator code", [](HWND dialog) { PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0); }},
    };
    for (const auto &way : ways) {
        SCOPED_TRACE(way.name);
        WriteSettings(dir, SampleSettings(20, 1));
        OptionRun run = RunOptions(dir, [&](HWND dialog, DWORD) {
            Type(dialog, IDC_RADIUS, L"77");
            way.press(dialog);
        });
        EXPECT_TRUE(run.closedByUser);
        EXPECT_EQ(ReadSettings(dir).radius, 77);
    }
}

// ---------------------------------------------------------------------------
// Cancel

const struct {
    const char *name;
    void (*press)(HWND dialog);
} kWaysOfCancelling[] = {
    {"Cancel button", [](HWND dialog) { Click(dialog, IDCANCEL); }},
    {"Escape key", [](HWND dialog) { PostMessageW(GetDlgItem(dialog, IDC_RADIUS), WM_KEYDOWN, VK_ESCAPE, 0); }},
    {"close box", [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
};

// A store would show in either file: it would create the missing one, and
// rewrite the other as 76 bytes.
TEST_F(OptionsTest, CancelEscapeAndTheCloseBoxStoreNothing) {
    const std::string longerFile = Bytes(SampleSettings(20, 1)) + "tail";
    for (const auto &way : kWaysOfCancelling) {
        for (const std::string *file : {static_cast<const std::string *>(nullptr), &longerFile}) {
            SCOPED_TRACE(std::string(way.name) + (file ? ", 80-byte file" : ", no file"));
            std::string path = SettingsPath(dir);
            DeleteFileA(path.c_str());
            if (file) WriteBytes(path, *file);
            OptionRun run = RunOptions(dir, [&](HWND dialog, DWORD) {
                Type(dialog, IDC_RADIUS, L"321");
                Click(dialog, IDC_SMOOTH);
                way.press(dialog);
            });
            EXPECT_TRUE(run.closedByUser);
            EXPECT_EQ(run.result, 1);
            EXPECT_EQ(ReadBytes(path), file ? *file : "<none>");
        }
    }
}

// ---------------------------------------------------------------------------
// The colour chooser

const COLORREF kChosen = RGB(10, 200, 30);

struct ChooserFields {
    std::wstring red, green, blue;
};

// Opens the chooser from the dialog and waits for it.
HWND OpenChooser(HWND dialog, DWORD hostThread) {
    ClickLater(dialog, IDC_PICKCOLOR);
    return WaitForDialog(hostThread, dialog);
}

ChooserFields ReadChooser(HWND chooser) {
    return {TextOf(GetDlgItem(chooser, COLOR_RED)), TextOf(GetDlgItem(chooser, COLOR_GREEN)),
            TextOf(GetDlgItem(chooser, COLOR_BLUE))};
}

// Types the colour into the chooser's red, green and blue fields.
void TypeColour(HWND chooser, COLORREF colour) {
    Type(chooser, COLOR_RED, std::to_wstring(GetRValue(colour)).c_str());
    Type(chooser, COLOR_GREEN, std::to_wstring(GetGValue(colour)).c_str());
    Type(chooser, COLOR_BLUE, std::to_wstring(GetBValue(colour)).c_str());
}

// Closes the chooser with one of its buttons and waits until the options
// dialog has dealt with the result (a message sent to it is handled only
// once the host's thread reads messages again).
void CloseChooser(HWND chooser, int button) {
    HWND dialog = GetWindow(chooser, GW_OWNER);
    PostMessageW(chooser, WM_COMMAND, button, reinterpret_cast<LPARAM>(GetDlgItem(chooser, button)));
    WaitUntilGone(chooser);
    SendMessageW(dialog, WM_NULL, 0, 0);
}

TEST_F(OptionsTest, ColourButtonOpensTheChooserWithTheBackgroundAndCustomColours) {
    FilterSettings file = SampleSettings(20, 1);
    WriteSettings(dir, file);
    HWND chooserOwner = nullptr, dialogSeen = nullptr;
    ChooserFields fields;
    RunOptions(dir, [&](HWND dialog, DWORD hostThread) {
        dialogSeen = dialog;
        HWND chooser = OpenChooser(dialog, hostThread);
        if (chooser == nullptr) return;
        chooserOwner = GetWindow(chooser, GW_OWNER);
        fields = ReadChooser(chooser);
        CloseChooser(chooser, IDCANCEL);
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(chooserOwner, dialogSeen);
    ASSERT_EQ(g_log.chooserOpenings.size(), 1u);
    const ChooserOpening &opening = g_log.chooserOpenings[0];
    EXPECT_EQ(opening.owner, dialogSeen);
    EXPECT_EQ(opening.flags, static_cast<DWORD>(CC_RGBINIT | CC_FULLOPEN));
    EXPECT_EQ(opening.initial, file.background);
    EXPECT_EQ(memcmp(opening.customColors, file.customColors, sizeof file.customColors), 0);
    // 0x00123456: red 0x56, green 0x34, blue 0x12.
    EXPECT_EQ(Narrow(fields.red), "86");
    EXPECT_EQ(Narrow(fields.green), "52");
    EXPECT_EQ(Narrow(fields.blue), "18");
}

TEST_F(OptionsTest, AcceptedColourTakesEffectAtOnceAndOkStoresIt) {
    FilterSettings file = SampleSettings(20, 1);
    WriteSettings(dir, file);
    ChooserFields reopened;
    SwatchPixels swatch = {};
    RunOptions(dir, [&](HWND dialog, DWORD hostThread) {
        HWND chooser = OpenChooser(dialog, hostThread);
        if (chooser == nullptr) return;
        TypeColour(chooser, kChosen);
        CloseChooser(chooser, IDOK);
        swatch = ReadSwatch(dialog);
        // Opened again, the chooser starts from the colour just accepted;
        // cancelling it changes nothing.
        chooser = OpenChooser(dialog, hostThread);
        if (chooser == nullptr) return;
        reopened = ReadChooser(chooser);
        TypeColour(chooser, RGB(1, 2, 3));
        CloseChooser(chooser, IDCANCEL);
        Click(dialog, IDOK);
    });
    EXPECT_EQ(swatch.topLeft, kChosen) << "repainted at once";
    EXPECT_EQ(swatch.bottomRight, kChosen);
    EXPECT_NE(swatch.frame, kChosen) << "the frame stays";
    ASSERT_EQ(g_log.chooserOpenings.size(), 2u);
    EXPECT_EQ(g_log.chooserOpenings[1].initial, kChosen);
    EXPECT_EQ(Narrow(reopened.red), "10");
    EXPECT_EQ(Narrow(reopened.green), "200");
    EXPECT_EQ(Narrow(reopened.blue), "30");
    FilterSettings want = file;
    want.background = kChosen;
    EXPECT_EQ(Bytes(ReadSettings(dir)), Bytes(want));
}

TEST_F(OptionsTest, CustomColoursAddedInTheChooserAreStoredWithOk) {
    FilterSettings file = SampleSettings(20, 1);
    WriteSettings(dir, file);
    RunOptions(dir, [&](HWND dialog, DWORD hostThread) {
        HWND chooser = OpenChooser(dialog, hostThread);
        if (chooser == nullptr) return;
        TypeColour(chooser, kChosen);
        Click(chooser, COLOR_ADD);
        CloseChooser(chooser, IDCANCEL);
        Click(dialog, IDOK);
    });
    FilterSettings stored = ReadSettings(dir);
    EXPECT_EQ(stored.background, file.background) << "the chooser was cancelled";
    int changed = 0, added = 0;
    for (int i = 0; i < 16; i++) {
        changed += stored.customColors[i] != file.customColors[i];
        added += stored.customColors[i] == kChosen;
    }
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(added, 1);
}

TEST_F(OptionsTest, ColourChosenThenCancelledNeverReachesTheFileOrTheFilter) {
    FilterSettings file = SampleSettings(5, 0);
    file.background = RGB(0, 0, 0);
    WriteSettings(dir, file);
    OptionRun run = RunOptions(dir, [&](HWND dialog, DWORD hostThread) {
        HWND chooser = OpenChooser(dialog, hostThread);
        if (chooser == nullptr) return;
        TypeColour(chooser, kChosen);
        CloseChooser(chooser, IDOK);
        Click(dialog, IDCANCEL);
    });
    ASSERT_EQ(g_log.chooserOpenings.size(), 1u);
    EXPECT_TRUE(run.closedByUser);
    EXPECT_EQ(ReadBytes(SettingsPath(dir)), Bytes(file));

    MemoryHost host;
    host.image = BlankImage(12, 12);
    for (unsigned char &byte : host.image.bgr) byte = 0xFF;
    EXPECT_EQ(RunFilterOn(Plugin().proc, host, HostWindow(), dir), 1);
    const unsigned char *corner = host.image.Pixel(0, 0);
    EXPECT_EQ(corner[0] | corner[1] << 8 | corner[2] << 16, 0) << "the file's black, not the chosen colour";
}

// ---------------------------------------------------------------------------
// A dialog that cannot appear

TEST_F(OptionsTest, DialogThatCannotBeCreatedStoresTheSettingsAsLoaded) {
    FilterSettings defaults = {};
    defaults.radius = 20;
    defaults.smooth = 1;
    defaults.background = 0x00FFFFFF;
    for (COLORREF &colour : defaults.customColors) colour = 0x00808080;
    const std::string longerFile = Bytes(SampleSettings(33, 0)) + "tail";
    const struct {
        const char *name;
        const std::string *file;
        std::string stored;
    } cases[] = {
        {"no file: the defaults", nullptr, Bytes(defaults)},
        {"80-byte file: its record", &longerFile, longerFile.substr(0, sizeof(FilterSettings))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = SettingsPath(dir);
        DeleteFileA(path.c_str());
        if (c.file) WriteBytes(path, *c.file);
        HostSetup host;
        host.refuseDialogs = true;  // DialogBoxParamA gives -1
        OptionRun run = RunOptions(dir, [](HWND dialog, DWORD) { Click(dialog, IDCANCEL); }, host);
        EXPECT_EQ(run.dialog, nullptr) << "a dialog appeared";
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(ReadBytes(path), c.stored);
    }
}

// An owner that is no window is refused before any dialog is made, and
// DialogBoxParamA gives 0 for it (not -1): as after Cancel, nothing is stored.
TEST_F(OptionsTest, ClosedOwnerWindowStoresNothing) {
    HWND closed = CreateWindowW(L"STATIC", L"gone", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    DestroyWindow(closed);
    ASSERT_FALSE(IsWindow(closed));
    HostSetup host;
    host.owner = closed;
    OptionRun run = RunOptions(dir, [](HWND dialog, DWORD) { Click(dialog, IDCANCEL); }, host);
    EXPECT_EQ(run.dialog, nullptr) << "a dialog appeared";
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(ReadBytes(SettingsPath(dir)), "<none>");
}

}  // namespace
