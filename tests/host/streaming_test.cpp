// The host holds only the top and bottom radius rows of a tall image and
// streams the rows between them; its output must be byte for byte the one it
// writes when it holds the whole image, for images taller than, as tall as,
// and shorter than twice the radius.
#include "host/plugin_host.h"
#include "host/round_file.h"
#include "tests/host/image_files.h"
#include "tests/native/test_dir.h"

static const int kRadius = 8;

enum FixtureKind { PNG_RGB8, PNG_GRAY16, PNG_PALETTE1, JPEG_420, JPEG_444, JPEG_420_PROGRESSIVE, JPEG_GRAY };

struct StreamingCase {
    const char *name;
    FixtureKind kind;
    int width, height;
};

static void PrintTo(const StreamingCase &c, std::ostream *out) { *out << c.name; }

static const StreamingCase kCases[] = {
    {"png_rgb8_taller", PNG_RGB8, 37, 41},
    {"png_rgb8_twice_radius", PNG_RGB8, 37, 2 * kRadius},
    {"png_rgb8_shorter", PNG_RGB8, 37, 2 * kRadius - 1},
    {"png_rgb8_just_over_radius", PNG_RGB8, 37, kRadius + 1},
    {"png_rgb8_tall", PNG_RGB8, 37, 300},  // the rows between pass through the row ring many times
    {"png_gray16_taller", PNG_GRAY16, 20, 33},
    {"png_palette1_taller", PNG_PALETTE1, 19, 30},
    {"jpeg_420_taller", JPEG_420, 37, 41},
    {"jpeg_420_twice_radius", JPEG_420, 37, 2 * kRadius},
    {"jpeg_420_shorter", JPEG_420, 37, 2 * kRadius - 3},
    {"jpeg_420_tall", JPEG_420, 50, 150},
    {"jpeg_444_taller", JPEG_444, 21, 35},
    {"jpeg_progressive_taller", JPEG_420_PROGRESSIVE, 33, 47},
    {"jpeg_gray_taller", JPEG_GRAY, 24, 50},
};

static unsigned Wave(int x, int y, int c) { return (x * 29 + y * 17 + c * 71 + (x * y) % 13) & 0xFF; }

static void WriteFixture(const std::string &path, const StreamingCase &c) {
    if (c.kind == PNG_RGB8 || c.kind == PNG_GRAY16 || c.kind == PNG_PALETTE1) {
        PngImage image;
        image.width = c.width;
        image.height = c.height;
        image.colourType = c.kind == PNG_RGB8 ? PNG_COLOR_TYPE_RGB : c.kind == PNG_GRAY16 ? PNG_COLOR_TYPE_GRAY
                                                                                          : PNG_COLOR_TYPE_PALETTE;
        image.bitDepth = c.kind == PNG_GRAY16 ? 16 : c.kind == PNG_RGB8 ? 8 : 1;
        if (c.kind == PNG_PALETTE1) image.palette = {{10, 20, 30}, {200, 150, 100}};
        for (int y = 0; y < c.height; y++)
            for (int x = 0; x < c.width; x++)
                for (int ch = 0; ch < PngChannels(image.colourType); ch++)
                    image.samples.push_back(c.kind == PNG_GRAY16     ? Wave(x, y, ch) * 251
                                            : c.kind == PNG_PALETTE1 ? (x + y) % 2
                                                                     : Wave(x, y, ch));
        WritePng(path, image);
        return;
    }
    JpegImage image;
    image.width = c.width;
    image.height = c.height;
    image.components = c.kind == JPEG_GRAY ? 1 : 3;
    for (int y = 0; y < c.height; y++)
        for (int x = 0; x < c.width; x++)
            for (int ch = 0; ch < image.components; ch++) image.samples.push_back(static_cast<unsigned char>(Wave(x, y, ch)));
    WriteJpeg(path, image, 90, c.kind == JPEG_420 || c.kind == JPEG_420_PROGRESSIVE, c.kind == JPEG_420_PROGRESSIVE);
}

class StreamingTest : public SettingsDirTest, public ::testing::WithParamInterface<StreamingCase> {
  protected:
    // The output of one RoundFile call, holding the whole image or not, and
    // with the radius the host believes the run has.
    std::string Round(const std::string &name, bool wholeImage, int hostRadius) {
        RoundJob job;
        job.input = dir + "in";
        job.output = dir + name;
        job.radius = hostRadius;
        job.settingsDir = dir;
        job.wholeImage = wholeImage;
        std::string error;
        EXPECT_TRUE(RoundFile(job, &error)) << error;
        return ReadBytes(job.output);
    }
};

TEST_P(StreamingTest, HoldingTheEdgeRowsWritesWhatHoldingTheWholeImageWrites) {
    const StreamingCase &c = GetParam();
    WriteFixture(dir + "in", c);
    for (int smooth = 0; smooth <= 1; smooth++) {
        WriteSettings(SettingsWith(kRadius, smooth, 0x00204080));
        std::string whole = Round("whole", true, kRadius);
        ASSERT_FALSE(whole.empty());
        EXPECT_NE(whole, ReadBytes(dir + "in")) << "the filter changed nothing";
        EXPECT_TRUE(Round("band", false, kRadius) == whole) << "smooth " << smooth;
        // A host that expects too few rows notices the plug-in asking for
        // more and runs again over the whole image.
        EXPECT_TRUE(Round("short_band", false, 2) == whole) << "smooth " << smooth;
    }
}

INSTANTIATE_TEST_SUITE_P(Heights, StreamingTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StreamingCase> &info) { return info.param.name; });

// What keeps the memory small: a run asks only for the top and bottom radius
// rows, so a host holding just those is never asked for another.
TEST_F(SettingsDirTest, ARunAsksOnlyForTheTopAndBottomRadiusRows) {
    struct Row {
        int height, hostRadius, heldRows, missedRow;
    } static const rows[] = {
        {41, kRadius, 2 * kRadius, -1},
        {2 * kRadius, kRadius, 2 * kRadius, -1},
        {2 * kRadius - 1, kRadius, 2 * kRadius - 1, -1},
        {41, 2, 4, kRadius - 2},  // the first row the masking asks for
    };
    for (int smooth = 0; smooth <= 1; smooth++)
        for (const Row &row : rows) {
            WriteSettings(SettingsWith(kRadius, smooth, 0));
            RowBand band;
            ASSERT_TRUE(InitRowBand(band, 37, row.height, MakePixelFormat(MODEL_RGB, 8), row.hostRadius, false));
            LendHeldRows(band);
            std::string message;
            EXPECT_EQ(RunPluginOnBand(band, dir, &message), 1);
            EXPECT_EQ(HeldRowCount(band), row.heldRows) << row.height;
            EXPECT_EQ(band.missedRow, row.missedRow) << row.height << " smooth " << smooth;
        }
}
