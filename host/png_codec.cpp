#include "host/png_codec.h"

#include <png.h>

#include <cerrno>
#include <cstring>

// libpng reports errors through these functions, which keep the message and
// jump back to the setjmp of the call that failed. Every function below that
// sets a jump point holds no object with a destructor, so the jump skips none.
struct PngErrorText {
    char text[256];
};

static void PngFail(png_structp png, png_const_charp message) {
    PngErrorText *error = static_cast<PngErrorText *>(png_get_error_ptr(png));
    snprintf(error->text, sizeof error->text, "%s", message);
    png_longjmp(png, 1);
}

static void PngIgnoreWarning(png_structp, png_const_charp) {}

struct PngDecoder {
    FILE *file;
    png_structp png;
    png_infop info;
    png_infop endInfo;
    PngErrorText error;
    bool animated;  // an acTL chunk came before the image data
};

struct PngEncoder {
    FILE *file;
    png_structp png;
    png_infop info;
    PngErrorText error;
    char writeError[128];
};

static bool HostIsLittleEndian(void) { return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__; }

static void ReadPngData(png_structp png, png_bytep data, size_t length) {
    FILE *file = static_cast<FILE *>(png_get_io_ptr(png));
    if (fread(data, 1, length, file) == length) return;
    png_error(png, ferror(file) ? "cannot read the file" : "the file ends too soon (truncated)");
}

static void WritePngData(png_structp png, png_bytep data, size_t length) {
    PngEncoder *encoder = static_cast<PngEncoder *>(png_get_io_ptr(png));
    if (fwrite(data, 1, length, encoder->file) == length) return;
    snprintf(encoder->writeError, sizeof encoder->writeError, "%s", strerror(errno));
    png_error(png, encoder->writeError);
}

// Write errors show when the file is closed.
static void FlushPngData(png_structp) {}

// libpng knows no animation chunks; noting acTL tells an APNG from a still.
// Returning 0 leaves the chunk to libpng, which skips it.
static int NoteUnknownChunk(png_structp png, png_unknown_chunkp chunk) {
    PngDecoder *decoder = static_cast<PngDecoder *>(png_get_user_chunk_ptr(png));
    if (memcmp(chunk->name, "acTL", 4) == 0) decoder->animated = true;
    return 0;
}

static ColourModel ModelOfColourType(int colourType) {
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return MODEL_GRAY_ALPHA;
    case PNG_COLOR_TYPE_RGB: return MODEL_RGB;
    case PNG_COLOR_TYPE_RGB_ALPHA: return MODEL_RGBA;
    case PNG_COLOR_TYPE_PALETTE: return MODEL_PALETTE;
    default: return MODEL_GRAY;
    }
}

static int ColourTypeOfModel(ColourModel model) {
    switch (model) {
    case MODEL_GRAY_ALPHA: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case MODEL_RGB: return PNG_COLOR_TYPE_RGB;
    case MODEL_RGBA: return PNG_COLOR_TYPE_RGB_ALPHA;
    case MODEL_PALETTE: return PNG_COLOR_TYPE_PALETTE;
    default: return PNG_COLOR_TYPE_GRAY;
    }
}

// The palette, its transparency, or the colour key of gray and RGB images.
static void ReadPaletteAndKey(png_structp png, png_infop info, PixelFormat &format) {
    png_colorp palette = nullptr;
    int entries = 0;
    if (format.model == MODEL_PALETTE && png_get_PLTE(png, info, &palette, &entries)) {
        format.paletteSize = entries;
        for (int i = 0; i < entries; i++)
            format.palette[i] = {palette[i].red, palette[i].green, palette[i].blue, 255};
    }
    png_bytep alphas = nullptr;
    int transparent = 0;
    png_color_16p key = nullptr;
    if (!png_get_tRNS(png, info, &alphas, &transparent, &key)) return;
    if (format.model == MODEL_PALETTE) {
        for (int i = 0; i < transparent && i < 256; i++) format.palette[i].alpha = alphas[i];
    } else if (format.model == MODEL_GRAY && key != nullptr) {
        format.keyed = true;
        format.key[0] = format.key[1] = format.key[2] = key->gray;
    } else if (format.model == MODEL_RGB && key != nullptr) {
        format.keyed = true;
        format.key[0] = key->red;
        format.key[1] = key->green;
        format.key[2] = key->blue;
    }
}

static bool ReadPngHeader(PngDecoder *decoder, PngHeader *header, std::string *error) {
    png_structp png = decoder->png;
    png_infop info = decoder->info;
    if (setjmp(png_jmpbuf(png))) {
        *error = decoder->error.text;
        return false;
    }
    png_set_read_fn(png, decoder->file, ReadPngData);
    png_set_read_user_chunk_fn(png, decoder, NoteUnknownChunk);
    png_read_info(png, info);
    header->animated = decoder->animated;
    int depth = png_get_bit_depth(png, info);
    header->width = static_cast<int>(png_get_image_width(png, info));
    header->height = static_cast<int>(png_get_image_height(png, info));
    header->format = MakePixelFormat(ModelOfColourType(png_get_color_type(png, info)), depth);
    ReadPaletteAndKey(png, info, header->format);
    header->interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    if (depth < 8) png_set_packing(png);
    if (depth == 16 && HostIsLittleEndian()) png_set_swap(png);
    header->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

PngDecoder *OpenPngDecoder(FILE *file, PngHeader *header, std::string *error) {
    PngDecoder *decoder = new PngDecoder();
    decoder->file = file;
    decoder->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &decoder->error, PngFail, PngIgnoreWarning);
    if (decoder->png != nullptr) {
        decoder->info = png_create_info_struct(decoder->png);
        decoder->endInfo = png_create_info_struct(decoder->png);
    }
    if (decoder->info == nullptr || decoder->endInfo == nullptr) {
        *error = "out of memory";
        ClosePngDecoder(decoder);
        return nullptr;
    }
    if (!ReadPngHeader(decoder, header, error)) {
        ClosePngDecoder(decoder);
        return nullptr;
    }
    return decoder;
}

bool ReadPngRow(PngDecoder *decoder, unsigned char *raw, std::string *error) {
    if (setjmp(png_jmpbuf(decoder->png))) {
        *error = decoder->error.text;
        return false;
    }
    png_read_row(decoder->png, raw, nullptr);
    return true;
}

static void CollectTexts(png_structp png, png_infop info, PngMetadata *metadata) {
    png_textp texts = nullptr;
    int count = png_get_text(png, info, &texts, nullptr);
    for (int i = 0; i < count; i++) {
        const png_text &t = texts[i];
        metadata->texts.push_back({t.compression, t.key ? t.key : "", t.text ? std::string(t.text, t.text_length) : "",
                                   t.lang ? t.lang : "", t.lang_key ? t.lang_key : ""});
    }
}

static void CollectPngMetadata(png_structp png, png_infop info, png_infop endInfo, PngMetadata *metadata) {
    png_fixed_point gamma = 0;
    metadata->hasGamma = png_get_gAMA_fixed(png, info, &gamma) != 0;
    metadata->gamma = gamma;
    png_fixed_point *c = metadata->chromaticities;
    metadata->hasChromaticities = png_get_cHRM_fixed(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6],
                                                     &c[7]) != 0;
    metadata->hasSrgb = png_get_sRGB(png, info, &metadata->srgbIntent) != 0;
    png_charp name = nullptr;
    png_bytep profile = nullptr;
    png_uint_32 profileBytes = 0;
    int compression = 0;
    metadata->hasIcc = png_get_iCCP(png, info, &name, &compression, &profile, &profileBytes) != 0;
    if (metadata->hasIcc) {
        metadata->iccName = name;
        metadata->iccProfile.assign(reinterpret_cast<const char *>(profile), profileBytes);
    }
    png_uint_32 x = 0, y = 0;
    metadata->hasPhysical = png_get_pHYs(png, info, &x, &y, &metadata->physicalUnit) != 0;
    metadata->pixelsPerUnitX = x;
    metadata->pixelsPerUnitY = y;
    CollectTexts(png, info, metadata);
    CollectTexts(png, endInfo, metadata);
}

static bool ReadPngEnd(PngDecoder *decoder, std::string *error) {
    if (setjmp(png_jmpbuf(decoder->png))) {
        *error = decoder->error.text;
        return false;
    }
    png_read_end(decoder->png, decoder->endInfo);
    return true;
}

bool FinishPngDecoding(PngDecoder *decoder, PngMetadata *metadata, std::string *error) {
    if (!ReadPngEnd(decoder, error)) return false;
    *metadata = PngMetadata();
    CollectPngMetadata(decoder->png, decoder->info, decoder->endInfo, metadata);
    return true;
}

void ClosePngDecoder(PngDecoder *decoder) {
    if (decoder == nullptr) return;
    png_destroy_read_struct(&decoder->png, &decoder->info, &decoder->endInfo);
    delete decoder;
}

// An ICC profile names the colour space it is for (bytes 16 to 19): a gray
// profile does not belong to a colour image, nor a colour one to a gray image.
static bool ProfileFitsModel(const std::string &profile, ColourModel model) {
    if (profile.size() < 20) return false;
    bool grayProfile = profile.compare(16, 4, "GRAY") == 0;
    bool grayImage = model == MODEL_GRAY || model == MODEL_GRAY_ALPHA;
    return grayProfile == grayImage;
}

static void SetPaletteAndKey(png_structp png, png_infop info, const PixelFormat &format) {
    if (format.model == MODEL_PALETTE) {
        png_color palette[256] = {};
        png_byte alphas[256] = {};
        int transparent = 0;
        for (int i = 0; i < format.paletteSize; i++) {
            const PaletteEntry &entry = format.palette[i];
            palette[i] = {entry.red, entry.green, entry.blue};
            alphas[i] = entry.alpha;
            if (entry.alpha != 255) transparent = i + 1;
        }
        png_set_PLTE(png, info, palette, format.paletteSize);
        if (transparent > 0) png_set_tRNS(png, info, alphas, transparent, nullptr);
        return;
    }
    if (!format.keyed) return;
    png_color_16 key = {};
    key.gray = format.key[0];
    key.red = format.key[0];
    key.green = format.key[1];
    key.blue = format.key[2];
    png_set_tRNS(png, info, nullptr, 0, &key);
}

static void SetPngMetadata(png_structp png, png_infop info, const PngHeader &header, const PngMetadata &metadata,
                           png_textp texts, int textCount) {
    if (metadata.hasGamma) png_set_gAMA_fixed(png, info, metadata.gamma);
    const int32_t *c = metadata.chromaticities;
    if (metadata.hasChromaticities) png_set_cHRM_fixed(png, info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    if (metadata.hasSrgb) png_set_sRGB(png, info, metadata.srgbIntent);
    if (metadata.hasIcc && ProfileFitsModel(metadata.iccProfile, header.format.model))
        png_set_iCCP(png, info, metadata.iccName.c_str(), 0,
                     reinterpret_cast<png_const_bytep>(metadata.iccProfile.data()),
                     static_cast<png_uint_32>(metadata.iccProfile.size()));
    if (metadata.hasPhysical)
        png_set_pHYs(png, info, metadata.pixelsPerUnitX, metadata.pixelsPerUnitY, metadata.physicalUnit);
    if (textCount > 0) png_set_text(png, info, texts, textCount);
}

static bool WritePngHeader(PngEncoder *encoder, const PngHeader &header, const PngMetadata &metadata,
                           png_textp texts, int textCount, std::string *error) {
    png_structp png = encoder->png;
    png_infop info = encoder->info;
    if (setjmp(png_jmpbuf(png))) {
        *error = encoder->error.text;
        return false;
    }
    // A chunk that libpng finds doubtful (say an odd ICC profile) is left
    // out with a warning rather than failing the image.
    png_set_benign_errors(png, 1);
    png_set_write_fn(png, encoder, WritePngData, FlushPngData);
    const PixelFormat &format = header.format;
    png_set_IHDR(png, info, header.width, header.height, format.depth, ColourTypeOfModel(format.model),
                 header.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    SetPaletteAndKey(png, info, format);
    SetPngMetadata(png, info, header, metadata, texts, textCount);
    png_write_info(png, info);
    if (format.depth < 8) png_set_packing(png);
    if (format.depth == 16 && HostIsLittleEndian()) png_set_swap(png);
    if (header.interlaced) png_set_interlace_handling(png);
    return true;
}

static std::vector<png_text> TextChunks(const PngMetadata &metadata) {
    std::vector<png_text> texts;
    for (const PngText &t : metadata.texts) {
        png_text text = {};
        text.compression = t.compression;
        text.key = const_cast<char *>(t.key.c_str());
        text.text = const_cast<char *>(t.text.c_str());
        text.text_length = t.text.size();
        text.lang = const_cast<char *>(t.language.c_str());
        text.lang_key = const_cast<char *>(t.translatedKey.c_str());
        texts.push_back(text);
    }
    return texts;
}

PngEncoder *OpenPngEncoder(FILE *file, const PngHeader &header, const PngMetadata &metadata, std::string *error) {
    PngEncoder *encoder = new PngEncoder();
    encoder->file = file;
    encoder->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &encoder->error, PngFail, PngIgnoreWarning);
    if (encoder->png != nullptr) encoder->info = png_create_info_struct(encoder->png);
    if (encoder->info == nullptr) {
        *error = "out of memory";
        ClosePngEncoder(encoder);
        return nullptr;
    }
    std::vector<png_text> texts = TextChunks(metadata);
    if (!WritePngHeader(encoder, header, metadata, texts.data(), static_cast<int>(texts.size()), error)) {
        ClosePngEncoder(encoder);
        return nullptr;
    }
    return encoder;
}

bool WritePngRow(PngEncoder *encoder, const unsigned char *raw, std::string *error) {
    if (setjmp(png_jmpbuf(encoder->png))) {
        *error = encoder->error.text;
        return false;
    }
    png_write_row(encoder->png, raw);
    return true;
}

bool FinishPngEncoding(PngEncoder *encoder, std::string *error) {
    if (setjmp(png_jmpbuf(encoder->png))) {
        *error = encoder->error.text;
        return false;
    }
    png_write_end(encoder->png, nullptr);
    return true;
}

void ClosePngEncoder(PngEncoder *encoder) {
    if (encoder == nullptr) return;
    png_destroy_write_struct(&encoder->png, &encoder->info);
    delete encoder;
}
