#include "imagefile/tiff_codec.hpp"

#include "imagefile/byte_outputs.hpp"
#include "imagefile/codec_support.hpp"
#include "imagefile/format_registry.hpp"
#include "imagefile/whole_image.hpp"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

// libtiff reports problems through handlers that return, and its functions
// then return an error value; no jump crosses C++ frames. The handlers are
// installed per handle, so nothing reaches stderr and the first message
// becomes part of the ToolError. libtiff's callbacks into this file (I/O,
// handlers) catch everything, as no exception may travel through C frames.

namespace axiswarp::tools {

namespace {

// ---------------------------------------------------------------- handles

// The first error libtiff reported since the last clear(); later ones are
// usually consequences of it ("cannot read strip" after "bad code").
struct Diagnostics {
    char message[256] = {};

    void clear() noexcept { message[0] = '\0'; }
    std::string text() const {
        return message[0] != '\0' ? std::string(message) : std::string("libtiff failed");
    }
};

// The module libtiff passes is a function name or the file's name, which the
// ToolError already starts with; only the text is kept.
int onTiffError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* d = static_cast<Diagnostics*>(user);
    if (d->message[0] == '\0') std::vsnprintf(d->message, sizeof d->message, format, args);
    return 1;  // handled: the global handler (stderr) is not called
}

int onTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* o) const noexcept { TIFFOpenOptionsFree(o); }
};
struct TiffDeleter {
    void operator()(TIFF* t) const noexcept { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffDeleter>;

std::unique_ptr<TIFFOpenOptions, OptionsDeleter> openOptions(Diagnostics& d, tmsize_t maxAlloc) {
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> o(TIFFOpenOptionsAlloc());
    if (!o) throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(o.get(), onTiffError, &d);
    TIFFOpenOptionsSetWarningHandlerExtR(o.get(), onTiffWarning, &d);
    TIFFOpenOptionsSetMaxSingleMemAlloc(o.get(), maxAlloc);
    return o;
}

// Reading through a ByteSource. Bytes already in memory are also handed to
// libtiff as a mapped file, so it decodes straight from them; a file on disk
// is not mapped (its pages would count in the resident size) but read a
// strip or a part of one at a time.
tmsize_t inputRead(thandle_t h, void* buffer, tmsize_t n) {
    auto* in = static_cast<ByteSource*>(h);
    if (n < 0) return 0;
    const std::size_t got = in->read(std::span(static_cast<std::byte*>(buffer), static_cast<std::size_t>(n)));
    return in->error() != 0 && got == 0 ? -1 : static_cast<tmsize_t>(got);
}

tmsize_t refuseWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t inputSeek(thandle_t h, toff_t offset, int whence) {
    auto* in = static_cast<ByteSource*>(h);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = in->tell();
    else if (whence == SEEK_END) base = in->size();
    if (offset > std::numeric_limits<std::uint64_t>::max() - base) return static_cast<toff_t>(-1);
    in->seek(base + offset);  // past the end is allowed; reads there return nothing
    return in->tell();
}

int closeNothing(thandle_t) { return 0; }
toff_t inputSize(thandle_t h) { return static_cast<ByteSource*>(h)->size(); }

int inputMap(thandle_t h, void** base, toff_t* size) {
    auto* in = static_cast<ByteSource*>(h);
    if (in->memory().empty()) return 0;
    *base = const_cast<std::byte*>(in->memory().data());
    *size = in->memory().size();
    return 1;
}
void unmapNothing(thandle_t, void*, toff_t) {}

// Writing through a ByteOutput; libtiff seeks back to patch offsets and may
// read what it wrote when it rewrites a directory. The output's exceptions
// stop here, as failed writes libtiff reports.
struct OutputHandle {
    ByteOutput* output;
    std::string failure;  // the first write's exception message
};

tmsize_t outputRead(thandle_t h, void* buffer, tmsize_t n) {
    auto* out = static_cast<OutputHandle*>(h);
    if (n < 0) return 0;
    try {
        const std::uint64_t at = out->output->tell();
        const std::size_t got =
            out->output->readAt(at, std::span(static_cast<std::byte*>(buffer), static_cast<std::size_t>(n)));
        out->output->seek(at + got);
        return static_cast<tmsize_t>(got);
    } catch (...) {
        return -1;
    }
}

tmsize_t outputWrite(thandle_t h, void* data, tmsize_t n) {
    auto* out = static_cast<OutputHandle*>(h);
    if (n < 0) return -1;
    try {
        out->output->write(std::span(static_cast<const std::byte*>(data), static_cast<std::size_t>(n)));
    } catch (const std::exception& e) {
        if (out->failure.empty()) out->failure = e.what();
        return -1;
    } catch (...) {
        return -1;
    }
    return n;
}

toff_t outputSeek(thandle_t h, toff_t offset, int whence) {
    auto* out = static_cast<OutputHandle*>(h);
    try {
        std::uint64_t base = 0;
        if (whence == SEEK_CUR) base = out->output->tell();
        else if (whence == SEEK_END) base = out->output->size();
        if (offset > std::numeric_limits<std::uint64_t>::max() - base) return static_cast<toff_t>(-1);
        out->output->seek(base + offset);
        return base + offset;
    } catch (...) {
        return static_cast<toff_t>(-1);
    }
}

toff_t outputSize(thandle_t h) {
    try {
        return static_cast<OutputHandle*>(h)->output->size();
    } catch (...) {
        return 0;
    }
}
int mapNothing(thandle_t, void**, toff_t*) { return 0; }

// ---------------------------------------------------------------- reading

// The most a strip or tile can expand when decoded, for a compression read:
// deflate at most 1032-fold; LZW's codes of 9 to 12 bits stand for strings
// that grow by one byte per code, about 1400-fold at best (2048 leaves a
// margin); PackBits turns 2 bytes into 128. Huffman-coded JPEG reaches about
// 256 gray or 513 RGB bytes per byte on flat images (codec_options.hpp);
// 1024 leaves a margin, also for the upsampling of subsampled chroma. A
// CCITT fax row takes at least one bit (G4's "same as the row above"), so a
// byte decodes to at most 8 rows, given as `rowBytes`. A strip that would
// need more is not what its header says.
std::uint64_t maxExpansion(std::uint16_t compression, std::uint64_t rowBytes) {
    switch (compression) {
        case COMPRESSION_NONE: return 1;
        case COMPRESSION_PACKBITS: return 64;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return 1032;
        case COMPRESSION_LZW: return 2048;
        case COMPRESSION_JPEG: return 1024;
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4: return std::max<std::uint64_t>(8 * rowBytes, 1);
        default: return 0;
    }
}

std::string compressionName(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4: return "CCITT fax compression";
        case COMPRESSION_OJPEG: return "old-style JPEG compression (compression 6)";
        case COMPRESSION_JPEG: return "JPEG compression";
        case COMPRESSION_JBIG: return "JBIG compression";
        case COMPRESSION_LZMA: return "LZMA compression";
        case COMPRESSION_ZSTD: return "Zstandard compression";
        case COMPRESSION_WEBP: return "WebP compression";
        default: return "compression scheme " + std::to_string(compression);
    }
}

// How stored samples become the page's: gray of 1, 2 or 4 bits to 8 bits
// and 12 bits to 16 (scaled to the same fraction of full scale), palette
// indices to their colours, white-is-zero gray inverted.
enum class Conversion { none, lowGray, twelveBits, palette, invert };

// How a palette's 16-bit entries hold its colours (paletteScale below).
enum class PaletteScale { shifted, unscaled, sixteenBits };

// A page as its directory describes it.
struct TiffPage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samples = 0;   // samples per pixel as stored
    std::uint16_t channels = 0;  // of the page read (3 for a palette)
    SampleType type = SampleType::uint8;  // of the page read
    std::uint16_t storedBits = 8;
    Conversion conversion = Conversion::none;
    bool minIsWhite = false;
    bool jpegRgb = false;  // JPEG-coded YCbCr, converted to RGB by libjpeg
    bool cmyk = false;     // four channels of ink, 0 for none
    std::vector<std::uint16_t> colormap;  // palette: red, green, blue tables of 2^bits entries
    PaletteScale paletteScale = PaletteScale::sixteenBits;
    tdir_t directory = 0;  // of the page in the file's chain
    std::uint16_t compression = COMPRESSION_NONE;
    bool separate = false;      // PLANARCONFIG_SEPARATE
    bool tiled = false;
    std::uint32_t tileWidth = 0;
    std::uint32_t tileLength = 0;  // rows of a tile, or of a strip
    bool associatedAlpha = false;
    int orientation = 1;
};

std::string describe(const TiffPage& p) {
    return std::to_string(p.width) + "x" + std::to_string(p.height) + " with " +
           std::to_string(p.channels) + (p.channels == 1 ? " channel" : " channels") + " of " +
           std::string(sampleTypeName(p.type));
}

std::string pageName(std::string_view name, tdir_t page) {
    return std::string(name) + ", page " + std::to_string(page + 1);
}

SampleType sampleTypeFrom(std::string_view where, std::uint16_t format, std::uint16_t bits) {
    if (format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_INT) {
        const bool s = format == SAMPLEFORMAT_INT;
        if (bits == 8) return s ? SampleType::int8 : SampleType::uint8;
        if (bits == 16) return s ? SampleType::int16 : SampleType::uint16;
        if (bits == 32) return s ? SampleType::int32 : SampleType::uint32;
        failCodec(where, std::string(s ? "signed" : "unsigned") + " integer samples of " +
                             std::to_string(bits) + (bits == 1 ? " bit (bilevel)" : " bits") +
                             " are not supported (8, 16 or 32 are)");
    }
    if (format == SAMPLEFORMAT_IEEEFP) {
        if (bits == 32) return SampleType::float32;
        if (bits == 64) return SampleType::float64;
        failCodec(where, "float samples of " + std::to_string(bits) +
                             " bits are not supported (32 or 64 are)");
    }
    if (format == SAMPLEFORMAT_COMPLEXINT || format == SAMPLEFORMAT_COMPLEXIEEEFP)
        failCodec(where, "complex samples are not supported");
    failCodec(where, "sample format " + std::to_string(format) + " is not supported");
}

// libtiff converts JPEG-coded YCbCr to RGB through libjpeg when asked,
// after every change of directory; the sizes it reports follow.
void prepareDirectory(TIFF* tif, const TiffPage& p) {
    if (p.jpegRgb) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
}

// How a palette's 16-bit entries hold its colours. Writers of 8-bit
// colours scale them by 257 (full scale to full scale) or by 256 (a shift),
// and some old ones store the 8-bit values unscaled, as libtiff's own tools
// recognise by every entry being below 256. Those give 8-bit colours
// exactly; any other palette has 16-bit colours.
PaletteScale paletteScale(const std::vector<std::uint16_t>& colormap) {
    auto all = [&](auto test) { return std::all_of(colormap.begin(), colormap.end(), test); };
    if (all([](std::uint16_t v) { return v < 256; })) return PaletteScale::unscaled;
    // v >> 8 recovers the 8-bit value of either scaling: (a * 257) >> 8 = a.
    if (all([](std::uint16_t v) { return v % 257 == 0; }) || all([](std::uint16_t v) { return v % 256 == 0; }))
        return PaletteScale::shifted;
    return PaletteScale::sixteenBits;
}

// The current directory's layout, refused when the tool cannot hold it.
TiffPage readLayout(TIFF* tif, std::string_view where) {
    TiffPage p;
    std::uint16_t bits = 1, format = SAMPLEFORMAT_UINT, photometric = 0, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &p.compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = p.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    p.storedBits = bits;

    if (maxExpansion(p.compression, 1) == 0) failCodec(where, compressionName(p.compression) + " is not supported");
    const bool ccitt = p.compression == COMPRESSION_CCITTRLE || p.compression == COMPRESSION_CCITTFAX3 ||
                       p.compression == COMPRESSION_CCITTFAX4;
    if (ccitt && (bits != 1 || p.samples != 1)) failCodec(where, "CCITT fax compression of other than bilevel pages");
    std::uint16_t colours = 1;
    switch (photometric) {
        case PHOTOMETRIC_MINISBLACK: break;
        case PHOTOMETRIC_MINISWHITE: p.minIsWhite = true; break;
        case PHOTOMETRIC_RGB: colours = 3; break;
        case PHOTOMETRIC_PALETTE: break;
        case PHOTOMETRIC_YCBCR:
            if (p.compression != COMPRESSION_JPEG)
                failCodec(where, "YCbCr colour is not supported other than JPEG-compressed");
            p.jpegRgb = true;
            colours = 3;
            break;
        case PHOTOMETRIC_SEPARATED: {
            std::uint16_t inks = INKSET_CMYK;
            TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inks);
            if (inks != INKSET_CMYK || p.samples != 4)
                failCodec(where, "separated colour other than CMYK of four channels is not supported");
            p.cmyk = true;
            colours = 4;
            break;
        }
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB: failCodec(where, "Lab colour is not supported");
        default: failCodec(where, "photometric interpretation " + std::to_string(photometric) + " is not supported");
    }
    if (p.samples < colours || p.samples > colours + 1)
        failCodec(where, std::to_string(p.samples) + " samples per pixel are not supported for " +
                             (colours == 3 ? "RGB (3, or 4 with alpha, are)" : "gray (1, or 2 with alpha, are)"));
    p.channels = p.samples;
    const bool unsignedInts = format == SAMPLEFORMAT_UINT;
    if (photometric == PHOTOMETRIC_PALETTE) {
        if (p.samples != 1) failCodec(where, "palette colour with an extra sample is not supported");
        if (!unsignedInts || (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16))
            failCodec(where, "palette indices of " + std::to_string(bits) + " bits are not supported (1 to 16 are)");
        std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
            failCodec(where, "is a palette image without a colour map");
        const std::size_t entries = std::size_t{1} << bits;
        p.colormap.reserve(3 * entries);
        for (const std::uint16_t* table : {red, green, blue}) p.colormap.insert(p.colormap.end(), table, table + entries);
        p.conversion = Conversion::palette;
        p.channels = 3;
        p.paletteScale = paletteScale(p.colormap);
        p.type = p.paletteScale == PaletteScale::sixteenBits ? SampleType::uint16 : SampleType::uint8;
    } else if (unsignedInts && (bits == 1 || bits == 2 || bits == 4)) {
        if (p.samples != 1)
            failCodec(where, "samples of " + std::to_string(bits) + " bits are supported for gray alone");
        p.conversion = Conversion::lowGray;
        p.type = SampleType::uint8;
    } else if (unsignedInts && bits == 12) {
        p.conversion = Conversion::twelveBits;
        p.type = SampleType::uint16;
    } else {
        p.type = sampleTypeFrom(where, format, bits);
        if (p.minIsWhite) {
            if (!unsignedInts) failCodec(where, "white-is-zero gray of other than unsigned integers is not supported");
            p.conversion = Conversion::invert;
        }
    }
    if (p.samples > colours) {
        std::uint16_t count = 0;
        std::uint16_t* kinds = nullptr;
        if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count >= 1 && kinds != nullptr)
            p.associatedAlpha = kinds[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    if (planar != PLANARCONFIG_CONTIG && planar != PLANARCONFIG_SEPARATE)
        failCodec(where, "planar configuration " + std::to_string(planar) + " is not supported");
    p.separate = planar == PLANARCONFIG_SEPARATE && p.samples > 1;
    p.tiled = TIFFIsTiled(tif) != 0;
    if (bits % 8 != 0 && (p.tiled || p.separate))
        failCodec(where, "samples of " + std::to_string(bits) + " bits are supported in strips of interleaved "
                                                                "samples, not in " +
                             (p.tiled ? "tiles" : "separate planes"));
    if (p.tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &p.tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &p.tileLength);
        if (p.tileWidth == 0 || p.tileLength == 0) failCodec(where, "a tile has a zero extent");
    } else {
        std::uint32_t rows = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
        p.tileLength = rows == 0 ? p.height : std::min(rows, p.height);
    }
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    if (TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 && orientation <= 8)
        p.orientation = orientation;
    prepareDirectory(tif, p);
    return p;
}

// One row of a strip or tile as decoded: `pixels` pixels of `samples`
// samples each, rows padded to whole bytes.
std::uint64_t storedRowBytes(const TiffPage& p, std::uint64_t pixels, std::uint32_t samples) {
    const std::uint16_t bits = p.jpegRgb ? 8 : p.storedBits;
    return (pixels * samples * bits + 7) / 8;
}

// Of a stored sample, for the pages stored in whole bytes.
std::uint64_t bytesPerSample(const TiffPage& p) { return p.jpegRgb ? 1 : p.storedBits / 8u; }

// The bytes one decoded strip or tile holds.
std::uint64_t decodedBytes(const TiffPage& p, std::uint32_t strile) {
    const std::uint32_t samples = p.separate ? 1 : p.samples;
    if (p.tiled) return storedRowBytes(p, p.tileWidth, samples) * p.tileLength;
    const std::uint32_t strips = (p.height + p.tileLength - 1) / p.tileLength;
    const std::uint32_t inPlane = strile % strips;
    const std::uint32_t rows = std::min(p.tileLength, p.height - inPlane * p.tileLength);
    return storedRowBytes(p, p.width, samples) * rows;
}

// Every strip or tile of the current directory lies inside the file and is
// large enough to hold what it decodes to, and the strips of all pages so far
// (`dataBytes`, which grows by this page's) together fit in the file: real
// files do not share strips between pages, and this bounds what all pages
// decode to by the file's size.
void checkStriles(TIFF* tif, const TiffPage& p, std::string_view where, std::uint64_t fileSize,
                  std::uint64_t& dataBytes) {
    const std::uint64_t across = p.tiled ? (std::uint64_t{p.width} + p.tileWidth - 1) / p.tileWidth : 1;
    const std::uint64_t down = (std::uint64_t{p.height} + p.tileLength - 1) / p.tileLength;
    const std::uint64_t expected = across * down * (p.separate ? p.samples : 1);
    const std::uint64_t count = p.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    const char* const kind = p.tiled ? "tile" : "strip";
    if (count < expected)
        failCodec(where, "the file lists " + std::to_string(count) + " " + kind + "s where the image needs " +
                             std::to_string(expected));
    const std::uint64_t expansion =
        maxExpansion(p.compression, storedRowBytes(p, p.tiled ? p.tileWidth : p.width, p.separate ? 1 : p.samples));
    for (std::uint32_t s = 0; s < expected; ++s) {
        int error = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, s, &error);
        const std::uint64_t bytes = error == 0 ? TIFFGetStrileByteCountWithErr(tif, s, &error) : 0;
        const std::string which = std::string(kind) + " " + std::to_string(s + 1);
        if (error != 0) failCodec(where, "cannot read the position of " + which);
        if (bytes == 0) failCodec(where, which + " has no data");
        if (offset > fileSize || bytes > fileSize - offset)
            failCodec(where, which + " lies outside the file (it starts at byte " + std::to_string(offset) +
                                 " and takes " + std::to_string(bytes) + " bytes, in a file of " +
                                 std::to_string(fileSize) + "; it is truncated or damaged)");
        const std::uint64_t needed = decodedBytes(p, s);
        if (p.compression == COMPRESSION_NONE ? bytes < needed : needed / expansion > bytes)
            failCodec(where, which + " has " + std::to_string(bytes) + " bytes, too few for the " +
                                 std::to_string(needed) + " it decodes to (the file is truncated or damaged)");
        // Both at most the file's size: the sum cannot wrap.
        dataBytes += bytes;
        if (dataBytes > fileSize)
            failCodec(where, "the strips of the pages take more than the file's " + std::to_string(fileSize) +
                                 " bytes (they overlap; the file is damaged)");
    }
}

// A directory takes at least its entry count, five entries (width, height,
// bits per sample, strip offsets and byte counts) and the next offset, and
// its page at least one byte of data. A chain of more pages than that allows
// cannot be a file's real content.
constexpr std::uint64_t kMinPageBytes = 2 + 5 * 12 + 4 + 1;

// Whether the current directory is a reduced-resolution copy of another
// page (an overview of a pyramid), not a page of its own.
bool isOverview(TIFF* tif) {
    std::uint32_t kind = 0;
    return TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &kind) && (kind & FILETYPE_REDUCEDIMAGE) != 0;
}

// Walks every directory, checking each page before any is decoded.
// Overviews are left out, counted in `overviews` (those in SubIFDs, which
// the chain of pages never visits, too).
std::vector<TiffPage> readLayouts(TIFF* tif, Diagnostics& d, std::string_view name, std::uint64_t fileSize,
                                  const ImageReadOptions& options, std::uint64_t& overviews) {
    std::vector<TiffPage> pages;
    std::uint64_t dataBytes = 0;
    for (tdir_t dir = 0;; ++dir) {
        const auto page = static_cast<tdir_t>(pages.size());
        const std::string where = page == 0 ? std::string(name) : pageName(name, page);
        if (dir >= options.maxPages)
            failCodec(name, "has more than " + std::to_string(options.maxPages) + " pages, the limit");
        if (dir > 0 && (std::uint64_t{dir} + 1) * kMinPageBytes > fileSize)
            failCodec(name, "its chain of directories goes on past page " + std::to_string(dir) +
                                ", more pages than a file of " + std::to_string(fileSize) +
                                " bytes can hold (it is damaged)");
        if (dir > 0) {
            d.clear();
            if (!TIFFReadDirectory(tif)) failCodec(where, "invalid TIFF data: " + d.text());
        }
        std::uint16_t subIfds = 0;
        void* subIfdOffsets = nullptr;
        if (TIFFGetField(tif, TIFFTAG_SUBIFD, &subIfds, &subIfdOffsets)) overviews += subIfds;
        if (isOverview(tif)) {
            ++overviews;
            if (TIFFLastDirectory(tif)) break;
            continue;
        }
        TiffPage p = readLayout(tif, where);
        p.directory = dir;
        checkPixelLimit(where, p.width, p.height, options, fileSize);
        // A tile is decoded whole into a buffer of its own; real tiles are at
        // most the image rounded up to a multiple of 16.
        if (p.tiled && std::uint64_t{p.tileWidth} * p.tileLength > std::max<std::uint64_t>(options.maxPixels, 1 << 16))
            failCodec(where, "its tiles of " + std::to_string(p.tileWidth) + "x" + std::to_string(p.tileLength) +
                                 " are larger than the pixel limit of " + std::to_string(options.maxPixels));
        if (page > 0) {
            const TiffPage& first = pages.front();
            if (p.width != first.width || p.height != first.height || p.channels != first.channels ||
                p.type != first.type)
                failCodec(name, "page " + std::to_string(page + 1) + " is " + describe(p) + ", page 1 is " +
                                    describe(first) + "; the pages of a stack must agree");
        }
        checkStriles(tif, p, where, fileSize, dataBytes);
        pages.push_back(std::move(p));
        if (TIFFLastDirectory(tif)) break;
    }
    if (pages.empty()) failCodec(name, "holds reduced-resolution overviews only, no full-resolution page");
    return pages;
}

// Stored rows into the page's samples (Conversion). `count` pixels of `p`;
// `from` holds them as decoded, `to` receives p.channels samples of p.type
// each.
void convertRow(const TiffPage& p, const unsigned char* from, unsigned char* to, std::uint32_t count) {
    const std::uint16_t bits = p.storedBits;
    // The i-th sample of a row packed at `bits` bits, most significant first.
    auto packed = [&](std::size_t i) -> unsigned {
        const std::size_t bit = i * bits;
        return (from[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
    };
    switch (p.conversion) {
        case Conversion::none:
            std::memcpy(to, from, std::size_t{count} * p.channels * (bitsOf(p.type) / 8));
            return;
        case Conversion::lowGray: {
            // 1, 2 and 4 bits: v * 255 / (2^bits - 1) is exact (255, 85, 17),
            // and equals the bit replication PNG's low depths get.
            const unsigned scale = 255 / ((1u << bits) - 1);
            for (std::uint32_t x = 0; x < count; ++x) {
                const auto v = static_cast<unsigned char>(packed(x) * scale);
                to[x] = p.minIsWhite ? static_cast<unsigned char>(255 - v) : v;
            }
            return;
        }
        case Conversion::twelveBits: {
            // The nearest 16-bit value to the same fraction of full scale,
            // round(v * 65535 / 4095): the rule that gives the low depths'
            // exact multiples. Bit replication ((v << 4) | (v >> 8)) would
            // be up to one step off it for some values.
            auto* out = reinterpret_cast<std::uint16_t*>(to);
            const std::size_t samples = std::size_t{count} * p.samples;
            for (std::size_t i = 0; i < samples; ++i) {
                const std::size_t bit = i * 12;
                const unsigned hi = from[bit / 8], lo = from[bit / 8 + 1];
                const unsigned v = bit % 8 == 0 ? (hi << 4) | (lo >> 4) : ((hi & 0x0f) << 8) | lo;
                const auto scaled = static_cast<std::uint16_t>((v * 65535u + 2047u) / 4095u);
                out[i] = p.minIsWhite && i % p.samples == 0 ? static_cast<std::uint16_t>(65535 - scaled) : scaled;
            }
            return;
        }
        case Conversion::palette: {
            const std::size_t entries = std::size_t{1} << bits;
            const bool eight = p.type == SampleType::uint8;
            const unsigned shift = p.paletteScale == PaletteScale::shifted ? 8 : 0;
            auto* out16 = reinterpret_cast<std::uint16_t*>(to);
            for (std::uint32_t x = 0; x < count; ++x) {
                std::size_t index;
                if (bits == 16) {
                    std::uint16_t v;
                    std::memcpy(&v, from + 2 * std::size_t{x}, 2);
                    index = v;
                } else {
                    index = bits == 8 ? from[x] : packed(x);
                }
                for (std::size_t c = 0; c < 3; ++c) {
                    const std::uint16_t v = p.colormap[c * entries + index];
                    if (eight) to[std::size_t{x} * 3 + c] = static_cast<unsigned char>(v >> shift);
                    else out16[std::size_t{x} * 3 + c] = v;
                }
            }
            return;
        }
        case Conversion::invert:
            // White-is-zero gray; an alpha channel after it stays as stored.
            withSampleType(p.type, [&](auto zero) {
                using T = decltype(zero);
                if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
                    const std::size_t step = p.channels;
                    std::memcpy(to, from, std::size_t{count} * step * sizeof(T));
                    auto* out = reinterpret_cast<T*>(to);
                    for (std::size_t x = 0; x < count; ++x) out[x * step] = static_cast<T>(~out[x * step]);
                }
            });
            return;
    }
}

// Un-premultiplies colour by alpha (the last channel) in interleaved rows,
// as the tool's images hold straight alpha. Integers round to nearest and
// saturate; where alpha is zero the colour is zero.
template <class T>
void unassociateAlpha(T* pixels, std::size_t count, std::uint32_t channels) {
    const std::uint32_t colours = channels - 1;
    const double top = nominalMax(sampleTypeFor<T>());
    for (std::size_t i = 0; i < count; ++i, pixels += channels) {
        const T alpha = pixels[colours];
        const double a = static_cast<double>(alpha);
        for (std::uint32_t c = 0; c < colours; ++c) {
            T& colour = pixels[c];
            if constexpr (std::is_floating_point_v<T>) {
                colour = a != 0 ? static_cast<T>(colour / alpha) : T{0};
            } else {
                colour = a > 0 ? storeSample<T>(static_cast<double>(colour) * top / a) : T{0};
            }
        }
    }
}

std::optional<TiffCompression> fileCompression(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_LZW: return TiffCompression::lzw;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return TiffCompression::deflate;
        case COMPRESSION_JPEG: return TiffCompression::jpeg;
        // Fax pages become 8-bit gray, which deflate keeps small.
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4: return TiffCompression::deflate;
        default: return TiffCompression::none;  // PackBits too: read, written plain
    }
}

// ---------------------------------------------------------------- writing

std::uint16_t sampleFormatOf(SampleType type) {
    if (isFloat(type)) return SAMPLEFORMAT_IEEEFP;
    return isSigned(type) ? SAMPLEFORMAT_INT : SAMPLEFORMAT_UINT;
}

std::uint16_t compressionTag(TiffCompression c) {
    switch (c) {
        case TiffCompression::lzw: return COMPRESSION_LZW;
        case TiffCompression::deflate: return COMPRESSION_ADOBE_DEFLATE;
        case TiffCompression::jpeg: return COMPRESSION_JPEG;
        case TiffCompression::none: break;
    }
    return COMPRESSION_NONE;
}

// Strips of about this many bytes: small enough for the encoder's buffers to
// stay in cache, large enough that the strip tables stay short.
constexpr std::uint64_t kStripBytes = 64 * 1024;

void validatePages(const ImageFile& file, std::string_view name) {
    if (file.pages.empty()) failCodec(name, "there is no image to write");
    const Image& first = file.pages.front();
    for (std::size_t i = 0; i < file.pages.size(); ++i) {
        const Image& page = file.pages[i];
        if (page.empty()) failCodec(name, "page " + std::to_string(i + 1) + " holds no samples");
        if (page.width == 0 || page.height == 0) failCodec(name, "cannot write an image with a zero extent");
        if (page.channels < 1 || page.channels > 4)
            failCodec(name, "cannot write an image with " + std::to_string(page.channels) +
                                " channels (1 to 4 are supported)");
        if (page.width != first.width || page.height != first.height || page.channels != first.channels ||
            page.sampleType() != first.sampleType())
            failCodec(name, "page " + std::to_string(i + 1) + " differs from page 1 in size, channels or "
                                "sample type; the pages of a stack must agree");
    }
    if (file.pages.size() > 65535) failCodec(name, "cannot write more than 65535 pages");
}

}  // namespace

namespace {

class TiffReader final : public ImageReader {
public:
    TiffReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options);
    const StreamInfo& info() const noexcept override { return info_; }
    void readRows(unsigned char* band, std::uint32_t rows) override;
    void nextPage() override;

private:
    const std::string& name() const { return source_->name(); }
    std::string where() const { return layouts_.size() == 1 ? name() : pageName(name(), page_); }
    void startPage();
    void fillBlock(std::uint32_t block);
    void readPlainRow(std::uint32_t row, unsigned char* to);

    std::unique_ptr<ByteSource> source_;
    Diagnostics d_;  // before the handle, which reports into it until closed
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> openOptions_;
    TiffPtr tif_;
    std::vector<TiffPage> layouts_;
    StreamInfo info_;
    tdir_t page_ = 0;
    std::uint32_t row_ = 0;  // rows of the page handed over
    // Tiles, and strips of separate planes, are decoded a block of rows
    // (a row of tiles, a strip of every plane) at a time into `block_`,
    // interleaved; compressed strips of contiguous samples row by row by
    // libtiff, which holds a strip's compressed bytes; uncompressed ones are
    // read a row at a time from the file here, as libtiff would read a whole
    // strip (which can be the whole page) before its first row.
    bool blocks_ = false;
    bool plain_ = false;
    std::size_t blockRowBytes_ = 0;     // a row of block_, as stored
    std::vector<std::uint64_t> block_;  // aligned for any sample type
    std::vector<std::uint64_t> stored_;  // one row as stored, when it is converted
    std::uint32_t blockNumber_ = 0xffffffffu;
    std::vector<unsigned char> chunk_;  // one decoded tile or strip
};

TiffReader::TiffReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options)
    : source_(std::move(source)) {
    const std::uint64_t fileSize = source_->size();
    // libtiff's own allocations are its directory tables (at most 8 bytes
    // per strip, whose entries the file holds in 4 or more) and its strip
    // buffers (at most a strip, which the file holds); anything beyond that
    // is a lie of the header.
    const std::uint64_t cap = std::max<std::uint64_t>(std::uint64_t{16} << 20, 2 * fileSize + (1 << 20));
    openOptions_ = openOptions(d_, static_cast<tmsize_t>(
                                       std::min<std::uint64_t>(cap, std::numeric_limits<tmsize_t>::max())));
    // "c": strips as stored, not split by libtiff, so that the checks below
    // see the file's own offsets and counts.
    tif_.reset(TIFFClientOpenExt(name().c_str(), "rc", source_.get(), inputRead, refuseWrite, inputSeek,
                                 closeNothing, inputSize, inputMap, unmapNothing, openOptions_.get()));
    if (!tif_) failCodec(name(), "invalid TIFF data: " + d_.text());
    std::uint64_t overviews = 0;
    layouts_ = readLayouts(tif_.get(), d_, name(), fileSize, options, overviews);
    if (overviews > 0)
        warnReading(options, name(), std::to_string(overviews) + " reduced-resolution overview" +
                                         (overviews > 1 ? "s were" : " was") +
                                         " left out; the full-resolution page" +
                                         (layouts_.size() > 1 ? "s are" : " is") + " read");
    const TiffPage& first = layouts_.front();
    info_.format = ImageFormat::tiff;
    info_.page = {first.width, first.height, first.channels, first.type};
    info_.pages = static_cast<std::uint32_t>(layouts_.size());
    info_.compression = fileCompression(first.compression);
    info_.metadata.orientation = first.orientation;
    if (first.cmyk) info_.metadata.colour = ColourModel::cmyk;
    // A strip or a row of tiles; strips of contiguous samples come row by
    // row, so a tall strip need not be asked for whole.
    info_.bandRows = std::min({first.tileLength, first.height, first.tiled || first.separate ? first.height : 64u});
    d_.clear();
    if (!TIFFSetDirectory(tif_.get(), first.directory)) failCodec(name(), "invalid TIFF data: " + d_.text());
    std::uint32_t iccBytes = 0;
    void* icc = nullptr;
    if (TIFFGetField(tif_.get(), TIFFTAG_ICCPROFILE, &iccBytes, &icc) && icc != nullptr && iccBytes > 0) {
        const auto* bytes = static_cast<const std::byte*>(icc);
        info_.metadata.iccProfile.assign(bytes, bytes + iccBytes);
    }
    startPage();
}

void TiffReader::startPage() {
    const TiffPage& p = layouts_[page_];
    prepareDirectory(tif_.get(), p);
    row_ = 0;
    blockNumber_ = 0xffffffffu;
    blocks_ = p.tiled || p.separate;
    plain_ = !blocks_ && p.compression == COMPRESSION_NONE && p.conversion == Conversion::none;
    stored_ = {};
    if (!blocks_) {
        block_ = {};
        chunk_ = {};
        // libtiff decodes rows of the size it computes; a codec whose rows
        // differ from what the layout says (an odd JPEG colour setup) is
        // refused rather than read past its rows' ends.
        const std::uint64_t rowBytes = storedRowBytes(p, p.width, p.samples);
        if (!plain_ && static_cast<std::uint64_t>(TIFFScanlineSize64(tif_.get())) != rowBytes)
            failCodec(where(), "invalid TIFF data: its rows decode to " +
                                   std::to_string(TIFFScanlineSize64(tif_.get())) + " bytes where " +
                                   std::to_string(rowBytes) + " were expected");
        if (p.conversion != Conversion::none) stored_.resize((bufferBytes(where(), rowBytes, 1) + 8) / 8);
        return;
    }
    const tmsize_t chunkBytes = p.tiled ? TIFFTileSize(tif_.get()) : TIFFStripSize(tif_.get());
    if (chunkBytes <= 0) failCodec(where(), std::string("invalid TIFF data: the ") +
                                                (p.tiled ? "tile" : "strip") + " size overflows");
    chunk_.resize(static_cast<std::size_t>(chunkBytes));
    blockRowBytes_ = static_cast<std::size_t>(storedRowBytes(p, p.width, p.samples));
    const std::size_t blockBytes = bufferBytes(where(), blockRowBytes_, std::min(p.tileLength, p.height));
    block_.resize((blockBytes + 7) / 8);
}

void TiffReader::fillBlock(std::uint32_t block) {
    const TiffPage& p = layouts_[page_];
    const std::uint32_t first = block * p.tileLength;
    const std::uint32_t count = std::min(p.tileLength, p.height - first);
    const std::size_t sampleBytes = bytesPerSample(p);
    const std::size_t rowBytes = blockRowBytes_;
    const std::uint32_t planes = p.separate ? p.samples : 1;
    const std::uint32_t chunkSamples = p.separate ? 1 : p.samples;  // per pixel
    const std::uint32_t chunkWidth = p.tiled ? p.tileWidth : p.width;
    const std::size_t chunkRowBytes = std::size_t{chunkWidth} * chunkSamples * sampleBytes;
    auto* out = reinterpret_cast<unsigned char*>(block_.data());
    auto failAt = [&](const std::string& what) {
        failCodec(where(), "invalid TIFF data at row " + std::to_string(first + 1) + " (" + what + "): " + d_.text());
    };
    for (std::uint32_t plane = 0; plane < planes; ++plane) {
        for (std::uint32_t x0 = 0; x0 < p.width; x0 += chunkWidth) {
            d_.clear();
            if (p.tiled) {
                const std::uint32_t t = TIFFComputeTile(tif_.get(), x0, first, 0, static_cast<std::uint16_t>(plane));
                const auto size = static_cast<tmsize_t>(chunk_.size());
                if (TIFFReadEncodedTile(tif_.get(), t, chunk_.data(), size) != size)
                    failAt("tile " + std::to_string(t + 1));
            } else {
                const std::uint32_t strip = TIFFComputeStrip(tif_.get(), first, static_cast<std::uint16_t>(plane));
                const auto size = static_cast<tmsize_t>(chunkRowBytes * count);
                if (TIFFReadEncodedStrip(tif_.get(), strip, chunk_.data(), size) != size)
                    failAt("strip " + std::to_string(strip + 1));
            }
            const std::uint32_t used = std::min(chunkWidth, p.width - x0);
            for (std::uint32_t r = 0; r < count; ++r) {
                const unsigned char* from = chunk_.data() + r * chunkRowBytes;
                unsigned char* to = out + r * rowBytes + std::size_t{x0} * p.samples * sampleBytes;
                if (!p.separate) {
                    std::memcpy(to, from, std::size_t{used} * p.samples * sampleBytes);
                    continue;
                }
                to += plane * sampleBytes;
                const std::size_t step = std::size_t{p.samples} * sampleBytes;
                for (std::uint32_t x = 0; x < used; ++x, to += step, from += sampleBytes)
                    std::memcpy(to, from, sampleBytes);
            }
        }
    }
    blockNumber_ = block;
}

void TiffReader::readPlainRow(std::uint32_t row, unsigned char* to) {
    const TiffPage& p = layouts_[page_];
    const std::size_t rowBytes = info_.page.rowBytes();
    const std::uint32_t strip = row / p.tileLength;
    int error = 0;
    // Within the file and long enough for its rows: checked when opened.
    const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif_.get(), strip, &error) +
                                 std::uint64_t{row - strip * p.tileLength} * rowBytes;
    if (error != 0 || source_->readAt(offset, std::span(reinterpret_cast<std::byte*>(to), rowBytes)) != rowBytes)
        failCodec(where(), "invalid TIFF data at row " + std::to_string(row + 1) +
                               ": the file ends early or cannot be read" + source_->errorText());
    if (TIFFIsByteSwapped(tif_.get()) == 0) return;
    const auto count = static_cast<tmsize_t>(std::size_t{p.width} * p.samples);
    switch (bytesPerSample(p)) {
        case 2: TIFFSwabArrayOfShort(reinterpret_cast<std::uint16_t*>(to), count); break;
        case 4: TIFFSwabArrayOfLong(reinterpret_cast<std::uint32_t*>(to), count); break;
        case 8: TIFFSwabArrayOfDouble(reinterpret_cast<double*>(to), count); break;
        default: break;
    }
}

void TiffReader::readRows(unsigned char* band, std::uint32_t rows) {
    const TiffPage& p = layouts_[page_];
    if (rows > p.height - row_)
        failCodec(where(), "asked for rows past the last (" + std::to_string(row_ + rows) + " of " +
                               std::to_string(p.height) + ")");
    const std::size_t rowBytes = info_.page.rowBytes();
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint32_t row = row_ + r;
        unsigned char* to = band + r * rowBytes;
        if (plain_) {
            readPlainRow(row, to);
            continue;
        }
        if (!blocks_) {
            const bool converted = p.conversion != Conversion::none;
            auto* stored = converted ? reinterpret_cast<unsigned char*>(stored_.data()) : to;
            d_.clear();
            if (TIFFReadScanline(tif_.get(), stored, row, 0) < 0)
                failCodec(where(), "invalid TIFF data at row " + std::to_string(row + 1) + ": " + d_.text());
            if (converted) convertRow(p, stored, to, p.width);
            continue;
        }
        const std::uint32_t block = row / p.tileLength;
        if (block != blockNumber_) fillBlock(block);
        convertRow(p,
                   reinterpret_cast<const unsigned char*>(block_.data()) +
                       std::size_t{row - block * p.tileLength} * blockRowBytes_,
                   to, p.width);
    }
    if (p.associatedAlpha)
        withSampleType(p.type, [&](auto zero) {
            using T = decltype(zero);
            unassociateAlpha(reinterpret_cast<T*>(band), std::size_t{rows} * p.width, p.channels);
        });
    row_ += rows;
}

void TiffReader::nextPage() {
    if (row_ != layouts_[page_].height)
        failCodec(where(), "the next page was asked for after " + std::to_string(row_) + " of " +
                               std::to_string(layouts_[page_].height) + " rows");
    if (page_ + 1u >= layouts_.size()) failCodec(name(), "has no page after page " + std::to_string(page_ + 1));
    ++page_;
    // On along the chain, past any overviews between the pages.
    while (TIFFCurrentDirectory(tif_.get()) < layouts_[page_].directory) {
        d_.clear();
        if (!TIFFReadDirectory(tif_.get())) failCodec(where(), "invalid TIFF data: " + d_.text());
    }
    startPage();
}

class TiffWriter final : public ImageWriter {
public:
    TiffWriter(ByteOutput& output, const StreamInfo& out, std::string_view name, const ImageWriteOptions& options);
    void writeRows(const unsigned char* band, std::uint32_t rows) override;
    void nextPage() override;
    void finish() override;

private:
    [[noreturn]] void fail() {
        failCodec(name_, "TIFF encoding failed: " + (handle_.failure.empty() ? d_.text() : handle_.failure));
    }
    void startPage();
    void flushStrip();

    std::string name_;
    StreamInfo out_;
    std::uint16_t compression_ = COMPRESSION_NONE;
    int jpegQuality_ = 90;
    bool cmyk_ = false;    // four channels of ink, stored separated
    bool invert_ = false;  // given in Adobe's inverted convention
    OutputHandle handle_;
    Diagnostics d_;
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> openOptions_;
    TiffPtr tif_;
    std::uint32_t page_ = 0;
    std::uint32_t row_ = 0;        // rows of the page given
    std::uint32_t stripRows_ = 0;  // rows per strip
    std::uint32_t inStrip_ = 0;    // rows gathered in strip_
    std::uint32_t strip_ = 0;      // the strip they go to
    std::vector<std::uint64_t> buffer_;  // aligned for any sample type
};

TiffWriter::TiffWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                       const ImageWriteOptions& options)
    : name_(name), out_(out) {
    const PageLayout& page = out.page;
    if (page.width == 0 || page.height == 0) failCodec(name, "cannot write an image with a zero extent");
    if (page.channels < 1 || page.channels > 4)
        failCodec(name, "cannot write an image with " + std::to_string(page.channels) +
                            " channels (1 to 4 are supported)");
    if (out.pages == 0) failCodec(name, "there is no image to write");
    if (out.pages > 65535) failCodec(name, "cannot write more than 65535 pages");
    if (!out.metadata.exif.empty() && options.warning)
        options.warning(std::string(name) + ": EXIF not written to TIFF (the EXIF data is dropped)");
    compression_ = compressionTag(options.tiffCompression.value_or(out.compression.value_or(TiffCompression::none)));
    const bool alpha = !isCmyk(out.metadata.colour) && (page.channels == 2 || page.channels == 4);
    if (compression_ == COMPRESSION_JPEG && (page.type != SampleType::uint8 || alpha)) {
        const std::string layout = std::to_string(page.channels) + " channels of " +
                                   std::string(sampleTypeName(page.type));
        // Asked for: refused. Kept from a JPEG-compressed input whose image
        // has changed kind: lossless instead, saying so.
        if (options.tiffCompression)
            failCodec(name, "JPEG compression in TIFF holds 8-bit gray or RGB without alpha, and the image has " +
                                layout + "; choose another compression");
        if (options.warning)
            options.warning(std::string(name) + ": written with Deflate compression instead of the input's JPEG, "
                                                "which cannot hold " + layout);
        compression_ = COMPRESSION_ADOBE_DEFLATE;
    }
    jpegQuality_ = options.jpegQuality;
    cmyk_ = isCmyk(out.metadata.colour);
    if (cmyk_ && page.channels != 4)
        failCodec(name, "a CMYK image has four channels, not " + std::to_string(page.channels));
    // Adobe's inverted samples (from a JPEG) are turned back: TIFF stores
    // 0 for no ink.
    invert_ = out.metadata.colour == ColourModel::cmykInverted;
    if (invert_ && isSigned(page.type))
        failCodec(name, "inverted CMYK samples of " + std::string(sampleTypeName(page.type)) + " cannot be written");
    if (compression_ == COMPRESSION_JPEG && (jpegQuality_ < 1 || jpegQuality_ > 100))
        failCodec(name, "the JPEG quality must be 1 to 100, not " + std::to_string(jpegQuality_));
    const std::uint64_t dataBytes = std::uint64_t{out.pages} * page.height * page.rowBytes();
    handle_.output = &output;
    openOptions_ = openOptions(d_, 0);  // 0: no cap on what libtiff allocates for writing
    // Little-endian whatever the machine, so that every machine writes the
    // same bytes; BigTIFF only when classic 32-bit offsets may not reach.
    const char* mode =
        dataBytes + out.metadata.iccProfile.size() > (std::uint64_t{1} << 32) - (64 << 20) ? "wl8" : "wl";
    tif_.reset(TIFFClientOpenExt(name_.c_str(), mode, &handle_, outputRead, outputWrite, outputSeek, closeNothing,
                                 outputSize, mapNothing, unmapNothing, openOptions_.get()));
    if (!tif_) failCodec(name, "cannot start the TIFF encoder: " + d_.text());
    const std::uint64_t rowBytes = page.rowBytes();
    stripRows_ = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(kStripBytes / rowBytes, 1, page.height));
    // JPEG strips hold whole rows of MCUs: 16 rows with chroma halved.
    if (compression_ == COMPRESSION_JPEG && stripRows_ < page.height)
        stripRows_ = std::min(page.height, std::max(16u, stripRows_ / 16 * 16));
    buffer_.resize((bufferBytes(name, rowBytes, stripRows_) + 7) / 8);
    startPage();
}

void TiffWriter::startPage() {
    TIFF* tif = tif_.get();
    const PageLayout& page = out_.page;
    const auto channels = static_cast<std::uint16_t>(page.channels);
    const auto bits = static_cast<std::uint16_t>(bitsOf(page.type));
    const ImageMetadata& metadata = out_.metadata;
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits) &&
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, sampleFormatOf(page.type)) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, compression_) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, stripRows_);
    const bool jpeg = compression_ == COMPRESSION_JPEG;
    // JPEG-coded colour is stored as YCbCr with halved chroma, as JPEG
    // files are; libjpeg converts the RGB rows given.
    const std::uint16_t photometric = cmyk_           ? PHOTOMETRIC_SEPARATED
                                      : channels >= 3 ? (jpeg ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB)
                                                      : PHOTOMETRIC_MINISBLACK;
    ok = ok && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    if (cmyk_) ok = ok && TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    if (jpeg) {
        ok = ok && TIFFSetField(tif, TIFFTAG_JPEGQUALITY, jpegQuality_);
        if (photometric == PHOTOMETRIC_YCBCR)
            ok = ok && TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, std::uint16_t{2}, std::uint16_t{2}) &&
                 TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (!cmyk_ && (channels == 2 || channels == 4)) {
        const std::uint16_t kinds[1] = {EXTRASAMPLE_UNASSALPHA};
        ok = ok && TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, std::uint16_t{1}, kinds);
    }
    // Horizontal differencing makes integer images compress far better; it
    // is left off for floats, where the integer differences of their bit
    // patterns help little and common readers lack the float predictor.
    if (compression_ != COMPRESSION_NONE && !jpeg && !isFloat(page.type))
        ok = ok && TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (metadata.orientation >= 2 && metadata.orientation <= 8)
        ok = ok && TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(metadata.orientation));
    if (!metadata.iccProfile.empty())
        ok = ok && TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(metadata.iccProfile.size()),
                                metadata.iccProfile.data());
    if (out_.pages > 1)
        ok = ok && TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
             TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(page_),
                          static_cast<std::uint16_t>(out_.pages));
    if (!ok) fail();
    row_ = 0;
    inStrip_ = 0;
    strip_ = 0;
}

void TiffWriter::flushStrip() {
    // Through a buffer of the writer's own: libtiff may change the data it
    // is given (byte swapping).
    const auto bytes = static_cast<tmsize_t>(out_.page.rowBytes() * inStrip_);
    if (TIFFWriteEncodedStrip(tif_.get(), strip_, buffer_.data(), bytes) < 0) fail();
    ++strip_;
    inStrip_ = 0;
}

void TiffWriter::writeRows(const unsigned char* band, std::uint32_t rows) {
    const PageLayout& page = out_.page;
    if (rows > page.height - row_)
        failCodec(name_, "given rows past the last (" + std::to_string(row_ + rows) + " of " +
                             std::to_string(page.height) + ")");
    const std::size_t rowBytes = page.rowBytes();
    auto* strip = reinterpret_cast<unsigned char*>(buffer_.data());
    while (rows > 0) {
        const std::uint32_t take = std::min(rows, stripRows_ - inStrip_);
        unsigned char* to = strip + std::size_t{inStrip_} * rowBytes;
        std::memcpy(to, band, std::size_t{take} * rowBytes);
        if (invert_)
            withSampleType(page.type, [&](auto zero) {
                using T = decltype(zero);
                if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
                    T* samples = reinterpret_cast<T*>(to);
                    for (std::size_t i = 0; i < std::size_t{take} * rowBytes / sizeof(T); ++i)
                        samples[i] = static_cast<T>(~samples[i]);
                }
            });
        band += std::size_t{take} * rowBytes;
        rows -= take;
        inStrip_ += take;
        row_ += take;
        if (inStrip_ == stripRows_ || row_ == page.height) flushStrip();
    }
}

void TiffWriter::nextPage() {
    if (row_ != out_.page.height)
        failCodec(name_, "page " + std::to_string(page_ + 1) + " ended after " + std::to_string(row_) + " of " +
                             std::to_string(out_.page.height) + " rows");
    if (page_ + 1 >= out_.pages) failCodec(name_, "more pages given than the " + std::to_string(out_.pages) + " announced");
    if (TIFFWriteDirectory(tif_.get()) == 0) fail();
    ++page_;
    startPage();
}

void TiffWriter::finish() {
    if (page_ + 1 != out_.pages || row_ != out_.page.height)
        failCodec(name_, "the stack ended on page " + std::to_string(page_ + 1) + " of " +
                             std::to_string(out_.pages) + ", after " + std::to_string(row_) + " of " +
                             std::to_string(out_.page.height) + " rows");
    if (TIFFWriteDirectory(tif_.get()) == 0) fail();
    // Closing flushes nothing more (every directory is written).
    tif_.reset();
    if (d_.message[0] != '\0' || !handle_.failure.empty()) fail();
}

}  // namespace

bool looksLikeTiff(std::span<const std::byte> bytes) noexcept {
    if (bytes.size() < 8) return false;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    // Byte order, then 42 (classic) or 43 (BigTIFF) in that order.
    return (b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
           (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43));
}

std::unique_ptr<ImageReader> openTiffReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options) {
    return std::make_unique<TiffReader>(std::move(source), options);
}

std::unique_ptr<ImageWriter> openTiffWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                            const ImageWriteOptions& options) {
    return std::make_unique<TiffWriter>(output, out, name, options);
}

ImageFile decodeTiff(std::span<const std::byte> bytes, std::string_view name, const ImageReadOptions& options) {
    if (!looksLikeTiff(bytes)) failCodec(name, "not a TIFF file" + contentHint(bytes));
    TiffReader reader(ByteSource::overBytes(bytes, std::string(name)), options);
    return readAllPages(reader, options);
}

std::vector<std::byte> encodeTiff(const ImageFile& file, std::string_view name, const ImageWriteOptions& options) {
    validatePages(file, name);
    VectorOutput output;
    TiffWriter writer(output, streamInfoOf(file, ImageFormat::tiff), name, options);
    for (std::size_t i = 0; i < file.pages.size(); ++i) {
        if (i > 0) writer.nextPage();
        writePage(writer, file.pages[i]);
    }
    writer.finish();
    return std::move(output.bytes());
}

}  // namespace axiswarp::tools
