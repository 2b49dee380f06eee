#include "host/image_codec.h"

#include <cerrno>
#include <cstring>

static const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
static const unsigned char kJpegStart[3] = {0xFF, 0xD8, 0xFF};

// The kind from the first bytes; false when they are neither PNG nor JPEG.
static bool SniffKind(FILE *file, ImageKind *kind) {
    unsigned char start[8] = {};
    size_t got = fread(start, 1, sizeof start, file);
    rewind(file);
    if (got >= sizeof kPngSignature && memcmp(start, kPngSignature, sizeof kPngSignature) == 0) {
        *kind = IMAGE_PNG;
        return true;
    }
    if (got >= sizeof kJpegStart && memcmp(start, kJpegStart, sizeof kJpegStart) == 0) {
        *kind = IMAGE_JPEG;
        return true;
    }
    return false;
}

static bool Damaged(const ImageDecoder &decoder, std::string *error) {
    *error = (decoder.kind == IMAGE_PNG ? "damaged PNG: " : "damaged JPEG: ") + *error;
    return false;
}

static bool OpenPng(ImageDecoder &decoder, ImageInfo *info, std::string *error) {
    PngHeader header;
    decoder.png = OpenPngDecoder(decoder.file, &header, error);
    if (decoder.png == nullptr) return Damaged(decoder, error);
    if (header.animated) {
        *error = "animated PNG images are not supported (only the first frame would be kept)";
        return false;
    }
    info->width = header.width;
    info->height = header.height;
    info->format = header.format;
    info->interlaced = header.interlaced;
    info->passes = header.passes;
    return true;
}

static bool OpenJpeg(ImageDecoder &decoder, ImageInfo *info, std::string *error) {
    JpegHeader header;
    decoder.jpeg = OpenJpegDecoder(decoder.file, &header, &decoder.jpegMetadata, error);
    if (decoder.jpeg == nullptr) return Damaged(decoder, error);
    if (header.cmyk) {
        *error = "CMYK JPEG images are not supported";
        return false;
    }
    if (header.tooLarge) {
        *error = "the image is too large to hold in memory";
        return false;
    }
    info->width = header.width;
    info->height = header.height;
    info->format = header.format;
    info->interlaced = false;
    info->passes = 1;
    return true;
}

bool OpenImageDecoder(const std::string &path, ImageDecoder &decoder, ImageInfo *info, std::string *error) {
    decoder.file = fopen(path.c_str(), "rb");
    if (decoder.file == nullptr) {
        *error = strerror(errno);
        return false;
    }
    if (!SniffKind(decoder.file, &decoder.kind)) {
        *error = "not a PNG or JPEG image";
        CloseImageDecoder(decoder);
        return false;
    }
    info->kind = decoder.kind;
    bool opened = decoder.kind == IMAGE_PNG ? OpenPng(decoder, info, error) : OpenJpeg(decoder, info, error);
    if (!opened) CloseImageDecoder(decoder);
    return opened;
}

bool DecodeRow(ImageDecoder &decoder, unsigned char *raw, std::string *error) {
    bool read = decoder.kind == IMAGE_PNG ? ReadPngRow(decoder.png, raw, error)
                                          : ReadJpegRow(decoder.jpeg, raw, error);
    return read || Damaged(decoder, error);
}

bool SkipRows(ImageDecoder &decoder, int count, unsigned char *scratch, std::string *error) {
    if (decoder.kind == IMAGE_JPEG) return SkipJpegRows(decoder.jpeg, count, error) || Damaged(decoder, error);
    for (int i = 0; i < count; i++)
        if (!DecodeRow(decoder, scratch, error)) return false;
    return true;
}

bool FinishDecoding(ImageDecoder &decoder, ImageMetadata *metadata, std::string *error) {
    bool finished = decoder.kind == IMAGE_PNG ? FinishPngDecoding(decoder.png, &metadata->png, error)
                                              : FinishJpegDecoding(decoder.jpeg, error);
    if (!finished) return Damaged(decoder, error);
    if (decoder.kind == IMAGE_JPEG) metadata->jpeg = decoder.jpegMetadata;
    return true;
}

void CloseImageDecoder(ImageDecoder &decoder) {
    ClosePngDecoder(decoder.png);
    CloseJpegDecoder(decoder.jpeg);
    if (decoder.file != nullptr) fclose(decoder.file);
    decoder = ImageDecoder();
}

static bool CannotWrite(const ImageEncoder &encoder, std::string *error) {
    *error = "cannot write '" + encoder.name + "': " + *error;
    return false;
}

bool OpenImageEncoder(FILE *file, const std::string &name, const ImageInfo &info, const ImageMetadata &metadata,
                      int quality, ImageEncoder &encoder, std::string *error) {
    encoder.name = name;
    encoder.kind = info.kind;
    if (info.kind == IMAGE_JPEG) {
        JpegHeader header = {info.width, info.height, info.format, false, false};
        encoder.jpeg = OpenJpegEncoder(file, header, metadata.jpeg, quality, error);
        return encoder.jpeg != nullptr || CannotWrite(encoder, error);
    }
    PngHeader header = {info.width, info.height, info.format, info.interlaced, info.passes, false};
    encoder.png = OpenPngEncoder(file, header, metadata.png, error);
    return encoder.png != nullptr || CannotWrite(encoder, error);
}

bool EncodeRow(ImageEncoder &encoder, const unsigned char *raw, std::string *error) {
    bool written = encoder.kind == IMAGE_PNG ? WritePngRow(encoder.png, raw, error)
                                             : WriteJpegRow(encoder.jpeg, raw, error);
    return written || CannotWrite(encoder, error);
}

bool FinishEncoding(ImageEncoder &encoder, std::string *error) {
    bool finished = encoder.kind == IMAGE_PNG ? FinishPngEncoding(encoder.png, error)
                                              : FinishJpegEncoding(encoder.jpeg, error);
    return finished || CannotWrite(encoder, error);
}

void CloseImageEncoder(ImageEncoder &encoder) {
    ClosePngEncoder(encoder.png);
    CloseJpegEncoder(encoder.jpeg);
    encoder = ImageEncoder();
}
