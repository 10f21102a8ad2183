#include "imagefile/xmp_orientation.hpp"

#include <cstring>
#include <string>

namespace axiswarp::tools {

namespace {

constexpr std::string_view kTiffNamespace = "http://ns.adobe.com/tiff/1.0/";

bool isSpace(char ch) noexcept { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }

// Characters that may continue an XML name: a match of "tiff:Orientation"
// followed by one of these is a longer name.
bool isNameChar(char ch) noexcept {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_' ||
           ch == '-' || ch == '.' || ch == ':';
}

std::string_view trimmed(std::string_view text) noexcept {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

// A decimal integer with nothing around it but spaces. Nine digits at most,
// so that it fits an int; anything longer is no orientation anyway.
std::optional<int> parseDecimal(std::string_view text) noexcept {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.size() > 9) return std::nullopt;
    int value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9') return std::nullopt;
        value = value * 10 + (ch - '0');
    }
    return value;
}

// The prefixes the packet binds to the TIFF namespace (xmlns:P="...").
// Writers almost always use "tiff", which is also tried when the packet
// declares none (a fragment cut out of a larger document).
std::vector<std::string_view> tiffPrefixes(std::string_view xmp) {
    std::vector<std::string_view> prefixes;
    for (std::size_t at = xmp.find(kTiffNamespace); at != std::string_view::npos;
         at = xmp.find(kTiffNamespace, at + 1)) {
        // Back over the opening quote, '=' (spaces allowed around it) and
        // the prefix, to "xmlns:".
        std::size_t i = at;
        if (i == 0 || (xmp[i - 1] != '"' && xmp[i - 1] != '\'')) continue;
        --i;
        while (i > 0 && isSpace(xmp[i - 1])) --i;
        if (i == 0 || xmp[i - 1] != '=') continue;
        --i;
        while (i > 0 && isSpace(xmp[i - 1])) --i;
        const std::size_t end = i;
        while (i > 0 && isNameChar(xmp[i - 1]) && xmp[i - 1] != ':') --i;
        if (i == end || i < 6 || xmp.substr(i - 6, 6) != "xmlns:") continue;
        prefixes.push_back(xmp.substr(i, end - i));
    }
    if (prefixes.empty()) prefixes.push_back("tiff");
    return prefixes;
}

// The value at one occurrence of PREFIX:Orientation that starts at `at`,
// when it is an attribute or an opening element tag.
std::optional<int> valueAt(std::string_view xmp, std::size_t at, std::size_t nameLength) {
    if (at > 0 && isNameChar(xmp[at - 1])) return std::nullopt;  // a longer name
    const bool element = at > 0 && xmp[at - 1] == '<';
    if (at > 0 && !element && !isSpace(xmp[at - 1])) return std::nullopt;  // "</...>" or text
    std::size_t i = at + nameLength;
    if (i < xmp.size() && isNameChar(xmp[i])) return std::nullopt;
    if (element) {
        const std::size_t close = xmp.find('>', i);
        if (close == std::string_view::npos || xmp[close - 1] == '/') return std::nullopt;  // <x/> is empty
        const std::size_t end = xmp.find('<', close + 1);
        if (end == std::string_view::npos) return std::nullopt;
        return parseDecimal(xmp.substr(close + 1, end - close - 1));
    }
    while (i < xmp.size() && isSpace(xmp[i])) ++i;
    if (i >= xmp.size() || xmp[i] != '=') return std::nullopt;
    ++i;
    while (i < xmp.size() && isSpace(xmp[i])) ++i;
    if (i >= xmp.size() || (xmp[i] != '"' && xmp[i] != '\'')) return std::nullopt;
    const std::size_t end = xmp.find(xmp[i], i + 1);
    if (end == std::string_view::npos) return std::nullopt;
    return parseDecimal(xmp.substr(i + 1, end - i - 1));
}

int hexValue(char ch) noexcept {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<int> xmpOrientation(std::span<const std::byte> packet) {
    const std::string_view xmp(reinterpret_cast<const char*>(packet.data()), packet.size());
    for (const std::string_view prefix : tiffPrefixes(xmp)) {
        const std::string name = std::string(prefix) + ":Orientation";
        for (std::size_t at = xmp.find(name); at != std::string_view::npos; at = xmp.find(name, at + 1))
            if (const std::optional<int> value = valueAt(xmp, at, name.size())) return value;
    }
    return std::nullopt;
}

std::optional<std::vector<std::byte>> exifFromRawProfileText(std::string_view text) {
    std::size_t i = 0;
    auto skipSpaces = [&] {
        while (i < text.size() && isSpace(text[i])) ++i;
    };
    // The profile's name ("exif", or "APP1" for the same bytes after the
    // JPEG segment's "Exif\0\0").
    skipSpaces();
    const std::size_t nameStart = i;
    while (i < text.size() && !isSpace(text[i])) ++i;
    if (i == nameStart) return std::nullopt;
    skipSpaces();
    const std::size_t countStart = i;
    while (i < text.size() && !isSpace(text[i])) ++i;
    const std::optional<int> count = parseDecimal(text.substr(countStart, i - countStart));
    // Two digits per byte: a count the rest of the text cannot hold is a
    // lie, refused before anything is allocated for it.
    if (!count || *count == 0 || static_cast<std::size_t>(*count) > (text.size() - i) / 2) return std::nullopt;

    std::vector<std::byte> bytes;
    bytes.reserve(static_cast<std::size_t>(*count));
    int high = -1;
    for (; i < text.size() && bytes.size() < static_cast<std::size_t>(*count); ++i) {
        if (isSpace(text[i])) continue;
        const int digit = hexValue(text[i]);
        if (digit < 0) return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::byte>(high * 16 + digit));
            high = -1;
        }
    }
    if (bytes.size() != static_cast<std::size_t>(*count)) return std::nullopt;

    constexpr std::string_view kExifHeader{"Exif\0\0", 6};
    if (bytes.size() >= kExifHeader.size() &&
        std::memcmp(bytes.data(), kExifHeader.data(), kExifHeader.size()) == 0)
        bytes.erase(bytes.begin(), bytes.begin() + kExifHeader.size());
    const bool intel = bytes.size() >= 4 && std::memcmp(bytes.data(), "II*\0", 4) == 0;
    const bool motorola = bytes.size() >= 4 && std::memcmp(bytes.data(), "MM\0*", 4) == 0;
    if (!intel && !motorola) return std::nullopt;
    return bytes;
}

int validOrientation(int orientation) noexcept { return orientation >= 1 && orientation <= 8 ? orientation : 1; }

}  // namespace axiswarp::tools
