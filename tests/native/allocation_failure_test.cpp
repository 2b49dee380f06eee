// Every block a run obtains may be refused. Whichever it is, the run returns 0
// with no message and nothing left live: without the row buffer (the first
// block) the image stays untouched; without a later block (the smoothing
// window) the corners stay masked as without smoothing.
#include "tests/common/image_cases.h"
#include "tests/native/test_dir.h"

static HWND const kNotify = reinterpret_cast<HWND>(0x1234);

class AllocationFailureTest : public SettingsDirTest {
  protected:
    // The image after one run of c's input with the given smoothing flag.
    Image RunOnce(const ImageCase &c, int smooth, int *result) {
        WriteSettings(SettingsWith(c.radius, smooth, c.background));
        MemoryHost host;
        host.image = InputImage(c);
        *result = RunFilterOn(FilterProc, host, kNotify, dir);
        EXPECT_TRUE(host.violations.empty()) << c.name << ": " << host.violations[0];
        EXPECT_EQ(LiveBlockCount(), 0) << c.name;
        EXPECT_EQ(OpenFileCount(), 0) << c.name;
        return host.image;
    }
};

// Shapes where a block's size or the passes' steps are at an edge: the worked
// area, R equal to a side, shared top and bottom rows, a radius below 2, and
// the emptiest area a run finishes on.
static const ImageCase kCases[] = {
    {"r5_12x12", 12, 12, 5, 1, 0x000000, FILL_PATTERN, 0, {}, {}},
    {"r20_equal_width_20x40", 20, 40, 20, 1, 0x0000FF, FILL_PATTERN, 0, {}, {}},
    {"r5_shared_rows_12x5", 12, 5, 5, 1, 0xFF0000, FILL_PATTERN, 0, {}, {}},
    {"r6_equal_6x6", 6, 6, 6, 1, 0x000000, FILL_WHITE, 0, {}, {}},
    {"r1_8x8", 8, 8, 1, 1, 0x000000, FILL_PATTERN, 0, {}, {}},
    {"r0_0x0", 0, 0, 0, 1, 0x000000, FILL_PATTERN, 0, {}, {}},
};

TEST_F(AllocationFailureTest, EachBlockOfARunRefusedInTurn) {
    for (const ImageCase &c : kCases) {
        ResetPlatformRecords();
        int result = 0;
        Image maskOnly = RunOnce(c, 0, &result);
        ASSERT_EQ(result, 1) << c.name;
        ResetPlatformRecords();
        RunOnce(c, 1, &result);
        ASSERT_EQ(result, 1) << c.name;
        int blocks = BlocksObtainedCount();
        ASSERT_GE(blocks, 1) << c.name;
        // One past the last block: nothing is refused and the run finishes.
        for (int nth = 1; nth <= blocks + 1; nth++) {
            ResetPlatformRecords();
            FailAllocation(nth);
            Image after = RunOnce(c, 1, &result);
            if (nth > blocks) {
                EXPECT_EQ(result, 1) << c.name;
                EXPECT_EQ(BlocksObtainedCount(), blocks) << c.name;
                continue;
            }
            EXPECT_EQ(result, 0) << c.name << ", block " << nth;
            EXPECT_TRUE(RecordedMessages().empty()) << c.name << ", block " << nth;
            EXPECT_TRUE(RecordedMessageBoxes().empty()) << c.name << ", block " << nth;
            const Image &expected = nth == 1 ? InputImage(c) : maskOnly;
            EXPECT_EQ(FirstDifference(expected, after), "") << c.name << ", block " << nth;
        }
    }
}
