// Image files as rows: a decoder and an encoder for each kind of file the
// command-line host reads, chosen by the file's first bytes, not its name.
#pragma once

#include <cstdio>
#include <string>

#include "host/jpeg_codec.h"
#include "host/pixel_format.h"
#include "host/png_codec.h"

enum ImageKind { IMAGE_PNG, IMAGE_JPEG };

struct ImageInfo {
    ImageKind kind;
    int width, height;   // pixels
    PixelFormat format;  // of the raw rows
    bool interlaced;     // rows come in passes over the whole image (PNG Adam7)
    int passes;          // 1, or 7 when interlaced
};

// Whatever besides the pixels the output carries over from the input.
struct ImageMetadata {
    PngMetadata png;
    JpegMetadata jpeg;
};

struct ImageDecoder {
    FILE *file = nullptr;
    ImageKind kind = IMAGE_PNG;
    PngDecoder *png = nullptr;
    JpegDecoder *jpeg = nullptr;
    JpegMetadata jpegMetadata;  // read with the header, handed over at the end
};

struct ImageEncoder {
    std::string name;  // the file written, for messages
    ImageKind kind = IMAGE_PNG;
    PngEncoder *png = nullptr;
    JpegEncoder *jpeg = nullptr;
};

// Opens path and reads its header. On failure *error says what is wrong and
// nothing stays open.
bool OpenImageDecoder(const std::string &path, ImageDecoder &decoder, ImageInfo *info, std::string *error);
// Rows come top to bottom, pass after pass for an interlaced file.
bool DecodeRow(ImageDecoder &decoder, unsigned char *raw, std::string *error);
// Passes over count rows of a file that is not interlaced; scratch holds one raw row.
bool SkipRows(ImageDecoder &decoder, int count, unsigned char *scratch, std::string *error);
// Reads and checks the rest of the file after the last row.
bool FinishDecoding(ImageDecoder &decoder, ImageMetadata *metadata, std::string *error);
void CloseImageDecoder(ImageDecoder &decoder);

// Writes an image of info's kind, size, format and interlacing to file, which
// messages call name. quality applies to JPEG only.
bool OpenImageEncoder(FILE *file, const std::string &name, const ImageInfo &info, const ImageMetadata &metadata, int quality,
                      ImageEncoder &encoder, std::string *error);
bool EncodeRow(ImageEncoder &encoder, const unsigned char *raw, std::string *error);
bool FinishEncoding(ImageEncoder &encoder, std::string *error);
void CloseImageEncoder(ImageEncoder &encoder);
