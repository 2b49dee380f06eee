#include "host/round_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/image_codec.h"
#include "host/interrupt_cleanup.h"
#include "host/plugin_host.h"
#include "host/row_prefetch.h"

static std::string Quoted(const std::string &path) { return "'" + path + "'"; }

static bool SystemError(const std::string &what, const std::string &path, std::string *error) {
    *error = what + " " + Quoted(path) + ": " + strerror(errno);
    return false;
}

static bool CheckInput(const RoundJob &job, std::string *error) {
    struct stat input;
    if (stat(job.input.c_str(), &input) != 0) {
        *error = strerror(errno);
        return false;
    }
    if (!S_ISREG(input.st_mode)) {
        *error = S_ISDIR(input.st_mode) ? "is a folder, not an image" : "is not a regular file";
        return false;
    }
    struct stat output;
    if (!job.inPlace && stat(job.output.c_str(), &output) == 0 && output.st_dev == input.st_dev &&
        output.st_ino == input.st_ino) {
        *error = "the output " + Quoted(job.output) + " is the input itself (use --in-place to replace it)";
        return false;
    }
    return true;
}

// Pass 1 reads the held rows, passing over the others, and the rest of the
// file, so that a damaged file fails before any output exists.
static bool ReadBandRows(ImageDecoder &decoder, const ImageInfo &info, RowBand &band, std::string *error) {
    std::vector<unsigned char> scratch(band.rawBytes);
    for (int pass = 0; pass < info.passes; pass++) {
        for (int y = 0; y < band.topRows; y++)
            if (!DecodeRow(decoder, HeldRawRow(band, y), error)) return false;
        if (!SkipRows(decoder, band.bottomStart - band.topRows, scratch.data(), error)) return false;
        for (int y = band.bottomStart; y < band.height; y++)
            if (!DecodeRow(decoder, HeldRawRow(band, HeldRowIndex(band, y)), error)) return false;
    }
    return true;
}

// An interlaced file has its rows spread over passes through the whole
// image, so it is always held whole.
static bool LoadBand(const RoundJob &job, bool wholeImage, RowBand &band, ImageInfo *info, ImageMetadata *metadata,
                     std::string *error) {
    ImageDecoder decoder;
    if (!OpenImageDecoder(job.input, decoder, info, error)) return false;
    bool loaded =
        InitRowBand(band, info->width, info->height, info->format, job.radius, wholeImage || info->interlaced);
    if (!loaded) *error = "the image is too large to hold in memory";
    loaded = loaded && ReadBandRows(decoder, *info, band, error) && FinishDecoding(decoder, metadata, error);
    CloseImageDecoder(decoder);
    if (loaded) LendHeldRows(band);
    return loaded;
}

// The plug-in's message box text is two lines for a dialog; on one line of
// stderr it reads as one, followed by the numbers it is about.
static std::string RefusalText(const RoundJob &job, const RowBand &band, std::string message) {
    std::string line;
    for (char c : message)
        if (c != '\n') line += c;
    return line + " (radius " + std::to_string(job.radius) + ", image " + std::to_string(band.width) + " x " +
           std::to_string(band.height) + ")";
}

static bool FilterBand(const RoundJob &job, RowBand &band, ImageInfo *info, ImageMetadata *metadata,
                       std::string *error) {
    std::string message;
    int result = RunPluginOnBand(band, job.settingsDir, &message);
    if (band.missedRow >= 0 && !HoldsWholeImage(band)) {
        // The plug-in asked for a row outside the top and bottom radius rows:
        // hold them all and run again, so that the result is still right.
        if (!LoadBand(job, true, band, info, metadata, error)) return false;
        result = RunPluginOnBand(band, job.settingsDir, &message);
    }
    if (result == 1) return true;
    *error = message.empty() ? "the filter failed (out of memory)" : RefusalText(job, band, message);
    return false;
}

// A new file beside the destination, renamed over it only once complete.
struct Destination {
    std::string target;    // the file replaced, through a symbolic link to what it names
    std::string tempPath;
    FILE *file = nullptr;
};

static std::string ResolveLink(const std::string &path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    char *resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string target = resolved;
    free(resolved);
    return target;
}

// A replaced file keeps its permissions; a new one gets the usual ones.
static mode_t ModeFor(const std::string &target) {
    struct stat status;
    if (stat(target.c_str(), &status) == 0) return status.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

static bool OpenDestination(const RoundJob &job, Destination *destination, std::string *error) {
    destination->target = ResolveLink(job.output);
    const std::string &target = destination->target;
    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = (slash == std::string::npos ? "" : dir) + "." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return SystemError("cannot write", job.output, error);
    destination->tempPath = name.data();
    NoteTemporaryOutput(name.data());
    fchmod(fd, ModeFor(target));
    destination->file = fdopen(fd, "wb");
    if (destination->file != nullptr) return true;
    close(fd);
    unlink(destination->tempPath.c_str());
    NoteTemporaryOutput(nullptr);
    return SystemError("cannot write", job.output, error);
}

static bool CommitDestination(Destination &destination, bool written, std::string *error) {
    if (written && (fflush(destination.file) != 0 || fsync(fileno(destination.file)) != 0))
        written = SystemError("cannot write", destination.target, error);
    if (fclose(destination.file) != 0 && written) written = SystemError("cannot write", destination.target, error);
    if (written && rename(destination.tempPath.c_str(), destination.target.c_str()) != 0)
        written = SystemError("cannot replace", destination.target, error);
    if (!written) unlink(destination.tempPath.c_str());
    NoteTemporaryOutput(nullptr);
    return written;
}

// Nothing changed: the output is the input, byte for byte.
static bool CopyInput(const RoundJob &job, std::string *error) {
    FILE *in = fopen(job.input.c_str(), "rb");
    if (in == nullptr) {
        *error = strerror(errno);
        return false;
    }
    Destination destination;
    if (!OpenDestination(job, &destination, error)) {
        fclose(in);
        return false;
    }
    char buffer[65536];
    bool copied = true;
    size_t got;
    while (copied && (got = fread(buffer, 1, sizeof buffer, in)) > 0)
        copied = fwrite(buffer, 1, got, destination.file) == got;
    if (!copied) SystemError("cannot write", destination.target, error);
    if (copied && ferror(in)) copied = SystemError("cannot read", job.input, error);
    fclose(in);
    return CommitDestination(destination, copied, error);
}

static bool EncodeHeldRow(ImageEncoder &encoder, const RowBand &band, int y, const PixelFormat &out,
                          std::vector<unsigned char> &row, std::string *error) {
    ComposeHeldRow(band, HeldRowIndex(band, y), out, row.data());
    return EncodeRow(encoder, row.data(), error);
}

static bool EncodeWholeBand(ImageEncoder &encoder, const ImageInfo &info, const RowBand &band, const PixelFormat &out,
                            std::string *error) {
    std::vector<unsigned char> row(RawRowBytes(out, band.width));
    for (int pass = 0; pass < info.passes; pass++)
        for (int y = 0; y < band.height; y++)
            if (!EncodeHeldRow(encoder, band, y, out, row, error)) return false;
    return true;
}

static bool SameImage(const ImageInfo &a, const ImageInfo &b) {
    const PixelFormat &f = a.format, &g = b.format;
    if (a.kind != b.kind || a.width != b.width || a.height != b.height || a.passes != b.passes) return false;
    if (f.model != g.model || f.depth != g.depth || f.keyed != g.keyed || f.paletteSize != g.paletteSize) return false;
    if (memcmp(f.key, g.key, sizeof f.key) != 0) return false;
    return memcmp(f.palette, g.palette, sizeof f.palette) == 0;
}

// Pass 2: the held rows come from the band, the rows between them are read
// again (on a second thread, while the rows before them are encoded) and
// carried over unchanged.
static bool EncodeStreaming(const RoundJob &job, ImageEncoder &encoder, const ImageInfo &info, const RowBand &band,
                            const PixelFormat &out, std::string *error) {
    ImageDecoder decoder;
    ImageInfo again;
    if (!OpenImageDecoder(job.input, decoder, &again, error)) return false;
    bool ok = SameImage(info, again);
    if (!ok) *error = "the file changed while it was read";
    std::vector<unsigned char> row(RawRowBytes(out, band.width));
    int between = band.bottomStart - band.topRows;
    RowPrefetch *prefetch = nullptr;
    if (ok) prefetch = StartRowPrefetch(decoder, band.topRows, between, band.format, out, band.width);
    for (int y = 0; ok && y < band.topRows; y++) ok = EncodeHeldRow(encoder, band, y, out, row, error);
    for (int y = band.topRows; ok && y < band.bottomStart; y++) {
        const unsigned char *next = NextPrefetchedRow(prefetch, error);
        ok = next != nullptr && EncodeRow(encoder, next, error);
    }
    if (prefetch != nullptr) StopRowPrefetch(prefetch);
    CloseImageDecoder(decoder);
    for (int y = band.bottomStart; ok && y < band.height; y++) ok = EncodeHeldRow(encoder, band, y, out, row, error);
    return ok;
}

static bool WriteResult(const RoundJob &job, const ImageInfo &info, const ImageMetadata &metadata,
                        const RowBand &band, std::string *error) {
    ImageInfo outInfo = info;
    outInfo.format = PlanOutputFormat(band.format, band.raw.data(), band.before.data(), band.after.data(), band.width,
                                      HeldRowCount(band));
    Destination destination;
    if (!OpenDestination(job, &destination, error)) return false;
    ImageEncoder encoder;
    bool written =
        OpenImageEncoder(destination.file, job.output, outInfo, metadata, job.quality, encoder, error) &&
        (HoldsWholeImage(band) ? EncodeWholeBand(encoder, info, band, outInfo.format, error)
                               : EncodeStreaming(job, encoder, info, band, outInfo.format, error)) &&
        FinishEncoding(encoder, error);
    CloseImageEncoder(encoder);
    return CommitDestination(destination, written, error);
}

bool RoundFile(const RoundJob &job, std::string *error) {
    if (!CheckInput(job, error)) return false;
    RowBand band;
    ImageInfo info;
    ImageMetadata metadata;
    if (!LoadBand(job, job.wholeImage, band, &info, &metadata, error)) return false;
    if (!FilterBand(job, band, &info, &metadata, error)) return false;
    if (!BandChanged(band)) return job.inPlace || CopyInput(job, error);
    return WriteResult(job, info, metadata, band, error);
}
