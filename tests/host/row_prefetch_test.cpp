// The second thread of pass 2: rows come in order and unchanged however far
// the reader runs ahead of the caller, a damaged file fails at the row where
// it breaks after the rows before it, and stopping early never hangs.
#include "host/row_prefetch.h"
#include "tests/host/image_files.h"
#include "tests/native/test_dir.h"

static const int kWidth = 23, kHeight = 100;

static unsigned Sample(int x, int y, int c) { return (x * 7 + y * 13 + c * 91 + (x * y) % 11) & 0xFF; }

struct ReaderCase {
    const char *name;
    int skip, count;
    double keptFraction;  // of the file's bytes; 1 for the whole file
    int stopAfter;        // rows asked for before stopping; -1 for all of them
};

static void PrintTo(const ReaderCase &c, std::ostream *out) { *out << c.name; }

static const ReaderCase kCases[] = {
    {"every_row", 0, kHeight, 1, -1},
    {"rows_between_held_ones", 10, 80, 1, -1},
    {"one_row", 99, 1, 1, -1},
    {"stopped_before_the_first_row", 10, 80, 1, 0},
    {"stopped_after_a_few_rows", 10, 80, 1, 5},
    {"stopped_with_the_ring_full", 0, kHeight, 1, 1},
    {"file_cut_in_the_middle", 10, 80, 0.5, -1},
    {"file_cut_before_the_rows", 60, 30, 0.3, -1},
};

class RowPrefetchTest : public SettingsDirTest, public ::testing::WithParamInterface<ReaderCase> {};

TEST_P(RowPrefetchTest, RowsComeInOrderAndAFailureAfterTheGoodOnes) {
    const ReaderCase &c = GetParam();
    PngImage image;
    image.width = kWidth;
    image.height = kHeight;
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++)
            for (int ch = 0; ch < 3; ch++) image.samples.push_back(Sample(x, y, ch));
    WritePng(dir + "in.png", image);
    std::string bytes = ReadBytes(dir + "in.png");
    bool cut = c.keptFraction < 1;
    WriteBytes(dir + "in.png", bytes.substr(0, static_cast<size_t>(bytes.size() * c.keptFraction)));

    ImageDecoder decoder;
    ImageInfo info;
    std::string error;
    ASSERT_TRUE(OpenImageDecoder(dir + "in.png", decoder, &info, &error)) << error;
    const PixelFormat rgb = MakePixelFormat(MODEL_RGB, 8);
    RowPrefetch *prefetch = StartRowPrefetch(decoder, c.skip, c.count, info.format, rgb, kWidth);
    int wanted = c.stopAfter < 0 ? c.count : c.stopAfter;
    int delivered = 0;
    for (; delivered < wanted; delivered++) {
        const unsigned char *row = NextPrefetchedRow(prefetch, &error);
        if (row == nullptr) break;
        int y = c.skip + delivered;
        for (int x = 0; x < kWidth; x++)
            for (int ch = 0; ch < 3; ch++)
                ASSERT_EQ(row[x * 3 + ch], Sample(x, y, ch)) << "row " << y << ", column " << x << ", channel " << ch;
    }
    StopRowPrefetch(prefetch);
    CloseImageDecoder(decoder);
    if (cut) {
        EXPECT_LT(delivered, c.count);
        EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    } else {
        EXPECT_EQ(delivered, wanted) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RowPrefetchTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ReaderCase> &info) { return info.param.name; });
