#include <cstring>

#include "plugin/host_interface.h"
#include "tests/common/image_cases.h"
#include "tests/native/test_dir.h"

static HWND const kNotify = reinterpret_cast<HWND>(0x1234);

class FilterProcTest : public SettingsDirTest {
  protected:
    int Run(MemoryHost &host) { return RunFilterOn(FilterProc, host, kNotify, dir); }
    void ExpectNotifiedOnce() {
        ASSERT_EQ(RecordedMessages().size(), 1u);
        const RecordedMessage &m = RecordedMessages()[0];
        EXPECT_EQ(m.window, kNotify);
        EXPECT_EQ(m.message, 0x400u);
        EXPECT_EQ(m.wParam, 0u);
        EXPECT_EQ(m.lParam, 0);
    }
};

class ImageCaseTest : public FilterProcTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(ImageCaseTest, MatchesTheWorkedImage) {
    const ImageCase &c = GetParam();
    WriteSettings(SettingsWith(c.radius, c.smooth, c.background));
    MemoryHost host;
    host.image = InputImage(c);
    EXPECT_EQ(Run(host), 1);
    EXPECT_EQ(FirstDifference(ExpectedImage(c), host.image), "");
    EXPECT_TRUE(host.violations.empty()) << host.violations[0];
    ExpectNotifiedOnce();
    EXPECT_EQ(LiveBlockCount(), 0);
    EXPECT_EQ(OpenFileCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageCaseTest, ::testing::ValuesIn(ImageCases()),
                         [](const ::testing::TestParamInfo<ImageCase> &info) { return info.param.name; });

TEST_F(FilterProcTest, R5On12x12ChangesExactly12Pixels) {
    WriteSettings(SettingsWith(5, 0, 0x000000));
    MemoryHost host;
    host.image = InputImage(ImageCases()[0]);
    Image before = host.image;
    ASSERT_EQ(Run(host), 1);
    int changed = 0;
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 12; x++) changed += memcmp(before.Pixel(x, y), host.image.Pixel(x, y), 3) != 0;
    EXPECT_EQ(changed, 12);
}

TEST_F(FilterProcTest, TitleIsMaruKakuInShiftJis) {
    char title[8];
    memset(title, 0x7F, sizeof title);
    int first = 0, second = 0;
    EXPECT_EQ(FilterGetTitle(0, title, &first, &second), 1);
    EXPECT_EQ(std::string(title, 6), std::string("\x8A\xDB\x8A\x70\0\x7F", 6));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 10);
}

// The message text and caption, as Shift-JIS bytes.
static const char kMessageText[] =
    "\x83\x74\x83\x42\x83\x8b\x83\x5e\x82\xf0\x93\x4b\x97\x70\x82\xb7\x82\xe9\x94\xcd\x88\xcd\x82\xaa\x8f\xac\x82\xb3"
    "\x82\xb7\x82\xac\x82\xdc\x82\xb7\x81\x42\x0a\x82\xdc\x82\xbd\x82\xcd\x81\x41\x94\xbc\x8c\x61\x82\xaa\x91\xe5\x82"
    "\xab\x82\xb7\x82\xac\x82\xdc\x82\xb7\x81\x42";

TEST_F(FilterProcTest, RadiusEqualToTheSideIsAcceptedOneMoreIsRefused) {
    struct Row {
        int width, height, radius, result;
    } static const rows[] = {
        {20, 30, 20, 1}, {30, 20, 20, 1}, {20, 20, 20, 1}, {19, 30, 20, 0}, {30, 19, 20, 0}, {0, 0, 20, 0},
    };
    HWND focus = reinterpret_cast<HWND>(0x777);
    for (const Row &row : rows) {
        ResetPlatformRecords();
        SetFocusWindow(focus);
        WriteSettings(SettingsWith(row.radius, 1, 0x000000));
        MemoryHost host;
        host.image = BlankImage(row.width, row.height);
        Image before = host.image;
        EXPECT_EQ(Run(host), row.result) << row.width << " x " << row.height;
        if (row.result == 1) {
            EXPECT_TRUE(RecordedMessageBoxes().empty());
            continue;
        }
        ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
        const RecordedMessageBox &box = RecordedMessageBoxes()[0];
        EXPECT_EQ(box.owner, focus);
        EXPECT_EQ(box.text, kMessageText);
        EXPECT_EQ(box.caption, "\x83\x47\x83\x89\x81\x5b");
        EXPECT_EQ(box.style, 0u);
        EXPECT_TRUE(RecordedMessages().empty());
        EXPECT_EQ(BlocksObtainedCount(), 0);
        EXPECT_EQ(host.reads + host.writes, 0);
        EXPECT_EQ(FirstDifference(before, host.image), "");
    }
}

TEST_F(FilterProcTest, WithoutAFileTheFirstRunUsesTheDefaultsNotTheZeroRecord) {
    memset(&g_settings, 0, sizeof g_settings);  // as at load: radius 0, black
    MemoryHost host;
    host.image = BlankImage(60, 60);  // black, so white corners show
    ASSERT_EQ(Run(host), 1);
    EXPECT_EQ(memcmp(host.image.Pixel(0, 0), "\xFF\xFF\xFF", 3), 0);
    EXPECT_EQ(memcmp(host.image.Pixel(59, 59), "\xFF\xFF\xFF", 3), 0);
}

TEST_F(FilterProcTest, TheFileColourWinsOverWhatIsInMemory) {
    WriteSettings(SettingsWith(5, 0, 0x00332211));
    g_settings = SettingsWith(5, 0, 0x00FFFFFF);  // e.g. a colour chosen, then cancelled
    MemoryHost host;
    host.image = BlankImage(12, 12);
    ASSERT_EQ(Run(host), 1);
    EXPECT_EQ(memcmp(host.image.Pixel(0, 0), "\x33\x22\x11", 3), 0);
}

// The row buffer, and the smoothing window when smoothing is on: both gone
// by the time the host hears of the run.
TEST_F(FilterProcTest, ARunObtainsOneBlockAndOneMoreForSmoothing) {
    for (int smooth : {0, 1}) {
        ResetPlatformRecords();
        WriteSettings(SettingsWith(5, smooth, 0));
        MemoryHost host;
        host.image = BlankImage(12, 12);
        ASSERT_EQ(Run(host), 1);
        EXPECT_EQ(BlocksObtainedCount(), 1 + smooth) << "smooth " << smooth;
        ASSERT_EQ(RecordedMessages().size(), 1u);
        EXPECT_EQ(RecordedMessages()[0].liveBlocks, 0) << "smooth " << smooth;
        EXPECT_EQ(LiveBlockCount(), 0);
    }
}

TEST_F(FilterProcTest, WindowFailureLeavesTheCornersMaskedAndSendsNothing) {
    const ImageCase &c = ImageCases()[1];  // R = 5 on a 12 x 12 pattern
    WriteSettings(SettingsWith(c.radius, 1, c.background));
    MemoryHost host;
    host.image = InputImage(c);
    FailAllocation(2);
    EXPECT_EQ(Run(host), 0);
    EXPECT_EQ(FirstDifference(MaskedImage(c), host.image), "");
    EXPECT_TRUE(host.violations.empty()) << host.violations[0];
    EXPECT_TRUE(RecordedMessages().empty());
    EXPECT_TRUE(RecordedMessageBoxes().empty());
    EXPECT_EQ(BlocksObtainedCount(), 1);
    EXPECT_EQ(LiveBlockCount(), 0);
}

TEST_F(FilterProcTest, RowBufferFailureLeavesTheImageAndSendsNothing) {
    WriteSettings(SettingsWith(5, 0, 0));
    MemoryHost host;
    host.image = InputImage(ImageCases()[1]);
    Image before = host.image;
    FailAllocation(1);
    EXPECT_EQ(Run(host), 0);
    EXPECT_EQ(FirstDifference(before, host.image), "");
    EXPECT_TRUE(RecordedMessages().empty());
    EXPECT_TRUE(RecordedMessageBoxes().empty());
    EXPECT_EQ(LiveBlockCount(), 0);
}

// Hosts that report an empty or negative area: no call to the host, no
// notification for a negative side, and nothing outside the buffers.
TEST_F(FilterProcTest, EmptyAndNegativeAreasTouchNothing) {
    struct Row {
        int width, height, radius, result;
    } static const rows[] = {
        {0, 0, 0, 1}, {0, 5, -1, 1}, {-5, 5, -10, 0}, {-100, -100, -200, 0}, {5, -3, -4, 0},
        {-2147483647 - 1, 5, -2147483647 - 1, 0},
    };
    for (const Row &row : rows) {
        ResetPlatformRecords();
        WriteSettings(SettingsWith(row.radius, 1, 0));
        MemoryHost host;
        host.image = BlankImage(row.width, row.height);
        EXPECT_EQ(Run(host), row.result) << row.width << " x " << row.height << " R " << row.radius;
        EXPECT_EQ(host.reads + host.writes, 0);
        EXPECT_TRUE(host.violations.empty());
        EXPECT_EQ(RecordedMessages().size(), static_cast<size_t>(row.result));
        EXPECT_EQ(LiveBlockCount(), 0);
    }
}
