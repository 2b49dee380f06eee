// Every kind of PNG through roundcorners: the pixels the plug-in changes take
// its result (checked against the in-memory test host running FilterProc on
// the same rows), every other pixel keeps its exact samples, alpha stays, and
// the output keeps the input's colour type and depth wherever they can hold
// the result.
#include "plugin/host_interface.h"
#include "tests/host/image_files.h"
#include "tests/native/test_dir.h"

static const int kWidth = 23, kHeight = 17, kRadius = 6;

struct PngCase {
    const char *name;
    int colourType, bitDepth;
    int paletteSize;          // palette images
    bool transparency;        // a tRNS chunk: colour key, or palette alphas
    uint32_t keyColour;       // 0xRRGGBB of the key (8-bit; times 257 at 16 bits)
    bool interlaced;
    uint32_t background;      // 0x00BBGGRR, as the settings hold it
    int smooth;
    int outColourType, outBitDepth;
    bool outKey;
};

static void PrintTo(const PngCase &c, std::ostream *out) { *out << c.name; }

static const int G = PNG_COLOR_TYPE_GRAY, GA = PNG_COLOR_TYPE_GRAY_ALPHA, RGB = PNG_COLOR_TYPE_RGB,
                 RGBA = PNG_COLOR_TYPE_RGB_ALPHA, PAL = PNG_COLOR_TYPE_PALETTE;

// The cases with smoothing off are those whose output format depends on the
// changed pixels being exactly the background colour.
static const PngCase kCases[] = {
    {"gray1_black_stays_1_bit", G, 1, 0, false, 0, false, 0x000000, 0, G, 1, false},
    {"gray1_mid_gray_needs_8_bits", G, 1, 0, false, 0, false, 0x808080, 0, G, 8, false},
    {"gray2_exact_gray_stays_2_bits", G, 2, 0, false, 0, false, 0x555555, 0, G, 2, false},
    {"gray4_red_becomes_rgb8", G, 4, 0, false, 0, false, 0x0000FF, 1, RGB, 8, false},
    {"gray8_gray_stays_gray", G, 8, 0, false, 0, false, 0x404040, 1, G, 8, false},
    {"gray16_white_stays_gray16", G, 16, 0, false, 0, false, 0xFFFFFF, 1, G, 16, false},
    {"gray16_red_becomes_rgb16", G, 16, 0, false, 0, false, 0x0000FF, 1, RGB, 16, false},
    {"gray8_key_kept", G, 8, 0, true, 0xC8C8C8, false, 0x000000, 0, G, 8, true},
    {"gray8_background_on_key_gets_alpha", G, 8, 0, true, 0xC8C8C8, false, 0xC8C8C8, 0, GA, 8, false},
    {"gray_alpha8_blue_becomes_rgba8", GA, 8, 0, false, 0, false, 0xFF0000, 1, RGBA, 8, false},
    {"gray_alpha16_gray_stays", GA, 16, 0, false, 0, false, 0x202020, 1, GA, 16, false},
    {"rgb8", RGB, 8, 0, false, 0, false, 0x336699, 1, RGB, 8, false},
    {"rgb16", RGB, 16, 0, false, 0, false, 0x336699, 1, RGB, 16, false},
    {"rgb8_key_kept", RGB, 8, 0, true, 0x03FE01, false, 0xFFFFFF, 1, RGB, 8, true},
    {"rgb16_background_on_key_gets_alpha", RGB, 16, 0, true, 0x336699, false, 0x996633, 0, RGBA, 16, false},
    {"rgba8", RGBA, 8, 0, false, 0, false, 0x00FF00, 1, RGBA, 8, false},
    {"rgba16", RGBA, 16, 0, false, 0, false, 0x00FF00, 1, RGBA, 16, false},
    {"palette1_grows_to_2_bits", PAL, 1, 2, false, 0, false, 0x563412, 0, PAL, 2, false},
    {"palette2_existing_colour", PAL, 2, 4, false, 0, false, 0x24AB43, 0, PAL, 2, false},  // entry 1
    {"palette4_alpha_grows_to_8_bits", PAL, 4, 16, true, 0, false, 0x563412, 0, PAL, 8, false},
    {"palette8_full_becomes_rgb", PAL, 8, 256, false, 0, false, 0x563412, 1, RGB, 8, false},
    {"palette8_full_alpha_becomes_rgba", PAL, 8, 256, true, 0, false, 0x563412, 1, RGBA, 8, false},
    {"interlaced_rgb8", RGB, 8, 0, false, 0, true, 0x000000, 1, RGB, 8, false},
    {"interlaced_gray_alpha8", GA, 8, 0, false, 0, true, 0x808080, 1, GA, 8, false},
};

// Entry i of a fixture palette; the reds alone are all different.
static png_color FixturePaletteEntry(int i) {
    return {static_cast<png_byte>(i * 67), static_cast<png_byte>(i * 131 + 40), static_cast<png_byte>(i * 29 + 7)};
}

// 16-bit samples lie near v * 257 but not on it, so that they round to a
// clear 8-bit value and an unchanged pixel shows whether its exact samples
// were kept.
static unsigned FixtureSample(int depth, int x, int y, int channel) {
    unsigned value8 = (x * 37 + y * 91 + channel * 53) & 0xFF;
    if (depth < 16) return (x * 37 + y * 91 + channel * 53) % (1u << depth);
    int jitter = (x * 7 + y * 3 + channel) % 201 - 100;
    int value = static_cast<int>(value8 * 257) + jitter;
    return static_cast<unsigned>(value < 0 ? 0 : value > 65535 ? 65535 : value);
}

static unsigned AtDepth(unsigned value8, int depth) { return depth == 16 ? value8 * 257 : value8; }

// Key-coloured pixels in two corners, where the plug-in paints, and one in
// the middle, where it does not.
static void PlaceKey(PngImage &image, const PngCase &c) {
    unsigned red = AtDepth(c.keyColour >> 16 & 0xFF, c.bitDepth), green = AtDepth(c.keyColour >> 8 & 0xFF, c.bitDepth),
             blue = AtDepth(c.keyColour & 0xFF, c.bitDepth);
    image.hasKey = true;
    image.key.gray = static_cast<png_uint_16>(red);
    image.key.red = static_cast<png_uint_16>(red);
    image.key.green = static_cast<png_uint_16>(green);
    image.key.blue = static_cast<png_uint_16>(blue);
    int spots[][2] = {{0, 0}, {1, 0}, {0, 1}, {kWidth - 1, kHeight - 1}, {kWidth / 2, kHeight / 2}};
    for (auto &spot : spots) {
        SampleAt(image, spot[0], spot[1], 0) = red;
        if (c.colourType == RGB) {
            SampleAt(image, spot[0], spot[1], 1) = green;
            SampleAt(image, spot[0], spot[1], 2) = blue;
        }
    }
}

static PngImage MakeFixture(const PngCase &c) {
    PngImage image;
    image.width = kWidth;
    image.height = kHeight;
    image.colourType = c.colourType;
    image.bitDepth = c.bitDepth;
    image.interlaced = c.interlaced;
    for (int i = 0; i < c.paletteSize; i++) {
        image.palette.push_back(FixturePaletteEntry(i));
        if (c.transparency) image.paletteAlpha.push_back(static_cast<png_byte>(i * 53));
    }
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++)
            for (int ch = 0; ch < PngChannels(c.colourType); ch++)
                image.samples.push_back(c.colourType == PAL ? (x * 5 + y * 3) % c.paletteSize
                                                            : FixtureSample(c.bitDepth, x, y, ch));
    if (c.transparency && c.colourType != PAL) PlaceKey(image, c);
    return image;
}

static bool KeyTransparent(const PngImage &image, int x, int y) {
    return image.hasKey && ColourAt(image, x, y).alpha == 0.0;
}

// "" when every pixel is as it should be; otherwise the first that is not.
static std::string FirstWrongPixel(const PngImage &input, const Image &before, const Image &after,
                                   const PngImage &output, int *changed) {
    *changed = 0;
    for (int y = 0; y < input.height; y++)
        for (int x = 0; x < input.width; x++) {
            Colour in = ColourAt(input, x, y);
            Colour expected = in;
            bool painted = memcmp(before.Pixel(x, y), after.Pixel(x, y), 3) != 0;
            *changed += painted;
            // A key-transparent pixel stays the key while the output keeps it.
            if (painted && !(KeyTransparent(input, x, y) && output.hasKey)) expected = ColourOf(after, x, y, in.alpha);
            Colour got = ColourAt(output, x, y);
            if (got == expected) continue;
            std::ostringstream note;
            note << "row " << y << ", column " << x << (painted ? " (painted)" : "") << ": expected " << expected
                 << ", got " << got;
            return note.str();
        }
    return "";
}

class PngOutputTest : public SettingsDirTest, public ::testing::WithParamInterface<PngCase> {};

TEST_P(PngOutputTest, ChangedPixelsTakeThePlugInResultAndTheOthersKeepTheirSamples) {
    const PngCase &c = GetParam();
    PngImage input = MakeFixture(c);
    WritePng(dir + "in.png", input);
    std::string inputBytes = ReadBytes(dir + "in.png");
    WriteSettings(SettingsWith(kRadius, c.smooth, c.background));
    MemoryHost host;
    host.image = BgrOf(input);
    Image before = host.image;
    ASSERT_EQ(RunFilterOn(FilterProc, host, reinterpret_cast<HWND>(1), dir), 1);

    CommandResult run = RunRoundCorners({dir + "in.png", "-o", dir + "out.png", "--settings-dir", dir});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    PngImage output = ReadPng(dir + "out.png");
    EXPECT_EQ(output.colourType, c.outColourType);
    EXPECT_EQ(output.bitDepth, c.outBitDepth);
    EXPECT_EQ(output.hasKey, c.outKey);
    EXPECT_EQ(output.interlaced, c.interlaced);
    int changed = 0;
    EXPECT_EQ(FirstWrongPixel(input, before, host.image, output, &changed), "");
    EXPECT_GT(changed, 0);
    EXPECT_EQ(ReadBytes(dir + "in.png"), inputBytes);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngOutputTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PngCase> &info) { return info.param.name; });

// The fixture's new background colours must really be new to the palette.
TEST(PngFixtureTest, TheNewBackgroundIsNotInTheFullPalette) {
    for (int i = 0; i < 256; i++) {
        png_color entry = FixturePaletteEntry(i);
        EXPECT_FALSE(entry.red == 0x12 && entry.green == 0x34 && entry.blue == 0x56) << i;
    }
}
