#include "imagefile/tiff_codec.hpp"

#include "imagefile/band_pipeline.hpp"
#include "imagefile/codec_support.hpp"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

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

// Reading from the file in memory. libtiff is also handed the bytes as a
// mapped file, so it decodes straight from them without copying strips; it
// only reads through a mapping (its own maps are read-only too).
struct MemoryInput {
    const unsigned char* data = nullptr;
    std::uint64_t size = 0;
    std::uint64_t pos = 0;
};

tmsize_t inputRead(thandle_t h, void* buffer, tmsize_t n) {
    auto* in = static_cast<MemoryInput*>(h);
    if (n < 0 || in->pos >= in->size) return 0;
    const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), in->size - in->pos);
    std::memcpy(buffer, in->data + in->pos, static_cast<std::size_t>(count));
    in->pos += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t refuseWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t inputSeek(thandle_t h, toff_t offset, int whence) {
    auto* in = static_cast<MemoryInput*>(h);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = in->pos;
    else if (whence == SEEK_END) base = in->size;
    if (offset > std::numeric_limits<std::uint64_t>::max() - base) return static_cast<toff_t>(-1);
    in->pos = base + offset;  // past the end is allowed; reads there return nothing
    return in->pos;
}

int closeNothing(thandle_t) { return 0; }
toff_t inputSize(thandle_t h) { return static_cast<MemoryInput*>(h)->size; }

int inputMap(thandle_t h, void** base, toff_t* size) {
    auto* in = static_cast<MemoryInput*>(h);
    *base = const_cast<unsigned char*>(in->data);
    *size = in->size;
    return 1;
}
void unmapNothing(thandle_t, void*, toff_t) {}

// Writing into a growing buffer; libtiff seeks back to patch offsets and
// may read what it wrote when it rewrites a directory.
struct MemoryOutput {
    std::vector<std::byte> bytes;
    std::uint64_t pos = 0;
};

tmsize_t outputRead(thandle_t h, void* buffer, tmsize_t n) {
    auto* out = static_cast<MemoryOutput*>(h);
    if (n < 0 || out->pos >= out->bytes.size()) return 0;
    const std::uint64_t count =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(n), out->bytes.size() - out->pos);
    std::memcpy(buffer, out->bytes.data() + out->pos, static_cast<std::size_t>(count));
    out->pos += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t outputWrite(thandle_t h, void* data, tmsize_t n) {
    auto* out = static_cast<MemoryOutput*>(h);
    if (n < 0) return -1;
    const auto count = static_cast<std::uint64_t>(n);
    if (out->pos > std::numeric_limits<std::size_t>::max() - count) return -1;
    try {
        // Grown geometrically by the vector; a seek past the end leaves zeros.
        if (out->pos + count > out->bytes.size()) out->bytes.resize(static_cast<std::size_t>(out->pos + count));
    } catch (...) {
        return -1;
    }
    std::memcpy(out->bytes.data() + out->pos, data, static_cast<std::size_t>(count));
    out->pos += count;
    return n;
}

toff_t outputSeek(thandle_t h, toff_t offset, int whence) {
    auto* out = static_cast<MemoryOutput*>(h);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = out->pos;
    else if (whence == SEEK_END) base = out->bytes.size();
    if (offset > std::numeric_limits<std::uint64_t>::max() - base) return static_cast<toff_t>(-1);
    out->pos = base + offset;
    return out->pos;
}

toff_t outputSize(thandle_t h) { return static_cast<MemoryOutput*>(h)->bytes.size(); }
int mapNothing(thandle_t, void**, toff_t*) { return 0; }

// ---------------------------------------------------------------- reading

// The most a strip or tile can expand when decoded, for a compression read:
// deflate at most 1032-fold; LZW's codes of 9 to 12 bits stand for strings
// that grow by one byte per code, about 1400-fold at best (2048 leaves a
// margin); PackBits turns 2 bytes into 128. A strip that would need more is
// not what its header says.
std::uint64_t maxExpansion(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE: return 1;
        case COMPRESSION_PACKBITS: return 64;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return 1032;
        case COMPRESSION_LZW: return 2048;
        default: return 0;
    }
}

std::string compressionName(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4: return "CCITT fax compression";
        case COMPRESSION_OJPEG:
        case COMPRESSION_JPEG: return "JPEG compression";
        case COMPRESSION_JBIG: return "JBIG compression";
        case COMPRESSION_LZMA: return "LZMA compression";
        case COMPRESSION_ZSTD: return "Zstandard compression";
        case COMPRESSION_WEBP: return "WebP compression";
        default: return "compression scheme " + std::to_string(compression);
    }
}

// A page as its directory describes it.
struct PageLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samples = 0;  // samples per pixel = channels
    SampleType type = SampleType::uint8;
    std::uint16_t compression = COMPRESSION_NONE;
    bool separate = false;      // PLANARCONFIG_SEPARATE
    bool tiled = false;
    std::uint32_t tileWidth = 0;
    std::uint32_t tileLength = 0;  // rows of a tile, or of a strip
    bool associatedAlpha = false;
    int orientation = 1;
};

std::string describe(const PageLayout& p) {
    return std::to_string(p.width) + "x" + std::to_string(p.height) + " with " +
           std::to_string(p.samples) + (p.samples == 1 ? " channel" : " channels") + " of " +
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

// The current directory's layout, refused when the tool cannot hold it.
PageLayout readLayout(TIFF* tif, std::string_view where) {
    PageLayout p;
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

    p.type = sampleTypeFrom(where, format, bits);
    if (maxExpansion(p.compression) == 0) failCodec(where, compressionName(p.compression) + " is not supported");
    switch (photometric) {
        case PHOTOMETRIC_MINISBLACK: break;
        case PHOTOMETRIC_RGB: break;
        case PHOTOMETRIC_MINISWHITE:
            failCodec(where, "gray stored as white-is-zero (MinIsWhite) is not supported");
        case PHOTOMETRIC_PALETTE: failCodec(where, "palette colour is not supported");
        case PHOTOMETRIC_SEPARATED: failCodec(where, "CMYK (separated) colour is not supported");
        case PHOTOMETRIC_YCBCR: failCodec(where, "YCbCr colour is not supported");
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB: failCodec(where, "Lab colour is not supported");
        default: failCodec(where, "photometric interpretation " + std::to_string(photometric) + " is not supported");
    }
    const std::uint16_t colours = photometric == PHOTOMETRIC_RGB ? 3 : 1;
    if (p.samples < colours || p.samples > colours + 1)
        failCodec(where, std::to_string(p.samples) + " samples per pixel are not supported for " +
                             (colours == 3 ? "RGB (3, or 4 with alpha, are)" : "gray (1, or 2 with alpha, are)"));
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
    return p;
}

std::uint64_t bytesPerSample(const PageLayout& p) { return static_cast<std::uint64_t>(bitsOf(p.type) / 8); }

// The bytes one decoded strip or tile holds.
std::uint64_t decodedBytes(const PageLayout& p, std::uint32_t strile) {
    const std::uint64_t perPixel = bytesPerSample(p) * (p.separate ? 1 : p.samples);
    if (p.tiled) return std::uint64_t{p.tileWidth} * p.tileLength * perPixel;
    const std::uint32_t strips = (p.height + p.tileLength - 1) / p.tileLength;
    const std::uint32_t inPlane = strile % strips;
    const std::uint32_t rows = std::min(p.tileLength, p.height - inPlane * p.tileLength);
    return std::uint64_t{p.width} * rows * perPixel;
}

// Every strip or tile of the current directory lies inside the file and is
// large enough to hold what it decodes to, and the strips of all pages so far
// (`dataBytes`, which grows by this page's) together fit in the file: real
// files do not share strips between pages, and this bounds what all pages
// decode to by the file's size.
void checkStriles(TIFF* tif, const PageLayout& p, std::string_view where, std::uint64_t fileSize,
                  std::uint64_t& dataBytes) {
    const std::uint64_t across = p.tiled ? (std::uint64_t{p.width} + p.tileWidth - 1) / p.tileWidth : 1;
    const std::uint64_t down = (std::uint64_t{p.height} + p.tileLength - 1) / p.tileLength;
    const std::uint64_t expected = across * down * (p.separate ? p.samples : 1);
    const std::uint64_t count = p.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    const char* const kind = p.tiled ? "tile" : "strip";
    if (count < expected)
        failCodec(where, "the file lists " + std::to_string(count) + " " + kind + "s where the image needs " +
                             std::to_string(expected));
    const std::uint64_t expansion = maxExpansion(p.compression);
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

// Walks every directory, checking each page before any is decoded.
std::vector<PageLayout> readLayouts(TIFF* tif, Diagnostics& d, std::string_view name,
                                    std::uint64_t fileSize, const ImageReadOptions& options) {
    std::vector<PageLayout> pages;
    std::uint64_t dataBytes = 0;
    for (tdir_t page = 0;; ++page) {
        const std::string where = page == 0 ? std::string(name) : pageName(name, page);
        if (page >= options.maxPages)
            failCodec(name, "has more than " + std::to_string(options.maxPages) + " pages, the limit");
        if (page > 0 && (std::uint64_t{page} + 1) * kMinPageBytes > fileSize)
            failCodec(name, "its chain of directories goes on past page " + std::to_string(page) +
                                ", more pages than a file of " + std::to_string(fileSize) +
                                " bytes can hold (it is damaged)");
        if (page > 0) {
            d.clear();
            if (!TIFFReadDirectory(tif)) failCodec(where, "invalid TIFF data: " + d.text());
        }
        PageLayout p = readLayout(tif, where);
        checkPixelLimit(where, p.width, p.height, options);
        // A tile is decoded whole into a buffer of its own; real tiles are at
        // most the image rounded up to a multiple of 16.
        if (p.tiled && std::uint64_t{p.tileWidth} * p.tileLength > std::max<std::uint64_t>(options.maxPixels, 1 << 16))
            failCodec(where, "its tiles of " + std::to_string(p.tileWidth) + "x" + std::to_string(p.tileLength) +
                                 " are larger than the pixel limit of " + std::to_string(options.maxPixels));
        if (page > 0) {
            const PageLayout& first = pages.front();
            if (p.width != first.width || p.height != first.height || p.samples != first.samples ||
                p.type != first.type)
                failCodec(name, "page " + std::to_string(page + 1) + " is " + describe(p) + ", page 1 is " +
                                    describe(first) + "; the pages of a stack must agree");
        }
        checkStriles(tif, p, where, fileSize, dataBytes);
        pages.push_back(p);
        if (TIFFLastDirectory(tif)) break;
    }
    return pages;
}

// Un-premultiplies colour by alpha (the last channel), as the tool's images
// hold straight alpha. Integers round to nearest and saturate; where alpha
// is zero the colour is zero.
void unassociateAlpha(Image& image) {
    const std::size_t plane = std::size_t{image.width} * image.height;
    const std::uint32_t colours = image.channels - 1;
    const double top = nominalMax(image.sampleType());
    image.visitSamples([&](auto samples) {
        using T = typename decltype(samples)::value_type;
        T* alpha = samples.data() + colours * plane;
        for (std::uint32_t c = 0; c < colours; ++c) {
            T* colour = samples.data() + c * plane;
            for (std::size_t i = 0; i < plane; ++i) {
                const double a = static_cast<double>(alpha[i]);
                if constexpr (std::is_floating_point_v<T>) {
                    colour[i] = a != 0 ? static_cast<T>(colour[i] / alpha[i]) : T{0};
                } else {
                    colour[i] = a > 0 ? storeSample<T>(static_cast<double>(colour[i]) * top / a) : T{0};
                }
            }
        }
    });
}

// Decodes the current directory into a new image, band by band: a band is
// kBandRows rows of a strip image, or one row of tiles, of all samples
// (contiguous) or of one (separate planes).
Image decodePage(TIFF* tif, Diagnostics& d, const PageLayout& p, std::string_view where,
                 const ImageReadOptions& options) {
    Image image = Image::allocate(p.width, p.height, p.samples, p.type);
    const std::uint64_t sampleBytes = bytesPerSample(p);
    const std::uint32_t bandSamples = p.separate ? 1 : p.samples;
    const std::size_t rowBytes = bufferBytes(where, std::uint64_t{p.width} * bandSamples, sampleBytes);
    const std::uint32_t bandRows = p.tiled ? std::min(p.tileLength, p.height) : std::min(kBandRows, p.height);
    const std::uint32_t bandsPerPlane = (p.height + bandRows - 1) / bandRows;
    const std::uint32_t planes = p.separate ? p.samples : 1;
    const std::uint64_t bands = std::uint64_t{bandsPerPlane} * planes;

    std::vector<unsigned char> tile;
    tmsize_t tileBytes = 0;
    if (p.tiled) {
        tileBytes = TIFFTileSize(tif);
        if (tileBytes <= 0) failCodec(where, "invalid TIFF data: the tile size overflows");
        tile.resize(static_cast<std::size_t>(tileBytes));
    }
    const auto tileRowBytes = static_cast<std::size_t>(std::uint64_t{p.tileWidth} * bandSamples * sampleBytes);

    const PlaneGeometry g = geometryOf(image);
    const PlaneGeometry onePlane{p.width, p.height, 1};
    pipelineBands(
        options.pool, bufferBytes(where, rowBytes, bandRows), static_cast<std::uint32_t>(bands),
        [&](std::uint32_t b, unsigned char* band) {
            const auto sample = static_cast<std::uint16_t>(b / bandsPerPlane);
            const std::uint32_t first = (b % bandsPerPlane) * bandRows;
            const std::uint32_t count = std::min(bandRows, p.height - first);
            d.clear();
            if (!p.tiled) {
                for (std::uint32_t r = 0; r < count; ++r)
                    if (TIFFReadScanline(tif, band + r * rowBytes, first + r, sample) < 0)
                        failCodec(where, "invalid TIFF data at row " + std::to_string(first + r + 1) + ": " +
                                             d.text());
                return;
            }
            for (std::uint32_t x0 = 0; x0 < p.width; x0 += p.tileWidth) {
                const std::uint32_t t = TIFFComputeTile(tif, x0, first, 0, sample);
                if (TIFFReadEncodedTile(tif, t, tile.data(), tileBytes) != tileBytes)
                    failCodec(where, "invalid TIFF data in tile " + std::to_string(t + 1) + ": " + d.text());
                const auto used = static_cast<std::size_t>(
                    std::uint64_t{std::min(p.tileWidth, p.width - x0)} * bandSamples * sampleBytes);
                const auto at = static_cast<std::size_t>(std::uint64_t{x0} * bandSamples * sampleBytes);
                for (std::uint32_t r = 0; r < count; ++r)
                    std::memcpy(band + r * rowBytes + at, tile.data() + r * tileRowBytes, used);
            }
        },
        [&](std::uint32_t b, const unsigned char* band) {
            const std::uint32_t sample = b / bandsPerPlane;
            const std::uint32_t first = (b % bandsPerPlane) * bandRows;
            const std::uint32_t count = std::min(bandRows, p.height - first);
            if (!p.separate) {
                storeBand(image, band, rowBytes, first, count);
                return;
            }
            image.visitSamples([&](auto samples) {
                using T = typename decltype(samples)::value_type;
                bandToPlanes(reinterpret_cast<const T*>(band), rowBytes / sizeof(T), first, count, onePlane,
                             samples.data() + sample * g.planeSize());
            });
        });
    if (p.associatedAlpha) unassociateAlpha(image);
    return image;
}

std::optional<TiffCompression> fileCompression(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_LZW: return TiffCompression::lzw;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return TiffCompression::deflate;
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

bool writePage(TIFF* tif, const Image& image, const ImageFile& file, std::uint16_t compression,
               std::size_t index) {
    const std::uint16_t channels = static_cast<std::uint16_t>(image.channels);
    const auto bits = static_cast<std::uint16_t>(image.bitDepth());
    const std::uint64_t rowBytes = std::uint64_t{image.width} * channels * (bits / 8);
    const auto rows = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(kStripBytes / rowBytes, 1, image.height));
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits) &&
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, sampleFormatOf(image.sampleType())) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, compression) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
    if (channels == 2 || channels == 4) {
        const std::uint16_t kinds[1] = {EXTRASAMPLE_UNASSALPHA};
        ok = ok && TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, std::uint16_t{1}, kinds);
    }
    // Horizontal differencing makes integer images compress far better; it
    // is left off for floats, where the integer differences of their bit
    // patterns help little and common readers lack the float predictor.
    if (compression != COMPRESSION_NONE && !isFloat(image.sampleType()))
        ok = ok && TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (file.metadata.orientation >= 2 && file.metadata.orientation <= 8)
        ok = ok && TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(file.metadata.orientation));
    if (!file.metadata.iccProfile.empty())
        ok = ok && TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(file.metadata.iccProfile.size()),
                                file.metadata.iccProfile.data());
    if (file.pages.size() > 1) {
        const auto n = static_cast<std::uint16_t>(file.pages.size());
        ok = ok && TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
             TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(index), n);
    }
    if (!ok) return false;

    const PlaneGeometry g = geometryOf(image);
    BandBuffer strip(static_cast<std::size_t>(rowBytes * rows));
    for (std::uint32_t first = 0, s = 0; first < image.height; first += rows, ++s) {
        const std::uint32_t count = std::min(rows, image.height - first);
        image.visitSamples([&](auto samples) {
            using T = typename decltype(samples)::value_type;
            planesToBand(samples.data(), g, first, count, image.channels, reinterpret_cast<T*>(strip.bytes()),
                         static_cast<std::size_t>(rowBytes / sizeof(T)), [](T v) { return v; });
        });
        if (TIFFWriteEncodedStrip(tif, s, strip.bytes(), static_cast<tmsize_t>(rowBytes * count)) < 0) return false;
    }
    return TIFFWriteDirectory(tif) != 0;
}

}  // namespace

bool looksLikeTiff(std::span<const std::byte> bytes) noexcept {
    if (bytes.size() < 8) return false;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    // Byte order, then 42 (classic) or 43 (BigTIFF) in that order.
    return (b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
           (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43));
}

ImageFile decodeTiff(std::span<const std::byte> bytes, std::string_view name, const ImageReadOptions& options) {
    if (!looksLikeTiff(bytes)) failCodec(name, "not a TIFF file" + contentHint(bytes));
    const std::uint64_t fileSize = bytes.size();
    Diagnostics d;
    // libtiff's own allocations are its directory tables (at most 8 bytes
    // per strip, whose entries the file holds in 4 or more) and its strip
    // buffers (at most a strip, which the file holds); anything beyond that
    // is a lie of the header.
    const std::uint64_t cap = std::max<std::uint64_t>(std::uint64_t{16} << 20, 2 * fileSize + (1 << 20));
    auto opts = openOptions(d, static_cast<tmsize_t>(
                                   std::min<std::uint64_t>(cap, std::numeric_limits<tmsize_t>::max())));
    MemoryInput input{reinterpret_cast<const unsigned char*>(bytes.data()), fileSize, 0};
    // "c": strips as stored, not split by libtiff, so that the checks below
    // see the file's own offsets and counts.
    TiffPtr tif(TIFFClientOpenExt(std::string(name).c_str(), "rc", &input, inputRead, refuseWrite, inputSeek,
                                  closeNothing, inputSize, inputMap, unmapNothing, opts.get()));
    if (!tif) failCodec(name, "invalid TIFF data: " + d.text());

    const std::vector<PageLayout> layouts = readLayouts(tif.get(), d, name, fileSize, options);

    ImageFile file;
    file.compression = fileCompression(layouts.front().compression);
    file.metadata.orientation = layouts.front().orientation;
    d.clear();
    if (!TIFFSetDirectory(tif.get(), 0)) failCodec(name, "invalid TIFF data: " + d.text());
    std::uint32_t iccBytes = 0;
    void* icc = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &iccBytes, &icc) && icc != nullptr && iccBytes > 0) {
        const auto* first = static_cast<const std::byte*>(icc);
        file.metadata.iccProfile.assign(first, first + iccBytes);
    }
    file.pages.reserve(layouts.size());
    for (tdir_t page = 0; page < layouts.size(); ++page) {
        const std::string where = layouts.size() == 1 ? std::string(name) : pageName(name, page);
        d.clear();
        if (page > 0 && !TIFFReadDirectory(tif.get())) failCodec(where, "invalid TIFF data: " + d.text());
        file.pages.push_back(decodePage(tif.get(), d, layouts[page], where, options));
    }
    return file;
}

std::vector<std::byte> encodeTiff(const ImageFile& file, std::string_view name, const ImageWriteOptions& options) {
    validatePages(file, name);
    if (!file.metadata.exif.empty() && options.warning)
        options.warning(std::string(name) + ": EXIF not written to TIFF (the EXIF data is dropped)");
    const std::uint16_t compression =
        compressionTag(options.tiffCompression.value_or(file.compression.value_or(TiffCompression::none)));
    std::uint64_t dataBytes = 0;
    for (const Image& page : file.pages) dataBytes += page.byteCount();

    Diagnostics d;
    auto opts = openOptions(d, 0);  // 0: no cap on what libtiff allocates for writing
    MemoryOutput output;
    // Little-endian whatever the machine, so that every machine writes the
    // same bytes; BigTIFF only when classic 32-bit offsets may not reach.
    const char* mode = dataBytes + file.metadata.iccProfile.size() > (std::uint64_t{1} << 32) - (64 << 20) ? "wl8"
                                                                                                         : "wl";
    TiffPtr tif(TIFFClientOpenExt(std::string(name).c_str(), mode, &output, outputRead, outputWrite, outputSeek,
                                  closeNothing, outputSize, mapNothing, unmapNothing, opts.get()));
    if (!tif) failCodec(name, "cannot start the TIFF encoder: " + d.text());
    for (std::size_t i = 0; i < file.pages.size(); ++i)
        if (!writePage(tif.get(), file.pages[i], file, compression, i))
            failCodec(name, "TIFF encoding failed: " + d.text());
    // Closing flushes nothing more (every directory is written), but frees
    // the handle before the bytes are handed out.
    tif.reset();
    if (d.message[0] != '\0') failCodec(name, "TIFF encoding failed: " + d.text());
    return std::move(output.bytes);
}

}  // namespace axiswarp::tools
