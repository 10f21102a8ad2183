// WebP and HEIF/AVIF through the band interface: files written and read
// back (extents, channels, samples exact or close), metadata kept, the
// orientation of a HEIF file applied once, and damaged files and impossible
// outputs refused with one message naming the file.
#include "imagefile/exif_orientation.hpp"
#include "imagefile/image_stream.hpp"
#include "memory_output.hpp"
#include "runtime/tool_error.hpp"
#if AXISWARP_HAVE_WEBP
#include "imagefile/webp_codec.hpp"
#endif
#if AXISWARP_HAVE_HEIF
#include "imagefile/heif_codec.hpp"
#endif

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;

using OpenWriter = std::function<std::unique_ptr<ImageWriter>(ByteOutput&, const StreamInfo&, std::string_view,
                                                              const ImageWriteOptions&)>;
using OpenReader = std::unique_ptr<ImageReader> (*)(const ImageInput&, const ImageReadOptions&);

struct Codec {
    const char* name;
    OpenWriter write;
    OpenReader read;
    bool lossless;
    bool available;
};

std::vector<Codec> codecs() {
    std::vector<Codec> list;
#if AXISWARP_HAVE_WEBP
    list.push_back({"webp lossless",
                    [](ByteOutput& o, const StreamInfo& i, std::string_view n, const ImageWriteOptions& w) {
                        return openWebpWriter(o, i, n, w, WebpCompression::lossless);
                    },
                    openWebpReader, true, true});
    list.push_back({"webp lossy",
                    [](ByteOutput& o, const StreamInfo& i, std::string_view n, const ImageWriteOptions& w) {
                        return openWebpWriter(o, i, n, w);
                    },
                    openWebpReader, false, true});
#endif
#if AXISWARP_HAVE_HEIF
    list.push_back({"heic", openHeicWriter, openHeifReader, false, heicCanEncode()});
    list.push_back({"avif", openAvifWriter, openHeifReader, false, avifCanEncode()});
#endif
    return list;
}

// A smooth picture (lossy codings keep it close) in 8 or 16 bits.
std::vector<unsigned char> picture(const PageLayout& page) {
    std::vector<unsigned char> bytes(page.rowBytes() * page.height);
    for (std::uint32_t y = 0; y < page.height; ++y)
        for (std::uint32_t x = 0; x < page.width; ++x)
            for (std::uint32_t c = 0; c < page.channels; ++c) {
                const double v = c == 0 ? 30 + 190.0 * x / page.width
                               : c == 1 ? 40 + 170.0 * y / page.height
                               : c == 2 ? 90 + 80.0 * (x + y) / (page.width + page.height)
                                        : 255 - 100.0 * x / page.width;
                const std::size_t at = (std::size_t{y} * page.width + x) * page.channels + c;
                if (page.type == SampleType::uint8) {
                    bytes[at] = static_cast<unsigned char>(v);
                } else {
                    const auto wide = static_cast<std::uint16_t>(v * 257 + (x % 3) * 40);  // off the 8-bit grid
                    std::memcpy(&bytes[at * 2], &wide, 2);
                }
            }
    return bytes;
}

// The 8-bit RGB(A) sample the writer is meant to store for the input.
int expectedSample(const PageLayout& page, const std::vector<unsigned char>& bytes, std::uint32_t x, std::uint32_t y,
                   std::uint32_t k) {
    const bool gray = page.channels <= 2;
    const std::uint32_t c = gray ? (k < 3 ? 0 : 1) : k;
    const std::size_t at = (std::size_t{y} * page.width + x) * page.channels + c;
    if (page.type == SampleType::uint8) return bytes[at];
    std::uint16_t v;
    std::memcpy(&v, &bytes[at * 2], 2);
    return static_cast<int>(std::lround(v / 257.0));
}

StreamInfo streamInfo(PageLayout page, ImageMetadata metadata = {}) {
    StreamInfo info;
    info.page = page;
    info.metadata = std::move(metadata);
    return info;
}

std::vector<std::byte> encode(const Codec& codec, const StreamInfo& info, const std::vector<unsigned char>& bytes,
                              const ImageWriteOptions& options = {}) {
    MemoryOutput output;
    const auto writer = codec.write(output, info, "out.file", options);
    // In uneven bands, as a pipeline hands them over.
    for (std::uint32_t y = 0; y < info.page.height;) {
        const std::uint32_t rows = std::min<std::uint32_t>(5, info.page.height - y);
        writer->writeRows(bytes.data() + y * info.page.rowBytes(), rows);
        y += rows;
    }
    writer->finish();
    return output.bytes();
}

struct Decoded {
    StreamInfo info;
    std::vector<unsigned char> bytes;
};

Decoded decode(OpenReader open, const std::vector<std::byte>& file, const ImageReadOptions& options = {}) {
    const auto reader = open(ImageInput{{}, file, "in.file"}, options);
    Decoded decoded{reader->info(), {}};
    const PageLayout& page = decoded.info.page;
    decoded.bytes.resize(page.rowBytes() * page.height);
    for (std::uint32_t y = 0; y < page.height;) {
        const std::uint32_t rows = std::min<std::uint32_t>(7, page.height - y);
        reader->readRows(decoded.bytes.data() + y * page.rowBytes(), rows);
        y += rows;
    }
    return decoded;
}

TEST(ModernCodecs, RoundTripsKeepExtentsChannelsAndSamples) {
    const PageLayout layouts[] = {
        {48, 32, 3, SampleType::uint8},  {33, 17, 4, SampleType::uint8}, {40, 24, 1, SampleType::uint8},
        {31, 20, 2, SampleType::uint8},  {24, 24, 3, SampleType::uint16},
    };
    for (const Codec& codec : codecs()) {
        if (!codec.available) continue;  // refusal tested below
        for (const PageLayout& page : layouts) {
            SCOPED_TRACE(std::string(codec.name) + " " + std::to_string(page.width) + "x" +
                         std::to_string(page.height) + "x" + std::to_string(page.channels) + " " +
                         std::string(sampleTypeName(page.type)));
            const std::vector<unsigned char> in = picture(page);
            std::vector<std::string> warnings;
            ImageWriteOptions options;
            options.jpegQuality = 92;
            options.warning = [&](const std::string& w) { warnings.push_back(w); };
            const Decoded out = decode(codec.read, encode(codec, streamInfo(page), in, options));
            EXPECT_EQ(warnings.size(), page.type == SampleType::uint16 ? 1u : 0u);
            const bool alpha = page.channels == 2 || page.channels == 4;
            ASSERT_EQ(out.info.page, (PageLayout{page.width, page.height, alpha ? 4u : 3u, SampleType::uint8}));
            double sum = 0;
            int worst = 0;
            for (std::uint32_t y = 0; y < page.height; ++y)
                for (std::uint32_t x = 0; x < page.width; ++x)
                    for (std::uint32_t k = 0; k < out.info.page.channels; ++k) {
                        const int got = out.bytes[(std::size_t{y} * page.width + x) * out.info.page.channels + k];
                        const int error = std::abs(got - expectedSample(page, in, x, y, k));
                        sum += error;
                        worst = std::max(worst, error);
                    }
            const double mean = sum / (double(page.width) * page.height * out.info.page.channels);
            if (codec.lossless) {
                EXPECT_EQ(worst, 0);
            } else {
                // Chroma subsampling costs the most at the picture's edges.
                EXPECT_LT(mean, 4.0);
                EXPECT_LT(worst, 48);
            }
        }
    }
}

// An ICC-like profile: the codecs carry it as bytes and never parse it.
std::vector<std::byte> fakeProfile() {
    std::vector<std::byte> profile(300);
    for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<std::byte>(i * 7 + 3);
    return profile;
}

TEST(ModernCodecs, KeepTheProfileAndExifAndTheOrientationOnce) {
    const PageLayout page{64, 32, 3, SampleType::uint8};
    // Left half red, right half blue: where each half ends up tells how
    // the image was turned.
    std::vector<unsigned char> halves(page.rowBytes() * page.height, 0);
    for (std::uint32_t y = 0; y < page.height; ++y)
        for (std::uint32_t x = 0; x < page.width; ++x) halves[(y * page.width + x) * 3 + (x < 32 ? 0 : 2)] = 230;
    for (const Codec& codec : codecs()) {
        if (!codec.available) continue;
        for (const int orientation : {1, 6, 2}) {
            SCOPED_TRACE(std::string(codec.name) + " orientation " + std::to_string(orientation));
            ImageMetadata metadata;
            metadata.iccProfile = fakeProfile();
            metadata.exif = exifWithOrientation({}, orientation % 8 + 1);  // disagreeing, overridden
            metadata.orientation = orientation;
            const Decoded out = decode(codec.read, encode(codec, streamInfo(page, metadata), halves));
            EXPECT_EQ(out.info.metadata.iccProfile, metadata.iccProfile);
            ASSERT_FALSE(out.info.metadata.exif.empty());
            const bool webp = std::string(codec.name).starts_with("webp");
            if (webp) {
                // Stored as written, applied by whoever reads the file.
                EXPECT_EQ(out.info.metadata.orientation, orientation);
                EXPECT_EQ(exifOrientation(out.info.metadata.exif), orientation);
                EXPECT_EQ(out.info.page.width, page.width);
                continue;
            }
            // HEIF: applied by libheif while decoding, and then upright.
            EXPECT_EQ(out.info.metadata.orientation, 1);
            EXPECT_EQ(exifOrientation(out.info.metadata.exif), 1);
            const bool swapped = orientation >= 5;
            ASSERT_EQ(out.info.page.width, swapped ? page.height : page.width);
            ASSERT_EQ(out.info.page.height, swapped ? page.width : page.height);
            // Orientation 6: stored column 0 shows at the top; 2: at the right.
            const std::uint32_t w = out.info.page.width, h = out.info.page.height;
            const std::uint32_t firstX = orientation == 6 ? w / 2 : orientation == 2 ? w - 8 : 8;
            const std::uint32_t firstY = orientation == 6 ? 8 : h / 2;
            const unsigned char* pixel = &out.bytes[(std::size_t{firstY} * w + firstX) * 3];
            EXPECT_GT(pixel[0], 180) << "red expected where the stored first column shows";
            EXPECT_LT(pixel[2], 60);
        }
    }
}

TEST(ModernCodecs, DamagedFilesAreRefusedWithTheirName) {
    const PageLayout page{40, 30, 4, SampleType::uint8};
    const std::vector<unsigned char> in = picture(page);
    for (const Codec& codec : codecs()) {
        if (!codec.available) continue;
        const std::vector<std::byte> good = encode(codec, streamInfo(page), in);
        std::vector<std::vector<std::byte>> damaged;
        for (const std::size_t keep : {std::size_t{0}, std::size_t{12}, std::size_t{40}, good.size() / 2, good.size() - 1})
            damaged.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(keep));
        // The container's first length field made to lie.
        std::vector<std::byte> lying = good;
        lying[std::string(codec.name).starts_with("webp") ? 4 : 3] = std::byte{0xff};
        damaged.push_back(lying);
        for (std::size_t i = 0; i < damaged.size(); ++i) {
            SCOPED_TRACE(std::string(codec.name) + " damage " + std::to_string(i));
            try {
                decode(codec.read, damaged[i]);
                ADD_FAILURE() << "a damaged file was read";
            } catch (const ToolError& error) {
                EXPECT_TRUE(std::string(error.what()).starts_with("in.file: ")) << error.what();
                EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos) << error.what();
            }
        }
        // Beyond the pixel limit: refused from the header, before decoding.
        ImageReadOptions small;
        small.maxPixels = std::uint64_t{page.width} * page.height - 1;
        EXPECT_THROW(decode(codec.read, good, small), LimitError) << codec.name;
    }
}

TEST(ModernCodecs, OutputsTheFormatsCannotHoldAreRefusedBeforeAnyRow) {
    struct Refusal {
        const char* what;
        StreamInfo info;
        const char* says;
    };
    StreamInfo stack = streamInfo({8, 8, 3, SampleType::uint8});
    stack.pages = 2;
    const Refusal refusals[] = {
        {"a stack", stack, "pages"},
        {"float samples", streamInfo({8, 8, 3, SampleType::float32}), "float"},
        {"five channels", streamInfo({8, 8, 5, SampleType::uint8}), "channels"},
        {"a side beyond the format", streamInfo({70000, 2, 3, SampleType::uint8}), "pixels a side"},
    };
    for (const Codec& codec : codecs()) {
        if (!codec.available) continue;
        for (const Refusal& r : refusals) {
            SCOPED_TRACE(std::string(codec.name) + ": " + r.what);
            MemoryOutput output;
            try {
                codec.write(output, r.info, "out.file", {});
                ADD_FAILURE() << "accepted";
            } catch (const ToolError& error) {
                EXPECT_TRUE(std::string(error.what()).starts_with("out.file: ")) << error.what();
                EXPECT_NE(std::string(error.what()).find(r.says), std::string::npos) << error.what();
            }
            EXPECT_EQ(output.size(), 0u);
        }
    }
}

#if AXISWARP_HAVE_HEIF
TEST(ModernCodecs, ACodingWithoutAnEncoderIsRefusedForOutputSayingSo) {
    for (const HeifCoding coding : {HeifCoding::hevc, HeifCoding::av1, HeifCoding::vvc}) {
        if (heifCanEncode(coding)) continue;
        MemoryOutput output;
        try {
            openHeifWriter(output, streamInfo({8, 8, 3, SampleType::uint8}), "out.file", {}, coding);
            ADD_FAILURE() << "accepted a coding libheif cannot encode";
        } catch (const ToolError& error) {
            EXPECT_NE(std::string(error.what()).find("libheif has no encoder"), std::string::npos) << error.what();
        }
        return;
    }
    GTEST_SKIP() << "this machine's libheif encodes every coding it knows, so no refusal can be shown";
}

TEST(ModernCodecs, HeifSniffingTellsAvifFromHeic) {
    auto ftyp = [](const char* major, const char* compatible) {
        std::string box = std::string("\0\0\0\x18" "ftyp", 8) + major + std::string("\0\0\0\0", 4) + "mif1" + compatible;
        std::vector<std::byte> bytes(box.size());
        std::memcpy(bytes.data(), box.data(), box.size());
        return bytes;
    };
    EXPECT_EQ(heifFormatOf(ftyp("avif", "miaf")), ImageFormat::avif);
    EXPECT_EQ(heifFormatOf(ftyp("heic", "heic")), ImageFormat::heif);
    EXPECT_EQ(heifFormatOf(ftyp("mif1", "heic")), ImageFormat::heif);
    EXPECT_EQ(heifFormatOf(ftyp("isom", "iso2")), ImageFormat::heif);  // mif1 among the brands
    auto mp4 = ftyp("isom", "avc1");
    std::memcpy(mp4.data() + 16, "iso2", 4);  // no HEIF brand left
    EXPECT_FALSE(looksLikeHeif(mp4));
}
#endif

}  // namespace
