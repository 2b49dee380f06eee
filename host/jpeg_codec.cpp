#include "host/jpeg_codec.h"

#include <csetjmp>
#include <cstring>

#include "host/memory_budget.h"

// jpeglib.h first: jerror.h lists some codes only after its configuration.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

// libjpeg reports errors through these functions, which keep the message and
// jump back to the setjmp of the call that failed. Every function below that
// sets a jump point holds no object with a destructor, so the jump skips none.
struct JpegErrorManager {
    jpeg_error_mgr manager;  // first, so that libjpeg's pointer to it is one to the whole
    jmp_buf jump;
    char text[JMSG_LENGTH_MAX];
};

static void JpegFail(j_common_ptr common) {
    JpegErrorManager *error = reinterpret_cast<JpegErrorManager *>(common->err);
    (*common->err->format_message)(common, error->text);
    longjmp(error->jump, 1);
}

// Warnings that mean the decoded pixels are not the image (a file cut short,
// damaged entropy-coded data) fail the read: writing such pixels back would
// lose the part of the picture that is missing. Other warnings pass.
static void JpegEmitMessage(j_common_ptr common, int level) {
    if (level >= 0) return;  // trace messages
    switch (common->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC: JpegFail(common); break;
    default: common->err->num_warnings++; break;
    }
}

static void InitJpegErrors(JpegErrorManager &error) {
    jpeg_std_error(&error.manager);
    error.manager.error_exit = JpegFail;
    error.manager.emit_message = JpegEmitMessage;
}

struct JpegDecoder {
    jpeg_decompress_struct info;
    JpegErrorManager error;
    bool created;
};

struct JpegEncoder {
    jpeg_compress_struct info;
    JpegErrorManager error;
    bool created;
};

static const int kCopiedMarkers[] = {
    JPEG_APP0 + 1,  JPEG_APP0 + 2,  JPEG_APP0 + 3,  JPEG_APP0 + 4,  JPEG_APP0 + 5,
    JPEG_APP0 + 6,  JPEG_APP0 + 7,  JPEG_APP0 + 8,  JPEG_APP0 + 9,  JPEG_APP0 + 10,
    JPEG_APP0 + 11, JPEG_APP0 + 12, JPEG_APP0 + 13, JPEG_APP0 + 15, JPEG_COM,
};
// Not copied: APP0 (JFIF, which libjpeg writes itself, with the density
// carried over) and APP14 (Adobe), whose colour transform flag describes the
// old coding, not the one written.

// A progressive (or multi-scan) file is decoded into coefficient arrays for
// the whole image before its first row comes out: 64 two-byte coefficients a
// block of every component. Sequential files need a few block rows only.
static size_t CoefficientBytes(const jpeg_decompress_struct &info) {
    if (!jpeg_has_multiple_scans(const_cast<jpeg_decompress_struct *>(&info))) return 0;
    size_t bytes = 0;
    for (int c = 0; c < info.num_components; c++) {
        const jpeg_component_info &component = info.comp_info[c];
        bytes += static_cast<size_t>(component.width_in_blocks + component.h_samp_factor) *
                 (component.height_in_blocks + component.v_samp_factor) * DCTSIZE2 * sizeof(JCOEF);
    }
    return bytes;
}

static bool ReadJpegHeader(JpegDecoder *decoder, FILE *file, JpegHeader *header, std::string *error) {
    jpeg_decompress_struct &info = decoder->info;
    if (setjmp(decoder->error.jump)) {
        *error = decoder->error.text;
        return false;
    }
    jpeg_create_decompress(&info);
    decoder->created = true;
    jpeg_stdio_src(&info, file);
    for (int marker : kCopiedMarkers) jpeg_save_markers(&info, marker, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    header->cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    header->tooLarge = CoefficientBytes(info) > ImageMemoryBudget();
    if (header->cmyk || header->tooLarge) return true;
    // Past the check above only libjpeg's own working memory remains; it
    // fails as an error too rather than outgrow the budget.
    info.mem->max_memory_to_use = static_cast<long>(ImageMemoryBudget());
    info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&info);
    header->width = static_cast<int>(info.output_width);
    header->height = static_cast<int>(info.output_height);
    header->format = MakePixelFormat(info.output_components == 1 ? MODEL_GRAY : MODEL_RGB, 8);
    return true;
}

static void CollectJpegMetadata(const jpeg_decompress_struct &info, JpegMetadata *metadata) {
    *metadata = JpegMetadata();
    metadata->hasDensity = info.saw_JFIF_marker;
    metadata->densityUnit = info.density_unit;
    metadata->xDensity = info.X_density;
    metadata->yDensity = info.Y_density;
    metadata->progressive = info.progressive_mode;
    metadata->components = info.num_components;
    for (int c = 0; c < info.num_components && c < 3; c++) {
        metadata->sampling[c][0] = info.comp_info[c].h_samp_factor;
        metadata->sampling[c][1] = info.comp_info[c].v_samp_factor;
    }
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next)
        metadata->markers.push_back(
            {marker->marker, std::string(reinterpret_cast<const char *>(marker->data), marker->data_length)});
}

JpegDecoder *OpenJpegDecoder(FILE *file, JpegHeader *header, JpegMetadata *metadata, std::string *error) {
    JpegDecoder *decoder = new JpegDecoder();
    decoder->info.err = &decoder->error.manager;
    InitJpegErrors(decoder->error);
    if (!ReadJpegHeader(decoder, file, header, error)) {
        CloseJpegDecoder(decoder);
        return nullptr;
    }
    CollectJpegMetadata(decoder->info, metadata);
    return decoder;
}

bool ReadJpegRow(JpegDecoder *decoder, unsigned char *raw, std::string *error) {
    if (setjmp(decoder->error.jump)) {
        *error = decoder->error.text;
        return false;
    }
    JSAMPROW row = raw;
    jpeg_read_scanlines(&decoder->info, &row, 1);
    return true;
}

bool SkipJpegRows(JpegDecoder *decoder, int count, std::string *error) {
    if (setjmp(decoder->error.jump)) {
        *error = decoder->error.text;
        return false;
    }
    if (count > 0) jpeg_skip_scanlines(&decoder->info, static_cast<JDIMENSION>(count));
    return true;
}

bool FinishJpegDecoding(JpegDecoder *decoder, std::string *error) {
    if (setjmp(decoder->error.jump)) {
        *error = decoder->error.text;
        return false;
    }
    jpeg_finish_decompress(&decoder->info);
    return true;
}

void CloseJpegDecoder(JpegDecoder *decoder) {
    if (decoder == nullptr) return;
    if (decoder->created) jpeg_destroy_decompress(&decoder->info);
    delete decoder;
}

// An ICC profile is for the colour space of the file it came in; when gray
// becomes colour it no longer applies.
static bool IsIccProfile(const JpegMarker &marker) {
    return marker.code == JPEG_APP0 + 2 && marker.data.compare(0, 12, std::string("ICC_PROFILE\0", 12)) == 0;
}

static void SetJpegCoding(jpeg_compress_struct &info, const JpegMetadata &metadata, int quality) {
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    // The input's chroma sampling is kept. Gray turned colour has its only
    // colour in the thin painted corners, which halved chroma would smear.
    bool sameComponents = metadata.components == info.num_components;
    for (int c = 0; c < info.num_components && c < 3; c++) {
        info.comp_info[c].h_samp_factor = sameComponents ? metadata.sampling[c][0] : 1;
        info.comp_info[c].v_samp_factor = sameComponents ? metadata.sampling[c][1] : 1;
    }
    if (metadata.hasDensity) {
        info.density_unit = static_cast<UINT8>(metadata.densityUnit);
        info.X_density = static_cast<UINT16>(metadata.xDensity);
        info.Y_density = static_cast<UINT16>(metadata.yDensity);
    }
    // Progressive output keeps the whole image's coefficients in memory, as
    // optimised Huffman tables would; the latter are left off so that a
    // baseline file streams out row by row.
    if (metadata.progressive) jpeg_simple_progression(&info);
}

static bool WriteJpegHeader(JpegEncoder *encoder, FILE *file, const JpegHeader &header, const JpegMetadata &metadata,
                            int quality, std::string *error) {
    jpeg_compress_struct &info = encoder->info;
    if (setjmp(encoder->error.jump)) {
        *error = encoder->error.text;
        return false;
    }
    jpeg_create_compress(&info);
    encoder->created = true;
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(header.width);
    info.image_height = static_cast<JDIMENSION>(header.height);
    bool gray = header.format.model == MODEL_GRAY;
    info.input_components = gray ? 1 : 3;
    info.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    SetJpegCoding(info, metadata, quality);
    jpeg_start_compress(&info, TRUE);
    bool sameComponents = metadata.components == info.num_components;
    for (const JpegMarker &marker : metadata.markers) {
        if (IsIccProfile(marker) && !sameComponents) continue;
        jpeg_write_marker(&info, marker.code, reinterpret_cast<const JOCTET *>(marker.data.data()),
                          static_cast<unsigned int>(marker.data.size()));
    }
    return true;
}

JpegEncoder *OpenJpegEncoder(FILE *file, const JpegHeader &header, const JpegMetadata &metadata, int quality,
                             std::string *error) {
    JpegEncoder *encoder = new JpegEncoder();
    encoder->info.err = &encoder->error.manager;
    InitJpegErrors(encoder->error);
    if (!WriteJpegHeader(encoder, file, header, metadata, quality, error)) {
        CloseJpegEncoder(encoder);
        return nullptr;
    }
    return encoder;
}

bool WriteJpegRow(JpegEncoder *encoder, const unsigned char *raw, std::string *error) {
    if (setjmp(encoder->error.jump)) {
        *error = encoder->error.text;
        return false;
    }
    JSAMPROW row = const_cast<unsigned char *>(raw);
    jpeg_write_scanlines(&encoder->info, &row, 1);
    return true;
}

bool FinishJpegEncoding(JpegEncoder *encoder, std::string *error) {
    if (setjmp(encoder->error.jump)) {
        *error = encoder->error.text;
        return false;
    }
    jpeg_finish_compress(&encoder->info);
    return true;
}

void CloseJpegEncoder(JpegEncoder *encoder) {
    if (encoder == nullptr) return;
    if (encoder->created) jpeg_destroy_compress(&encoder->info);
    delete encoder;
}
