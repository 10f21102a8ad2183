// Pages turned upright, checked against the orientation tag's definition in
// words (where the stored first row and column appear), and the EXIF
// orientation read and reset on hand-made blocks.
#include "imagefile/exif_orientation.hpp"
#include "imagefile/orientation.hpp"
#include "runtime/tool_error.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;

enum class Side { top, bottom, left, right };

struct OrientationCase {
    int orientation;
    Side row0;  // where the stored row 0 appears
    Side col0;  // where the stored column 0 appears
};

const OrientationCase kOrientations[] = {
    {1, Side::top, Side::left},     {2, Side::top, Side::right}, {3, Side::bottom, Side::right},
    {4, Side::bottom, Side::left},  {5, Side::left, Side::top},  {6, Side::right, Side::top},
    {7, Side::right, Side::bottom}, {8, Side::left, Side::bottom},
};

// Where stored (r, c) appears in the upright image of `uprightHeight` rows
// and `uprightWidth` columns: moving along the stored row 0 runs along its
// edge away from the corner it shares with the column 0 edge, and moving
// down the stored column 0 runs along that edge.
struct Position {
    std::uint32_t row, col;
};
Position shownAt(const OrientationCase& k, std::uint32_t r, std::uint32_t c, std::uint32_t uprightHeight,
                 std::uint32_t uprightWidth) {
    if (k.row0 == Side::top || k.row0 == Side::bottom)
        return {k.row0 == Side::top ? r : uprightHeight - 1 - r, k.col0 == Side::left ? c : uprightWidth - 1 - c};
    return {k.col0 == Side::top ? c : uprightHeight - 1 - c, k.row0 == Side::left ? r : uprightWidth - 1 - r};
}

TEST(Orientation, EveryValuePutsTheStoredFirstRowAndColumnWhereTheTagSays) {
    struct Size {
        std::uint32_t w, h;
    };
    // Sizes inside one tile of the transposes, and across several with
    // ragged ends.
    for (const Size size : {Size{3, 2}, Size{1, 5}, Size{130, 67}})
        for (SampleType type : {SampleType::uint8, SampleType::int16, SampleType::uint32, SampleType::float32,
                                SampleType::float64})
            for (const OrientationCase& k : kOrientations) {
                SCOPED_TRACE("orientation " + std::to_string(k.orientation) + " " + std::to_string(size.w) +
                             "x" + std::to_string(size.h) + " " + std::string(sampleTypeName(type)));
                Image stored = Image::blank(size.w, size.h, 3, type);
                for (std::uint32_t ch = 0; ch < 3; ++ch)
                    for (std::uint32_t r = 0; r < size.h; ++r)
                        for (std::uint32_t c = 0; c < size.w; ++c)
                            stored.set(r, c, ch, (r * size.w + c) % 30000 + ch * 7);
                const Image upright = orientUpright(stored, k.orientation);
                const bool swapped = k.row0 == Side::left || k.row0 == Side::right;
                ASSERT_EQ(upright.width, swapped ? size.h : size.w);
                ASSERT_EQ(upright.height, swapped ? size.w : size.h);
                ASSERT_EQ(upright.sampleType(), type);
                for (std::uint32_t ch = 0; ch < 3; ++ch)
                    for (std::uint32_t r = 0; r < size.h; ++r)
                        for (std::uint32_t c = 0; c < size.w; ++c) {
                            const Position p = shownAt(k, r, c, upright.height, upright.width);
                            ASSERT_EQ(upright.at(p.row, p.col, ch), stored.at(r, c, ch))
                                << "stored " << r << "," << c << " channel " << ch;
                        }
            }
}

TEST(Orientation, ValuesOutsideOneToEightAreRefused) {
    const Image img = Image::blank(2, 2, 1, SampleType::uint8);
    EXPECT_THROW(orientUpright(img, 0), ToolError);
    EXPECT_THROW(orientUpright(img, 9), ToolError);
}

// A TIFF-structured block as cameras write it: IFD0 with a Make entry whose
// text lies outside the IFD, and an Orientation entry unless `orientation`
// is 0. Bytes after the text stand for data libexif does not know (a maker
// note), which must survive untouched.
std::vector<std::byte> exifBlock(bool bigEndian, int orientation) {
    std::vector<std::byte> b;
    auto u8 = [&](unsigned v) { b.push_back(static_cast<std::byte>(v)); };
    auto u16 = [&](unsigned v) {
        if (bigEndian) { u8(v >> 8); u8(v & 0xff); } else { u8(v & 0xff); u8(v >> 8); }
    };
    auto u32 = [&](std::uint32_t v) {
        if (bigEndian) { u16(v >> 16); u16(v & 0xffff); } else { u16(v & 0xffff); u16(v >> 16); }
    };
    u8(bigEndian ? 'M' : 'I');
    u8(bigEndian ? 'M' : 'I');
    u16(42);
    u32(8);
    const unsigned entries = orientation != 0 ? 2 : 1;
    u16(entries);
    const std::uint32_t textAt = 8 + 2 + 12 * entries + 4;
    u16(0x010f); u16(2); u32(6); u32(textAt);  // Make, ASCII
    if (orientation != 0) { u16(0x0112); u16(3); u32(1); u16(static_cast<unsigned>(orientation)); u16(0); }
    u32(0);  // no IFD1
    for (char ch : std::string("Maker")) u8(static_cast<unsigned char>(ch));
    u8(0);
    for (unsigned i = 0; i < 40; ++i) u8((i * 37 + 11) & 0xff);
    return b;
}

TEST(ExifOrientation, IsReadInBothByteOrdersAndResetByChangingOnlyItsValue) {
    for (bool bigEndian : {false, true})
        for (int o = 1; o <= 8; ++o) {
            SCOPED_TRACE(std::string(bigEndian ? "MM " : "II ") + std::to_string(o));
            const std::vector<std::byte> block = exifBlock(bigEndian, o);
            EXPECT_EQ(exifOrientation(block), o);
            const std::vector<std::byte> reset = exifWithOrientation(block, 1);
            EXPECT_EQ(exifOrientation(reset), 1);
            ASSERT_EQ(reset.size(), block.size());
            // The entry's value is the 9th and 10th byte of the second entry.
            const std::size_t value = 8 + 2 + 12 + 8 + (bigEndian ? 1 : 0);
            for (std::size_t i = 0; i < block.size(); ++i)
                if (i != value) {
                    ASSERT_EQ(reset[i], block[i]) << "byte " << i;
                }
        }
}

TEST(ExifOrientation, BrokenOrMissingTagsCountAsUprightAndAreKept) {
    std::vector<std::byte> truncated = exifBlock(false, 6);
    truncated.resize(12);
    std::vector<std::byte> garbage(64, std::byte{0x5a});
    std::vector<std::byte> outOfRange = exifBlock(true, 9);
    for (const auto& block : {truncated, garbage, outOfRange, exifBlock(false, 0), std::vector<std::byte>{}})
        EXPECT_EQ(exifOrientation(block), 1);
    EXPECT_EQ(exifWithOrientation(garbage, 1), garbage);
    EXPECT_EQ(exifWithOrientation(truncated, 1), truncated);
    EXPECT_TRUE(exifWithOrientation({}, 1).empty());
}

TEST(ExifOrientation, IsAddedWhereTheBlockHasNone) {
    EXPECT_EQ(exifOrientation(exifWithOrientation({}, 6)), 6);
    const std::vector<std::byte> untagged = exifBlock(true, 0);
    EXPECT_EQ(exifOrientation(exifWithOrientation(untagged, 8)), 8);
}

TEST(Orientation, ApplyingItTurnsEveryPageAndResetsTheMetadata) {
    ImageFile file;
    for (int page = 0; page < 2; ++page) {
        Image img = Image::blank(4, 3, 1, SampleType::uint16);
        img.set(0, 0, 0, 100 + page);
        file.pages.push_back(std::move(img));
    }
    file.metadata.exif = exifBlock(false, 6);
    file.metadata.orientation = 6;
    applyOrientation(file);
    for (int page = 0; page < 2; ++page) {
        const Image& img = file.pages[static_cast<std::size_t>(page)];
        EXPECT_EQ(img.width, 3u);
        EXPECT_EQ(img.height, 4u);
        EXPECT_EQ(img.at(0, 2, 0), 100 + page);  // stored (0, 0) is shown at the top right
    }
    EXPECT_EQ(file.metadata.orientation, 1);
    EXPECT_EQ(exifOrientation(file.metadata.exif), 1);
}

}  // namespace
