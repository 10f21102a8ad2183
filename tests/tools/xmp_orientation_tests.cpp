// Orientation from XMP packets and from the hex-dump EXIF text, on packets
// and texts written the ways writers in the wild write them.
#include "imagefile/exif_orientation.hpp"
#include "imagefile/xmp_orientation.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;

std::optional<int> orientationOf(const std::string& xmp) {
    return xmpOrientation(std::span(reinterpret_cast<const std::byte*>(xmp.data()), xmp.size()));
}

std::string packet(const std::string& description) {
    return "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
           "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n" +
           description + "\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end='w'?>";
}

struct XmpCase {
    const char* what;
    std::string xmp;
    std::optional<int> expected;
};

TEST(XmpOrientation, ReadsTheAttributeAndTheElementFormAndNothingElse) {
    const std::string ns = " xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\"";
    const XmpCase cases[] = {
        {"attribute", packet("<rdf:Description rdf:about=''" + ns + " tiff:Orientation=\"6\"/>"), 6},
        {"attribute, single quotes and spaces",
         packet("<rdf:Description" + ns + "\n   tiff:Orientation = ' 8 '/>"), 8},
        {"element", packet("<rdf:Description" + ns + "><tiff:Orientation>3</tiff:Orientation></rdf:Description>"),
         3},
        {"element with spaces", packet("<rdf:Description" + ns + ">\n <tiff:Orientation>\n 5 </tiff:Orientation>"
                                       "</rdf:Description>"), 5},
        {"another prefix for the namespace",
         packet("<rdf:Description xmlns:t='http://ns.adobe.com/tiff/1.0/' t:Orientation='7'/>"), 7},
        {"no namespace declared (a fragment)", "<rdf:Description tiff:Orientation='2'/>", 2},
        {"out of range kept as written", packet("<rdf:Description" + ns + " tiff:Orientation='0'/>"), 0},
        {"after another tiff property", packet("<rdf:Description" + ns +
                                               " tiff:Make='x' tiff:Orientation='4' tiff:Model='y'/>"), 4},
        {"absent", packet("<rdf:Description" + ns + " tiff:Make='x'/>"), std::nullopt},
        {"another namespace's Orientation",
         packet("<rdf:Description xmlns:exif='http://ns.adobe.com/exif/1.0/' exif:Orientation='6'/>"),
         std::nullopt},
        {"a longer property name", packet("<rdf:Description" + ns + " tiff:OrientationX='6'/>"), std::nullopt},
        {"not a number", packet("<rdf:Description" + ns + " tiff:Orientation='six'/>"), std::nullopt},
        {"empty element", packet("<rdf:Description" + ns + "><tiff:Orientation/></rdf:Description>"),
         std::nullopt},
        {"unterminated attribute", "<rdf:Description tiff:Orientation='6", std::nullopt},
        {"unterminated element", "<tiff:Orientation>6", std::nullopt},
        {"too many digits", "<rdf:Description tiff:Orientation='12345678901234'/>", std::nullopt},
        {"empty packet", "", std::nullopt},
    };
    for (const XmpCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(orientationOf(c.xmp), c.expected);
    }
}

// The layout of the text chunk: name line, count, then 36 bytes a line.
std::string hexDump(const std::vector<std::byte>& bytes, const char* name = "exif",
                    std::size_t count = SIZE_MAX) {
    std::string text = std::string("\n") + name + "\n" + std::to_string(count == SIZE_MAX ? bytes.size() : count);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 36 == 0) text += '\n';
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(bytes[i]));
        text += pair;
    }
    return text + "\n";
}

std::vector<std::byte> withJpegHeader(std::vector<std::byte> exif) {
    const char header[] = "Exif\0";  // and the terminating zero
    exif.insert(exif.begin(), reinterpret_cast<const std::byte*>(header),
                reinterpret_cast<const std::byte*>(header) + 6);
    return exif;
}

TEST(RawProfileExif, DecodesTheHexDumpToABlockWhoseOrientationReads) {
    for (int orientation = 2; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const std::vector<std::byte> exif = exifWithOrientation({}, orientation);
        ASSERT_EQ(exifOrientation(exif), orientation);
        for (const std::string& text : {hexDump(exif), hexDump(withJpegHeader(exif), "APP1")}) {
            const auto decoded = exifFromRawProfileText(text);
            ASSERT_TRUE(decoded.has_value()) << text;
            EXPECT_EQ(*decoded, exif);
            EXPECT_EQ(exifOrientation(*decoded), orientation);
        }
    }
}

TEST(RawProfileExif, RefusesTextsThatDoNotFollowTheLayout) {
    const std::vector<std::byte> exif = exifWithOrientation({}, 6);
    std::vector<std::byte> notTiff = exif;
    notTiff[0] = std::byte{'X'};
    std::string badDigit = hexDump(exif);
    badDigit[badDigit.size() - 3] = 'g';
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"count above the digits", hexDump(exif, "exif", exif.size() + 1)},
        {"count far above the text", hexDump(exif, "exif", 999999999)},
        {"count of zero", hexDump(exif, "exif", 0)},
        {"count not a number", "\nexif\nmany\n4d4d002a"},
        {"a non-hex digit", badDigit},
        {"no byte-order mark", hexDump(notTiff)},
        {"name only", "\nexif\n"},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(exifFromRawProfileText(c.text).has_value());
    }
}

TEST(ValidOrientation, KeepsOneToEightAndMakesEverythingElseUpright) {
    for (int value = -2; value <= 12; ++value)
        EXPECT_EQ(validOrientation(value), value >= 1 && value <= 8 ? value : 1) << value;
}

}  // namespace
