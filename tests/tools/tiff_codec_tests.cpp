// The TIFF codec: round trips of every sample type, channel count and
// compression; metadata; alpha stored premultiplied; and hand-made hostile
// files, each refused with a message naming the file.
#include "imagefile/image_io.hpp"
#include "imagefile/tiff_codec.hpp"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;

using Bytes = std::vector<std::byte>;

// Samples over the whole range of the type, with the floats' special values.
Image pattern(std::uint32_t w, std::uint32_t h, std::uint32_t c, SampleType type, unsigned seed) {
    Image image = Image::allocate(w, h, c, type);
    std::uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
    image.visitSamples([&](auto samples) {
        using T = typename decltype(samples)::value_type;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const auto bits = static_cast<std::uint32_t>(state >> 32);
            if constexpr (std::is_floating_point_v<T>) {
                static constexpr T kSpecial[] = {std::numeric_limits<T>::infinity(), -T{0},
                                                 std::numeric_limits<T>::quiet_NaN(),
                                                 std::numeric_limits<T>::denorm_min()};
                samples[i] = i % 17 < 4 ? kSpecial[i % 17] : static_cast<T>((bits / 65536.0) - 30000.0);
            } else {
                samples[i] = static_cast<T>(bits);  // modular: every bit pattern of T
            }
        }
    });
    return image;
}

constexpr SampleType kTypes[] = {SampleType::uint8, SampleType::uint16, SampleType::uint32, SampleType::int8,
                                 SampleType::int16, SampleType::int32,  SampleType::float32, SampleType::float64};

TEST(TiffRoundTrip, EverySampleTypeChannelCountAndCompressionOverTwoPages) {
    for (const SampleType type : kTypes)
        for (std::uint32_t c = 1; c <= 4; ++c)
            for (const TiffCompression compression :
                 {TiffCompression::none, TiffCompression::lzw, TiffCompression::deflate}) {
                SCOPED_TRACE(std::string(sampleTypeName(type)) + " x" + std::to_string(c) + " compression " +
                             std::to_string(static_cast<int>(compression)));
                ImageFile file;
                // Up to 1184 bytes a row: several strips of 64 KiB, the last one short.
                file.pages.push_back(pattern(37, 230, c, type, 1));
                file.pages.push_back(pattern(37, 230, c, type, 2));
                file.compression = compression;
                const Bytes bytes = encodeTiff(file, "out.tif");
                ASSERT_TRUE(looksLikeTiff(bytes));
                const ImageFile back = decodeTiff(bytes, "out.tif");
                ASSERT_EQ(back.pages.size(), 2u);
                EXPECT_TRUE(back.pages[0] == file.pages[0]);
                EXPECT_TRUE(back.pages[1] == file.pages[1]);
                EXPECT_EQ(back.compression, compression);
            }
}

TEST(TiffRoundTrip, OptionsCompressionOverridesTheFilesAndIsSmallerForSmoothImages) {
    ImageFile file;
    Image ramp = Image::allocate(256, 64, 1, SampleType::uint16);
    for (std::uint32_t y = 0; y < 64; ++y)
        for (std::uint32_t x = 0; x < 256; ++x) ramp.set(y, x, 0, x * 200.0 + y);
    file.pages.push_back(ramp);
    file.compression = TiffCompression::none;
    const Bytes plain = encodeTiff(file, "a.tif");
    ImageWriteOptions options;
    options.tiffCompression = TiffCompression::deflate;
    const Bytes packed = encodeTiff(file, "a.tif", options);
    EXPECT_LT(packed.size() * 4, plain.size());
    const ImageFile back = decodeTiff(packed, "a.tif");
    EXPECT_EQ(back.compression, TiffCompression::deflate);
    EXPECT_TRUE(back.pages[0] == ramp);
}

// JPEG compression holds 8-bit pages without alpha: asked for others, it is
// refused; kept from a JPEG-compressed input whose image changed kind, it
// becomes Deflate with a warning.
TEST(TiffRoundTrip, JpegCompressionOnlyFor8BitPagesWithoutAlpha) {
    const struct {
        std::uint32_t channels;
        SampleType type;
        bool fits;
    } cases[] = {{1, SampleType::uint8, true},  {3, SampleType::uint8, true},  {4, SampleType::uint8, false},
                 {2, SampleType::uint8, false}, {3, SampleType::uint16, false}, {1, SampleType::float32, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels of " + std::string(sampleTypeName(c.type)));
        ImageFile file;
        file.pages.push_back(pattern(40, 33, c.channels, c.type, 5));
        ImageWriteOptions asked;
        asked.tiffCompression = TiffCompression::jpeg;
        if (c.fits) {
            const ImageFile back = decodeTiff(encodeTiff(file, "j.tif", asked), "j.tif");
            EXPECT_EQ(back.compression, TiffCompression::jpeg);
            EXPECT_EQ(back.pages[0].channels, c.channels);
            continue;
        }
        EXPECT_THROW(encodeTiff(file, "j.tif", asked), ToolError);
        file.compression = TiffCompression::jpeg;
        std::vector<std::string> warnings;
        ImageWriteOptions kept;
        kept.warning = [&](const std::string& text) { warnings.push_back(text); };
        const ImageFile back = decodeTiff(encodeTiff(file, "j.tif", kept), "j.tif");
        EXPECT_EQ(back.compression, TiffCompression::deflate);
        EXPECT_TRUE(back.pages[0] == file.pages[0]);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find("Deflate compression instead of the input's JPEG"), std::string::npos);
    }
}

TEST(TiffMetadata, ProfileBytesAndOrientationKeptExifWarnedAbout) {
    ImageFile file;
    file.pages.push_back(pattern(5, 3, 3, SampleType::uint8, 3));
    for (int i = 0; i < 1000; ++i) file.metadata.iccProfile.push_back(static_cast<std::byte>(i * 7));
    file.metadata.orientation = 6;
    file.metadata.exif = {std::byte{'I'}, std::byte{'I'}, std::byte{42}, std::byte{0}};
    std::vector<std::string> warnings;
    ImageWriteOptions options;
    options.warning = [&](const std::string& text) { warnings.push_back(text); };
    const ImageFile back = decodeTiff(encodeTiff(file, "m.tif", options), "m.tif");
    EXPECT_EQ(back.metadata.iccProfile, file.metadata.iccProfile);
    EXPECT_EQ(back.metadata.orientation, 6);
    EXPECT_TRUE(back.metadata.exif.empty());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("m.tif: EXIF not written to TIFF"), std::string::npos);

    file.metadata = {};
    const ImageFile plain = decodeTiff(encodeTiff(file, "p.tif"), "p.tif");
    EXPECT_TRUE(plain.metadata.empty());
}

TEST(TiffDispatch, ExtensionAndContentChooseTheTiffCodec) {
    EXPECT_EQ(imageFormatFor("a.TIF"), ImageFormat::tiff);
    EXPECT_EQ(imageFormatFor("b.tiff"), ImageFormat::tiff);
    ImageFile file;
    file.pages.push_back(pattern(4, 4, 2, SampleType::float32, 4));
    const Bytes bytes = encodeImageFile(file, ImageFormat::tiff, "x.tif");
    EXPECT_EQ(sniffImageFormat(bytes), ImageFormat::tiff);
    EXPECT_TRUE(decodeImageFile(bytes, "named.png").pages[0] == file.pages[0]);
    try {
        decodeImageFile(Bytes{std::byte{'B'}, std::byte{'M'}}, "a.bmp");
        ADD_FAILURE() << "a BMP file was read";
    } catch (const ToolError& error) {
        EXPECT_NE(std::string(error.what()).find("TIFF (.tif, .tiff)"), std::string::npos) << error.what();
    }
}

// ------------------------------------------------------------ hand-made files

// A little-endian classic TIFF of one or more pages; each page's IFD is
// followed by its data, to which the tag value kAtData points.
constexpr std::uint32_t kAtData = 0xFFFFFFFF;
struct Tag {
    std::uint16_t tag, type;  // type 3 SHORT, 4 LONG
    std::uint32_t value;
};
struct Page {
    std::vector<Tag> tags;
    std::vector<std::uint8_t> data;
    std::optional<std::uint32_t> next;  // the next IFD's offset, when not the following page
};

Bytes build(std::vector<Page> pages) {
    std::vector<std::uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put = [&](std::size_t at, std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    for (std::size_t p = 0; p < pages.size(); ++p) {
        Page& page = pages[p];
        std::sort(page.tags.begin(), page.tags.end(), [](const Tag& a, const Tag& b) { return a.tag < b.tag; });
        const std::size_t ifd = out.size();
        const std::size_t data = ifd + 2 + 12 * page.tags.size() + 4;
        out.resize(data + page.data.size() + (page.data.size() & 1));
        put(ifd, page.tags.size(), 2);
        for (std::size_t i = 0; i < page.tags.size(); ++i) {
            const Tag& t = page.tags[i];
            const std::size_t e = ifd + 2 + 12 * i;
            put(e, t.tag, 2);
            put(e + 2, t.type, 2);
            put(e + 4, 1, 4);
            put(e + 8, t.value == kAtData ? data : t.value, 4);
        }
        std::copy(page.data.begin(), page.data.end(), out.begin() + static_cast<std::ptrdiff_t>(data));
        const std::uint64_t next = page.next ? *page.next : p + 1 < pages.size() ? out.size() : 0;
        put(data - 4, next, 4);
    }
    Bytes bytes(out.size());
    std::transform(out.begin(), out.end(), bytes.begin(), [](std::uint8_t b) { return std::byte{b}; });
    return bytes;
}

// An uncompressed page of 8-bit gray (or `samples` samples), one strip,
// holding at most 64 KiB of data whatever its extents.
Page grayPage(std::uint32_t w, std::uint32_t h, std::uint16_t samples = 1, std::uint16_t photometric = 1) {
    Page p;
    p.data.resize(std::min<std::size_t>(std::size_t{w} * h * samples, 65536), 0x40);
    p.tags = {{256, 4, w},        {257, 4, h},       {258, 3, 8},  {259, 3, 1},
              {262, 3, photometric}, {273, 4, kAtData}, {277, 3, samples}, {278, 4, h},
              {279, 4, static_cast<std::uint32_t>(p.data.size())}};
    return p;
}

Page with(Page p, std::uint16_t tag, std::uint32_t value) {
    for (Tag& t : p.tags)
        if (t.tag == tag) {
            t.value = value;
            return p;
        }
    p.tags.push_back({tag, 3, value});
    return p;
}

TEST(TiffHandMade, AssociatedAlphaBecomesStraight) {
    Page p = with(grayPage(1, 1, 4, 2), 338, 1);  // ExtraSamples: associated alpha
    p.data = {64, 32, 0, 128};
    const ImageFile file = decodeTiff(build({p}), "assoc.tif");
    const Image& image = file.pages[0];
    EXPECT_EQ(image.at(0, 0, 0), 128);
    EXPECT_EQ(image.at(0, 0, 1), 64);
    EXPECT_EQ(image.at(0, 0, 2), 0);
    EXPECT_EQ(image.at(0, 0, 3), 128);
}

// 16x16 gray in two strips written raw by libtiff, the second one cut short.
Bytes twoStripsSecondShort() {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("axiswarp_tiff_short_strip." + std::to_string(::getpid()) + ".tif");
    TIFF* tif = TIFFOpen(path.c_str(), "wl");
    if (tif == nullptr) return {};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 16u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 16u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8u);
    std::vector<unsigned char> strip(128, 7);
    TIFFWriteRawStrip(tif, 0, strip.data(), 128);
    TIFFWriteRawStrip(tif, 1, strip.data(), 50);
    TIFFClose(tif);
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    Bytes bytes(chars.size());
    std::transform(chars.begin(), chars.end(), bytes.begin(), [](char ch) { return static_cast<std::byte>(ch); });
    return bytes;
}

TEST(TiffHandMade, HostileAndUnsupportedFilesAreRefusedNamingTheFile) {
    Page loop = grayPage(16, 16);
    loop.next = 8;  // back to the first directory
    Page far = grayPage(16, 16);
    far.next = 1u << 30;  // a second directory beyond the end of the file
    Page chain = grayPage(2, 2);
    chain.next = 8;  // more pages than a file of this size can hold
    Page lzw = with(with(grayPage(4096, 4096), 259, 5), 279, 10);
    // libtiff recomputes a lone strip's implausible byte count from the
    // extents: both then reach past the end of the file.
    Page shortStrip = grayPage(16, 16);
    shortStrip.data.resize(100);
    shortStrip = with(shortStrip, 279, 100);
    Page hugeCount = grayPage(16, 16);
    hugeCount.data.resize(100);
    hugeCount = with(hugeCount, 279, 0xFFFFFF00);
    // Four more pages whose strip is the first page's (at byte 8 + 2 + 9*12 + 4).
    std::vector<Page> shared(5, grayPage(16, 16));
    for (std::size_t i = 1; i < shared.size(); ++i) {
        shared[i].data.clear();
        shared[i] = with(shared[i], 273, 122);
    }
    const struct {
        const char* what;
        Bytes file;
        const char* message;
    } cases[] = {
        // 4e8 pixels: beyond the default limit, while its one strip's size
        // still fits libtiff's arithmetic on 32-bit machines, which refuses
        // larger ones itself ("Integer overflow").
        {"huge extents", build({grayPage(20000, 20000)}), "more than the limit of"},
        {"zero extent", build({grayPage(0, 5)}), ""},
        {"strip offset past the end", build({with(grayPage(4, 4), 273, 5000)}), "lies outside the file"},
        {"byte count huge", build({hugeCount}), "lies outside the file"},
        {"strip data truncated", build({shortStrip}), "lies outside the file"},
        {"short strip among several", twoStripsSecondShort(), "strip 2 has 50 bytes, too few for the 128"},
        {"compressed strip far too short", build({lzw}), "too few for the"},
        // A fax row takes at least a bit, a JPEG byte at most 1024 decoded.
        {"fax strip far too short", build({with(with(with(grayPage(4000, 4000), 258, 1), 259, 4), 279, 10)}),
         "strip 1 has 10 bytes, too few for the 2000000"},
        {"JPEG strip far too short", build({with(with(grayPage(4000, 4000), 259, 7), 279, 100)}),
         "strip 1 has 100 bytes, too few for the 16000000"},
        {"directory loop", build({loop}), "invalid TIFF data"},
        {"directory beyond the file", build({far}), "invalid TIFF data"},
        {"chain longer than the file", build({chain}), "goes on past page 1, more pages than a file of"},
        {"pages sharing one strip", build(shared), "bad.tif, page 4: the strips of the pages take more than"},
        {"pages of different size", build({grayPage(4, 4), grayPage(4, 5)}), "page 2 is 4x5"},
        {"12-bit signed samples", build({with(with(grayPage(4, 4), 258, 12), 339, 2)}), "12 bits are not supported"},
        {"4-bit RGB", build({with(grayPage(4, 4, 3, 2), 258, 4)}), "4 bits are supported for gray alone"},
        {"complex samples", build({with(grayPage(4, 4), 339, 6)}), "complex samples"},
        {"white is zero in floats", build({with(with(grayPage(4, 4, 1, 0), 258, 32), 339, 3)}), "white-is-zero"},
        {"old-style JPEG", build({with(grayPage(4, 4), 259, 6)}), "old-style JPEG compression"},
        {"fax-coded gray", build({with(grayPage(4, 4), 259, 4)}), "CCITT fax compression of other than bilevel"},
        {"five samples", build({grayPage(4, 4, 5, 2)}), "5 samples per pixel"},
        {"truncated header", Bytes{std::byte{'I'}, std::byte{'I'}, std::byte{42}, std::byte{0}, std::byte{8},
                                   std::byte{0}, std::byte{0}, std::byte{0}, std::byte{9}},
         "invalid TIFF data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            decodeTiff(c.file, "bad.tif");
            ADD_FAILURE() << "accepted";
        } catch (const ToolError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("bad.tif", 0), 0u) << message;
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
        }
    }
}

TEST(TiffHandMade, LimitsOnPixelsAndPagesComeFromTheOptions) {
    ImageReadOptions options;
    options.maxPixels = 15;
    EXPECT_THROW(decodeTiff(build({grayPage(4, 4)}), "a.tif", options), LimitError);
    options.maxPixels = 16;
    EXPECT_EQ(decodeTiff(build({grayPage(4, 4)}), "a.tif", options).pages.size(), 1u);
    options.maxPages = 2;
    EXPECT_EQ(decodeTiff(build({grayPage(4, 4), grayPage(4, 4)}), "a.tif", options).pages.size(), 2u);
    try {
        decodeTiff(build({grayPage(4, 4), grayPage(4, 4), grayPage(4, 4)}), "a.tif", options);
        ADD_FAILURE() << "three pages accepted";
    } catch (const ToolError& error) {
        EXPECT_NE(std::string(error.what()).find("more than 2 pages"), std::string::npos) << error.what();
    }
}

}  // namespace
