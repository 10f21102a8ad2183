#include "imagefile/exif_orientation.hpp"

#include <libexif/exif-data.h>
#include <libexif/exif-entry.h>
#include <libexif/exif-utils.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>

namespace axiswarp::tools {

namespace {

// libexif reads a block only behind the header a JPEG APP1 segment has.
constexpr unsigned char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

struct ExifDataUnref {
    void operator()(ExifData* data) const noexcept { exif_data_unref(data); }
};
using ExifDataPtr = std::unique_ptr<ExifData, ExifDataUnref>;

// New data starts with libexif's options that change a block as it loads
// (dropping tags it does not know, adding the ones it deems mandatory); all
// of them are cleared, and the maker note is kept as it is, so that a
// re-saved block holds what the camera wrote.
ExifDataPtr newExifData() {
    ExifDataPtr data(exif_data_new());
    if (data == nullptr) throw std::bad_alloc();
    // Its three options are the bits 1, 2 and 4 (values beyond would lie
    // outside the enumeration's range).
    for (unsigned bit = 0; bit < 3; ++bit)
        exif_data_unset_option(data.get(), static_cast<ExifDataOption>(1u << bit));
    exif_data_set_option(data.get(), EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
    return data;
}

// Null when the block is too short to be one or too long for libexif's
// sizes. libexif itself reports no failure; a block it cannot read loads
// as one without entries.
ExifDataPtr loadExif(std::span<const std::byte> exif) {
    if (exif.size() < 8 || exif.size() > std::numeric_limits<unsigned int>::max() - sizeof kExifHeader)
        return nullptr;
    std::vector<unsigned char> framed(sizeof kExifHeader + exif.size());
    std::memcpy(framed.data(), kExifHeader, sizeof kExifHeader);
    std::memcpy(framed.data() + sizeof kExifHeader, exif.data(), exif.size());
    ExifDataPtr data = newExifData();
    exif_data_load_data(data.get(), framed.data(), static_cast<unsigned int>(framed.size()));
    return data;
}

bool hasEntries(ExifData* data) {
    for (ExifContent* ifd : data->ifd)
        if (ifd != nullptr && ifd->count > 0) return true;
    return false;
}

ExifEntry* orientationEntry(ExifData* data) {
    ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (entry == nullptr || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 ||
        entry->size < 2 || entry->data == nullptr)
        return nullptr;
    return entry;
}

// The tag's raw value, whatever it is; nullopt without a usable tag.
std::optional<std::uint16_t> rawOrientation(ExifData* data) {
    ExifEntry* entry = orientationEntry(data);
    if (entry == nullptr) return std::nullopt;
    return exif_get_short(entry->data, exif_data_get_byte_order(data));
}

std::vector<std::byte> saveWithoutHeader(ExifData* data) {
    unsigned char* saved = nullptr;
    unsigned int size = 0;
    exif_data_save_data(data, &saved, &size);
    std::unique_ptr<unsigned char, decltype(&std::free)> owner(saved, &std::free);
    if (saved == nullptr || size <= sizeof kExifHeader ||
        std::memcmp(saved, kExifHeader, sizeof kExifHeader) != 0)
        return {};
    const auto* begin = reinterpret_cast<const std::byte*>(saved + sizeof kExifHeader);
    return std::vector<std::byte>(begin, begin + (size - sizeof kExifHeader));
}

// The orientation entry as IFD0 stores it: tag, type SHORT, count 1, value,
// in the block's byte order. libexif tells neither where an entry lies nor
// whether that pattern also occurs elsewhere (in IFD1, which may have its own
// orientation, or by chance inside other data), so each place the pattern
// occurs is patched on a copy in turn until libexif reads the new value back
// from IFD0.
std::optional<std::vector<std::byte>> patchedInPlace(std::span<const std::byte> exif, bool bigEndian,
                                                     std::uint16_t from, std::uint16_t to) {
    auto put16 = [bigEndian](unsigned char* at, std::uint16_t v) {
        at[bigEndian ? 0 : 1] = static_cast<unsigned char>(v >> 8);
        at[bigEndian ? 1 : 0] = static_cast<unsigned char>(v & 0xff);
    };
    unsigned char pattern[10] = {};
    put16(pattern, 0x0112);
    put16(pattern + 2, 3);  // SHORT
    pattern[bigEndian ? 7 : 4] = 1;  // count, 32 bits
    put16(pattern + 8, from);
    const auto* bytes = reinterpret_cast<const unsigned char*>(exif.data());
    for (std::size_t at = 0; at + sizeof pattern <= exif.size(); ++at) {
        if (std::memcmp(bytes + at, pattern, sizeof pattern) != 0) continue;
        std::vector<std::byte> copy(exif.begin(), exif.end());
        put16(reinterpret_cast<unsigned char*>(copy.data()) + at + 8, to);
        ExifDataPtr check = loadExif(copy);
        if (check != nullptr && rawOrientation(check.get()) == to) return copy;
    }
    return std::nullopt;
}

}  // namespace

int exifOrientation(std::span<const std::byte> exif) {
    if (exif.empty()) return 1;
    ExifDataPtr data = loadExif(exif);
    if (data == nullptr) return 1;
    const std::optional<std::uint16_t> value = rawOrientation(data.get());
    return value && *value >= 1 && *value <= 8 ? *value : 1;
}

std::optional<int> exifOrientationTag(std::span<const std::byte> exif) {
    if (exif.empty()) return std::nullopt;
    ExifDataPtr data = loadExif(exif);
    if (data == nullptr) return std::nullopt;
    const std::optional<std::uint16_t> value = rawOrientation(data.get());
    if (!value) return std::nullopt;
    return int{*value};
}

std::vector<std::byte> exifWithOrientation(std::span<const std::byte> exif, int orientation) {
    const auto value = static_cast<std::uint16_t>(std::clamp(orientation, 1, 8));
    ExifDataPtr data;
    if (exif.empty()) {
        if (value == 1) return {};
        data = newExifData();
        exif_data_set_byte_order(data.get(), EXIF_BYTE_ORDER_INTEL);
    } else {
        data = loadExif(exif);
        if (data == nullptr || !hasEntries(data.get())) return {exif.begin(), exif.end()};
        const std::optional<std::uint16_t> current = rawOrientation(data.get());
        if (current == value) return {exif.begin(), exif.end()};
        if (current) {
            const bool bigEndian = exif_data_get_byte_order(data.get()) == EXIF_BYTE_ORDER_MOTOROLA;
            if (auto patched = patchedInPlace(exif, bigEndian, *current, value)) return std::move(*patched);
        }
    }
    // No tag to patch: let libexif add one (or fix one of the wrong type)
    // and write the block anew.
    ExifEntry* entry = orientationEntry(data.get());
    if (entry == nullptr) {
        if (ExifEntry* odd = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION))
            exif_content_remove_entry(data->ifd[EXIF_IFD_0], odd);
        ExifEntry* added = exif_entry_new();
        if (added == nullptr) throw std::bad_alloc();
        exif_content_add_entry(data->ifd[EXIF_IFD_0], added);
        exif_entry_initialize(added, EXIF_TAG_ORIENTATION);
        exif_entry_unref(added);
        entry = orientationEntry(data.get());
        if (entry == nullptr) throw std::bad_alloc();
    }
    exif_set_short(entry->data, exif_data_get_byte_order(data.get()), value);
    std::vector<std::byte> saved = saveWithoutHeader(data.get());
    if (saved.empty() && !exif.empty()) return {exif.begin(), exif.end()};
    return saved;
}

}  // namespace axiswarp::tools
