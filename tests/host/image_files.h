// Image files for the command-line host's tests, written and read with libpng
// and libjpeg directly (not through the host's own codecs), and the command
// run in-process with its output captured.
#pragma once

#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "host/roundcorners.h"
#include "tests/common/memory_host.h"

// A PNG as stored: samples unscaled, channels per pixel as the colour type has.
struct PngImage {
    int width = 0, height = 0;
    int colourType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<unsigned> samples;  // row after row
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;  // tRNS of a palette image
    bool hasKey = false;                 // tRNS of a gray or RGB image
    png_color_16 key = {};
};

inline int PngChannels(int colourType) {
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
    }
}

inline unsigned &SampleAt(PngImage &image, int x, int y, int channel) {
    return image.samples[(static_cast<size_t>(y) * image.width + x) * PngChannels(image.colourType) + channel];
}
inline unsigned SampleAt(const PngImage &image, int x, int y, int channel) {
    return image.samples[(static_cast<size_t>(y) * image.width + x) * PngChannels(image.colourType) + channel];
}

// Row bytes as libpng takes them with packing on: one byte per sample below 16
// bits, two big-endian bytes at 16.
inline std::vector<png_byte> PackRow(const PngImage &image, int y) {
    int perRow = image.width * PngChannels(image.colourType);
    std::vector<png_byte> row;
    for (int i = 0; i < perRow; i++) {
        unsigned v = image.samples[static_cast<size_t>(y) * perRow + i];
        if (image.bitDepth == 16) row.push_back(static_cast<png_byte>(v >> 8));
        row.push_back(static_cast<png_byte>(v & 0xFF));
    }
    return row;
}

inline bool WritePngRows(png_structp png, png_infop info, const PngImage &image,
                         std::vector<std::vector<png_byte>> &rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colourType,
                 image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!image.palette.empty())
        png_set_PLTE(png, info, image.palette.data(), static_cast<int>(image.palette.size()));
    if (!image.paletteAlpha.empty())
        png_set_tRNS(png, info, image.paletteAlpha.data(), static_cast<int>(image.paletteAlpha.size()), nullptr);
    if (image.hasKey) png_set_tRNS(png, info, nullptr, 0, &image.key);
    png_write_info(png, info);
    if (image.bitDepth < 8) png_set_packing(png);
    std::vector<png_bytep> pointers;
    for (auto &row : rows) pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    return true;
}

inline void WritePng(const std::string &path, const PngImage &image) {
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    std::vector<std::vector<png_byte>> rows;
    for (int y = 0; y < image.height; y++) rows.push_back(PackRow(image, y));
    bool written = WritePngRows(png, info, image, rows);
    png_destroy_write_struct(&png, &info);
    fclose(file);
    ASSERT_TRUE(written) << path;
}

inline bool ReadPngRows(png_structp png, png_infop info, PngImage &image, std::vector<std::vector<png_byte>> &rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    image.width = static_cast<int>(png_get_image_width(png, info));
    image.height = static_cast<int>(png_get_image_height(png, info));
    image.colourType = png_get_color_type(png, info);
    image.bitDepth = png_get_bit_depth(png, info);
    image.interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    png_colorp palette = nullptr;
    int entries = 0;
    if (png_get_PLTE(png, info, &palette, &entries)) image.palette.assign(palette, palette + entries);
    png_bytep alphas = nullptr;
    int transparent = 0;
    png_color_16p key = nullptr;
    if (png_get_tRNS(png, info, &alphas, &transparent, &key)) {
        if (image.colourType == PNG_COLOR_TYPE_PALETTE) image.paletteAlpha.assign(alphas, alphas + transparent);
        else {
            image.hasKey = true;
            image.key = *key;
        }
    }
    if (image.bitDepth < 8) png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    rows.assign(image.height, std::vector<png_byte>(png_get_rowbytes(png, info)));
    std::vector<png_bytep> pointers;
    for (auto &row : rows) pointers.push_back(row.data());
    png_read_image(png, pointers.data());
    png_read_end(png, nullptr);
    return true;
}

inline PngImage ReadPng(const std::string &path) {
    PngImage image;
    FILE *file = fopen(path.c_str(), "rb");
    EXPECT_NE(file, nullptr) << path;
    if (file == nullptr) return image;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    std::vector<std::vector<png_byte>> rows;
    bool read = ReadPngRows(png, info, image, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(file);
    EXPECT_TRUE(read) << path;
    if (!read) return PngImage();
    for (auto &row : rows) {
        size_t count = static_cast<size_t>(image.width) * PngChannels(image.colourType);
        for (size_t i = 0; i < count; i++)
            image.samples.push_back(image.bitDepth == 16 ? row[2 * i] << 8 | row[2 * i + 1] : row[i]);
    }
    return image;
}

// A pixel as fractions of full scale, so that images of different depths and
// colour types compare exactly (k / 15 and 17k / 255 are the same double).
struct Colour {
    double red, green, blue, alpha;
};

inline bool operator==(const Colour &a, const Colour &b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

inline std::ostream &operator<<(std::ostream &out, const Colour &c) {
    return out << "(" << c.red * 255 << ", " << c.green * 255 << ", " << c.blue * 255 << " / " << c.alpha * 255
               << ")";
}

inline Colour ColourAt(const PngImage &image, int x, int y) {
    if (image.colourType == PNG_COLOR_TYPE_PALETTE) {
        unsigned index = SampleAt(image, x, y, 0);
        const png_color &entry = image.palette[index];
        double alpha = index < image.paletteAlpha.size() ? image.paletteAlpha[index] / 255.0 : 1.0;
        return {entry.red / 255.0, entry.green / 255.0, entry.blue / 255.0, alpha};
    }
    double full = (1u << image.bitDepth) - 1;
    unsigned s[4] = {};
    for (int c = 0; c < PngChannels(image.colourType); c++) s[c] = SampleAt(image, x, y, c);
    bool gray = image.colourType == PNG_COLOR_TYPE_GRAY || image.colourType == PNG_COLOR_TYPE_GRAY_ALPHA;
    unsigned red = s[0], green = gray ? s[0] : s[1], blue = gray ? s[0] : s[2];
    double alpha = 1.0;
    if (image.colourType == PNG_COLOR_TYPE_GRAY_ALPHA) alpha = s[1] / full;
    if (image.colourType == PNG_COLOR_TYPE_RGB_ALPHA) alpha = s[3] / full;
    if (image.hasKey && (gray ? red == image.key.gray
                              : red == image.key.red && green == image.key.green && blue == image.key.blue))
        alpha = 0.0;
    return {red / full, green / full, blue / full, alpha};
}

inline unsigned char To8Bits(double fraction) { return static_cast<unsigned char>(std::lround(fraction * 255)); }

// The image as a host lends it to the plug-in: blue, green, red, 8 bits.
inline Image BgrOf(const PngImage &png) {
    Image image = BlankImage(png.width, png.height);
    for (int y = 0; y < png.height; y++)
        for (int x = 0; x < png.width; x++) {
            Colour c = ColourAt(png, x, y);
            unsigned char *p = image.Pixel(x, y);
            p[0] = To8Bits(c.blue);
            p[1] = To8Bits(c.green);
            p[2] = To8Bits(c.red);
        }
    return image;
}

inline Colour ColourOf(const Image &image, int x, int y, double alpha) {
    const unsigned char *p = image.Pixel(x, y);
    return {p[2] / 255.0, p[1] / 255.0, p[0] / 255.0, alpha};
}

// A JPEG as decoded: 8-bit samples, components per pixel.
struct JpegImage {
    int width = 0, height = 0, components = 3;
    std::vector<unsigned char> samples;
    std::vector<std::pair<int, std::string>> markers;  // APPn and COM, in file order
};

struct TestJpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

inline void TestJpegFail(j_common_ptr common) { longjmp(reinterpret_cast<TestJpegError *>(common->err)->jump, 1); }

// components 1 (gray), 3 (RGB; chroma sampled 2 x 2 when subsampled) or 4 (CMYK).
inline bool CompressJpeg(jpeg_compress_struct &info, TestJpegError &error, const JpegImage &image, int quality,
                         bool subsampled, bool progressive) {
    if (setjmp(error.jump)) return false;
    info.image_width = image.width;
    info.image_height = image.height;
    info.input_components = image.components;
    info.in_color_space = image.components == 1 ? JCS_GRAYSCALE : image.components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    for (int c = 0; c < info.num_components; c++)
        info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = c == 0 && subsampled ? 2 : 1;
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    for (const auto &marker : image.markers)
        jpeg_write_marker(&info, marker.first, reinterpret_cast<const JOCTET *>(marker.second.data()),
                          static_cast<unsigned>(marker.second.size()));
    for (int y = 0; y < image.height; y++) {
        JSAMPROW row = const_cast<unsigned char *>(&image.samples[static_cast<size_t>(y) * image.width *
                                                                  image.components]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

inline void WriteJpeg(const std::string &path, const JpegImage &image, int quality, bool subsampled,
                      bool progressive = false) {
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    jpeg_compress_struct info;
    TestJpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = TestJpegFail;
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    bool written = CompressJpeg(info, error, image, quality, subsampled, progressive);
    jpeg_destroy_compress(&info);
    fclose(file);
    ASSERT_TRUE(written) << path;
}

inline bool DecompressJpeg(jpeg_decompress_struct &info, TestJpegError &error, JpegImage &image) {
    if (setjmp(error.jump)) return false;
    jpeg_save_markers(&info, JPEG_COM, 0xFFFF);
    for (int n = 0; n < 16; n++) jpeg_save_markers(&info, JPEG_APP0 + n, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next)
        image.markers.push_back({m->marker, std::string(reinterpret_cast<const char *>(m->data), m->data_length)});
    jpeg_start_decompress(&info);
    image.width = info.output_width;
    image.height = info.output_height;
    image.components = info.output_components;
    image.samples.resize(static_cast<size_t>(image.width) * image.height * image.components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &image.samples[static_cast<size_t>(info.output_scanline) * image.width * image.components];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

inline JpegImage ReadJpeg(const std::string &path) {
    JpegImage image;
    FILE *file = fopen(path.c_str(), "rb");
    EXPECT_NE(file, nullptr) << path;
    if (file == nullptr) return image;
    jpeg_decompress_struct info;
    TestJpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = TestJpegFail;
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    bool read = DecompressJpeg(info, error, image);
    jpeg_destroy_decompress(&info);
    fclose(file);
    EXPECT_TRUE(read) << path;
    return image;
}

inline Image BgrOf(const JpegImage &jpeg) {
    Image image = BlankImage(jpeg.width, jpeg.height);
    for (int y = 0; y < jpeg.height; y++)
        for (int x = 0; x < jpeg.width; x++) {
            const unsigned char *s = &jpeg.samples[(static_cast<size_t>(y) * jpeg.width + x) * jpeg.components];
            unsigned char *p = image.Pixel(x, y);
            p[0] = s[jpeg.components == 1 ? 0 : 2];
            p[1] = s[jpeg.components == 1 ? 0 : 1];
            p[2] = s[0];
        }
    return image;
}

// The file's bytes; "" for a missing file or one that is no regular file.
inline std::string ReadBytes(const std::string &path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return "";
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline bool FileExists(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

struct CommandResult {
    int status;
    std::string out, err;
};

inline std::string ReadAll(FILE *file) {
    std::string text;
    rewind(file);
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    fclose(file);
    return text;
}

// roundcorners with these arguments, in-process.
inline CommandResult RunRoundCorners(const std::vector<std::string> &arguments) {
    std::vector<const char *> argv = {"roundcorners"};
    for (const std::string &argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    FILE *out = tmpfile();
    FILE *err = tmpfile();
    CommandResult result;
    result.status = RoundCornersMain(static_cast<int>(argv.size()) - 1, argv.data(), out, err);
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    return result;
}
