// JPEG through roundcorners: the decoded output is the plug-in's result on
// the decoded input, up to the loss of one more compression; gray stays gray
// while the result is gray; markers are carried over; CMYK is refused.
#include <cstdlib>

#include "plugin/host_interface.h"
#include "tests/host/image_files.h"
#include "tests/native/test_dir.h"

static const int kWidth = 40, kHeight = 30, kRadius = 9;

static JpegImage Fixture(int components) {
    JpegImage image;
    image.width = kWidth;
    image.height = kHeight;
    image.components = components;
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++)
            for (int c = 0; c < components; c++)
                image.samples.push_back(static_cast<unsigned char>(60 + x * 3 + y * 2 + c * 25));
    return image;
}

class JpegOutputTest : public SettingsDirTest {
  protected:
    // The plug-in's result on the decoded input, from the in-memory host.
    Image Expected(const std::string &input) {
        MemoryHost host;
        host.image = BgrOf(ReadJpeg(input));
        EXPECT_EQ(RunFilterOn(FilterProc, host, reinterpret_cast<HWND>(1), dir), 1);
        return host.image;
    }
    CommandResult Round(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {dir + "in.jpg", "-o", dir + "out.jpg", "--settings-dir", dir};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return RunRoundCorners(arguments);
    }
};

// The largest difference in any channel, and where it is.
static int LargestDifference(const Image &expected, const Image &actual, std::string *where) {
    int largest = 0;
    for (int y = 0; y < expected.height; y++)
        for (int x = 0; x < expected.width; x++)
            for (int c = 0; c < 3; c++) {
                int difference = abs(expected.Pixel(x, y)[c] - actual.Pixel(x, y)[c]);
                if (difference <= largest) continue;
                largest = difference;
                *where = "row " + std::to_string(y) + ", column " + std::to_string(x);
            }
    return largest;
}

TEST_F(JpegOutputTest, TheOutputIsThePlugInResultUpToOneMoreCompression) {
    WriteJpeg(dir + "in.jpg", Fixture(3), 100, false);
    WriteSettings(SettingsWith(kRadius, 1, 0x00102030));
    Image expected = Expected(dir + "in.jpg");
    CommandResult run = Round({"--quality", "100"});
    ASSERT_EQ(run.status, 0) << run.err;
    JpegImage output = ReadJpeg(dir + "out.jpg");
    ASSERT_EQ(output.components, 3);
    std::string where;
    EXPECT_LE(LargestDifference(expected, BgrOf(output), &where), 4) << where;
    // The corner really is the background colour (red 0x30, green 0x20, blue 0x10).
    EXPECT_NEAR(BgrOf(output).Pixel(0, 0)[0], 0x10, 4);
    EXPECT_NEAR(BgrOf(output).Pixel(kWidth - 1, kHeight - 1)[2], 0x30, 4);
}

TEST_F(JpegOutputTest, GrayStaysGrayUnlessTheResultHasColour) {
    struct Row {
        uint32_t background;
        int components;
    } static const rows[] = {{0x00808080, 1}, {0x000000FF, 3}};
    WriteJpeg(dir + "in.jpg", Fixture(1), 95, false);
    for (const Row &row : rows) {
        WriteSettings(SettingsWith(kRadius, 1, row.background));
        Image expected = Expected(dir + "in.jpg");
        CommandResult run = Round({"--quality", "100"});
        ASSERT_EQ(run.status, 0) << run.err;
        JpegImage output = ReadJpeg(dir + "out.jpg");
        EXPECT_EQ(output.components, row.components) << std::hex << row.background;
        std::string where;
        EXPECT_LE(LargestDifference(expected, BgrOf(output), &where), 4) << where;
    }
}

TEST_F(JpegOutputTest, ApplicationMarkersAndCommentsAreCarriedOver) {
    JpegImage input = Fixture(3);
    std::string exif("Exif\0\0MM\0*\0\0\0\x08\0\0", 16);
    input.markers = {{JPEG_APP0 + 1, exif}, {JPEG_COM, "made by the test"}};
    WriteJpeg(dir + "in.jpg", input, 90, true);
    WriteSettings(SettingsWith(kRadius, 0, 0x00FFFFFF));
    ASSERT_EQ(Round().status, 0);
    JpegImage output = ReadJpeg(dir + "out.jpg");
    std::vector<std::pair<int, std::string>> carried;
    for (const auto &marker : output.markers)
        if (marker.first != JPEG_APP0) carried.push_back(marker);  // JFIF is written anew
    EXPECT_EQ(carried, input.markers);
}

TEST_F(JpegOutputTest, QualityDefaultsTo92) {
    WriteJpeg(dir + "in.jpg", Fixture(3), 100, false);
    WriteSettings(SettingsWith(kRadius, 1, 0x00FFFFFF));
    ASSERT_EQ(Round().status, 0);
    std::string byDefault = ReadBytes(dir + "out.jpg");
    ASSERT_EQ(Round({"--quality", "92"}).status, 0);
    EXPECT_EQ(ReadBytes(dir + "out.jpg"), byDefault);
    ASSERT_EQ(Round({"--quality", "30"}).status, 0);
    EXPECT_LT(ReadBytes(dir + "out.jpg").size(), byDefault.size());
}

TEST_F(JpegOutputTest, CmykIsRefusedAndNothingIsWritten) {
    WriteJpeg(dir + "in.jpg", Fixture(4), 90, false);
    CommandResult run = Round();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "roundcorners: " + dir + "in.jpg: CMYK JPEG images are not supported\n");
    EXPECT_FALSE(FileExists(dir + "out.jpg"));
}
