// The x86-64 DLL loaded as the host loads it, with real callbacks, a real
// notification window and real message boxes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "settings/settings.h"
#include "tests/common/image_cases.h"
#include "tests/windows/plugin_dll.h"

namespace {

int g_userMessages;  // WM_USER messages the notification window received

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER && wParam == 0 && lParam == 0) g_userMessages++;
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND NotifyWindow() {
    static HWND window = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = NotifyWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"RoundCornerTestHost";
        RegisterClassW(&wc);
        return CreateWindowW(L"RoundCornerTestHost", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                             nullptr, wc.hInstance, nullptr);
    }();
    return window;
}

void WriteSettingsFile(const std::string &dir, int radius, int smooth, COLORREF background) {
    FilterSettings settings = {};
    settings.radius = radius;
    settings.smooth = smooth;
    settings.background = background;
    FILE *file = fopen((dir + SETTINGS_FILE_NAME).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fwrite(&settings, sizeof settings, 1, file);
    fclose(file);
}

class DllTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Plugin().module, nullptr) << "LoadLibrary failed: " << GetLastError();
        ASSERT_NE(NotifyWindow(), nullptr);
        dir = MakeSettingsDir();
        g_userMessages = 0;
    }
    int Run(MemoryHost &host) { return RunFilterOn(Plugin().proc, host, NotifyWindow(), dir); }
    std::string dir;
};

TEST_F(DllTest, ExportsByOrdinalAreTheNamedOnes) {
    static const struct {
        int ordinal;
        const char *name;
    } exports[] = {{1, "FilterGetTitle"}, {2, "FilterProc"}, {3, "FilterOption"}};
    for (const auto &e : exports) {
        FARPROC byOrdinal = ExportByOrdinal(Plugin().module, e.ordinal);
        EXPECT_NE(byOrdinal, nullptr) << e.name;
        EXPECT_EQ(byOrdinal, GetProcAddress(Plugin().module, e.name)) << e.name;
    }
}

TEST_F(DllTest, TitleBytesAndValues) {
    char title[8];
    memset(title, 0x7F, sizeof title);
    int first = 0, second = 0;
    EXPECT_EQ(Plugin().getTitle(0, title, &first, &second), 1);
    EXPECT_EQ(std::string(title, 6), std::string("\x8A\xDB\x8A\x70\0\x7F", 6));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 10);
}

class DllImageCaseTest : public DllTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(DllImageCaseTest, MatchesTheWorkedImage) {
    const ImageCase &c = GetParam();
    WriteSettingsFile(dir, c.radius, c.smooth, c.background);
    MemoryHost host;
    host.image = InputImage(c);
    EXPECT_EQ(Run(host), 1);
    EXPECT_EQ(FirstDifference(ExpectedImage(c), host.image), "");
    EXPECT_TRUE(host.violations.empty()) << host.violations[0];
    EXPECT_EQ(g_userMessages, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, DllImageCaseTest, ::testing::ValuesIn(ImageCases()),
                         [](const ::testing::TestParamInfo<ImageCase> &info) { return info.param.name; });

// What a watcher thread read off the message box before pressing OK.
struct SeenMessageBox {
    std::wstring caption;
    std::wstring text;
    bool hasCancel = true;
};

// Waits for the plug-in's message box to appear in this process, reads it
// as the user sees it, and presses OK.
DWORD WINAPI AnswerMessageBox(LPVOID param) {
    SeenMessageBox *seen = static_cast<SeenMessageBox *>(param);
    for (int tries = 0; tries < 1000; tries++) {
        HWND box = FindWindowW(L"#32770", nullptr);
        if (box != nullptr) {
            wchar_t buffer[256];
            GetWindowTextW(box, buffer, 256);
            seen->caption = buffer;
            GetDlgItemTextW(box, 0xFFFF, buffer, 256);  // the message box's text control
            seen->text = buffer;
            seen->hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return 0;
        }
        Sleep(10);
    }
    return 1;
}

TEST_F(DllTest, TooLargeARadiusShowsTheJapaneseMessageAndChangesNothing) {
    ASSERT_EQ(GetACP(), 932u) << "run under a Japanese locale (LC_ALL=ja_JP.UTF-8)";
    WriteSettingsFile(dir, 21, 1, 0);
    MemoryHost host;
    host.image = BlankImage(20, 40);
    SeenMessageBox seen;
    HANDLE watcher = CreateThread(nullptr, 0, AnswerMessageBox, &seen, 0, nullptr);
    EXPECT_EQ(Run(host), 0);
    EXPECT_EQ(WaitForSingleObject(watcher, 10000), WAIT_OBJECT_0);
    DWORD watcherResult = 1;
    GetExitCodeThread(watcher, &watcherResult);
    CloseHandle(watcher);
    ASSERT_EQ(watcherResult, 0u) << "no message box appeared";
    EXPECT_EQ(seen.caption, L"エラー");
    EXPECT_EQ(seen.text, L"フィルタを適用する範囲が小さすぎます。\nまたは、半径が大きすぎます。");
    EXPECT_FALSE(seen.hasCancel) << "MB_OK has one button";
    EXPECT_EQ(host.reads + host.writes, 0);
    EXPECT_EQ(g_userMessages, 0);
}

}  // namespace
