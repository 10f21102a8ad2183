#include "imagefile/image_io.hpp"
#include "imagefile/planar_layout.hpp"
#include "scratch_folder.hpp"
#include "tool_error_text.hpp"

#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace axiswarp::tools;
namespace fs = std::filesystem;

// Distinct values in every plane, extremes included, so that a transposed or
// channel-swapped layout cannot round-trip by accident.
Image pattern(std::uint32_t w, std::uint32_t h, std::uint32_t c, int depth) {
    Image img = Image::blank(w, h, c, depth);
    const std::uint32_t top = depth == 8 ? 255 : 65535;
    for (std::uint32_t k = 0; k < c; ++k)
        for (std::uint32_t j = 0; j < w; ++j)
            for (std::uint32_t i = 0; i < h; ++i)
                img.set(i, j, k, (i * 7919u + j * 104729u + k * 37u + (i == j ? top : 0)) % (top + 1));
    img.set(0, 0, 0, top);
    img.set(h - 1, w - 1, c - 1, 0);
    return img;
}

using axiswarp::testing::errorOf;

class TempDir : public axiswarp::testing::ScratchFolder {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        dir = folder();
    }
    fs::path dir;
};

TEST(ImageLayout, SamplesAreColumnMajorRowsColumnsChannels) {
    Image img = Image::blank(3, 2, 2, 8);  // 2 rows, 3 columns
    img.set(1, 2, 1, 9);
    EXPECT_EQ(img.offset(1, 2, 1), 1u + 2u * 2u + 1u * 2u * 3u);
    EXPECT_EQ(img.samples8()[11], 9);
    EXPECT_THROW(Image::blank(0, 2, 1, 8), ToolError);
    EXPECT_THROW(Image::blank(2, 2, 5, 8), ToolError);
    EXPECT_THROW(Image::blank(2, 2, 1, 12), ToolError);
}

TEST(Png, RoundTripsEveryColourTypeAtBothDepths) {
    for (int depth : {8, 16})
        for (std::uint32_t c = 1; c <= 4; ++c) {
            const Image img = pattern(13, kBandRows + 6, c, depth);  // two bands
            const Image back = decodePng(encodePng(img, "t.png"), "t.png");
            EXPECT_EQ(back.width, 13u);
            EXPECT_EQ(back.height, kBandRows + 6);
            EXPECT_EQ(back.channels, c);
            EXPECT_EQ(back.bitDepth(), depth);
            EXPECT_TRUE(back == img) << "depth " << depth << " channels " << c;
        }
}

// Pixels written through libpng's own simplified interface, interleaved and
// row by row, must land at (row, column, channel) of the array, and the
// encoder's rows read back by that interface must hold the array's samples:
// for every channel layout, and for sizes that end inside a band of decoded
// rows and inside a tile of reordered columns.
TEST(Png, PixelsMeetAnIndependentCodecInTheHostLayout) {
    const std::uint32_t formats[] = {PNG_FORMAT_GRAY, PNG_FORMAT_GA, PNG_FORMAT_RGB, PNG_FORMAT_RGBA};
    struct Size {
        unsigned w, h;
    };
    for (const Size size : {Size{3, 2}, Size{17, kBandRows + 1}, Size{35, 2 * kBandRows + 2}, Size{16, kBandRows}}) {
        for (std::uint32_t c = 1; c <= 4; ++c) {
            SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h) + " C=" + std::to_string(c));
            const std::size_t rowBytes = std::size_t{size.w} * c;
            std::vector<unsigned char> rows(rowBytes * size.h);
            for (std::size_t e = 0; e < rows.size(); ++e) rows[e] = static_cast<unsigned char>(e * 131 + e / 7);
            png_image pi{};
            pi.version = PNG_IMAGE_VERSION;
            pi.width = size.w;
            pi.height = size.h;
            pi.format = formats[c - 1];
            png_alloc_size_t bytesNeeded = 0;
            ASSERT_TRUE(png_image_write_get_memory_size(pi, bytesNeeded, 0, rows.data(), 0, nullptr));
            std::vector<std::byte> bytes(bytesNeeded);
            ASSERT_TRUE(png_image_write_to_memory(&pi, bytes.data(), &bytesNeeded, 0, rows.data(), 0, nullptr));
            bytes.resize(bytesNeeded);
            const Image img = decodePng(bytes, "x.png");
            ASSERT_EQ(img.channels, c);
            for (unsigned i = 0; i < size.h; ++i)
                for (unsigned j = 0; j < size.w; ++j)
                    for (unsigned k = 0; k < c; ++k)
                        ASSERT_EQ(img.at(i, j, k), rows[i * rowBytes + j * c + k]) << i << "," << j << "," << k;

            const Image mine = pattern(size.w, size.h, c, 8);
            const std::vector<std::byte> encoded = encodePng(mine, "y.png");
            png_image back{};
            back.version = PNG_IMAGE_VERSION;
            ASSERT_TRUE(png_image_begin_read_from_memory(&back, encoded.data(), encoded.size()));
            back.format = formats[c - 1];
            std::vector<unsigned char> read(PNG_IMAGE_SIZE(back));
            ASSERT_TRUE(png_image_finish_read(&back, nullptr, read.data(), 0, nullptr));
            for (unsigned i = 0; i < size.h; ++i)
                for (unsigned j = 0; j < size.w; ++j)
                    for (unsigned k = 0; k < c; ++k)
                        ASSERT_EQ(read[i * rowBytes + j * c + k], mine.at(i, j, k)) << i << "," << j << "," << k;
        }
    }
}

TEST(Png, PaletteWithTransparencyBecomesRgba) {
    const unsigned char map[2 * 4] = {255, 0, 0, 255, 0, 0, 255, 128};  // opaque red, half blue
    const unsigned char idx[2] = {1, 0};
    png_image pi{};
    pi.version = PNG_IMAGE_VERSION;
    pi.width = 2;
    pi.height = 1;
    pi.format = PNG_FORMAT_RGBA_COLORMAP;
    pi.colormap_entries = 2;
    png_alloc_size_t size = 0;
    ASSERT_TRUE(png_image_write_get_memory_size(pi, size, 0, idx, 0, map));
    std::vector<std::byte> bytes(size);
    ASSERT_TRUE(png_image_write_to_memory(&pi, bytes.data(), &size, 0, idx, 0, map));
    bytes.resize(size);
    const Image img = decodePng(bytes, "p.png");
    ASSERT_EQ(img.channels, 4u);
    ASSERT_EQ(img.bitDepth(), 8);
    const std::vector<double> got = {img.at(0, 0, 2), img.at(0, 0, 3), img.at(0, 1, 0), img.at(0, 1, 3)};
    EXPECT_EQ(got, (std::vector<double>{255, 128, 255, 255}));
}

TEST(Jpeg, RoundTripsGrayAndRgbCloselyAndConvertsDeepOrAlphaImagesWithAWarning) {
    for (std::uint32_t c : {1u, 3u}) {
        Image img = Image::blank(24, 16, c, 8);  // smooth, so 4:2:0 chroma loses little
        for (std::uint32_t k = 0; k < c; ++k)
            for (std::uint32_t j = 0; j < 24; ++j)
                for (std::uint32_t i = 0; i < 16; ++i) img.set(i, j, k, 40 + 4 * i + 3 * j + 20 * k);
        ImageWriteOptions opts;
        opts.jpegQuality = 100;
        const Image back = decodeJpeg(encodeJpeg(img, "t.jpg", opts), "t.jpg");
        ASSERT_EQ(back.channels, c);
        ASSERT_EQ(back.width, 24u);
        ASSERT_EQ(back.height, 16u);
        int worst = 0;
        for (std::size_t s = 0; s < img.sampleCount(); ++s)
            worst = std::max(worst, std::abs(int(back.samples8()[s]) - int(img.samples8()[s])));
        EXPECT_LE(worst, 3) << c;
    }

    Image deep = Image::blank(8, 8, 4, 16);
    for (std::uint32_t k = 0; k < 4; ++k)
        for (std::uint32_t j = 0; j < 8; ++j)
            for (std::uint32_t i = 0; i < 8; ++i) deep.set(i, j, k, k == 3 ? 0 : 257 * 100 + 128);
    std::vector<std::string> warnings;
    ImageWriteOptions opts;
    opts.jpegQuality = 100;
    opts.warning = [&](const std::string& w) { warnings.push_back(w); };
    const Image back = decodeJpeg(encodeJpeg(deep, "d.jpg", opts), "d.jpg");
    EXPECT_EQ(back.channels, 3u);
    EXPECT_EQ(back.bitDepth(), 8);
    EXPECT_NEAR(back.at(4, 4, 1), 100.0, 1.0);  // 25828/257 = 100.498 rounds to 100
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("d.jpg: 16-bit"), std::string::npos);
    EXPECT_NE(warnings[1].find("alpha"), std::string::npos);
}

// A flat image compresses to within a few parts in a thousand of deflate's
// 1032:1 limit; the check of the file size against the announced rows must
// still let it through.
TEST(Png, AFlatImageAtDeflatesBestRatioStillDecodes) {
    const Image flat = Image::blank(2048, 2048, 1, 8);
    ImageWriteOptions best;
    best.pngCompressionLevel = 9;
    const std::vector<std::byte> png = encodePng(flat, "flat.png", best);
    ASSERT_GT(2048.0 * 2048.0 / static_cast<double>(png.size()), 1000.0);
    EXPECT_TRUE(decodePng(png, "flat.png") == flat);
}

// Rows are decoded in bands; an image taller than one band must come out
// exactly as the library decodes it in one go, every row in its place.
TEST(Jpeg, TallImagesDecodeExactlyAcrossBands) {
    const Image original = pattern(9, 600, 3, 8);
    const std::vector<std::byte> jpg = encodeJpeg(original, "tall.jpg");
    const Image decoded = decodeJpeg(jpg, "tall.jpg");

    jpeg_decompress_struct di{};
    jpeg_error_mgr err{};
    di.err = jpeg_std_error(&err);
    jpeg_create_decompress(&di);
    jpeg_mem_src(&di, reinterpret_cast<const unsigned char*>(jpg.data()), static_cast<unsigned long>(jpg.size()));
    jpeg_read_header(&di, TRUE);
    di.out_color_space = JCS_RGB;
    jpeg_start_decompress(&di);
    std::vector<unsigned char> rows(std::size_t{600} * 9 * 3);
    while (di.output_scanline < 600) {
        JSAMPROW row = rows.data() + std::size_t{di.output_scanline} * 27;
        jpeg_read_scanlines(&di, &row, 1);
    }
    jpeg_finish_decompress(&di);
    jpeg_destroy_decompress(&di);

    ASSERT_EQ(decoded.height, 600u);
    for (std::uint32_t i = 0; i < 600; ++i)
        for (std::uint32_t j = 0; j < 9; ++j)
            for (std::uint32_t k = 0; k < 3; ++k)
                ASSERT_EQ(decoded.at(i, j, k), rows[(std::size_t{i} * 9 + j) * 3 + k]) << i << "," << j << "," << k;
}

TEST(Jpeg, ReadsCmykAsFourChannelsOfInk) {
    jpeg_compress_struct ci{};
    jpeg_error_mgr err{};
    ci.err = jpeg_std_error(&err);
    jpeg_create_compress(&ci);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&ci, &out, &size);
    ci.image_width = 8;
    ci.image_height = 8;
    ci.input_components = 4;
    ci.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&ci);
    jpeg_start_compress(&ci, TRUE);
    std::vector<unsigned char> row(8 * 4, 100);
    while (ci.next_scanline < 8) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&ci, &r, 1);
    }
    jpeg_finish_compress(&ci);
    jpeg_destroy_compress(&ci);
    const std::vector<std::byte> bytes(reinterpret_cast<std::byte*>(out), reinterpret_cast<std::byte*>(out) + size);
    std::free(out);
    ImageMetadata metadata;
    const Image image = decodeJpeg(bytes, "c.jpg", {}, &metadata);
    EXPECT_EQ(image.channels, 4u);
    // libjpeg writes the Adobe marker for CMYK: the samples are inverted.
    EXPECT_EQ(metadata.colour, ColourModel::cmykInverted);
    EXPECT_NEAR(image.at(3, 3, 2), 100.0, 1.0);
}

TEST_F(TempDir, FilesRoundTripByExtensionInAnyCase) {
    const Image img = pattern(9, 5, 2, 16);
    writeImage(dir / "a.PNG", img);
    EXPECT_TRUE(readImage(dir / "a.PNG") == img);
    const Image gray = pattern(9, 5, 1, 8);
    writeImage(dir / "b.JPEG", gray);
    EXPECT_EQ(readImage(dir / "b.JPEG").channels, 1u);
    EXPECT_EQ(imageFormatFor("x.Jpg"), ImageFormat::jpeg);
    // Only the two targets: no temporary left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

// Every defective input is refused with a message that names the file and
// says what is wrong.
TEST_F(TempDir, DefectiveFilesGiveErrorsNamingTheFile) {
    const std::vector<std::byte> png = encodePng(pattern(40, 30, 3, 8), "p");
    const std::vector<std::byte> jpg = encodeJpeg(pattern(40, 30, 3, 8), "j");

    std::vector<std::byte> crc = png;
    crc[20] ^= std::byte{1};  // inside IHDR: its CRC no longer matches
    std::vector<std::byte> idat = png;
    idat[idat.size() - 20] ^= std::byte{0x55};  // inside the compressed data
    std::vector<std::byte> jpgBody = jpg;
    for (std::size_t k = jpgBody.size() / 2; k < jpgBody.size() / 2 + 64; ++k) jpgBody[k] = std::byte{0xff};

    const struct {
        const char* file;
        std::vector<std::byte> bytes;
        const char* expect;
    } cases[] = {
        {"trunc.png", std::vector<std::byte>(png.begin(), png.begin() + png.size() / 2), "truncated"},
        {"crc.png", crc, "invalid PNG data"},
        {"idat.png", idat, "invalid PNG data"},
        {"trunc.jpg", std::vector<std::byte>(jpg.begin(), jpg.begin() + jpg.size() / 2), "Premature end"},
        {"body.jpg", jpgBody, "invalid JPEG data"},
        {"empty.png", {}, "empty"},
        {"text.jpeg", {std::byte{'h'}, std::byte{'i'}}, "not an image file the tool reads; supported: PNG"},
        {"a.bmp", {std::byte{'B'}, std::byte{'M'}, std::byte{0}}, "is a BMP file, which is not supported; supported: PNG"},
    };
    for (const auto& c : cases) {
        const fs::path p = put(c.file, c.bytes);
        const std::string msg = errorOf([&] { readImage(p); });
        EXPECT_EQ(msg.rfind(p.string() + ": ", 0), 0u) << msg;
        EXPECT_NE(msg.find(c.expect), std::string::npos) << c.file << ": " << msg;
    }
    EXPECT_NE(errorOf([&] { readImage(dir / "missing.png"); }).find("missing.png: cannot open"), std::string::npos);
    EXPECT_NE(errorOf([&] { writeImage(dir / "a.gif", pattern(2, 2, 1, 8)); })
                  .find("the image format '.gif' is not supported; supported: PNG"),
              std::string::npos);
    // The content, not the name, chooses the decoder.
    EXPECT_EQ(readImage(put("jpeg-named.png", jpg)).channels, 3u);
    EXPECT_EQ(readImage(put("png-named.jpg", png)), pattern(40, 30, 3, 8));
    EXPECT_NE(errorOf([&] { writeImage(dir / "no" / "such.png", pattern(2, 2, 1, 8)); }).find("such.png"),
              std::string::npos);
}

// A header that announces more pixels than allowed is refused from the header
// alone: these files hold the data of a 4x4 image, so any attempt to decode
// would have failed differently (and allocated gigabytes first).
TEST(ImageLimits, OversizedHeadersAreRefusedBeforeDecoding) {
    std::vector<std::byte> png = encodePng(pattern(4, 4, 1, 8), "p");
    // IHDR: width at byte 16, height at 20, CRC over type+data at 29.
    const unsigned char dims[8] = {0, 1, 0, 0, 0, 1, 0, 0};  // 65536 x 65536
    std::memcpy(png.data() + 16, dims, 8);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17);
    for (int b = 0; b < 4; ++b) png[29 + b] = std::byte(static_cast<unsigned char>(crc >> (24 - 8 * b)));
    const std::string pngMsg = errorOf([&] { decodePng(png, "big.png"); });
    EXPECT_NE(pngMsg.find("big.png: the image is 65536x65536 = 4294967296 pixels, more than the limit"),
              std::string::npos)
        << pngMsg;

    std::vector<std::byte> jpg = encodeJpeg(pattern(4, 4, 1, 8), "j");
    std::size_t sof = 2;
    while (sof + 1 < jpg.size() && !(jpg[sof] == std::byte{0xff} && jpg[sof + 1] == std::byte{0xc0})) ++sof;
    ASSERT_LT(sof + 9, jpg.size());
    for (std::size_t k : {5u, 6u, 7u, 8u}) jpg[sof + k] = std::byte{0x40};  // 16448 x 16448
    const std::string jpgMsg = errorOf([&] { decodeJpeg(jpg, "big.jpg"); });
    EXPECT_NE(jpgMsg.find("big.jpg: the image is 16448x16448"), std::string::npos) << jpgMsg;

    ImageReadOptions small;
    small.maxPixels = 15;
    EXPECT_NE(errorOf([&] { decodePng(encodePng(pattern(4, 4, 1, 8), "p"), "s.png", small); }).find("limit of 15"),
              std::string::npos);
}

}  // namespace
