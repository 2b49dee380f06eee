// PNG files row by row through libpng. Rows are raw rows (host/pixel_format.h):
// samples as stored, one byte per sample below 8 bits, 16-bit samples in host
// order. libpng's errors come back as a message, never as an abort.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/pixel_format.h"

struct PngHeader {
    int width, height;   // pixels
    PixelFormat format;
    bool interlaced;     // Adam7: rows come in 7 passes over the whole image
    int passes;          // 1, or 7 when interlaced
    bool animated;       // an APNG, of which libpng reads only the still image
};

struct PngText {
    int compression;  // libpng's text compression value (tEXt, zTXt, iTXt)
    std::string key, text, language, translatedKey;
};

// The ancillary chunks carried from input to output: those about colour,
// pixel size and text. Fixed-point values are libpng's (times 100000).
struct PngMetadata {
    bool hasGamma = false;
    int32_t gamma = 0;
    bool hasChromaticities = false;
    int32_t chromaticities[8] = {};  // white x, y, red x, y, green x, y, blue x, y
    bool hasSrgb = false;
    int srgbIntent = 0;
    bool hasIcc = false;
    std::string iccName, iccProfile;
    bool hasPhysical = false;
    uint32_t pixelsPerUnitX = 0, pixelsPerUnitY = 0;
    int physicalUnit = 0;
    std::vector<PngText> texts;
};

struct PngDecoder;
struct PngEncoder;

// Reads the header from file, positioned at its start. Null on failure, with
// *error set. The caller keeps the file and closes it after the decoder.
PngDecoder *OpenPngDecoder(FILE *file, PngHeader *header, std::string *error);
// The next row; for an interlaced file raw must hold that row's pixels of the
// earlier passes.
bool ReadPngRow(PngDecoder *decoder, unsigned char *raw, std::string *error);
// Reads to the end of the file, checking it, and collects the metadata.
bool FinishPngDecoding(PngDecoder *decoder, PngMetadata *metadata, std::string *error);
void ClosePngDecoder(PngDecoder *decoder);

PngEncoder *OpenPngEncoder(FILE *file, const PngHeader &header, const PngMetadata &metadata, std::string *error);
// The next row; an interlaced file takes every row once per pass.
bool WritePngRow(PngEncoder *encoder, const unsigned char *raw, std::string *error);
bool FinishPngEncoding(PngEncoder *encoder, std::string *error);
void ClosePngEncoder(PngEncoder *encoder);
