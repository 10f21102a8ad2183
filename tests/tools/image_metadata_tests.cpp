// ICC profiles and EXIF blocks through the PNG and JPEG codecs and the
// dispatcher: kept byte for byte, carried from PNG to JPEG, reset when the
// orientation is applied; broken ones never fail an image.
#include "imagefile/exif_orientation.hpp"
#include "imagefile/image_io.hpp"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;

void put32(std::vector<std::byte>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::byte>(v >> (24 - 8 * i));
}

// A profile whose header passes libpng's checks, with one private tag of
// `size - 144` pseudo-random bytes so that any misplaced byte shows.
std::vector<std::byte> iccProfile(std::size_t size, bool gray) {
    std::vector<std::byte> p(size);
    for (std::size_t i = 132; i < size; ++i) p[i] = static_cast<std::byte>((i * 2654435761u) >> 13);
    put32(p, 0, static_cast<std::uint32_t>(size));
    put32(p, 8, 0x02100000);                   // version 2.1
    std::memcpy(&p[12], "mntr", 4);            // display class
    std::memcpy(&p[16], gray ? "GRAY" : "RGB ", 4);
    std::memcpy(&p[20], "XYZ ", 4);
    std::memcpy(&p[36], "acsp", 4);
    put32(p, 64, 0);                           // perceptual intent
    put32(p, 68, 0xf6d6), put32(p, 72, 0x10000), put32(p, 76, 0xd32d);  // D50
    put32(p, 128, 1);
    std::memcpy(&p[132], "zzzz", 4);
    put32(p, 136, 144);
    put32(p, 140, static_cast<std::uint32_t>(size - 144));
    return p;
}

// Little-endian EXIF with an Orientation entry and trailing bytes libexif
// does not know.
std::vector<std::byte> exifBlock(int orientation) {
    const unsigned char head[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,
                                  static_cast<unsigned char>(orientation), 0, 0, 0, 0, 0, 0, 0};
    std::vector<std::byte> b(reinterpret_cast<const std::byte*>(head),
                             reinterpret_cast<const std::byte*>(head) + sizeof head);
    for (unsigned i = 0; i < 100; ++i) b.push_back(static_cast<std::byte>(i * 13 + 1));
    return b;
}

ImageFile fileOf(Image image, ImageMetadata metadata) {
    ImageFile file;
    file.pages.push_back(std::move(image));
    file.metadata = std::move(metadata);
    return file;
}

Image ramp(std::uint32_t w, std::uint32_t h, std::uint32_t c) {
    Image img = Image::blank(w, h, c, 8);
    for (std::uint32_t k = 0; k < c; ++k)
        for (std::uint32_t j = 0; j < w; ++j)
            for (std::uint32_t i = 0; i < h; ++i) img.set(i, j, k, (i * 9 + j * 5 + k * 60) % 256);
    return img;
}

// The segments of a JPEG before its image data, as (marker, payload).
std::vector<std::pair<int, std::vector<std::byte>>> jpegSegments(const std::vector<std::byte>& jpeg) {
    std::vector<std::pair<int, std::vector<std::byte>>> out;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == std::byte{0xff}) {
        const int marker = std::to_integer<int>(jpeg[at + 1]);
        if (marker == 0xda) break;  // start of scan
        const std::size_t length = std::to_integer<std::size_t>(jpeg[at + 2]) << 8 | std::to_integer<std::size_t>(jpeg[at + 3]);
        out.emplace_back(marker, std::vector<std::byte>(jpeg.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                                        jpeg.begin() + static_cast<std::ptrdiff_t>(at + 2 + length)));
        at += 2 + length;
    }
    return out;
}

struct MetadataCase {
    const char* name;
    ImageFormat from, to;
    std::size_t profileBytes;
};

TEST(ImageMetadata, ProfilesAndExifAreKeptByteForByteWithinAndAcrossFormats) {
    // 150000 bytes take three JPEG segments.
    const MetadataCase cases[] = {
        {"PNG to PNG", ImageFormat::png, ImageFormat::png, 3144},
        {"JPEG to JPEG", ImageFormat::jpeg, ImageFormat::jpeg, 150000},
        {"PNG to JPEG", ImageFormat::png, ImageFormat::jpeg, 150000},
        {"JPEG to PNG", ImageFormat::jpeg, ImageFormat::png, 3144},
    };
    for (const MetadataCase& k : cases) {
        SCOPED_TRACE(k.name);
        ImageMetadata metadata;
        metadata.iccProfile = iccProfile(k.profileBytes, false);
        metadata.exif = exifBlock(1);
        std::vector<std::string> warnings;
        ImageWriteOptions write;
        write.warning = [&](const std::string& w) { warnings.push_back(w); };
        const std::vector<std::byte> first =
            encodeImageFile(fileOf(ramp(20, 10, 3), metadata), k.from, "a", write);
        const ImageFile middle = decodeImageFile(first, "a");
        EXPECT_EQ(middle.metadata.iccProfile, metadata.iccProfile);
        EXPECT_EQ(middle.metadata.exif, metadata.exif);
        const ImageFile last = decodeImageFile(encodeImageFile(middle, k.to, "b", write), "b");
        EXPECT_EQ(last.metadata.iccProfile, metadata.iccProfile);
        EXPECT_EQ(last.metadata.exif, metadata.exif);
        EXPECT_TRUE(warnings.empty()) << warnings.front();
    }
}

// Read apart from the decoder: EXIF first, in place of JFIF, then the
// profile in numbered pieces that join to it.
TEST(ImageMetadata, JpegSegmentsFollowTheirConventions) {
    ImageMetadata metadata;
    metadata.iccProfile = iccProfile(150000, false);
    metadata.exif = exifBlock(1);
    const auto segments = jpegSegments(encodeJpeg(ramp(8, 8, 3), "s.jpg", {}, &metadata));
    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments.front().first, 0xe1);
    EXPECT_EQ(std::memcmp(segments.front().second.data(), "Exif\0\0", 6), 0);
    std::vector<std::byte> joined;
    int pieces = 0;
    for (const auto& [marker, payload] : segments) {
        if (marker != 0xe2) continue;
        ASSERT_EQ(std::memcmp(payload.data(), "ICC_PROFILE\0", 12), 0);
        EXPECT_EQ(std::to_integer<int>(payload[12]), ++pieces);
        joined.insert(joined.end(), payload.begin() + 14, payload.end());
    }
    EXPECT_EQ(pieces, 3);
    for (const auto& [marker, payload] : segments)
        if (marker == 0xe2) {
            EXPECT_EQ(std::to_integer<int>(payload[13]), pieces);
        }
    EXPECT_EQ(joined, metadata.iccProfile);
}

TEST(ImageMetadata, AnAppliedOrientationIsResetInTheKeptExif) {
    for (ImageFormat format : {ImageFormat::png, ImageFormat::jpeg}) {
        ImageMetadata metadata;
        metadata.exif = exifBlock(6);
        metadata.orientation = 6;
        const std::vector<std::byte> bytes = encodeImageFile(fileOf(ramp(16, 8, 1), metadata), format, "o");
        ImageReadOptions asStored;
        asStored.autoOrient = false;
        const ImageFile stored = decodeImageFile(bytes, "o", asStored);
        EXPECT_EQ(stored.metadata.orientation, 6);
        EXPECT_EQ(stored.pages[0].width, 16u);
        EXPECT_EQ(stored.metadata.exif, metadata.exif);

        const ImageFile upright = decodeImageFile(bytes, "o");
        EXPECT_EQ(upright.metadata.orientation, 1);
        EXPECT_EQ(upright.pages[0].width, 8u);
        EXPECT_EQ(upright.pages[0].height, 16u);
        EXPECT_EQ(exifOrientation(upright.metadata.exif), 1);
        EXPECT_EQ(upright.metadata.exif.size(), metadata.exif.size());
    }
}

// A file from a TIFF source has the orientation but no EXIF; written as PNG
// or JPEG with its orientation kept, an EXIF block has to say it.
TEST(ImageMetadata, AnOrientationWithoutExifIsWrittenAsExif) {
    for (ImageFormat format : {ImageFormat::png, ImageFormat::jpeg}) {
        ImageMetadata metadata;
        metadata.orientation = 8;
        ImageReadOptions asStored;
        asStored.autoOrient = false;
        const ImageFile back =
            decodeImageFile(encodeImageFile(fileOf(ramp(4, 4, 3), metadata), format, "t"), "t", asStored);
        EXPECT_EQ(back.metadata.orientation, 8);
    }
}

TEST(ImageMetadata, AProfilePngRefusesIsLeftOutWithAWarning) {
    ImageMetadata metadata;
    metadata.iccProfile = iccProfile(1000, true);  // gray, on a colour image
    std::vector<std::string> warnings;
    ImageWriteOptions write;
    write.warning = [&](const std::string& w) { warnings.push_back(w); };
    const ImageFile back = decodeImageFile(encodePng(ramp(4, 4, 3), "g.png", write, &metadata), "g.png");
    EXPECT_TRUE(back.metadata.iccProfile.empty());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("g.png: the ICC profile is left out"), std::string::npos) << warnings[0];
}

// A PNG chunk made by hand: length, type, data, CRC.
std::vector<std::byte> pngChunk(const char* type, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> c(8);
    const auto n = static_cast<std::uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) c[static_cast<std::size_t>(i)] = static_cast<unsigned char>(n >> (24 - 8 * i));
    std::memcpy(&c[4], type, 4);
    c.insert(c.end(), data.begin(), data.end());
    const auto crc = static_cast<std::uint32_t>(crc32(0, c.data() + 4, static_cast<uInt>(c.size() - 4)));
    for (int i = 0; i < 4; ++i) c.push_back(static_cast<unsigned char>(crc >> (24 - 8 * i)));
    return {reinterpret_cast<const std::byte*>(c.data()), reinterpret_cast<const std::byte*>(c.data()) + c.size()};
}

TEST(ImageMetadata, BrokenProfilesAndExifNeverFailTheImage) {
    const Image img = ramp(6, 5, 3);
    // PNG: an iCCP chunk whose profile has no 'acsp' signature, after IHDR.
    std::vector<std::byte> bad = iccProfile(400, false);
    std::memcpy(&bad[36], "nope", 4);
    std::vector<unsigned char> iccp = {'x', 0, 0};
    uLongf packed = compressBound(static_cast<uLong>(bad.size()));
    std::vector<unsigned char> z(packed);
    ASSERT_EQ(compress(z.data(), &packed, reinterpret_cast<const Bytef*>(bad.data()), static_cast<uLong>(bad.size())), Z_OK);
    iccp.insert(iccp.end(), z.begin(), z.begin() + static_cast<std::ptrdiff_t>(packed));
    std::vector<std::byte> png = encodePng(img, "p.png");
    const std::vector<std::byte> chunk = pngChunk("iCCP", iccp);
    png.insert(png.begin() + 33, chunk.begin(), chunk.end());  // signature 8 + IHDR 25
    const ImageFile fromPng = decodeImageFile(png, "p.png");
    EXPECT_TRUE(fromPng.pages[0] == img);
    EXPECT_TRUE(fromPng.metadata.iccProfile.empty());

    // JPEG: an Exif segment libexif cannot read is kept as it was.
    ImageMetadata garbage;
    garbage.exif.assign(300, std::byte{0x4d});
    const ImageFile fromJpeg = decodeImageFile(encodeJpeg(img, "j.jpg", {}, &garbage), "j.jpg");
    EXPECT_EQ(fromJpeg.pages[0].width, 6u);
    EXPECT_EQ(fromJpeg.metadata.orientation, 1);
    EXPECT_EQ(fromJpeg.metadata.exif, garbage.exif);
}

TEST(ImageMetadata, MoreExifThanAJpegSegmentHoldsIsLeftOutWithAWarning) {
    ImageMetadata metadata;
    metadata.exif = exifBlock(1);
    metadata.exif.resize(70000, std::byte{1});
    std::vector<std::string> warnings;
    ImageWriteOptions write;
    write.warning = [&](const std::string& w) { warnings.push_back(w); };
    ImageMetadata back;
    decodeJpeg(encodeJpeg(ramp(4, 4, 1), "big.jpg", write, &metadata), "big.jpg", {}, &back);
    EXPECT_TRUE(back.exif.empty());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("big.jpg: the EXIF block has 70000 bytes"), std::string::npos) << warnings[0];
}

}  // namespace
