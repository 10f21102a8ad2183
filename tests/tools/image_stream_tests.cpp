// The band readers and writers of PNG, JPEG and TIFF, and the format
// registry: every reader gives the samples of the whole-file decode whatever
// the band size, writers give the same file whatever the bands they are fed,
// damaged data is refused naming its row, a reader reads only what it needs,
// and the registry recognises every format it lists.
#include "imagefile/byte_outputs.hpp"
#include "imagefile/byte_source.hpp"
#include "imagefile/format_registry.hpp"
#include "imagefile/image_io.hpp"
#include "imagefile/whole_image.hpp"
#include "scratch_folder.hpp"
#include "tool_error_text.hpp"

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iterator>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;
using axiswarp::testing::errorOf;
using Bytes = std::vector<std::byte>;

// Smooth enough for JPEG to keep it recognisable, varied in every channel.
Image pattern(std::uint32_t w, std::uint32_t h, std::uint32_t c, SampleType type) {
    Image image = Image::allocate(w, h, c, type);
    const double top = nominalMax(type);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            for (std::uint32_t k = 0; k < c; ++k)
                image.set(y, x, k, std::fmod((x * 7 + y * 3 + k * 50) / 300.0, 1.0) * top);
    return image;
}

// All rows of every page, in bands of `bandRows` (the last ones shorter),
// as one interleaved block per page.
std::vector<Bytes> readInBands(ImageReader& reader, std::uint32_t bandRows) {
    const StreamInfo& info = reader.info();
    std::vector<Bytes> pages;
    for (std::uint32_t p = 0; p < info.pages; ++p) {
        if (p > 0) reader.nextPage();
        Bytes page(info.page.rowBytes() * info.page.height);
        for (std::uint32_t y = 0; y < info.page.height; y += bandRows) {
            const std::uint32_t rows = std::min(bandRows, info.page.height - y);
            reader.readRows(reinterpret_cast<unsigned char*>(page.data()) + y * info.page.rowBytes(), rows);
        }
        pages.push_back(std::move(page));
    }
    return pages;
}

// The interleaved samples of a planar image, for comparison with bands.
Bytes interleaved(const Image& image) {
    Bytes out(image.byteCount());
    const std::size_t sample = static_cast<std::size_t>(image.bitDepth() / 8);
    const auto planar = image.bytes();
    for (std::uint32_t y = 0; y < image.height; ++y)
        for (std::uint32_t x = 0; x < image.width; ++x)
            for (std::uint32_t k = 0; k < image.channels; ++k)
                std::memcpy(out.data() + ((std::size_t{y} * image.width + x) * image.channels + k) * sample,
                            planar.data() + image.offset(y, x, k) * sample, sample);
    return out;
}

std::unique_ptr<ImageReader> readerOf(const Bytes& bytes, const std::string& name = "in") {
    ImageReadOptions options;
    options.autoOrient = false;
    return openImageReader(ImageInput{{}, bytes, name}, options);
}

// A TIFF written by libtiff itself with the given layout, for the layouts
// the tool's writer never makes (tiles, separate planes, premultiplied alpha).
struct TiffLayout {
    std::uint32_t width, height;
    std::uint16_t channels, bits;
    bool tiled, separate, associated;
    std::uint16_t compression;
    std::uint32_t pages;
    bool bigEndian = false;
};

Bytes libtiffFile(const std::filesystem::path& path, const TiffLayout& l) {
    TIFF* tif = TIFFOpen(path.c_str(), l.bigEndian ? "wb" : "wl");
    const std::size_t sample = l.bits / 8;
    for (std::uint32_t p = 0; p < l.pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, l.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, l.height);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.channels);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
        if (l.channels == 2 || l.channels == 4) {
            const std::uint16_t kind[1] = {static_cast<std::uint16_t>(l.associated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA)};
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, kind);
        }
        if (l.tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 5);
        }
        const std::uint32_t planes = l.separate ? l.channels : 1;
        const std::uint32_t perPixel = l.separate ? 1 : l.channels;
        const std::uint32_t chunkW = l.tiled ? 16 : l.width, chunkH = l.tiled ? 16 : 5;
        std::vector<unsigned char> chunk(std::size_t{chunkW} * chunkH * perPixel * sample);
        for (std::uint32_t s = 0; s < planes; ++s)
            for (std::uint32_t y0 = 0; y0 < l.height; y0 += chunkH)
                for (std::uint32_t x0 = 0; x0 < l.width; x0 += chunkW) {
                    for (std::size_t i = 0; i < chunk.size(); ++i)
                        chunk[i] = static_cast<unsigned char>((i * 31 + x0 * 3 + y0 * 5 + s * 70 + p * 11) >> 1);
                    if (l.tiled)
                        TIFFWriteTile(tif, chunk.data(), x0, y0, 0, static_cast<std::uint16_t>(s));
                    else
                        TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, y0, static_cast<std::uint16_t>(s)), chunk.data(),
                                              static_cast<tmsize_t>(std::size_t{l.width} * std::min(5u, l.height - y0) *
                                                                    perPixel * sample));
                }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes bytes(chars.size());
    std::memcpy(bytes.data(), chars.data(), chars.size());
    return bytes;
}

class ImageStream : public axiswarp::testing::ScratchFolder {};

// Files of every format and of the layouts each codec reads differently.
std::vector<std::pair<std::string, Bytes>> sampleFiles(const std::filesystem::path& folder) {
    std::vector<std::pair<std::string, Bytes>> files;
    ImageWriteOptions quiet;
    files.emplace_back("png rgba8", encodePng(pattern(23, 41, 4, SampleType::uint8), "a.png"));
    files.emplace_back("png gray16", encodePng(pattern(9, 300, 1, SampleType::uint16), "b.png"));
    files.emplace_back("jpeg rgb", encodeJpeg(pattern(37, 53, 3, SampleType::uint8), "c.jpg"));
    files.emplace_back("jpeg gray", encodeJpeg(pattern(20, 17, 1, SampleType::uint8), "d.jpg"));
    ImageFile stack;
    stack.pages.push_back(pattern(13, 29, 2, SampleType::int16));
    stack.pages.push_back(pattern(13, 29, 2, SampleType::int16));
    ImageWriteOptions lzw;
    lzw.tiffCompression = TiffCompression::lzw;
    files.emplace_back("tiff stack lzw", encodeTiff(stack, "e.tif", lzw));
    const TiffLayout layouts[] = {
        {37, 21, 3, 8, true, false, false, COMPRESSION_NONE, 1},
        {37, 21, 4, 16, true, true, true, COMPRESSION_ADOBE_DEFLATE, 2},
        {19, 23, 3, 16, false, true, false, COMPRESSION_LZW, 1},
        {19, 23, 4, 8, false, false, true, COMPRESSION_NONE, 1},
        {19, 23, 3, 16, false, false, false, COMPRESSION_NONE, 2, true},
        {7, 9, 1, 32, false, false, false, COMPRESSION_NONE, 1, true},
    };
    for (std::size_t n = 0; n < std::size(layouts); ++n)
        files.emplace_back("libtiff " + std::to_string(n),
                           libtiffFile(folder / ("l" + std::to_string(n) + ".tif"), layouts[n]));
    return files;
}

TEST_F(ImageStream, EveryReaderGivesTheWholeFileDecodeInAnyBandSize) {
    for (const auto& [what, bytes] : sampleFiles(folder())) {
        ImageReadOptions options;
        options.autoOrient = false;
        const ImageFile whole = decodeImageFile(bytes, what, options);
        for (const std::uint32_t band : {1u, 3u, 16u, 1000u}) {
            SCOPED_TRACE(what + ", bands of " + std::to_string(band));
            const auto reader = readerOf(bytes, what);
            EXPECT_GE(reader->info().bandRows, 1u);
            const std::vector<Bytes> pages = readInBands(*reader, band);
            ASSERT_EQ(pages.size(), whole.pages.size());
            for (std::size_t p = 0; p < pages.size(); ++p) EXPECT_TRUE(pages[p] == interleaved(whole.pages[p]));
        }
    }
}

// Uncompressed strips are read row by row from the file rather than through
// libtiff: the rows must be libtiff's own, in either byte order.
TEST_F(ImageStream, UncompressedStripsGiveLibtiffsRows) {
    for (const bool bigEndian : {false, true})
        for (const std::uint16_t bits : {8, 16, 32}) {
            SCOPED_TRACE(std::to_string(bits) + (bigEndian ? " bits, big-endian" : " bits, little-endian"));
            const std::filesystem::path path = folder() / "plain.tif";
            const Bytes bytes = libtiffFile(path, {11, 12, 3, bits, false, false, false, COMPRESSION_NONE, 2, bigEndian});
            const std::vector<Bytes> pages = readInBands(*readerOf(bytes), 4);
            TIFF* tif = TIFFOpen(path.c_str(), "r");
            for (std::size_t p = 0; p < pages.size(); ++p) {
                if (p > 0) TIFFReadDirectory(tif);
                const std::size_t rowBytes = pages[p].size() / 12;
                std::vector<unsigned char> row(rowBytes);
                for (std::uint32_t y = 0; y < 12; ++y) {
                    ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, 0), 1);
                    EXPECT_EQ(std::memcmp(row.data(), pages[p].data() + y * rowBytes, rowBytes), 0) << "row " << y;
                }
            }
            TIFFClose(tif);
        }
}

// A writer fed in bands of any size writes the bytes the whole-image encoder
// writes, which decode to the same samples (every sample, for the lossless
// formats).
TEST_F(ImageStream, WritersGiveTheSameFileWhateverTheBands) {
    for (const auto& [what, bytes] : sampleFiles(folder())) {
        ImageReadOptions options;
        options.autoOrient = false;
        const ImageFile file = decodeImageFile(bytes, what, options);
        const ImageFormat format = *sniffImageFormat(bytes);
        const Bytes expected = encodeImageFile(file, format, "out");
        const ImageFile back = decodeImageFile(expected, "out", options);
        if (format != ImageFormat::jpeg) {
            for (std::size_t p = 0; p < file.pages.size(); ++p) EXPECT_TRUE(back.pages[p] == file.pages[p]) << what;
        }
        for (const std::uint32_t band : {1u, 7u, 500u}) {
            SCOPED_TRACE(what + ", bands of " + std::to_string(band));
            VectorOutput output;
            const auto writer = openImageWriter(format, output, streamInfoOf(file, format), "out", {});
            for (std::size_t p = 0; p < file.pages.size(); ++p) {
                if (p > 0) writer->nextPage();
                const Bytes rows = interleaved(file.pages[p]);
                const std::size_t rowBytes = rows.size() / file.pages[p].height;
                for (std::uint32_t y = 0; y < file.pages[p].height; y += band)
                    writer->writeRows(reinterpret_cast<const unsigned char*>(rows.data()) + y * rowBytes,
                                      std::min(band, file.pages[p].height - y));
            }
            writer->finish();
            EXPECT_TRUE(output.bytes() == expected);
        }
    }
}

// A whole file into an AtomicFile through positioned writes and read-backs
// (TIFF patches its offsets) gives the bytes written to memory.
TEST_F(ImageStream, FileOutputMatchesMemoryOutput) {
    ImageFile stack;
    for (int p = 0; p < 3; ++p) stack.pages.push_back(pattern(300, 200, 3, SampleType::uint16));
    for (const char* name : {"s.tif", "s.png", "s.jpg"}) {
        ImageFile file;
        file.pages.push_back(stack.pages[0].clone());
        const ImageFile& which = std::string(name) == "s.tif" ? stack : file;
        writeImageFile(folder() / name, which);
        std::ifstream in(folder() / name, std::ios::binary);
        std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Bytes memory = encodeImageFile(which, imageFormatFor(name), name);
        ASSERT_EQ(chars.size(), memory.size()) << name;
        EXPECT_EQ(std::memcmp(chars.data(), memory.data(), memory.size()), 0) << name;
    }
}

TEST_F(ImageStream, DamagedDataIsRefusedNamingTheRow) {
    // Noise, so that the compressed data spreads over the rows (a PNG reads
    // its data in pieces of 8 KiB) and the damage lies well past the first.
    Image image = Image::allocate(200, 400, 3, SampleType::uint8);
    std::uint32_t state = 1;
    for (std::uint8_t& v : image.samples8()) v = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 24);
    Bytes png = encodePng(image, "p.png");
    Bytes jpg = encodeJpeg(image, "j.jpg");
    png.resize(png.size() * 2 / 3);
    jpg.resize(jpg.size() * 2 / 3);
    // An LZW strip whose codes are garbled from its middle on.
    ImageFile file;
    file.pages.push_back(image.clone());
    ImageWriteOptions lzw;
    lzw.tiffCompression = TiffCompression::lzw;
    Bytes tif = encodeTiff(file, "t.tif", lzw);
    for (std::size_t i = tif.size() / 2; i < tif.size() * 3 / 5; ++i) tif[i] = std::byte{0xff};
    for (const auto& [name, bytes] : {std::pair{"cut.png", png}, {"cut.jpg", jpg}, {"garbled.tif", tif}}) {
        const auto reader = readerOf(bytes, name);
        const std::string message = errorOf([&] { readInBands(*reader, 10); });
        SCOPED_TRACE(message);
        ASSERT_EQ(message.rfind(std::string(name) + ": ", 0), 0u);
        const std::size_t at = message.find("at row ");
        ASSERT_NE(at, std::string::npos);
        const int row = std::stoi(message.substr(at + 7));
        EXPECT_GT(row, 10);
        EXPECT_LE(row, 400);
    }
}

// Reading the first rows of a large file reads a small part of it: the
// file is never taken whole.
TEST_F(ImageStream, ReadersReadOnlyWhatTheRowsNeed) {
    const Image image = pattern(1000, 1000, 3, SampleType::uint8);
    ImageFile file;
    file.pages.push_back(image.clone());
    const std::pair<std::string, Bytes> files[] = {
        {"big.png", encodePng(image, "big.png")},
        {"big.jpg", encodeJpeg(image, "big.jpg")},
        {"big.tif", encodeTiff(file, "big.tif")},
    };
    for (const auto& [name, bytes] : files) {
        const std::filesystem::path path = put(name, bytes);
        std::unique_ptr<ByteSource> owned = ByteSource::open(ImageInput{path, {}, name}, {});
        ByteSource* source = owned.get();
        const ImageFormatEntry& entry = formatEntry(imageFormatFor(path));
        const auto reader = entry.openReader(std::move(owned), {});
        std::vector<unsigned char> band(reader->info().page.rowBytes() * 20);
        reader->readRows(band.data(), 20);
        EXPECT_LT(source->bytesRead(), bytes.size() / 5) << name;
    }
}

TEST(FormatRegistry, SniffsEveryFormatItWrites) {
    const Image image = pattern(4, 3, 3, SampleType::uint8);
    ImageFile file;
    file.pages.push_back(image.clone());
    for (const ImageFormatEntry& entry : imageFormats()) {
        SCOPED_TRACE(std::string(entry.name));
        if (entry.canEncode != nullptr && !entry.canEncode()) {
            EXPECT_NE(errorOf([&] { imageFormatFor("x" + std::string(entry.extensions.front())); })
                          .find("no encoder"),
                      std::string::npos);
            continue;
        }
        const Bytes bytes = encodeImageFile(file, entry.format, "x");
        EXPECT_EQ(sniffImageFormat(bytes), entry.format);
        EXPECT_EQ(readerOf(bytes)->info().format, entry.format);
        for (std::string_view ext : entry.extensions) {
            std::string upper(ext);
            std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
            EXPECT_EQ(imageFormatFor("a/b" + std::string(ext)), entry.format);
            EXPECT_EQ(imageFormatFor("b" + upper), entry.format);
        }
        EXPECT_EQ(contentHint(bytes), " (its content is " + std::string(entry.name) + ")");
    }
}

TEST(FormatRegistry, RefusesWhatItDoesNotRead) {
    const struct {
        Bytes bytes;
        std::string says;
    } cases[] = {
        {{std::byte{'G'}, std::byte{'I'}, std::byte{'F'}, std::byte{'8'}, std::byte{'9'}, std::byte{'a'}}, "is a GIF file"},
        {Bytes(40, std::byte{7}), "not an image file the tool reads"},
        {Bytes(2, std::byte{0xff}), "not an image file the tool reads"},
    };
    for (const auto& c : cases) {
        const std::string message = errorOf([&] { readerOf(c.bytes, "odd.bin"); });
        EXPECT_EQ(message.rfind("odd.bin: ", 0), 0u) << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_NE(message.find("PNG (.png), JPEG (.jpg, .jpeg), TIFF (.tif, .tiff)"), std::string::npos) << message;
        EXPECT_EQ(contentHint(c.bytes), "");
    }
    EXPECT_NE(errorOf([] { imageFormatFor("x.gif"); }).find("'.gif' is not supported"), std::string::npos);
    EXPECT_NE(errorOf([] { checkEncodable(ImageFormat::png, SampleType::float32, 1, "o.png"); }).find("float32"),
              std::string::npos);
    EXPECT_NE(errorOf([] { checkEncodable(ImageFormat::jpeg, SampleType::uint8, 2, "o.jpg"); }).find("2 pages"),
              std::string::npos);
    EXPECT_NO_THROW(checkEncodable(ImageFormat::jpeg, SampleType::uint16, 1, "o.jpg"));
    EXPECT_NO_THROW(checkEncodable(ImageFormat::tiff, SampleType::float64, 9, "o.tif"));
}

// The registry reads the orientation from the EXIF block of the formats
// that keep it there, and makes a written block agree with the stream's.
TEST(FormatRegistry, OrientationFromAndToExif) {
    const Image image = pattern(5, 3, 1, SampleType::uint8);
    for (const ImageFormat format : {ImageFormat::png, ImageFormat::jpeg, ImageFormat::tiff}) {
        StreamInfo out = streamInfoOf(image, format);
        out.metadata.orientation = 6;
        VectorOutput output;
        const auto writer = openImageWriter(format, output, out, "o", {});
        writePage(*writer, image);
        writer->finish();
        EXPECT_EQ(readerOf(output.bytes())->info().metadata.orientation, 6) << static_cast<int>(format);
    }
}

}  // namespace

namespace {

// Beyond 2^28 pixels a file must hold a byte per 65536 pixels: a flat 1-bit
// PNG, the most compressible ordinary image (about 8000 pixels a byte),
// passes; a JPEG header announcing 30000x30000 in a few hundred bytes does
// not, unless the ratio limit is off.
TEST(PixelLimit, RefusesBombsByPixelsPerByteButNotFlatImages) {
    const std::uint32_t side = 17000;  // 2.9e8 pixels
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Bytes flat;
    png_set_write_fn(
        png, &flat,
        [](png_structp p, png_bytep data, std::size_t n) {
            auto* out = static_cast<Bytes*>(png_get_io_ptr(p));
            const auto* b = reinterpret_cast<const std::byte*>(data);
            out->insert(out->end(), b, b + n);
        },
        nullptr);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, side, side, 1, PNG_COLOR_TYPE_GRAY, 0, 0, 0);
    png_write_info(png, info);
    std::vector<unsigned char> row(side / 8 + 1, 0);
    for (std::uint32_t y = 0; y < side; ++y) png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);

    Bytes jpg = encodeJpeg(pattern(8, 8, 1, SampleType::uint8), "b.jpg");
    for (std::size_t i = 0; i + 8 < jpg.size(); ++i)
        if (jpg[i] == std::byte{0xff} && jpg[i + 1] == std::byte{0xc0}) {
            for (std::size_t at : {i + 5, i + 7}) {  // height, then width: 30000
                jpg[at] = std::byte{0x75};
                jpg[at + 1] = std::byte{0x30};
            }
            break;
        }

    ImageReadOptions options;
    options.maxPixels = kStreamingMaxPixels;
    EXPECT_EQ(openImageReader(ImageInput{{}, flat, "flat.png"}, options)->info().page.width, side);
    try {
        openImageReader(ImageInput{{}, jpg, "bomb.jpg"}, options);
        ADD_FAILURE() << "the bomb was opened";
    } catch (const LimitError& error) {
        EXPECT_EQ(error.kind(), LimitError::Kind::pixelsPerByte);
        EXPECT_NE(std::string(error.what()).find("bomb.jpg: the image is 30000x30000"), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("pixels per byte"), std::string::npos);
    }
    options.maxPixelsPerByte = 0;
    EXPECT_EQ(openImageReader(ImageInput{{}, jpg, "bomb.jpg"}, options)->info().page.height, 30000u);
}

}  // namespace
