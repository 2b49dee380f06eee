// How libpng's encoder settings trade time for size on given pictures: each
// picture is read whole (as 8-bit RGB or RGBA), then written to memory with
// each setting of the table several times. Prints the median time and the
// size for each setting and picture.
//
//   png_settings [--repetitions N] picture.png ...
//
// roundcorners writes with the first setting, libpng's default; the others
// are what a faster encoder could use instead, at the price in size shown.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

struct Setting {
    const char *name;
    int filters;   // PNG_FILTER_* flags; -1 for libpng's default choice
    int strategy;  // zlib's; -1 for libpng's default (Z_FILTERED when rows are filtered)
    int level;     // zlib's
};

static const Setting kSettings[] = {
    {"adaptive filters, level 6 (libpng's default; roundcorners)", -1, -1, 6},
    {"no filter, level 6 (libvips' default)", PNG_FILTER_NONE, -1, 6},
    {"adaptive filters, level 6, run-length strategy", -1, Z_RLE, 6},
    {"adaptive filters, level 6, Huffman only", -1, Z_HUFFMAN_ONLY, 6},
    {"adaptive filters, level 3", -1, -1, 3},
    {"adaptive filters, level 2", -1, -1, 2},
    {"adaptive filters, level 1", -1, -1, 1},
};

struct Picture {
    std::string path;
    int width = 0, height = 0, colourType = 0;
    size_t rowBytes = 0;
    std::vector<unsigned char> pixels;  // rows top to bottom, 8-bit samples
};

static bool ReadPicture(const std::string &path, Picture *picture) {
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    picture->path = path;
    picture->width = static_cast<int>(png_get_image_width(png, info));
    picture->height = static_cast<int>(png_get_image_height(png, info));
    picture->colourType = png_get_color_type(png, info);
    picture->rowBytes = png_get_rowbytes(png, info);
    picture->pixels.resize(picture->rowBytes * picture->height);
    std::vector<png_bytep> rows(picture->height);
    for (int y = 0; y < picture->height; y++) rows[y] = picture->pixels.data() + picture->rowBytes * y;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(file);
    return true;
}

static void CountBytes(png_structp png, png_bytep, size_t length) {
    *static_cast<size_t *>(png_get_io_ptr(png)) += length;
}

static void NoFlush(png_structp) {}

// Bytes of the PNG file the setting gives; *seconds, the time it took.
static size_t Encode(const Picture &picture, const Setting &setting, double *seconds) {
    auto start = std::chrono::steady_clock::now();
    size_t bytes = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return 0;
    }
    png_set_write_fn(png, &bytes, CountBytes, NoFlush);
    png_set_IHDR(png, info, picture.width, picture.height, 8, picture.colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (setting.filters >= 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, setting.filters);
    if (setting.strategy >= 0) png_set_compression_strategy(png, setting.strategy);
    png_set_compression_level(png, setting.level);
    png_write_info(png, info);
    for (int y = 0; y < picture.height; y++) png_write_row(png, picture.pixels.data() + picture.rowBytes * y);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return bytes;
}

static double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int main(int argc, char **argv) {
    int repetitions = 3;
    std::vector<Picture> pictures;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--repetitions") == 0 && i + 1 < argc) {
            repetitions = std::max(1, atoi(argv[++i]));
            continue;
        }
        Picture picture;
        if (!ReadPicture(argv[i], &picture)) {
            fprintf(stderr, "png_settings: cannot read %s as PNG\n", argv[i]);
            return 1;
        }
        pictures.push_back(std::move(picture));
    }
    if (pictures.empty()) {
        fprintf(stderr, "usage: png_settings [--repetitions N] picture.png ...\n");
        return 2;
    }
    printf("| setting |");
    for (const Picture &p : pictures) {
        const char *name = strrchr(p.path.c_str(), '/');
        printf(" %s (%d×%d): s | kB | size / default |", name ? name + 1 : p.path.c_str(), p.width, p.height);
    }
    printf("\n| --- |");
    for (size_t i = 0; i < pictures.size(); i++) printf(" --- | --- | --- |");
    printf("\n");
    std::vector<size_t> defaults(pictures.size());
    for (const Setting &setting : kSettings) {
        printf("| %s |", setting.name);
        for (size_t i = 0; i < pictures.size(); i++) {
            std::vector<double> times;
            size_t bytes = 0;
            for (int r = 0; r < repetitions; r++) {
                double seconds = 0;
                bytes = Encode(pictures[i], setting, &seconds);
                times.push_back(seconds);
            }
            if (&setting == &kSettings[0]) defaults[i] = bytes;
            printf(" %.3f | %.0f | %.2f |", Median(times), bytes / 1e3, static_cast<double>(bytes) / defaults[i]);
        }
        printf("\n");
        fflush(stdout);
    }
    printf("Median of %d encodings to memory, one thread.\n", repetitions);
    return 0;
}
