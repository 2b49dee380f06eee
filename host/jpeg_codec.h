// JPEG files scanline by scanline through libjpeg. Rows are raw rows of 8-bit
// samples (host/pixel_format.h): RGB, or gray for a grayscale file. libjpeg's
// errors, and the warnings that mean damaged data, come back as a message,
// never as an abort.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "host/pixel_format.h"

struct JpegHeader {
    int width, height;   // pixels
    PixelFormat format;  // MODEL_RGB or MODEL_GRAY, 8 bits
    bool cmyk;           // a CMYK file, which gives no rows
    bool tooLarge;       // a progressive file whose coefficients exceed the memory budget
};

struct JpegMarker {
    int code;  // JPEG_APP0 + n or JPEG_COM
    std::string data;
};

// What is carried from input to output besides the pixels: the density, the
// coding (progressive, chroma sampling) and the APPn and COM markers that
// libjpeg does not write itself.
struct JpegMetadata {
    bool hasDensity = false;
    int densityUnit = 0, xDensity = 1, yDensity = 1;
    bool progressive = false;
    int components = 0;
    int sampling[3][2] = {};  // horizontal, vertical factor of each component
    std::vector<JpegMarker> markers;
};

struct JpegDecoder;
struct JpegEncoder;

// Reads the header from file, positioned at its start. Null on failure, with
// *error set. A CMYK file opens with only its header read. The caller closes the file afterwards.
JpegDecoder *OpenJpegDecoder(FILE *file, JpegHeader *header, JpegMetadata *metadata, std::string *error);
bool ReadJpegRow(JpegDecoder *decoder, unsigned char *raw, std::string *error);
// Passes over count rows without producing their pixels.
bool SkipJpegRows(JpegDecoder *decoder, int count, std::string *error);
bool FinishJpegDecoding(JpegDecoder *decoder, std::string *error);
void CloseJpegDecoder(JpegDecoder *decoder);

// quality: 1 to 100, as libjpeg's scale.
JpegEncoder *OpenJpegEncoder(FILE *file, const JpegHeader &header, const JpegMetadata &metadata, int quality,
                             std::string *error);
bool WriteJpegRow(JpegEncoder *encoder, const unsigned char *raw, std::string *error);
bool FinishJpegEncoding(JpegEncoder *encoder, std::string *error);
void CloseJpegEncoder(JpegEncoder *encoder);
