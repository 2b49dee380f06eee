#include "host/pixel_format.h"

#include <cstring>

// One pixel's samples at one depth; alpha is the full value when the format
// has none.
struct Pixel {
    unsigned red, green, blue, alpha;
};

PixelFormat MakePixelFormat(ColourModel model, int depth) {
    PixelFormat format;
    memset(&format, 0, sizeof format);
    format.model = model;
    format.depth = depth;
    return format;
}

int ChannelCount(ColourModel model) {
    switch (model) {
    case MODEL_GRAY_ALPHA: return 2;
    case MODEL_RGB: return 3;
    case MODEL_RGBA: return 4;
    default: return 1;
    }
}

static int SampleBytes(const PixelFormat &format) { return format.depth == 16 ? 2 : 1; }

size_t RawRowBytes(const PixelFormat &format, int width) {
    return static_cast<size_t>(width) * ChannelCount(format.model) * SampleBytes(format);
}

static bool HasAlpha(ColourModel model) { return model == MODEL_GRAY_ALPHA || model == MODEL_RGBA; }
static bool IsGray(ColourModel model) { return model == MODEL_GRAY || model == MODEL_GRAY_ALPHA; }

// Palette colours are 8-bit whatever the index depth.
static int SampleDepth(const PixelFormat &format) { return format.model == MODEL_PALETTE ? 8 : format.depth; }

static unsigned MaxSample(int depth) { return (1u << depth) - 1; }

static unsigned ReadSample(const PixelFormat &format, const unsigned char *raw, size_t i) {
    if (format.depth != 16) return raw[i];
    uint16_t value;
    memcpy(&value, raw + 2 * i, 2);
    return value;
}

static void WriteSample(const PixelFormat &format, unsigned char *raw, size_t i, unsigned value) {
    if (format.depth != 16) {
        raw[i] = static_cast<unsigned char>(value);
        return;
    }
    uint16_t sample = static_cast<uint16_t>(value);
    memcpy(raw + 2 * i, &sample, 2);
}

// A sample of depth bits as the nearest 8-bit value; below 8 bits the scaling
// is exact (1 bit: 0 or 255, 2 bits: steps of 85, 4 bits: steps of 17).
static unsigned SampleTo8(unsigned value, int depth) {
    if (depth == 16) return (value * 255 + 32767) / 65535;
    if (depth == 8) return value;
    return value * 255 / MaxSample(depth);
}

// An 8-bit value at depth bits; below 8 bits only for values that fit exactly
// (ExactAtDepth), which the output plan ensures.
static unsigned SampleFrom8(unsigned value, int depth) {
    if (depth == 16) return value * 257;
    if (depth == 8) return value;
    return value / (255 / MaxSample(depth));
}

static bool ExactAtDepth(unsigned value8, int depth) { return depth >= 8 || value8 % (255 / MaxSample(depth)) == 0; }

// Carries a sample to a depth at least as deep. Formats only ever grow from
// below 8 bits to 8, so this is the exact 8-bit scaling or nothing.
static unsigned WidenSample(unsigned value, int from, int to) { return from == to ? value : SampleTo8(value, from); }

static bool IsKey(const PixelFormat &format, unsigned red, unsigned green, unsigned blue) {
    return format.keyed && red == format.key[0] && green == format.key[1] && blue == format.key[2];
}

static Pixel ReadPixel(const PixelFormat &format, const unsigned char *raw, int x) {
    size_t i = static_cast<size_t>(x) * ChannelCount(format.model);
    unsigned full = MaxSample(SampleDepth(format));
    Pixel pixel;
    switch (format.model) {
    case MODEL_GRAY:
    case MODEL_GRAY_ALPHA:
        pixel.red = pixel.green = pixel.blue = ReadSample(format, raw, i);
        pixel.alpha = format.model == MODEL_GRAY_ALPHA ? ReadSample(format, raw, i + 1) : full;
        break;
    case MODEL_RGB:
    case MODEL_RGBA:
        pixel.red = ReadSample(format, raw, i);
        pixel.green = ReadSample(format, raw, i + 1);
        pixel.blue = ReadSample(format, raw, i + 2);
        pixel.alpha = format.model == MODEL_RGBA ? ReadSample(format, raw, i + 3) : full;
        break;
    case MODEL_PALETTE: {
        const PaletteEntry &entry = format.palette[raw[i]];
        pixel = {entry.red, entry.green, entry.blue, entry.alpha};
        break;
    }
    }
    if (IsKey(format, pixel.red, pixel.green, pixel.blue)) pixel.alpha = 0;
    return pixel;
}

static Pixel WidenPixel(Pixel pixel, int from, int to) {
    return {WidenSample(pixel.red, from, to), WidenSample(pixel.green, from, to), WidenSample(pixel.blue, from, to),
            WidenSample(pixel.alpha, from, to)};
}

static int FindPaletteEntry(const PixelFormat &format, Pixel pixel) {
    for (int i = 0; i < format.paletteSize; i++) {
        const PaletteEntry &entry = format.palette[i];
        if (entry.red == pixel.red && entry.green == pixel.green && entry.blue == pixel.blue &&
            entry.alpha == pixel.alpha)
            return i;
    }
    return -1;
}

// pixel at out's sample depth. A palette pixel is written as the index of its
// entry, which the output plan has put there.
static void WritePixel(const PixelFormat &format, unsigned char *raw, int x, Pixel pixel) {
    size_t i = static_cast<size_t>(x) * ChannelCount(format.model);
    switch (format.model) {
    case MODEL_GRAY_ALPHA: WriteSample(format, raw, i + 1, pixel.alpha); [[fallthrough]];
    case MODEL_GRAY: WriteSample(format, raw, i, pixel.red); break;
    case MODEL_RGBA: WriteSample(format, raw, i + 3, pixel.alpha); [[fallthrough]];
    case MODEL_RGB:
        WriteSample(format, raw, i, pixel.red);
        WriteSample(format, raw, i + 1, pixel.green);
        WriteSample(format, raw, i + 2, pixel.blue);
        break;
    case MODEL_PALETTE: {
        int index = FindPaletteEntry(format, pixel);
        raw[i] = static_cast<unsigned char>(index < 0 ? 0 : index);
        break;
    }
    }
}

void RawRowToBgr(const PixelFormat &format, const unsigned char *raw, int width, unsigned char *bgr) {
    int depth = SampleDepth(format);
    for (int x = 0; x < width; x++) {
        Pixel pixel = ReadPixel(format, raw, x);
        bgr[3 * x] = static_cast<unsigned char>(SampleTo8(pixel.blue, depth));
        bgr[3 * x + 1] = static_cast<unsigned char>(SampleTo8(pixel.green, depth));
        bgr[3 * x + 2] = static_cast<unsigned char>(SampleTo8(pixel.red, depth));
    }
}

static bool PixelChanged(const unsigned char *before, const unsigned char *after, int x) {
    return before != nullptr && memcmp(before + 3 * x, after + 3 * x, 3) != 0;
}

// The changed pixel's new colour at depth bits, with its old alpha carried
// from the input's depth.
static Pixel NewPixel(const unsigned char *after, int x, Pixel old, int oldDepth, int depth) {
    const unsigned char *bgr = after + 3 * x;
    return {SampleFrom8(bgr[2], depth), SampleFrom8(bgr[1], depth), SampleFrom8(bgr[0], depth),
            WidenSample(old.alpha, oldDepth, depth)};
}

// Keyed formats keep a transparent pixel as it is even when the plug-in
// painted it: its colour is what makes it transparent, and alpha is kept.
static bool KeepsKeyedPixel(const PixelFormat &in, const PixelFormat &out, Pixel old) {
    return in.keyed && out.keyed && old.alpha == 0;
}

void ComposeRow(const PixelFormat &in, const PixelFormat &out, const unsigned char *raw, const unsigned char *before,
                const unsigned char *after, int width, unsigned char *outRaw) {
    int inDepth = SampleDepth(in);
    int outDepth = SampleDepth(out);
    for (int x = 0; x < width; x++) {
        bool changed = PixelChanged(before, after, x);
        if (!changed && in.model == MODEL_PALETTE && out.model == MODEL_PALETTE) {
            outRaw[x] = raw[x];  // the output palette starts with the input's entries
            continue;
        }
        Pixel old = ReadPixel(in, raw, x);
        if (changed && !KeepsKeyedPixel(in, out, old))
            WritePixel(out, outRaw, x, NewPixel(after, x, old, inDepth, outDepth));
        else
            WritePixel(out, outRaw, x, WidenPixel(old, inDepth, outDepth));
    }
}

static int IndexDepthFor(int entries) {
    if (entries <= 2) return 1;
    if (entries <= 4) return 2;
    if (entries <= 16) return 4;
    return 8;
}

static bool PaletteHasAlpha(const PixelFormat &format) {
    for (int i = 0; i < format.paletteSize; i++)
        if (format.palette[i].alpha != 255) return true;
    return false;
}

// Adds the changed pixel's colour, with its old alpha, to out's palette.
// Returns false when the palette has no room left.
static bool AddPaletteEntry(PixelFormat &out, Pixel pixel) {
    if (FindPaletteEntry(out, pixel) >= 0) return true;
    if (out.paletteSize == 256) return false;
    out.palette[out.paletteSize++] = {static_cast<unsigned char>(pixel.red), static_cast<unsigned char>(pixel.green),
                                      static_cast<unsigned char>(pixel.blue), static_cast<unsigned char>(pixel.alpha)};
    return true;
}

static ColourModel WithAlpha(ColourModel model) { return IsGray(model) ? MODEL_GRAY_ALPHA : MODEL_RGBA; }

// What the changed pixels ask of the format, apart from the colour key.
struct ChangeNeeds {
    bool colour;        // a changed pixel is not gray
    bool inexactGray;   // a changed gray value is not exact below 8 bits
    bool paletteFull;   // the new colours do not fit in 256 palette entries
};

static void NoteChangedPixel(const PixelFormat &in, PixelFormat &out, Pixel old, const unsigned char *bgr,
                             ChangeNeeds &needs) {
    if (bgr[0] != bgr[1] || bgr[1] != bgr[2]) needs.colour = true;
    if (!ExactAtDepth(bgr[0], in.depth)) needs.inexactGray = true;
    if (in.model == MODEL_PALETTE && !needs.paletteFull)
        needs.paletteFull = !AddPaletteEntry(out, {bgr[2], bgr[1], bgr[0], old.alpha});
}

static void ApplyChangeNeeds(const PixelFormat &in, PixelFormat &out, const ChangeNeeds &needs) {
    if (in.model == MODEL_PALETTE) {
        if (needs.paletteFull) {
            out.model = PaletteHasAlpha(out) ? MODEL_RGBA : MODEL_RGB;
            out.depth = 8;
        } else if (IndexDepthFor(out.paletteSize) > out.depth) {
            out.depth = IndexDepthFor(out.paletteSize);
        }
        return;
    }
    if (!IsGray(in.model)) return;
    if (needs.colour) out.model = HasAlpha(in.model) ? MODEL_RGBA : MODEL_RGB;
    if (out.depth < 8 && (needs.colour || needs.inexactGray)) out.depth = 8;
    for (int c = 0; c < 3; c++) out.key[c] = static_cast<uint16_t>(WidenSample(in.key[c], in.depth, out.depth));
}

// A changed pixel that stays opaque must not take the key colour, or it would
// turn transparent; then the output gets a real alpha channel instead.
static bool NewColourHitsKey(const PixelFormat &out, Pixel old, const unsigned char *bgr) {
    if (old.alpha == 0) return false;
    return IsKey(out, SampleFrom8(bgr[2], out.depth), SampleFrom8(bgr[1], out.depth), SampleFrom8(bgr[0], out.depth));
}

PixelFormat PlanOutputFormat(const PixelFormat &in, const unsigned char *raw, const unsigned char *before,
                             const unsigned char *after, int width, int rows) {
    PixelFormat out = in;
    ChangeNeeds needs = {false, false, false};
    size_t rawBytes = RawRowBytes(in, width);
    size_t bgrBytes = 3 * static_cast<size_t>(width);
    for (int r = 0; r < rows; r++)
        for (int x = 0; x < width; x++)
            if (PixelChanged(before + r * bgrBytes, after + r * bgrBytes, x))
                NoteChangedPixel(in, out, ReadPixel(in, raw + r * rawBytes, x), after + r * bgrBytes + 3 * x, needs);
    ApplyChangeNeeds(in, out, needs);
    if (!out.keyed) return out;
    for (int r = 0; r < rows; r++)
        for (int x = 0; x < width; x++) {
            if (!PixelChanged(before + r * bgrBytes, after + r * bgrBytes, x)) continue;
            if (!NewColourHitsKey(out, ReadPixel(in, raw + r * rawBytes, x), after + r * bgrBytes + 3 * x)) continue;
            out.model = WithAlpha(out.model);
            out.keyed = false;
            return out;
        }
    return out;
}
